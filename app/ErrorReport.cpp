#include "app/ErrorReport.h"

#include "app/RuntimeError.h"

namespace ErrorReport
{

QString Location(const QString& window, const QString& handler)
{
    return QStringLiteral("Quorvex2021/08/31.") + window + u'.' + handler;
}

QString ComposeMessage(const QString& description, const QString& location, int step)
{
    return description + QStringLiteral("\r\n") + QStringLiteral("in ") + location + u' ' +
           QStringLiteral("at line ") + QString::number(step) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + SupportAddress;
}

void Show(Interaction& ui, const QString& description, const QString& location, int step)
{
    ui.warningBox(ComposeMessage(description, location, step), Title);
}

QString DescriptionOf(const std::exception& error)
{
    if (const auto* runtimeError = dynamic_cast<const RuntimeError*>(&error))
        return runtimeError->description();
    return QString::fromLocal8Bit(error.what());
}

} // namespace ErrorReport

StepRunner::StepRunner(Interaction& ui, const QString& window, const QString& handler)
    : m_ui(ui), m_location(ErrorReport::Location(window, handler))
{
}

void StepRunner::report(const std::exception& error)
{
    const auto* runtimeError = dynamic_cast<const RuntimeError*>(&error);
    m_lastErrorNumber = runtimeError ? runtimeError->number() : 0;
    if (m_lastErrorNumber == RuntimeError::Stopped)
        return;
    const QString description = ErrorReport::DescriptionOf(error);
    if (m_bounded) {
        // The first of a kind is shown and leaves an empty tally behind.
        const auto [tally, first] = m_repeats.try_emplace({m_step, m_lastErrorNumber});
        if (!first) {
            if (tally->second.count++ == 0)
                tally->second.description = description;
            return;
        }
    }
    report(m_step, description);
}

void StepRunner::report(int number, const QString& description)
{
    ++m_reports;
    ErrorReport::Show(m_ui, description, m_location, number);
}

void StepRunner::reportRepeats()
{
    for (auto& [kind, tally] : m_repeats) {
        if (tally.count == 0)
            continue;
        const QString rows = tally.count == 1 ? QStringLiteral("1 more row")
                                              : QStringLiteral("%1 more rows").arg(tally.count);
        report(kind.first,
               QStringLiteral("%1 failed the same way: %2").arg(rows, tally.description));
        tally.count = 0;
    }
}
