#pragma once

#include "app/Interaction.h"

#include <QString>
#include <exception>
#include <map>
#include <utility>

// The one way the program tells of an unexpected run-time error: a warning
// box with the error's description, the handler's location and the number of
// the step that was running.
namespace ErrorReport
{

inline const QString Title = QStringLiteral("Application Error");
inline const QString SupportAddress = QStringLiteral("support@quorvane.example");

// "Quorvex2021/08/31." + window + "." + handler, e.g. "Quorvex2021/08/31.Form1.Form_Load".
QString Location(const QString& window, const QString& handler);

// description, CR LF, "in " + location + " ", "at line " + step, CR CR,
// "Please email screenshot of this message to " + the support address.
QString ComposeMessage(const QString& description, const QString& location, int step);

// Shows the report and returns when it has been closed.
void Show(Interaction& ui, const QString& description, const QString& location, int step);

// The description of a caught exception: a RuntimeError's own, else what().
QString DescriptionOf(const std::exception& error);

} // namespace ErrorReport

// Runs the numbered steps of one reporting handler. A run-time error in a
// step is reported with the handler's location and the step's number, and the
// handler goes on with its next step; nothing is retried or rolled back.
class StepRunner
{
public:
    StepRunner(Interaction& ui, const QString& window, const QString& handler);

    // Runs one step. True when it completed, false when it failed (and was
    // reported, unless it was stopped: RuntimeError::Stopped is no failure).
    template <class Body> bool step(int number, Body&& body)
    {
        m_step = number;
        try {
            std::forward<Body>(body)();
            return true;
        } catch (const std::exception& error) {
            report(error);
            return false;
        }
    }

    // Tests a condition as one step. When the test itself fails, the failure
    // is reported and the answer is true: the steps it guards run as if it
    // had passed.
    template <class Test> bool condition(int number, Test&& test)
    {
        m_step = number;
        try {
            return static_cast<bool>(std::forward<Test>(test)());
        } catch (const std::exception& error) {
            report(error);
            return true;
        }
    }

    // While bounded, a failure whose step and error number were already
    // reported is counted instead of shown; reportRepeats() then tells of them.
    void setBounded(bool bounded) { m_bounded = bounded; }
    // One report per step and number with counted failures, at that step:
    // "N more rows failed the same way: " and the first counted description.
    void reportRepeats();

    // Reports a description at a step, as a failure of that step would be.
    void report(int number, const QString& description);
    // A failure of a step that was told of later (a write sent with its
    // batch): reported as a failure of that step, bounded as one would be.
    void failed(int number, const std::exception& error)
    {
        m_step = number;
        report(error);
    }

    int currentStep() const { return m_step; }
    int reportCount() const { return m_reports; }
    // The number of the last error reported (RuntimeError's; 0 for others).
    int lastErrorNumber() const { return m_lastErrorNumber; }
    const QString& location() const { return m_location; }

private:
    void report(const std::exception& error);

    struct Repeats {
        int count = 0;
        QString description; // of the first one counted
    };

    Interaction& m_ui;
    QString m_location;
    int m_step = 0;
    int m_reports = 0;
    int m_lastErrorNumber = 0;
    bool m_bounded = false;
    std::map<std::pair<int, int>, Repeats> m_repeats; // by step and error number
};
