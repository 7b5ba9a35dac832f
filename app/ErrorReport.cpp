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
    ++m_reports;
    const auto* runtimeError = dynamic_cast<const RuntimeError*>(&error);
    m_lastErrorNumber = runtimeError ? runtimeError->number() : 0;
    ErrorReport::Show(m_ui, ErrorReport::DescriptionOf(error), m_location, m_step);
}
