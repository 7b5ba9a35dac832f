// "Start Changing" against real databases: what reaches the rows, what the
// user is shown and in which order, the progress, the pointer and the refill.
// Every table has an id column; an update trigger writes the id of each row it
// changes to "audit", in order, so each statement is seen where it lands.

#include "app/Main.h"
#include "change/ChangeRun.h"
#include "change/OperationCatalogue.h"
#include "tests/support/ChangeBench.h"

#include <QTest>
#include <functional>
#include <optional>

using namespace ChangeBench;
using End = ChangeRunResult::End;

namespace
{

// Stops the PostgreSQL test server; starts it again however the test ends.
class ServerStopped
{
public:
    ServerStopped() { StopServer(); }
    ~ServerStopped()
    {
        try {
            StartServer();
        } catch (const std::exception& error) {
            qCritical("restarting the test server: %s", error.what());
        }
    }
};

} // namespace

class TestChangeRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_TEST_DATABASES();
        Main::SetApplicationTitle();
    }
    void threeRowsInStatementOrder();
    void observerToldInOrder();
    void valuesReachTheRow_data();
    void valuesReachTheRow();
    void eachRowChangedOnce_data();
    void eachRowChangedOnce();
    void refillShowsFirst101Rows();
    void tableWithoutRowsAsksNothing();
    void noFieldSelected();
    void rejectedStatementReportedRestGoesOn();
    void openFailureEndsRun_data();
    void openFailureEndsRun();
    void notApplied_data();
    void notApplied();
    void numberOverflowReportedOnce();
    void transformFailureSkipsOnlyItsRow();
    void namesAsListed_data();
    void namesAsListed();
    void nonTextColumnSendsNoStatement();
    void valuesNeverRunAsSql_data();
    void valuesNeverRunAsSql();
    void rowKeyNamesOneRow_data();
    void rowKeyNamesOneRow();
    void slightEditLeftAlone_data();
    void slightEditLeftAlone();
    void tableWithoutKeyRefused();
    void rowChangedSinceReadLeftAlone();
    void rowIdTakenByAnotherRowLeftAlone();
    void rowAddedWithinTheReadCounted();
    void lostConnectionEndsRun();
    void secondWriterRefusedRunGoesOn();
    void repeatedFailureReportedOnce();
    void charColumnComparedInItsOwnType();
    void batchBoundaries_data();
    void batchBoundaries();
    void onlyRowsThatMayChangeAreRead_data();
    void onlyRowsThatMayChangeAreRead();
};

void TestChangeRun::threeRowsInStatementOrder()
{
    Bench bench({"a b", "c d", "e f"});
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.audited(), (QList<int>{1, 2, 3}));
    compareValues(bench.valuesById(), {"ab", "cd", "ef"});
    QCOMPARE(bench.ports.progress, (QList<double>{1.0 / 3 * 100, 2.0 / 3 * 100, 100.0}));
    QCOMPARE(bench.ports.pointers, DonePointers);
    QCOMPARE(bench.ui.shown, OnlyDone);
    QCOMPARE(bench.ui.titles, QStringList{Main::ApplicationTitle()});
    QCOMPARE(bench.ports.preview, (QStringList{"ab", "cd", "ef"}));
    QVERIFY(result.end == End::Done);
    QVERIFY(result.applied);
    QCOMPARE(result.rows, 3);
    QCOMPARE(result.changed, 3);
    QCOMPARE(result.reports, 0);
}

// What a run tells its window and asks, one changing row, in order.
void TestChangeRun::observerToldInOrder()
{
    Bench bench({"a b"});
    QStringList told;
    bench.ui.onPrompt = [&] { told = bench.ports.events; };
    bench.run(caption(2), {"_"});
    QCOMPARE(told, (QStringList{"pointer 11", "reading"})); // at the prompt
    QCOMPARE(bench.ports.events,
             (QStringList{"pointer 11", "reading", "progress 100", "writing 1 of 1",
                          "preview cleared", "pointer 11", "preview: a_b", "pointer 0"}));
    QCOMPARE(bench.ui.shown, (QStringList{"prompt: Replace With:", "message: Done."}));
}

void TestChangeRun::valuesReachTheRow_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("beforeAfter");
    QTest::newRow("apostrophe in the value")
        << 5 << QStringList() << QStringList{"it's  ok", "it's ok"};
    QTest::newRow("apostrophe, trailing blanks")
        << 4 << QStringList() << QStringList{"O'Neil  ", "O'Neil"};
    QTest::newRow("apostrophe in the answer") << 2 << QStringList{"'"} << QStringList{"a b", "a'b"};
    QTest::newRow("CR LF to blanks") << 6 << QStringList() << QStringList{"a\r\nb", "a  b"};
    QTest::newRow("CR LF replaced") << 7 << QStringList{"|"} << QStringList{"x\r\ny\nz", "x||y|z"};
    QTest::newRow("tabs removed") << 8 << QStringList() << QStringList{"a\tb\t", "ab"};
    QTest::newRow("backslash, double quote kept")
        << 1 << QStringList() << QStringList{"a\\ \"b\"", "a\\\"b\""};
    QTest::newRow("non-ASCII letters") << 1 << QStringList() << QStringList{"é è ü", "éèü"};
    QTest::newRow("backslash as the answer")
        << 2 << QStringList{"\\"} << QStringList{"a b", "a\\b"};
    QTest::newRow("braces, commas and the word NULL")
        << 2 << QStringList{"\"} NULL {"} << QStringList{"{a, b}", "{a,\"} NULL {b}"};
    QTest::newRow("empty new value") << 18 << QStringList{"abc"} << QStringList{"abc", ""};
}

void TestChangeRun::valuesReachTheRow()
{
    QFETCH(int, operation);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, beforeAfter);
    Bench bench({beforeAfter[0], "unchanged"});
    const ChangeRunResult result = bench.run(caption(operation), answers);

    QCOMPARE(bench.ui.reports, QStringList());
    QCOMPARE(bench.valuesById().value(0).toString(), beforeAfter[1]);
    QCOMPARE(bench.valuesById().value(1).toString(), QStringLiteral("unchanged"));
    QCOMPARE(bench.audited(), QList<int>{1});
    QCOMPARE(bench.ports.preview, bench.inDatabaseOrder());
    QVERIFY(bench.ports.preview.contains(beforeAfter[1]));
    QCOMPARE(bench.ui.messages, QStringList{"Done."});
    QCOMPARE(result.unchanged, 1);
}

void TestChangeRun::eachRowChangedOnce_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QVariantList>("before");
    QTest::addColumn<QVariantList>("after");
    QTest::addColumn<QList<int>>("changed"); // ids, in statement order
    const QVariant null;
    QTest::newRow("null rows stay null") << 1 << QStringList() << QVariantList{null, "a b", null}
                                         << QVariantList{null, "ab", null} << QList<int>{2};
    QTest::newRow("two rows with the same value")
        << 1 << QStringList() << QVariantList{"a b", "a b"} << QVariantList{"ab", "ab"}
        << QList<int>{1, 2};
    QTest::newRow("new value equals the other row's value")
        << 1 << QStringList() << QVariantList{"a b", "ab"} << QVariantList{"ab", "ab"}
        << QList<int>{1};
    QTest::newRow("new value equals the next row's value, which changes too")
        << 24 << QStringList{"1"} << QVariantList{"aab", "ab"} << QVariantList{"ab", "b"}
        << QList<int>{1, 2};
    QTest::newRow("value inside another row's value")
        << 1 << QStringList() << QVariantList{"a b", "a b c", "xa by"}
        << QVariantList{"ab", "abc", "xaby"} << QList<int>{1, 2, 3};
}

void TestChangeRun::eachRowChangedOnce()
{
    QFETCH(int, operation);
    QFETCH(QStringList, answers);
    QFETCH(QVariantList, before);
    QFETCH(QVariantList, after);
    QFETCH(QList<int>, changed);
    Bench bench(before);
    const ChangeRunResult result = bench.run(caption(operation), answers);

    QCOMPARE(bench.ui.reports, QStringList());
    compareValues(bench.valuesById(), after);
    QCOMPARE(bench.audited(), changed);
    QCOMPARE(result.changed, changed.size());
    QCOMPARE(result.unchanged, before.size() - changed.size());
    QCOMPARE(bench.ports.progress.last(), 100.0);
    QCOMPARE(bench.ports.preview, bench.inDatabaseOrder());
    QCOMPARE(bench.ui.messages, QStringList{"Done."});
}

void TestChangeRun::refillShowsFirst101Rows()
{
    QVariantList values;
    for (int i = 1; i <= 250; ++i)
        values << QStringLiteral("r %1").arg(i, 3, 10, QLatin1Char('0'));
    Bench bench(values);
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(result.changed, 250);
    QCOMPARE(bench.ports.progress.size(), 250);
    QCOMPARE(bench.ports.progress.last(), 100.0);
    QCOMPARE(bench.schema.column("SELECT count(*) FROM t WHERE v LIKE '% %'").value(0).toInt(), 0);
    QCOMPARE(bench.ports.preview.size(), 101);
    QCOMPARE(bench.ports.preview, bench.inDatabaseOrder().mid(0, 101));
    QVERIFY(bench.ports.eventsRun >= 102); // once before the entries, then once per entry
    QCOMPARE(bench.ui.messages, QStringList{"Done."});
}

void TestChangeRun::tableWithoutRowsAsksNothing()
{
    Bench bench({});
    const ChangeRunResult result = bench.run(caption(2), {"_"}); // would ask "Replace With:"

    QCOMPARE(bench.ui.shown, OnlyDone);
    QCOMPARE(bench.ports.preview, QStringList());
    QCOMPARE(bench.ports.progress, QList<double>());
    QCOMPARE(bench.ports.pointers, DonePointers);
    QVERIFY(result.end == End::Done);
    QVERIFY(!result.applied);
}

void TestChangeRun::noFieldSelected()
{
    Bench bench({"a b"});
    bench.ports.account = bench.schema.refusedLogon(); // opening anything would be reported
    bench.ports.fields = 0;
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.ui.shown, QStringList{"message: Please select a field."});
    QCOMPARE(bench.ui.titles, QStringList{Main::ApplicationTitle()});
    QCOMPARE(bench.ports.pointers, QList<int>());
    QCOMPARE(bench.ports.progress, QList<double>());
    QCOMPARE(bench.ports.preview, QStringList{"(shown before the run)"});
    QVERIFY(result.end == End::NoField);
    QCOMPARE(bench.audited(), QList<int>());
}

void TestChangeRun::rejectedStatementReportedRestGoesOn()
{
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    // SQLite keeps no declared length: the check stands in for it.
    Bench bench({" a", "a b", "b "}, "t", "v",
                sqlite ? "varchar(5) CHECK (length(v) <= 5)" : "varchar(5)");
    const ChangeRunResult result = bench.run(caption(2), {"____"});

    compareValues(bench.valuesById(), {"____a", "a b", "b____"});
    QCOMPARE(bench.audited(), (QList<int>{1, 3}));
    QCOMPARE(bench.ui.reports.size(), 1);
    const QString report = bench.ui.reports.first();
    const QString description = report.left(report.indexOf(QStringLiteral("\r\nin ")));
    // Operation 2: test 140, prompt 142, answer test 144, loop 146, value 148,
    // progress 150, statement 152.
    QCOMPARE(report, description + ReportEnd.arg(152));
    const QStringList tooLong{"value too long", "CHECK constraint failed", "Data too long"};
    QVERIFY2(description.contains(tooLong[int(CurrentBackend())]), qPrintable(description));
    QCOMPARE(bench.ui.reportTitles, QStringList{"Application Error"});
    QCOMPARE(bench.ui.shown.last(), OnlyDone.first());
    QCOMPARE(bench.ports.progress.size(), 3);
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.failed, 1);
    QCOMPARE(bench.ports.preview, bench.inDatabaseOrder());
}

void TestChangeRun::openFailureEndsRun_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("step");
    QTest::addColumn<QStringList>("driverText"); // PostgreSQL's, SQLite's, MariaDB's
    QTest::newRow("logon refused")
        << "logon" << 110
        << QStringList{"password authentication failed", "connect failed", "Access denied"};
    QTest::newRow("server stopped") << "server" << 110 << QStringList{"Connection refused", "", ""};
    QTest::newRow("table missing")
        << "table" << 112
        << QStringList{"\"gone\" does not exist", "no such table: gone", ".gone' doesn't exist"};
}

void TestChangeRun::openFailureEndsRun()
{
    QFETCH(QString, failure);
    QFETCH(int, step);
    QFETCH(QStringList, driverText);
    if (failure == u"server" && CurrentBackend() != Backend::PostgreSQL)
        QSKIP("the server the tests stop is PostgreSQL's");
    Bench bench({"a b"});
    if (failure == u"logon")
        bench.ports.account = bench.schema.refusedLogon();
    if (failure == u"table")
        bench.ports.table = QStringLiteral("gone");
    ChangeRunResult result;
    {
        std::optional<ServerStopped> stopped;
        if (failure == u"server")
            stopped.emplace();
        result = bench.run(caption(1));
    }

    const QStringList& reports = bench.ui.reports;
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.first().endsWith(ReportEnd.arg(step)), qPrintable(reports.first()));
    const QString description = reports.first().chopped(ReportEnd.arg(step).size());
    QVERIFY2(description.contains(driverText[int(CurrentBackend())]), qPrintable(description));
    QCOMPARE(bench.ui.shown.size(), 1); // no prompt, no "Done."
    QCOMPARE(bench.ports.pointers, (QList<int>{11, 0}));
    QCOMPARE(bench.ports.preview, QStringList{"(shown before the run)"});
    QCOMPARE(bench.ports.progress, QList<double>());
    QVERIFY(result.end == End::Failed);
    QCOMPARE(result.reports, 1);
    compareValues(bench.valuesById(), {"a b"});
}

void TestChangeRun::notApplied_data()
{
    QTest::addColumn<QString>("operationText");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("shown");
    const QString replaceWith = "prompt: Replace With:";
    const QString done = OnlyDone.first();
    const QStringList mustEnterNumber{"prompt: Enter Number:", "message: Must enter number", done};
    QTest::newRow("replacement cancelled")
        << caption(2) << QStringList() << QStringList{replaceWith, done};
    QTest::newRow("find text empty, both prompts shown")
        << caption(19) << QStringList{"", "x"}
        << QStringList{"prompt: Find What:", replaceWith, done};
    QTest::newRow("number not numeric") << caption(24) << QStringList{"abc"} << mustEnterNumber;
    QTest::newRow("number prompt cancelled: no message")
        << caption(24) << QStringList() << QStringList{"prompt: Enter Number:", done};
    QTest::newRow("replacement cancelled after a find text")
        << caption(19) << QStringList{"-"} << QStringList{"prompt: Find What:", replaceWith, done};
    QTest::newRow("caption in lower case") << caption(1).toLower() << QStringList() << OnlyDone;
    QTest::newRow("caption with a trailing blank") << caption(1) + ' ' << QStringList() << OnlyDone;
    QTest::newRow("no operation text") << QString() << QStringList() << OnlyDone;
}

void TestChangeRun::notApplied()
{
    QFETCH(QString, operationText);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, shown);
    Bench bench({"a b", "x y"});
    const ChangeRunResult result = bench.run(operationText, answers);

    QCOMPARE(bench.ui.shown, shown);
    QCOMPARE(bench.audited(), QList<int>());
    compareValues(bench.valuesById(), {"a b", "x y"});
    QCOMPARE(bench.ports.preview, bench.inDatabaseOrder());
    QCOMPARE(bench.ports.progress, QList<double>());
    QCOMPARE(bench.ports.pointers, DonePointers);
    QVERIFY(result.end == End::Done);
    QVERIFY(!result.applied);
}

void TestChangeRun::numberOverflowReportedOnce()
{
    Bench bench({"abc", "defg", "hijkl"});
    const ChangeRunResult result = bench.run(caption(24), {"40000"});

    // One report, at operation 24's new value step (560); then the refill.
    QCOMPARE(bench.ui.shown,
             (QStringList{"prompt: Enter Number:", "report: Overflow" + ReportEnd.arg(560),
                          OnlyDone.first()}));
    QCOMPARE(bench.audited(), QList<int>());
    QCOMPARE(bench.ports.progress, QList<double>());
    QCOMPARE(bench.ports.preview, (QStringList{"abc", "defg", "hijkl"}));
    QCOMPARE(result.changed, 0);
    QVERIFY(result.end == End::Done);
}

void TestChangeRun::transformFailureSkipsOnlyItsRow()
{
    Bench bench({"abcdefg", "abc", "123456"});
    const ChangeRunResult result = bench.run(caption(25), {"5"}); // "abc" is shorter than 5

    // Operation 25: test 574, prompt 576, tests 578 and 580, loop 582, value 584.
    QCOMPARE(bench.ui.reports,
             QStringList{"Invalid procedure call or argument" + ReportEnd.arg(584)});
    compareValues(bench.valuesById(), {"ab", "abc", "1"});
    QCOMPARE(bench.audited(), (QList<int>{1, 3}));
    QCOMPARE(bench.ports.progress.size(), 3);
    QCOMPARE(bench.ports.progress.last(), 100.0);
    QCOMPARE(result.failed, 1);
    QCOMPARE(bench.ui.shown.last(), OnlyDone.first());
}

void TestChangeRun::namesAsListed_data()
{
    QTest::addColumn<QStringList>("names"); // table, field
    QTest::newRow("lower case") << QStringList{"items", "name"};
    QTest::newRow("mixed case and spaces") << QStringList{"My Items", "first Name"};
    QTest::newRow("apostrophes") << QStringList{"O'Brien's", "it's"};
    QTest::newRow("double quotes") << QStringList{"say \"hi\"", "a\"b"};
}

void TestChangeRun::namesAsListed()
{
    QFETCH(QStringList, names);
    Bench bench({"a b", "c d"}, names[0], names[1]);
    bench.run(caption(1));

    QCOMPARE(bench.ui.shown, OnlyDone);
    compareValues(bench.valuesById(), {"ab", "cd"});
    QCOMPARE(bench.audited(), (QList<int>{1, 2}));
    QCOMPARE(bench.ports.preview, (QStringList{"ab", "cd"}));
}

void TestChangeRun::nonTextColumnSendsNoStatement()
{
    Bench bench({1, 22, QVariant(), -5}, "t", "v", "integer");
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.ui.shown, OnlyDone);
    QCOMPARE(bench.audited(), QList<int>());
    QCOMPARE(result.rows, 4);
    QCOMPARE(result.unchanged, 4);
    QCOMPARE(result.changed, 0);
    QCOMPARE(bench.ports.progress.size(), 4);
    QCOMPARE(bench.ports.preview, (QStringList{"1", "22", "", "-5"}));
}

void TestChangeRun::valuesNeverRunAsSql_data()
{
    QTest::addColumn<QString>("value");
    // Read with standard_conforming_strings off, a backslash escapes the
    // apostrophe that doubling added; the SQLite driver mangles characters
    // outside the BMP in statement text.
    QTest::newRow("backslash before an apostrophe")
        << QStringLiteral("x\\' ); UPDATE other SET v = 'hacked'; --");
    QTest::newRow("backslash before a blank") << QStringLiteral("a\\ b\\");
    QTest::newRow("character outside the BMP before SQL") << QStringLiteral(
        "\U0001F600 '); UPDATE t SET v = NULL; UPDATE other SET v = 'hacked'; --");
}

void TestChangeRun::valuesNeverRunAsSql()
{
    QFETCH(QString, value);
    Bench bench({value, "a b"});
    bench.schema.exec("CREATE TABLE other (v varchar(20))");
    bench.schema.exec("INSERT INTO other VALUES ('kept')");
    if (CurrentBackend() == Backend::PostgreSQL)
        bench.schema.exec("ALTER ROLE CURRENT_USER SET standard_conforming_strings = off");
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.ui.reports, QStringList());
    compareValues(bench.valuesById(), {QString(value).remove(u' '), "ab"});
    QCOMPARE(bench.schema.column("SELECT v FROM other"), QVariantList{"kept"});
    QCOMPARE(result.changed, 2);
}

void TestChangeRun::rowKeyNamesOneRow_data()
{
    QTest::addColumn<QStringList>("create"); // the table t (id, v)
    QTest::addColumn<QString>("backend");    // the backend the row is for
    const QString v = QStringLiteral("v varchar(20)");
    QTest::newRow("PostgreSQL: two partitions, whose rows share their ctids")
        << QStringList{"CREATE TABLE t (id integer, " + v + ") PARTITION BY RANGE (id)",
                       "CREATE TABLE t_low PARTITION OF t FOR VALUES FROM (1) TO (3)",
                       "CREATE TABLE t_high PARTITION OF t FOR VALUES FROM (3) TO (100)"}
        << "postgresql";
    QTest::newRow("PostgreSQL: an inheriting table, whose rows share ctids and ids")
        << QStringList{"CREATE TABLE t (id integer PRIMARY KEY, " + v + ")",
                       "CREATE TABLE t_child () INHERITS (t)",
                       "INSERT INTO t_child VALUES (1, 'c1'), (2, 'c2')"}
        << "postgresql";
    QTest::newRow("PostgreSQL: a primary key")
        << QStringList{"CREATE TABLE t (" + v + ", id integer PRIMARY KEY)"} << "postgresql";
    QTest::newRow("SQLite: a column named rowid")
        << QStringList{"CREATE TABLE t (rowid text, id integer, " + v + ")",
                       "CREATE TRIGGER r AFTER INSERT ON t BEGIN "
                       "UPDATE t SET rowid = 5 - NEW.id WHERE _rowid_ = NEW._rowid_; END"}
        << "sqlite";
    QTest::newRow("SQLite: columns named _rowid_ and rowid")
        << QStringList{"CREATE TABLE t (_rowid_ integer, rowid integer, id integer, " + v + ")",
                       "CREATE TRIGGER r AFTER INSERT ON t BEGIN UPDATE t SET _rowid_ = 1, "
                       "rowid = 1 WHERE oid = NEW.oid; END"}
        << "sqlite";
    QTest::newRow("MariaDB: a unique key of columns that cannot be Null")
        << QStringList{"CREATE TABLE t (n integer, id integer NOT NULL, " + v +
                       ", UNIQUE (n), "
                       "UNIQUE (id))"}
        << "mariadb";
    QTest::newRow("MariaDB: the field in the primary key, which moves with it")
        << QStringList{"CREATE TABLE t (id integer, " + v + ", PRIMARY KEY (v, id))"} << "mariadb";
    QTest::newRow("SQLite: WITHOUT ROWID")
        << QStringList{"CREATE TABLE t (id integer PRIMARY KEY, " + v + ") WITHOUT ROWID"}
        << "sqlite";
}

void TestChangeRun::rowKeyNamesOneRow()
{
    QFETCH(QStringList, create);
    QFETCH(QString, backend);
    if (backend != BackendName())
        QSKIP("a table of another database");
    // Removing the first character twice would show; so would a row missed.
    Bench bench({"a1", "b2", "c3", "d4"}, "t", "v", QString(), create);
    const QStringList before = bench.inDatabaseOrder();
    const ChangeRunResult result = bench.run(caption(24), {"1"});

    QCOMPARE(bench.ui.reports, QStringList());
    // The values, not their order: where rows go when they are updated is
    // the database's own business (two writers place them side by side).
    QStringList expected;
    for (const QString& value : before)
        expected << value.mid(1);
    QStringList after = bench.inDatabaseOrder();
    after.sort();
    expected.sort();
    QCOMPARE(after, expected);
    QCOMPARE(result.changed, before.size());
}

void TestChangeRun::slightEditLeftAlone_data()
{
    QTest::addColumn<QString>("edited");
    QTest::newRow("case only") << "AB x";
    QTest::newRow("an accent only") << "áb x";
    QTest::newRow("a trailing blank only") << "ab x ";
}

// Another user's edit that a case- and accent-blind collation with padded
// compares would not tell from the value read: still a conflict, and kept.
void TestChangeRun::slightEditLeftAlone()
{
    QFETCH(QString, edited);
    Bench bench({"ab x", "cd y"});
    bench.ui.onPrompt = [&] { bench.schema.exec("UPDATE t SET v = ? WHERE id = 1", {edited}); };
    const ChangeRunResult result = bench.run(caption(2), {"_"});

    compareValues(bench.valuesById(), {edited, "cd_y"});
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.conflicts, 1);
}

// Where rows can be named only by a key, a table without one is refused
// before anything is read or written, naming it.
void TestChangeRun::tableWithoutKeyRefused()
{
    if (CurrentBackend() != Backend::MariaDB)
        QSKIP("the other databases name rows by their addresses");
    Bench bench({"a b"}, "t", "v", QString(), {"CREATE TABLE t (id integer, v varchar(20))"});
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.ui.reports.size(), 1);
    QVERIFY2(bench.ui.reports.first().startsWith("Table t: its rows cannot be told apart"),
             qPrintable(bench.ui.reports.first()));
    QVERIFY(result.end == End::Failed);
    compareValues(bench.valuesById(), {"a b"});
}

void TestChangeRun::rowChangedSinceReadLeftAlone()
{
    Bench bench({"row 1 x", "row 2 x", "row 3 x", "row 4 x"});
    // While "Replace With:" is up, someone else edits row 2 and deletes row 3.
    bench.ui.onPrompt = [&] {
        bench.schema.exec("UPDATE t SET v = 'row 2 x edited' WHERE id = 2");
        bench.schema.exec("DELETE FROM t WHERE id = 3");
    };
    const ChangeRunResult result = bench.run(caption(2), {"_"});

    compareValues(bench.valuesById(), {"row_1_x", "row 2 x edited", "row_4_x"});
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.conflicts, 2);
    // Operation 2's statement step is 152.
    QCOMPARE(bench.ui.reports,
             QStringList{"2 rows were changed by someone else after they were read and were left "
                         "alone." +
                         ReportEnd.arg(152)});
    QCOMPARE(bench.ui.shown.last(), OnlyDone.first());
}

// SQLite gives a deleted row's id to the next row added where it was the
// last: a row added so after the run read the deleted one, holding the same
// value, is left alone, told apart by its other columns.
void TestChangeRun::rowIdTakenByAnotherRowLeftAlone()
{
    if (CurrentBackend() != Backend::SQLite)
        QSKIP("PostgreSQL's read keeps the rows' addresses of its moment");
    Bench bench({"a b", "c d"}, "t", "v", QString(),
                {"CREATE TABLE t (id integer, v varchar(20))"});
    // The last row read, and not yet written, goes; the new row takes its id.
    bench.ports.onProgress = [&] {
        if (bench.ports.progress.size() == 2) {
            bench.schema.exec("DELETE FROM t WHERE id = 2");
            bench.schema.exec("INSERT INTO t (_rowid_, id, v) VALUES (2, 20, 'c d')");
        }
    };
    const ChangeRunResult result = bench.run(caption(1));

    compareValues(bench.valuesById(), {"ab", "c d"});
    QCOMPARE(bench.schema.column("SELECT id FROM t WHERE _rowid_ = 2"), QVariantList{20});
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.conflicts, 1);
}

// A row another session adds within a read in key blocks, after the count,
// is read, written and counted: the run's rows are those it went through.
void TestChangeRun::rowAddedWithinTheReadCounted()
{
    if (CurrentBackend() != Backend::SQLite)
        QSKIP("PostgreSQL's read and count see one moment");
    constexpr int Rows = Snapshot::BlockRows + 2;
    const int added = Snapshot::BlockRows + 1;
    QVariantList values(Rows, "ab"); // every row read, a few written
    values.last() = "a1b";
    Bench bench(values, "t", "v", QString(),
                {"CREATE TABLE t (id INTEGER PRIMARY KEY, v varchar(20))"});
    bench.schema.exec(QStringLiteral("DELETE FROM t WHERE id = %1").arg(added));
    // Once the first block is through, the row goes back in the second's range.
    bench.ports.onProgress = [&] {
        if (bench.ports.progress.size() == Snapshot::BlockRows)
            bench.schema.exec(QStringLiteral("INSERT INTO t VALUES (%1, 'a2b')").arg(added));
    };
    const ChangeRunResult result = bench.run(caption(12)); // the digits removed

    QCOMPARE(bench.schema.column("SELECT count(*) FROM t WHERE v = 'ab'"), QVariantList{Rows});
    QCOMPARE(result.rows, Rows);
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.unchanged, Rows - 2);
    QCOMPARE(result.skipped(), 0);
}

// A user who may open two sessions (the read's and one writer's): the
// second writer's connection is refused, and the first writes every batch.
void TestChangeRun::secondWriterRefusedRunGoesOn()
{
    if (CurrentBackend() != Backend::PostgreSQL || RowByRow())
        QSKIP("two writers are PostgreSQL's, in batches");
    Bench bench({"a b", "c d", "e f", "g h", "i j"});
    LimitSessions(bench.schema.userName(), 2);
    const ChangeRunResult result = bench.run(caption(1));

    QCOMPARE(bench.ui.reports, QStringList());
    compareValues(bench.valuesById(), {"ab", "cd", "ef", "gh", "ij"});
    QCOMPARE(bench.audited(), (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(result.changed, 5);
}

void TestChangeRun::lostConnectionEndsRun()
{
    if (CurrentBackend() == Backend::SQLite)
        QSKIP("a SQLite file has no session to end");
    Bench bench({"a b", "c d", "e f", "g h", "i j"});
    // The DBA ends the run's sessions after the first row was written.
    bench.ports.onProgress = [&] {
        if (bench.ports.progress.size() == 2)
            TerminateSessions(bench.schema.userName());
    };
    const ChangeRunResult result = bench.run(caption(1));

    // One report: the write (operation 1's statement step) or, with batches
    // written beside the read, the read (112) that met the lost connection.
    QCOMPARE(bench.ui.reports.size(), 1);
    const bool atWrite = bench.ui.reports.first().endsWith(ReportEnd.arg(132));
    QVERIFY2(atWrite || (!RowByRow() && bench.ui.reports.first().endsWith(ReportEnd.arg(112))),
             qPrintable(bench.ui.reports.first()));
    QCOMPARE(bench.ui.messages, QStringList()); // no "Done."
    QCOMPARE(bench.ports.preview, QStringList{"(shown before the run)"});
    QCOMPARE(bench.ports.pointers.last(), 0);
    QVERIFY(result.end == End::Failed);
    QVERIFY(result.connectionLost);
    if (RowByRow()) { // the first row was written, the second failed
        QCOMPARE(bench.ports.progress.size(), 2);
        compareValues(bench.valuesById(), {"ab", "c d", "e f", "g h", "i j"});
        QCOMPARE(result.changed, 1);
        QCOMPARE(result.failed, 1);
        QCOMPARE(result.skipped(), 3);
    } else { // a batch (of two rows here) is written whole or not at all
        compareValues(bench.valuesById(), {"a b", "c d", "e f", "g h", "i j"});
        QCOMPARE(result.changed, 0);
        QCOMPARE(result.failed + result.skipped(), 5);
    }
}

void TestChangeRun::repeatedFailureReportedOnce()
{
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    QVariantList values(30, " a");
    values[7] = "ab";
    values[20] = "cd";
    Bench bench(values, "t", "v", sqlite ? "varchar(4) CHECK (length(v) <= 4)" : "varchar(4)");
    const ChangeRunResult result = bench.run(caption(2), {"____"});

    QCOMPARE(bench.ui.reports.size(), 2);
    const QString first = bench.ui.reports[0];
    const QString description = first.left(first.indexOf(QStringLiteral("\r\nin ")));
    QCOMPARE(first, description + ReportEnd.arg(152));
    QCOMPARE(bench.ui.reports[1],
             "27 more rows failed the same way: " + description + ReportEnd.arg(152));
    QCOMPARE(bench.ui.shown.last(), OnlyDone.first());
    QCOMPARE(result.failed, 28);
    QCOMPARE(result.unchanged, 2);
    QCOMPARE(result.reports, 2);
}

// char(n) values read blank-padded still find their rows, and no value is
// cut to the one character that a cast to "character" would keep.
void TestChangeRun::charColumnComparedInItsOwnType()
{
    Bench bench({"a", "cd", "e a"}, "t", "v", "char(5)");
    const ChangeRunResult result = bench.run(caption(19), {"a", "zz"});

    QCOMPARE(bench.ui.reports, QStringList());
    QStringList values;
    for (const QVariant& value : bench.valuesById())
        values << value.toString().trimmed();
    QCOMPARE(values, (QStringList{"zz", "cd", "e zz"}));
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.conflicts, 0);
}

void TestChangeRun::batchBoundaries_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("batchRows");
    QTest::addColumn<int>("changed"); // the row another session changes once the first is read
    QTest::newRow("exactly one batch") << 3 << 3 << 0;
    QTest::newRow("one batch and one row") << 4 << 3 << 0;
    QTest::newRow("a batch of eight, one row changed since: the others written") << 8 << 8 << 6;
}

void TestChangeRun::batchBoundaries()
{
    QFETCH(int, rows);
    QFETCH(int, batchRows);
    QFETCH(int, changed);
    QVariantList values;
    QVariantList expected;
    for (int i = 1; i <= rows; ++i) {
        values << QStringLiteral("r %1").arg(i);
        expected << (i == changed ? QStringLiteral("r %1 edited").arg(i)
                                  : QStringLiteral("r%1").arg(i));
    }
    Bench bench(values);
    bench.ports.operation = caption(1);
    bench.ports.onProgress = [&] {
        if (changed > 0 && bench.ports.progress.size() == 1)
            bench.schema.exec(
                QStringLiteral("UPDATE t SET v = 'r %1 edited' WHERE id = %1").arg(changed));
    };
    ChangeRunOptions options = Options();
    options.batchRows = batchRows;
    const ChangeRunResult result = bench.runWith(options);

    compareValues(bench.valuesById(), expected);
    QCOMPARE(bench.audited().size(), rows); // each row written once, by the run or the edit
    QCOMPARE(result.changed, rows - (changed > 0 ? 1 : 0));
    QCOMPARE(result.conflicts, changed > 0 ? 1 : 0);
    QCOMPARE(bench.ui.shown.last(), OnlyDone.first());
}

void TestChangeRun::onlyRowsThatMayChangeAreRead_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QVariantList>("before");
    QTest::addColumn<QVariantList>("after");
    QTest::addColumn<QList<int>>("places"); // the rows read, from 1
    const QVariant null;
    QTest::newRow("rows without a blank passed over, the last ones too")
        << "text" << 1 << QStringList() << QVariantList{"ab", "c d", null, "ef"}
        << QVariantList{"ab", "cd", null, "ef"} << QList<int>{2};
    QTest::newRow("a column of a nondeterministic collation")
        << "varchar(20) COLLATE nocase" << 1 << QStringList() << QVariantList{"A b", "ab", "a B"}
        << QVariantList{"Ab", "ab", "aB"} << QList<int>{1, 3};
    QTest::newRow("an answer found as it is, not as a pattern")
        << "text" << 18 << QStringList{"%_"} << QVariantList{"a%b", "a%_b", "a_b"}
        << QVariantList{"a%b", "ab", "a_b"} << QList<int>{2};
    QTest::newRow("an answer outside the BMP")
        << "text" << 19 << QStringList{"\U0001F600", "!"} << QVariantList{"x\U0001F600", "x"}
        << QVariantList{"x!", "x"} << QList<int>{1};
}

// Where the database can narrow the read, only the rows that hold what the
// operation changes are read; the others count as unchanged, and the
// progress follows the rows read to 100.
void TestChangeRun::onlyRowsThatMayChangeAreRead()
{
    QFETCH(QString, type);
    QFETCH(int, operation);
    QFETCH(QStringList, answers);
    QFETCH(QVariantList, before);
    QFETCH(QVariantList, after);
    QFETCH(QList<int>, places);
    const bool postgresql = CurrentBackend() == Backend::PostgreSQL;
    QStringList create;
    if (!postgresql)
        type = type.section(u' ', 0, 0);
    else if (type.contains("nocase"))
        create << "CREATE COLLATION nocase (provider = icu, locale = 'und-u-ks-level2', "
                  "deterministic = false)";
    const bool keyed = CurrentBackend() == Backend::MariaDB; // rows named by a key only
    create << "CREATE TABLE t (id integer" + QString(keyed ? " PRIMARY KEY" : "") + ", v " + type +
                  ")";
    Bench bench(before, "t", "v", type, create);
    const ChangeRunResult result = bench.run(caption(operation), answers);

    QCOMPARE(bench.ui.reports, QStringList());
    compareValues(bench.valuesById(), after);
    QCOMPARE(result.changed, places.size());
    QCOMPARE(result.unchanged, before.size() - places.size());
    QList<double> progress; // over the rows read
    // MariaDB's reads are not narrowed: its collations would find other texts.
    const int read = keyed ? int(before.size()) : int(places.size());
    for (int k = 1; k <= read; ++k)
        progress << double(k) / read * 100.0;
    QCOMPARE(bench.ports.progress, progress);
}

QTEST_GUILESS_MAIN(TestChangeRun)
#include "tst_changerun.moc"
