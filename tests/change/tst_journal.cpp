// The change journal on its own: what goes in comes back out.

#include "app/RuntimeError.h"
#include "change/Change.h"
#include "change/Journal.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

namespace
{

// A journal of the test's own, with a run begun in it.
struct JournalFile {
    JournalFile()
    {
        Journal::Run entry;
        entry.started = QDateTime::currentDateTimeUtc();
        entry.sid = entry.user = entry.table = entry.field = entry.operation = "x";
        run = journal.beginRun(entry);
        other = journal.beginRun(entry);
    }
    QTemporaryDir dir;
    Journal journal{dir.filePath("journal.sqlite")};
    qint64 run = 0;
    qint64 other = 0;
};

Journal::Run someRun(const QString& sid)
{
    Journal::Run entry;
    entry.started = QDateTime::currentDateTimeUtc();
    entry.sid = sid;
    entry.user = entry.table = entry.field = entry.operation = "x";
    return entry;
}

// Another process's connection to the journal (a run's, an undo's) on a
// thread of its own: takes the write lock, adds a run when the journal has
// its tables, and commits a second and a half later.
class WriteLockHolder
{
public:
    explicit WriteLockHolder(const QString& path)
    {
        m_thread.reset(QThread::create([this, path] {
            {
                QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "holder");
                database.setDatabaseName(path);
                m_ok = database.open() && QSqlQuery(database).exec("BEGIN IMMEDIATE");
                if (database.tables().contains("runs"))
                    m_ok = m_ok && QSqlQuery(database).exec(
                                       "INSERT INTO runs (started, sid, user, tbl, field, "
                                       "operation, answers, state) VALUES ('', 'holder', '', "
                                       "'', '', '', '[]', 'running')");
                m_held.release();
                QThread::msleep(1500);
                m_ok = m_ok && QSqlQuery(database).exec("COMMIT");
            }
            QSqlDatabase::removeDatabase("holder");
        }));
        m_thread->start();
        m_held.acquire();
    }
    ~WriteLockHolder() { m_thread->wait(); }
    WriteLockHolder(const WriteLockHolder&) = delete;
    WriteLockHolder& operator=(const WriteLockHolder&) = delete;
    // Whether every statement of its own went through.
    bool finish()
    {
        m_thread->wait();
        return m_ok;
    }

private:
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_held;
    bool m_ok = false;
};

const auto GroupAndOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
const auto Owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QFile::Permissions mode(const QString& file)
{
    return QFile::permissions(file) & (Owner | GroupAndOthers);
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void rowsComeBackAsWritten_data();
    void rowsComeBackAsWritten();
    void halfASurrogatePairKeepsTheRow();
    void batchFullByRowsOrSize_data();
    void batchFullByRowsOrSize();
    void keptPrivate_data();
    void keptPrivate();
    void waitsForAnotherWriter_data();
    void waitsForAnotherWriter();
    void runLockedWhileWritten();
    void earlierLayoutRead();
};

// The journal holds every old and new value: its folder and files are the
// user's alone, an older journal's tightened when it is opened.
void TestJournal::keptPrivate_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("a new journal") << false;
    QTest::newRow("an open journal readable by all, tightened") << true;
}

void TestJournal::keptPrivate()
{
#ifndef Q_OS_UNIX
    QSKIP("file modes are Unix's");
#endif
    QFETCH(bool, existing);
    QTemporaryDir dir;
    const QString folder = dir.filePath("Brenlow/Quorvane");
    const QString path = folder + "/journal.sqlite";
    const QStringList files{path, path + "-wal", path + "-shm"};
    std::unique_ptr<Journal> earlier; // keeps the -wal and -shm files
    if (existing) {
        earlier = std::make_unique<Journal>(path);
        earlier->beginRun(someRun("earlier"));
        const auto everyoneReads =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        for (const QString& file : files)
            QVERIFY(QFile::setPermissions(file, everyoneReads));
        QVERIFY(QFile::setPermissions(folder, everyoneReads | QFile::ExeOwner | QFile::ExeGroup |
                                                  QFile::ExeOther));
    }

    Journal journal(path);
    journal.beginRun(someRun("now"));

    QCOMPARE(mode(folder), Owner);
    for (const QString& file : files)
        QCOMPARE(mode(file), QFile::ReadOwner | QFile::WriteOwner);
}

// Another process writing the journal holds its write lock for a while: a
// new journal's switch to WAL mode, an open and every write wait for it,
// none fails as locked.
void TestJournal::waitsForAnotherWriter_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("a new journal") << false;
    QTest::newRow("a journal in use") << true;
}

void TestJournal::waitsForAnotherWriter()
{
    QFETCH(bool, existing);
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    if (existing)
        Journal(path).beginRun(someRun("earlier"));
    WriteLockHolder holder(path);

    QStringList sids;
    int rowsToUndo = 0;
    try {
        Journal journal(path);
        const qint64 run = journal.beginRun(someRun("now"));
        journal.addRows(run, {Change{{"1"}, "old", "new"}});
        journal.endRun(run, 1, 1, 0, 0, "done");
        for (const Journal::Run& entry : journal.runs())
            sids << entry.sid;
        rowsToUndo = journal.rowsToUndo(run).size();
    } catch (const RuntimeError& error) {
        QFAIL(qPrintable(error.description()));
    }

    QVERIFY(holder.finish());
    QCOMPARE(sids, existing ? QStringList({"now", "holder", "earlier"}) : QStringList{"now"});
    QCOMPARE(rowsToUndo, 1);
}

// A run is being written while the journal that began it has not ended it;
// another journal on the file, in any process, sees that.
void TestJournal::runLockedWhileWritten()
{
    JournalFile file;
    {
        Journal other(file.journal.path());
        QVERIFY(other.isWriting(file.run));
        QVERIFY(other.isWriting(file.other));
        file.journal.endRun(file.run, 0, 0, 0, 0, "done");
        QVERIFY(!other.isWriting(file.run));
        QVERIFY(other.isWriting(file.other));
    }
    auto ending = std::make_unique<Journal>(file.journal.path());
    const qint64 third = ending->beginRun(*file.journal.run(file.run));
    QVERIFY(file.journal.isWriting(third));
    ending.reset(); // its program ends
    QVERIFY(!file.journal.isWriting(third));
}

// A journal of the first layout: its runs come back with the rows counted,
// a run it marked undone has no row left to undo, and the others can be.
void TestJournal::earlierLayoutRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    {
        QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "layout1");
        old.setDatabaseName(path);
        QVERIFY(old.open());
        QSqlQuery query(old);
        for (const char* statement :
             {"CREATE TABLE runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, "
              "sid TEXT NOT NULL, user TEXT NOT NULL, tbl TEXT NOT NULL, field TEXT NOT NULL, "
              "operation TEXT NOT NULL, answers TEXT NOT NULL, rows INTEGER NOT NULL DEFAULT 0, "
              "changed INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0, "
              "conflicts INTEGER NOT NULL DEFAULT 0, state TEXT NOT NULL, "
              "undone INTEGER NOT NULL DEFAULT 0)",
              "CREATE TABLE rows (id INTEGER PRIMARY KEY, "
              "run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE, key TEXT NOT NULL, "
              "key_before TEXT NOT NULL, "
              "old TEXT NOT NULL, new TEXT NOT NULL, state TEXT NOT NULL)",
              "CREATE INDEX rows_of_run ON rows (run, id)",
              "INSERT INTO runs VALUES (1, '2024-01-01T00:00:00.000Z', 's', 'u', 't', 'f', "
              "'o', '[]', 3, 3, 0, 0, 'done', 1), (2, '2024-01-02T00:00:00.000Z', 's', 'u', "
              "'t', 'f', 'o', '[]', 3, 2, 1, 0, 'done', 0)",
              "INSERT INTO rows VALUES (1, 1, '[\"1\"]', '[\"1\"]', 'a', 'b', 'restored'), "
              "(2, 1, '[\"2\"]', '[\"2\"]', 'a', 'b', 'restored'), "
              "(3, 1, '[\"3\"]', '[\"3\"]', 'a', 'b', 'written'), "
              "(4, 2, '[\"1\"]', '[\"1\"]', 'a', 'b', 'written'), "
              "(5, 2, '[\"2\"]', '[\"2\"]', 'a', 'b', 'pending'), "
              "(6, 2, '[\"3\"]', '[\"3\"]', 'a', 'b', 'failed')",
              "PRAGMA user_version = 1"})
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase("layout1");

    Journal journal(path);
    const QList<Journal::Run> runs = journal.runs();
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs.at(1).id, 1);
    QVERIFY(runs.at(1).undone);
    QCOMPARE(runs.at(1).restored, 2);
    QCOMPARE(runs.at(1).kept, 1);
    QCOMPARE(runs.at(1).toUndo, 0);
    QVERIFY(!runs.at(0).undone);
    QCOMPARE(runs.at(0).restored, 0);
    QCOMPARE(runs.at(0).kept, 0);
    QCOMPARE(runs.at(0).toUndo, 2);
    QCOMPARE(journal.rowsToUndo(2).size(), 2);
    QCOMPARE(runs.at(0).changed, 2); // the run's own counts as they were

    // Its rows are marked where they are, beside a new run's batch, whose
    // ids go on past theirs.
    const qint64 next = journal.beginRun(someRun("s"));
    const QList<qint64> ids =
        journal.addRows(next, {Change{{"1"}, "a", "b"}, Change{{"2"}, "c", "d"}});
    QCOMPARE(ids, (QList<qint64>{7, 8}));
    journal.markUndo({5}, Journal::RowState::Restored);
    journal.markRows({{4, Journal::RowState::Kept, {}}, {8, Journal::RowState::Restored, {}}});
    QCOMPARE(journal.run(2)->restored, 1);
    QCOMPARE(journal.run(2)->kept, 1);
    QVERIFY(journal.markUndone(2));
    QCOMPARE(journal.run(next)->restored, 1);
    QCOMPARE(journal.run(next)->toUndo, 1);
    QCOMPARE(journal.rowsToUndo(next).value(0).id, 7);
}

// A batch (of the journal and of the writes) is cut at its row count or at
// about 8 MB of text, whichever comes first: long values go a few at a time.
void TestJournal::batchFullByRowsOrSize_data()
{
    QTest::addColumn<int>("valueLength");
    QTest::addColumn<int>("fullAfter");
    QTest::newRow("short values: 1,000 rows") << 10 << 1000;
    QTest::newRow("1 MB values: 2 rows") << (1 << 20) << 2;
    QTest::newRow("a 5 MB value: alone") << 5 * (1 << 20) << 1;
}

void TestJournal::batchFullByRowsOrSize()
{
    QFETCH(int, valueLength);
    QFETCH(int, fullAfter);
    const Change change{
        {QStringLiteral("17")}, QString(valueLength, u'x'), QString(valueLength, u'y')};
    HeldChanges held;
    int rows = 0;
    while (!held.full(1000))
        held.add(change, ++rows);
    QCOMPARE(rows, fullAfter);
    QCOMPARE(held.take().size(), fullAfter);
    QVERIFY(!held.full(1000));
}

void TestJournal::rowsComeBackAsWritten_data()
{
    QTest::addColumn<QVariantList>("key");
    QTest::addColumn<int>("rows"); // more than one statement holds
    QTest::newRow("ctid") << QVariantList{"16385", "(0,1)"} << 1;
    QTest::newRow("quotes, backslashes, control characters")
        << QVariantList{"a\"b\\c", "\t\n\x01", "", "\u00e9 \U0001F600"} << 3;
    QTest::newRow("many rows in one call") << QVariantList{"k"} << 1200;
}

void TestJournal::rowsComeBackAsWritten()
{
    QFETCH(QVariantList, key);
    QFETCH(int, rows);
    JournalFile file;
    Journal& journal = file.journal;
    QList<Change> changes;
    for (int i = 0; i < rows; ++i)
        changes << Change{key + QVariantList{QString::number(i)}, QStringLiteral("old %1").arg(i),
                          QStringLiteral("new %1").arg(i)};
    const QList<qint64> ids = journal.addRows(file.run, changes);
    journal.addRows(file.other, changes.mid(0, 1)); // ids go on past another call's
    const QList<qint64> more = journal.addRows(file.run, changes.mid(0, 1));
    QList<Journal::Move> moved; // every other row's key moved with its write, in one entry
    for (int i = 0; i < rows; i += 2)
        moved << Journal::Move{ids.at(i), key + QVariantList{"moved"}, QString::number(i)};
    journal.recordMoves(moved);
    QList<Journal::Mark> marked; // every fourth marked since: its mark's key counts
    for (int i = 0; i < rows; i += 4)
        marked << Journal::Mark{ids.at(i), Journal::RowState::Undoing,
                                key + QVariantList{"marked"}};
    journal.markRows(marked);

    QCOMPARE(ids.size(), rows);
    QVERIFY(more.first() > ids.last() + 1);
    const QList<Journal::Row> read = journal.rowsToUndo(file.run); // newest first
    QCOMPARE(read.size(), rows + 1);
    for (int i = 0; i < rows; ++i) {
        const Journal::Row& row = read.at(rows - i);
        QCOMPARE(row.id, ids.at(i));
        QCOMPARE(row.key, i % 4 == 0   ? key + QVariantList{"marked"}
                          : i % 2 == 0 ? key + QVariantList{"moved"}
                                       : changes.at(i).key);
        QCOMPARE(row.digest.toString(), i % 4 == 2 ? QString::number(i) : QString());
        QCOMPARE(row.digest.isNull(), i % 4 != 2);
        QCOMPARE(row.keyBefore, changes.at(i).key);
        QCOMPARE(row.oldValue, changes.at(i).oldValue);
        QCOMPARE(row.newValue, changes.at(i).newValue);
    }
}

// A transform may cut a character outside the BMP in two: the journal
// keeps the row, with the half as the replacement character.
void TestJournal::halfASurrogatePairKeepsTheRow()
{
    JournalFile file;
    const QString cut = QString("\U0001F600x").mid(1);
    file.journal.addRows(file.run, {Change{{"1"}, "\U0001F600x", cut}});
    const QList<Journal::Row> read = file.journal.rowsToUndo(file.run);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.first().oldValue, QString("\U0001F600x"));
    QCOMPARE(read.first().newValue, QString("\uFFFDx"));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
