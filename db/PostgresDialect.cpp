#include "db/PostgresDialect.h"

#include "db/SqlText.h"

namespace Db
{

namespace
{

using namespace SqlText;

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
    bool has(Capability capability) const override
    {
        return capability != Capability::RowLock; // a session's lock_timeout does it
    }

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
            key.add(QStringLiteral("CAST(%1 AS text)").arg(column), column + QStringLiteral(" = ?"),
                    column, row.value(1).toString());
        }
        if (key.parts.isEmpty()) {
            key.add(QStringLiteral("CAST(tableoid AS text)"),
                    QStringLiteral("tableoid = CAST(? AS oid)"), QStringLiteral("tableoid"),
                    QStringLiteral("pg_catalog.oid"));
            key.add(QStringLiteral("CAST(ctid AS text)"), QStringLiteral("ctid = CAST(? AS tid)"),
                    QStringLiteral("ctid"), QStringLiteral("pg_catalog.tid"));
            key.returned = true;  // every write moves the ctid
            key.addressed = true; // and VACUUM FULL, CLUSTER, a new row take it
        }
        return key;
    }

    // Stored generated columns (attgenerated, from PostgreSQL 12 on: read
    // from the row's JSON, so that an older server's catalogue does too)
    // change with the field.
    QString digestColumnsQuery() const override
    {
        return QStringLiteral(
            "SELECT a.attname FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
            "to_regclass(CAST(? AS text)) AND a.attnum > 0 AND NOT a.attisdropped AND "
            "a.attname <> ? AND coalesce(to_jsonb(a) ->> 'attgenerated', '') = '' "
            "ORDER BY a.attnum");
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
        for (qsizetype i = 0; i < key.size(); ++i) {
            arrays << QStringLiteral("CAST(? AS %1[])").arg(key.parts[i].type);
            columns << QStringLiteral("k%1").arg(i + 1);
            matches
                << QStringLiteral("t.%1 = v.k%2").arg(key.parts[i].name, QString::number(i + 1));
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
        if (!key.returned)
            return statement;
        // The moved keys in one row of one text (PackedRows): a row per
        // written row costs more to fetch than the write itself. The row's
        // number and its tableoid and ctid hold no colon or semicolon. The
        // leading comment keeps psqlODBC (UseDeclareFetch=1) from wrapping a
        // statement that begins with WITH in a cursor, which a
        // data-modifying statement cannot be.
        QStringList returned{QStringLiteral("v.n")};
        QStringList packed{QStringLiteral("n, ';'")};
        for (qsizetype i = 0; i < key.size(); ++i) {
            returned
                << QStringLiteral("CAST(t.%1 AS text) AS k%2").arg(key.parts[i].name).arg(i + 1);
            packed << QStringLiteral("k%1, ';'").arg(i + 1);
        }
        return QStringLiteral("/* batch */ WITH u AS (%1 RETURNING %2) SELECT "
                              "string_agg(concat(%3), '') FROM u")
            .arg(statement, joined(returned, ", "), joined(packed, ", "));
    }

    // An array element: quoted, a double quote or a backslash in it escaped
    // with a backslash.
    static void appendQuoted(QString& array, const QString& text)
    {
        array += u'"';
        for (const QChar ch : text) {
            if (ch == u'"' || ch == u'\\')
                array += u'\\';
            array += ch;
        }
        array += u'"';
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
                appendQuoted(array, row.at(c).toString());
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
    // range of ctids without a scan of the whole table (14 and later) and
    // counts characters as the client does (SQL_ASCII counts bytes).
    QString pageCountQuery() const override
    {
        return QStringLiteral(
            "SELECT CASE WHEN c.relkind = 'r' AND NOT c.relhassubclass AND "
            "CAST(current_setting('server_version_num') AS integer) >= 140000 AND "
            "current_setting('server_encoding') <> 'SQL_ASCII' THEN "
            "pg_catalog.pg_relation_size(c.oid) / CAST(current_setting('block_size') AS bigint) "
            "END FROM pg_catalog.pg_class c WHERE c.oid = to_regclass(CAST(? AS text))");
    }

    // Texts only (others would need the driver's forms of their values),
    // packed (PackedRows): the field and a primary key's texts counted, the
    // tableoid, ctid and digest plain.
    QString pagesQuery(const QString& table, const QString& field, const RowKey& key,
                       const QString& condition) const override
    {
        if (key.fieldType != QLatin1String("pg_catalog.text") &&
            key.fieldType != QLatin1String("pg_catalog.\"varchar\""))
            return {};
        const auto counted = [](const QString& text) {
            return QStringLiteral("length(%1), ':', %1").arg(text);
        };
        QStringList values{counted(QuoteIdentifier(field))};
        for (const QString& part : key.expressions())
            values << (key.addressed ? part + QStringLiteral(", ';'") : counted(part));
        if (key.hasDigest())
            values << rowDigest(key, {}) + QStringLiteral(", ';'");
        return QStringLiteral("SELECT string_agg(concat(%1), '') FROM %2 "
                              "WHERE ctid >= CAST(? AS tid) AND ctid < CAST(? AS tid)%3")
            .arg(joined(values, ", "), QuoteIdentifier(table),
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

    // The ordinary and partitioned tables that the user may read, of the
    // schemas on the search path, each as its plain name finds it (one
    // that a table of the same name earlier on the path hides is left out);
    // a partition's rows are its partitioned table's.
    QString tableQuery() const override
    {
        return QStringLiteral(
            "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON "
            "n.oid = c.relnamespace WHERE c.relkind IN ('r', 'p') AND NOT c.relispartition AND "
            "n.nspname = ANY (pg_catalog.current_schemas(false)) AND "
            "pg_catalog.pg_table_is_visible(c.oid) AND "
            "pg_catalog.has_table_privilege(c.oid, 'SELECT') ORDER BY c.relname");
    }

    // The table's columns in their order; a table that is not there fails.
    QString fieldListQuery() const override
    {
        return QStringLiteral(
            "SELECT a.attname FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
            "CAST(CAST(? AS text) AS regclass) AND a.attnum > 0 AND NOT a.attisdropped "
            "ORDER BY a.attnum");
    }
};

} // namespace

std::unique_ptr<Dialect> MakePostgresDialect()
{
    return std::make_unique<PostgreSqlDialect>();
}

} // namespace Db
