#include "db/Dialect.h"

#include "app/RuntimeError.h"

#include <QSet>
#include <algorithm>

namespace Oracle
{

namespace
{

QString joined(const QStringList& parts, const char* separator)
{
    return parts.join(QLatin1String(separator));
}

// `test` (with one placeholder) for each of `texts` texts, any of them true.
QString anyOf(const QString& test, int texts)
{
    return texts <= 0 ? QString() : u'(' + joined(QStringList(texts, test), " OR ") + u')';
}

// The digest's columns with their qualifier.
QStringList qualified(const QStringList& columns, const QString& qualifier)
{
    QStringList names;
    for (const QString& column : columns)
        names << qualifier + column;
    return names;
}

// `digest` equal to the bound digest `given`, where one is given.
QString sameDigest(const QString& given, const QString& digest)
{
    return QStringLiteral("COALESCE(%1, %2) = %2").arg(given, digest);
}

// The same for a batch's column `given`: the digest computed once a row.
QString sameDigestIn(const QString& given, const QString& digest)
{
    return QStringLiteral("(%1 IS NULL OR %2 = %1)").arg(given, digest);
}

// Oracle: ROWID names a row for as long as it lives. A batch is one MERGE
// whose source is the batch's rows, selected from dual.
class OracleDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("Oracle"); }

    RowKey rowKey(const QList<QVariantList>&) const override
    {
        RowKey key;
        key.columns = QStringList{QStringLiteral("ROWIDTOCHAR(ROWID)")};
        key.conditions = QStringList{QStringLiteral("ROWID = CHARTOROWID(?)")};
        key.names = QStringList{QStringLiteral("ROWID")};
        key.addressed = true; // a table move, or a slot freed and taken again
        return key;
    }

    // Each column's hash (any type but the large objects, which ORA_HASH
    // refuses), hashed together: a text of fixed length however wide the row.
    QString rowDigest(const RowKey& key, const QString& qualifier) const override
    {
        if (!key.addressed)
            return {};
        if (key.others.isEmpty())
            return QStringLiteral("'-'");
        QStringList hashes;
        for (const QString& column : qualified(key.others, qualifier))
            hashes << QStringLiteral("ORA_HASH(%1)").arg(column);
        return QStringLiteral("RAWTOHEX(STANDARD_HASH(%1, 'MD5'))")
            .arg(joined(hashes, " || ',' || "));
    }

    QString digestColumnsQuery() const override
    {
        return QStringLiteral(
            "SELECT column_name FROM user_tab_cols WHERE '\"' || REPLACE(table_name, '\"', "
            "'\"\"') || '\"' = ? AND column_name <> ? AND hidden_column = 'NO' AND "
            "virtual_column = 'NO' AND data_type NOT IN ('CLOB', 'NCLOB', 'BLOB', 'BFILE', "
            "'LONG', 'LONG RAW') ORDER BY column_id");
    }

    // The type's name as the dictionary gives it (VARCHAR2, NUMBER, ...);
    // the table comes quoted, as the program names it.
    QString fieldTypeQuery() const override
    {
        return QStringLiteral("SELECT data_type FROM user_tab_columns WHERE '\"' || "
                              "REPLACE(table_name, '\"', '\"\"') || '\"' = ? AND column_name = ?");
    }

    // Texts only: other types reach the program in another form than INSTR
    // sees (a DATE as the session's date format, say).
    QString holdsAnyOf(const QString& field, const RowKey& key, int texts) const override
    {
        if (key.fieldType != QLatin1String("VARCHAR2") &&
            key.fieldType != QLatin1String("NVARCHAR2"))
            return {};
        return anyOf(QStringLiteral("INSTR(%1, ?) > 0").arg(QuoteIdentifier(field)), texts);
    }

    QString updateTriggerQuery() const override
    {
        return QStringLiteral("SELECT COUNT(*) FROM user_triggers WHERE '\"' || "
                              "REPLACE(table_name, '\"', '\"\"') || '\"' = ? AND "
                              "triggering_event LIKE '%UPDATE%' AND status = 'ENABLED'");
    }

    // No session setting limits a wait for a row lock: the row is locked
    // first, for a second at most.
    QString rowLock(const QString& table, const RowKey& key) const override
    {
        return QStringLiteral("SELECT 1 FROM %1 WHERE %2 FOR UPDATE WAIT 1")
            .arg(QuoteIdentifier(table), joined(key.conditions, " AND "));
    }

    bool isLockTimeout(const QString&, int nativeCode) const override
    {
        // ORA-30006 the WAIT ran out, ORA-00054 busy with NOWAIT, ORA-01013
        // a statement cancelled (by Stop, from another thread).
        return nativeCode == 30006 || nativeCode == 54 || nativeCode == 1013;
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
// it is unique over every row the table's query returns. A batch is one
// UPDATE ... FROM (VALUES ...), every value cast to its column's own type.
class PostgreSqlDialect : public Dialect
{
    // The name of the type a batch casts a column's values to (for the
    // column a.attname): its type's own name, schema-qualified and quoted,
    // with no length (a cast to character(n) or varchar(n) would cut a value
    // short without a word; an assignment to the column refuses one), and a
    // domain's base type for a domain.
    inline static const QString TypeOfColumn = QStringLiteral(
        "(SELECT quote_ident(n.nspname) || '.' || quote_ident(y.typname) "
        "FROM pg_catalog.pg_type b JOIN pg_catalog.pg_type y ON y.oid = CASE WHEN b.typtype = "
        "'d' THEN b.typbasetype ELSE b.oid END JOIN pg_catalog.pg_namespace n ON n.oid = "
        "y.typnamespace WHERE b.oid = a.atttypid)");

public:
    QString name() const override { return QStringLiteral("PostgreSQL"); }

    QString rowKeyQuery() const override
    {
        return QStringLiteral("SELECT a.attname, ") + TypeOfColumn +
               QStringLiteral(
                   " FROM pg_catalog.pg_class c "
                   "JOIN pg_catalog.pg_index i ON i.indrelid = c.oid AND i.indisprimary "
                   "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = ANY "
                   "(i.indkey) WHERE c.oid = to_regclass(CAST(? AS text)) AND (c.relkind = 'p' "
                   "OR NOT c.relhassubclass) ORDER BY array_position(CAST(i.indkey AS int2[]), "
                   "a.attnum)");
    }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        RowKey key;
        for (const QVariantList& row : keyRows) {
            const QString column = QuoteIdentifier(row.value(0).toString());
            // The server's own text of the key, read back in the column's type.
            key.columns << QStringLiteral("CAST(%1 AS text)").arg(column);
            key.conditions << column + QStringLiteral(" = ?");
            key.names << column;
            key.types << row.value(1).toString();
        }
        if (key.columns.isEmpty()) {
            key.columns = QStringList{QStringLiteral("CAST(tableoid AS text)"),
                                      QStringLiteral("CAST(ctid AS text)")};
            key.conditions = QStringList{QStringLiteral("tableoid = CAST(? AS oid)"),
                                         QStringLiteral("ctid = CAST(? AS tid)")};
            key.names = QStringList{QStringLiteral("tableoid"), QStringLiteral("ctid")};
            key.types =
                QStringList{QStringLiteral("pg_catalog.oid"), QStringLiteral("pg_catalog.tid")};
            key.returning = key.columns; // every write moves the ctid
            key.addressed = true;        // and VACUUM FULL, CLUSTER, a new row take it
        }
        return key;
    }

    // The 64-bit hash (the one hash partitioning uses) of the other
    // columns as one record's text: a third of MD5's cost a row.
    QString rowDigest(const RowKey& key, const QString& qualifier) const override
    {
        if (!key.addressed)
            return {};
        return QStringLiteral("CAST(hashtextextended(CAST(ROW(%1) AS text), 0) AS text)")
            .arg(joined(qualified(key.others, qualifier), ", "));
    }

    // Texts only, compared code point by code point whatever the column's
    // collation (a nondeterministic one refuses strpos).
    QString holdsAnyOf(const QString& field, const RowKey& key, int texts) const override
    {
        if (key.fieldType != QLatin1String("pg_catalog.text") &&
            key.fieldType != QLatin1String("pg_catalog.\"varchar\""))
            return {};
        return anyOf(QStringLiteral("strpos(%1 COLLATE \"C\", ?) > 0").arg(QuoteIdentifier(field)),
                     texts);
    }

    // Row triggers on UPDATE (tgtype bits: 1 row, 16 update), and rules.
    QString updateTriggerQuery() const override
    {
        return QStringLiteral(
            "WITH r AS (SELECT to_regclass(CAST(? AS text)) AS oid) "
            "SELECT (SELECT count(*) FROM pg_catalog.pg_trigger, r WHERE tgrelid = r.oid AND "
            "NOT tgisinternal AND tgenabled <> 'D' AND tgtype & 17 = 17) + "
            "(SELECT count(*) FROM pg_catalog.pg_rewrite, r WHERE ev_class = r.oid AND "
            "ev_type = '2')");
    }

    QString fieldTypeQuery() const override
    {
        return QStringLiteral("SELECT ") + TypeOfColumn +
               QStringLiteral(" FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
                              "to_regclass(CAST(? AS text)) AND a.attname = ?");
    }

    // One statement for any number of rows: each column of the batch is one
    // bound array, read in the column's own type.
    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        Q_UNUSED(rows);
        const QString fieldType =
            key.fieldType.isEmpty() ? QStringLiteral("pg_catalog.text") : key.fieldType;
        QStringList arrays;
        QStringList columns;
        QStringList matches;
        for (qsizetype i = 0; i < key.names.size(); ++i) {
            arrays << QStringLiteral("CAST(? AS %1[])").arg(key.types.value(i));
            columns << QStringLiteral("k%1").arg(i + 1);
            matches << QStringLiteral("t.%1 = v.k%2").arg(key.names[i], QString::number(i + 1));
        }
        arrays << QStringLiteral("CAST(? AS %1[])").arg(fieldType)
               << QStringLiteral("CAST(? AS %1[])").arg(fieldType);
        columns << QStringLiteral("old_value") << QStringLiteral("new_value");
        const QString digest = rowDigest(key, QStringLiteral("t."));
        if (key.checksDigest) {
            arrays << QStringLiteral("CAST(? AS pg_catalog.text[])");
            columns << QStringLiteral("digest");
            matches << sameDigestIn(QStringLiteral("v.digest"), digest);
        }
        columns << QStringLiteral("n");
        const QString column = QuoteIdentifier(field);
        const QString statement =
            QStringLiteral("UPDATE %1 AS t SET %2 = v.new_value FROM unnest(%3) WITH ORDINALITY "
                           "AS v(%4) WHERE %5 AND t.%2 = v.old_value")
                .arg(QuoteIdentifier(table), column, joined(arrays, ", "), joined(columns, ", "),
                     joined(matches, " AND "));
        if (key.returning.isEmpty())
            return statement;
        // The moved keys in one row of one text: a row per written row costs
        // more to fetch than the write itself. The leading comment keeps
        // psqlODBC (UseDeclareFetch=1) from wrapping a statement that begins
        // with WITH in a cursor, which a data-modifying statement cannot be.
        QStringList returned{QStringLiteral("v.n")};
        QStringList aggregated{QStringLiteral("n")};
        for (qsizetype i = 0; i < key.names.size(); ++i) {
            returned << QStringLiteral("CAST(t.%1 AS text) AS k%2").arg(key.names[i]).arg(i + 1);
            aggregated << QStringLiteral("k%1").arg(i + 1);
        }
        if (key.returnsDigest()) {
            returned << digest + QStringLiteral(" AS d");
            aggregated << QStringLiteral("d");
        }
        return QStringLiteral("/* batch */ WITH u AS (%1 RETURNING %2) SELECT "
                              "CAST(json_agg(json_build_array(%3)) AS text) FROM u")
            .arg(statement, joined(returned, ", "), joined(aggregated, ", "));
    }

    // Each column as the text of an array: every element quoted, a double
    // quote or a backslash in it escaped with a backslash; a Null as NULL.
    QVariantList batchValues(const QList<QVariantList>& rows) const override
    {
        const qsizetype columns = rows.isEmpty() ? 0 : rows.first().size();
        QVariantList arrays;
        for (qsizetype c = 0; c < columns; ++c) {
            QString array(1, u'{');
            for (const QVariantList& row : rows) {
                if (array.size() > 1)
                    array += u',';
                if (row.at(c).isNull()) {
                    array += QLatin1String("NULL");
                    continue;
                }
                array += u'"';
                for (const QChar ch : row.at(c).toString()) {
                    if (ch == u'"' || ch == u'\\')
                        array += u'\\';
                    array += ch;
                }
                array += u'"';
            }
            arrays << array + u'}';
        }
        return arrays;
    }

    // The session's default, not SET TRANSACTION in the transaction: the
    // driver may run each statement of a transaction in a savepoint of its
    // own (psqlODBC's statement-level rollback, its default), where SET
    // TRANSACTION ISOLATION LEVEL is refused. The driver's own BEGIN takes
    // the default.
    QStringList readSession() const override
    {
        return {QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL "
                               "REPEATABLE READ, READ ONLY")};
    }
    QString readTransaction() const override { return {}; }

    // A cursor of the server's, read in blocks: the driver may hold a whole
    // result in memory, the cursor never more than a block.
    QStringList openCursor(const QString& query) const override
    {
        return {QStringLiteral("DECLARE quorvane_rows NO SCROLL CURSOR FOR ") + query};
    }
    QString fetchFromCursor() const override
    {
        return QStringLiteral("FETCH FORWARD 1000 FROM quorvane_rows");
    }
    QStringList closeCursor() const override { return {QStringLiteral("CLOSE quorvane_rows")}; }

    // An ordinary table with no child tables, on a server that reads a
    // range of ctids without a scan of the whole table (14 and later).
    QString pageCountQuery() const override
    {
        return QStringLiteral(
            "SELECT CASE WHEN c.relkind = 'r' AND NOT c.relhassubclass AND "
            "CAST(current_setting('server_version_num') AS integer) >= 140000 THEN "
            "pg_catalog.pg_relation_size(c.oid) / CAST(current_setting('block_size') AS bigint) "
            "END FROM pg_catalog.pg_class c WHERE c.oid = to_regclass(CAST(? AS text))");
    }

    // Texts only: JSON gives other types in other forms than the driver.
    QString pagesQuery(const QString& table, const QString& field, const RowKey& key,
                       const QString& condition) const override
    {
        if (key.fieldType != QLatin1String("pg_catalog.text") &&
            key.fieldType != QLatin1String("pg_catalog.\"varchar\""))
            return {};
        QStringList columns{QuoteIdentifier(field)};
        columns += key.columns;
        if (key.readsDigest())
            columns << rowDigest(key, {});
        return QStringLiteral("SELECT CAST(json_agg(json_build_array(%1)) AS text) FROM %2 "
                              "WHERE ctid >= CAST(? AS tid) AND ctid < CAST(? AS tid)%3")
            .arg(joined(columns, ", "), QuoteIdentifier(table),
                 condition.isEmpty() ? QString() : QStringLiteral(" AND ") + condition);
    }

    QVariantList pagesValues(qint64 first, qint64 end) const override
    {
        // 4294967295 is past the largest page number a table can have.
        return {QStringLiteral("(%1,0)").arg(first),
                QStringLiteral("(%1,0)").arg(end < 0 ? Q_INT64_C(4294967295) : end)};
    }

    QStringList writerSettings() const override
    {
        // A short lock wait; and a batch's rows found by their keys, never
        // by a scan of the whole table for every batch.
        return {QStringLiteral("SET lock_timeout = '500ms'"),
                QStringLiteral("SET enable_hashjoin = off"),
                QStringLiteral("SET enable_mergejoin = off")};
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
// hides; a WITHOUT ROWID table has only its primary key. A batch is one
// UPDATE ... FROM (VALUES ...).
class SqliteDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("SQLite"); }

    QString rowKeyQuery() const override
    {
        return QStringLiteral("SELECT i.name, i.pk, l.wr, i.type FROM pragma_table_list(?) AS l "
                              "JOIN pragma_table_info(?) AS i");
    }

    QVariantList rowKeyQueryValues(const QString& table) const override { return {table, table}; }

    // Any trigger on the table: one on UPDATE may write the row again.
    QString updateTriggerQuery() const override
    {
        return QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?");
    }
    QVariantList updateTriggerValues(const QString& table) const override { return {table}; }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        QSet<QString> names;
        QList<std::pair<int, QString>> primaryKey; // position in the key, column
        bool withoutRowId = false;
        bool integerKey = false; // a column of type INTEGER is the primary key
        for (const QVariantList& row : keyRows) {
            names << row.value(0).toString().toLower();
            if (row.value(1).toInt() > 0)
                primaryKey << std::make_pair(row.value(1).toInt(), row.value(0).toString());
            integerKey = integerKey || (row.value(1).toInt() > 0 &&
                                        row.value(3).toString().compare(QLatin1String("INTEGER"),
                                                                        Qt::CaseInsensitive) == 0);
            withoutRowId = withoutRowId || row.value(2).toInt() != 0;
        }
        RowKey key;
        if (!withoutRowId) {
            for (const QString& alias :
                 {QStringLiteral("_rowid_"), QStringLiteral("rowid"), QStringLiteral("oid")}) {
                if (!names.contains(alias)) {
                    key.columns = key.names = QStringList{alias};
                    key.conditions = QStringList{alias + QStringLiteral(" = ?")};
                    // Only an INTEGER PRIMARY KEY keeps the row id: VACUUM
                    // numbers the rows of other tables afresh.
                    key.addressed = !(integerKey && primaryKey.size() == 1);
                    return key;
                }
            }
        }
        if (primaryKey.isEmpty())
            throw RuntimeError(RuntimeError::DriverError,
                               QStringLiteral("The table's rows cannot be told apart: columns "
                                              "named rowid, _rowid_ and oid hide its row id, and "
                                              "it has no primary key."));
        std::sort(primaryKey.begin(), primaryKey.end());
        for (const auto& part : primaryKey) {
            key.columns << QuoteIdentifier(part.second);
            key.conditions << QuoteIdentifier(part.second) + QStringLiteral(" = ?");
            key.names << QuoteIdentifier(part.second);
        }
        return key;
    }

    // The stored columns (a generated one is hidden 2 or 3).
    QString digestColumnsQuery() const override
    {
        return QStringLiteral(
            "SELECT name FROM pragma_table_xinfo(?) WHERE hidden = 0 AND name <> ? ORDER BY cid");
    }
    QVariantList digestColumnsValues(const QString& table, const QString& field) const override
    {
        return {table, field};
    }

    // No hash function: the other columns' own texts, each as an SQL
    // literal (a blob in hex), one after another.
    QString rowDigest(const RowKey& key, const QString& qualifier) const override
    {
        if (!key.addressed)
            return {};
        if (key.others.isEmpty())
            return QStringLiteral("''");
        QStringList quoted;
        for (const QString& column : qualified(key.others, qualifier))
            quoted << QStringLiteral("quote(%1)").arg(column);
        return joined(quoted, " || ',' || ");
    }

    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        const int keys = int(key.names.size());
        QStringList matches;
        const QString target = QuoteIdentifier(table);
        for (int i = 0; i < keys; ++i)
            matches << QStringLiteral("%1.%2 = v.column%3")
                           .arg(target, key.names[i], QString::number(i + 1));
        const int extra = key.checksDigest ? 1 : 0;
        if (key.checksDigest)
            matches << sameDigestIn(QStringLiteral("v.column%1").arg(keys + 3),
                                    rowDigest(key, target + u'.'));
        const QString row =
            u'(' + QStringList(keys + 2 + extra, QStringLiteral("?")).join(u", ") + u')';
        const QString column = QuoteIdentifier(field);
        return QStringLiteral("UPDATE %1 SET %2 = v.column%3 FROM (VALUES %4) AS v "
                              "WHERE %5 AND %1.%2 = v.column%6")
            .arg(target, column, QString::number(keys + 2), QStringList(rows, row).join(u", "),
                 joined(matches, " AND "), QString::number(keys + 1));
    }

    // A reader would hold the file's lock against the writer: the rows are
    // read whole first.
    bool readsWhileWriting() const override { return false; }
    QString readTransaction() const override { return {}; }

    // The SQLite ODBC driver sets its own busy handler on every statement,
    // over any PRAGMA busy_timeout, from its Timeout attribute (100 s unless
    // given): a short one, so that a write on a locked file comes back in
    // time to be stopped (and is then tried again).
    QString writerAttributes() const override { return QStringLiteral("Timeout=500;"); }

    bool isLockTimeout(const QString&, int nativeCode) const override
    {
        return nativeCode == 5 || nativeCode == 6; // SQLITE_BUSY, SQLITE_LOCKED
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
    QStringList columns = key.columns;
    if (key.readsDigest())
        columns << rowDigest(key);
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + QStringLiteral(", ") +
           joined(columns, ", ") + QStringLiteral(" FROM ") + QuoteIdentifier(table);
}

QString Dialect::rowsHoldingAnyOf(const QString& table, const QString& field, const RowKey& key,
                                  int values) const
{
    return QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %1 IN (%5)")
        .arg(QuoteIdentifier(field), joined(key.columns, ", "), rowDigest(key),
             QuoteIdentifier(table), QStringList(values, QStringLiteral("?")).join(u", "));
}

QString Dialect::pagesQuery(const QString&, const QString&, const RowKey&, const QString&) const
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

QString Dialect::narrowed(const QString& query, const QString& condition)
{
    return query + QStringLiteral(" WHERE ") + condition;
}

QString Dialect::countQuery(const QString& table) const
{
    return QStringLiteral("SELECT COUNT(*) FROM ") + QuoteIdentifier(table);
}

// Oracle's: read consistency for the whole transaction, and no writes; its
// first statement, as Oracle requires.
QString Dialect::readTransaction() const
{
    return QStringLiteral("SET TRANSACTION READ ONLY");
}

QString Dialect::rowWrite(const QString& table, const QString& field, const RowKey& key) const
{
    const QString column = QuoteIdentifier(field);
    QString statement = QStringLiteral("UPDATE ") + QuoteIdentifier(table) +
                        QStringLiteral(" SET ") + column + QStringLiteral(" = ? WHERE ") +
                        joined(key.conditions, " AND ") + QStringLiteral(" AND ") + column +
                        QStringLiteral(" = ?");
    if (key.checksDigest)
        statement += QStringLiteral(" AND ") + sameDigest(QStringLiteral("?"), rowDigest(key));
    if (!key.returning.isEmpty()) {
        QStringList returned = key.returning;
        if (key.returnsDigest())
            returned << rowDigest(key);
        statement += QStringLiteral(" RETURNING ") + joined(returned, ", ");
    }
    return statement;
}

// Oracle's: MERGE from the batch's rows selected from dual.
QString Dialect::batchWrite(const QString& table, const QString& field, const RowKey& key,
                            int rows) const
{
    QStringList sources;
    for (int n = 1; n <= rows; ++n) {
        QStringList row{QStringLiteral("%1 AS n").arg(n)};
        for (qsizetype i = 0; i < key.conditions.size(); ++i)
            row << QStringLiteral("CHARTOROWID(?) AS k%1").arg(i + 1);
        row << QStringLiteral("? AS old_value") << QStringLiteral("? AS new_value");
        if (key.checksDigest)
            row << QStringLiteral("? AS digest");
        sources << QStringLiteral("SELECT %1 FROM dual").arg(joined(row, ", "));
    }
    QStringList matches;
    for (qsizetype i = 0; i < key.names.size(); ++i)
        matches << QStringLiteral("t.%1 = s.k%2").arg(key.names[i], QString::number(i + 1));
    const QString column = QuoteIdentifier(field);
    const QString digest = key.checksDigest ? QStringLiteral(" AND ") +
                                                  sameDigestIn(QStringLiteral("s.digest"),
                                                               rowDigest(key, QStringLiteral("t.")))
                                            : QString();
    return QStringLiteral("MERGE INTO %1 t USING (%2) s ON (%3) WHEN MATCHED THEN UPDATE SET "
                          "t.%4 = s.new_value WHERE t.%4 = s.old_value%5")
        .arg(QuoteIdentifier(table), joined(sources, " UNION ALL "), joined(matches, " AND "),
             column, digest);
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
           QuoteIdentifier(table) + QStringLiteral(" WHERE ") + joined(key.conditions, " AND ");
}

QString Dialect::rowHolds(const QString& table, const QString& field, const RowKey& key) const
{
    QString query = QStringLiteral("SELECT COUNT(*) FROM ") + QuoteIdentifier(table) +
                    QStringLiteral(" WHERE ") + joined(key.conditions, " AND ") +
                    QStringLiteral(" AND ") + QuoteIdentifier(field) + QStringLiteral(" = ?");
    if (key.checksDigest)
        query += QStringLiteral(" AND ") + sameDigest(QStringLiteral("?"), rowDigest(key));
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

} // namespace Oracle
