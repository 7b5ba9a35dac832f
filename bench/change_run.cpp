// The change run against the set-based UPDATE, and the preview of a large
// table against a small one, on the test PostgreSQL server; then the change
// run against the set-based UPDATE on an SQLite file, and on the test
// MariaDB server.
//
// Usage (inside scripts/bench, which starts the servers and registers the
// drivers):
//   bench-change-run [rows, default 100000] [preview rows, default 1000000]
//                    [postgresql|sqlite|mariadb, default all three]
//
// Operation 1 (remove all spaces) on rows of which 1% or all need a change,
// at `rows` and ten times as many (the medians of three rounds at `rows`,
// in batches): two identical tables are made; the change
// run, journaled as the program runs it (in batches, or row by row), runs on
// one, the set-based "UPDATE t SET f = REPLACE(f, ' ', '') WHERE f LIKE
// '% %'" a DBA would write on the other, and the two tables are then
// compared. The run is then undone (as the program undoes it), timed, and
// its table compared with the values it was made with. Then quorvane-cli
// changes ten times `rows` rows and its peak
// memory is read. All of it with psqlODBC's default options, as a user
// types the SID. The previews are timed twice: with the default options the
// driver reads the whole column before the first of its 101 rows, with
// UseDeclareFetch=1 it reads lazily, so that the large table's preview
// should cost about what the small one's does.
//
// On SQLite the same cases run in batches on tables of one file (the
// medians of five rounds at `rows`: this machine's speed varies), the
// set-based UPDATE over a connection of this process to that file; the
// goals are printed beside what was measured: at `rows` rows that all
// change, a run at most 8 times the set-based UPDATE, and quorvane-cli's
// run of ten times as many at most 64 MB of peak memory.

#include "change/ChangeRun.h"
#include "change/Journal.h"
#include "change/OperationCatalogue.h"
#include "change/Undo.h"
#include "db/Schema.h"
#include "tests/support/TestDatabases.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace TestDatabases;

namespace
{

// Answers no prompt, shows messages nowhere, counts and prints reports.
class SilentInteraction : public Interaction
{
public:
    std::optional<QString> inputBox(const QString&, const QString&) override { return {}; }
    void messageBox(const QString&, const QString&) override {}
    bool questionBox(const QString&, const QString&) override { return true; }
    void warningBox(const QString& text, const QString&) override
    {
        if (++reports <= 3)
            std::fprintf(stderr, "report: %s\n", qPrintable(text));
    }
    int reports = 0;
};

// A run's observer: progress, pointer and preview ignored.
class BenchObserver : public ChangeRunObserver
{
public:
    void setMousePointer(MousePointer) override {}
    void setProgress(double) override {}
    void letEventsRun() override {}
    void clearPreview() override {}
    void addPreviewEntry(const QString&) override {}
};

// Operation 1 on the table's field f, started as the main window starts it.
ChangeRequest requestFor(const Logon& logon, const QString& table, const ChangeRunOptions& options)
{
    ChangeRequest request;
    request.logon = logon;
    request.table = table;
    request.field = QStringLiteral("f");
    request.operation = 1;
    request.options = options;
    request.window = QStringLiteral("Form2");
    request.handler = QStringLiteral("PushButton1_Click");
    return request;
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

bool onSqlite()
{
    return CurrentBackend() == Backend::SQLite;
}

bool onMariaDb()
{
    return CurrentBackend() == Backend::MariaDB;
}

// The goals on SQLite and MariaDB (none here on PostgreSQL).
double goalRatio()
{
    return onMariaDb() ? 5 : 8;
}
constexpr double GoalMegabytes = 64;

const char* met(bool met)
{
    return met ? "met" : "MISSED";
}

// A table of `rows` rows (id, f): every `every`-th value has blanks to remove.
void makeTable(Schema& schema, const QString& table, int rows, int every, bool primaryKey = true)
{
    schema.exec(QStringLiteral("CREATE TABLE %1 (id integer%2, f varchar(100))")
                    .arg(table, primaryKey ? QStringLiteral(" PRIMARY KEY") : QString()));
    if (onMariaDb()) {
        schema.exec(QStringLiteral("INSERT INTO %1 (id, f) SELECT seq, CASE WHEN seq % %2 = 0 "
                                   "THEN CONCAT('word ', seq, ' end') ELSE CONCAT('word', seq, "
                                   "'end') END FROM seq_1_to_%3")
                        .arg(table)
                        .arg(every)
                        .arg(rows));
        schema.exec(QStringLiteral("ANALYZE TABLE %1").arg(table));
        return;
    }
    const QString series =
        onSqlite() ? QStringLiteral("(WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 "
                                    "FROM s WHERE g < %1) SELECT g FROM s)")
                   : QStringLiteral("generate_series(1, %1) AS g");
    schema.exec(QStringLiteral("INSERT INTO %1 (id, f) SELECT g, CASE WHEN g % %2 = 0 THEN "
                               "'word ' || g || ' end' ELSE 'word' || g || 'end' END FROM %3")
                    .arg(table)
                    .arg(every)
                    .arg(series.arg(rows)));
    schema.exec(QStringLiteral("ANALYZE %1").arg(table));
}

qint64 count(Schema& schema, const QString& query)
{
    return schema.column(query).value(0).toLongLong();
}

// One way of running the change against one share of changing rows.
struct Case {
    int rows;
    int every; // every every-th row changes
    bool rowByRow;
    bool primaryKey;
};

// Runs the case against its set-based twin, `rounds` times on fresh tables,
// and prints the medians (and, at `goalRows` rows that all change, the
// goal); false when the two disagree or a run failed.
bool compare(Schema& schema, Journal& journal, const Case& c, int rounds, int goalRows = 0)
{
    static int tables = 0;
    std::vector<double> runTimes;
    std::vector<double> setTimes;
    std::vector<double> undoTimes;
    int written = 0;
    int restored = 0;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        const QString byRun = QStringLiteral("by_run_%1").arg(++tables);
        const QString bySet = QStringLiteral("by_set_%1").arg(tables);
        makeTable(schema, byRun, c.rows, c.every, c.primaryKey);
        makeTable(schema, bySet, c.rows, c.every, c.primaryKey);

        BenchObserver ports;
        SilentInteraction ui;
        ChangeRun changeRun(ports, ui);
        QElapsedTimer timer;
        timer.start();
        ChangeRunOptions options;
        options.journal = &journal; // as the program runs
        options.rowByRow = c.rowByRow;
        const ChangeRunResult result = changeRun.run(requestFor(schema.logon(), byRun, options));
        runTimes.push_back(seconds(timer));
        written = result.changed;

        {
            const auto connection =
                Oracle::OpenConnection(schema.logon(), Oracle::ConnectionProperty::None);
            timer.start();
            connection->execute(
                QStringLiteral("UPDATE %1 SET f = REPLACE(f, ' ', '') WHERE f LIKE '% %'")
                    .arg(bySet));
            setTimes.push_back(seconds(timer));
        }

        // Rows of either that the other lacks (no join: a table may have no key).
        const qint64 differing = count(
            schema, QStringLiteral("SELECT (SELECT count(*) FROM (SELECT id, f FROM %1 EXCEPT "
                                   "SELECT id, f FROM %2) AS a) + (SELECT count(*) FROM (SELECT "
                                   "id, f FROM %2 EXCEPT SELECT id, f FROM %1) AS b)")
                        .arg(byRun, bySet));

        // The undo, with the same writer, then the table as it was made.
        UndoOptions undoOptions;
        undoOptions.rowByRow = c.rowByRow;
        undoOptions.window = QStringLiteral("Form2");
        undoOptions.handler = QStringLiteral("PushButton8_Click");
        timer.start();
        const UndoResult undone =
            Undo(ports, ui, journal, undoOptions).undo(result.journalRun, schema.logon());
        undoTimes.push_back(seconds(timer));
        restored = undone.restored;
        const qint64 unrestored = count(
            schema,
            (onMariaDb() ? QStringLiteral("SELECT count(*) FROM %1 WHERE NOT (f <=> CASE WHEN id % "
                                          "%2 = 0 THEN CONCAT('word ', id, ' end') ELSE "
                                          "CONCAT('word', id, 'end') END)")
                         : QStringLiteral("SELECT count(*) FROM %1 WHERE f IS DISTINCT FROM CASE "
                                          "WHEN id % %2 = 0 THEN 'word ' || id || ' end' ELSE "
                                          "'word' || id || 'end' END"))
                .arg(byRun)
                .arg(c.every));

        schema.exec(QStringLiteral("DROP TABLE %1").arg(byRun));
        schema.exec(QStringLiteral("DROP TABLE %1").arg(bySet));
        if (result.end != ChangeRunResult::End::Done || ui.reports != 0 || differing != 0) {
            std::fprintf(stderr, "  MISMATCH: end %d, %d reports, %lld rows differ\n",
                         int(result.end), ui.reports, static_cast<long long>(differing));
            ok = false;
        }
        if (undone.end != UndoResult::End::Done || undone.restored != result.changed ||
            unrestored != 0) {
            std::fprintf(stderr, "  MISMATCH: undo end %d, %d restored, %lld rows not restored\n",
                         int(undone.end), undone.restored, static_cast<long long>(unrestored));
            ok = false;
        }
    }
    std::sort(runTimes.begin(), runTimes.end());
    std::sort(setTimes.begin(), setTimes.end());
    std::sort(undoTimes.begin(), undoTimes.end());
    const double run = runTimes[runTimes.size() / 2];
    const double set = setTimes[setTimes.size() / 2];
    const double undo = undoTimes[undoTimes.size() / 2];
    const QString goal = goalRows && c.rows == goalRows && c.every == 1
                             ? QStringLiteral(" (goal: at most %1, %2)")
                                   .arg(goalRatio())
                                   .arg(met(run / set <= goalRatio()))
                             : QString();
    const QString kind = QStringLiteral("%1, %2").arg(c.rowByRow ? QStringLiteral("row by row")
                                                                 : QStringLiteral("batches"),
                                                      c.primaryKey ? QStringLiteral("key")
                                                      : onSqlite() ? QStringLiteral("row id")
                                                                   : QStringLiteral("ctid"));
    std::printf("%8d rows, %3d%% changing, %-22s: run %8.3f s (%7d written), set-based "
                "UPDATE %7.3f s, ratio %6.1f%s; undo %8.3f s (%7d restored), undo/run %5.2f%s\n",
                c.rows, 100 / c.every, qPrintable(kind), run, written, set, run / set,
                qPrintable(goal), undo, restored, undo / run,
                rounds > 1 ? qPrintable(QStringLiteral(" (medians of %1)").arg(rounds)) : "");
    std::fflush(stdout);
    return ok;
}

// One quorvane-cli command, its output dropped: its exit code, time and
// own peak resident memory (wait4 tells it of this child alone).
struct CliOutcome {
    int exitCode = -1;
    double seconds = 0;
    double peakMegabytes = 0;
};

CliOutcome runCli(const QProcessEnvironment& env, const QStringList& arguments)
{
    std::vector<QByteArray> args{QByteArray(QUORVANE_CLI_PATH)};
    for (const QString& argument : arguments)
        args.push_back(argument.toLocal8Bit());
    std::vector<QByteArray> vars;
    for (const QString& var : env.toStringList())
        vars.push_back(var.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& var : vars)
        envp.push_back(var.data());
    envp.push_back(nullptr);
    CliOutcome outcome;
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child > 0 && wait4(child, &status, 0, &usage) == child && WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    outcome.seconds = seconds(timer);
    outcome.peakMegabytes = double(usage.ru_maxrss) / 1024.0;
    return outcome;
}

// quorvane-cli run on a table of `rows` rows that all change, then its undo:
// their times and their peak resident memory.
bool cliPeakMemory(Schema& schema, int rows)
{
    makeTable(schema, QStringLiteral("cli_rows"), rows, 1, onMariaDb()); // MariaDB: keyed only
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("QUORVANE_PASSWORD"), schema.logon().password);
    QStringList logon{"--sid", schema.logon().sid, "--user", schema.logon().user};
    if (!schema.logon().driver.isEmpty())
        logon << "--driver" << schema.logon().driver;
    const CliOutcome run = runCli(
        env, QStringList{"run", "--table", "cli_rows", "--field", "f", "--operation", "1"} + logon);
    const qint64 left = count(schema, "SELECT count(*) FROM cli_rows WHERE f LIKE '% %'");
    const QString goal = onSqlite() || onMariaDb()
                             ? QStringLiteral(" (goal: at most %1 MB, %2)")
                                   .arg(GoalMegabytes)
                                   .arg(met(run.peakMegabytes <= GoalMegabytes))
                             : QString();
    std::printf("quorvane-cli run, %d rows all changing (batches, journaled, %s): %.3f s, "
                "peak memory %.1f MB%s\n",
                rows, onMariaDb() ? "key" : "no key", run.seconds, run.peakMegabytes,
                qPrintable(goal));
    const CliOutcome undo = runCli(env, QStringList{"undo"} + logon);
    const qint64 unrestored =
        count(schema, onMariaDb()
                          ? "SELECT count(*) FROM cli_rows WHERE f <> CONCAT('word ', id, ' end') "
                            "OR f IS NULL"
                          : "SELECT count(*) FROM cli_rows WHERE f <> 'word ' || id || ' end' OR "
                            "f IS NULL");
    std::printf("quorvane-cli undo of it: %.3f s, peak memory %.1f MB, undo/run %.2f\n",
                undo.seconds, undo.peakMegabytes, undo.seconds / run.seconds);
    if (onSqlite())
        std::printf("  as: /usr/bin/time -f %%M quorvane-cli run --sid FILE --user U --table "
                    "cli_rows --field f --operation 1, with %s=%s\n",
                    Oracle::ConnectionStringVariable,
                    qPrintable(qEnvironmentVariable(Oracle::ConnectionStringVariable)));
    std::fflush(stdout);
    const bool ok = run.exitCode == 0 && left == 0 && undo.exitCode == 0 && unrestored == 0;
    if (!ok)
        std::fprintf(stderr,
                     "  MISMATCH: run exit %d, %lld rows keep blanks; undo exit %d, %lld rows "
                     "not restored\n",
                     run.exitCode, static_cast<long long>(left), undo.exitCode,
                     static_cast<long long>(unrestored));
    return ok;
}

// The median time of `rounds` previews of the table's field f, in milliseconds.
double previewMilliseconds(const Logon& logon, const QString& table, int rounds, bool* ok)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QStringList values = Oracle::Preview(logon, table, QStringLiteral("f"));
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (values.size() != Oracle::PreviewLimit)
            *ok = false;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The same cases on an SQLite file, in batches, and quorvane-cli's memory.
bool sqliteBench(int rows)
{
    qputenv("QUORVANE_TEST_BACKEND", "sqlite");
    Schema schema(QStringLiteral("bench"));
    std::printf("operation 1 (\"%s\"), SQLite through ODBC\n",
                qPrintable(OperationCatalogue().front().caption));
    QTemporaryDir journalDir;
    Journal journal(journalDir.filePath(QStringLiteral("journal.sqlite")));
    const Case cases[] = {
        {rows, 100, false, true},
        {rows, 1, false, true},
        {rows, 1, false, false},
        {10 * rows, 1, false, false},
    };
    bool ok = true;
    for (const Case& c : cases)
        ok = compare(schema, journal, c, c.rows == rows ? 5 : 1, rows) && ok;
    return cliPeakMemory(schema, 10 * rows) && ok;
}

// The same cases on MariaDB (keyed tables only), and quorvane-cli's memory.
bool mariaDbBench(int rows)
{
    qputenv("QUORVANE_TEST_BACKEND", "mariadb");
    Schema schema(QStringLiteral("bench"));
    std::printf("operation 1 (\"%s\"), MariaDB through ODBC\n",
                qPrintable(OperationCatalogue().front().caption));
    QTemporaryDir journalDir;
    Journal journal(journalDir.filePath(QStringLiteral("journal.sqlite")));
    const Case cases[] = {
        {rows, 100, false, true}, {rows, 1, false, true}, {10 * rows, 1, false, true}};
    bool ok = true;
    for (const Case& c : cases)
        ok = compare(schema, journal, c, c.rows == rows ? 5 : 1, rows) && ok;
    return cliPeakMemory(schema, 10 * rows) && ok;
}

// The cases on PostgreSQL, quorvane-cli's memory and the previews.
bool postgresqlBench(int rows, int previewRows)
{
    qputenv("QUORVANE_TEST_BACKEND", "postgresql");
    qunsetenv("QUORVANE_TEST_PG_SID_OPTIONS"); // the SID as a user types it
    Schema schema(QStringLiteral("bench"));
    std::printf("operation 1 (\"%s\"), PostgreSQL through ODBC\n",
                qPrintable(OperationCatalogue().front().caption));
    QTemporaryDir journalDir;
    Journal journal(journalDir.filePath(QStringLiteral("journal.sqlite")));
    const Case cases[] = {
        {rows, 100, false, true}, {rows, 1, false, true},      {rows, 1, false, false},
        {rows, 1, true, true},    {10 * rows, 1, false, true}, {10 * rows, 1, false, false},
    };
    bool ok = true;
    for (const Case& c : cases) // the short ones three times: this machine's speed varies
        ok = compare(schema, journal, c, c.rows == rows && !c.rowByRow ? 3 : 1) && ok;
    ok = cliPeakMemory(schema, 10 * rows) && ok;

    makeTable(schema, QStringLiteral("preview_large"), previewRows, 100);
    makeTable(schema, QStringLiteral("preview_small"), 1000, 100);
    const int rounds = 7;
    bool previewOk = true;
    Logon lazy = schema.logon();
    lazy.sid += QStringLiteral(";UseDeclareFetch=1");
    for (const Logon& logon : {schema.logon(), lazy}) {
        for (const char* table : {"preview_large", "preview_small"}) // warm up
            previewMilliseconds(logon, QString::fromLatin1(table), 1, &previewOk);
        const double large =
            previewMilliseconds(logon, QStringLiteral("preview_large"), rounds, &previewOk);
        const double small =
            previewMilliseconds(logon, QStringLiteral("preview_small"), rounds, &previewOk);
        std::printf("preview (median of %d, %s): %d rows %8.2f ms, 1000 rows %8.2f ms, "
                    "ratio %5.2f\n",
                    rounds, logon.sid == lazy.sid ? "UseDeclareFetch=1" : "default options",
                    previewRows, large, small, large / small);
    }
    if (!previewOk)
        std::fprintf(stderr, "  MISMATCH: a preview did not show 101 values\n");
    return ok && previewOk;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(100, atoi(argv[1])) : 100000;
    const int previewRows = argc > 2 ? std::max(1000, atoi(argv[2])) : 1000000;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    try {
        bool ok = true;
        if (only.isEmpty() || only == u"postgresql")
            ok = postgresqlBench(rows, previewRows) && ok;
        if (only.isEmpty() || only == u"sqlite")
            ok = sqliteBench(rows) && ok;
        if (only.isEmpty() || only == u"mariadb")
            ok = mariaDbBench(rows) && ok;
        return ok ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-change-run: %s\n", error.what());
        return 1;
    }
}
