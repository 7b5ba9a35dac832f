#pragma once

// The main window's side of a change run, played by a test: a user's table
// on the test database, ports that record what the run shows, and scripted
// prompts.

#include "change/ChangeRun.h"
#include "change/OperationCatalogue.h"
#include "change/PreviewRefill.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TestDatabases.h"

#include <QTest>
#include <functional>

namespace ChangeBench
{

using namespace TestDatabases;

// The writer the suite runs with, as QUORVANE_TEST_WRITER says: "row" one
// statement per row, else batches (of QUORVANE_TEST_BATCH rows, default 2,
// so that small tables take several).
inline bool RowByRow()
{
    return qEnvironmentVariable("QUORVANE_TEST_WRITER") == u"row";
}

inline ChangeRunOptions Options()
{
    ChangeRunOptions options;
    options.rowByRow = RowByRow();
    options.batchRows = qEnvironmentVariableIsSet("QUORVANE_TEST_BATCH")
                            ? qEnvironmentVariableIntValue("QUORVANE_TEST_BATCH")
                            : 2;
    return options;
}

// The main window: what is selected in it, and what a run shows in it.
class FakePorts : public ChangeRunObserver
{
public:
    // A run of what is selected, as "Start Changing" asks for it.
    ChangeRequest request(const ChangeRunOptions& options = Options()) const
    {
        ChangeRequest request;
        request.logon = account;
        request.table = table;
        request.field = field;
        request.fieldListed = fields > 0;
        request.operation = OperationNumber(operation);
        request.options = options;
        request.window = QStringLiteral("Form2");
        request.handler = QStringLiteral("PushButton1_Click");
        return request;
    }

    void setMousePointer(MousePointer pointer) override
    {
        pointers << int(pointer);
        events << QStringLiteral("pointer %1").arg(int(pointer));
    }
    void setProgress(double percent) override
    {
        progress << percent;
        events << QStringLiteral("progress %1").arg(percent);
        if (onProgress)
            onProgress();
    }
    void letEventsRun() override
    {
        ++eventsRun;
        if (onEvents)
            onEvents();
    }
    void clearPreview() override
    {
        preview.clear();
        events << QStringLiteral("preview cleared");
    }
    void addPreviewEntry(const QString& text) override
    {
        preview << text;
        events << QStringLiteral("preview: ") + text;
    }
    void showReading() override { events << QStringLiteral("reading"); }
    void showWriting(int done, int total) override
    {
        events << QStringLiteral("writing %1 of %2").arg(done).arg(total);
    }
    void showWaiting() override { events << QStringLiteral("waiting"); }

    Logon account;
    QString table;
    QString field;
    int fields = 2;
    QString operation;
    QList<int> pointers; // 11 hourglass, 0 default
    QList<double> progress;
    QStringList preview{QStringLiteral("(shown before the run)")};
    int eventsRun = 0;
    QStringList events; // what the run told, in order
    std::function<void()> onEvents;
    std::function<void()> onProgress;

    bool stopRequested() const override { return stopWhen && stopWhen(); }
    std::function<bool()> stopWhen;
};

inline const QList<int> DonePointers{11, 11, 0};
inline const QStringList OnlyDone{QStringLiteral("message: Done.")};
inline const QString ReportEnd =
    QStringLiteral("\r\nin Quorvex2021/08/31.Form2.PushButton1_Click at line %1"
                   "\r\rPlease email screenshot of this message to support@quorvane.example");

inline QString caption(int operation)
{
    return OperationCatalogue().at(static_cast<size_t>(operation - 1)).caption;
}

inline void compareValues(const QVariantList& actual, const QVariantList& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].isNull(), expected[i].isNull());
        QCOMPARE(actual[i].toString(), expected[i].toString());
    }
}

// The statements of a trigger that notes in audit the id of every row an
// UPDATE of `table` (quoted) writes.
inline QStringList AuditTrigger(const QString& table)
{
    switch (CurrentBackend()) {
    case Backend::SQLite:
        return {QStringLiteral("CREATE TRIGGER noted AFTER UPDATE ON %1 BEGIN "
                               "INSERT INTO audit (id) VALUES (NEW.id); END")
                    .arg(table)};
    case Backend::MariaDB:
        return {QStringLiteral("CREATE TRIGGER noted AFTER UPDATE ON %1 FOR EACH ROW "
                               "INSERT INTO audit (id) VALUES (NEW.id)")
                    .arg(table)};
    case Backend::PostgreSQL:
        break;
    }
    return {QStringLiteral("CREATE FUNCTION note() RETURNS trigger LANGUAGE plpgsql AS "
                           "'BEGIN INSERT INTO audit (id) VALUES (NEW.id); RETURN NEW; END'"),
            QStringLiteral("CREATE TRIGGER noted AFTER UPDATE ON %1 "
                           "FOR EACH ROW EXECUTE FUNCTION note()")
                .arg(table)};
}

// A user's table (id, field) holding the values with ids from 1, its update
// trigger, and the main window's side of a run on it.
struct Bench {
    // `create`, when given, makes the table (id integer, field) instead, with
    // no trigger.
    explicit Bench(const QVariantList& values, const QString& table = "t",
                   const QString& field = "v", const QString& type = "varchar(200)",
                   const QStringList& create = {})
    {
        const Backend backend = CurrentBackend();
        const QString t = Quoted(table);
        schema.exec(backend == Backend::SQLite
                        ? "CREATE TABLE audit (seq INTEGER PRIMARY KEY, id integer)"
                        : "CREATE TABLE audit (seq serial, id integer)");
        for (const QString& statement : create)
            schema.exec(statement);
        if (create.isEmpty()) {
            // MariaDB names rows by a key only; the others by their addresses.
            const QString id =
                backend == Backend::MariaDB ? "id integer PRIMARY KEY" : "id integer";
            schema.exec(
                QStringLiteral("CREATE TABLE %1 (%2, %3 %4)").arg(t, id, Quoted(field), type));
            for (const QString& statement : AuditTrigger(t))
                schema.exec(statement);
        }
        QStringList rows;
        for (int i = 0; i < values.size(); ++i)
            rows << QStringLiteral("(%1, ?)").arg(i + 1);
        if (!rows.isEmpty())
            schema.exec(QStringLiteral("INSERT INTO %1 (id, %2) VALUES %3")
                            .arg(t, Quoted(field), rows.join(u',')),
                        values);
        ports.account = schema.logon();
        ports.table = table;
        ports.field = field;
        select = QStringLiteral("SELECT %1 FROM %2").arg(Quoted(field), t);
    }

    ChangeRunResult run(const QString& operationText, const QStringList& answers = {})
    {
        ports.operation = operationText;
        ui.answers = answers;
        return runWith(Options());
    }

    // A run with these options, then its refill, as the main window runs it.
    ChangeRunResult runWith(const ChangeRunOptions& options)
    {
        const ChangeRequest request = ports.request(options);
        ChangeRunResult result = ChangeRun(ports, ui).run(request);
        RefillPreview(request, ports, ui, result);
        return result;
    }

    // The ids of the rows that statements changed, in the order they were sent.
    QList<int> audited()
    {
        QList<int> ids;
        for (const QVariant& id : schema.column("SELECT id FROM audit ORDER BY seq"))
            ids << id.toInt();
        return ids;
    }

    QVariantList valuesById() { return schema.column(select + QStringLiteral(" ORDER BY id")); }

    // The field in the order the database returns it, Null as the empty text.
    QStringList inDatabaseOrder()
    {
        QStringList texts;
        for (const QVariant& value : schema.column(select))
            texts << (value.isNull() ? QString() : value.toString());
        return texts;
    }

    Schema schema;
    QString select; // the field of the table made, whatever the ports are set to
    FakePorts ports;
    ScriptedInteraction ui;
};

} // namespace ChangeBench
