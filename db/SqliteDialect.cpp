#include "db/SqliteDialect.h"

#include "app/RuntimeError.h"
#include "db/SqlText.h"

#include <QSet>
#include <algorithm>

namespace Db
{

namespace
{

using namespace SqlText;

// SQLite: the real row id, under whichever of its three names no column
// hides; a WITHOUT ROWID table has only its primary key. A batch is one
// UPDATE ... FROM (VALUES ...).
class SqliteDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("SQLite"); }
    bool has(Capability) const override { return false; }

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
                    key.add(alias, alias + QStringLiteral(" = ?"), alias);
                    // Only an INTEGER PRIMARY KEY keeps the row id: VACUUM
                    // numbers the rows of other tables afresh.
                    key.addressed = !(integerKey && primaryKey.size() == 1);
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
            key.add(column, column + QStringLiteral(" = ?"), column);
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
        return joined(qualified(key.others, qualifier, QStringLiteral("quote(%1)")), " || ',' || ");
    }

    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        const int keys = int(key.size());
        QStringList matches;
        const QString target = QuoteIdentifier(table);
        for (int i = 0; i < keys; ++i)
            matches << QStringLiteral("%1.%2 = v.column%3")
                           .arg(target, key.parts[i].name, QString::number(i + 1));
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
};

} // namespace

std::unique_ptr<Dialect> MakeSqliteDialect()
{
    return std::make_unique<SqliteDialect>();
}

} // namespace Db
