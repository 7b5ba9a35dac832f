// A run seen before it is written (dry run), undone after it (journal and
// undo), and stopped while it goes, against real databases.

#include "app/Main.h"
#include "change/Journal.h"
#include "change/Undo.h"
#include "tests/support/ChangeBench.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace ChangeBench;
using End = ChangeRunResult::End;

namespace
{

// A journal of the test's own.
struct JournalFile {
    QTemporaryDir dir;
    Journal journal{dir.filePath("journal.sqlite")};
};

// The progress and stop of an undo, recorded.
class UndoPorts : public RunObserver
{
public:
    void setMousePointer(MousePointer pointer) override { pointers << int(pointer); }
    void setProgress(double percent) override { progress << percent; }
    // Stop once this many rows went, where not negative.
    bool stopRequested() const override { return stopAfter >= 0 && progress.size() >= stopAfter; }
    QList<int> pointers;
    QList<double> progress;
    int stopAfter = -1;
};

// An undo writes as the suite's runs do: row by row or in batches of the
// same size, the journal read a few batches at a time.
UndoOptions undoOptions()
{
    const ChangeRunOptions run = Options();
    UndoOptions options;
    options.rowByRow = run.rowByRow;
    options.batchRows = run.batchRows;
    options.pageRows = 3 * run.batchRows;
    options.window = QStringLiteral("Form2");
    options.handler = QStringLiteral("PushButton8_Click");
    return options;
}

QList<int> sortedIds(QList<int> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The bench's operation (1 unless said) run with a journal, as a real run is.
ChangeRunResult runJournaled(Bench& bench, JournalFile& file, int operation = 1,
                             const QStringList& answers = {})
{
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(operation);
    bench.ui.answers = answers;
    return bench.runWith(options);
}

// The run undone with the suite's writer; `ui` sees what the undo shows.
UndoResult undoRun(Bench& bench, JournalFile& file, qint64 run, ScriptedInteraction& ui)
{
    UndoPorts ports;
    return Undo(ports, ui, file.journal, undoOptions()).undo(run, bench.schema.logon());
}

// The run undone: `restored` rows given their old values back, none left
// alone or failed, and the table holding `values` again.
void expectExactUndo(Bench& bench, JournalFile& file, qint64 run, int restored,
                     const QVariantList& values)
{
    ScriptedInteraction ui;
    const UndoResult undone = undoRun(bench, file, run, ui);
    QVERIFY(undone.end == UndoResult::End::Done);
    QCOMPARE(undone.restored, restored);
    QCOMPARE(undone.conflicts + undone.failed, 0);
    compareValues(bench.valuesById(), values);
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_TEST_DATABASES();
        Main::SetApplicationTitle();
    }
    void dryRunWritesNothing();
    void undoRestoresExactly();
    void undoLeavesRowsChangedSince();
    void undoneOnlyWhenNoRowLeft_data();
    void undoneOnlyWhenNoRowLeft();
    void stopWhileWaitingForRowLock();
    void halfCharacterNeverWritten();
    void writeTheDatabaseDidNotApply();
    void journalFailureIsNoDoneRun();
    void keyMovedToOtherColumnsRefused();
    void fieldThatIsTheKey();
    void movedRowFoundByItsContents();
    void generatedColumnOfTheField();
    void undoOverPagesAndBatches_data();
    void undoOverPagesAndBatches();
    void stoppedUndoLeavesRowsAsTheyWere();
    void valueRewrittenByTrigger();
    void otherColumnStampedByTrigger();
};

void TestUndo::dryRunWritesNothing()
{
    const QVariantList values{"a b", "cd", QVariant(), "e f", "g"};
    Bench bench(values);
    QList<QStringList> seen;
    ChangeRunOptions options = Options();
    options.dryRun = true;
    options.seen = [&](const Change& change) {
        seen << QStringList{change.oldValue, change.newValue};
    };
    bench.ports.operation = caption(1);
    const ChangeRunResult result = bench.runWith(options);

    QCOMPARE(seen, (QList<QStringList>{{"a b", "ab"}, {"e f", "ef"}}));
    QVERIFY(result.end == End::Done);
    QCOMPARE(result.rows, 5);
    QCOMPARE(result.changed, 2); // would change
    QCOMPARE(result.unchanged, 3);
    compareValues(bench.valuesById(), values);
    QCOMPARE(bench.audited(), QList<int>());
    QCOMPARE(bench.ui.shown, QStringList()); // no "Done.", no refill
    QCOMPARE(bench.ports.preview, QStringList{"(shown before the run)"});
}

// Every write moves a row's ctid on PostgreSQL (the table has no primary
// key); on SQLite the row id stays.
void TestUndo::undoRestoresExactly()
{
    const QVariantList values{"a b", "c  d", QVariant(), "ef", " g "};
    Bench bench(values);
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    const ChangeRunResult result = bench.runWith(options);
    QCOMPARE(result.changed, 3);
    compareValues(bench.valuesById(), {"ab", "cd", QVariant(), "ef", "g"});
    const Journal::Run entry = file.journal.runs().value(0);
    QCOMPARE(entry.id, result.journalRun);
    QCOMPARE(entry.state, QStringLiteral("done"));
    QCOMPARE(entry.changed, 3);
    QCOMPARE(entry.user, bench.schema.logon().user);
    QVERIFY(!entry.undone);

    UndoPorts ports;
    ScriptedInteraction ui;
    Undo undo(ports, ui, file.journal, undoOptions());
    QCOMPARE(Undo::LastUndoable(file.journal, bench.schema.logon())->id, entry.id);
    // The same SID and user name under another driver may be another database.
    QCOMPARE(entry.driver, Oracle::DriverName(bench.schema.logon().driver));
    Logon otherDriver = bench.schema.logon();
    otherDriver.driver = QStringLiteral("PostgreSQL Unicode");
    QVERIFY(!Undo::LastUndoable(file.journal, otherDriver));
    QVERIFY(undo.undo(entry.id, otherDriver).end == UndoResult::End::OtherLogon);
    const UndoResult undone = undo.undo(entry.id, bench.schema.logon());

    QVERIFY(undone.end == UndoResult::End::Done);
    QCOMPARE(undone.restored, 3);
    QCOMPARE(undone.conflicts, 0);
    QCOMPARE(ui.shown, QStringList());
    compareValues(bench.valuesById(), values);
    QCOMPARE(ports.progress.last(), 100.0);
    QCOMPARE(ports.pointers.last(), 0);
    QVERIFY(file.journal.run(entry.id)->undone);
    QVERIFY(!Undo::LastUndoable(file.journal, bench.schema.logon()));
    QVERIFY(undo.undo(entry.id, bench.schema.logon()).end == UndoResult::End::AlreadyUndone);
    Logon other = bench.schema.logon();
    other.user += "x";
    QVERIFY(undo.undo(entry.id, other).end == UndoResult::End::AlreadyUndone);
}

void TestUndo::undoLeavesRowsChangedSince()
{
    Bench bench({"a b", "c d", "e f"});
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    const ChangeRunResult result = bench.runWith(options);
    bench.schema.exec("UPDATE t SET v = 'edited' WHERE id = 2");

    UndoPorts ports;
    ScriptedInteraction ui;
    const UndoResult undone =
        Undo(ports, ui, file.journal, undoOptions()).undo(result.journalRun, bench.schema.logon());

    compareValues(bench.valuesById(), {"a b", "edited", "e f"});
    QCOMPARE(undone.restored, 2);
    QCOMPARE(undone.conflicts, 1);
    QCOMPARE(undone.rows, 3);
    QVERIFY(undone.end == UndoResult::End::Done);
    // Left alone for good: the run is undone.
    const Journal::Run entry = *file.journal.run(result.journalRun);
    QVERIFY(entry.undone);
    QCOMPARE(entry.restored, 2);
    QCOMPARE(entry.kept, 1);
    QCOMPARE(entry.toUndo, 0);
}

// An undo that failed a row, or was stopped, leaves the run to undo: the
// next undo writes the rows left, and only them, and then the run is undone.
void TestUndo::undoneOnlyWhenNoRowLeft_data()
{
    QTest::addColumn<bool>("refuse");
    QTest::newRow("a write back refused") << true;
    QTest::newRow("stopped after a row") << false;
}

void TestUndo::undoneOnlyWhenNoRowLeft()
{
    QFETCH(bool, refuse);
    const QVariantList values{"a b", "c d", "e f"};
    Bench bench(values);
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    const qint64 id = bench.runWith(options).journalRun;
    const Logon logon = bench.schema.logon();
    if (refuse && CurrentBackend() == Backend::SQLite) {
        bench.schema.exec("CREATE TRIGGER refuse BEFORE UPDATE ON t WHEN OLD.id = 2 "
                          "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    } else if (refuse && CurrentBackend() == Backend::MariaDB) {
        bench.schema.exec("CREATE TRIGGER refuse BEFORE UPDATE ON t FOR EACH ROW BEGIN IF "
                          "OLD.id = 2 THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = "
                          "'refused'; END IF; END");
    } else if (refuse) {
        bench.schema.exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                          "'BEGIN IF OLD.id = 2 THEN RAISE EXCEPTION ''refused''; END IF; "
                          "RETURN NEW; END'");
        bench.schema.exec("CREATE TRIGGER refuse BEFORE UPDATE ON t FOR EACH ROW "
                          "EXECUTE FUNCTION refuse()");
    }
    UndoPorts ports;
    ports.stopAfter = refuse ? -1 : 1;
    ScriptedInteraction ui;
    const qsizetype before = bench.audited().size();
    // A page is written through before the next is read: one row a page,
    // the stop comes after the first.
    UndoOptions firstOptions = undoOptions();
    firstOptions.pageRows = 1;
    const UndoResult first = Undo(ports, ui, file.journal, firstOptions).undo(id, logon);
    QVERIFY(first.end == (refuse ? UndoResult::End::Done : UndoResult::End::Stopped));
    QCOMPARE(first.restored, refuse ? 2 : 1);
    QCOMPARE(first.failed, refuse ? 1 : 0);
    QCOMPARE(first.left, 3 - first.restored);
    const QList<int> firstWritten = bench.audited().mid(before);
    QCOMPARE(firstWritten.size(), first.restored);
    const Journal::Run half = *file.journal.run(id);
    QVERIFY(!half.undone);
    QCOMPARE(half.restored, first.restored);
    QCOMPARE(half.toUndo, first.left);
    QCOMPARE(Undo::LastUndoable(file.journal, logon)->id, id);

    if (refuse)
        bench.schema.exec("DROP TRIGGER refuse" +
                          QString(CurrentBackend() == Backend::PostgreSQL ? " ON t" : ""));
    ports.stopAfter = -1;
    const qsizetype between = bench.audited().size();
    const UndoResult second = Undo(ports, ui, file.journal, undoOptions()).undo(id, logon);
    QVERIFY(second.end == UndoResult::End::Done);
    QCOMPARE(second.restored, first.left);
    QCOMPARE(second.failed + second.conflicts + second.left, 0);
    const QList<int> secondWritten = bench.audited().mid(between);
    if (refuse)
        QCOMPARE(secondWritten, QList<int>{2});
    QCOMPARE(sortedIds(firstWritten + secondWritten), (QList<int>{1, 2, 3}));
    compareValues(bench.valuesById(), values);
    const Journal::Run whole = *file.journal.run(id);
    QVERIFY(whole.undone);
    QCOMPARE(whole.restored, 3);
    QCOMPARE(whole.toUndo, 0);
    QVERIFY(!Undo::LastUndoable(file.journal, logon));
}

void TestUndo::stopWhileWaitingForRowLock()
{
    if (CurrentBackend() == Backend::SQLite)
        QSKIP("SQLite locks the whole file, not a row");
    Bench bench({"a b", "c d", "e f", "g h"});
    // Another session holds row 2 and does not let go.
    const OpenTransaction holder(bench.schema, "UPDATE t SET v = v WHERE id = 2");
    QElapsedTimer sinceRow2;
    bench.ports.onProgress = [&] {
        if (bench.ports.progress.size() == 2)
            sinceRow2.start();
    };
    // The user presses Stop a second after the run began to wait.
    bench.ports.stopWhen = [&] { return sinceRow2.isValid() && sinceRow2.elapsed() > 1000; };
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    QElapsedTimer timer;
    timer.start();
    const ChangeRunResult result = bench.runWith(options);

    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(result.end == End::Stopped);
    // A batch (rows 1 and 2 here) that waited when Stop came is not written.
    const int written = RowByRow() ? 1 : 0;
    QCOMPARE(result.changed, written);
    QCOMPARE(bench.ui.shown, QStringList()); // no "Done."
    QCOMPARE(bench.ports.pointers.last(), 0);
    QCOMPARE(file.journal.runs().value(0).state, QStringLiteral("stopped"));
    QCOMPARE(file.journal.runs().value(0).changed, written);
}

// A cut by position inside a surrogate pair leaves half a character: that
// row fails at the new value, is neither written nor journaled, a dry run
// tells it as a row that cannot change, and the run is undone exactly.
void TestUndo::halfCharacterNeverWritten()
{
    const QString smiles = QStringLiteral("\U0001F600\U0001F600");
    const QString inside = QStringLiteral("a\U0001F600b");
    const QVariantList values{smiles, "abcdef", inside};
    Bench bench(values);
    const QString split = QStringLiteral("The new value would cut a character in two.");
    const QString operation = caption(26); // the text after position 3 goes

    QList<QStringList> told;
    ChangeRunOptions preview = Options();
    preview.dryRun = true;
    preview.failedRow = [&](const QString& value, const QString& reason) {
        told << QStringList{value, reason};
    };
    bench.ports.operation = operation;
    bench.ui.answers = {"3"};
    const ChangeRunResult seen = bench.runWith(preview);
    QCOMPARE(told, (QList<QStringList>{{smiles, split}}));
    QCOMPARE(bench.ui.reports, QStringList());
    QCOMPARE(seen.failed, 1);
    QCOMPARE(seen.changed, 2);

    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file, 26, {"3"});
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.changed, 2);
    QCOMPARE(bench.ui.reports.size(), 1);
    QVERIFY2(bench.ui.reports.first().startsWith(split), qPrintable(bench.ui.reports.first()));
    compareValues(bench.valuesById(), {smiles, "abc", QStringLiteral("a\U0001F600")});
    QCOMPARE(file.journal.rowsToUndo(result.journalRun).size(), 2);

    expectExactUndo(bench, file, result.journalRun, 2, values);
}

// A row the write leaves alone while it still holds the value read (a
// trigger drops the change) is a failure of its own, not someone else's
// change; the journal keeps it out of the undo.
void TestUndo::writeTheDatabaseDidNotApply()
{
    if (CurrentBackend() == Backend::MariaDB)
        QSKIP("no MariaDB trigger drops a row's change");
    Bench bench({"a b", "c d", "e f"});
    if (CurrentBackend() == Backend::SQLite) {
        bench.schema.exec("CREATE TRIGGER keep BEFORE UPDATE ON t WHEN OLD.id = 2 "
                          "BEGIN SELECT RAISE(IGNORE); END");
    } else {
        bench.schema.exec("CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS "
                          "'BEGIN IF OLD.id = 2 THEN RETURN NULL; END IF; RETURN NEW; END'");
        bench.schema.exec("CREATE TRIGGER keep BEFORE UPDATE ON t FOR EACH ROW "
                          "EXECUTE FUNCTION keep()");
    }
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);

    compareValues(bench.valuesById(), {"ab", "c d", "ef"});
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.conflicts, 0);
    QCOMPARE(bench.ui.reports.size(), 1);
    QVERIFY2(
        bench.ui.reports.first().startsWith("The database did not apply the change to this row."),
        qPrintable(bench.ui.reports.first()));
    QCOMPARE(file.journal.rowsToUndo(result.journalRun).size(), 2);
}

// A journal that refuses the rows ends the run before anything is written,
// and its history says the run failed.
void TestUndo::journalFailureIsNoDoneRun()
{
    Bench bench({"a b", "c d"});
    JournalFile file;
    {
        QSqlDatabase refuser = QSqlDatabase::addDatabase("QSQLITE", "refuser");
        refuser.setDatabaseName(file.dir.filePath("journal.sqlite"));
        QVERIFY(refuser.open());
        QVERIFY(QSqlQuery(refuser).exec("CREATE TRIGGER full BEFORE INSERT ON batches "
                                        "BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
        refuser.close();
    }
    QSqlDatabase::removeDatabase("refuser");
    const ChangeRunResult result = runJournaled(bench, file);

    compareValues(bench.valuesById(), {"a b", "c d"});
    QCOMPARE(result.changed, 0);
    QCOMPARE(file.journal.runs().value(0).state, QStringLiteral("failed"));
}

// The primary key moved to another column between the run and the undo: the
// journal's keys would name other rows. The undo refuses, writes nothing,
// and the run stays undoable.
void TestUndo::keyMovedToOtherColumnsRefused()
{
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    const QString keyed = sqlite ? "CREATE TABLE t (id integer PRIMARY KEY, code integer, "
                                   "v varchar(200)) WITHOUT ROWID"
                                 : "CREATE TABLE t (id integer PRIMARY KEY, code integer UNIQUE, "
                                   "v varchar(200))";
    // Both rows end as "ab": by the moved key, each would get the other's old value.
    Bench bench({"a b", "a  b"}, "t", "v", "varchar(200)", {keyed});
    bench.schema.exec("UPDATE t SET code = 3 - id"); // the other row's id
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);
    QCOMPARE(result.changed, 2);
    if (sqlite) {
        bench.schema.exec("CREATE TABLE moved (id integer, code integer PRIMARY KEY, "
                          "v varchar(200)) WITHOUT ROWID");
        bench.schema.exec("INSERT INTO moved SELECT id, code, v FROM t");
        bench.schema.exec("DROP TABLE t");
        bench.schema.exec("ALTER TABLE moved RENAME TO t");
    } else {
        bench.schema.exec(CurrentBackend() == Backend::MariaDB
                              ? "ALTER TABLE t DROP PRIMARY KEY"
                              : "ALTER TABLE t DROP CONSTRAINT t_pkey");
        bench.schema.exec("ALTER TABLE t ADD PRIMARY KEY (code)");
    }

    ScriptedInteraction ui;
    const UndoResult undone = undoRun(bench, file, result.journalRun, ui);
    QVERIFY(undone.end == UndoResult::End::Failed);
    QCOMPARE(ui.reports.size(), 1);
    QVERIFY2(ui.reports.first().contains("cannot be found again"), qPrintable(ui.reports.first()));
    compareValues(bench.valuesById(), {"ab", "ab"});
    QVERIFY(!file.journal.run(result.journalRun)->undone);
    QVERIFY(Undo::LastUndoable(file.journal, bench.schema.logon()));
}

// The field is the table's primary key: each write moves the row's key, and
// the undo finds the rows by the keys they have after the run.
void TestUndo::fieldThatIsTheKey()
{
    const QString keyed = CurrentBackend() == Backend::SQLite
                              ? "CREATE TABLE t (id integer, v varchar(200) PRIMARY KEY) "
                                "WITHOUT ROWID"
                              : "CREATE TABLE t (id integer, v varchar(200) PRIMARY KEY)";
    const QVariantList values{"a b", "c  d", "ef"};
    Bench bench(values, "t", "v", "varchar(200)", {keyed});
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);
    QCOMPARE(result.changed, 2);
    compareValues(bench.valuesById(), {"ab", "cd", "ef"});

    expectExactUndo(bench, file, result.journalRun, 2, values);
}

// A table without a key: its rows are named by their addresses, which
// VACUUM FULL (PostgreSQL) or VACUUM (SQLite, a table with deleted rows)
// hands out afresh. A new row holding the run's new value takes the address
// the journal holds: it is left alone, and the row the run wrote is found by
// its contents and restored.
void TestUndo::movedRowFoundByItsContents()
{
    if (CurrentBackend() == Backend::MariaDB)
        QSKIP("MariaDB's rows are named by their keys, which do not move");
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    Bench bench({"a", "b", " x"});
    bench.schema.exec("DELETE FROM t WHERE id = 1");
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);
    QCOMPARE(result.changed, 1);
    const QVariantList key = file.journal.rowsToUndo(result.journalRun).value(0).key;
    bench.schema.exec(sqlite ? "VACUUM" : "VACUUM FULL t");
    for (int id = 11; id <= 13; ++id)
        bench.schema.exec("INSERT INTO t (id, v) VALUES (?, 'x')", {id});
    const QString at = sqlite ? QStringLiteral("rowid = %1").arg(key.value(0).toLongLong())
                              : QStringLiteral("CAST(ctid AS text) = '%1'")
                                    .arg(key.value(1).toString().remove(u'\''));
    const QVariantList taken = bench.schema.column("SELECT id FROM t WHERE " + at);
    QVERIFY2(taken.size() == 1 && taken.first().toInt() >= 11, "the address is taken again");

    expectExactUndo(bench, file, result.journalRun, 1, {"b", " x", "x", "x", "x"});
}

// A column computed from the field changes with every write: the row is
// known by its other columns all the same.
void TestUndo::generatedColumnOfTheField()
{
    const QVariantList values{"a b", "c"};
    const QString id =
        CurrentBackend() == Backend::MariaDB ? "id integer PRIMARY KEY" : "id integer";
    Bench bench(values, "t", "v", "varchar(200)",
                {"CREATE TABLE t (" + id +
                 ", v varchar(200), g varchar(200) GENERATED ALWAYS AS (upper(v)) STORED)"});
    JournalFile file;
    QCOMPARE(runJournaled(bench, file).changed, 1);
    expectExactUndo(bench, file, file.journal.runs().value(0).id, 1, values);
}

// An undo over more rows than a page, in batches, with a row changed since
// the run in the middle of a batch: that batch goes row by row, every other
// row gets its old value back with one write, and the changed row is left
// alone.
void TestUndo::undoOverPagesAndBatches_data()
{
    QTest::addColumn<bool>("primaryKey");
    QTest::newRow("a table with a primary key") << true;
    QTest::newRow("a table without a key (row address)") << false;
}

void TestUndo::undoOverPagesAndBatches()
{
    QFETCH(bool, primaryKey);
    if (!primaryKey && CurrentBackend() == Backend::MariaDB)
        QSKIP("MariaDB's rows have no addresses");
    QStringList create;
    if (primaryKey)
        create << "CREATE TABLE t (id integer PRIMARY KEY, v varchar(200))" << AuditTrigger("t");
    QVariantList values;
    for (int i = 1; i <= 23; ++i)
        values << (i % 5 == 0 ? QStringLiteral("same%1").arg(i) : QStringLiteral("a %1").arg(i));
    Bench bench(values, "t", "v", "varchar(200)", create);
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    const ChangeRunResult result = bench.runWith(options);
    QCOMPARE(result.changed, 19);
    bench.schema.exec("UPDATE t SET v = 'edited' WHERE id = 12");
    QVariantList expected = values;
    expected[11] = "edited";

    UndoOptions undoOptions = ::undoOptions();
    undoOptions.rowByRow = RowByRow();
    undoOptions.batchRows = 4;
    undoOptions.pageRows = 8;
    UndoPorts ports;
    ScriptedInteraction ui;
    const qsizetype before = bench.audited().size();
    const UndoResult undone =
        Undo(ports, ui, file.journal, undoOptions).undo(result.journalRun, bench.schema.logon());

    QVERIFY(undone.end == UndoResult::End::Done);
    QCOMPARE(undone.restored, 18);
    QCOMPARE(undone.conflicts, 1);
    QCOMPARE(undone.failed + undone.left, 0);
    QCOMPARE(ui.shown, QStringList());
    compareValues(bench.valuesById(), expected);
    QList<int> restored;
    for (int i = 1; i <= 23; ++i)
        if (i % 5 != 0 && i != 12)
            restored << i;
    QCOMPARE(sortedIds(bench.audited().mid(before)), restored);
    QCOMPARE(ports.progress.last(), 100.0);
    const Journal::Run entry = *file.journal.run(result.journalRun);
    QVERIFY(entry.undone);
    QCOMPARE(entry.restored, 18);
    QCOMPARE(entry.kept, 1);
}

// An undo marks a batch's rows undoing before it sends them. Stopped before
// it sent them, it leaves them as they were: a row the run journaled but
// never wrote (killed before its write was final) is not counted restored
// by the next undo.
void TestUndo::stoppedUndoLeavesRowsAsTheyWere()
{
    Bench bench({"a b", "c d", "ef"}, "t", "v", "varchar(200)",
                {"CREATE TABLE t (id integer PRIMARY KEY, v varchar(200))"});
    JournalFile file;
    ChangeRunOptions options = Options();
    options.journal = &file.journal;
    bench.ports.operation = caption(1);
    const ChangeRunResult result = bench.runWith(options);
    QCOMPARE(result.changed, 2);
    // Journaled, never written.
    file.journal.addRows(result.journalRun, {Change{{"3"}, "ef", "e f"}});
    const Logon logon = bench.schema.logon();

    UndoPorts ports;
    ports.stopAfter = 0; // Stop at once
    ScriptedInteraction ui;
    const UndoResult stopped =
        Undo(ports, ui, file.journal, undoOptions()).undo(result.journalRun, logon);
    QVERIFY(stopped.end == UndoResult::End::Stopped);
    QCOMPARE(stopped.restored, 0);
    QCOMPARE(stopped.left, 3);
    QCOMPARE(file.journal.run(result.journalRun)->toUndo, 3);

    ports.stopAfter = -1;
    const UndoResult undone =
        Undo(ports, ui, file.journal, undoOptions()).undo(result.journalRun, logon);
    QVERIFY(undone.end == UndoResult::End::Done);
    QCOMPARE(undone.restored, 2);
    QCOMPARE(undone.conflicts + undone.failed + undone.left, 0);
    compareValues(bench.valuesById(), {"a b", "c d", "ef"});
    const Journal::Run entry = *file.journal.run(result.journalRun);
    QVERIFY(entry.undone);
    QCOMPARE(entry.restored, 2);
}

// A trigger stores another value than the one written: the journal keeps the
// value stored, so that the undo finds the row holding it and restores it.
void TestUndo::valueRewrittenByTrigger()
{
    Bench bench({"a b", "c d", "e f"});
    if (CurrentBackend() == Backend::SQLite) {
        bench.schema.exec("CREATE TRIGGER mark AFTER UPDATE ON t WHEN NEW.v = 'ab' "
                          "BEGIN UPDATE t SET v = 'ab!' WHERE id = NEW.id; END");
    } else if (CurrentBackend() == Backend::MariaDB) {
        bench.schema.exec("CREATE TRIGGER mark BEFORE UPDATE ON t FOR EACH ROW BEGIN IF "
                          "NEW.v = 'ab' THEN SET NEW.v = 'ab!'; END IF; END");
    } else {
        bench.schema.exec(
            "CREATE FUNCTION mark() RETURNS trigger LANGUAGE plpgsql AS "
            "'BEGIN IF NEW.v = ''ab'' THEN NEW.v := ''ab!''; END IF; RETURN NEW; END'");
        bench.schema.exec("CREATE TRIGGER mark BEFORE UPDATE ON t FOR EACH ROW "
                          "EXECUTE FUNCTION mark()");
    }
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);
    QCOMPARE(result.changed, 3);
    compareValues(bench.valuesById(), {"ab!", "cd", "ef"});

    expectExactUndo(bench, file, result.journalRun, 3, {"a b", "c d", "e f"});
}

// A trigger stamps another column of each row written: the journal keeps the
// digest of the row as stored, not as read, so that the undo knows the row.
void TestUndo::otherColumnStampedByTrigger()
{
    if (CurrentBackend() == Backend::MariaDB)
        QSKIP("MariaDB's rows carry no digest: the stamped column is their key");
    Bench bench({"a b", "c d"});
    if (CurrentBackend() == Backend::SQLite) {
        bench.schema.exec("CREATE TRIGGER stamp AFTER UPDATE OF v ON t "
                          "BEGIN UPDATE t SET id = id + 100 WHERE rowid = NEW.rowid; END");
    } else {
        bench.schema.exec("CREATE FUNCTION stamp() RETURNS trigger LANGUAGE plpgsql AS "
                          "'BEGIN NEW.id := OLD.id + 100; RETURN NEW; END'");
        bench.schema.exec("CREATE TRIGGER stamp BEFORE UPDATE ON t FOR EACH ROW "
                          "EXECUTE FUNCTION stamp()");
    }
    JournalFile file;
    const ChangeRunResult result = runJournaled(bench, file);
    QCOMPARE(result.changed, 2);
    expectExactUndo(bench, file, result.journalRun, 2, {"a b", "c d"});
}

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
