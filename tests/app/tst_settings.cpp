// The per-user store of the logon: the file that holds the password is the
// user's alone.

#include "app/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void storeIsPrivate_data();
    void storeIsPrivate();
};

void TestSettings::storeIsPrivate_data()
{
    QTest::addColumn<bool>("existing"); // a store left readable by others before
    QTest::newRow("a new store is made private") << false;
    QTest::newRow("an existing store is tightened when written") << true;
}

void TestSettings::storeIsPrivate()
{
#ifndef Q_OS_UNIX
    QSKIP("file modes are Unix's");
#endif
    QFETCH(bool, existing);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    const QString folder = home.filePath("Brenlow");
    const QString file = folder + "/Quorvane.conf";
    const auto everyoneReads = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                               QFile::ReadOther | QFile::ReadUser | QFile::WriteUser;
    if (existing) {
        QVERIFY(QDir(home.path()).mkdir("Brenlow"));
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[General]\nOracleUser=someone\n");
        old.close();
        QVERIFY(QFile::setPermissions(file, everyoneReads));
        QVERIFY(QFile::setPermissions(folder, everyoneReads | QFile::ExeOwner | QFile::ExeGroup |
                                                  QFile::ExeOther | QFile::ExeUser));
    }

    SettingsStore::WriteSetting(SettingsStore::OraclePassword, "secret");

    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFile::permissions(file) & others, QFile::Permissions());
    QCOMPARE(QFile::permissions(folder) & others, QFile::Permissions());
    QVERIFY(QFile::permissions(folder) & QFile::ExeOwner);
    QCOMPARE(SettingsStore::ReadSetting(SettingsStore::OraclePassword), QStringLiteral("secret"));
    if (existing)
        QCOMPARE(SettingsStore::ReadSetting(SettingsStore::OracleUser), QStringLiteral("someone"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
