#pragma once

#include "db/Dialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <atomic>
#include <memory>
#include <mutex>

// The logon of one action: read from the connection dialog's boxes (or the
// command line) when the action starts.
struct Logon {
    QString sid;
    QString user;
    QString password;
    // The ODBC driver installed, or the data source configured, by its name
    // in the driver manager; empty for Oracle::DefaultDriver.
    QString driver = {};
};

// Database access: the connection string and connections that live for one
// action. What the statements say is the dialect's (db/Dialect.h).
namespace Oracle
{

// When set, the template of the connection string, with %SID%, %USER% and
// %PASSWORD% replaced by the logon's texts (for other ODBC drivers, e.g.
// Oracle's own with DBQ=, and for the demo database, where %SID% is a file).
// %DRIVER% in it stands for the logon's driver.
inline const char ConnectionStringVariable[] = "QUORVANE_CONNECTION_STRING";

// The driver a logon without one asks for.
inline const QString DefaultDriver = QStringLiteral("Microsoft ODBC for Oracle");

// The driver or data source's name: `driver`, or DefaultDriver when empty.
QString DriverName(const QString& driver);

// An ODBC driver installed on the machine, or a data source configured
// there, as the driver manager lists them.
struct OdbcEntry {
    enum class Kind { Driver, DataSource } kind = Kind::Driver;
    QString name;
    QString description; // a driver's attributes ("Driver=...;..."), a data source's driver
};

// The connection string for the logon's driver, as its family takes it
// (db/Drivers.h), or the template filled in. With the default driver:
// "Driver={Microsoft ODBC for Oracle};Server=" SID ";Uid=" user ";Pwd="
// password ";". A user name or password that holds ';', '{', '}' or '=', or
// begins or ends with a blank, goes in between braces with every '}'
// doubled, so that it reaches the driver whole and adds no attribute of its
// own; any other goes in exactly as it stands (as saved logons and templates
// have always had it). The SID goes in as it stands where it is not in its
// driver's own form: it may carry further attributes on purpose (with
// PostgreSQL's driver "host;Port=5432;Database=shop"), and in a template it
// may be a file path. A driver other than the default is looked up among
// those the driver manager lists.
QString BuildConnectionString(const Logon& logon);
// The same, with the drivers and data sources installed as given.
QString BuildConnectionString(const Logon& logon, const QList<OdbcEntry>& installed);

// What an action sets on its connection before opening it. Qt's ODBC layer
// has no such switches; the value documents the action's access pattern.
enum class ConnectionProperty {
    None,         // connection check, connection test
    ClientCursor, // table list, change run: rows counted before they are read
    ReadWrite,    // field list, preview
    Writing,      // the writes of a change run or an undo: short lock waits, tried again
};

// One connection under a name of its own; closed and removed when it goes.
// Failures throw RuntimeError with the driver's own message: number
// RuntimeError::ConnectionLost when the connection is gone, else DriverError.
class Connection
{
public:
    // Creates the connection object; throws when no ODBC driver layer exists.
    explicit Connection(ConnectionProperty property = ConnectionProperty::None);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens it with the connection string built from the logon, and chooses
    // the dialect from what the driver reports.
    void open(const Logon& logon);

    QSqlDatabase& database() { return m_database; }
    ConnectionProperty property() const { return m_property; }
    // The open connection's dialect.
    const Db::Dialect& dialect() const { return *m_dialect; }

    // Runs a statement that returns no rows, with its bound values.
    void execute(const QString& statement, const QVariantList& values = {});

    // Runs a query with its bound values; its rows are read forward once
    // with next(). A query with values, or a `cancellableRun` one, is
    // prepared first, so that cancel() and stop() reach it while it runs;
    // one without goes as it is (the driver may hold a large result of a
    // prepared statement in more memory).
    QSqlQuery select(const QString& statement, const QVariantList& values = {},
                     bool cancellableRun = false);

    // Prepares a statement to run many times with run().
    QSqlQuery prepare(const QString& statement);
    // Runs a prepared statement with its bound values; the rows it affected,
    // or -1 when that is not known (the driver cannot tell, or a cancel
    // reached the statement as it ended; a statement with rows throws then,
    // as a cancelled one does, since its rows are lost).
    int run(QSqlQuery& prepared, const QVariantList& values);

    // Moves to the next row; false at the end of the rows. A failed fetch
    // throws: it is an error, not the end of the rows.
    bool next(QSqlQuery& rows);

    // Asks the statement that run() is running now, on another thread, to
    // end, once: it then fails as a lock wait that ran out would. Any thread
    // may call it; with no statement running it does nothing.
    void cancel();
    // Ends the statement running now (a query waiting for a lock, a slow
    // read) and every later one of this connection: they fail with
    // RuntimeError::Stopped. Any thread may call it.
    void stop();

    // A transaction around the statements that follow; the connection
    // commits each statement on its own again after commit or rollback.
    void begin();
    void commit();
    void rollback() noexcept;

private:
    // `cancelled`: the statement failed after a cancel from another thread.
    [[noreturn]] void fail(const QSqlError& error, const QSqlQuery* query = nullptr,
                           bool cancelled = false);
    // Runs `call` (an exec or a fetch of `query`) where cancel() and stop()
    // reach it; true when it was cancelled meanwhile. Throws Stopped, after
    // a stop, instead of running it.
    template <class Call> bool cancellable(QSqlQuery& query, Call call);
    // Throws Stopped after stop().
    void throwIfStopped();
    // Cancels the statement running now, once. Under m_runningMutex.
    void cancelRunning();

    QString m_name;
    ConnectionProperty m_property;
    QSqlDatabase m_database;
    std::unique_ptr<Db::Dialect> m_dialect;
    std::mutex m_runningMutex;
    void* m_running = nullptr; // the ODBC handle of the statement run() is in
    bool m_cancelled = false;  // the statement running now was cancelled
    bool m_stopped = false;    // stop() was called
};

// Creates a connection, sets its property and opens it.
std::unique_ptr<Connection> OpenConnection(const Logon& logon, ConnectionProperty property);

// True when a connection with the logon opens; false when opening fails.
// Shows nothing. Only a missing driver layer throws (the caller reports it).
bool CanConnect(const Logon& logon);

// Every installed driver, then every data source (the user's and the
// system's), each in the driver manager's order. Throws RuntimeError when
// there is no driver manager.
QList<OdbcEntry> InstalledDrivers();

// The description of a failed database call: the driver's own text.
QString DriverMessage(const QSqlError& error);

} // namespace Oracle
