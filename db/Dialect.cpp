#include "db/Dialect.h"

#include "app/RuntimeError.h"

#include <QSet>
#include <algorithm>

namespace Oracle
{

namespace
{

// Oracle: ROWID names a row for as long as it lives.
class OracleDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("Oracle"); }

    RowKey rowKey(const QList<QVariantList>&) const override
    {
        return {
            {QStringLiteral("ROWIDTOCHAR(ROWID)")}, {QStringLiteral("ROWID = CHARTOROWID(?)")}, {}};
    }

    bool isConnectionLost(const QString& sqlState, int nativeCode) const override
    {
        // ORA-00028 session killed, ORA-01012 not logged on, ORA-02396 idle
        // time exceeded, ORA-03113/03114/03135 the connection dropped.
        static const QSet<int> lost{28, 1012, 2396, 3113, 3114, 3135};
        return Dialect::isConnectionLost(sqlState, nativeCode) || lost.contains(nativeCode);
    }
};

// PostgreSQL: ctid is unique only within one table of a partitioned or
// inherited family, so it goes with tableoid; the primary key serves where
// it is unique over every row the table's query returns.
class PostgreSqlDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("PostgreSQL"); }

    QString rowKeyQuery() const override
    {
        return QStringLiteral(
            "SELECT a.attname FROM pg_catalog.pg_class c "
            "JOIN pg_catalog.pg_index i ON i.indrelid = c.oid AND i.indisprimary "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = ANY (i.indkey) "
            "WHERE c.oid = to_regclass(CAST(? AS text)) AND (c.relkind = 'p' OR NOT "
            "c.relhassubclass) ORDER BY array_position(CAST(i.indkey AS int2[]), a.attnum)");
    }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        RowKey key;
        for (const QVariantList& row : keyRows) {
            const QString column = QuoteIdentifier(row.value(0).toString());
            // The server's own text of the key, read back in the column's type.
            key.columns << QStringLiteral("CAST(%1 AS text)").arg(column);
            key.conditions << column + QStringLiteral(" = ?");
        }
        if (key.columns.isEmpty()) {
            key.columns = QStringList{QStringLiteral("CAST(tableoid AS text)"),
                                      QStringLiteral("CAST(ctid AS text)")};
            key.conditions = QStringList{QStringLiteral("tableoid = CAST(? AS oid)"),
                                         QStringLiteral("ctid = CAST(? AS tid)")};
            key.returning = key.columns; // every write moves the ctid
        }
        return key;
    }

    QStringList writerSettings() const override
    {
        return {QStringLiteral("SET lock_timeout = '500ms'")};
    }

    bool isLockTimeout(const QString& sqlState, int) const override
    {
        return sqlState == u"55P03"; // lock_not_available
    }

    bool isConnectionLost(const QString& sqlState, int nativeCode) const override
    {
        // 57P01 to 57P03: the server ended the session or is shutting down.
        return Dialect::isConnectionLost(sqlState, nativeCode) ||
               sqlState.startsWith(QStringLiteral("57P0"));
    }
};

// SQLite: the real row id, under whichever of its three names no column
// hides; a WITHOUT ROWID table has only its primary key.
class SqliteDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("SQLite"); }

    QString rowKeyQuery() const override
    {
        return QStringLiteral("SELECT i.name, i.pk, l.wr FROM pragma_table_list(?) AS l "
                              "JOIN pragma_table_info(?) AS i");
    }

    QVariantList rowKeyQueryValues(const QString& table) const override { return {table, table}; }

    QStringList writerSettings() const override
    {
        return {QStringLiteral("PRAGMA busy_timeout = 500")};
    }

    bool isLockTimeout(const QString&, int nativeCode) const override
    {
        return nativeCode == 5 || nativeCode == 6; // SQLITE_BUSY, SQLITE_LOCKED
    }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        QSet<QString> names;
        QList<std::pair<int, QString>> primaryKey; // position in the key, column
        bool withoutRowId = false;
        for (const QVariantList& row : keyRows) {
            names << row.value(0).toString().toLower();
            if (row.value(1).toInt() > 0)
                primaryKey << std::make_pair(row.value(1).toInt(), row.value(0).toString());
            withoutRowId = withoutRowId || row.value(2).toInt() != 0;
        }
        if (!withoutRowId) {
            for (const QString& alias :
                 {QStringLiteral("_rowid_"), QStringLiteral("rowid"), QStringLiteral("oid")}) {
                if (!names.contains(alias))
                    return {{alias}, {alias + QStringLiteral(" = ?")}, {}};
            }
        }
        if (primaryKey.isEmpty())
            throw RuntimeError(RuntimeError::DriverError,
                               QStringLiteral("The table's rows cannot be told apart: columns "
                                              "named rowid, _rowid_ and oid hide its row id, and "
                                              "it has no primary key."));
        std::sort(primaryKey.begin(), primaryKey.end());
        RowKey key;
        for (const auto& part : primaryKey) {
            key.columns << QuoteIdentifier(part.second);
            key.conditions << QuoteIdentifier(part.second) + QStringLiteral(" = ?");
        }
        return key;
    }
};

} // namespace

std::unique_ptr<Dialect> Dialect::For(QSqlDriver::DbmsType type, const QString& dbmsName)
{
    if (type == QSqlDriver::PostgreSQL || dbmsName.contains(u"PostgreSQL", Qt::CaseInsensitive))
        return std::make_unique<PostgreSqlDialect>();
    if (type == QSqlDriver::SQLite || dbmsName.contains(u"SQLite", Qt::CaseInsensitive))
        return std::make_unique<SqliteDialect>();
    return std::make_unique<OracleDialect>();
}

QString Dialect::tableQuery() const
{
    return QStringLiteral("select table_name from user_tables");
}

QString Dialect::fullQuery(const QString& table) const
{
    return QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table);
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
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + QStringLiteral(", ") +
           key.columns.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") +
           QuoteIdentifier(table);
}

QString Dialect::rowWrite(const QString& table, const QString& field, const RowKey& key) const
{
    const QString column = QuoteIdentifier(field);
    QString statement = QStringLiteral("UPDATE ") + QuoteIdentifier(table) +
                        QStringLiteral(" SET ") + column + QStringLiteral(" = ? WHERE ") +
                        key.conditions.join(QStringLiteral(" AND ")) + QStringLiteral(" AND ") +
                        column + QStringLiteral(" = ?");
    if (!key.returning.isEmpty())
        statement += QStringLiteral(" RETURNING ") + key.returning.join(QStringLiteral(", "));
    return statement;
}

QString Dialect::rowHolds(const QString& table, const QString& field, const RowKey& key) const
{
    return QStringLiteral("SELECT COUNT(*) FROM ") + QuoteIdentifier(table) +
           QStringLiteral(" WHERE ") + key.conditions.join(QStringLiteral(" AND ")) +
           QStringLiteral(" AND ") + QuoteIdentifier(field) + QStringLiteral(" = ?");
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

} // namespace Oracle
