#include "db/Oracle.h"

#include "app/RuntimeError.h"

#include <QAtomicInteger>
#include <QSqlDriver>
#include <QSqlError>

namespace Oracle
{

namespace
{

[[noreturn]] void fail(const QSqlError& error)
{
    throw RuntimeError(RuntimeError::DriverError, DriverMessage(error));
}

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quorvane-%1").arg(++counter);
}

} // namespace

QString BuildConnectionString(const Logon& logon)
{
    const QString pattern = qEnvironmentVariable(ConnectionStringVariable);
    if (!pattern.isEmpty()) {
        // One pass, so that a replaced text is never searched again.
        QString result;
        qsizetype i = 0;
        while (i < pattern.size()) {
            if (pattern.at(i) == u'%') {
                const QStringView rest = QStringView(pattern).mid(i);
                if (rest.startsWith(u"%SID%")) {
                    result += logon.sid;
                    i += 5;
                    continue;
                }
                if (rest.startsWith(u"%USER%")) {
                    result += logon.user;
                    i += 6;
                    continue;
                }
                if (rest.startsWith(u"%PASSWORD%")) {
                    result += logon.password;
                    i += 10;
                    continue;
                }
            }
            result += pattern.at(i++);
        }
        return result;
    }
    return QStringLiteral("Driver={Microsoft ODBC for Oracle};Server=") + logon.sid +
           QStringLiteral(";Uid=") + logon.user + QStringLiteral(";Pwd=") + logon.password +
           QStringLiteral(";");
}

QString RowLocatorColumn(const QSqlDatabase& database)
{
    const QSqlDriver* driver = database.driver();
    if (driver && driver->dbmsType() == QSqlDriver::PostgreSQL)
        return QStringLiteral("ctid");
    return QStringLiteral("ROWID");
}

QString QuoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString QuoteSqlLiteral(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("''"));
    return quoted;
}

QString DriverMessage(const QSqlError& error)
{
    QString message = error.databaseText().trimmed();
    if (message.isEmpty())
        message = error.text().trimmed();
    return message;
}

Connection::Connection(ConnectionProperty property)
    : m_name(uniqueConnectionName()), m_property(property)
{
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
    if (!m_database.isValid()) {
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw RuntimeError(RuntimeError::DriverError,
                           QStringLiteral("The ODBC database driver (QODBC) is not available."));
    }
}

void Connection::open(const Logon& logon)
{
    m_database.setDatabaseName(BuildConnectionString(logon));
    if (!m_database.open())
        fail(m_database.lastError());
}

Connection::~Connection()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

void Connection::execute(const QString& statement)
{
    QSqlQuery query(m_database);
    if (!query.exec(statement))
        fail(query.lastError());
}

QSqlQuery Connection::select(const QString& statement)
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        fail(query.lastError());
    return query;
}

bool NextRow(QSqlQuery& rows)
{
    if (rows.next())
        return true;
    if (rows.lastError().isValid())
        fail(rows.lastError());
    return false;
}

std::unique_ptr<Connection> OpenConnection(const Logon& logon, ConnectionProperty property)
{
    auto connection = std::make_unique<Connection>(property);
    connection->open(logon);
    return connection;
}

bool CanConnect(const Logon& logon)
{
    Connection connection(ConnectionProperty::None);
    try {
        connection.open(logon);
        return true;
    } catch (const RuntimeError&) {
        return false;
    }
}

} // namespace Oracle
