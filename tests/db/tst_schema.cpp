#include "db/Schema.h"
#include "tests/support/TestDatabases.h"

#include <QTest>

using namespace TestDatabases;

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RequireEnvironment(); }
    void listsOwnTablesOnly();
};

void TestSchema::listsOwnTablesOnly()
{
    Schema mine(QStringLiteral("mine"));
    Schema other(QStringLiteral("other"));
    mine.exec(QStringLiteral("CREATE TABLE %1 (%2 varchar(20))")
                  .arg(Quoted(QStringLiteral("Name's table")), Quoted(QStringLiteral("a b"))));
    other.exec(QStringLiteral("CREATE TABLE elsewhere (x varchar(5))"));
    QCOMPARE(Oracle::ListTables(mine.logon()), QStringList{QStringLiteral("Name's table")});
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
