#include "app/SettingsStore.h"

#include "app/RuntimeError.h"

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
    settings.setValue(key, text);
    settings.sync();
    check(settings);
}

} // namespace SettingsStore
