// The connection string built from a logon, with no database: the program's
// own string, each driver family's, and a template from the environment,
// and which values go between braces.

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
    void driverConnectionString_data();
    void driverConnectionString();
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
    QTest::newRow("template names the driver, the default where none is chosen")
        << "Driver={%DRIVER%};Database=%SID%;" << QStringList{"/x.db", "", "", ""}
        << "Driver={Microsoft ODBC for Oracle};Database=/x.db;";
    QTest::newRow("template wins over the driver's own string")
        << "Driver={%DRIVER%};Database=%SID%;" << QStringList{"/x.db", "", "", "SQLite3"}
        << "Driver={SQLite3};Database=/x.db;";
}

void TestConnectionString::connectionString()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, logon);
    QFETCH(QString, expected);
    const TemplateVariable variable(pattern);
    QCOMPARE(Oracle::BuildConnectionString({logon[0], logon[1], logon[2], logon.value(3)}),
             expected);
}

// Drivers and data sources as the driver manager lists them.
QList<Oracle::OdbcEntry> installed()
{
    using K = Oracle::OdbcEntry::Kind;
    const QString lib = QStringLiteral("Driver=/usr/lib/x86_64-linux-gnu/odbc/");
    return {
        {K::Driver, "Microsoft ODBC for Oracle", lib + "psqlodbcw.so"},
        {K::Driver, "PostgreSQL Unicode", lib + "psqlodbcw.so;Setup=libodbcpsqlS.so"},
        {K::Driver, "MariaDB Unicode", lib + "libmaodbc.so"},
        {K::Driver, "Warehouse", "Description=shop floor;" + lib + "libmaodbc.so"},
        {K::Driver, "SQLite3", lib + "libsqlite3odbc.so"},
        {K::Driver, "Oracle 21 ODBC driver",
         "Driver=/opt/oracle/instantclient_21_13/libsqora.so.21.1"},
        {K::Driver, "FreeTDS", lib + "libtdsodbc.so"},
        {K::DataSource, "shop", "PostgreSQL Unicode"},
        {K::DataSource, "stock", "Warehouse"},
        {K::DataSource, "files", "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"},
    };
}

// Each family's string from a logon as typed, the SID in its form or not.
void TestConnectionString::driverConnectionString_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("sid");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no driver: the default's string, the SID as it stands")
        << QString() << "127.0.0.1;Port=5432;Database=postgres"
        << "p"
        << "Driver={Microsoft ODBC for Oracle};Server=127.0.0.1;Port=5432;Database=postgres;"
           "Uid=u;Pwd=p;";
    QTest::newRow("the default named: its string alike")
        << "Microsoft ODBC for Oracle"
        << "db:1/x"
        << "p"
        << "Driver={Microsoft ODBC for Oracle};Server=db:1/x;Uid=u;Pwd=p;";
    QTest::newRow("PostgreSQL: host:port/database")
        << "PostgreSQL Unicode"
        << "db.example.com:5433/shop"
        << "p"
        << "Driver={PostgreSQL Unicode};Server=db.example.com;Port=5433;Database=shop;Uid=u;Pwd=p;";
    QTest::newRow("PostgreSQL: host/database, the driver's port")
        << "PostgreSQL Unicode"
        << "localhost/my shop"
        << "p"
        << "Driver={PostgreSQL Unicode};Server=localhost;Database=my shop;Uid=u;Pwd=p;";
    QTest::newRow("PostgreSQL: a SID not in the form goes in Server= as it stands")
        << "PostgreSQL Unicode"
        << "h;Port=1;Database=d;UseDeclareFetch=1"
        << "p"
        << "Driver={PostgreSQL Unicode};Server=h;Port=1;Database=d;UseDeclareFetch=1;Uid=u;Pwd=p;";
    QTest::newRow("MariaDB: utf8mb4, found rows, no ';' at the end")
        << "MariaDB Unicode"
        << "db:3306/shop"
        << "p"
        << "Driver={MariaDB Unicode};Server=db;Port=3306;Database=shop;Uid=u;Pwd=p;"
           "CHARSET=utf8mb4;OPTION=2";
    QTest::newRow("MariaDB told by its library; braces in the password")
        << "Warehouse"
        << "db/shop"
        << "a}b;c"
        << "Driver={Warehouse};Server=db;Database=shop;Uid=u;Pwd={a}}b;c};CHARSET=utf8mb4;OPTION=2";
    QTest::newRow("SQLite: the file's path as it stands, never made")
        << "SQLite3"
        << "/tmp/a b=c.db"
        << "p"
        << "Driver={SQLite3};Database=/tmp/a b=c.db;NoCreat=1;";
    QTest::newRow("Oracle's own driver: DBQ=")
        << "Oracle 21 ODBC driver"
        << "db:1521/orcl"
        << "p"
        << "Driver={Oracle 21 ODBC driver};DBQ=db:1521/orcl;Uid=u;Pwd=p;";
    QTest::newRow("a driver of no known family: Server=")
        << "FreeTDS"
        << "db:1433/shop"
        << "p"
        << "Driver={FreeTDS};Server=db:1433/shop;Uid=u;Pwd=p;";
    QTest::newRow("a driver not installed: its family from its name")
        << "PostgreSQL ANSI"
        << "db/shop"
        << "p"
        << "Driver={PostgreSQL ANSI};Server=db;Database=shop;Uid=u;Pwd=p;";
    QTest::newRow("data source with a SID")
        << "shop"
        << "db:5432/shop"
        << "p"
        << "DSN=shop;Uid=u;Pwd=p;Server=db;Port=5432;Database=shop;";
    QTest::newRow("data source without a SID") << "shop"
                                               << ""
                                               << "p"
                                               << "DSN=shop;Uid=u;Pwd=p;";
    QTest::newRow("data source of MariaDB: no ';' at the end")
        << "stock"
        << ""
        << "p"
        << "DSN=stock;Uid=u;Pwd=p;CHARSET=utf8mb4;OPTION=2";
    QTest::newRow("data source of a driver named by its library: SQLite")
        << "files"
        << "/x.db"
        << "p"
        << "DSN=files;Uid=u;Pwd=p;Database=/x.db;NoCreat=1;";
}

void TestConnectionString::driverConnectionString()
{
    QFETCH(QString, driver);
    QFETCH(QString, sid);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    const TemplateVariable noTemplate{QString()};
    QCOMPARE(Oracle::BuildConnectionString({sid, "u", password, driver}, installed()), expected);
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
