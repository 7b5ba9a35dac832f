#include "app/ErrorReport.h"
#include "app/RuntimeError.h"
#include "tests/support/ScriptedInteraction.h"

#include <QTest>

#include <stdexcept>

class TestErrorReport : public QObject
{
    Q_OBJECT

private slots:
    void message_data();
    void message();
    void failedStepIsReportedAndTheHandlerGoesOn();
    void failedConditionRunsTheGuardedSteps();
    void everyErrorIsReportedWithItsOwnStep();
    void otherExceptionsAreReportedWithTheirText();
};

void TestErrorReport::message_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("handler");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("expected");

    const QString tail = "Please email screenshot of this message to support@quorvane.example";
    QTest::newRow("overflow at start-up")
        << "Overflow" << "Form1" << "Form_Load" << 104
        << "Overflow\r\nin Quorvex2021/08/31.Form1.Form_Load at line 104\r\r" + tail;
    QTest::newRow("empty description starts with the line break")
        << "" << "Form2" << "PushButton1_Click" << 132
        << "\r\nin Quorvex2021/08/31.Form2.PushButton1_Click at line 132\r\r" + tail;
    QTest::newRow("driver text kept as it is")
        << "ERROR:  value too long\n" << "Form2" << "Form_Load" << 112
        << "ERROR:  value too long\n\r\nin Quorvex2021/08/31.Form2.Form_Load at line 112\r\r" + tail;
}

void TestErrorReport::message()
{
    QFETCH(QString, description);
    QFETCH(QString, window);
    QFETCH(QString, handler);
    QFETCH(int, step);
    QFETCH(QString, expected);

    QCOMPARE(ErrorReport::ComposeMessage(description, ErrorReport::Location(window, handler), step),
             expected);
    ScriptedInteraction ui;
    ErrorReport::Show(ui, description, ErrorReport::Location(window, handler), step);
    QCOMPARE(ui.reports, QStringList{expected});
    QCOMPARE(ui.reportTitles, QStringList{"Application Error"});
    QVERIFY(ui.messages.isEmpty());
}

void TestErrorReport::failedStepIsReportedAndTheHandlerGoesOn()
{
    ScriptedInteraction ui;
    StepRunner steps(ui, "Form1", "PushButton3_Click");
    QStringList ran;
    QVERIFY(steps.step(100, [&] { ran << "100"; }));
    QVERIFY(!steps.step(102, [&] {
        ran << "102 begun";
        throw RuntimeError::overflow();
        ran << "102 finished"; // abandoned at the error
    }));
    QVERIFY(steps.step(104, [&] { ran << "104"; }));

    QCOMPARE(ran, (QStringList{"100", "102 begun", "104"}));
    QCOMPARE(steps.reportCount(), 1);
    QCOMPARE(steps.lastErrorNumber(), 6);
    QCOMPARE(ui.reports.size(), 1);
    QVERIFY(ui.reports.front().startsWith(
        "Overflow\r\nin Quorvex2021/08/31.Form1.PushButton3_Click at line 102\r\r"));
}

void TestErrorReport::failedConditionRunsTheGuardedSteps()
{
    ScriptedInteraction ui;
    StepRunner steps(ui, "Form1", "Form_Load");
    QVERIFY(!steps.condition(134, [] { return false; }));
    QVERIFY(ui.reports.isEmpty());
    QVERIFY(steps.condition(134, []() -> bool { throw RuntimeError(-1, "no driver"); }));
    QCOMPARE(ui.reports.size(), 1);
    QVERIFY(ui.reports.front().contains("at line 134"));
}

void TestErrorReport::everyErrorIsReportedWithItsOwnStep()
{
    ScriptedInteraction ui;
    StepRunner steps(ui, "Form2", "PushButton1_Click");
    steps.step(128, [] { throw RuntimeError::invalidProcedureCall(); });
    steps.step(130, [] {});
    steps.step(132, [] { throw RuntimeError(-1, "ORA-12899: value too large"); });
    QCOMPARE(ui.reports.size(), 2);
    QVERIFY(ui.reports[0].startsWith("Invalid procedure call or argument\r\n"));
    QVERIFY(ui.reports[0].contains("at line 128\r\r"));
    QVERIFY(ui.reports[1].startsWith("ORA-12899: value too large\r\n"));
    QVERIFY(ui.reports[1].contains("at line 132\r\r"));
    QCOMPARE(steps.lastErrorNumber(), -1);
}

void TestErrorReport::otherExceptionsAreReportedWithTheirText()
{
    ScriptedInteraction ui;
    StepRunner steps(ui, "Form2", "Form_Load");
    steps.step(112, [] { throw std::runtime_error("out of memory"); });
    QCOMPARE(ui.reports.size(), 1);
    QVERIFY(ui.reports.front().startsWith("out of memory\r\nin Quorvex2021/08/31.Form2.Form_Load"));
    QCOMPARE(steps.lastErrorNumber(), 0);
}

QTEST_GUILESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
