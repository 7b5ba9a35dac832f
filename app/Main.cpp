#include "app/Main.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Main
{

namespace
{
QString& applicationTitle()
{
    static QString title = MakeApplicationTitle(ProductFullName());
    return title;
}
} // namespace

QString ProductFullName()
{
    return QStringLiteral("Quorvane");
}

QString MakeApplicationTitle(const QString& fullName)
{
    QString title = fullName;
    const QChar blank(u' ');
    if (!title.contains(blank))
        return title.left(MaxApplicationTitleLength);
    do {
        const qsizetype lastBlank = title.lastIndexOf(blank);
        if (lastBlank < 0) // no blank left to cut at: keep the first 40
            return title.left(MaxApplicationTitleLength);
        title.truncate(lastBlank);
    } while (title.size() > MaxApplicationTitleLength);
    return title;
}

void SetApplicationTitle()
{
    applicationTitle() = MakeApplicationTitle(ProductFullName());
}

QString ApplicationTitle()
{
    return applicationTitle();
}

QString ProgramDirectory()
{
    QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    while (dir.size() > 1 && (dir.endsWith(u'/') || dir.endsWith(u'\\')))
        dir.chop(1);
    return dir;
}

bool FileExists(const QString& path) noexcept
{
    try {
        if (path.isEmpty())
            return false;
        const QFileInfo info(path);
        return info.exists() && info.lastModified().isValid();
    } catch (...) {
        return false;
    }
}

QString ValueOrDefault(const QVariant& value, const QString& defaultValue)
{
    if (!value.isValid() || value.isNull())
        return defaultValue;
    return value.toString();
}

QString NotNull(QString text)
{
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}

} // namespace Main
