// The schema browser and the connection on real databases: the user's tables,
// a table's fields, a field's preview, the logon and the connection string.

#include "app/RuntimeError.h"
#include "db/Schema.h"
#include "tests/support/TestDatabases.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <chrono>
#include <optional>
#include <thread>

using namespace TestDatabases;

namespace
{

// A table (id, field) holding the values in this order.
void createTable(Schema& schema, const QString& table, const QString& field,
                 const QVariantList& values)
{
    schema.exec(QStringLiteral("CREATE TABLE %1 (id integer, %2 varchar(20))")
                    .arg(Quoted(table), Quoted(field)));
    QStringList rows;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        rows << QStringLiteral("(%1, %2)")
                    .arg(i + 1)
                    .arg(value.isNull() ? QStringLiteral("NULL")
                                        : u'\'' + value.toString() + u'\'');
    }
    if (!rows.isEmpty())
        schema.exec(QStringLiteral("INSERT INTO %1 VALUES %2").arg(Quoted(table), rows.join(u',')));
}

QVariantList numbered(int count)
{
    QVariantList values;
    for (int i = 1; i <= count; ++i)
        values << QStringLiteral("v%1").arg(i);
    return values;
}

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TEST_DATABASES(); }
    void listsOwnTablesOnly();
    void userWithoutTables();
    void fieldsInColumnOrder();
    void preview_data();
    void preview();
    void namesAsListed_data();
    void namesAsListed();
    void refusedLogonCarriesDriverMessage_data();
    void refusedLogonCarriesDriverMessage();
    void canConnect();
    void passwordThatNeedsBraces();
    void connectsThroughTheDriverChosen_data();
    void connectsThroughTheDriverChosen();
    void cancelEndsAWaitingStatement();
};

void TestSchema::listsOwnTablesOnly()
{
    Schema mine(QStringLiteral("mine"));
    Schema other(QStringLiteral("other"));
    mine.exec(QStringLiteral("CREATE TABLE %1 (%2 varchar(20))")
                  .arg(Quoted(QStringLiteral("Name's table")), Quoted(QStringLiteral("a b"))));
    mine.exec(QStringLiteral("CREATE TABLE second (x integer)"));
    mine.exec(QStringLiteral("CREATE VIEW seen AS SELECT x FROM second")); // no table
    QStringList expected{"Name's table", "second"};
    if (CurrentBackend() == Backend::PostgreSQL) { // the partitioned table, not its partitions
        mine.exec(QStringLiteral("CREATE TABLE parted (x integer) PARTITION BY RANGE (x)"));
        mine.exec(
            QStringLiteral("CREATE TABLE part1 PARTITION OF parted FOR VALUES FROM (0) TO (9)"));
        expected << "parted";
    }
    other.exec(QStringLiteral("CREATE TABLE elsewhere (x varchar(5))"));
    QStringList tables = Oracle::ListTables(mine.logon());
    tables.sort(); // the query asks for no order
    expected.sort();
    QCOMPARE(tables, expected);
    QCOMPARE(Oracle::ListTables(other.logon()), QStringList{"elsewhere"});
}

void TestSchema::userWithoutTables()
{
    Schema schema;
    int events = 0;
    QCOMPARE(Oracle::ListTables(schema.logon(), [&] { ++events; }), QStringList());
    QCOMPARE(events, 0);
}

void TestSchema::fieldsInColumnOrder()
{
    Schema schema;
    schema.exec(QStringLiteral("CREATE TABLE t (zeta integer, gone integer, alpha varchar(5), "
                               "\"Mid dle\" varchar(5), b date)"));
    schema.exec(QStringLiteral("ALTER TABLE t DROP COLUMN gone"));
    const QStringList fields{"zeta", "alpha", "Mid dle", "b"};
    int events = 0;
    QCOMPARE(Oracle::ListFields(schema.logon(), "t", [&] { ++events; }), fields);
    QCOMPARE(events, fields.size());
    schema.exec("INSERT INTO t VALUES (1, 'x', 'y', NULL)");
    QCOMPARE(Oracle::ListFields(schema.logon(), "t"), fields);
}

void TestSchema::preview_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QStringList>("expected");
    QStringList first101;
    for (const QVariant& value : numbered(101))
        first101 << value.toString();
    QTest::newRow("250 rows: the first 101") << numbered(250) << first101;
    QTest::newRow("101 rows: all") << numbered(101) << first101;
    QTest::newRow("100 rows: all") << numbered(100) << first101.mid(0, 100);
    QTest::newRow("Nulls as empty entries")
        << QVariantList{QVariant(), "a", QVariant()} << QStringList{"", "a", ""};
    QTest::newRow("120 Nulls: 101 empty entries")
        << QVariantList(120, QVariant()) << QStringList(101, QString());
    QTest::newRow("no rows") << QVariantList() << QStringList();
}

void TestSchema::preview()
{
    QFETCH(QVariantList, values);
    QFETCH(QStringList, expected);
    Schema schema;
    createTable(schema, "t", "v", values);
    int events = 0;
    QCOMPARE(Oracle::Preview(schema.logon(), "t", "v", [&] { ++events; }), expected);
    QCOMPARE(events, expected.size() + 1); // once before the entries, then once per entry
}

void TestSchema::namesAsListed_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::newRow("lower case") << "items"
                                << "name";
    QTest::newRow("capitals and spaces") << "My Items"
                                         << "First Name";
    QTest::newRow("apostrophes") << "O'Brien's"
                                 << "it's";
    QTest::newRow("double quotes") << "say \"hi\""
                                   << "a\"b";
}

void TestSchema::namesAsListed()
{
    QFETCH(QString, table);
    QFETCH(QString, field);
    Schema schema;
    createTable(schema, table, field, {"x y", QVariant()});
    QCOMPARE(Oracle::ListTables(schema.logon()), QStringList{table});
    QCOMPARE(Oracle::ListFields(schema.logon(), table), (QStringList{"id", field}));
    QCOMPARE(Oracle::Preview(schema.logon(), table, field), (QStringList{"x y", ""}));
}

void TestSchema::refusedLogonCarriesDriverMessage_data()
{
    QTest::addColumn<int>("fill");
    QTest::newRow("table list") << 0;
    QTest::newRow("field list") << 1;
    QTest::newRow("preview") << 2;
}

void TestSchema::refusedLogonCarriesDriverMessage()
{
    QFETCH(int, fill);
    Schema schema;
    createTable(schema, "t", "v", {"a"});
    const Logon refused = schema.refusedLogon();
    std::optional<RuntimeError> error;
    try {
        if (fill == 0)
            Oracle::ListTables(refused);
        else if (fill == 1)
            Oracle::ListFields(refused, "t");
        else
            Oracle::Preview(refused, "t", "v");
    } catch (const RuntimeError& thrown) {
        error = thrown;
    }
    QVERIFY(error.has_value());
    QCOMPARE(error->number(), int(RuntimeError::DriverError));
    QVERIFY(!error->description().trimmed().isEmpty());
    if (CurrentBackend() == Backend::PostgreSQL)
        QVERIFY2(error->description().contains("password authentication failed"),
                 qPrintable(error->description()));
}

void TestSchema::canConnect()
{
    Schema schema;
    QVERIFY(Oracle::CanConnect(schema.logon()));
    QVERIFY(!Oracle::CanConnect(schema.refusedLogon()));
}

// A password with a semicolon, braces, an equals sign and blanks at both ends
// logs on: it reaches the server whole, and a wrong one is still refused.
void TestSchema::passwordThatNeedsBraces()
{
    Schema schema("braced");
    createTable(schema, "t", "v", {"a"});
    // Connector/ODBC drops the blanks at the ends of a braced value.
    const QString password =
        CurrentBackend() == Backend::MariaDB ? "p;w}d {x}}=y" : " p;w}d {x}}=y ";
    schema.setPassword(password);
    Logon logon = schema.logon();
    QCOMPARE(logon.password, password);
    QVERIFY(Oracle::CanConnect(logon));
    QCOMPARE(Oracle::Preview(logon, "t", "v"), QStringList{"a"});
    if (CurrentBackend() == Backend::PostgreSQL) {
        for (const QString& wrong : {QString(" p"), password.trimmed()}) {
            logon.password = wrong;
            QVERIFY2(!Oracle::CanConnect(logon), qPrintable(wrong));
        }
    }
}

// A logon as a user makes it with a driver or data source chosen (no
// template): psqlODBC under its own name with the SID host:port/database,
// SQLite's driver with the file's path, and each through a data source.
void TestSchema::connectsThroughTheDriverChosen_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("sidGiven"); // else the data source's own server and database
    if (CurrentBackend() == Backend::SQLite) {
        QTest::newRow("driver by its own name")
            << qEnvironmentVariable("QUORVANE_TEST_SQLITE_DRIVER") << true;
        QTest::newRow("data source, the file's path as the SID") << "Quorvane Test SQLite" << true;
    } else if (CurrentBackend() == Backend::PostgreSQL) {
        QTest::newRow("driver by its own name") << "PostgreSQL Unicode" << true;
        QTest::newRow("data source, no SID") << "Quorvane Test PostgreSQL" << false;
    } else {
        QSKIP("MariaDB's logons choose their driver in every test");
    }
}

void TestSchema::connectsThroughTheDriverChosen()
{
    QFETCH(QString, driver);
    QFETCH(bool, sidGiven);
    Schema schema("driver");
    createTable(schema, "t", "v", {"a"});
    const QByteArray pattern = qgetenv(Oracle::ConnectionStringVariable);
    qunsetenv(Oracle::ConnectionStringVariable);
    const auto restore = qScopeGuard([&] {
        if (!pattern.isEmpty())
            qputenv(Oracle::ConnectionStringVariable, pattern);
    });
    Logon logon = schema.logon();
    logon.driver = driver;
    if (CurrentBackend() == Backend::PostgreSQL)
        logon.sid = sidGiven ? QStringLiteral("127.0.0.1:%1/postgres")
                                   .arg(qEnvironmentVariable("QUORVANE_TEST_PG_PORT"))
                             : QString();
    QCOMPARE(Oracle::ListTables(logon), QStringList{"t"});
    QCOMPARE(Oracle::Preview(logon, "t", "v"), QStringList{"a"});
}

// A statement waiting for another session's row lock, with no lock wait
// limit, ends when it is cancelled from another thread, as a wait that ran out.
void TestSchema::cancelEndsAWaitingStatement()
{
    if (CurrentBackend() == Backend::SQLite)
        QSKIP("SQLite locks the whole file, not a row");
    Schema schema("cancel");
    schema.exec("CREATE TABLE t (id integer, v varchar(10))");
    schema.exec("INSERT INTO t VALUES (1, 'a')");
    const OpenTransaction holder(schema, "UPDATE t SET v = 'b' WHERE id = 1");
    int number = 0;
    QElapsedTimer timer;
    timer.start();
    {
        Oracle::Connection connection;
        connection.open(schema.logon());
        QSqlQuery update = connection.prepare("UPDATE t SET v = ? WHERE id = ?");
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            connection.cancel();
        });
        try {
            connection.run(update, {"c", 1});
        } catch (const RuntimeError& error) {
            number = error.number();
        }
        canceller.join();
    }
    QCOMPARE(number, int(RuntimeError::LockTimeout));
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
