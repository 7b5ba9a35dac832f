#pragma once

#include "db/Oracle.h"

#include <QList>
#include <QString>
#include <QVariant>

// Real databases for the tests, chosen by QUORVANE_TEST_BACKEND:
//  - "postgresql" (the default): the private server that scripts/test starts,
//    reached under the driver name "Microsoft ODBC for Oracle", with the
//    program's own connection string (the SID carries host and port, and
//    psqlODBC's options only where QUORVANE_TEST_PG_SID_OPTIONS gives them,
//    e.g. "UseDeclareFetch=1");
//  - "sqlite": one file per schema through the SQLite ODBC driver, with
//    QUORVANE_CONNECTION_STRING set to "Driver={SQLite3};Database=%SID%;NoCreat=1;";
//  - "mariadb": one database and user per schema on the private MariaDB
//    server, reached as a user reaches it: the driver "MariaDB Unicode"
//    chosen and the SID "127.0.0.1:PORT/DATABASE".
namespace TestDatabases
{

enum class Backend { PostgreSQL, SQLite, MariaDB };

Backend CurrentBackend();
QString BackendName();

// What the test environment lacks ("no test databases (...)": run the tests
// through scripts/test), or the empty text when it is ready.
QString MissingEnvironment();

// Throws std::runtime_error with MissingEnvironment() when it is not empty.
void RequireEnvironment();

// One user's own schema, made fresh and dropped when it goes.
class Schema
{
public:
    explicit Schema(const QString& tag = QStringLiteral("t"));
    ~Schema();
    Schema(const Schema&) = delete;
    Schema& operator=(const Schema&) = delete;

    // Gives the user this password from now on (SQLite: only the logon's).
    void setPassword(const QString& password);

    // The logon the program uses for this user.
    Logon logon() const;
    // The same user with a password the server refuses (SQLite: a file that
    // cannot be opened).
    Logon refusedLogon() const;

    // Runs a statement as the schema's owner, with its bound values; throws
    // std::runtime_error with the driver's message on failure.
    void exec(const QString& statement, const QVariantList& values = {});
    // The rows of a query, run as the owner.
    QList<QVariantList> rows(const QString& query);
    // The first column of a query's rows, Nulls as invalid QVariants.
    QVariantList column(const QString& query);

    const QString& userName() const { return m_user; }
    // The owner's connection string (for a connection of the test's own).
    QString connectionString() const;

private:
    QString m_user;
    QString m_password;
    QString m_file; // SQLite
};

// A transaction of the schema's owner on a connection of its own, left open
// (with the locks its statements took) until it goes, then rolled back.
class OpenTransaction
{
public:
    OpenTransaction(const Schema& schema, const QString& statement);
    ~OpenTransaction();
    OpenTransaction(const OpenTransaction&) = delete;
    OpenTransaction& operator=(const OpenTransaction&) = delete;

private:
    QString m_name;
};

// PostgreSQL and MariaDB: ends every session of the user from the administrator's
// connection, as a DBA killing them would.
void TerminateSessions(const QString& user);

// PostgreSQL and MariaDB: the most sessions the user may have at once, as a DBA
// would set it.
void LimitSessions(const QString& user, int sessions);

// PostgreSQL only: stop and start the test server (for "server gone" tests).
void StopServer();
void StartServer();

// A name quoted for SQL, inner double quotes doubled.
QString Quoted(const QString& name);

} // namespace TestDatabases

// In initTestCase: skips the whole suite, saying why, when the test databases
// are not there (the suite was started outside scripts/test).
#define REQUIRE_TEST_DATABASES()                                                                   \
    do {                                                                                           \
        const QString missing = TestDatabases::MissingEnvironment();                               \
        if (!missing.isEmpty())                                                                    \
            QSKIP(qPrintable(missing));                                                            \
    } while (false)
