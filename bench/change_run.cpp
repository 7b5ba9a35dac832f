// The change run against the set-based UPDATE, and the preview of a large
// table against a small one, on the test PostgreSQL server.
//
// Usage (inside scripts/bench, which starts the server):
//   bench-change-run [rows, default 100000] [preview rows, default 1000000]
//
// For each share of rows that need a change by operation 1 (1% and 100%),
// without and with the journal the program keeps, two identical tables are
// made; the change run (one UPDATE per changed row) runs on one,
// "UPDATE t SET f = REPLACE(f, ' ', '')" on the other, and the two tables are
// then compared. The preview reads at most 101 rows lazily,
// so the large table's preview should cost about what the small one's does.

#include "change/ChangeRun.h"
#include "change/Journal.h"
#include "change/OperationCatalogue.h"
#include "db/Schema.h"
#include "tests/support/TestDatabases.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
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

// The main window of one run: fixed table, field and operation; progress,
// pointer and preview ignored.
class BenchPorts : public ChangeRunPorts
{
public:
    BenchPorts(Logon logon, QString table, QString field)
        : m_logon(std::move(logon)), m_table(std::move(table)), m_field(std::move(field))
    {
    }
    Logon logon() const override { return m_logon; }
    QString selectedTable() const override { return m_table; }
    QString selectedField() const override { return m_field; }
    int fieldCount() const override { return 1; }
    QString operationText() const override { return OperationCatalogue().front().caption; }
    void setMousePointer(MousePointer) override {}
    void setProgress(double) override {}
    void letEventsRun() override {}
    void clearPreview() override {}
    void addPreviewEntry(const QString&) override {}

private:
    Logon m_logon;
    QString m_table;
    QString m_field;
};

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// A table of `rows` rows (id, f): every `every`-th value has blanks to remove.
void makeTable(Schema& schema, const QString& table, int rows, int every)
{
    schema.exec(
        QStringLiteral("CREATE TABLE %1 (id integer PRIMARY KEY, f varchar(100))").arg(table));
    schema.exec(QStringLiteral("INSERT INTO %1 (id, f) SELECT g, CASE WHEN g % %2 = 0 THEN "
                               "'word ' || g || ' end' ELSE 'word' || g || 'end' END "
                               "FROM generate_series(1, %3) AS g")
                    .arg(table)
                    .arg(every)
                    .arg(rows));
    schema.exec(QStringLiteral("ANALYZE %1").arg(table));
}

qint64 count(Schema& schema, const QString& query)
{
    return schema.column(query).value(0).toLongLong();
}

// One share: returns false when the two ways disagree or the run failed.
// With a journal the run first puts every row in one, as the program does.
bool compareOnShare(Schema& schema, int rows, int every, const char* label, Journal* journal)
{
    const QString byRow = QStringLiteral("by_row_%1%2").arg(every).arg(journal ? "_j" : "");
    const QString bySet = QStringLiteral("by_set_%1%2").arg(every).arg(journal ? "_j" : "");
    makeTable(schema, byRow, rows, every);
    makeTable(schema, bySet, rows, every);

    BenchPorts ports(schema.logon(), byRow, QStringLiteral("f"));
    SilentInteraction ui;
    ChangeRun changeRun(ports, ui);
    QElapsedTimer timer;
    timer.start();
    ChangeRunOptions options;
    options.journal = journal;
    const ChangeRunResult result = changeRun.run(options);
    const double runSeconds = seconds(timer);

    double setSeconds = 0;
    {
        const auto connection =
            Oracle::OpenConnection(schema.logon(), Oracle::ConnectionProperty::None);
        timer.start();
        connection->execute(QStringLiteral("UPDATE %1 SET f = REPLACE(f, ' ', '')").arg(bySet));
        setSeconds = seconds(timer);
    }

    const qint64 differing =
        count(schema, QStringLiteral("SELECT count(*) FROM %1 a FULL JOIN %2 b USING (id) "
                                     "WHERE a.f IS DISTINCT FROM b.f")
                          .arg(byRow, bySet));
    const qint64 blanksLeft =
        count(schema, QStringLiteral("SELECT count(*) FROM %1 WHERE f LIKE '% %'").arg(byRow));

    std::printf("%-4s of %d rows need a change%s: change run %8.3f s (%d rows written, %d rows "
                "unchanged), set-based UPDATE %8.3f s, ratio %7.1f\n",
                label, rows, journal ? ", journaled" : "", runSeconds, result.changed,
                result.unchanged, setSeconds, runSeconds / setSeconds);
    std::fflush(stdout);
    const bool ok = result.end == ChangeRunResult::End::Done && ui.reports == 0 && differing == 0 &&
                    blanksLeft == 0;
    if (!ok)
        std::fprintf(stderr,
                     "  MISMATCH: end %d, %d reports, %lld rows differ, %lld rows keep blanks\n",
                     int(result.end), ui.reports, static_cast<long long>(differing),
                     static_cast<long long>(blanksLeft));
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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(100, atoi(argv[1])) : 100000;
    const int previewRows = argc > 2 ? std::max(1000, atoi(argv[2])) : 1000000;
    qputenv("QUORVANE_TEST_BACKEND", "postgresql");
    try {
        Schema schema(QStringLiteral("bench"));
        std::printf("operation 1 (\"%s\"), PostgreSQL through ODBC\n",
                    qPrintable(OperationCatalogue().front().caption));
        QTemporaryDir journalDir;
        Journal journal(journalDir.filePath(QStringLiteral("journal.sqlite")));
        bool ok = compareOnShare(schema, rows, 100, "1%", nullptr);
        ok = compareOnShare(schema, rows, 1, "100%", nullptr) && ok;
        ok = compareOnShare(schema, rows, 100, "1%", &journal) && ok;
        ok = compareOnShare(schema, rows, 1, "100%", &journal) && ok;

        makeTable(schema, QStringLiteral("preview_large"), previewRows, 100);
        makeTable(schema, QStringLiteral("preview_small"), 1000, 100);
        const int rounds = 7;
        bool previewOk = true;
        for (const char* table : {"preview_large", "preview_small"}) // warm up
            previewMilliseconds(schema.logon(), QString::fromLatin1(table), 1, &previewOk);
        const double large = previewMilliseconds(schema.logon(), QStringLiteral("preview_large"),
                                                 rounds, &previewOk);
        const double small = previewMilliseconds(schema.logon(), QStringLiteral("preview_small"),
                                                 rounds, &previewOk);
        std::printf("preview (median of %d): %d rows %8.2f ms, 1000 rows %8.2f ms, ratio %5.2f\n",
                    rounds, previewRows, large, small, large / small);
        if (!previewOk)
            std::fprintf(stderr, "  MISMATCH: a preview did not show 101 values\n");
        return ok && previewOk ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-change-run: %s\n", error.what());
        return 1;
    }
}
