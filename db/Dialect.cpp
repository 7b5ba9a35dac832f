#include "db/Dialect.h"

#include "db/MariaDbDialect.h"
#include "db/OracleDialect.h"
#include "db/PostgresDialect.h"
#include "db/SqlText.h"
#include "db/SqliteDialect.h"

namespace Db
{

using namespace SqlText;

std::unique_ptr<Dialect> Dialect::For(QSqlDriver::DbmsType type, const QString& dbmsName,
                                      const QString& dbmsVersion)
{
    if (type == QSqlDriver::PostgreSQL || dbmsName.contains(u"PostgreSQL", Qt::CaseInsensitive))
        return MakePostgresDialect();
    if (type == QSqlDriver::SQLite || dbmsName.contains(u"SQLite", Qt::CaseInsensitive))
        return MakeSqliteDialect();
    if (type == QSqlDriver::MySqlServer || dbmsName.contains(u"MariaDB", Qt::CaseInsensitive) ||
        dbmsName.contains(u"MySQL", Qt::CaseInsensitive))
        return MakeMariaDbDialect(dbmsName + u' ' + dbmsVersion);
    return MakeOracleDialect();
}

QString Dialect::fullQuery(const QString& table) const
{
    return QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table);
}

QVariantList Dialect::fieldListValues(const QString& table) const
{
    return {QuoteIdentifier(table)};
}

QString Dialect::fieldNamesQuery(const QString& table) const
{
    return narrowed(fullQuery(table), QStringLiteral("1 = 0"));
}

QString Dialect::columnQuery(const QString& table, const QString& field) const
{
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + QStringLiteral(" FROM ") +
           QuoteIdentifier(table);
}

QVariantList Dialect::rowKeyQueryValues(const QString& table) const
{
    return {QuoteIdentifier(table)};
}

QString Dialect::snapshotQuery(const QString& table, const QString& field, const RowKey& key) const
{
    QStringList columns = key.expressions();
    if (key.hasDigest())
        columns << rowDigest(key);
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + QStringLiteral(", ") +
           joined(columns, ", ") + QStringLiteral(" FROM ") + QuoteIdentifier(table);
}

QString Dialect::rowsHoldingAnyOf(const QString& table, const QString& field, const RowKey& key,
                                  int values) const
{
    return QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %1 IN (%5)")
        .arg(QuoteIdentifier(field), joined(key.expressions(), ", "), rowDigest(key),
             QuoteIdentifier(table), QStringList(values, placeholder()).join(u", "));
}

QString Dialect::pagesQuery(const QString&, const QString&, const RowKey&, const QString&) const
{
    return {};
}

QString Dialect::lastKeyQuery(const QString&, const RowKey&) const
{
    return {};
}

QString Dialect::blockQuery(const QString&, const QString&, const RowKey&, int, bool,
                            const QString&) const
{
    return {};
}

QVariantList Dialect::pagesValues(qint64, qint64) const
{
    return {};
}

QVariantList Dialect::digestColumnsValues(const QString& table, const QString& field) const
{
    return {QuoteIdentifier(table), field};
}

QString Dialect::holdsAnyOf(const QString&, const RowKey&, int) const
{
    return {};
}

QString Dialect::keyBlock(const QString& table, const QString& field, const RowKey& key,
                          const QString& order, const QString& given, const QString& orderBy,
                          int rows, bool first, const QString& condition) const
{
    QStringList conditions;
    if (!first)
        conditions << order + QStringLiteral(" > ") + given;
    conditions << order + QStringLiteral(" <= ") + given;
    if (!condition.isEmpty())
        conditions << condition;
    return narrowed(snapshotQuery(table, field, key), joined(conditions, " AND ")) +
           QStringLiteral(" ORDER BY %1 LIMIT %2").arg(orderBy).arg(rows);
}

QString Dialect::narrowed(const QString& query, const QString& condition)
{
    return query + QStringLiteral(" WHERE ") + condition;
}

QString Dialect::countQuery(const QString& table) const
{
    return QStringLiteral("SELECT COUNT(*) FROM ") + QuoteIdentifier(table);
}

QString Dialect::rowWrite(const QString& table, const QString& field, const RowKey& key) const
{
    const QString column = QuoteIdentifier(field);
    QString statement = QStringLiteral("UPDATE ") + QuoteIdentifier(table) +
                        QStringLiteral(" SET ") + column + QStringLiteral(" = ") + placeholder() +
                        QStringLiteral(" WHERE ") + joined(key.conditions(), " AND ") +
                        QStringLiteral(" AND ") + sameText(column, placeholder());
    if (key.checksDigest)
        statement += QStringLiteral(" AND ") + sameDigest(placeholder(), rowDigest(key));
    if (has(Capability::Returning) && key.returned) {
        statement += QStringLiteral(" RETURNING ") + joined(key.expressions(), ", ");
    }
    return statement;
}

QStringList Dialect::batchSavepoint() const
{
    return {QStringLiteral("SAVEPOINT quorvane_batch"),
            QStringLiteral("RELEASE SAVEPOINT quorvane_batch"),
            QStringLiteral("ROLLBACK TO SAVEPOINT quorvane_batch")};
}

QVariantList Dialect::batchValues(const QList<QVariantList>& rows) const
{
    QVariantList values;
    for (const QVariantList& row : rows)
        values += row;
    return values;
}

QVariantList Dialect::updateTriggerValues(const QString& table) const
{
    return {QuoteIdentifier(table)};
}

QString Dialect::rowValue(const QString& table, const QString& field, const RowKey& key) const
{
    const QString digest = key.hasDigest() ? QStringLiteral(", ") + rowDigest(key) : QString();
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + digest + QStringLiteral(" FROM ") +
           QuoteIdentifier(table) + QStringLiteral(" WHERE ") + joined(key.conditions(), " AND ");
}

QString Dialect::rowHolds(const QString& table, const QString& field, const RowKey& key) const
{
    QString query = QStringLiteral("SELECT COUNT(*) FROM ") + QuoteIdentifier(table) +
                    QStringLiteral(" WHERE ") + joined(key.conditions(), " AND ") +
                    QStringLiteral(" AND ") + sameText(QuoteIdentifier(field), placeholder());
    if (key.checksDigest)
        query += QStringLiteral(" AND ") + sameDigest(placeholder(), rowDigest(key));
    return query;
}

QString Dialect::rowLock(const QString&, const RowKey&) const
{
    return {};
}

bool Dialect::isLockTimeout(const QString&, int) const
{
    return false;
}

bool Dialect::isConnectionLost(const QString& sqlState, int) const
{
    return sqlState.startsWith(QStringLiteral("08"));
}

QString QuoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace Db
