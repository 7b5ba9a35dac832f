#include "tests/support/TestDatabases.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <stdexcept>
#include <unistd.h>

namespace TestDatabases
{

namespace
{

std::runtime_error failure(const QString& what)
{
    return std::runtime_error(what.toStdString());
}

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

// As a user types it: the driver's default options, and those that
// QUORVANE_TEST_PG_SID_OPTIONS adds.
QString postgresSid()
{
    QString sid =
        QStringLiteral("127.0.0.1;Port=%1;Database=postgres").arg(env("QUORVANE_TEST_PG_PORT"));
    const QString options = env("QUORVANE_TEST_PG_SID_OPTIONS");
    if (!options.isEmpty())
        sid += u';' + options;
    return sid;
}

// The fixture's own connection string (Connector/ODBC refuses one that ends
// with ';'), so that the program's is tested, not used.
QString mariaDbConnectionTemplate()
{
    return QStringLiteral("Driver={%1};Server=127.0.0.1;Port=%2;Database=%SID%;Uid=%USER%;"
                          "Pwd=%PASSWORD%;CHARSET=utf8mb4;OPTION=2")
        .arg(env("QUORVANE_TEST_MARIADB_DRIVER"), env("QUORVANE_TEST_MARIADB_PORT"));
}

QString sqliteConnectionTemplate()
{
    return QStringLiteral("Driver={%1};Database=%SID%;NoCreat=1;")
        .arg(env("QUORVANE_TEST_SQLITE_DRIVER"));
}

QString uniqueUserName(const QString& tag)
{
    static int counter = 0;
    QString cleanTag;
    for (const QChar c : tag.toLower())
        if (c.isLetterOrNumber() && c.unicode() < 128)
            cleanTag += c;
    return QStringLiteral("qv_%1_%2_%3").arg(cleanTag.left(20)).arg(getpid()).arg(++counter);
}

// A value as the fixture binds it. Connector/ODBC would keep the null
// character that ends a text as Qt binds it: a text goes as its UTF-8 bytes,
// which a column in utf8mb4 takes as they are.
QVariant boundValue(const QVariant& value)
{
    if (CurrentBackend() != Backend::MariaDB || value.isNull() ||
        value.typeId() != QMetaType::QString)
        return value;
    return value.toString().toUtf8();
}

// Runs statements over a fresh connection with an explicit connection string.
class Session
{
public:
    explicit Session(const QString& connectionString)
    {
        static int counter = 0;
        m_name = QStringLiteral("test-session-%1").arg(++counter);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        db.setDatabaseName(connectionString);
        if (!db.open()) {
            const QString message = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            m_name.clear();
            throw failure(QStringLiteral("cannot open test connection: ") + message);
        }
        if (CurrentBackend() == Backend::MariaDB) // the tests' statements quote as the program's
            exec(QStringLiteral("SET SESSION sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES')"));
    }
    ~Session()
    {
        if (m_name.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    void exec(const QString& statement, const QVariantList& values = {}) { run(statement, values); }

    QList<QVariantList> rows(const QString& statement, const QVariantList& values = {})
    {
        QSqlQuery query = run(statement, values);
        QList<QVariantList> result;
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            result << row;
        }
        return result;
    }

private:
    // Runs a statement with its bound values, its rows read forward.
    QSqlQuery run(const QString& statement, const QVariantList& values)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.setForwardOnly(true);
        bool ok = false;
        if (values.isEmpty()) {
            ok = query.exec(statement);
        } else {
            ok = query.prepare(statement);
            for (int i = 0; ok && i < values.size(); ++i)
                query.bindValue(i, boundValue(values[i]));
            ok = ok && query.exec();
        }
        if (!ok)
            throw failure(
                QStringLiteral("%1\n  failed: %2").arg(statement, query.lastError().text()));
        return query;
    }

    QString m_name;
};

QString adminConnectionString()
{
    if (CurrentBackend() == Backend::MariaDB)
        return QStringLiteral("Driver={%1};Server=127.0.0.1;Port=%2;Uid=%3;Pwd=%4")
            .arg(env("QUORVANE_TEST_MARIADB_DRIVER"), env("QUORVANE_TEST_MARIADB_PORT"),
                 env("QUORVANE_TEST_MARIADB_ADMIN"), env("QUORVANE_TEST_MARIADB_ADMIN_PASSWORD"));
    return QStringLiteral("Driver={Microsoft ODBC for Oracle};Server=%1;Uid=%2;Pwd=%3;")
        .arg(postgresSid(), env("QUORVANE_TEST_PG_ADMIN"), env("QUORVANE_TEST_PG_ADMIN_PASSWORD"));
}

// A connection string value between braces, '}' doubled: the fixture's own
// quoting, so that the program's is tested, not used.
QString braced(const QString& value)
{
    QString inner = value;
    inner.replace(u'}', QStringLiteral("}}"));
    return u'{' + inner + u'}';
}

QString ownerConnectionString(const Logon& logon)
{
    if (CurrentBackend() == Backend::SQLite)
        return QStringLiteral("Driver={%1};Database=%2;")
            .arg(env("QUORVANE_TEST_SQLITE_DRIVER"), logon.sid);
    if (CurrentBackend() == Backend::MariaDB)
        return mariaDbConnectionTemplate()
            .replace(QStringLiteral("%SID%"), logon.sid.section(u'/', -1))
            .replace(QStringLiteral("%USER%"), logon.user)
            .replace(QStringLiteral("%PASSWORD%"), braced(logon.password));
    return QStringLiteral("Driver={Microsoft ODBC for Oracle};Server=%1;Uid=%2;Pwd=%3;")
        .arg(logon.sid, logon.user, braced(logon.password));
}

void runPgCtl(const QStringList& arguments)
{
    QStringList command;
    QString program = env("QUORVANE_TEST_PG_CTL");
    if (getuid() == 0) {
        command << QStringLiteral("-u") << QStringLiteral("postgres") << QStringLiteral("--")
                << program;
        program = QStringLiteral("runuser");
    }
    command << QStringLiteral("-D") << env("QUORVANE_TEST_PG_DATA") << arguments;
    QProcess process;
    process.start(program, command);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw failure(
            QStringLiteral("pg_ctl %1 failed: %2")
                .arg(arguments.join(u' '), QString::fromLocal8Bit(process.readAllStandardError())));
}

} // namespace

Backend CurrentBackend()
{
    const QString name = env("QUORVANE_TEST_BACKEND");
    if (name == u"sqlite")
        return Backend::SQLite;
    return name == u"mariadb" ? Backend::MariaDB : Backend::PostgreSQL;
}

QString BackendName()
{
    switch (CurrentBackend()) {
    case Backend::SQLite:
        return QStringLiteral("sqlite");
    case Backend::MariaDB:
        return QStringLiteral("mariadb");
    case Backend::PostgreSQL:
        break;
    }
    return QStringLiteral("postgresql");
}

QString MissingEnvironment()
{
    QStringList missing;
    for (const char* name : {"ODBCSYSINI", "QUORVANE_TEST_DIR"})
        if (env(name).isEmpty())
            missing << QString::fromLatin1(name);
    if (CurrentBackend() == Backend::PostgreSQL && env("QUORVANE_TEST_PG_PORT").isEmpty())
        missing << QStringLiteral("QUORVANE_TEST_PG_PORT");
    if (CurrentBackend() == Backend::SQLite && env("QUORVANE_TEST_SQLITE_DRIVER").isEmpty())
        missing << QStringLiteral("QUORVANE_TEST_SQLITE_DRIVER");
    if (CurrentBackend() == Backend::MariaDB && env("QUORVANE_TEST_MARIADB_PORT").isEmpty())
        missing << QStringLiteral("QUORVANE_TEST_MARIADB_PORT");
    if (missing.isEmpty())
        return {};
    return QStringLiteral("no test databases (%1 unset): run the tests through scripts/test")
        .arg(missing.join(QStringLiteral(", ")));
}

void RequireEnvironment()
{
    const QString missing = MissingEnvironment();
    if (!missing.isEmpty())
        throw failure(missing);
}

Schema::Schema(const QString& tag) : m_user(uniqueUserName(tag))
{
    RequireEnvironment();
    m_password = QStringLiteral("pw-") + m_user;
    if (CurrentBackend() == Backend::SQLite) {
        qputenv(Oracle::ConnectionStringVariable, sqliteConnectionTemplate().toUtf8());
        m_file = QDir(env("QUORVANE_TEST_DIR")).filePath(m_user + QStringLiteral(".db"));
        QFile::remove(m_file);
        exec(QStringLiteral("PRAGMA user_version = 0")); // creates the file
        return;
    }
    if (CurrentBackend() == Backend::MariaDB) {
        qunsetenv(Oracle::ConnectionStringVariable);
        Session admin(adminConnectionString());
        admin.exec(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(m_user));
        admin.exec(QStringLiteral("CREATE USER %1@'127.0.0.1' IDENTIFIED BY '%2'")
                       .arg(m_user, m_password));
        admin.exec(QStringLiteral("GRANT ALL ON %1.* TO %1@'127.0.0.1'").arg(m_user));
        return;
    }
    qunsetenv(Oracle::ConnectionStringVariable);
    Session admin(adminConnectionString());
    admin.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(m_user, m_password));
    admin.exec(QStringLiteral("CREATE SCHEMA %1 AUTHORIZATION %1").arg(m_user));
}

Schema::~Schema()
{
    try {
        if (CurrentBackend() == Backend::SQLite) {
            QFile::remove(m_file);
            return;
        }
        Session admin(adminConnectionString());
        if (CurrentBackend() == Backend::MariaDB) {
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(m_user));
            admin.exec(QStringLiteral("DROP USER IF EXISTS %1@'127.0.0.1'").arg(m_user));
            return;
        }
        admin.exec(QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(m_user));
        admin.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(m_user));
    } catch (const std::exception& error) {
        qWarning("dropping test schema %s: %s", qPrintable(m_user), error.what());
    }
}

void Schema::setPassword(const QString& password)
{
    if (CurrentBackend() == Backend::MariaDB) {
        // ALTER USER takes no parameters: the server quotes the bound text.
        Session admin(adminConnectionString());
        const QString quoted =
            admin.rows(QStringLiteral("SELECT QUOTE(?)"), {password}).value(0).value(0).toString();
        admin.exec(
            QStringLiteral("ALTER USER %1@'127.0.0.1' IDENTIFIED BY %2").arg(m_user, quoted));
    }
    if (CurrentBackend() == Backend::PostgreSQL) {
        // ALTER ROLE takes no parameters: the server quotes the bound texts.
        Session admin(adminConnectionString());
        const QList<QVariantList> statement = admin.rows(
            QStringLiteral("SELECT format('ALTER ROLE %I PASSWORD %L', ?::text, ?::text)"),
            {m_user, password});
        admin.exec(statement.value(0).value(0).toString());
    }
    m_password = password;
}

Logon Schema::logon() const
{
    if (CurrentBackend() == Backend::SQLite)
        return {m_file, m_user, m_password};
    if (CurrentBackend() == Backend::MariaDB) // as a user chooses the driver and types the SID
        return {QStringLiteral("127.0.0.1:%1/%2").arg(env("QUORVANE_TEST_MARIADB_PORT"), m_user),
                m_user, m_password, env("QUORVANE_TEST_MARIADB_DRIVER")};
    return {postgresSid(), m_user, m_password};
}

Logon Schema::refusedLogon() const
{
    Logon refused = logon();
    if (CurrentBackend() == Backend::SQLite)
        refused.sid = QDir(env("QUORVANE_TEST_DIR")).filePath(QStringLiteral("missing/none.db"));
    else
        refused.password += QStringLiteral("-wrong");
    return refused;
}

QString Schema::connectionString() const
{
    return ownerConnectionString(logon());
}

OpenTransaction::OpenTransaction(const Schema& schema, const QString& statement)
{
    static int counter = 0;
    m_name = QStringLiteral("test-transaction-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
    db.setDatabaseName(schema.connectionString());
    QSqlQuery query(db);
    if (db.open() && CurrentBackend() == Backend::MariaDB)
        query.exec(QStringLiteral("SET SESSION sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES')"));
    if (!db.isOpen() || !db.transaction() || !query.exec(statement))
        throw failure(QStringLiteral("%1\n  failed: %2 %3")
                          .arg(statement, db.lastError().text(), query.lastError().text()));
}

OpenTransaction::~OpenTransaction()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.rollback();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

void Schema::exec(const QString& statement, const QVariantList& values)
{
    Session(ownerConnectionString(logon())).exec(statement, values);
}

QList<QVariantList> Schema::rows(const QString& query)
{
    return Session(ownerConnectionString(logon())).rows(query);
}

QVariantList Schema::column(const QString& query)
{
    QVariantList values;
    for (const QVariantList& row : rows(query))
        values << row.value(0);
    return values;
}

void TerminateSessions(const QString& user)
{
    if (CurrentBackend() == Backend::MariaDB) {
        Session admin(adminConnectionString());
        for (const QVariantList& row :
             admin.rows(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE "
                                       "USER = ?"),
                        {user}))
            admin.exec(QStringLiteral("KILL CONNECTION %1").arg(row.value(0).toLongLong()));
        return;
    }
    Session(adminConnectionString())
        .rows(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                             "WHERE usename = '%1'")
                  .arg(user));
}

void LimitSessions(const QString& user, int sessions)
{
    if (CurrentBackend() == Backend::MariaDB) {
        Session(adminConnectionString())
            .exec(QStringLiteral("ALTER USER %1@'127.0.0.1' WITH MAX_USER_CONNECTIONS %2")
                      .arg(user)
                      .arg(sessions));
        return;
    }
    Session(adminConnectionString())
        .exec(QStringLiteral("ALTER ROLE %1 CONNECTION LIMIT %2").arg(Quoted(user)).arg(sessions));
}

void StopServer()
{
    runPgCtl({QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
              QStringLiteral("stop")});
}

void StartServer()
{
    runPgCtl({QStringLiteral("-w"), QStringLiteral("-l"),
              env("QUORVANE_TEST_PG_DATA") + QStringLiteral("/server.log"), QStringLiteral("-o"),
              env("QUORVANE_TEST_PG_OPTIONS"), QStringLiteral("start")});
}

QString Quoted(const QString& name)
{
    // The fixture's own quoting, so that the program's is tested, not used.
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

} // namespace TestDatabases
