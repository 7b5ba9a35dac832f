#include "db/MariaDbDialect.h"

#include "app/RuntimeError.h"
#include "db/SqlText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace Db
{

namespace
{

using namespace SqlText;

// A bound text: its UTF-8 bytes read as text (see Dialect::placeholder).
const QString BoundText = QStringLiteral("CONVERT(? USING utf8mb4)");

// A name in the catalogue equal to the bound one, byte for byte (the
// catalogue compares names ignoring case; tables whose names differ only in
// case are two tables on most systems).
const QString SameName =
    QStringLiteral("CAST(%1 AS BINARY) = CAST(") + BoundText + QStringLiteral(" AS BINARY)");

// MariaDB and MySQL (InnoDB): no row ids, so a row is named by the table's
// primary key, or else a unique key of columns that cannot be Null; a table
// with neither is refused before anything is read. The program's sessions
// quote identifiers with double quotes (ANSI_QUOTES). Texts compare ignoring
// case, accents and trailing blanks under the usual collations, so the
// value a write expects is compared byte for byte. A batch is one UPDATE
// joined to its rows, selected from the bound values.
class MariaDbDialect : public Dialect
{
public:
    explicit MariaDbDialect(bool jsonTable) : m_jsonTable(jsonTable) {}

    QString name() const override { return QStringLiteral("MariaDB"); }
    bool has(Capability capability) const override
    {
        return capability == Capability::ReadsWhileWriting || capability == Capability::KeyBlocks ||
               (capability == Capability::ColumnArrays && m_jsonTable);
    }

    QString placeholder() const override { return BoundText; }
    QVariant bound(const QVariant& value) const override
    {
        if (value.isNull() || value.typeId() != QMetaType::QString)
            return value;
        return value.toString().toUtf8();
    }

    QStringList sessionSettings() const override
    {
        return {
            QStringLiteral("SET SESSION sql_mode = CONCAT(@@SESSION.sql_mode, ',ANSI_QUOTES')")};
    }

    QString tableQuery() const override
    {
        return QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                              "TABLE_SCHEMA = DATABASE() AND TABLE_TYPE = 'BASE TABLE' "
                              "ORDER BY TABLE_NAME");
    }

    QString fieldListQuery() const override
    {
        return ofTable(QStringLiteral("SELECT COLUMN_NAME FROM information_schema.COLUMNS"),
                       QStringLiteral("TABLE_SCHEMA"), QStringLiteral("TABLE_NAME"),
                       QStringLiteral(" ORDER BY ORDINAL_POSITION"));
    }
    QVariantList fieldListValues(const QString& table) const override { return {table}; }

    // The columns of each unique key, the primary key first, each with
    // whether it may hold a Null and its type.
    QString rowKeyQuery() const override
    {
        return QStringLiteral(
                   "SELECT s.INDEX_NAME, s.COLUMN_NAME, c.IS_NULLABLE, c.DATA_TYPE, "
                   "c.COLUMN_TYPE, c.NUMERIC_PRECISION, c.NUMERIC_SCALE FROM "
                   "information_schema.STATISTICS s JOIN information_schema.COLUMNS c ON "
                   "c.TABLE_SCHEMA = s.TABLE_SCHEMA AND c.TABLE_NAME = s.TABLE_NAME AND "
                   "c.COLUMN_NAME = s.COLUMN_NAME WHERE s.TABLE_SCHEMA = DATABASE() AND ") +
               SameName.arg(QStringLiteral("s.TABLE_NAME")) +
               QStringLiteral(" AND s.NON_UNIQUE = 0 ORDER BY s.INDEX_NAME <> 'PRIMARY', "
                              "s.INDEX_NAME, s.SEQ_IN_INDEX");
    }
    QVariantList rowKeyQueryValues(const QString& table) const override { return {table}; }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        qsizetype i = 0;
        while (i < keyRows.size()) {
            const QString index = keyRows[i].value(0).toString();
            RowKey key;
            bool usable = true;
            for (; i < keyRows.size() && keyRows[i].value(0).toString() == index; ++i) {
                const QVariantList& row = keyRows[i];
                const QString cast = castFor(row);
                usable = usable && row.value(2).toString() == u"NO" && cast != Unusable;
                if (usable)
                    addPart(key, row.value(1).toString(), cast);
            }
            if (usable)
                return key;
        }
        throw RuntimeError(RuntimeError::DriverError,
                           QStringLiteral("its rows cannot be told apart: it has no primary "
                                          "key and no unique key of columns that cannot be Null. "
                                          "Nothing was changed; give it one, and the change can "
                                          "be made."));
    }

    QString rowDigest(const RowKey&, const QString&) const override { return {}; }

    // The bytes of the text, whatever the column's character set.
    QString sameText(const QString& column, const QString& given) const override
    {
        return QStringLiteral("CAST(CONVERT(%1 USING utf8mb4) AS BINARY) = CAST(%2 AS BINARY)")
            .arg(column, given);
    }

    QString updateTriggerQuery() const override
    {
        return ofTable(QStringLiteral("SELECT COUNT(*) FROM information_schema.TRIGGERS"),
                       QStringLiteral("EVENT_OBJECT_SCHEMA"), QStringLiteral("EVENT_OBJECT_TABLE"),
                       QStringLiteral(" AND EVENT_MANIPULATION = 'UPDATE'"));
    }
    QVariantList updateTriggerValues(const QString& table) const override { return {table}; }

    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        return m_jsonTable ? jsonBatch(table, field, key) : selectedBatch(table, field, key, rows);
    }

    QVariantList batchValues(const QList<QVariantList>& rows) const override
    {
        if (!m_jsonTable)
            return Dialect::batchValues(rows);
        QJsonArray array;
        for (const QVariantList& row : rows) {
            QJsonArray values;
            for (const QVariant& value : row)
                values.append(value.toString());
            array.append(values);
        }
        return {QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact))};
    }

    // In blocks of the key's order inside the read's transaction, so that
    // the driver, which holds a query's whole result, holds one block at a
    // time.
    QString lastKeyQuery(const QString& table, const RowKey& key) const override
    {
        QStringList descending;
        for (const KeyPart& part : key.parts)
            descending << part.name + QStringLiteral(" DESC");
        return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3 LIMIT 1")
            .arg(joined(key.expressions(), ", "), QuoteIdentifier(table), joined(descending, ", "));
    }

    QString blockQuery(const QString& table, const QString& field, const RowKey& key, int rows,
                       bool first, const QString& condition) const override
    {
        QStringList names;
        QStringList bound;
        for (const KeyPart& part : key.parts) {
            names << part.name;
            bound << cast(BoundText, part.type);
        }
        return keyBlock(table, field, key, u'(' + joined(names, ", ") + u')',
                        u'(' + joined(bound, ", ") + u')', joined(names, ", "), rows, first,
                        condition);
    }

    // One transaction a session reads in sees one moment.
    QStringList readSession() const override
    {
        return {
            QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")};
    }

    QStringList writerSettings() const override
    {
        return {QStringLiteral("SET SESSION innodb_lock_wait_timeout = 1")};
    }

    bool isLockTimeout(const QString&, int nativeCode) const override
    {
        return nativeCode == 1205 || nativeCode == 1213; // lock wait timeout, deadlock
    }

    bool isConnectionLost(const QString& sqlState, int nativeCode) const override
    {
        // Server gone, connection lost, killed, shutting down.
        return Dialect::isConnectionLost(sqlState, nativeCode) || nativeCode == 2006 ||
               nativeCode == 2013 || nativeCode == 1927 || nativeCode == 1053;
    }

private:
    // `query` of a catalogue view, narrowed to the bound table of the
    // current database (named in its columns `schema` and `table`), then
    // `rest`.
    static QString ofTable(const QString& query, const QString& schema, const QString& table,
                           const QString& rest)
    {
        return query + QStringLiteral(" WHERE %1 = DATABASE() AND ").arg(schema) +
               SameName.arg(table) + rest;
    }

    // The batch's rows as one bound JSON text, an array a row (the key's
    // texts, the value read, the new value), made a table by JSON_TABLE: one
    // statement for any number of rows, and one value to bind.
    QString jsonBatch(const QString& table, const QString& field, const RowKey& key) const
    {
        const qsizetype keys = key.size();
        QStringList columns;
        QStringList matches;
        for (qsizetype i = 0; i < keys; ++i) {
            const QString name = QStringLiteral("k%1").arg(i + 1);
            columns << QStringLiteral("%1 LONGTEXT PATH '$[%2]'").arg(name).arg(i);
            matches << QStringLiteral("t.%1 = %2")
                           .arg(key.parts[i].name,
                                cast(QStringLiteral("v.") + name, key.parts[i].type));
        }
        columns << QStringLiteral("old_value LONGTEXT PATH '$[%1]'").arg(keys)
                << QStringLiteral("new_value LONGTEXT PATH '$[%1]'").arg(keys + 1);
        const QString column = QStringLiteral("t.") + QuoteIdentifier(field);
        return QStringLiteral("UPDATE %1 AS t JOIN JSON_TABLE(%2, '$[*]' COLUMNS (%3)) AS v ON %4 "
                              "AND %5 SET %6 = v.new_value")
            .arg(QuoteIdentifier(table), BoundText, joined(columns, ", "), joined(matches, " AND "),
                 sameText(column, QStringLiteral("v.old_value")), column);
    }

    // The rows selected one by one from the bound values, a row's after
    // another's.
    QString selectedBatch(const QString& table, const QString& field, const RowKey& key,
                          int rows) const
    {
        const qsizetype keys = key.size();
        QStringList columns;
        QStringList matches;
        for (qsizetype i = 0; i < keys; ++i) {
            const QString name = QStringLiteral("k%1").arg(i + 1);
            columns << BoundText + QStringLiteral(" AS ") + name;
            matches << QStringLiteral("t.%1 = %2")
                           .arg(key.parts[i].name,
                                cast(QStringLiteral("v.") + name, key.parts[i].type));
        }
        columns << BoundText + QStringLiteral(" AS old_value")
                << BoundText + QStringLiteral(" AS new_value");
        const QString first = QStringLiteral("SELECT ") + joined(columns, ", ");
        const QString other =
            QStringLiteral(" UNION ALL SELECT ") + QStringList(keys + 2, BoundText).join(u", ");
        const QString column = QStringLiteral("t.") + QuoteIdentifier(field);
        return QStringLiteral("UPDATE %1 AS t JOIN (%2%3) AS v ON %4 AND %5 SET %6 = v.new_value")
            .arg(QuoteIdentifier(table), first, other.repeated(rows - 1), joined(matches, " AND "),
                 sameText(column, QStringLiteral("v.old_value")), column);
    }

    bool m_jsonTable;

    inline static const QString Unusable = QStringLiteral("-");
    inline static const QString Hex = QStringLiteral("HEX");

    // How a key column's text is turned back into the column's type to find
    // the row: a cast, none for a text (compared under the column's own
    // collation, by which the key is unique), or Unusable where a text of
    // the value does not name it exactly (floating point, a time stamp in
    // the session's time zone).
    static QString castFor(const QVariantList& row)
    {
        const QString type = row.value(3).toString().toLower();
        const bool isUnsigned = row.value(4).toString().contains(u"unsigned");
        if (type.endsWith(u"int") || type == u"year")
            return isUnsigned || type == u"year" ? QStringLiteral("UNSIGNED")
                                                 : QStringLiteral("SIGNED");
        if (type == u"decimal")
            return QStringLiteral("DECIMAL(%1, %2)")
                .arg(row.value(5).toInt())
                .arg(row.value(6).toInt());
        if (type == u"date")
            return QStringLiteral("DATE");
        if (type == u"datetime")
            return QStringLiteral("DATETIME(6)");
        if (type == u"time")
            return QStringLiteral("TIME(6)");
        if (type.contains(u"binary") || type.endsWith(u"blob"))
            return Hex;
        if (type == u"float" || type == u"double" || type == u"timestamp" || type == u"bit")
            return Unusable;
        return {};
    }

    static QString cast(const QString& given, const QString& type)
    {
        if (type.isEmpty())
            return given;
        if (type == Hex)
            return QStringLiteral("UNHEX(%1)").arg(given);
        return QStringLiteral("CAST(%1 AS %2)").arg(given, type);
    }

    static void addPart(RowKey& key, const QString& name, const QString& type)
    {
        const QString column = QuoteIdentifier(name);
        const QString text = type == Hex ? QStringLiteral("HEX(%1)").arg(column)
                                         : QStringLiteral("CAST(%1 AS CHAR)").arg(column);
        key.add(text, column + QStringLiteral(" = ") + cast(BoundText, type), column, type);
    }
};

} // namespace

std::unique_ptr<Dialect> MakeMariaDbDialect(const QString& server)
{
    // "10.11.19-MariaDB-0+deb12u1", or MySQL's "8.0.36".
    const QRegularExpressionMatch version =
        QRegularExpression(QStringLiteral("(\\d+)\\.(\\d+)")).match(server);
    const int major = version.captured(1).toInt();
    const int minor = version.captured(2).toInt();
    const bool jsonTable = server.contains(u"MariaDB", Qt::CaseInsensitive)
                               ? major > 10 || (major == 10 && minor >= 6)
                               : major >= 8;
    return std::make_unique<MariaDbDialect>(jsonTable);
}

} // namespace Db
