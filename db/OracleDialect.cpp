#include "db/OracleDialect.h"

#include "db/SqlText.h"

#include <QSet>

namespace Db
{

namespace
{

using namespace SqlText;

// Oracle: ROWID names a row for as long as it lives. A batch is one MERGE
// whose source is the batch's rows, selected from dual.
class OracleDialect : public Dialect
{
public:
    QString name() const override { return QStringLiteral("Oracle"); }
    bool has(Capability capability) const override
    {
        return capability == Capability::ReadsWhileWriting || capability == Capability::RowLock;
    }

    RowKey rowKey(const QList<QVariantList>&) const override
    {
        RowKey key;
        key.add(QStringLiteral("ROWIDTOCHAR(ROWID)"), QStringLiteral("ROWID = CHARTOROWID(?)"),
                QStringLiteral("ROWID"));
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
        return QStringLiteral("RAWTOHEX(STANDARD_HASH(%1, 'MD5'))")
            .arg(joined(qualified(key.others, qualifier, QStringLiteral("ORA_HASH(%1)")),
                        " || ',' || "));
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
            .arg(QuoteIdentifier(table), joined(key.conditions(), " AND "));
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

    QString tableQuery() const override
    {
        return QStringLiteral("select table_name from user_tables");
    }

    // Read consistency for the whole transaction, and no writes; its first
    // statement, as Oracle requires.
    QString readTransaction() const override { return QStringLiteral("SET TRANSACTION READ ONLY"); }

    // MERGE from the batch's rows selected from dual.
    QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                       int rows) const override
    {
        QStringList sources;
        for (int n = 1; n <= rows; ++n) {
            QStringList row{QStringLiteral("%1 AS n").arg(n)};
            for (qsizetype i = 0; i < key.size(); ++i)
                row << QStringLiteral("CHARTOROWID(?) AS k%1").arg(i + 1);
            row << QStringLiteral("? AS old_value") << QStringLiteral("? AS new_value");
            if (key.checksDigest)
                row << QStringLiteral("? AS digest");
            sources << QStringLiteral("SELECT %1 FROM dual").arg(joined(row, ", "));
        }
        QStringList matches;
        for (qsizetype i = 0; i < key.size(); ++i)
            matches
                << QStringLiteral("t.%1 = s.k%2").arg(key.parts[i].name, QString::number(i + 1));
        const QString column = QuoteIdentifier(field);
        const QString digest =
            key.checksDigest
                ? QStringLiteral(" AND ") +
                      sameDigestIn(QStringLiteral("s.digest"), rowDigest(key, QStringLiteral("t.")))
                : QString();
        return QStringLiteral("MERGE INTO %1 t USING (%2) s ON (%3) WHEN MATCHED THEN UPDATE SET "
                              "t.%4 = s.new_value WHERE t.%4 = s.old_value%5")
            .arg(QuoteIdentifier(table), joined(sources, " UNION ALL "), joined(matches, " AND "),
                 column, digest);
    }
};

} // namespace

std::unique_ptr<Dialect> MakeOracleDialect()
{
    return std::make_unique<OracleDialect>();
}

} // namespace Db
