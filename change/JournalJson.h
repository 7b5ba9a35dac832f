#pragma once

#include "change/Journal.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <optional>

// The journal's JSON texts: written without QJsonDocument's tree, and read
// back the same way where they are as written here; a journal's batch of a
// thousand rows is written by every run and read by every undo.
namespace JournalJson
{

// A text as a JSON string, appended. Half a surrogate pair becomes the
// replacement character.
void append(QString& json, const QString& text);
// A list of values as a JSON array, appended.
void append(QString& json, const QVariantList& values);
// A text where there is one, else null.
void append(QString& json, const std::optional<QString>& text);
QString toJson(const QVariantList& values);
// A JSON array's values: texts, nulls and arrays of them as QString,
// nullptr and QVariantList; other JSON by way of QJsonDocument.
QVariantList fromJson(const QString& json);
// The rows `first` to `top` of a batch's text [[key, old, new, digest or
// null], ...], whose first row is `first`: pending, key before and key
// alike, a missing digest a Null text.
QList<Journal::Row> batchRows(const QString& json, qint64 first, qint64 top);

} // namespace JournalJson
