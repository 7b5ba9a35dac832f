#include "app/DebugLog.h"
#include "app/Main.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestMain : public QObject
{
    Q_OBJECT

private slots:
    void applicationTitle_data();
    void applicationTitle();
    void titleOfTheProduct();
    void fileExists();
    void valueOrDefault_data();
    void valueOrDefault();
    void debugLog_data();
    void debugLog();
};

void TestMain::applicationTitle_data()
{
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<QString>("title");

    QTest::newRow("one word is kept whole") << "Quorvane"
                                            << "Quorvane";
    QTest::newRow("three short words keep the first two") << "Quorvane Data Cleaner"
                                                          << "Quorvane Data";
    QTest::newRow("two words keep the first") << "Quorvane Cleaner"
                                              << "Quorvane";
    // 60 characters; the 40th falls inside "Twelve".
    QTest::newRow("sixty characters end at the last whole word within forty")
        << "Alpha Bravo Charlie Delta Echo Foxtrot Twelve Hotel India Ju"
        << "Alpha Bravo Charlie Delta Echo Foxtrot";
    QTest::newRow("a trailing blank is cut first") << "Quorvane "
                                                   << "Quorvane";
    QTest::newRow("no blank and too long keeps the first forty")
        << QString(45, u'x') << QString(40, u'x');
    QTest::newRow("a first word longer than forty keeps its first forty")
        << QString(50, u'y') + " tail" << QString(40, u'y');
    QTest::newRow("tab is no blank to cut at") << "Quorvane\tData"
                                               << "Quorvane\tData";
    QTest::newRow("characters are counted, not bytes")
        << QString(39, u'é') + " ab c" << QString(39, u'é');
}

void TestMain::applicationTitle()
{
    QFETCH(QString, fullName);
    QFETCH(QString, title);
    QCOMPARE(Main::MakeApplicationTitle(fullName), title);
    QVERIFY(Main::MakeApplicationTitle(fullName).size() <= Main::MaxApplicationTitleLength);
}

void TestMain::titleOfTheProduct()
{
    Main::SetApplicationTitle();
    QCOMPARE(Main::ApplicationTitle(), QStringLiteral("Quorvane"));
}

void TestMain::fileExists()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("HAND-M.CUR"));
    QVERIFY(!Main::FileExists(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    QVERIFY(Main::FileExists(path));

    QVERIFY(!Main::FileExists(QString()));
    QVERIFY(!Main::FileExists(QStringLiteral("")));
    QVERIFY(!Main::FileExists(dir.filePath(QStringLiteral("missing/HAND-M.CUR"))));
    QVERIFY(!Main::FileExists(QString::fromUtf16(u"bad\0path", 8)));
}

void TestMain::valueOrDefault_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("null reads as the default") << QVariant() << "(default)";
    QTest::newRow("typed database null reads as the default")
        << QVariant(QMetaType(QMetaType::QString)) << "(default)";
    QTest::newRow("empty text stays empty") << QVariant(QString("")) << "";
    QTest::newRow("blanks are kept") << QVariant(QString("  a  ")) << "  a  ";
    QTest::newRow("a number gives its text form") << QVariant(42) << "42";
}

void TestMain::valueOrDefault()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(Main::ValueOrDefault(value, QStringLiteral("(default)")), expected);
}

// Set in the child that debugLog() starts: the child installs the handler,
// says what the row asks and ends.
const char ChildVariable[] = "QUORVANE_TEST_DEBUG_LOG_CHILD";

void TestMain::debugLog_data()
{
    QTest::addColumn<bool>("logged"); // QUORVANE_DEBUG_LOG set
    QTest::addColumn<bool>("fatal");  // a qFatal after the other messages
    QTest::newRow("no log: nothing on stderr") << false << false;
    QTest::newRow("log: every message appended to it") << true << false;
    QTest::newRow("fatal still ends the program, told on stderr and in the log") << true << true;
    QTest::newRow("fatal without a log still ends the program") << false << true;
}

void TestMain::debugLog()
{
    QFETCH(bool, logged);
    QFETCH(bool, fatal);
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        DebugLog::Install();
        qDebug("debug line");
        qInfo("info line");
        qWarning("warning line");
        qCritical("critical line");
        if (fatal)
            qFatal("fatal line");
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath(QStringLiteral("debug.log"));
    QFile earlier(log);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier line\n");
    earlier.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ChildVariable), QStringLiteral("1"));
    if (logged)
        env.insert(QString::fromLatin1(DebugLog::FileVariable), log);
    else
        env.remove(QString::fromLatin1(DebugLog::FileVariable));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("-nocrashhandler"),
                 QStringLiteral("debugLog:") + QString::fromUtf8(QTest::currentDataTag())});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), fatal ? QProcess::CrashExit : QProcess::NormalExit);

    const QString err = QString::fromUtf8(child.readAllStandardError());
    for (const char* kept : {"debug line", "info line", "warning line", "critical line"})
        QVERIFY2(!err.contains(QLatin1String(kept)), qPrintable(err));
    QCOMPARE(err.contains(QStringLiteral("fatal: fatal line")), fatal);
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(earlier.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QStringList expected = {QStringLiteral("earlier line")};
    if (logged) {
        expected << QStringLiteral("debug: debug line") << QStringLiteral("info: info line")
                 << QStringLiteral("warning: warning line")
                 << QStringLiteral("critical: critical line");
        if (fatal)
            expected << QStringLiteral("fatal: fatal line");
    }
    QStringList found;
    for (const QString& line : lines) // each after its time stamp
        found << (line == expected.front() ? line : line.section(u' ', 1));
    QCOMPARE(found, expected);
}

QTEST_GUILESS_MAIN(TestMain)
#include "tst_main.moc"
