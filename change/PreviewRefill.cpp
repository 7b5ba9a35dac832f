#include "change/PreviewRefill.h"

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "app/RuntimeError.h"
#include "change/Steps.h"
#include "db/Schema.h"

#include <optional>

namespace
{

using namespace RunSteps;
using End = ChangeRunResult::End;

// The refill's steps over its connection; how the run ends.
class Refill
{
public:
    Refill(const ChangeRequest& request, ChangeRunObserver& observer, Interaction& ui,
           StepRunner& steps)
        : m_request(request), m_observer(observer), m_ui(ui), m_steps(steps)
    {
    }

    End go()
    {
        std::unique_ptr<Oracle::Connection> connection;
        ReadCanceller canceller(m_observer); // goes before the connection
        std::optional<QSqlQuery> rows;
        if (!m_steps.step(ReopenRows, [&] {
                connection =
                    Oracle::OpenConnection(m_request.logon, Oracle::ConnectionProperty::ReadWrite);
                canceller.watch(*connection);
                rows = connection->select(
                    connection->dialect().columnQuery(m_request.table, m_request.field));
            }))
            return ended(End::Failed); // the preview keeps what it showed
        const End end = refill(*connection, *rows);
        m_steps.step(CloseRefill, [&] { rows.reset(); });
        return ended(end);
    }

private:
    // The preview's entries, "Done." after them.
    End refill(Oracle::Connection& connection, QSqlQuery& rows)
    {
        m_steps.step(ClearPreview, [&] { m_observer.clearPreview(); });
        m_steps.step(RefillHourglass, [&] { m_observer.setMousePointer(MousePointer::Hourglass); });
        int k = 0;
        m_steps.step(RefillCountStart, [] {});
        m_steps.step(RefillField, [] {});
        m_steps.step(RefillFirstEvents, [&] { m_observer.letEventsRun(); });
        if (m_observer.stopRequested())
            return End::Stopped;
        while (k < Oracle::PreviewLimit) {
            bool more = false;
            if (!m_steps.step(RefillLoopTest, [&] { more = connection.next(rows); }))
                return End::Failed;
            if (!more)
                break;
            m_steps.step(RefillEvents, [&] { m_observer.letEventsRun(); });
            if (m_observer.stopRequested())
                return End::Stopped;
            m_steps.step(RefillAddEntry, [&] {
                m_observer.addPreviewEntry(Main::ValueOrDefault(rows.value(0), QString()));
            });
            m_steps.step(RefillNextRow, [] {});
            m_steps.step(RefillCount, [&] { ++k; });
        }
        return m_observer.stopRequested() ? End::Stopped : End::Done;
    }

    // The default pointer back, and "Done." where the refill went through.
    End ended(End end)
    {
        m_steps.step(DefaultPointer, [&] { m_observer.setMousePointer(MousePointer::Default); });
        // A read that ended because a stop was asked for did not fail.
        if (end == End::Failed && m_steps.lastErrorNumber() == RuntimeError::Stopped)
            return End::Stopped;
        if (end == End::Done)
            m_steps.step(DoneMessage, [&] {
                m_ui.messageBox(QStringLiteral("Done."), Main::ApplicationTitle());
            });
        return end;
    }

    const ChangeRequest& m_request;
    ChangeRunObserver& m_observer;
    Interaction& m_ui;
    StepRunner& m_steps;
};

} // namespace

void RefillPreview(const ChangeRequest& request, ChangeRunObserver& observer, Interaction& ui,
                   ChangeRunResult& result)
{
    if (result.end != End::Done || request.options.dryRun)
        return;
    StepRunner steps(ui, request.window, request.handler);
    result.end = Refill(request, observer, ui, steps).go();
    result.reports += steps.reportCount();
}
