#include "change/ChangeRun.h"

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "app/RuntimeError.h"
#include "change/BatchWriter.h"
#include "change/DryRunWriter.h"
#include "change/Journal.h"
#include "change/JournaledWriter.h"
#include "change/OperationCatalogue.h"
#include "change/Snapshot.h"
#include "change/Steps.h"
#include "change/ThreadedWriter.h"
#include "db/Schema.h"

#include <QSqlRecord>
#include <optional>
#include <vector>

namespace
{

using namespace RunSteps;

QString conflictsLeftAlone(int rows)
{
    return rows == 1 ? QStringLiteral("1 row was changed by someone else after it was read and "
                                      "was left alone.")
                     : QStringLiteral("%1 rows were changed by someone else after they were read "
                                      "and were left alone.")
                           .arg(rows);
}

// Numeric test and empty test for number prompts; the empty test otherwise.
int answerTestCount(PromptKind kind)
{
    switch (kind) {
    case PromptKind::NoPrompt:
        return 0;
    case PromptKind::NumberPrompt:
        return 2;
    default:
        return 1;
    }
}

// What became of each write, told when its batch went, counted into the
// run's result; a lost connection or journal is reported once, and ends the
// writes. Hooked to the writer for the tally's life only: the writer
// outlives the row loop that keeps the tally.
class WriteTally
{
public:
    WriteTally(RowWriter& writer, StepRunner& steps, int statementStep, ChangeRunResult& result,
               std::function<void()> settled)
        : m_writer(writer), m_steps(steps), m_statementStep(statementStep), m_result(result),
          m_settled(std::move(settled))
    {
        m_writer.setReports({}, [this](const RowWriter::Results& results) { count(results); });
    }
    ~WriteTally() { m_writer.setReports({}, {}); }
    WriteTally(const WriteTally&) = delete;
    WriteTally& operator=(const WriteTally&) = delete;

    bool stopped = false; // a write was stopped
    bool ended = false;   // the connection or the journal failed: no more writes

private:
    void count(const RowWriter::Results& results)
    {
        m_settled();
        for (const RowWriter::Result& written : results) {
            if (written.errorNumber != 0 && !ended) {
                // A lost connection or journal is told once: the rows of
                // its batch went with it.
                m_steps.failed(m_statementStep, RuntimeError(written.errorNumber, written.error));
                ended = written.errorNumber == RuntimeError::ConnectionLost ||
                        written.errorNumber == RuntimeError::FileAccessError;
                m_result.connectionLost = written.errorNumber == RuntimeError::ConnectionLost;
            }
            switch (written.outcome) {
            case RowWriter::Outcome::Written:
                ++m_result.changed;
                break;
            case RowWriter::Outcome::Conflict:
                ++m_result.conflicts;
                break;
            case RowWriter::Outcome::Stopped:
                stopped = true;
                break;
            case RowWriter::Outcome::Failed:
                ++m_result.failed;
                break;
            }
        }
    }

    RowWriter& m_writer;
    StepRunner& m_steps;
    const int m_statementStep;
    ChangeRunResult& m_result;
    std::function<void()> m_settled;
};

} // namespace

OperationSteps StepsOfOperation(int number)
{
    const auto& catalogue = OperationCatalogue();
    int next = FirstOperationTest;
    for (int k = 1; k <= static_cast<int>(catalogue.size()); ++k) {
        const PromptKind kind = catalogue.at(static_cast<size_t>(k - 1)).promptKind;
        OperationSteps steps;
        steps.test = next;
        steps.firstPrompt = steps.test + 2;
        const int afterTests = steps.firstPrompt + 2 * (PromptCount(kind) + answerTestCount(kind));
        steps.loopHead = afterTests;
        steps.newValue = steps.loopHead + 2;
        steps.progress = steps.newValue + 2;
        steps.statement = steps.progress + 2;
        steps.update = steps.statement + 2;
        steps.nextRow = steps.update + 2;
        steps.loopEnd = steps.nextRow + 2;
        steps.mustEnterNumber = kind == PromptKind::NumberPrompt ? steps.loopEnd + 2 : 0;
        steps.last = steps.mustEnterNumber ? steps.mustEnterNumber : steps.loopEnd;
        if (k == number)
            return steps;
        next = steps.last + 2;
    }
    return {};
}

ChangeRun::ChangeRun(ChangeRunObserver& observer, Interaction& ui) : m_observer(observer), m_ui(ui)
{
}

std::unique_ptr<RowWriter> ChangeRun::makeWriter(const ChangeRequest& request,
                                                 std::unique_ptr<ThreadedWriter> threaded,
                                                 std::unique_ptr<Oracle::Connection>& writing,
                                                 const Operation& operation,
                                                 const OperationParameters& parameters,
                                                 const Db::RowKey& key, ChangeRunResult& result)
{
    const ChangeRunOptions& options = request.options;
    if (options.dryRun)
        return std::make_unique<DryRunWriter>(options.seen);
    const QString& table = request.table;
    const QString& field = request.field;
    if (options.journal) {
        Journal::Run entry;
        entry.started = QDateTime::currentDateTimeUtc();
        entry.sid = request.logon.sid;
        entry.user = request.logon.user;
        entry.driver = Oracle::DriverName(request.logon.driver);
        entry.table = table;
        entry.field = field;
        entry.operation = operation.caption;
        entry.answers = AnswersOf(operation, parameters);
        entry.rows = result.rows;
        entry.keyNames = key.names();
        result.journalRun = options.journal->beginRun(entry);
    }
    try {
        std::unique_ptr<RowWriter> writer;
        if (threaded) {
            // Batches, journaled and written on a thread of their own, with
            // a connection and a journal connection of their own, while this
            // thread reads on.
            const QString journal = options.journal ? options.journal->path() : QString();
            const qint64 run = result.journalRun;
            const int rows = threaded->batchRows();
            threaded->start([=](Oracle::Connection& connection,
                                WriteControl control) -> std::unique_ptr<RowWriter> {
                auto batches = std::make_unique<BatchWriter>(connection, table, field, key,
                                                             std::move(control), rows);
                if (journal.isEmpty())
                    return batches;
                return std::make_unique<JournaledWriter>(std::make_unique<Journal>(journal), run,
                                                         std::move(batches));
            });
            writer = std::move(threaded);
        } else {
            writing = Oracle::OpenConnection(request.logon, Oracle::ConnectionProperty::Writing);
            WriteControl control;
            control.stopRequested = [this] { return m_observer.stopRequested(); };
            control.waiting = [this] { m_activity->waiting(); };
            writer =
                std::make_unique<DirectWriter>(*writing, table, field, key, std::move(control));
            if (options.journal)
                writer = std::make_unique<JournaledWriter>(*options.journal, result.journalRun,
                                                           std::move(writer));
        }
        return writer;
    } catch (...) {
        if (options.journal)
            options.journal->endRun(result.journalRun, result.rows, 0, 0, 0,
                                    QStringLiteral("failed"));
        result.journalRun = 0;
        throw;
    }
}

bool ChangeRun::applyRows(StepRunner& steps, Snapshot& snapshot, int n, const Operation& operation,
                          const OperationSteps& opSteps, const OperationParameters& parameters,
                          RowWriter& writer, const ChangeRunOptions& options,
                          ChangeRunResult& result)
{
    // A failure repeated on many rows is shown once, then counted.
    steps.setBounded(true);
    WriteTally tally(writer, steps, opSteps.statement, result, [this] { m_activity->settled(); });
    bool& stopped = tally.stopped;
    bool& ended = tally.ended;
    // The rows cannot be read on: what was read is written, unless the
    // connection is gone.
    bool readable = true;
    auto readFailed = [&] {
        stopped = stopped || steps.lastErrorNumber() == RuntimeError::Stopped;
        result.connectionLost = steps.lastErrorNumber() == RuntimeError::ConnectionLost;
        ended = result.connectionLost;
        readable = false;
    };
    // Where the database can, only the rows the operation may change are
    // read; the rows passed over are unchanged, and the progress follows
    // the rows read.
    std::optional<int> narrowedTo;
    if (const std::optional<QStringList> texts = ChangingTexts(operation, parameters)) {
        if (!steps.step(OpenRows, [&] { narrowedTo = snapshot.narrow(*texts); }))
            readFailed();
    }
    const int last = narrowedTo ? *narrowedTo - 1 : n;
    int processed = 0; // rows through the loop
    bool readToEnd = false;
    const Applied applied{steps, operation, opSteps, parameters, writer, options, result};
    while (readable && !stopped && !ended) {
        if ((stopped = m_observer.stopRequested()))
            break;
        Snapshot::Row row;
        bool more = false;
        if (!steps.step(OpenRows, [&] { more = snapshot.next(row); })) {
            readFailed();
            break;
        }
        if (!more) {
            readToEnd = true;
            break;
        }
        ++processed;
        if (!applyRow(applied, row, last, processed, narrowedTo ? *narrowedTo : result.rows))
            break;
    }
    // A read that sees each block as it is may meet rows added since the
    // count: they are rows of the run too.
    result.rows = qMax(result.rows, processed);
    if (readToEnd && narrowedTo) { // the rows passed over were judged too
        if (processed == 0)
            steps.step(opSteps.progress, [&] { m_observer.setProgress(100.0); });
        result.unchanged += result.rows - processed;
    }
    endRows(steps, writer, opSteps, options, stopped, ended, result);
    return stopped;
}

// One row through the operation's steps: its new value, the progress, and
// its write where it changes. False where the number answer does not
// convert (no row would fare better).
bool ChangeRun::applyRow(const Applied& to, const Snapshot::Row& row, int last, int processed,
                         int total)
{
    const int i = row.place;
    to.steps.step(to.opSteps.loopHead, [] {});
    bool overflow = false;
    const std::optional<QString> newValue = newValueOf(
        to.steps, to.operation, to.opSteps, to.parameters, row.value, to.options, overflow);
    if (overflow) {
        ++to.result.failed;
        return false;
    }
    to.steps.step(to.opSteps.progress, [&] {
        m_observer.setProgress(qMin(double(i + 1) / double(last + 1) * 100.0, 100.0));
    });
    m_activity->writing(processed, total);
    if (!newValue)
        ++to.result.failed;
    else if (row.isNull || *newValue == row.value)
        ++to.result.unchanged;
    else
        to.writer.write({row.key, row.value, *newValue, row.digest}, i);
    to.steps.step(to.opSteps.update, [] {});
    to.steps.step(to.opSteps.nextRow, [] {});
    to.steps.step(to.opSteps.loopEnd, [] {});
    return true;
}

// What is held back goes now, unless the run was stopped or ended; the
// repeated failures and the conflicts are told, and the journal's run ends.
void ChangeRun::endRows(StepRunner& steps, RowWriter& writer, const OperationSteps& opSteps,
                        const ChangeRunOptions& options, const bool& stopped, const bool& ended,
                        ChangeRunResult& result)
{
    if (stopped || ended || result.connectionLost)
        writer.drop();
    else
        writer.flush();
    steps.setBounded(false);
    steps.reportRepeats();
    if (result.conflicts > 0)
        steps.report(opSteps.statement, conflictsLeftAlone(result.conflicts));
    if (options.journal && result.journalRun) {
        const QString state = result.connectionLost || ended          ? QStringLiteral("failed")
                              : m_observer.stopRequested() || stopped ? QStringLiteral("stopped")
                                                                      : QStringLiteral("done");
        steps.step(opSteps.loopEnd, [&] {
            options.journal->endRun(result.journalRun, result.rows, result.changed, result.failed,
                                    result.conflicts, state);
        });
    }
}

// The operation asked for, each operation's test at its own step, in the
// catalogue's order; its steps in `opSteps`.
const Operation* ChangeRun::chooseOperation(StepRunner& steps, int number, OperationSteps& opSteps)
{
    const auto& catalogue = OperationCatalogue();
    for (int k = 1; k <= static_cast<int>(catalogue.size()); ++k) {
        const OperationSteps candidate = StepsOfOperation(k);
        const Operation& entry = catalogue.at(static_cast<size_t>(k - 1));
        if (steps.condition(candidate.test, [&] { return k == number; })) {
            opSteps = candidate;
            return &entry;
        }
    }
    return nullptr;
}

std::optional<QString> ChangeRun::newValueOf(StepRunner& steps, const Operation& operation,
                                             const OperationSteps& opSteps,
                                             const OperationParameters& parameters,
                                             const QString& value, const ChangeRunOptions& options,
                                             bool& overflow)
{
    auto compute = [&] {
        QString newValue = Main::NotNull(ComputeNewValue(operation, parameters, value));
        // Half a character (a cut by position inside a surrogate pair): no
        // database stores such a text as it is.
        if (!newValue.isValidUtf16())
            throw RuntimeError(RuntimeError::SplitCharacter,
                               QStringLiteral("The new value would cut a character in two."));
        return newValue;
    };
    if (options.dryRun && options.failedRow) { // told, not reported
        try {
            return compute();
        } catch (const RuntimeError& error) {
            overflow = error.number() == RuntimeError::Overflow;
            options.failedRow(value, error.description());
            return std::nullopt;
        }
    }
    QString newValue;
    if (steps.step(opSteps.newValue, [&] { newValue = compute(); }))
        return newValue;
    overflow = steps.lastErrorNumber() == RuntimeError::Overflow;
    return std::nullopt;
}

// How the run ends: its end and its reports in the result; the default
// pointer back first where `pointerBack`.
ChangeRunResult ChangeRun::ended(StepRunner& steps, ChangeRunResult& result,
                                 ChangeRunResult::End end, bool pointerBack)
{
    if (pointerBack)
        steps.step(DefaultPointer, [&] { m_observer.setMousePointer(MousePointer::Default); });
    result.end = end;
    result.reports = steps.reportCount();
    return result;
}

// The operation asked for, its prompts answered and its writer made, applied
// to every row; true when the run was stopped.
bool ChangeRun::applyOperation(StepRunner& steps, const ChangeRequest& request, Snapshot& snapshot,
                               std::unique_ptr<ThreadedWriter> threaded, ChangeRunResult& result)
{
    const ChangeRunOptions& options = request.options;
    OperationSteps opSteps;
    const Operation* const operation = chooseOperation(steps, request.operation, opSteps);
    std::optional<OperationParameters> parameters;
    std::unique_ptr<Oracle::Connection> writing;
    std::unique_ptr<RowWriter> writer;
    if (operation) {
        steps.step(opSteps.firstPrompt, [&] {
            parameters = options.answers ? options.answers : AskParameters(*operation, m_ui);
        });
    }
    if (parameters) {
        // A run that cannot be journaled writes nothing. The writes go over
        // a connection of their own while this one reads.
        const bool writerReady = steps.step(opSteps.firstPrompt, [&] {
            writer = makeWriter(request, std::move(threaded), writing, *operation, *parameters,
                                snapshot.key(), result);
        });
        if (!writerReady)
            parameters.reset();
    }
    result.applied = parameters.has_value();
    result.answers = parameters;
    return parameters && applyRows(steps, snapshot, result.rows - 1, *operation, opSteps,
                                   *parameters, *writer, options, result);
}

ChangeRunResult ChangeRun::run(const ChangeRequest& request)
{
    using End = ChangeRunResult::End;
    const ChangeRunOptions& options = request.options;
    ChangeRunResult result;
    m_activity.emplace(m_observer);
    StepRunner steps(m_ui, request.window, request.handler);

    std::unique_ptr<Oracle::Connection> connection;
    steps.step(NewConnection, [&] {
        connection = std::make_unique<Oracle::Connection>(Oracle::ConnectionProperty::ClientCursor);
    });
    steps.step(NewRows, [] {}); // the rows are read into a snapshot at OpenRows

    if (!request.fieldListed) { // FieldListed
        steps.step(PleaseSelectField, [&] {
            m_ui.messageBox(QStringLiteral("Please select a field."), Main::ApplicationTitle());
        });
        return ended(steps, result, End::NoField, false);
    }
    steps.step(Hourglass, [&] { m_observer.setMousePointer(MousePointer::Hourglass); });
    steps.step(ClientCursor, [] {});

    // Without a connection or its rows every later step would fail in turn:
    // one report, then the run ends.
    if (!connection || !steps.step(OpenConnection, [&] { connection->open(request.logon); }))
        return ended(steps, result, End::Failed, true);
    ReadCanceller canceller(m_observer);
    canceller.watch(*connection);

    // The batches' thread opens its connection while the rows are counted
    // and the prompts are answered.
    std::unique_ptr<ThreadedWriter> threaded;
    if (!options.dryRun && !options.rowByRow)
        threaded = std::make_unique<ThreadedWriter>(
            request.logon, options.batchRows, [this] { return m_observer.stopRequested(); },
            [this] { m_activity->waiting(); }, options.writerThreads);

    m_activity->reading();
    std::optional<Snapshot> snapshot;
    if (!steps.step(OpenRows, [&] { snapshot.emplace(*connection, request.table, request.field); }))
        return ended(steps, result,
                     steps.lastErrorNumber() == RuntimeError::Stopped ? End::Stopped : End::Failed,
                     true);
    result.rows = snapshot->count(); // LastRow
    if (result.rows > 0 &&           // AnyRows
        applyOperation(steps, request, *snapshot, std::move(threaded), result))
        return ended(steps, result, End::Stopped, true);
    if (result.connectionLost) // nothing more can be read: no refill, no "Done."
        return ended(steps, result, End::Failed, true);
    if (m_observer.stopRequested())
        return ended(steps, result, End::Stopped, true);
    if (options.dryRun) // nothing changed: no refill, no "Done."
        return ended(steps, result, End::Done, true);

    // The read ends; the preview is refilled after the run (RefillPreview).
    steps.step(CloseRows, [&] { snapshot->close(); });
    return ended(steps, result, End::Done, false);
}
