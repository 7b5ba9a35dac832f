#include "change/Undo.h"

#include "app/ErrorReport.h"
#include "app/RuntimeError.h"
#include "db/Schema.h"

#include <QElapsedTimer>

namespace
{

// The undo's numbered steps.
constexpr int ReadRun = 100;
constexpr int OpenConnection = 102;
constexpr int FindRows = 104;
constexpr int LoopHead = 106;
constexpr int WriteBack = 108;
constexpr int Progress = 110;
constexpr int NoteRow = 112;
constexpr int MarkUndone = 114;
constexpr int DefaultPointer = 116;

constexpr int ResponsiveEveryMs = 50;

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
    if (!steps.step(ReadRun, [&] {
            run = m_journal.run(runId);
            if (run && !run->undone)
                rows = m_journal.rowsToUndo(runId);
        }))
        return finish(UndoResult::End::Failed);
    if (!run)
        return finish(UndoResult::End::UnknownRun);
    if (run->undone)
        return finish(UndoResult::End::AlreadyUndone);
    if (run->sid != logon.sid || run->user != logon.user)
        return finish(UndoResult::End::OtherLogon);

    m_ports.setMousePointer(MousePointer::Hourglass);
    std::unique_ptr<Oracle::Connection> connection;
    if (!steps.step(OpenConnection, [&] {
            connection = Oracle::OpenConnection(logon, Oracle::ConnectionProperty::None);
        }))
        return finish(UndoResult::End::Failed);
    std::unique_ptr<DirectWriter> writer;
    if (!steps.step(FindRows, [&] {
            const Oracle::RowKey key = Oracle::ReadRowKey(*connection, run->table);
            for (const Journal::Row& row : rows)
                if (row.key.size() != key.conditions.size())
                    throw RuntimeError(RuntimeError::DriverError,
                                       QStringLiteral("The table's row key changed since the run: "
                                                      "its rows cannot be found again."));
            writer = std::make_unique<DirectWriter>(
                *connection, connection->dialect().rowWrite(run->table, run->field, key), [this] {
                    m_ports.keepResponsive();
                    return !m_ports.stopRequested();
                });
        }))
        return finish(UndoResult::End::Failed);

    steps.setBounded(true);
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    bool stopped = false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (sinceEvents.elapsed() >= ResponsiveEveryMs) {
            m_ports.keepResponsive();
            sinceEvents.restart();
        }
        if ((stopped = m_ports.stopRequested()))
            break;
        const Journal::Row& row = rows.at(i);
        steps.step(LoopHead, [] {});
        // Back from the new value to the old one, only where the new one stands.
        RowWriter::Outcome outcome = RowWriter::Outcome::Conflict;
        const bool written = steps.step(WriteBack, [&] {
            outcome = writer->write({row.key, row.newValue, row.oldValue}).outcome;
        });
        steps.step(Progress,
                   [&] { m_ports.setProgress(double(i + 1) / double(rows.size()) * 100.0); });
        const bool wasWritten = row.state == Journal::RowState::Written;
        if (!written) {
            ++result.failed;
            if (steps.lastErrorNumber() == RuntimeError::ConnectionLost) {
                result.connectionLost = true;
                break;
            }
        } else if (outcome == RowWriter::Outcome::Stopped) {
            stopped = true;
            break;
        } else if (outcome == RowWriter::Outcome::Written) {
            ++result.restored;
            steps.step(NoteRow, [&] { m_journal.markRow(row.id, Journal::RowState::Restored); });
        } else if (wasWritten) {
            ++result.conflicts;
        }
    }
    steps.setBounded(false);
    steps.reportRepeats();
    result.rows = result.restored + result.conflicts + result.failed;
    if (result.connectionLost)
        return finish(UndoResult::End::Failed);
    if (stopped)
        return finish(UndoResult::End::Stopped);
    steps.step(MarkUndone, [&] { m_journal.markUndone(runId); });
    return finish(UndoResult::End::Done);
}
