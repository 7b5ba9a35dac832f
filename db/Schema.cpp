#include "db/Schema.h"

#include "app/Main.h"
#include "app/RuntimeError.h"

#include <QSqlRecord>

namespace Oracle
{

namespace
{

void pump(const LetEventsRun& letEventsRun)
{
    if (letEventsRun)
        letEventsRun();
}

// The table's column names: from the database's catalogue where the dialect
// reads one, else (and where the catalogue knows no such table) from the
// columns of a query on the table (`query` gives its text).
QStringList columnNames(const Logon& logon, const QString& table,
                        QString (Db::Dialect::*query)(const QString&) const,
                        const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ReadWrite);
    const Db::Dialect& dialect = connection->dialect();
    QStringList fields;
    if (!dialect.fieldListQuery().isEmpty()) {
        QSqlQuery rows =
            connection->select(dialect.fieldListQuery(), dialect.fieldListValues(table));
        while (connection->next(rows)) {
            pump(letEventsRun);
            fields << rows.value(0).toString();
        }
        if (!fields.isEmpty())
            return fields;
    }
    const QSqlRecord record = connection->select((dialect.*query)(table)).record();
    for (int i = 0; i < record.count(); ++i) {
        pump(letEventsRun);
        fields << record.fieldName(i);
    }
    return fields;
}

} // namespace

QStringList ListTables(const Logon& logon, const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ClientCursor);
    QStringList tables;
    QSqlQuery rows = connection->select(connection->dialect().tableQuery());
    while (connection->next(rows)) {
        pump(letEventsRun);
        tables << Main::ValueOrDefault(rows.value(0), QString());
    }
    return tables;
}

QStringList ListFields(const Logon& logon, const QString& table, const LetEventsRun& letEventsRun)
{
    return columnNames(logon, table, &Db::Dialect::fullQuery, letEventsRun);
}

QStringList FieldNames(const Logon& logon, const QString& table)
{
    return columnNames(logon, table, &Db::Dialect::fieldNamesQuery, {});
}

QStringList Preview(const Logon& logon, const QString& table, const QString& field,
                    const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ReadWrite);
    QStringList values;
    QSqlQuery rows = connection->select(connection->dialect().columnQuery(table, field));
    pump(letEventsRun);
    while (values.size() < PreviewLimit && connection->next(rows)) {
        pump(letEventsRun);
        values << Main::ValueOrDefault(rows.value(0), QString());
    }
    return values;
}

Db::RowKey ReadRowKey(Connection& connection, const QString& table, const QString& field)
{
    const Db::Dialect& dialect = connection.dialect();
    QList<QVariantList> keyRows;
    if (!dialect.rowKeyQuery().isEmpty()) {
        QSqlQuery query =
            connection.select(dialect.rowKeyQuery(), dialect.rowKeyQueryValues(table));
        while (connection.next(query)) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            keyRows << row;
        }
    }
    Db::RowKey key;
    try {
        key = dialect.rowKey(keyRows);
    } catch (const RuntimeError& error) {
        // A table that is not there has no key either: the database says
        // so in its own words. Its query may wait for a lock on the table,
        // where a stop must reach it.
        connection.select(dialect.fieldNamesQuery(table), {}, true);
        throw RuntimeError(error.number(),
                           QStringLiteral("Table %1: %2").arg(table, error.description()));
    }
    const QString quoted = Db::QuoteIdentifier(field);
    for (qsizetype i = 0; i < key.size() && key.fieldPart < 0; ++i)
        if (key.parts[i].name == quoted || key.parts[i].alias == quoted)
            key.fieldPart = int(i);
    if (key.addressed) {
        QStringList others;
        if (!dialect.digestColumnsQuery().isEmpty()) {
            QSqlQuery query = connection.select(dialect.digestColumnsQuery(),
                                                dialect.digestColumnsValues(table, field));
            while (connection.next(query))
                others << query.value(0).toString();
        } else {
            const QSqlRecord record = connection.select(dialect.fieldNamesQuery(table)).record();
            for (int i = 0; i < record.count(); ++i)
                if (record.fieldName(i) != field)
                    others << record.fieldName(i);
        }
        for (const QString& column : others)
            key.others << Db::QuoteIdentifier(column);
    }
    if (!dialect.fieldTypeQuery().isEmpty()) {
        QSqlQuery query =
            connection.select(dialect.fieldTypeQuery(), {Db::QuoteIdentifier(table), field});
        if (connection.next(query))
            key.fieldType = query.value(0).toString();
    }
    return key;
}

} // namespace Oracle
