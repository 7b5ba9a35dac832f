#pragma once

#include <QString>
#include <QStringList>

// The pieces of statement text the dialects share.
namespace Db::SqlText
{

inline QString joined(const QStringList& parts, const char* separator)
{
    return parts.join(QLatin1String(separator));
}

// `test` (with one placeholder) for each of `texts` texts, any of them true.
inline QString anyOf(const QString& test, int texts)
{
    return texts <= 0 ? QString() : u'(' + joined(QStringList(texts, test), " OR ") + u')';
}

// The digest's columns with their qualifier, each in `each` (a pattern
// with %1 for the column) where given.
inline QStringList qualified(const QStringList& columns, const QString& qualifier,
                             const QString& each = QStringLiteral("%1"))
{
    QStringList names;
    for (const QString& column : columns)
        names << each.arg(qualifier + column);
    return names;
}

// `digest` equal to the bound digest `given`, where one is given.
inline QString sameDigest(const QString& given, const QString& digest)
{
    return QStringLiteral("COALESCE(%1, %2) = %2").arg(given, digest);
}

// The same for a batch's column `given`: the digest computed once a row.
inline QString sameDigestIn(const QString& given, const QString& digest)
{
    return QStringLiteral("(%1 IS NULL OR %2 = %1)").arg(given, digest);
}

} // namespace Db::SqlText
