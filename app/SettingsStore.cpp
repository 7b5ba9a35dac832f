#include "app/SettingsStore.h"

#include "app/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace SettingsStore
{

namespace
{

void check(const QSettings& settings)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return;
    case QSettings::AccessError:
        throw RuntimeError(RuntimeError::FileAccessError,
                           QStringLiteral("Permission denied: %1").arg(settings.fileName()));
    case QSettings::FormatError:
        throw RuntimeError(
            RuntimeError::FileAccessError,
            QStringLiteral("The settings file is damaged: %1").arg(settings.fileName()));
    }
}

} // namespace

// The store holds a password: its folder and file are made the user's alone
// before the first value is written and tightened on every write.
void KeepPrivate(const QString& fileName)
{
#ifdef Q_OS_UNIX
    const QFileInfo file(fileName);
    const QString folder = file.absolutePath();
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!QFileInfo::exists(folder)) {
        const QFileInfo parent(QFileInfo(folder).absolutePath());
        if (!parent.exists())
            QDir().mkpath(parent.absoluteFilePath());
        QDir().mkdir(folder, ownerOnly | QFile::ExeOwner);
    }
    QFile::setPermissions(folder, ownerOnly | QFile::ExeOwner);
    if (!file.exists()) {
        QFile created(fileName);
        if (created.open(QIODevice::WriteOnly, ownerOnly))
            created.close();
    }
    QFile::setPermissions(fileName, ownerOnly);
#else
    Q_UNUSED(fileName);
#endif
}

QString ReadSetting(const QString& key, const QString& defaultValue)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brenlow"),
                       QStringLiteral("Quorvane"));
    check(settings);
    const QVariant value = settings.value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

void WriteSetting(const QString& key, const QString& text)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brenlow"),
                       QStringLiteral("Quorvane"));
    KeepPrivate(settings.fileName());
    settings.setValue(key, text);
    settings.sync();
    KeepPrivate(settings.fileName());
    check(settings);
}

} // namespace SettingsStore
