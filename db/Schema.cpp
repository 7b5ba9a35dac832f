#include "db/Schema.h"

#include "app/Main.h"

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

} // namespace

QString FullQuery(const QString& table)
{
    return QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table);
}

QString ColumnQuery(const QString& table, const QString& field)
{
    return QStringLiteral("SELECT ") + QuoteIdentifier(field) + QStringLiteral(" FROM ") +
           QuoteIdentifier(table);
}

QStringList ListTables(const Logon& logon, const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ClientCursor);
    QStringList tables;
    {
        QSqlQuery rows = connection->select(TableQuery);
        while (NextRow(rows)) {
            pump(letEventsRun);
            tables << Main::ValueOrDefault(rows.value(0), QString());
        }
    }
    return tables;
}

QStringList ListFields(const Logon& logon, const QString& table, const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ReadWrite);
    QStringList fields;
    {
        QSqlQuery rows = connection->select(FullQuery(table));
        const QSqlRecord record = rows.record();
        for (int i = 0; i < record.count(); ++i) {
            pump(letEventsRun);
            fields << record.fieldName(i);
        }
    }
    return fields;
}

QStringList Preview(const Logon& logon, const QString& table, const QString& field,
                    const LetEventsRun& letEventsRun)
{
    const auto connection = OpenConnection(logon, ConnectionProperty::ReadWrite);
    QStringList values;
    {
        QSqlQuery rows = connection->select(ColumnQuery(table, field));
        pump(letEventsRun);
        values = ReadPreviewRows(rows, letEventsRun);
    }
    return values;
}

QStringList ReadPreviewRows(QSqlQuery& rows, const LetEventsRun& letEventsRun)
{
    QStringList values;
    while (values.size() < PreviewLimit && NextRow(rows)) {
        pump(letEventsRun);
        values << Main::ValueOrDefault(rows.value(0), QString());
    }
    return values;
}

} // namespace Oracle
