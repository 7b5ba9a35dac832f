// The change run's step numbers (what an error report names); no database.

#include "change/ChangeRun.h"

#include <QTest>

class TestRunSteps : public QObject
{
    Q_OBJECT

private slots:
    void testNumbers_data();
    void testNumbers();
    void operationsFollowOneAnother();
    void stepsOfOneOperation_data();
    void stepsOfOneOperation();
};

void TestRunSteps::testNumbers_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("test");
    const int tests[27] = {124, 140, 160, 176, 192, 208, 224, 244, 260, 280, 296, 316, 332, 352,
                           368, 388, 404, 424, 444, 466, 486, 508, 528, 550, 574, 598, 622};
    for (int n = 1; n <= 27; ++n)
        QTest::addRow("operation %d", n) << n << tests[n - 1];
}

void TestRunSteps::testNumbers()
{
    QFETCH(int, operation);
    QFETCH(int, test);
    QCOMPARE(StepsOfOperation(operation).test, test);
}

void TestRunSteps::operationsFollowOneAnother()
{
    for (int n = 1; n < 27; ++n)
        QCOMPARE(StepsOfOperation(n).last + 2, StepsOfOperation(n + 1).test);
    QCOMPARE(StepsOfOperation(27).last, 644);
}

void TestRunSteps::stepsOfOneOperation_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QList<int>>("steps"); // loop head .. loop end, then the message
    // No prompt: the loop follows the test at once.
    QTest::newRow("1 no prompt") << 1 << QList<int>{126, 128, 130, 132, 134, 136, 138, 0};
    // One prompt and its empty-answer test (142, 144).
    QTest::newRow("2 replacement") << 2 << QList<int>{146, 148, 150, 152, 154, 156, 158, 0};
    // Two prompts and one empty-answer test (446 to 450).
    QTest::newRow("19 find and replace") << 19 << QList<int>{452, 454, 456, 458, 460, 462, 464, 0};
    // Prompt 552, numeric test 554, empty test 556; the message ends the operation.
    QTest::newRow("24 number") << 24 << QList<int>{558, 560, 562, 564, 566, 568, 570, 572};
    QTest::newRow("25 number") << 25 << QList<int>{582, 584, 586, 588, 590, 592, 594, 596};
}

void TestRunSteps::stepsOfOneOperation()
{
    QFETCH(int, operation);
    QFETCH(QList<int>, steps);
    const OperationSteps s = StepsOfOperation(operation);
    QCOMPARE(s.firstPrompt, s.test + 2);
    const QList<int> actual{s.loopHead, s.newValue, s.progress, s.statement,
                            s.update,   s.nextRow,  s.loopEnd,  s.mustEnterNumber};
    QCOMPARE(actual, steps);
}

QTEST_GUILESS_MAIN(TestRunSteps)
#include "tst_runsteps.moc"
