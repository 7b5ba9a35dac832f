// The snapshot of a change run on real databases: the rows as they were
// when it began, whatever another session commits while they are read, and
// a read that writes nothing; where a reader would hold the writers out,
// each row read once, a block at a time in key order.

#include "app/RuntimeError.h"
#include "change/Snapshot.h"
#include "db/Dialect.h"
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
    void readsEachRowOnce_data();
    void readsEachRowOnce();
};

namespace
{

// True where the database lets the read see one moment while others write.
bool readsOneMoment(Oracle::Connection& connection)
{
    return connection.dialect().has(Db::Dialect::Capability::ReadsWhileWriting);
}

} // namespace

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
    if (!readsOneMoment(*connection))
        QSKIP("read a block at a time, each as it is then: readsEachRowOnce");
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
        QSKIP("SQLite's rows are read with no transaction");
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

void TestSnapshot::readsEachRowOnce_data()
{
    QTest::addColumn<QStringList>("create"); // the table t and its rows
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("between");  // run by another session after the first block
    QTest::addColumn<QStringList>("narrowTo"); // none: every row
    QTest::addColumn<QStringList>("read");     // the values read, in order
    const QString integerKey = QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, v text)");
    const QString sevenRows =
        QStringLiteral("INSERT INTO t VALUES (1, 'r1'), (2, 'r2'), (3, 'r3'), "
                       "(4, 'r4'), (5, 'r5'), (6, 'r6'), (7, 'r7')");
    QTest::newRow("two blocks and one row")
        << QStringList{integerKey, sevenRows} << "v" << QStringList() << QStringList()
        << QStringList{"r1", "r2", "r3", "r4", "r5", "r6", "r7"};
    QTest::newRow("two whole blocks, the last one ending the table")
        << QStringList{integerKey, sevenRows, "DELETE FROM t WHERE id = 7"} << "v" << QStringList()
        << QStringList() << QStringList{"r1", "r2", "r3", "r4", "r5", "r6"};
    QTest::newRow("rows deleted, changed and added between blocks")
        << QStringList{integerKey, sevenRows} << "v"
        << QStringList{"DELETE FROM t WHERE id IN (3, 4)",
                       "UPDATE t SET v = 'r5 changed' WHERE id = 5",
                       "INSERT INTO t VALUES (0, 'before the read'), (4, 'r4 again'), "
                       "(8, 'after the last row counted')"}
        << QStringList() << QStringList{"r1", "r2", "r3", "r4 again", "r5 changed", "r6", "r7"};
    QTest::newRow("row ids with no primary key, read with their digests")
        << QStringList{"CREATE TABLE t (id integer, v text)", sevenRows} << "v"
        << QStringList{"DELETE FROM t WHERE id = 4"} << QStringList()
        << QStringList{"r1", "r2", "r3", "r5", "r6", "r7"};
    QTest::newRow("WITHOUT ROWID, two key columns, a block ending inside the first's value")
        << QStringList{"CREATE TABLE t (a integer, b text, v text, PRIMARY KEY (a, b)) WITHOUT "
                       "ROWID",
                       "INSERT INTO t VALUES (1, 'x', '1x'), (1, 'y', '1y'), (2, 'x', '2x'), "
                       "(2, 'y', '2y'), (2, 'z', '2z'), (3, 'a', '3a'), (3, 'b', '3b')"}
        << "v"
        << QStringList{"INSERT INTO t VALUES (2, 'w', 'before'), (1, 'z', 'before too'), "
                       "(2, 'xx', '2xx')"}
        << QStringList() << QStringList{"1x", "1y", "2x", "2xx", "2y", "2z", "3a", "3b"};
    QTest::newRow("narrowed: only the rows holding the text, across blocks")
        << QStringList{integerKey, "INSERT INTO t VALUES (1, 'a x'), (2, 'b'), (3, 'c x'), "
                                   "(4, 'd'), (5, 'e x'), (6, 'f x'), (7, 'g'), (8, 'h x')"}
        << "v" << QStringList{"INSERT INTO t VALUES (9, 'after x')"} << QStringList{"x"}
        << QStringList{"a x", "c x", "e x", "f x", "h x"};
    // Where a block read would go wrong, the rows are read whole first, as
    // they were: a text bound for an untyped column's integer compares as
    // no number; a write of the row id would move the row on.
    QTest::newRow("untyped key columns: read whole")
        << QStringList{"CREATE TABLE t (a, b, v text, PRIMARY KEY (a, b)) WITHOUT ROWID",
                       "INSERT INTO t VALUES (1, 1, 'r1'), (1, 2, 'r2'), (1, 3, 'r3'), (2, 1, "
                       "'r4')"}
        << "v" << QStringList{"DELETE FROM t"} << QStringList()
        << QStringList{"r1", "r2", "r3", "r4"};
    QTest::newRow("the field is the row id: read whole")
        << QStringList{integerKey, sevenRows} << "id" << QStringList{"DELETE FROM t"}
        << QStringList() << QStringList{"1", "2", "3", "4", "5", "6", "7"};
}

// Blocks of three rows: a row at a block's end is neither read again nor
// passed over, whatever another session deletes, changes or adds between
// blocks; each row is read as it is when its block is read, up to the last
// row at the count.
void TestSnapshot::readsEachRowOnce()
{
    QFETCH(QStringList, create);
    QFETCH(QString, field);
    QFETCH(QStringList, between);
    QFETCH(QStringList, narrowTo);
    QFETCH(QStringList, read);
    Schema schema;
    const auto connection =
        Oracle::OpenConnection(schema.logon(), Oracle::ConnectionProperty::ClientCursor);
    if (readsOneMoment(*connection))
        QSKIP("read through a cursor at one moment: seesOneMoment");
    for (const QString& statement : create)
        schema.exec(statement);
    constexpr int BlockRows = 3;
    Snapshot snapshot(*connection, "t", field, BlockRows);
    if (!narrowTo.isEmpty())
        QCOMPARE(snapshot.narrow(narrowTo), std::optional<int>(int(read.size())));
    QStringList values;
    Snapshot::Row row;
    while (snapshot.next(row)) {
        values << row.value;
        if (values.size() == BlockRows)
            for (const QString& statement : between)
                schema.exec(statement);
    }
    QCOMPARE(values, read);
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
