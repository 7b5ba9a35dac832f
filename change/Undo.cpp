#include "change/Undo.h"

#include "app/ErrorReport.h"
#include "app/RuntimeError.h"
#include "db/Schema.h"

namespace
{

// The undo's numbered steps.
constexpr int ReadRun = 100;
constexpr int OpenConnection = 102;
constexpr int FindRows = 104;
constexpr int LoopHead = 106;
constexpr int WriteBack = 108;
constexpr int Progress = 110;
constexpr int MarkUndone = 112;
constexpr int DefaultPointer = 114;

// True when a row still stands where it was read, with the value read: its
// write was never made final (the run was killed after the journal learnt of
// it, before the write's transaction was committed), or it holds its old
// value again all the same; either way it is no conflict.
bool stillAsRead(Oracle::Connection& connection, const Oracle::RowKey& key, const Journal::Run& run,
                 const Journal::Row& row)
{
    QVariantList values = row.keyBefore;
    values << row.oldValue;
    QSqlQuery query =
        connection.select(connection.dialect().rowHolds(run.table, run.field, key), values);
    return connection.next(query) && query.value(0).toInt() > 0;
}

} // namespace

Undo::Undo(RunPorts& ports, Interaction& ui, Journal& journal)
    : m_ports(ports), m_ui(ui), m_journal(journal)
{
}

std::optional<Journal::Run> Undo::LastUndoable(Journal& journal, const Logon& logon)
{
    for (const Journal::Run& run : journal.runs())
        if (!run.undone && run.sid == logon.sid && run.user == logon.user)
            return run;
    return std::nullopt;
}

UndoResult Undo::undo(qint64 runId, const Logon& logon, const QString& handler)
{
    UndoResult result;
    StepRunner steps(m_ui, QStringLiteral("Form2"), handler);
    auto finish = [&](UndoResult::End end) {
        steps.step(DefaultPointer, [&] { m_ports.setMousePointer(MousePointer::Default); });
        result.end = end;
        result.reports = steps.reportCount();
        return result;
    };

    std::optional<Journal::Run> run;
    QList<Journal::Row> rows;
    bool writing = false;
    if (!steps.step(ReadRun, [&] {
            run = m_journal.run(runId);
            if (run && !run->undone && run->sid == logon.sid && run->user == logon.user &&
                !(writing = m_journal.isWriting(runId)))
                rows = m_journal.rowsToUndo(runId);
        }))
        return finish(UndoResult::End::Failed);
    if (!run)
        return finish(UndoResult::End::UnknownRun);
    if (run->undone)
        return finish(UndoResult::End::AlreadyUndone);
    if (run->sid != logon.sid || run->user != logon.user)
        return finish(UndoResult::End::OtherLogon);
    if (writing)
        return finish(UndoResult::End::StillWriting);

    m_ports.setMousePointer(MousePointer::Hourglass);
    RunActivity activity(m_ports);
    activity.reading();
    std::unique_ptr<Oracle::Connection> connection;
    if (!steps.step(OpenConnection, [&] {
            connection = Oracle::OpenConnection(logon, Oracle::ConnectionProperty::Writing);
        }))
        return finish(UndoResult::End::Failed);
    std::unique_ptr<DirectWriter> writer;
    Oracle::RowKey key;
    if (!steps.step(FindRows, [&] {
            key = Oracle::ReadRowKey(*connection, run->table, run->field);
            // The rows are named as the run named them, or not at all: a key
            // moved to other columns would name other rows.
            if (!run->keyNames.isEmpty() && run->keyNames != key.names)
                throw RuntimeError(
                    RuntimeError::DriverError,
                    QStringLiteral("The table's rows were named by %1 when the run wrote them, "
                                   "and are named by %2 now: they cannot be found again.")
                        .arg(run->keyNames.join(QStringLiteral(", ")),
                             key.names.join(QStringLiteral(", "))));
            for (const Journal::Row& row : rows)
                if (row.key.size() != key.conditions.size())
                    throw RuntimeError(RuntimeError::DriverError,
                                       QStringLiteral("The table's row key changed since the run: "
                                                      "its rows cannot be found again."));
            WriteControl control;
            control.stopRequested = [this] {
                m_ports.keepResponsive();
                return m_ports.stopRequested();
            };
            control.waiting = [&activity] { activity.waiting(); };
            writer = std::make_unique<DirectWriter>(*connection, run->table, run->field, key,
                                                    std::move(control));
        }))
        return finish(UndoResult::End::Failed);

    steps.setBounded(true);
    RowPacer pacer(m_ports);
    bool stopped = false;
    bool ended = false; // the connection or the journal failed
    int settled = 0;    // rows marked restored, kept or never written
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if ((stopped = pacer.stopRequested()))
            break;
        const Journal::Row& row = rows.at(i);
        steps.step(LoopHead, [] {});
        // The journal learns first that the row may be written back: found
        // later with its old value, it was restored by an undo whose mark
        // was lost, not left unwritten by a run that was killed.
        if (row.state != Journal::RowState::Undoing && !steps.step(WriteBack, [&] {
                m_journal.markRow(row.id, Journal::RowState::Undoing);
            })) {
            ++result.failed;
            ended = true;
            break;
        }
        // Back from the new value to the old one, only where the new one stands.
        // The journal learns of each row restored (and where it moved)
        // before the write back is final.
        RowWriter::Result back;
        writer->setReports(
            [&](const RowWriter::Results& results) {
                if (results.front().outcome == RowWriter::Outcome::Written)
                    m_journal.markRow(row.id, Journal::RowState::Restored,
                                      results.front().keyAfter);
            },
            [&](const RowWriter::Results& results) {
                back = results.front();
                activity.settled();
            });
        std::optional<Journal::RowState> became; // the row's final state, once journaled
        const bool written = steps.step(WriteBack, [&] {
            writer->write({row.key, row.newValue, row.oldValue}, i);
            if (back.outcome == RowWriter::Outcome::Failed) {
                // Not written: whatever the journal was told, the row is
                // still to undo, where it was.
                try {
                    m_journal.markRow(row.id, Journal::RowState::Undoing, row.key);
                } catch (const RuntimeError&) {
                }
                throw RuntimeError(back.errorNumber, back.error);
            }
            // Written, but the journal could not say so: not counted, tried
            // again by the next undo.
            if (back.errorNumber != 0)
                throw RuntimeError(back.errorNumber, back.error);
            if (back.outcome == RowWriter::Outcome::Written) {
                became = Journal::RowState::Restored;
            } else if (back.outcome == RowWriter::Outcome::Conflict) {
                // A row not found with its new value but as it was read
                // holds its old value: restored before, where an undo had
                // begun on it, else never written. No conflict either way.
                const Journal::RowState state =
                    !stillAsRead(*connection, key, *run, row) ? Journal::RowState::Kept
                    : row.state == Journal::RowState::Undoing ? Journal::RowState::Restored
                                                              : Journal::RowState::Failed;
                m_journal.markRow(row.id, state);
                became = state;
            }
        });
        steps.step(Progress,
                   [&] { m_ports.setProgress(double(i + 1) / double(rows.size()) * 100.0); });
        activity.writing(int(i + 1), int(rows.size()));
        if (!written) {
            ++result.failed;
            const int error = steps.lastErrorNumber();
            result.connectionLost = error == RuntimeError::ConnectionLost;
            if (result.connectionLost || error == RuntimeError::FileAccessError) {
                ended = true;
                break;
            }
            continue;
        }
        if (back.outcome == RowWriter::Outcome::Stopped) {
            stopped = true;
            break;
        }
        if (!became)
            continue;
        ++settled;
        if (*became == Journal::RowState::Restored)
            ++result.restored;
        else if (*became == Journal::RowState::Kept)
            ++result.conflicts;
    }
    steps.setBounded(false);
    steps.reportRepeats();
    result.rows = result.restored + result.conflicts + result.failed;
    result.left = int(rows.size()) - settled;
    if (ended)
        return finish(UndoResult::End::Failed);
    if (stopped)
        return finish(UndoResult::End::Stopped);
    if (result.left == 0) {
        steps.step(MarkUndone, [&] {
            if (!m_journal.markUndone(runId))
                result.left = m_journal.run(runId)->toUndo;
        });
    }
    return finish(UndoResult::End::Done);
}
