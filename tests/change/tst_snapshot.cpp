// The snapshot of a change run on real databases: the rows as they were
// when it began, whatever another session commits while they are read, and
// a read that writes nothing.

#include "app/RuntimeError.h"
#include "change/Snapshot.h"
#include "tests/support/TestDatabases.h"

#include <QTest>
#include <algorithm>
#include <memory>

using namespace TestDatabases;

class TestSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TEST_DATABASES(); }
    void seesOneMoment_data();
    void seesOneMoment();
    void readsOnly();
};

void TestSnapshot::seesOneMoment_data()
{
    QTest::addColumn<QStringList>("narrowTo"); // none: the whole table
    QTest::addColumn<int>("rows");
    QTest::newRow("the whole table") << QStringList() << 4;
    QTest::newRow("the whole table, read a range of pages at a time") << QStringList() << 6000;
    QTest::newRow("narrowed after the commit") << QStringList{"x"} << 4;
}

// Another session changes, deletes and adds rows after the snapshot opened;
// the count and the rows read are those of the moment it opened.
void TestSnapshot::seesOneMoment()
{
    QFETCH(QStringList, narrowTo);
    QFETCH(int, rows);
    Schema schema;
    schema.exec("CREATE TABLE t (id integer PRIMARY KEY, v varchar(20))");
    const QString separatorsAndClef = QString::fromUtf8("d:;\xF0\x9D\x84\x9E");
    schema.exec("INSERT INTO t VALUES (1, 'a x'), (2, 'b x'), (3, 'c x'), (4, ?)",
                {separatorsAndClef});
    QStringList expected{"a x", "b x", "c x", separatorsAndClef};
    for (int id = 5; id <= rows; id += 1000) {
        QStringList values;
        for (int i = id; i < qMin(id + 1000, rows + 1); ++i) {
            values << QStringLiteral("(%1, 'r%1')").arg(i);
            expected << QStringLiteral("r%1").arg(i);
        }
        schema.exec("INSERT INTO t VALUES " + values.join(u','));
    }
    const auto connection =
        Oracle::OpenConnection(schema.logon(), Oracle::ConnectionProperty::ClientCursor);
    Snapshot snapshot(*connection, "t", "v");
    QCOMPARE(snapshot.count(), rows);

    schema.exec("UPDATE t SET v = 'changed x' WHERE id = 1");
    schema.exec("DELETE FROM t WHERE id = 2");
    schema.exec(QStringLiteral("INSERT INTO t VALUES (%1, 'e x')").arg(rows + 1));
    if (!narrowTo.isEmpty()) {
        const std::optional<int> narrowed = snapshot.narrow(narrowTo);
        if (narrowed) { // where the database narrows the read
            QCOMPARE(*narrowed, 3);
            expected.removeAll(separatorsAndClef);
        }
    }

    QStringList values;
    Snapshot::Row row;
    while (snapshot.next(row))
        values << row.value;
    std::sort(values.begin(), values.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(values, expected);
}

// A write over the reading connection is refused while the read is open.
void TestSnapshot::readsOnly()
{
    if (CurrentBackend() != Backend::PostgreSQL)
        QSKIP("SQLite's rows are read whole first, with no transaction");
    Schema schema;
    schema.exec("CREATE TABLE t (id integer PRIMARY KEY, v varchar(20))");
    schema.exec("INSERT INTO t VALUES (1, 'a')");
    const auto connection =
        Oracle::OpenConnection(schema.logon(), Oracle::ConnectionProperty::ClientCursor);
    Snapshot snapshot(*connection, "t", "v");
    QVERIFY_THROWS_EXCEPTION(RuntimeError,
                             connection->execute("UPDATE t SET v = 'written' WHERE id = 1"));
    snapshot.close();
    QCOMPARE(schema.column("SELECT v FROM t"), QVariantList{"a"});
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
