// quorvane-cli's database commands as a real process against the real test
// databases: tables, fields, preview and the change run, with the logon from
// the command line, the environment or the per-user settings store.

#include "tests/support/TestDatabases.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <memory>

using namespace TestDatabases;

namespace
{

constexpr int ExitOk = 0;
constexpr int ExitReported = 1;
constexpr int ExitUsage = 2;
constexpr int ExitNotApplied = 3;

// Stands for a database Null in the expected rows.
const QString Null = QStringLiteral("<NULL>");

struct CliRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// The child's environment: this process's (the SQLite connection template
// included), a settings folder of the test's own, and the password variable
// set or removed.
QProcessEnvironment cliEnvironment(const QString& configHome, const QString& password,
                                   bool withPassword = true)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("XDG_DATA_HOME"), configHome + QStringLiteral("/data"));
    if (withPassword)
        env.insert(QStringLiteral("QUORVANE_PASSWORD"), password);
    else
        env.remove(QStringLiteral("QUORVANE_PASSWORD"));
    return env;
}

CliRun runCli(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVANE_CLI_PATH), args);
    CliRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.closeWriteChannel();
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList logonArgs(const Logon& logon)
{
    QStringList args{QStringLiteral("--sid"), logon.sid, QStringLiteral("--user"), logon.user};
    if (!logon.driver.isEmpty())
        args << QStringLiteral("--driver") << logon.driver;
    return args;
}

// Every stdout line as the JSON string it must be; none with a reason on failure.
std::optional<QStringList> jsonStrings(const QByteArray& out, QString* why)
{
    if (!out.isEmpty() && !out.endsWith('\n')) {
        *why = QStringLiteral("last line without newline");
        return std::nullopt;
    }
    QList<QByteArray> lines = out.split('\n');
    lines.removeLast();
    QStringList texts;
    for (const QByteArray& line : lines) {
        const QJsonDocument doc = QJsonDocument::fromJson('[' + line + ']');
        if (!doc.isArray() || doc.array().size() != 1 || !doc.array().at(0).isString()) {
            *why = QStringLiteral("not one JSON string: ") + QString::fromUtf8(line);
            return std::nullopt;
        }
        texts << doc.array().at(0).toString();
    }
    return texts;
}

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

// The step numbers of the change run's reports in stderr, in order. Each must
// be a whole report: a description line, the location with the step, an empty
// line and the request to send a screenshot to an address, then a blank line.
QList<int> reportedSteps(const QString& err)
{
    static const QRegularExpression report(
        QStringLiteral("(?:^|\\n)[^\\n]+\\nin Quorvex2021/08/31\\.Form2\\.PushButton1_Click "
                       "at line (\\d+)\\n\\nPlease email screenshot of this message to "
                       "[^\\s@]+@[^\\s@]+\\.example\\n\\n"));
    QList<int> steps;
    for (auto it = report.globalMatch(err); it.hasNext();)
        steps << it.next().captured(1).toInt();
    if (err.count(QStringLiteral("Please email screenshot")) != steps.size())
        steps << -1; // a report that is not whole
    return steps;
}

QStringList stderrLines(const QString& err)
{
    return err.split(u'\n', Qt::SkipEmptyParts);
}

QString literal(const QString& text)
{
    if (text == Null)
        return QStringLiteral("NULL");
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("''"));
    return u'\'' + quoted + u'\'';
}

// CREATE TABLE table (id integer PRIMARY KEY, field <type>) with the values
// as rows 1, 2, ... (Null for the Null marker).
void createTable(Schema& schema, const QString& table, const QString& field,
                 const QStringList& values, const QString& type = QStringLiteral("varchar(100)"))
{
    schema.exec(QStringLiteral("CREATE TABLE %1 (id integer PRIMARY KEY, %2 %3)")
                    .arg(Quoted(table), Quoted(field), type));
    if (values.isEmpty())
        return;
    QStringList rows;
    for (qsizetype i = 0; i < values.size(); ++i)
        rows << QStringLiteral("(%1, %2)").arg(i + 1).arg(literal(values.at(i)));
    schema.exec(QStringLiteral("INSERT INTO %1 (id, %2) VALUES %3")
                    .arg(Quoted(table), Quoted(field), rows.join(QStringLiteral(", "))));
}

// The field's values in id order, Null as the marker.
QStringList valuesById(Schema& schema, const QString& table, const QString& field)
{
    QStringList values;
    for (const QVariant& value : schema.column(
             QStringLiteral("SELECT %1 FROM %2 ORDER BY id").arg(Quoted(field), Quoted(table))))
        values << (value.isNull() ? Null : value.toString());
    return values;
}

// What the preview shows of the values: Null as the empty text.
QStringList shown(QStringList values)
{
    std::replace(values.begin(), values.end(), Null, QString());
    return values;
}

// Names with a blank and an apostrophe everywhere; a double quote too where
// the database allows it in a test-made name.
QString runTableName()
{
    return CurrentBackend() == Backend::PostgreSQL ? QStringLiteral("Run's \"table\"")
                                                   : QStringLiteral("Run's table");
}
const QString RunField = QStringLiteral("a field");

} // namespace

class TestCliDb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void listsOwnTables();
    void listsFieldsInColumnOrder();
    void preview_data();
    void preview();
    void run_data();
    void run();
    void rejectedStatement();
    void refusedLogon();
    void logonFromSettingsStore_data();
    void logonFromSettingsStore();
    void badUsage_data();
    void badUsage();
    void unknownTableOrField_data();
    void unknownTableOrField();
    void qtMessagesOnlyInTheDebugLog_data();
    void qtMessagesOnlyInTheDebugLog();
    void killedRunUndoneExactly();
    void stoppedRunAsJournaled_data();
    void stoppedRunAsJournaled();
    void lockWaitIsOneLine();
    void undoRefusedWhileTheRunWrites();
    void driversListed();
    void driverChosen_data();
    void driverChosen();

private:
    std::unique_ptr<QTemporaryDir> m_configHome;
    QString configHome() const { return m_configHome->path(); }
};

void TestCliDb::initTestCase()
{
    try {
        REQUIRE_TEST_DATABASES();
    } catch (const std::exception& error) {
        QFAIL(error.what());
    }
    qInfo("backend: %s", qPrintable(BackendName()));
}

void TestCliDb::init()
{
    m_configHome = std::make_unique<QTemporaryDir>();
    QVERIFY(m_configHome->isValid());
}

void TestCliDb::listsOwnTables()
{
    Schema mine(QStringLiteral("mine"));
    Schema other(QStringLiteral("other"));
    QStringList tables = {QStringLiteral("plain"), QStringLiteral("Name's table")};
    if (CurrentBackend() == Backend::PostgreSQL)
        tables << QStringLiteral("with \"quote\"");
    for (const QString& table : tables)
        mine.exec(QStringLiteral("CREATE TABLE %1 (x varchar(5))").arg(Quoted(table)));
    other.exec(QStringLiteral("CREATE TABLE elsewhere (x varchar(5))"));

    const CliRun run = runCli(QStringList{QStringLiteral("tables")} + logonArgs(mine.logon()),
                              cliEnvironment(configHome(), mine.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitOk);
    QString why;
    const auto listed = jsonStrings(run.out, &why);
    QVERIFY2(listed, qPrintable(why));
    QCOMPARE(sorted(*listed), sorted(tables));
}

void TestCliDb::listsFieldsInColumnOrder()
{
    Schema schema(QStringLiteral("fields"));
    const QStringList columns = {QStringLiteral("id"), QStringLiteral("b field"),
                                 QStringLiteral("it's"), QStringLiteral("Zeta"),
                                 QStringLiteral("alpha")};
    QStringList definitions;
    for (const QString& column : columns)
        definitions << Quoted(column) + QStringLiteral(" varchar(10)");
    schema.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                    .arg(Quoted(QStringLiteral("Field's table")), definitions.join(u',')));
    schema.exec(QStringLiteral("INSERT INTO %1 VALUES ('1', 'b', 'c', 'd', 'e')")
                    .arg(Quoted(QStringLiteral("Field's table"))));

    const CliRun run = runCli(QStringList{QStringLiteral("fields"), QStringLiteral("--table"),
                                          QStringLiteral("Field's table")} +
                                  logonArgs(schema.logon()),
                              cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitOk);
    QString why;
    const auto listed = jsonStrings(run.out, &why);
    QVERIFY2(listed, qPrintable(why));
    QCOMPARE(*listed, columns);
}

void TestCliDb::preview_data()
{
    QTest::addColumn<QStringList>("values");

    QStringList many;
    for (int i = 1; i <= 250; ++i)
        many << QStringLiteral("r%1").arg(i, 3, 10, QLatin1Char('0'));
    many[1] = Null;
    many[4] = QStringLiteral("tab\there \"quoted\"");
    many[5] = QStringLiteral("line\r\nbreak O'Neil");
    QTest::newRow("250 rows show the first 101, Null as empty") << many;
    QTest::newRow("3 rows show all 3")
        << QStringList{QStringLiteral("x"), Null, QStringLiteral("x")};
    QTest::newRow("no rows show nothing") << QStringList{};
}

void TestCliDb::preview()
{
    QFETCH(QStringList, values);
    Schema schema(QStringLiteral("preview"));
    const QString table = QStringLiteral("Preview's table");
    createTable(schema, table, RunField, values);

    const CliRun run = runCli(QStringList{QStringLiteral("preview"), QStringLiteral("--table"),
                                          table, QStringLiteral("--field"), RunField} +
                                  logonArgs(schema.logon()),
                              cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitOk);
    QString why;
    const auto listed = jsonStrings(run.out, &why);
    QVERIFY2(listed, qPrintable(why));
    QCOMPARE(*listed, shown(values.mid(0, 101)));
}

void TestCliDb::run_data()
{
    QTest::addColumn<QStringList>("options"); // --operation and its answers
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("messages"); // lines stderr must hold, in order

    const QStringList done = {QStringLiteral("Done.")};
    const QStringList mixed = {QStringLiteral("a b"),         QStringLiteral(" c  d "),
                               QStringLiteral("t\tu v\r\nw"), Null,
                               QStringLiteral("O'Neil s"),    QStringLiteral("xy")};
    QTest::newRow("operation 1 removes every space, Null and unchanged rows kept")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("1")} << mixed
        << QStringList{QStringLiteral("ab"),         QStringLiteral("cd"),
                       QStringLiteral("t\tuv\r\nw"), Null,
                       QStringLiteral("O'Neils"),    QStringLiteral("xy")}
        << ExitOk << done;
    QTest::newRow("operation 1, one statement per row")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("1"),
                       QStringLiteral("--row-by-row")}
        << QStringList{QStringLiteral("a b"), QStringLiteral("cd"), QStringLiteral("e f")}
        << QStringList{QStringLiteral("ab"), QStringLiteral("cd"), QStringLiteral("ef")} << ExitOk
        << done;
    QTest::newRow("operation 2 answered with --answer=_")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("2"),
                       QStringLiteral("--answer=_")}
        << QStringList{QStringLiteral("a b c"), QStringLiteral("it's  ok")}
        << QStringList{QStringLiteral("a_b_c"), QStringLiteral("it's__ok")} << ExitOk << done;
    QTest::newRow("operation 19 takes its two answers in order")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("19"),
                       QStringLiteral("--answer"),    QStringLiteral("o'"),
                       QStringLiteral("--answer"),    QStringLiteral("of the ")}
        << QStringList{QStringLiteral("five o'clock"), QStringLiteral("no match")}
        << QStringList{QStringLiteral("five of the clock"), QStringLiteral("no match")} << ExitOk
        << done;
    QTest::newRow("two rows with the same value each change once")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("19"),
                       QStringLiteral("--answer"),    QStringLiteral("a"),
                       QStringLiteral("--answer"),    QStringLiteral("aa")}
        << QStringList{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("ba")}
        << QStringList{QStringLiteral("aa"), QStringLiteral("aa"), QStringLiteral("baa")} << ExitOk
        << done;
    QTest::newRow("operation 24 with a number removes the first characters")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("24"),
                       QStringLiteral("--answer"), QStringLiteral("2")}
        << QStringList{QStringLiteral("abcd"), QStringLiteral("xyz")}
        << QStringList{QStringLiteral("cd"), QStringLiteral("z")} << ExitOk << done;
    QTest::newRow("operation 2 without an answer is not applied")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("2")}
        << QStringList{QStringLiteral("a b"), QStringLiteral("c d")}
        << QStringList{QStringLiteral("a b"), QStringLiteral("c d")} << ExitNotApplied << done;
    QTest::newRow("operation 24 answered abc must enter number")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("24"),
                       QStringLiteral("--answer"), QStringLiteral("abc")}
        << QStringList{QStringLiteral("abcd"), QStringLiteral("xyz")}
        << QStringList{QStringLiteral("abcd"), QStringLiteral("xyz")} << ExitNotApplied
        << QStringList{QStringLiteral("Must enter number"), QStringLiteral("Done.")};
    QTest::newRow("a table without rows asks nothing and is done")
        << QStringList{QStringLiteral("--operation"), QStringLiteral("2")} << QStringList{}
        << QStringList{} << ExitOk << done;
}

void TestCliDb::run()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(int, exitCode);
    QFETCH(QStringList, messages);
    Schema schema(QStringLiteral("run"));
    const QString table = runTableName();
    createTable(schema, table, RunField, before);

    const CliRun run = runCli(QStringList{QStringLiteral("run"), QStringLiteral("--table"), table,
                                          QStringLiteral("--field"), RunField} +
                                  options + logonArgs(schema.logon()),
                              cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr:\n%2").arg(run.exitCode).arg(run.err)));
    QCOMPARE(reportedSteps(run.err), QList<int>{});
    QCOMPARE(valuesById(schema, table, RunField), after);

    // The messages on lines of their own, in order; progress only when rows changed.
    const QStringList lines = stderrLines(run.err);
    qsizetype from = 0;
    for (const QString& message : messages) {
        const qsizetype at = lines.indexOf(message, from);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("no line '%1' in:\n%2").arg(message, run.err)));
        from = at + 1;
    }
    const bool changed = exitCode == ExitOk && !before.isEmpty();
    QCOMPARE(lines.contains(QStringLiteral("Progress: 100%")), changed);
    QVERIFY2(lines.last().startsWith(QStringLiteral("Summary: {\"rows\":%1,").arg(before.size())),
             qPrintable(run.err));

    // stdout: the refreshed preview, i.e. the field as it now is.
    QString why;
    const auto listed = jsonStrings(run.out, &why);
    QVERIFY2(listed, qPrintable(why));
    QCOMPARE(sorted(*listed), sorted(shown(after)));
}

void TestCliDb::rejectedStatement()
{
    Schema schema(QStringLiteral("reject"));
    const QString table = runTableName();
    // SQLite keeps no length limit of its own: a check says the same there.
    const QString type =
        CurrentBackend() == Backend::PostgreSQL
            ? QStringLiteral("varchar(5)")
            : QStringLiteral("varchar(5) CHECK (length(%1) <= 5)").arg(Quoted(RunField));
    createTable(schema, table, RunField,
                {QStringLiteral("a b"), QStringLiteral("a b c"), QStringLiteral("c d")}, type);

    // Operation 2 with "__": the second row's new value "a__b__c" does not fit.
    const CliRun run =
        runCli(QStringList{QStringLiteral("run"), QStringLiteral("--table"), table,
                           QStringLiteral("--field"), RunField, QStringLiteral("--operation"),
                           QStringLiteral("2"), QStringLiteral("--answer"), QStringLiteral("__")} +
                   logonArgs(schema.logon()),
               cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitReported);
    // Operation 2: test 140, prompt 142, empty test 144, loop head 146,
    // new value 148, progress 150, statement 152.
    QVERIFY2(reportedSteps(run.err) == QList<int>{152}, qPrintable(run.err));
    QCOMPARE(
        valuesById(schema, table, RunField),
        (QStringList{QStringLiteral("a__b"), QStringLiteral("a b c"), QStringLiteral("c__d")}));
    // The run went on to its end: refill and "Done.", then the counts.
    QVERIFY2(stderrLines(run.err).contains(QStringLiteral("Done.")), qPrintable(run.err));
    QCOMPARE(stderrLines(run.err).last(),
             QStringLiteral(
                 "Summary: {\"rows\":3,\"changed\":2,\"unchanged\":0,\"failed\":1,"
                 "\"conflicts\":0,\"skipped\":0,\"stopped\":false,\"connectionLost\":false}"));
    QString why;
    const auto listed = jsonStrings(run.out, &why);
    QVERIFY2(listed, qPrintable(why));
    QCOMPARE(sorted(*listed),
             sorted({QStringLiteral("a__b"), QStringLiteral("a b c"), QStringLiteral("c__d")}));
}

void TestCliDb::refusedLogon()
{
    Schema schema(QStringLiteral("refused"));
    const QString table = runTableName();
    createTable(schema, table, RunField, {QStringLiteral("a b")});
    const Logon refused = schema.refusedLogon();

    const CliRun run = runCli(QStringList{QStringLiteral("run"), QStringLiteral("--table"), table,
                                          QStringLiteral("--field"), RunField,
                                          QStringLiteral("--operation"), QStringLiteral("1")} +
                                  logonArgs(refused),
                              cliEnvironment(configHome(), refused.password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitReported);
    QVERIFY2(reportedSteps(run.err) == QList<int>{110}, qPrintable(run.err));
    QVERIFY2(!stderrLines(run.err).contains(QStringLiteral("Done.")), qPrintable(run.err));
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(valuesById(schema, table, RunField), QStringList{QStringLiteral("a b")});
}

void TestCliDb::logonFromSettingsStore_data()
{
    QTest::addColumn<bool>("storeRefused");   // the store holds the refused logon
    QTest::addColumn<bool>("givenOnCommand"); // --sid, --user and QUORVANE_PASSWORD given
    QTest::addColumn<int>("exitCode");

    QTest::newRow("store alone gives the whole logon") << false << false << ExitOk;
    QTest::newRow("store alone with a refused logon fails") << true << false << ExitReported;
    QTest::newRow("given logon wins over the store") << true << true << ExitOk;
}

void TestCliDb::logonFromSettingsStore()
{
    QFETCH(bool, storeRefused);
    QFETCH(bool, givenOnCommand);
    QFETCH(int, exitCode);
    Schema schema(QStringLiteral("store"));
    schema.exec(QStringLiteral("CREATE TABLE stored (x varchar(5))"));
    const Logon good = schema.logon();
    const Logon stored = storeRefused ? schema.refusedLogon() : good;
    {
        // Where the program's per-user store lives on this platform.
        QSettings settings(QDir(configHome()).filePath(QStringLiteral("Brenlow/Quorvane.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("OracleSID"), stored.sid);
        settings.setValue(QStringLiteral("OracleUser"), stored.user);
        settings.setValue(QStringLiteral("OraclePassword"), stored.password);
        if (!stored.driver.isEmpty())
            settings.setValue(QStringLiteral("OdbcDriver"), stored.driver);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }

    const CliRun run = runCli(QStringList{QStringLiteral("tables")} +
                                  (givenOnCommand ? logonArgs(good) : QStringList{}),
                              cliEnvironment(configHome(), good.password, givenOnCommand));
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr:\n%2").arg(run.exitCode).arg(run.err)));
    if (exitCode == ExitOk) {
        QString why;
        const auto listed = jsonStrings(run.out, &why);
        QVERIFY2(listed, qPrintable(why));
        QCOMPARE(*listed, QStringList{QStringLiteral("stored")});
    } else {
        QCOMPARE(run.out, QByteArray());
        QVERIFY(!run.err.isEmpty());
    }
}

void TestCliDb::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    const QString t = QStringLiteral("--table");
    const QString f = QStringLiteral("--field");
    const QString o = QStringLiteral("--operation");
    const QString table = runTableName();
    const QString run = QStringLiteral("run");
    QTest::newRow("run without --table") << QStringList{run, f, RunField, o, QStringLiteral("1")};
    QTest::newRow("run without --field") << QStringList{run, t, table, o, QStringLiteral("1")};
    QTest::newRow("run without --operation") << QStringList{run, t, table, f, RunField};
    QTest::newRow("run with operation 28")
        << QStringList{run, t, table, f, RunField, o, QStringLiteral("28")};
    QTest::newRow("run with two answers for operation 2")
        << QStringList{run,
                       t,
                       table,
                       f,
                       RunField,
                       o,
                       QStringLiteral("2"),
                       QStringLiteral("--answer=a"),
                       QStringLiteral("--answer=b")};
    QTest::newRow("fields without --table") << QStringList{QStringLiteral("fields")};
    QTest::newRow("preview without --field") << QStringList{QStringLiteral("preview"), t, table};
    QTest::newRow("tables with --table") << QStringList{QStringLiteral("tables"), t, table};
}

void TestCliDb::badUsage()
{
    QFETCH(QStringList, args);
    Schema schema(QStringLiteral("usage"));
    const QString table = runTableName();
    createTable(schema, table, RunField, {QStringLiteral("a b")});

    const CliRun run = runCli(args + logonArgs(schema.logon()),
                              cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitUsage);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(run.err.contains(QStringLiteral("Usage:")), qPrintable(run.err));
    QCOMPARE(valuesById(schema, table, RunField), QStringList{QStringLiteral("a b")});
}

void TestCliDb::unknownTableOrField_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString t = QStringLiteral("--table");
    const QString f = QStringLiteral("--field");
    const QStringList change = {QStringLiteral("--operation"), QStringLiteral("1")};
    const QString run = QStringLiteral("run");
    const QString preview = QStringLiteral("preview");
    const QString table = runTableName();
    const QString noTable = QStringLiteral("no such table");
    const QString noField = QStringLiteral("no field");
    QTest::newRow("run with an unknown table")
        << QStringList{run, t, noTable, f, RunField} + change << "No table " + noTable;
    QTest::newRow("run with an unknown field")
        << QStringList{run, t, table, f, noField} + change
        << QStringLiteral("No field %1 in %2").arg(noField, table);
    QTest::newRow("dry run with an unknown table")
        << QStringList{run, t, noTable, f, RunField, QStringLiteral("--dry-run")} + change
        << "No table " + noTable;
    QTest::newRow("dry run with an unknown field")
        << QStringList{run, t, table, f, noField, QStringLiteral("--dry-run")} + change
        << QStringLiteral("No field %1 in %2").arg(noField, table);
    QTest::newRow("run with the table's name in other letters")
        << QStringList{run, t, table.toUpper(), f, RunField} + change
        << "No table " + table.toUpper();
    QTest::newRow("run with the field's name in other letters")
        << QStringList{run, t, table, f, RunField.toUpper()} + change
        << QStringLiteral("No field %1 in %2").arg(RunField.toUpper(), table);
    QTest::newRow("preview with an unknown table")
        << QStringList{preview, t, noTable, f, RunField} << "No table " + noTable;
    QTest::newRow("preview with an unknown field")
        << QStringList{preview, t, table, f, noField}
        << QStringLiteral("No field %1 in %2").arg(noField, table);
    QTest::newRow("fields with an unknown table")
        << QStringList{QStringLiteral("fields"), t, noTable} << "No table " + noTable;
}

// A table or field the windows would not offer is bad input: the message
// alone on stderr, nothing read or written.
void TestCliDb::unknownTableOrField()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    Schema schema(QStringLiteral("unknown"));
    const QString table = runTableName();
    createTable(schema, table, RunField, {QStringLiteral("a b")});

    const CliRun run = runCli(args + logonArgs(schema.logon()),
                              cliEnvironment(configHome(), schema.logon().password));
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == ExitUsage,
             qPrintable(QStringLiteral("exit %1, stderr:\n%2").arg(run.exitCode).arg(run.err)));
    QCOMPARE(run.err, QStringLiteral("quorvane-cli: %1\n").arg(message));
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(valuesById(schema, table, RunField), QStringList{QStringLiteral("a b")});
    const CliRun history =
        runCli({QStringLiteral("history")}, cliEnvironment(configHome(), schema.logon().password));
    QCOMPARE(history.out, QByteArray());
}

void TestCliDb::qtMessagesOnlyInTheDebugLog_data()
{
    QTest::addColumn<bool>("logged"); // QUORVANE_DEBUG_LOG set
    QTest::newRow("without a debug log") << false;
    QTest::newRow("with a debug log") << true;
}

// A user who may only read the table runs a change: every write fails. The
// user sees the program's report and its tally, none of Qt's own warning
// lines; with a debug log named, those go there.
void TestCliDb::qtMessagesOnlyInTheDebugLog()
{
    QFETCH(bool, logged);
    Schema schema(QStringLiteral("reader"));
    const QString table = runTableName();
    QStringList values;
    for (int i = 1; i <= 30; ++i)
        values << QStringLiteral("a %1").arg(i);
    createTable(schema, table, RunField, values);
    if (CurrentBackend() == Backend::PostgreSQL) {
        schema.exec(QStringLiteral("REVOKE INSERT, UPDATE, DELETE ON %1 FROM %2")
                        .arg(Quoted(table), schema.userName()));
    } else if (CurrentBackend() == Backend::MariaDB) {
        schema.exec(QStringLiteral("CREATE TRIGGER read_only BEFORE UPDATE ON %1 FOR EACH ROW "
                                   "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'permission denied'")
                        .arg(Quoted(table)));
    } else {
        // SQLite has no roles: a trigger refuses every change the same way.
        schema.exec(QStringLiteral("CREATE TRIGGER read_only BEFORE UPDATE ON %1 "
                                   "BEGIN SELECT RAISE(ABORT, 'permission denied'); END")
                        .arg(Quoted(table)));
    }
    QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    const QString log = QDir(configHome()).filePath(QStringLiteral("debug.log"));
    if (logged)
        env.insert(QStringLiteral("QUORVANE_DEBUG_LOG"), log);
    else
        env.remove(QStringLiteral("QUORVANE_DEBUG_LOG"));

    const CliRun run = runCli(QStringList{QStringLiteral("run"), QStringLiteral("--table"), table,
                                          QStringLiteral("--field"), RunField,
                                          QStringLiteral("--operation"), QStringLiteral("1")} +
                                  logonArgs(schema.logon()),
                              env);
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitReported);
    // Operation 1's statement is step 132: reported once, then once tallied.
    QVERIFY2(run.err.count(QStringLiteral("PushButton1_Click at line 132\n")) == 2,
             qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("\n29 more rows failed the same way: ")),
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("QODBC")), qPrintable(run.err));
    QCOMPARE(valuesById(schema, table, RunField), values);

    QFile file(log);
    QCOMPARE(file.exists(), logged);
    if (logged) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(file.readAll());
        QVERIFY2(written.count(QStringLiteral("QODBCResult::exec: Unable to execute statement")) >=
                     values.size(),
                 qPrintable(written));
    }
}

namespace
{

// `rows` rows 'w <id>' in t, with a copy to compare with.
void fillWithCopy(Schema& schema, bool primaryKey, int rows)
{
    const Backend backend = CurrentBackend();
    // MariaDB names rows by a key only.
    schema.exec(primaryKey || backend == Backend::MariaDB
                    ? "CREATE TABLE t (id integer PRIMARY KEY, v varchar(40))"
                    : "CREATE TABLE t (id integer, v varchar(40))");
    if (backend == Backend::MariaDB)
        schema.exec(QStringLiteral("INSERT INTO t SELECT seq, CONCAT('w ', seq) FROM seq_1_to_%1")
                        .arg(rows));
    else
        schema.exec(backend == Backend::SQLite
                        ? "WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g "
                          "WHERE i < ?) INSERT INTO t SELECT i, 'w ' || i FROM g"
                        : "INSERT INTO t SELECT i, 'w ' || i FROM generate_series(1, ?) AS i",
                    {rows});
    schema.exec("CREATE TABLE t_copy (id integer PRIMARY KEY, v varchar(40))");
    schema.exec("INSERT INTO t_copy SELECT id, v FROM t");
}

// quorvane-cli removing the blanks of t.v, started.
std::unique_ptr<QProcess> startRun(const Schema& schema, const QProcessEnvironment& env)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(QUORVANE_CLI_PATH),
                   QStringList{"run", "--table", "t", "--field", "v", "--operation", "1"} +
                       logonArgs(schema.logon()));
    return process;
}

int differing(Schema& schema)
{
    return schema.column("SELECT count(*) FROM t JOIN t_copy c ON c.id = t.id WHERE t.v <> c.v")
        .value(0)
        .toInt();
}

int summaryCount(const QString& err, const QString& name)
{
    const QRegularExpression count(QStringLiteral("Summary: .*\"%1\":(\\d+)").arg(name));
    const QRegularExpressionMatch match = count.match(err);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

// A run killed with SIGKILL part way: undo restores exactly the rows it
// wrote, and history shows the run as it was left.
void TestCliDb::killedRunUndoneExactly()
{
    Schema schema(QStringLiteral("killed"));
    fillWithCopy(schema, false, 50000);
    const QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    const auto process = startRun(schema, env);
    QVERIFY(process->waitForStarted(10000));
    QElapsedTimer waited;
    waited.start();
    while (differing(schema) < 50 && waited.elapsed() < 60000)
        QTest::qWait(20);
    process->kill();
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::CrashExit);
    const int written = differing(schema);
    QVERIFY2(written >= 50 && written < 50000, qPrintable(QString::number(written)));

    const CliRun history = runCli({"history"}, env);
    QCOMPARE(history.exitCode, ExitOk);
    QVERIFY2(history.out.startsWith("{") && history.out.contains("\"state\":\"running\""),
             history.out.constData());

    const CliRun undo = runCli(QStringList{"undo"} + logonArgs(schema.logon()), env);
    QVERIFY2(undo.exitCode == ExitOk, qPrintable(undo.err));
    QCOMPARE(differing(schema), 0);
    const QString summary = stderrLines(undo.err).last();
    QVERIFY2(summary.contains(QStringLiteral("\"restored\":%1,\"conflicts\":0").arg(written)),
             qPrintable(summary));
    // Undone once, it cannot be undone again.
    QCOMPARE(runCli(QStringList{"undo"} + logonArgs(schema.logon()), env).exitCode, ExitUsage);
    const CliRun after = runCli({"history"}, env);
    const QJsonObject entry = QJsonDocument::fromJson(after.out.split('\n').first()).object();
    QCOMPARE(entry.value("restored").toInt(-1), written);
    QCOMPARE(entry.value("conflictsLeft").toInt(-1), 0);
    QCOMPARE(entry.value("toUndo").toInt(-1), 0);
    QCOMPARE(entry.value("undone").toBool(), true);
}

// SIGINT at several points of a batched run: the summary and the journal say
// exactly what the table holds, and the undo gives back the table as it was.
void TestCliDb::stoppedRunAsJournaled_data()
{
    QTest::addColumn<bool>("primaryKey");
    QTest::addColumn<int>("writtenBeforeStop");
    QTest::newRow("primary key, stopped at the first rows") << true << 1;
    QTest::newRow("primary key, stopped part way") << true << 8000;
    QTest::newRow("row address, stopped part way") << false << 8000;
}

void TestCliDb::stoppedRunAsJournaled()
{
    QFETCH(bool, primaryKey);
    QFETCH(int, writtenBeforeStop);
    if (!primaryKey && CurrentBackend() == Backend::MariaDB)
        QSKIP("MariaDB's rows have no addresses");
    Schema schema(QStringLiteral("stopped"));
    fillWithCopy(schema, primaryKey, 30000);
    const QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    const auto running = startRun(schema, env);
    QProcess& process = *running;
    QVERIFY(process.waitForStarted(10000));
    QElapsedTimer waited;
    waited.start();
    while (differing(schema) < writtenBeforeStop && waited.elapsed() < 60000 &&
           process.state() == QProcess::Running)
        QTest::qWait(20);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(err));

    const int written = differing(schema);
    QVERIFY2(written >= writtenBeforeStop, qPrintable(err));
    QCOMPARE(summaryCount(err, "changed"), written);
    QCOMPARE(summaryCount(err, "conflicts"), 0);
    QCOMPARE(summaryCount(err, "failed"), 0);
    const CliRun undo = runCli(QStringList{"undo"} + logonArgs(schema.logon()), env);
    QVERIFY2(undo.exitCode == ExitOk, qPrintable(undo.err));
    QCOMPARE(summaryCount(undo.err, "restored"), written);
    QCOMPARE(differing(schema), 0);
}

// A run that waits for a row another connection holds says so once, then
// goes on when the row is let go; a second wait after a stop ends at once.
void TestCliDb::lockWaitIsOneLine()
{
    Schema schema(QStringLiteral("waits"));
    schema.exec("CREATE TABLE t (id integer PRIMARY KEY, v varchar(40))");
    const QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    const QString waiting = QStringLiteral("Waiting for a row that another connection holds...");
    for (const bool stop : {false, true}) {
        schema.exec("DELETE FROM t");
        schema.exec("INSERT INTO t VALUES (1, 'a b'), (2, 'c d'), (3, 'e f')");
        auto holder = std::make_unique<OpenTransaction>(schema, "UPDATE t SET v = v WHERE id = 2");
        const auto running = startRun(schema, env);
        QProcess& process = *running;
        QVERIFY(process.waitForStarted(10000));
        QString err;
        QElapsedTimer waited;
        waited.start();
        while (!err.contains(waiting) && waited.elapsed() < 30000 &&
               process.state() == QProcess::Running) {
            process.waitForReadyRead(100);
            err += QString::fromUtf8(process.readAllStandardError());
        }
        QTest::qWait(1500); // waits on for a while: still one line
        if (stop)
            ::kill(pid_t(process.processId()), SIGINT);
        else
            holder.reset();
        QVERIFY(process.waitForFinished(stop ? 10000 : 60000));
        err += QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(err.count(waiting), 1);
        QVERIFY2(!err.contains(QStringLiteral("lock"), Qt::CaseInsensitive), qPrintable(err));
        QCOMPARE(process.exitCode(), stop ? ExitReported : ExitOk);
        QCOMPARE(summaryCount(err, "changed"), stop ? 0 : 3);
    }
}

// An undo of a run that another process still writes (it waits for a row
// another connection holds) is refused; once the run has ended, it is undone.
void TestCliDb::undoRefusedWhileTheRunWrites()
{
    Schema schema(QStringLiteral("writing"));
    schema.exec("CREATE TABLE t (id integer PRIMARY KEY, v varchar(40))");
    schema.exec("INSERT INTO t VALUES (1, 'a b'), (2, 'c d'), (3, 'e f')");
    const QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    auto holder = std::make_unique<OpenTransaction>(schema, "UPDATE t SET v = v WHERE id = 2");
    const auto running = startRun(schema, env);
    QProcess& process = *running;
    QVERIFY(process.waitForStarted(10000));
    QString err;
    QElapsedTimer waited;
    waited.start();
    while (!err.contains(QStringLiteral("Waiting for a row")) && waited.elapsed() < 30000 &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        err += QString::fromUtf8(process.readAllStandardError());
    }
    QVERIFY2(process.state() == QProcess::Running, qPrintable(err));
    const CliRun history = runCli({"history"}, env);
    const qint64 id =
        QJsonDocument::fromJson(history.out.split('\n').first()).object().value("run").toInteger();
    QVERIFY2(id > 0, history.out.constData());
    const QStringList undoRun =
        QStringList{"undo", "--run", QString::number(id)} + logonArgs(schema.logon());

    const CliRun refused = runCli(undoRun, env);
    QCOMPARE(refused.exitCode, ExitUsage);
    QVERIFY2(refused.err.contains(QStringLiteral("Run %1 is still writing").arg(id)),
             qPrintable(refused.err));
    holder.reset();
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), ExitOk);
    QCOMPARE(valuesById(schema, "t", "v"), (QStringList{"ab", "cd", "ef"}));

    const CliRun undo = runCli(undoRun, env);
    QVERIFY2(undo.exitCode == ExitOk, qPrintable(undo.err));
    QCOMPARE(summaryCount(undo.err, "restored"), 3);
    QCOMPARE(valuesById(schema, "t", "v"), (QStringList{"a b", "c d", "e f"}));
}

QTEST_GUILESS_MAIN(TestCliDb)
// The drivers of the test's own odbcinst.ini, each with its library.
void TestCliDb::driversListed()
{
    const CliRun run = runCli({QStringLiteral("drivers")}, cliEnvironment(configHome(), {}));
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, ExitOk);
    QMap<QString, QString> drivers;
    for (const QByteArray& line : run.out.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains(QStringLiteral("attributes")))
            drivers.insert(object.value(QStringLiteral("driver")).toString(),
                           object.value(QStringLiteral("attributes")).toString());
    }
    QVERIFY2(drivers.value(QStringLiteral("Microsoft ODBC for Oracle")).contains("psqlodbcw.so"),
             run.out.constData());
    QVERIFY2(drivers.value(qEnvironmentVariable("QUORVANE_TEST_SQLITE_DRIVER"))
                 .contains("libsqlite3odbc.so"),
             run.out.constData());
}

// --driver, or the driver the windows saved, with the logon as its user
// types it (the SID in the driver's form, no user name for an SQLite file),
// and no template: the run connects, journals and writes through it.
void TestCliDb::driverChosen_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("stored"); // else given with --driver
    QTest::addColumn<int>("exitCode");
    const QString own = CurrentBackend() == Backend::SQLite
                            ? qEnvironmentVariable("QUORVANE_TEST_SQLITE_DRIVER")
                            : QStringLiteral("PostgreSQL Unicode");
    QTest::newRow("--driver") << own << false << ExitOk;
    QTest::newRow("the driver the windows saved") << own << true << ExitOk;
    QTest::newRow("--driver not installed") << "Quorvane No Driver" << false << ExitReported;
}

void TestCliDb::driverChosen()
{
    QFETCH(QString, driver);
    QFETCH(bool, stored);
    QFETCH(int, exitCode);
    if (CurrentBackend() == Backend::MariaDB)
        QSKIP("MariaDB's logons choose their driver in every test");
    Schema schema(QStringLiteral("driver"));
    createTable(schema, "t", "v", {QStringLiteral("a b")});
    const bool sqlite = CurrentBackend() == Backend::SQLite;
    QStringList logon{QStringLiteral("--sid"),
                      sqlite ? schema.logon().sid
                             : QStringLiteral("127.0.0.1:%1/postgres")
                                   .arg(qEnvironmentVariable("QUORVANE_TEST_PG_PORT"))};
    if (!sqlite)
        logon << QStringLiteral("--user") << schema.userName();
    if (stored) {
        QSettings settings(QDir(configHome()).filePath(QStringLiteral("Brenlow/Quorvane.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("OdbcDriver"), driver);
    } else {
        logon << QStringLiteral("--driver") << driver;
    }
    QProcessEnvironment env = cliEnvironment(configHome(), schema.logon().password);
    env.remove(QString::fromLatin1(Oracle::ConnectionStringVariable));

    const CliRun run = runCli(QStringList{QStringLiteral("run"), QStringLiteral("--table"), "t",
                                          QStringLiteral("--field"), "v",
                                          QStringLiteral("--operation"), QStringLiteral("1")} +
                                  logon,
                              env);
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr:\n%2").arg(run.exitCode).arg(run.err)));
    QCOMPARE(valuesById(schema, "t", "v"),
             QStringList{exitCode == ExitOk ? QStringLiteral("ab") : QStringLiteral("a b")});
    if (exitCode != ExitOk)
        QVERIFY2(run.err.contains(QStringLiteral("\"%1\" is not installed").arg(driver)),
                 qPrintable(run.err));
}

#include "tst_cli_db.moc"
