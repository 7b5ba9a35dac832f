// The connection string built from a logon, with no database: the program's
// own string and a template from the environment, and which values go
// between braces.

#include "db/ConnectFailure.h"
#include "db/Oracle.h"

#include <QTest>

namespace
{

// Sets or unsets the connection string template; puts back what was there.
class TemplateVariable
{
public:
    explicit TemplateVariable(const QString& value)
        : m_wasSet(qEnvironmentVariableIsSet(Oracle::ConnectionStringVariable)),
          m_saved(qgetenv(Oracle::ConnectionStringVariable))
    {
        if (value.isNull())
            qunsetenv(Oracle::ConnectionStringVariable);
        else
            qputenv(Oracle::ConnectionStringVariable, value.toUtf8());
    }
    ~TemplateVariable()
    {
        if (m_wasSet)
            qputenv(Oracle::ConnectionStringVariable, m_saved);
        else
            qunsetenv(Oracle::ConnectionStringVariable);
    }

private:
    bool m_wasSet;
    QByteArray m_saved;
};

} // namespace

class TestConnectionString : public QObject
{
    Q_OBJECT

private slots:
    void connectionString_data();
    void connectionString();
    void connectFailureCause_data();
    void connectFailureCause();
};

void TestConnectionString::connectionString_data()
{
    QTest::addColumn<QString>("pattern"); // null: no template
    QTest::addColumn<QStringList>("logon");
    QTest::addColumn<QString>("expected");
    const QString fixed = "Driver={Microsoft ODBC for Oracle};Server=%1;Uid=%2;Pwd=%3;";
    QTest::newRow("all three empty") << QString() << QStringList{"", "", ""}
                                     << "Driver={Microsoft ODBC for Oracle};Server=;Uid=;Pwd=;";
    QTest::newRow("plain texts and inner blanks kept as they stand")
        << QString() << QStringList{"orcl", "scott", "ti ger!%\"'"}
        << fixed.arg("orcl", "scott", "ti ger!%\"'");
    QTest::newRow("leading and trailing blanks braced")
        << QString() << QStringList{"orcl", " scott", "tiger "}
        << fixed.arg("orcl", "{ scott}", "{tiger }");
    QTest::newRow("semicolon in the password braced")
        << QString() << QStringList{"db", "u", "a;Database=other"}
        << fixed.arg("db", "u", "{a;Database=other}");
    QTest::newRow("closing brace doubled")
        << QString() << QStringList{"db", "u", "a}b"} << fixed.arg("db", "u", "{a}}b}");
    QTest::newRow("opening brace braced")
        << QString() << QStringList{"db", "u", "{a"} << fixed.arg("db", "u", "{{a}");
    QTest::newRow("equals sign braced")
        << QString() << QStringList{"db", "u=v", "a=b"} << fixed.arg("db", "{u=v}", "{a=b}");
    QTest::newRow("whole password of braces")
        << QString() << QStringList{"db", "u", "{}}"} << fixed.arg("db", "u", "{{}}}}}");
    QTest::newRow("SID keeps its attributes and blanks")
        << QString() << QStringList{" host;Port=5432;Database=db ", "u", "p"}
        << fixed.arg(" host;Port=5432;Database=db ", "u", "p");
    QTest::newRow("template") << "Driver={X};DBQ=%SID%;Uid=%USER%;Pwd=%PASSWORD%;"
                              << QStringList{"h:1/s", "u", "p w"}
                              << "Driver={X};DBQ=h:1/s;Uid=u;Pwd=p w;";
    QTest::newRow("template braces user and password alike")
        << "Driver={X};DBQ=%SID%;Uid=%USER%;Pwd=%PASSWORD%;"
        << QStringList{"h;Port=1", "u;x", " p}w; "}
        << "Driver={X};DBQ=h;Port=1;Uid={u;x};Pwd={ p}}w; };";
    QTest::newRow("template SID is a file path as it stands")
        << "Driver={SQLite3};Database=%SID%;NoCreat=1;" << QStringList{"/tmp/a b=c;d.db", "", ""}
        << "Driver={SQLite3};Database=/tmp/a b=c;d.db;NoCreat=1;";
    QTest::newRow("template placeholder twice")
        << "%USER%/%USER%" << QStringList{"s", "u", "p"} << "u/u";
    QTest::newRow("placeholders in the logon stay as typed")
        << "%SID%|%USER%|%PASSWORD%" << QStringList{"%USER%", "%PASSWORD%", "%SID%"}
        << "%USER%|%PASSWORD%|%SID%";
    QTest::newRow("other percent texts kept")
        << "%HOST%;100%;%SID%" << QStringList{"s", "u", "p"} << "%HOST%;100%;s";
}

void TestConnectionString::connectionString()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, logon);
    QFETCH(QString, expected);
    const TemplateVariable variable(pattern);
    QCOMPARE(Oracle::BuildConnectionString({logon[0], logon[1], logon[2]}), expected);
}

QTEST_GUILESS_MAIN(TestConnectionString)
// Why a connection failed, told apart from the words of each driver.
void TestConnectionString::connectFailureCause_data()
{
    using F = Oracle::ConnectFailure;
    QTest::addColumn<QString>("message");
    QTest::addColumn<F>("failure");
    QTest::newRow("unixODBC: no such driver (IM002)")
        << "[unixODBC][Driver Manager]Data source name not found and no default driver specified"
        << F::DriverMissing;
    QTest::newRow("unixODBC: the driver's library is missing")
        << "[unixODBC][Driver Manager]Can't open lib 'Microsoft ODBC for Oracle' : file not found"
        << F::DriverMissing;
    QTest::newRow("PostgreSQL: wrong password")
        << "connection to server at \"h\", port 5432 failed: FATAL:  password authentication "
           "failed for user \"u\""
        << F::WrongLogon;
    QTest::newRow("PostgreSQL: no such user")
        << "FATAL:  role \"nobody\" does not exist" << F::WrongLogon;
    QTest::newRow("MariaDB: wrong password")
        << "[ma-3.1.15]Access denied for user 'u'@'localhost' (using password: YES)"
        << F::WrongLogon;
    QTest::newRow("Oracle: wrong password")
        << "ORA-01017: invalid username/password; logon denied" << F::WrongLogon;
    QTest::newRow("PostgreSQL: no such database")
        << "FATAL:  database \"shop\" does not exist" << F::UnknownDatabase;
    QTest::newRow("MariaDB: no such database")
        << "[ma-3.1.15]Unknown database 'shop'" << F::UnknownDatabase;
    QTest::newRow("PostgreSQL: nothing listens")
        << "connection to server at \"h\", port 1 failed: Connection refused" << F::Unreachable;
    QTest::newRow("SQLite: the file cannot be opened")
        << "[SQLite]connect failed" << F::Unreachable;
    QTest::newRow("anything else") << "out of memory" << F::Unknown;
}

void TestConnectionString::connectFailureCause()
{
    QFETCH(QString, message);
    QFETCH(Oracle::ConnectFailure, failure);
    QCOMPARE(Oracle::ClassifyConnectFailure(message), failure);
    QCOMPARE(Oracle::ConnectFailureCause(message).isEmpty(),
             failure == Oracle::ConnectFailure::Unknown);
}

#include "tst_connectionstring.moc"
