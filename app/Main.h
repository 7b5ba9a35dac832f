#pragma once

#include <QString>
#include <QVariant>

// Small helpers shared by the start-up, the database access and the change run.
namespace Main
{

// The product's full name: window captions, settings section, source of the title.
QString ProductFullName();

// The longest title of message and input boxes.
constexpr int MaxApplicationTitleLength = 40;

// The title made from a full name: cut at the last blank (at least once), and
// again while it is longer than 40 characters. A name without any blank to cut
// at is kept whole when it fits, else its first 40 characters are kept.
QString MakeApplicationTitle(const QString& fullName);

// Sets the application title from the product full name (once, at start-up).
void SetApplicationTitle();

// The title of every message and input box that has none of its own. Before
// SetApplicationTitle has run it is the title the product full name gives.
QString ApplicationTitle();

// The folder that holds the program file, without a trailing separator.
QString ProgramDirectory();

// True when the file's last-modification time can be read; never throws.
bool FileExists(const QString& path) noexcept;

// The default for a database Null (an invalid or null QVariant), else the
// value's own text form.
QString ValueOrDefault(const QVariant& value, const QString& defaultValue);

// The text itself, an empty one as an empty text, never a null QString
// (which would bind as a database Null).
QString NotNull(QString text);

} // namespace Main
