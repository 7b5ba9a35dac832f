#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

// The logon of one action: read from the connection dialog's boxes (or the
// command line) when the action starts.
struct Logon {
    QString sid;
    QString user;
    QString password;
};

// Database access: the connection string, connections that live for one
// action, and the statements the program sends.
namespace Oracle
{

// When set, the template of the connection string, with %SID%, %USER% and
// %PASSWORD% replaced by the logon's texts as they stand (for other ODBC
// drivers, e.g. Oracle's own with DBQ=, and for the demo database).
inline const char ConnectionStringVariable[] = "QUORVANE_CONNECTION_STRING";

// "Driver={Microsoft ODBC for Oracle};Server=" SID ";Uid=" user ";Pwd="
// password ";", the texts inserted exactly as they stand; or the template.
QString BuildConnectionString(const Logon& logon);

// What an action sets on its connection before opening it. Qt's ODBC layer
// has no such switches; the value documents the action's access pattern.
enum class ConnectionProperty {
    None,         // connection check, connection test
    ClientCursor, // table list, change run: rows counted before they are read
    ReadWrite,    // field list, preview
};

// How a statement's rows are addressed one by one: ROWID in Oracle and
// SQLite, ctid in PostgreSQL. Keyed by the database the driver reports.
QString RowLocatorColumn(const QSqlDatabase& database);

// A double-quoted identifier; a double quote inside the name is doubled.
QString QuoteIdentifier(const QString& name);

// The text with every apostrophe doubled; nothing else changes.
QString QuoteSqlLiteral(const QString& text);

// One connection under a name of its own; closed and removed when it goes.
// Failures throw RuntimeError with the driver's own message.
class Connection
{
public:
    // Creates the connection object; throws when no ODBC driver layer exists.
    explicit Connection(ConnectionProperty property = ConnectionProperty::None);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens it with the connection string built from the logon.
    void open(const Logon& logon);

    QSqlDatabase& database() { return m_database; }
    ConnectionProperty property() const { return m_property; }

    // Runs a statement that returns no rows.
    void execute(const QString& statement);

    // Runs a statement and returns its rows, to be read forward once.
    QSqlQuery select(const QString& statement);

    QString rowLocatorColumn() const { return RowLocatorColumn(m_database); }

private:
    QString m_name;
    ConnectionProperty m_property;
    QSqlDatabase m_database;
};

// Creates a connection, sets its property and opens it.
std::unique_ptr<Connection> OpenConnection(const Logon& logon, ConnectionProperty property);

// True when a connection with the logon opens; false when opening fails.
// Shows nothing. Only a missing driver layer throws (the caller reports it).
bool CanConnect(const Logon& logon);

// The description of a failed database call: the driver's own text.
QString DriverMessage(const QSqlError& error);

// Moves to the next row; false at the end of the rows. A failed fetch
// throws RuntimeError: it is an error, not the end of the rows.
bool NextRow(QSqlQuery& rows);

} // namespace Oracle
