#include "db/SqliteDialect.h"

#include "app/RuntimeError.h"
#include "db/SqlText.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <limits>

namespace Db
{

namespace
{

using namespace SqlText;

// A text as a JSON string: a double quote, a backslash and the control
// characters escaped, every other character as it is.
void appendJson(QString& json, const QString& text)
{
    json += u'"';
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        json += QStringView(text).mid(plain, i - plain);
        if (c < 0x20)
            json += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
        else
            (json += u'\\') += QChar(c);
        plain = i + 1;
    }
    json += QStringView(text).mid(plain);
    json += u'"';
}

// The key's texts ordered, or compared with as many placeholders: one
// part as it is, several as a row value.
QString keyRow(const QStringList& parts)
{
    return parts.size() == 1 ? parts.first() : u'(' + joined(parts, ", ") + u')';
}

// SQLite: the real row id, under whichever of its three names no column
// hides; a WITHOUT ROWID table has only its primary key. A batch is one
// UPDATE ... FROM json_each(?), its rows one JSON text. The rows are read a
// block at a time in key order, each block's statement run to its end: a
// reader would hold the file's lock against the writer.
class SqliteDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("SQLite"); }
    bool has(Capability capability) const override
    {
        return capability == Capability::KeyBlocks || capability == Capability::PackedBlocks ||
               capability == Capability::ColumnArrays;
    }

    QString rowKeyQuery() const override
    {
        return QStringLiteral("SELECT i.name, i.pk, l.wr, i.type FROM pragma_table_list(?) AS l "
                              "JOIN pragma_table_info(?) AS i");
    }

    QVariantList rowKeyQueryValues(const QString& table) const override { return {table, table}; }

    // Any trigger on the table: one on UPDATE may write the row again.
    QString updateTriggerQuery() const override
    {
        return QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = "
                              "'trigger' AND tbl_name = ?");
    }
    QVariantList updateTriggerValues(const QString& table) const override { return {table}; }

    RowKey rowKey(const QList<QVariantList>& keyRows) const override
    {
        QSet<QString> names;
        QList<std::pair<int, QString>> primaryKey; // position in the key, column
        QHash<QString, QString> types;             // column: its declared type
        bool withoutRowId = false;
        bool integerKey = false; // a column of type INTEGER is the primary key
        for (const QVariantList& row : keyRows) {
            names << row.value(0).toString().toLower();
            types.insert(row.value(0).toString(), row.value(3).toString());
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
                    // Only an INTEGER PRIMARY KEY keeps the row id: VACUUM
                    // numbers the rows of other tables afresh. It is the
                    // row id: a write of it moves the row.
                    const bool kept = integerKey && primaryKey.size() == 1;
                    key.add(alias, alias + QStringLiteral(" = ?"), alias, QString(),
                            kept ? QuoteIdentifier(primaryKey.first().second) : QString());
                    key.addressed = !kept;
                    return key;
                }
            }
        }
        if (primaryKey.isEmpty())
            throw RuntimeError(RuntimeError::DriverError,
                               QStringLiteral("its rows cannot be told apart: columns named "
                                              "rowid, _rowid_ and oid hide its row id, and it has "
                                              "no primary key."));
        std::sort(primaryKey.begin(), primaryKey.end());
        for (const auto& part : primaryKey) {
            const QString column = QuoteIdentifier(part.second);
            key.add(column, column + QStringLiteral(" = ?"), column, types.value(part.second));
        }
        return key;
    }

    // The stored columns (a generated one is hidden 2 or 3).
    QString digestColumnsQuery() const override
    {
        return QStringLiteral("SELECT name FROM pragma_table_xinfo(?) WHERE hidden "
                              "= 0 AND name <> ? ORDER BY cid");
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
        return joined(qualified(key.others, qualifier, QStringLiteral("quote(%1)")), " || ',' || ");
    }

    // Each row of the batch's JSON text an array: the key's texts, the
    // value read, the new value (and the digest, where it is compared).
    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        Q_UNUSED(rows);
        const int keys = int(key.size());
        const auto at = [](int i) {
            return QStringLiteral("json_extract(v.value, '$[%1]')").arg(i);
        };
        QStringList matches;
        const QString target = QuoteIdentifier(table);
        for (int i = 0; i < keys; ++i)
            matches << QStringLiteral("%1.%2 = %3").arg(target, key.parts[i].name, at(i));
        if (key.checksDigest) // the given digest read once; none compares nothing
            matches << QStringLiteral("%1 = coalesce(%2, %1)")
                           .arg(rowDigest(key, target + u'.'), at(keys + 2));
        const QString column = QuoteIdentifier(field);
        return QStringLiteral("UPDATE %1 SET %2 = %3 FROM json_each(?) AS v "
                              "WHERE %4 AND %1.%2 = %5")
            .arg(target, column, at(keys + 1), joined(matches, " AND "), at(keys));
    }

    // The batch as one JSON text, an array of its rows (a Null as null).
    QVariantList batchValues(const QList<QVariantList>& rows) const override
    {
        QString json(1, u'[');
        for (const QVariantList& row : rows) {
            if (json.size() > 1)
                json += u',';
            json += u'[';
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (i > 0)
                    json += u',';
                if (row.at(i).isNull())
                    json += QLatin1String("null");
                else
                    appendJson(json, row.at(i).toString());
            }
            json += u']';
        }
        return {json + u']'};
    }
    // One value a batch; a commit costs the file's syncs (several
    // milliseconds each), a row a microsecond or two: several batches a
    // transaction, few enough rows that their pages stay in the writer's
    // cache (a spill would lock the readers out until the commit).
    int batchParameters() const override { return std::numeric_limits<int>::max(); }
    int batchRows() const override { return 5000; }
    int transactionRows() const override { return 25000; }

    // Exact texts: instr compares characters, not a pattern, whatever the
    // column's collation; a value that is no text is compared as its text.
    QString holdsAnyOf(const QString& field, const RowKey&, int texts) const override
    {
        return anyOf(QStringLiteral("instr(%1, ?) > 0").arg(QuoteIdentifier(field)), texts);
    }

    // The row id, an integer; or the primary key, whose texts read back find
    // their place only where the columns compare them as texts or integers
    // and every value is one (no real, no blob).
    QString lastKeyQuery(const QString& table, const RowKey& key) const override
    {
        const QStringList parts = key.expressions();
        QStringList descending;
        QStringList odd;
        for (const KeyPart& part : key.parts) {
            descending << part.expression + QStringLiteral(" DESC");
            if (isRowId(part))
                continue;
            if (!comparesExactly(part.type))
                return {};
            odd << QStringLiteral("typeof(%1) NOT IN ('integer', 'text')").arg(part.expression);
        }
        const QString target = QuoteIdentifier(table);
        QString query = QStringLiteral("SELECT %1 FROM %2").arg(joined(parts, ", "), target);
        if (!odd.isEmpty())
            query += QStringLiteral(" WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE %2)")
                         .arg(target, joined(odd, " OR "));
        return query + QStringLiteral(" ORDER BY %1 LIMIT 1").arg(joined(descending, ", "));
    }

    // Packed into one JSON text (fetched a value at a time, the rows cost
    // the driver far more than the query; JSON costs SQLite less than a text
    // of its own), fetched as its UTF-8 bytes (the driver hands a long text
    // over far more slowly). The last key from the block itself, whatever
    // order json_group_array takes.
    QString blockQuery(const QString& table, const QString& field, const RowKey& key, int rows,
                       bool first, const QString& condition) const override
    {
        const QString block = keyBlock(table, field, key, keyRow(key.expressions()),
                                       keyRow(QStringList(key.size(), QStringLiteral("?"))),
                                       joined(key.expressions(), ", "), rows, first, condition);
        QStringList columns{QStringLiteral("v")};
        QStringList texts{QStringLiteral("CAST(v AS text)")};
        QStringList keys;
        QStringList descending;
        for (qsizetype i = 0; i < key.size(); ++i) {
            const QString column = QStringLiteral("k%1").arg(i + 1);
            columns << column;
            texts << QStringLiteral("CAST(%1 AS text)").arg(column);
            keys << column;
            descending << column + QStringLiteral(" DESC");
        }
        if (key.hasDigest()) {
            columns << QStringLiteral("d");
            texts << QStringLiteral("d");
        }
        const QString packed = QStringLiteral("CAST(json_group_array(json_array(%1)) AS blob)")
                                   .arg(joined(texts, ", "));
        if (key.size() == 1 && isRowId(key.parts.first())) // one pass: the highest row id
            return QStringLiteral("WITH b(%1) AS (%2) SELECT %3, max(k1) FROM b "
                                  "HAVING count(*) > 0")
                .arg(joined(columns, ", "), block, packed);
        return QStringLiteral("WITH b(%1) AS (%2), l AS (SELECT %3 FROM b ORDER BY "
                              "%4 LIMIT 1) "
                              "SELECT (SELECT %5 FROM b), %3 FROM l")
            .arg(joined(columns, ", "), block, joined(keys, ", "), joined(descending, ", "),
                 packed);
    }

    // The SQLite ODBC driver sets its own busy handler on every statement,
    // over any PRAGMA busy_timeout, from its Timeout attribute (100 s unless
    // given): a short one, so that a write on a locked file comes back in
    // time to be stopped (and is then tried again).
    QString writerAttributes() const override { return QStringLiteral("Timeout=500;"); }

    bool isLockTimeout(const QString&, int nativeCode) const override
    {
        return nativeCode == 5 || nativeCode == 6; // SQLITE_BUSY, SQLITE_LOCKED
    }

    // The file's tables, without SQLite's own.
    QString tableQuery() const override
    {
        return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT "
                              "LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name");
    }

    // The columns that SELECT * returns (all but a virtual table's hidden
    // ones), in their order.
    QString fieldListQuery() const override
    {
        return QStringLiteral(
            "SELECT name FROM pragma_table_xinfo(?) WHERE hidden <> 1 ORDER BY cid");
    }
    QVariantList fieldListValues(const QString& table) const override { return {table}; }

private:
    static bool isRowId(const KeyPart& part)
    {
        return part.expression == u"_rowid_" || part.expression == u"rowid" ||
               part.expression == u"oid";
    }

    // A column of this declared type compares a text bound to it as an
    // integer or a text, as its values are stored (INTEGER, TEXT or NUMERIC
    // affinity): not a REAL's, nor an untyped column's, which compares a
    // text with a number as unequal.
    static bool comparesExactly(const QString& type)
    {
        const QString upper = type.toUpper();
        if (upper.contains(u"INT") || upper.contains(u"CHAR") || upper.contains(u"CLOB") ||
            upper.contains(u"TEXT"))
            return true;
        return !upper.isEmpty() && !upper.contains(u"BLOB") && !upper.contains(u"REAL") &&
               !upper.contains(u"FLOA") && !upper.contains(u"DOUB");
    }
};

} // namespace

std::unique_ptr<Dialect> MakeSqliteDialect()
{
    return std::make_unique<SqliteDialect>();
}

} // namespace Db
