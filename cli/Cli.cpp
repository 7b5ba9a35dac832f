#include "cli/Cli.h"

#include "app/ErrorReport.h"
#include "app/Interaction.h"
#include "app/RuntimeError.h"
#include "app/SettingsStore.h"
#include "change/ChangeRun.h"
#include "change/Journal.h"
#include "change/OperationCatalogue.h"
#include "change/PreviewRefill.h"
#include "change/Undo.h"
#include "cli/JsonLines.h"
#include "db/Schema.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMap>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace Cli
{

namespace
{

const char Usage[] =
    "Usage:\n"
    "  quorvane-cli operations\n"
    "      Lists the operations: number, tab, caption.\n"
    "  quorvane-cli transform --operation N [--answer TEXT]...\n"
    "      N is 1 to 27 or an exact caption. Each --answer (or --answer=TEXT)\n"
    "      answers the operation's next prompt; a missing answer cancels the\n"
    "      prompt, and --answer= answers it with the empty text.\n"
    "      Reads JSON Lines on stdin (a JSON string or null per line) and\n"
    "      writes {\"new\":...} or {\"error\":{...}} per line on stdout.\n"
    "  quorvane-cli tables [LOGON]\n"
    "  quorvane-cli fields --table T [LOGON]\n"
    "  quorvane-cli preview --table T --field F [LOGON]\n"
    "      Print the user's tables, a table's fields, a field's first 101 values,\n"
    "      one JSON string per line.\n"
    "  quorvane-cli run --table T --field F --operation N [--answer TEXT]...\n"
    "                   [--dry-run] [--row-by-row] [LOGON]\n"
    "      Changes every row of the field with the operation, in batches of up\n"
    "      to 1,000 changing rows (one UPDATE per row with --row-by-row); a row\n"
    "      is written only while it still holds the value read, and put in the\n"
    "      journal first. Prints the refreshed preview on stdout; progress,\n"
    "      messages, reports and last a line 'Summary: {...}' with the counts\n"
    "      on stderr. The first SIGINT or\n"
    "      SIGTERM stops the run at its next row, a second ends it at once.\n"
    "      --dry-run writes nothing: it prints {\"old\":...,\"new\":...} for\n"
    "      every row that would change, and the same Summary line.\n"
    "  quorvane-cli drivers\n"
    "      The ODBC drivers installed and the data sources configured, as the\n"
    "      driver manager lists them, one JSON object per line:\n"
    "      {\"driver\":NAME,\"attributes\":TEXT} or {\"dataSource\":NAME,\"driver\":TEXT}.\n"
    "  quorvane-cli history\n"
    "      The journaled runs, newest first, one JSON object per line; besides\n"
    "      the run's own counts, the rows an undo restored (\"restored\"), left\n"
    "      alone as changed since (\"conflictsLeft\") and still to undo (\"toUndo\").\n"
    "  quorvane-cli undo [--run ID] [--row-by-row] [LOGON]\n"
    "      Gives every row the run wrote its old value back, where it still holds\n"
    "      what the run wrote, in batches as a run writes (one UPDATE per row\n"
    "      with --row-by-row); by default the newest run of the logon not yet\n"
    "      undone. A run is undone once every row is restored or left alone;\n"
    "      rows that failed or were not reached (stopped) are tried again by the\n"
    "      next undo, and only they. Ends stderr with 'Summary: {...}' (\"left\":\n"
    "      rows still to undo). Exit 0: all restored; 1: conflicts, errors or\n"
    "      stopped; 2: no such run, undone before, or still being written.\n"
    "\n"
    "LOGON: --sid SID --user USER [--driver NAME]; the password comes from the\n"
    "environment variable QUORVANE_PASSWORD. NAME is an ODBC driver or data\n"
    "source as 'drivers' lists it (default: Microsoft ODBC for Oracle); the SID\n"
    "takes its driver's form: host[:port]/database for PostgreSQL and MariaDB,\n"
    "the file's path for SQLite, a TNS name or host:port/service for Oracle.\n"
    "What is not given is read from the logon the windows saved.\n"
    "QUORVANE_CONNECTION_STRING, when set, is the connection string's template\n"
    "(%SID%, %USER%, %PASSWORD%, %DRIVER%).\n"
    "\n"
    "Exit status: 0 done, 1 an error was reported, 2 bad usage or input (also\n"
    "a table that is not one of the user's tables, or a field not one of its\n"
    "fields), 3 operation not applied.\n";

void writeOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void writeErr(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

// One JSON object as one line of stdout.
void writeJsonObject(const QJsonObject& object)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

// A failure's description on stderr.
void writeFailure(const std::exception& error)
{
    writeErr(QStringLiteral("quorvane-cli: %1\n").arg(ErrorReport::DescriptionOf(error)));
}

// Runs `write`, which writes lines on stdout; a failure ends them with its
// description on stderr.
int writeLines(const std::function<void()>& write)
{
    try {
        write();
    } catch (const std::exception& error) {
        writeFailure(error);
        return ErrorReported;
    }
    std::fflush(stdout);
    return Success;
}

int usageError(const QString& why)
{
    writeErr(QStringLiteral("quorvane-cli: %1\n\n").arg(why) + QString::fromUtf8(Usage));
    return BadUsage;
}

// The options of one command: each name with its values in order.
struct Options {
    QMap<QString, QStringList> values;
    QString error;
};

// Parses "--name VALUE" and "--name=VALUE" for the names allowed, and
// "--flag" alone for the flags allowed (kept with an empty value).
Options parseOptions(const QStringList& arguments, const QStringList& allowed,
                     const QStringList& flags = {})
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QStringLiteral("--"))) {
            options.error = QStringLiteral("unexpected argument '%1'").arg(argument);
            return options;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (flags.contains(name) && equals < 0) {
            options.values[name].append(QString());
            continue;
        }
        if (!allowed.contains(name)) {
            options.error = QStringLiteral("unknown option '%1'").arg(argument);
            return options;
        }
        if (equals >= 0) {
            options.values[name].append(argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            options.values[name].append(arguments.at(++i));
        } else {
            options.error = QStringLiteral("option '%1' needs a value").arg(argument);
            return options;
        }
    }
    return options;
}

// The operation named by its number (1 to 27) or by its exact caption.
const Operation* resolveOperation(const QString& name)
{
    bool isNumber = false;
    const int number = name.toInt(&isNumber);
    const auto& catalogue = OperationCatalogue();
    if (isNumber && !name.startsWith(u'+') && !name.startsWith(u'-')) {
        if (number >= 1 && static_cast<size_t>(number) <= catalogue.size())
            return &catalogue[static_cast<size_t>(number - 1)];
        return nullptr;
    }
    return FindOperation(name);
}

// Prompts answered from the command line in order; messages go to stderr.
class ScriptedAnswers : public Interaction
{
public:
    explicit ScriptedAnswers(QStringList answers) : m_answers(std::move(answers)) {}

    // A missing answer is a Cancel; "--answer=" an empty OK.
    std::optional<QString> inputBox(const QString&, const QString&) override
    {
        if (m_next < m_answers.size())
            return m_answers.at(m_next++);
        return std::nullopt;
    }

    void messageBox(const QString& text, const QString&) override { writeErr(text + u'\n'); }
    using Interaction::messageBox;

    // The command line asks nothing more than its options said.
    bool questionBox(const QString&, const QString&) override { return true; }

    // The report's full text, its line breaks (CR LF, CR) as the terminal's,
    // then a blank line.
    void warningBox(const QString& text, const QString&) override
    {
        QString lines = text;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        lines.replace(u'\r', u'\n');
        writeErr(lines + QStringLiteral("\n\n"));
    }

private:
    QStringList m_answers;
    qsizetype m_next = 0;
};

// Reads stdin one line at a time, without the line feed.
class LineReader
{
public:
    std::optional<QByteArray> next()
    {
        for (;;) {
            const qsizetype newline = m_buffer.indexOf('\n', m_scanned);
            if (newline >= 0) {
                QByteArray line = m_buffer.left(newline);
                m_buffer.remove(0, newline + 1);
                m_scanned = 0;
                return line;
            }
            m_scanned = m_buffer.size();
            if (m_eof) {
                if (m_buffer.isEmpty())
                    return std::nullopt;
                QByteArray line = m_buffer;
                m_buffer.clear();
                m_scanned = 0;
                return line;
            }
            char chunk[65536];
            const size_t read = std::fread(chunk, 1, sizeof chunk, stdin);
            if (read == 0)
                m_eof = true;
            else
                m_buffer.append(chunk, static_cast<qsizetype>(read));
        }
    }

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0;
    bool m_eof = false;
};

int listOperations(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usageError(QStringLiteral("'operations' takes no arguments"));
    int number = 0;
    for (const Operation& operation : OperationCatalogue())
        writeOut(QByteArray::number(++number) + '\t' + operation.caption.toUtf8() + '\n');
    return Success;
}

const QString OperationOption = QStringLiteral("operation");
const QString AnswerOption = QStringLiteral("answer");
const QString TableOption = QStringLiteral("table");
const QString FieldOption = QStringLiteral("field");
const QString SidOption = QStringLiteral("sid");
const QString UserOption = QStringLiteral("user");
const QString DriverOption = QStringLiteral("driver");
const QString DryRunFlag = QStringLiteral("dry-run");
const QString RowByRowFlag = QStringLiteral("row-by-row");
const QString RunOption = QStringLiteral("run");

// SIGINT and SIGTERM: the first asks the run to stop at its next row, the
// second ends the program at once.
volatile std::sig_atomic_t stopSignals = 0;

extern "C" void onStopSignal(int)
{
    if (++stopSignals > 1)
        std::_Exit(ErrorReported);
}

void stopOnSignals()
{
    stopSignals = 0;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

// The journal, its oldest runs pruned; none (after saying why) when it
// cannot be opened.
std::unique_ptr<Journal> openJournal()
{
    try {
        auto journal = std::make_unique<Journal>();
        journal->prune();
        return journal;
    } catch (const std::exception& error) {
        writeFailure(error);
        return nullptr;
    }
}

// The one value of a required option, or none (after a usage error).
std::optional<QString> requiredOption(const Options& options, const QString& name, int& exitCode)
{
    const QStringList values = options.values.value(name);
    if (values.size() != 1) {
        exitCode = usageError(QStringLiteral("exactly one --%1 is needed").arg(name));
        return std::nullopt;
    }
    return values.front();
}

// The operation named by --operation and its answers, or none (after a usage error).
const Operation* chosenOperation(const Options& options, QStringList& answers, int& exitCode)
{
    const std::optional<QString> name = requiredOption(options, OperationOption, exitCode);
    if (!name)
        return nullptr;
    const Operation* operation = resolveOperation(*name);
    if (!operation) {
        exitCode = usageError(QStringLiteral("unknown operation '%1'").arg(*name));
        return nullptr;
    }
    answers = options.values.value(AnswerOption);
    const int prompts = PromptCount(operation->promptKind);
    if (answers.size() > prompts) {
        exitCode = usageError(QStringLiteral("operation '%1' asks %2 question(s), %3 answers given")
                                  .arg(operation->caption)
                                  .arg(prompts)
                                  .arg(answers.size()));
        return nullptr;
    }
    return operation;
}

// The logon from --sid, --user, --driver and QUORVANE_PASSWORD; what is not
// given comes from the logon the windows saved.
Logon logonFrom(const Options& options)
{
    auto pick = [&](const QString& option, const QString& key) {
        const QStringList values = options.values.value(option);
        return values.isEmpty() ? SettingsStore::ReadSetting(key) : values.back();
    };
    Logon logon;
    logon.sid = pick(SidOption, SettingsStore::OracleSID);
    logon.user = pick(UserOption, SettingsStore::OracleUser);
    logon.driver = pick(DriverOption, SettingsStore::OdbcDriver);
    logon.password = qEnvironmentVariableIsSet("QUORVANE_PASSWORD")
                         ? qEnvironmentVariable("QUORVANE_PASSWORD")
                         : SettingsStore::ReadSetting(SettingsStore::OraclePassword);
    return logon;
}

// Why the table or field is not one the windows would offer ("No table T",
// "No field F in T"), or the empty text. Throws what listing them throws.
QString missingSelection(const Logon& logon, const QString& table,
                         const std::optional<QString>& field)
{
    if (!Oracle::ListTables(logon).contains(table))
        return QStringLiteral("No table %1").arg(table);
    if (field && !Oracle::FieldNames(logon, table).contains(*field))
        return QStringLiteral("No field %1 in %2").arg(*field, table);
    return {};
}

int badInput(const QString& why)
{
    writeErr(QStringLiteral("quorvane-cli: %1\n").arg(why));
    return BadUsage;
}

void writeJsonLines(const QStringList& texts)
{
    for (const QString& text : texts)
        writeOut(JsonLines::quote(text) + '\n');
    std::fflush(stdout);
}

int transform(const QStringList& arguments)
{
    const Options options = parseOptions(arguments, {OperationOption, AnswerOption});
    if (!options.error.isEmpty())
        return usageError(options.error);
    int exitCode = Success;
    QStringList answers;
    const Operation* operation = chosenOperation(options, answers, exitCode);
    if (!operation)
        return exitCode;

    ScriptedAnswers ui(answers);
    const std::optional<OperationParameters> parameters = AskParameters(*operation, ui);
    if (!parameters)
        return NotApplied;

    LineReader reader;
    qint64 lineNumber = 0;
    while (const std::optional<QByteArray> line = reader.next()) {
        ++lineNumber;
        const JsonLines::Value value = JsonLines::parse(*line);
        if (!value.ok) {
            std::fflush(stdout);
            writeErr(
                QStringLiteral("quorvane-cli: line %1: %2\n").arg(lineNumber).arg(value.error));
            return BadUsage;
        }
        try {
            const QString newValue = ComputeNewValue(*operation, *parameters, value.text);
            writeOut("{\"new\":" + JsonLines::quote(newValue) + "}\n");
        } catch (const RuntimeError& error) {
            writeOut("{\"error\":{\"number\":" + QByteArray::number(error.number()) +
                     ",\"description\":" + JsonLines::quote(error.description()) + "}}\n");
        }
    }
    std::fflush(stdout);
    return Success;
}

// tables, fields and preview: one read of the schema, printed as JSON strings.
int browse(const QString& command, const QStringList& arguments)
{
    QStringList allowed = {SidOption, UserOption, DriverOption};
    if (command != u"tables")
        allowed << TableOption;
    if (command == u"preview")
        allowed << FieldOption;
    const Options options = parseOptions(arguments, allowed);
    if (!options.error.isEmpty())
        return usageError(options.error);
    int exitCode = Success;
    std::optional<QString> table;
    std::optional<QString> field;
    if (allowed.contains(TableOption) && !(table = requiredOption(options, TableOption, exitCode)))
        return exitCode;
    if (allowed.contains(FieldOption) && !(field = requiredOption(options, FieldOption, exitCode)))
        return exitCode;
    try {
        const Logon logon = logonFrom(options);
        if (table) {
            const QString missing = missingSelection(logon, *table, field);
            if (!missing.isEmpty())
                return badInput(missing);
        }
        if (command == u"tables")
            writeJsonLines(Oracle::ListTables(logon));
        else if (command == u"fields")
            writeJsonLines(Oracle::ListFields(logon, *table));
        else
            writeJsonLines(Oracle::Preview(logon, *table, *field));
    } catch (const std::exception& error) {
        writeFailure(error);
        return ErrorReported;
    }
    return Success;
}

// Progress on stderr, a line for every tenth reached; a wait for a locked
// row is one line of its own.
class ProgressLines
{
public:
    static void waiting()
    {
        writeErr(QStringLiteral("Waiting for a row that another connection holds...\n"));
    }

    void show(double percent)
    {
        const int tenth = static_cast<int>(percent / 10.0);
        if (tenth > m_lastTenth) {
            m_lastTenth = tenth;
            writeErr(QStringLiteral("Progress: %1%\n").arg(qRound(percent)));
        }
    }

private:
    int m_lastTenth = -1;
};

// What a change run tells the command line: progress goes to stderr, the
// refreshed preview is kept for stdout.
class CommandLineObserver : public ChangeRunObserver
{
public:
    void setMousePointer(MousePointer) override {}
    void setProgress(double percent) override { m_progress.show(percent); }
    void showWaiting() override { ProgressLines::waiting(); }
    void letEventsRun() override {}
    bool stopRequested() const override { return stopSignals > 0; }
    void clearPreview() override { m_preview.clear(); }
    void addPreviewEntry(const QString& text) override { m_preview << text; }

    const QStringList& preview() const { return m_preview; }

private:
    QStringList m_preview;
    ProgressLines m_progress;
};

// The counts of a run, as one JSON object.
QByteArray summaryJson(const ChangeRunResult& result)
{
    const std::pair<const char*, int> counts[] = {
        {"rows", result.rows},     {"changed", result.changed},     {"unchanged", result.unchanged},
        {"failed", result.failed}, {"conflicts", result.conflicts}, {"skipped", result.skipped()},
    };
    QByteArray json = "{";
    for (const auto& [name, count] : counts)
        json += '"' + QByteArray(name) + "\":" + QByteArray::number(count) + ',';
    json +=
        "\"stopped\":" + QByteArray(result.end == ChangeRunResult::End::Stopped ? "true" : "false");
    json += ",\"connectionLost\":" + QByteArray(result.connectionLost ? "true" : "false") + '}';
    return json;
}

int runChange(const QStringList& arguments)
{
    const Options options = parseOptions(arguments,
                                         {TableOption, FieldOption, OperationOption, AnswerOption,
                                          SidOption, UserOption, DriverOption},
                                         {DryRunFlag, RowByRowFlag});
    if (!options.error.isEmpty())
        return usageError(options.error);
    int exitCode = Success;
    const std::optional<QString> table = requiredOption(options, TableOption, exitCode);
    if (!table)
        return exitCode;
    const std::optional<QString> field = requiredOption(options, FieldOption, exitCode);
    if (!field)
        return exitCode;
    QStringList answers;
    const Operation* operation = chosenOperation(options, answers, exitCode);
    if (!operation)
        return exitCode;
    const bool dryRun = options.values.contains(DryRunFlag);
    ChangeRunOptions runOptions;
    runOptions.rowByRow = options.values.contains(RowByRowFlag);

    Logon logon;
    try {
        logon = logonFrom(options);
    } catch (const std::exception& error) {
        writeFailure(error);
        return ErrorReported;
    }
    try {
        const QString missing = missingSelection(logon, *table, *field);
        if (!missing.isEmpty())
            return badInput(missing);
    } catch (const std::exception&) {
        // Not listed at all (the logon refused, the server gone): the run
        // meets the same failure on its own connection and reports it.
    }
    std::unique_ptr<Journal> journal;
    if (dryRun) {
        runOptions.dryRun = true;
        runOptions.seen = [](const Change& change) {
            writeOut("{\"old\":" + JsonLines::quote(change.oldValue) +
                     ",\"new\":" + JsonLines::quote(change.newValue) + "}\n");
        };
    } else {
        // No journal, no change: a run that cannot be undone is not started.
        if (!(journal = openJournal()))
            return ErrorReported;
        runOptions.journal = journal.get();
    }
    stopOnSignals();
    ChangeRequest request;
    request.logon = logon;
    request.table = *table;
    request.field = *field;
    request.operation = OperationNumber(*operation);
    request.options = std::move(runOptions);
    request.window = QStringLiteral("Form2"); // the reports read as the window's
    request.handler = QStringLiteral("PushButton1_Click");
    CommandLineObserver observer;
    ScriptedAnswers ui(answers);
    ChangeRunResult result = ChangeRun(observer, ui).run(request);
    RefillPreview(request, observer, ui, result); // the preview printed on "Done."
    if (result.end == ChangeRunResult::End::Done)
        writeJsonLines(observer.preview());
    std::fflush(stdout);
    writeErr(QStringLiteral("Summary: ") + QString::fromUtf8(summaryJson(result)) + u'\n');
    if (result.reports > 0 || result.end != ChangeRunResult::End::Done)
        return ErrorReported;
    if (result.rows > 0 && !result.applied)
        return NotApplied;
    return Success;
}

// The installed drivers and configured data sources, one JSON object per line.
int drivers(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usageError(QStringLiteral("'drivers' takes no arguments"));
    return writeLines([] {
        for (const Oracle::OdbcEntry& entry : Oracle::InstalledDrivers()) {
            const bool driver = entry.kind == Oracle::OdbcEntry::Kind::Driver;
            const QJsonObject object{
                {driver ? "driver" : "dataSource", entry.name},
                {driver ? "attributes" : "driver", entry.description},
            };
            writeJsonObject(object);
        }
    });
}

// The journal's runs, newest first, one JSON object per line.
int history(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usageError(QStringLiteral("'history' takes no arguments"));
    const std::unique_ptr<Journal> journal = openJournal();
    if (!journal)
        return ErrorReported;
    return writeLines([&journal] {
        for (const Journal::Run& run : journal->runs()) {
            QJsonObject object{
                {"run", run.id},
                {"started", run.started.toString(Qt::ISODateWithMs)},
                {"sid", run.sid},
                {"user", run.user},
                {"driver", run.driver},
                {"table", run.table},
                {"field", run.field},
                {"operation", run.operation},
                {"answers", QJsonArray::fromStringList(run.answers)},
                {"rows", run.rows},
                {"changed", run.changed},
                {"failed", run.failed},
                {"conflicts", run.conflicts},
                {"state", run.state},
                {"undone", run.undone},
                {"restored", run.restored},
                {"conflictsLeft", run.kept},
                {"toUndo", run.toUndo},
            };
            writeJsonObject(object);
        }
    });
}

// Progress of an undo on stderr.
class UndoPorts : public RunObserver
{
public:
    void setMousePointer(MousePointer) override {}
    void setProgress(double percent) override { m_progress.show(percent); }
    void showWaiting() override { ProgressLines::waiting(); }
    bool stopRequested() const override { return stopSignals > 0; }

private:
    ProgressLines m_progress;
};

int undo(const QStringList& arguments)
{
    const Options options =
        parseOptions(arguments, {RunOption, SidOption, UserOption, DriverOption}, {RowByRowFlag});
    if (!options.error.isEmpty())
        return usageError(options.error);
    const QStringList runs = options.values.value(RunOption);
    bool numeric = true;
    const qint64 given = runs.isEmpty() ? 0 : runs.last().toLongLong(&numeric);
    if (runs.size() > 1 || !numeric || (!runs.isEmpty() && given <= 0))
        return usageError(QStringLiteral("--run takes one run number"));
    const std::unique_ptr<Journal> journal = openJournal();
    if (!journal)
        return ErrorReported;
    Logon logon;
    qint64 runId = given;
    try {
        logon = logonFrom(options);
        if (!runId) {
            const std::optional<Journal::Run> last = Undo::LastUndoable(*journal, logon);
            if (!last) {
                writeErr(QStringLiteral("quorvane-cli: no run of %1 on %2 is left to undo\n")
                             .arg(logon.user, logon.sid));
                return BadUsage;
            }
            runId = last->id;
        }
    } catch (const std::exception& error) {
        writeFailure(error);
        return ErrorReported;
    }
    stopOnSignals();
    UndoPorts ports;
    ScriptedAnswers ui({});
    UndoOptions undoOptions;
    undoOptions.rowByRow = options.values.contains(RowByRowFlag);
    undoOptions.window = QStringLiteral("Form2"); // the reports read as the window's
    undoOptions.handler = QStringLiteral("PushButton8_Click");
    const UndoResult result = Undo(ports, ui, *journal, undoOptions).undo(runId, logon);
    switch (result.end) {
    case UndoResult::End::UnknownRun:
        writeErr(QStringLiteral("quorvane-cli: there is no run %1\n").arg(runId));
        return BadUsage;
    case UndoResult::End::AlreadyUndone:
        writeErr(QStringLiteral("quorvane-cli: run %1 was undone before\n").arg(runId));
        return BadUsage;
    case UndoResult::End::OtherLogon:
        writeErr(QStringLiteral("quorvane-cli: run %1 was made under another logon\n").arg(runId));
        return BadUsage;
    case UndoResult::End::StillWriting:
        writeErr(QStringLiteral("quorvane-cli: Run %1 is still writing.\n").arg(runId));
        return BadUsage;
    default:
        break;
    }
    if (result.left > 0) {
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QString left = QStringLiteral("quorvane-cli: %1 of %2 rows restored")
                           .arg(english.toString(result.restored),
                                english.toString(result.restored + result.conflicts + result.left));
        if (result.end == UndoResult::End::Stopped)
            left += QStringLiteral(" \u00b7 Stopped");
        left += QStringLiteral(" \u00b7 %1 left: undo --run %2 again to go on\n")
                    .arg(english.toString(result.left))
                    .arg(runId);
        writeErr(left);
    }
    writeErr(QStringLiteral("Summary: {\"run\":%1,\"rows\":%2,\"restored\":%3,\"conflicts\":%4,"
                            "\"failed\":%5,\"stopped\":%6,\"left\":%7}\n")
                 .arg(runId)
                 .arg(result.rows)
                 .arg(result.restored)
                 .arg(result.conflicts)
                 .arg(result.failed)
                 .arg(result.end == UndoResult::End::Stopped ? "true" : "false")
                 .arg(result.left));
    const bool complete = result.end == UndoResult::End::Done && result.conflicts == 0 &&
                          result.failed == 0 && result.left == 0 && result.reports == 0;
    return complete ? Success : ErrorReported;
}

} // namespace

int run(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = arguments.front();
    const QStringList rest = arguments.mid(1);
    if (command == u"operations")
        return listOperations(rest);
    if (command == u"transform")
        return transform(rest);
    if (command == u"tables" || command == u"fields" || command == u"preview")
        return browse(command, rest);
    if (command == u"run")
        return runChange(rest);
    if (command == u"history")
        return history(rest);
    if (command == u"drivers")
        return drivers(rest);
    if (command == u"undo")
        return undo(rest);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        writeOut(QByteArray(Usage));
        return Success;
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace Cli
