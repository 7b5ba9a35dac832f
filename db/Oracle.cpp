#include "db/Oracle.h"

#include "app/RuntimeError.h"
#include "db/ConnectFailure.h"
#include "db/Drivers.h"

#include <QAtomicInteger>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace Oracle
{

namespace
{

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("quorvane-%1").arg(++counter);
}

// The ODBC handle behind a driver or a result, or null.
SQLHANDLE odbcHandle(const QVariant& handle)
{
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE))
        return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

QString fromSqlWChar(const SQLWCHAR* text, qsizetype length)
{
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR holds UTF-16");
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// The SQLSTATE and native code of the last failure on a statement.
struct Diagnosis {
    QString sqlState;
    int nativeCode = 0;
};

Diagnosis diagnose(const QSqlQuery& query)
{
    Diagnosis diagnosis;
    const SQLHANDLE statement = query.result() ? odbcHandle(query.result()->handle()) : nullptr;
    if (!statement)
        return diagnosis;
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(
            SQLGetDiagRecW(SQL_HANDLE_STMT, statement, 1, state, &native, nullptr, 0, &length))) {
        diagnosis.sqlState = fromSqlWChar(state, 5);
        diagnosis.nativeCode = static_cast<int>(native);
    }
    return diagnosis;
}

// True when the driver knows that the connection is gone.
bool connectionDead(const QSqlDatabase& database)
{
    const SQLHANDLE connection =
        database.driver() ? odbcHandle(database.driver()->handle()) : nullptr;
    if (!connection)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN result =
        SQLGetConnectAttrW(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(result) && dead == SQL_CD_TRUE;
}

// What the ODBC driver reports of the database: its own name for itself
// (SQL_DBMS_NAME) or its version (SQL_DBMS_VER).
QString dbmsInfo(const QSqlDatabase& database, SQLUSMALLINT what)
{
    const SQLHANDLE connection =
        database.driver() ? odbcHandle(database.driver()->handle()) : nullptr;
    if (!connection)
        return {};
    SQLWCHAR name[128] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(connection, what, name, sizeof name, &bytes)))
        return {};
    return fromSqlWChar(name, qMin<qsizetype>(bytes / 2, 127));
}

void bind(QSqlQuery& query, const QVariantList& values, const Db::Dialect& dialect)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(static_cast<int>(i), dialect.bound(values.at(i)));
}

// The connection string as QODBC takes it. QODBC takes a text with neither
// "DRIVER=" nor "SERVER=" in it for a data source's name, and puts "DSN="
// before it: a data source's string without those goes to it with its name
// first and without its own "DSN=".
QString qodbcDatabaseName(const QString& connectionString)
{
    if (connectionString.contains(u"DRIVER=", Qt::CaseInsensitive) ||
        connectionString.contains(u"SERVER=", Qt::CaseInsensitive))
        return connectionString;
    static const QRegularExpression dataSource(QStringLiteral("(^|;)DSN=([^;]*)(;|$)"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch found = dataSource.match(connectionString);
    if (!found.hasMatch())
        return connectionString;
    QString rest = connectionString;
    rest.remove(found.capturedStart(2) - 4, 4 + found.capturedLength(2) + found.capturedLength(3));
    return rest.isEmpty() ? found.captured(2) : found.captured(2) + u';' + rest;
}

} // namespace

QString DriverName(const QString& driver)
{
    return driver.isEmpty() ? DefaultDriver : driver;
}

QString BuildConnectionString(const Logon& logon, const QList<OdbcEntry>& installed)
{
    const QString user = ConnectionValue(logon.user);
    const QString password = ConnectionValue(logon.password);
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
                    result += user;
                    i += 6;
                    continue;
                }
                if (rest.startsWith(u"%PASSWORD%")) {
                    result += password;
                    i += 10;
                    continue;
                }
                if (rest.startsWith(u"%DRIVER%")) {
                    result += DriverName(logon.driver);
                    i += 8;
                    continue;
                }
            }
            result += pattern.at(i++);
        }
        return result;
    }
    return DriverConnectionString(logon, installed);
}

QString BuildConnectionString(const Logon& logon)
{
    // Only another driver than the default is looked up: it may be a data
    // source, and its name may not tell its family.
    QList<OdbcEntry> installed;
    if (qEnvironmentVariableIsEmpty(ConnectionStringVariable) && !logon.driver.isEmpty() &&
        logon.driver != DefaultDriver) {
        try {
            installed = InstalledDrivers();
        } catch (const RuntimeError&) {
            // No driver manager: the connection fails and says so.
        }
    }
    return BuildConnectionString(logon, installed);
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
    m_database.setDatabaseName(qodbcDatabaseName(BuildConnectionString(logon)));
    if (!m_database.open()) {
        // The cause, where the driver's words tell it, before them.
        const QString message = DriverMessage(m_database.lastError());
        const QString cause = ConnectFailureCause(message);
        throw RuntimeError(RuntimeError::DriverError,
                           cause.isEmpty() ? message : cause + u'\n' + message);
    }
    m_dialect =
        Db::Dialect::For(m_database.driver()->dbmsType(), dbmsInfo(m_database, SQL_DBMS_NAME),
                         dbmsInfo(m_database, SQL_DBMS_VER));
    const QString attributes =
        m_property == ConnectionProperty::Writing ? m_dialect->writerAttributes() : QString();
    if (!attributes.isEmpty()) { // known only now: opened again with them
        m_database.close();
        m_database.setDatabaseName(qodbcDatabaseName(attributes + BuildConnectionString(logon)));
        if (!m_database.open())
            fail(m_database.lastError());
    }
    for (const QString& statement : m_dialect->sessionSettings())
        execute(statement);
}

Connection::~Connection()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

void Connection::fail(const QSqlError& error, const QSqlQuery* query, bool cancelled)
{
    int number = RuntimeError::DriverError;
    if (cancelled) {
        throwIfStopped();
        // Cancelled from another thread: the wait ended on purpose.
        throw RuntimeError(RuntimeError::LockTimeout, DriverMessage(error));
    }
    if (m_dialect) {
        const Diagnosis diagnosis = query ? diagnose(*query) : Diagnosis();
        const int nativeCode =
            diagnosis.sqlState.isEmpty() ? error.nativeErrorCode().toInt() : diagnosis.nativeCode;
        if (m_dialect->isConnectionLost(diagnosis.sqlState, nativeCode) ||
            connectionDead(m_database))
            number = RuntimeError::ConnectionLost;
        else if (m_dialect->isLockTimeout(diagnosis.sqlState, nativeCode))
            number = RuntimeError::LockTimeout;
    }
    throw RuntimeError(number, DriverMessage(error));
}

void Connection::execute(const QString& statement, const QVariantList& values)
{
    QSqlQuery query = prepare(statement);
    run(query, values);
}

QSqlQuery Connection::select(const QString& statement, const QVariantList& values,
                             bool cancellableRun)
{
    if (values.isEmpty() && !cancellableRun) {
        throwIfStopped();
        QSqlQuery query(m_database);
        query.setForwardOnly(true);
        if (!query.exec(statement))
            fail(query.lastError(), &query);
        return query;
    }
    QSqlQuery query = prepare(statement);
    bind(query, values, *m_dialect);
    const bool cancelled = cancellable(query, [&query] { return query.exec(); });
    if (query.lastError().isValid() || cancelled)
        fail(query.lastError(), &query, cancelled);
    return query;
}

QSqlQuery Connection::prepare(const QString& statement)
{
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        fail(query.lastError(), &query);
    return query;
}

template <class Call> bool Connection::cancellable(QSqlQuery& query, Call call)
{
    {
        const std::lock_guard<std::mutex> lock(m_runningMutex);
        if (m_stopped)
            throw RuntimeError::stopped();
        m_running = query.result() ? odbcHandle(query.result()->handle()) : nullptr;
        m_cancelled = false;
    }
    call();
    const std::lock_guard<std::mutex> lock(m_runningMutex);
    m_running = nullptr;
    return std::exchange(m_cancelled, false);
}

void Connection::throwIfStopped()
{
    const std::lock_guard<std::mutex> lock(m_runningMutex);
    if (m_stopped)
        throw RuntimeError::stopped();
}

int Connection::run(QSqlQuery& prepared, const QVariantList& values)
{
    bind(prepared, values, *m_dialect);
    bool ran = false;
    const bool cancelled = cancellable(prepared, [&] { ran = prepared.exec(); });
    if (!ran)
        fail(prepared.lastError(), &prepared, cancelled);
    if (!cancelled)
        return prepared.numRowsAffected();
    // A cancel that came as the statement ended may have closed it: its
    // rows are lost, and how many it changed is not known.
    throwIfStopped();
    if (prepared.isSelect())
        throw RuntimeError(RuntimeError::LockTimeout,
                           QStringLiteral("The statement was cancelled as it ended."));
    return -1;
}

void Connection::cancel()
{
    const std::lock_guard<std::mutex> lock(m_runningMutex);
    cancelRunning();
}

void Connection::stop()
{
    const std::lock_guard<std::mutex> lock(m_runningMutex);
    m_stopped = true;
    cancelRunning();
}

void Connection::cancelRunning()
{
    if (!m_running || m_cancelled)
        return; // nothing runs, or it was cancelled already
    m_cancelled = true;
    SQLCancel(m_running);
}

bool Connection::next(QSqlQuery& rows)
{
    bool more = false;
    const bool cancelled = cancellable(rows, [&] { more = rows.next(); });
    if (more && !cancelled)
        return true;
    if (rows.lastError().isValid() || cancelled)
        fail(rows.lastError(), &rows, cancelled);
    return false;
}

void Connection::begin()
{
    if (!m_database.transaction())
        fail(m_database.lastError());
}

void Connection::commit()
{
    if (!m_database.commit())
        fail(m_database.lastError());
}

void Connection::rollback() noexcept
{
    m_database.rollback();
}

std::unique_ptr<Connection> OpenConnection(const Logon& logon, ConnectionProperty property)
{
    auto connection = std::make_unique<Connection>(property);
    connection->open(logon);
    return connection;
}

QList<OdbcEntry> InstalledDrivers()
{
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        throw RuntimeError(RuntimeError::DriverError,
                           QStringLiteral("The ODBC driver manager is not available."));
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
    QList<OdbcEntry> entries;
    // Each call gives a name and a second text: a driver's attributes,
    // each ended by a NUL, or a data source's driver.
    const auto list = [&](OdbcEntry::Kind kind, auto call) {
        SQLWCHAR name[512];
        SQLWCHAR more[4096];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT moreLength = 0;
        for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
             SQL_SUCCEEDED(call(environment, direction, name, SQLSMALLINT(std::size(name)),
                                &nameLength, more, SQLSMALLINT(std::size(more)), &moreLength));
             direction = SQL_FETCH_NEXT) {
            OdbcEntry entry;
            entry.kind = kind;
            entry.name = fromSqlWChar(name, qMin<qsizetype>(nameLength, std::size(name) - 1));
            QString description =
                fromSqlWChar(more, qMin<qsizetype>(moreLength, std::size(more) - 1));
            entry.description = description.replace(QChar(0), u';');
            while (entry.description.endsWith(u';'))
                entry.description.chop(1);
            entries << entry;
        }
    };
    list(OdbcEntry::Kind::Driver, SQLDriversW);
    list(OdbcEntry::Kind::DataSource, SQLDataSourcesW);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return entries;
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
