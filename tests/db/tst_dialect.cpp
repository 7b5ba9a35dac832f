// The statement texts of each database and the choices a dialect makes, with
// no database: Oracle's SQL can only be checked here, no Oracle server being
// at hand; PostgreSQL's and SQLite's also run in the database suites.

#include "app/RuntimeError.h"
#include "db/Dialect.h"
#include "db/PackedRows.h"

#include <QTest>

using Db::Dialect;

namespace
{

std::unique_ptr<Dialect> dialect(const QString& name)
{
    return Dialect::For(QSqlDriver::UnknownDbms, name);
}

} // namespace

class TestDialect : public QObject
{
    Q_OBJECT

private slots:
    void chosenFromTheDriver_data();
    void chosenFromTheDriver();
    void statements_data();
    void statements();
    void rowKey_data();
    void rowKey();
    void sqliteRowsThatCannotBeToldApart();
    void batchWrite_data();
    void batchWrite();
    void batchValues_data();
    void batchValues();
    void connectionLost_data();
    void connectionLost();
    void lockWait_data();
    void lockWait();
    void rowLock();
    void fieldNamesReadNoRow();
    void updateTriggers();
    void mariaDbBatchByVersion_data();
    void mariaDbBatchByVersion();
    void narrowedSnapshot_data();
    void narrowedSnapshot();
    void packedRows_data();
    void packedRows();
};

void TestDialect::chosenFromTheDriver_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("dbmsName");
    QTest::addColumn<QString>("dialect");
    QTest::newRow("Qt knows PostgreSQL") << int(QSqlDriver::PostgreSQL) << ""
                                         << "PostgreSQL";
    QTest::newRow("Qt knows Oracle") << int(QSqlDriver::Oracle) << "Oracle"
                                     << "Oracle";
    QTest::newRow("SQLite by the driver's name") << int(QSqlDriver::UnknownDbms) << "SQLite"
                                                 << "SQLite";
    QTest::newRow("MariaDB by the driver's name") << int(QSqlDriver::UnknownDbms) << "MariaDB"
                                                  << "MariaDB";
    QTest::newRow("MySQL by the driver's name") << int(QSqlDriver::UnknownDbms) << "MySQL"
                                                << "MariaDB";
    QTest::newRow("anything else is Oracle") << int(QSqlDriver::UnknownDbms) << ""
                                             << "Oracle";
}

void TestDialect::chosenFromTheDriver()
{
    QFETCH(int, type);
    QFETCH(QString, dbmsName);
    QFETCH(QString, dialect);
    QCOMPARE(Dialect::For(QSqlDriver::DbmsType(type), dbmsName)->name(), dialect);
}

void TestDialect::statements_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("names"); // table, field
    QTest::addColumn<QStringList>("texts"); // snapshot, row write
    QTest::newRow("Oracle: ROWID as text, found again by CHARTOROWID, read with a digest")
        << "Oracle" << QStringList{"t", "f"}
        << QStringList{
               R"(SELECT "f", ROWIDTOCHAR(ROWID), RAWTOHEX(STANDARD_HASH(ORA_HASH("g") || ',' || ORA_HASH("h"), 'MD5')) FROM "t")",
               R"(UPDATE "t" SET "f" = ? WHERE ROWID = CHARTOROWID(?) AND "f" = ?)"};
    QTest::newRow("Oracle: double quotes doubled, apostrophes and blanks kept")
        << "Oracle" << QStringList{"say \"hi\" O'Brien", "a\"b c"}
        << QStringList{
               R"(SELECT "a""b c", ROWIDTOCHAR(ROWID), RAWTOHEX(STANDARD_HASH(ORA_HASH("g") || ',' || ORA_HASH("h"), 'MD5')) FROM "say ""hi"" O'Brien")",
               R"(UPDATE "say ""hi"" O'Brien" SET "a""b c" = ? WHERE ROWID = CHARTOROWID(?) AND "a""b c" = ?)"};
    QTest::newRow("PostgreSQL without a primary key: read with a digest, the moved ctid returned")
        << "PostgreSQL" << QStringList{"t", "f"}
        << QStringList{
               R"(SELECT "f", CAST(tableoid AS text), CAST(ctid AS text), CAST(hashtextextended(CAST(ROW("g", "h") AS text), 0) AS text) FROM "t")",
               R"(UPDATE "t" SET "f" = ? WHERE tableoid = CAST(? AS oid) AND ctid = CAST(? AS tid) AND "f" = ? RETURNING CAST(tableoid AS text), CAST(ctid AS text))"};
}

void TestDialect::statements()
{
    QFETCH(QString, dialect);
    QFETCH(QStringList, names);
    QFETCH(QStringList, texts);
    const auto d = ::dialect(dialect);
    Db::RowKey key = d->rowKey({});
    key.others = QStringList{R"("g")", R"("h")"};
    QCOMPARE(d->snapshotQuery(names[0], names[1], key), texts[0]);
    QCOMPARE(d->rowWrite(names[0], names[1], key), texts[1]);
    if (dialect == u"Oracle") // the others read their own catalogues (tst_schema)
        QCOMPARE(d->tableQuery(), QStringLiteral("select table_name from user_tables"));
    QCOMPARE(d->columnQuery(names[0], names[1]),
             texts[0].left(texts[0].indexOf(u',')) + texts[0].mid(texts[0].indexOf(" FROM ")));
    QCOMPARE(d->fullQuery(names[0]), "SELECT *" + texts[0].mid(texts[0].indexOf(" FROM ")));
}

void TestDialect::rowKey_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QList<QVariantList>>("keyRows");
    QTest::addColumn<QStringList>("conditions");
    QTest::addColumn<bool>("addressed"); // a digest goes with the key
    QTest::newRow("PostgreSQL primary key, in key order")
        << "PostgreSQL" << QList<QVariantList>{{"b"}, {"a\"x"}}
        << QStringList{R"("b" = ?)", R"("a""x" = ?)"} << false;
    QTest::newRow("SQLite: _rowid_ when no column hides it")
        << "SQLite" << QList<QVariantList>{{"id", 1, 0}, {"v", 0, 0}} << QStringList{"_rowid_ = ?"}
        << true;
    QTest::newRow("SQLite: an INTEGER PRIMARY KEY is the row id, which VACUUM keeps")
        << "SQLite" << QList<QVariantList>{{"id", 1, 0, "integer"}, {"v", 0, 0, "TEXT"}}
        << QStringList{"_rowid_ = ?"} << false;
    QTest::newRow("SQLite: a column named _rowid_ (any case) leaves rowid")
        << "SQLite" << QList<QVariantList>{{"_ROWID_", 0, 0}, {"v", 0, 0}}
        << QStringList{"rowid = ?"} << true;
    QTest::newRow("SQLite: columns _rowid_ and rowid leave oid")
        << "SQLite" << QList<QVariantList>{{"_rowid_", 0, 0}, {"RowId", 0, 0}}
        << QStringList{"oid = ?"} << true;
    QTest::newRow("SQLite: all three hidden, the primary key")
        << "SQLite" << QList<QVariantList>{{"_rowid_", 0, 0}, {"rowid", 2, 0}, {"oid", 1, 0}}
        << QStringList{R"("oid" = ?)", R"("rowid" = ?)"} << false;
    QTest::newRow("SQLite: WITHOUT ROWID, the primary key")
        << "SQLite" << QList<QVariantList>{{"k", 1, 1}, {"v", 0, 1}} << QStringList{R"("k" = ?)"}
        << false;
}

void TestDialect::rowKey()
{
    QFETCH(QString, dialect);
    QFETCH(QList<QVariantList>, keyRows);
    QFETCH(QStringList, conditions);
    QFETCH(bool, addressed);
    const Db::RowKey key = ::dialect(dialect)->rowKey(keyRows);
    QCOMPARE(key.conditions(), conditions);
    QCOMPARE(key.addressed, addressed);
    QCOMPARE(key.expressions().size(), conditions.size());
}

void TestDialect::sqliteRowsThatCannotBeToldApart()
{
    QVERIFY_THROWS_EXCEPTION(
        RuntimeError,
        dialect("SQLite")->rowKey({{"_rowid_", 0, 0}, {"rowid", 0, 0}, {"oid", 0, 0}}));
}

void TestDialect::batchWrite_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QList<QVariantList>>("keyRows");
    QTest::addColumn<bool>("undo");         // the digest compared
    QTest::addColumn<QString>("statement"); // of two rows, table "t", field "f"
    QTest::newRow("Oracle: MERGE from dual, ROWID from its text")
        << "Oracle" << QList<QVariantList>{} << false
        << R"(MERGE INTO "t" t USING (SELECT 1 AS n, CHARTOROWID(?) AS k1, ? AS old_value, ? AS new_value FROM dual UNION ALL SELECT 2 AS n, CHARTOROWID(?) AS k1, ? AS old_value, ? AS new_value FROM dual) s ON (t.ROWID = s.k1) WHEN MATCHED THEN UPDATE SET t."f" = s.new_value WHERE t."f" = s.old_value)";
    QTest::newRow("Oracle undo: the row's digest compared where one is given")
        << "Oracle" << QList<QVariantList>{} << true
        << R"(MERGE INTO "t" t USING (SELECT 1 AS n, CHARTOROWID(?) AS k1, ? AS old_value, ? AS new_value, ? AS digest FROM dual UNION ALL SELECT 2 AS n, CHARTOROWID(?) AS k1, ? AS old_value, ? AS new_value, ? AS digest FROM dual) s ON (t.ROWID = s.k1) WHEN MATCHED THEN UPDATE SET t."f" = s.new_value WHERE t."f" = s.old_value AND (s.digest IS NULL OR RAWTOHEX(STANDARD_HASH(ORA_HASH(t."g"), 'MD5')) = s.digest))";
    QTest::newRow("PostgreSQL: arrays in their columns' types, moved ctids returned")
        << "PostgreSQL" << QList<QVariantList>{} << false
        << R"(/* batch */ WITH u AS (UPDATE "t" AS t SET "f" = v.new_value FROM unnest(CAST(? AS pg_catalog.oid[]), CAST(? AS pg_catalog.tid[]), CAST(? AS pg_catalog.bpchar[]), CAST(? AS pg_catalog.bpchar[])) WITH ORDINALITY AS v(k1, k2, old_value, new_value, n) WHERE t.tableoid = v.k1 AND t.ctid = v.k2 AND t."f" = v.old_value RETURNING v.n, CAST(t.tableoid AS text) AS k1, CAST(t.ctid AS text) AS k2) SELECT string_agg(concat(n, ';', k1, ';', k2, ';'), '') FROM u)";
    QTest::newRow("PostgreSQL: a primary key stays")
        << "PostgreSQL" << QList<QVariantList>{{"id", "pg_catalog.int4"}} << true
        << R"(UPDATE "t" AS t SET "f" = v.new_value FROM unnest(CAST(? AS pg_catalog.int4[]), CAST(? AS pg_catalog.bpchar[]), CAST(? AS pg_catalog.bpchar[])) WITH ORDINALITY AS v(k1, old_value, new_value, n) WHERE t."id" = v.k1 AND t."f" = v.old_value)";
    QTest::newRow("SQLite: UPDATE FROM the rows of one JSON text, on the row id")
        << "SQLite" << QList<QVariantList>{{"f", 0, 0}} << false
        << R"(UPDATE "t" SET "f" = json_extract(v.value, '$[2]') FROM json_each(?) AS v WHERE "t"._rowid_ = json_extract(v.value, '$[0]') AND "t"."f" = json_extract(v.value, '$[1]'))";
    QTest::newRow("SQLite: the row's digest read from its text once")
        << "SQLite" << QList<QVariantList>{{"f", 0, 0}} << true
        << R"(UPDATE "t" SET "f" = json_extract(v.value, '$[2]') FROM json_each(?) AS v WHERE "t"._rowid_ = json_extract(v.value, '$[0]') AND quote("t"."g") = coalesce(json_extract(v.value, '$[3]'), quote("t"."g")) AND "t"."f" = json_extract(v.value, '$[1]'))";
}

void TestDialect::batchWrite()
{
    QFETCH(QString, dialect);
    QFETCH(QList<QVariantList>, keyRows);
    QFETCH(bool, undo);
    QFETCH(QString, statement);
    const auto d = ::dialect(dialect);
    Db::RowKey key = d->rowKey(keyRows);
    key.fieldType = QStringLiteral("pg_catalog.bpchar");
    key.others = QStringList{R"("g")"};
    key.checksDigest = undo && key.addressed;
    QCOMPARE(d->batchWrite("t", "f", key, 2), statement);
}

void TestDialect::batchValues_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QVariantList>("values");
    QTest::newRow("Oracle: row after row")
        << "Oracle" << QVariantList{"1", "a \"b\" \\c", "", "2", "{x,y} NULL", "'"};
    QTest::newRow("PostgreSQL: an array a column, every element quoted")
        << "PostgreSQL"
        << QVariantList{R"({"1","2"})", R"({"a \"b\" \\c","{x,y} NULL"})", R"({"","'"})"};
    QTest::newRow("SQLite: one JSON text, a row an array")
        << "SQLite" << QVariantList{R"([["1","a \"b\" \\c",""],["2","{x,y} NULL","'"]])"};
}

void TestDialect::batchValues()
{
    QFETCH(QString, dialect);
    QFETCH(QVariantList, values);
    const QList<QVariantList> rows{{"1", "a \"b\" \\c", ""}, {"2", "{x,y} NULL", "'"}};
    QCOMPARE(::dialect(dialect)->batchValues(rows), values);
}

void TestDialect::connectionLost_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QString>("sqlState");
    QTest::addColumn<int>("nativeCode");
    QTest::addColumn<bool>("lost");
    QTest::newRow("class 08 anywhere") << "SQLite"
                                       << "08S01" << 0 << true;
    QTest::newRow("a refused value is no lost connection") << "SQLite"
                                                           << "22001" << 0 << false;
    QTest::newRow("PostgreSQL session terminated") << "PostgreSQL"
                                                   << "57P01" << 1 << true;
    QTest::newRow("Oracle ORA-03113") << "Oracle"
                                      << "HY000" << 3113 << true;
    QTest::newRow("Oracle session killed, ORA-00028") << "Oracle"
                                                      << "" << 28 << true;
    QTest::newRow("Oracle ORA-12899, value too large") << "Oracle"
                                                       << "HY000" << 12899 << false;
}

void TestDialect::lockWait_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<int>("nativeCode");
    QTest::addColumn<bool>("lockTimeout");
    QTest::newRow("Oracle ORA-30006, the row lock's WAIT ran out") << "Oracle" << 30006 << true;
    QTest::newRow("Oracle ORA-01013, cancelled by Stop") << "Oracle" << 1013 << true;
    QTest::newRow("Oracle ORA-00001 is no lock wait") << "Oracle" << 1 << false;
    QTest::newRow("SQLite busy") << "SQLite" << 5 << true;
}

void TestDialect::lockWait()
{
    QFETCH(QString, dialect);
    QFETCH(int, nativeCode);
    QFETCH(bool, lockTimeout);
    QCOMPARE(::dialect(dialect)->isLockTimeout(QStringLiteral("HY000"), nativeCode), lockTimeout);
}

// Oracle waits for a row lock without end unless asked not to: the row is
// locked first with a WAIT of its own. The others limit the wait per session.
void TestDialect::rowLock()
{
    Db::RowKey key = ::dialect("Oracle")->rowKey({});
    QCOMPARE(
        ::dialect("Oracle")->rowLock("T\"1", key),
        QStringLiteral("SELECT 1 FROM \"T\"\"1\" WHERE ROWID = CHARTOROWID(?) FOR UPDATE WAIT 1"));
    QVERIFY(::dialect("Oracle")->writerSettings().isEmpty());
    QVERIFY(::dialect("Oracle")->has(Dialect::Capability::RowLock));
    QVERIFY(!::dialect("PostgreSQL")->has(Dialect::Capability::RowLock));
    QVERIFY(::dialect("PostgreSQL")->rowLock("t", key).isEmpty());
    QCOMPARE(::dialect("SQLite")->writerAttributes(), QStringLiteral("Timeout=500;"));
    QVERIFY(::dialect("PostgreSQL")->writerAttributes().isEmpty());
}

// Where a trigger may store another value than the one written, the writers
// read the row's value back by its key.
void TestDialect::mariaDbBatchByVersion_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("jsonTable");
    QTest::newRow("MariaDB 10.11") << "MariaDB" << "10.11.19-MariaDB-0+deb12u1" << true;
    QTest::newRow("MariaDB 10.6") << "MariaDB" << "10.06.0012" << true;
    QTest::newRow("MariaDB 10.5: no JSON_TABLE") << "MariaDB" << "10.5.23-MariaDB" << false;
    QTest::newRow("MariaDB as MySQL 5.5") << "MySQL" << "5.5.5-10.3.39-MariaDB" << false;
    QTest::newRow("MySQL 8.0") << "MySQL" << "8.0.36" << true;
    QTest::newRow("MySQL 5.7: no JSON_TABLE") << "MySQL" << "5.7.44" << false;
}

// One bound JSON text a batch where the server reads it as a table, else
// the rows' values one by one; both compare the value read byte for byte.
void TestDialect::mariaDbBatchByVersion()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(bool, jsonTable);
    const auto d = Dialect::For(QSqlDriver::UnknownDbms, name, version);
    Db::RowKey key = d->rowKey({{"PRIMARY", "id", "NO", "int", "int(11)", 10, 0}});
    const QString statement = d->batchWrite("t", "v", key, 2);
    QCOMPARE(statement.contains("JSON_TABLE"), jsonTable);
    QCOMPARE(d->has(Dialect::Capability::ColumnArrays), jsonTable);
    QVERIFY(statement.contains("CAST(CONVERT(t.\"v\" USING utf8mb4) AS BINARY)"));
    const QVariantList values = d->batchValues({{"1", "a b", "ab"}, {"2", "c\"d", "cd"}});
    QCOMPARE(values.size(), jsonTable ? 1 : 6);
    QCOMPARE(statement.count(u'?'), values.size());
}

void TestDialect::updateTriggers()
{
    const Db::RowKey key = ::dialect("Oracle")->rowKey({});
    QCOMPARE(::dialect("Oracle")->rowValue("t", "f", key),
             QStringLiteral("SELECT \"f\", '-' FROM \"t\" WHERE ROWID = CHARTOROWID(?)"));
    QCOMPARE(::dialect("Oracle")->updateTriggerValues("a\"b"), QVariantList{"\"a\"\"b\""});
    QVERIFY(::dialect("Oracle")->updateTriggerQuery().contains("user_triggers"));
}

// The command line checks a field's name without fetching the table.
void TestDialect::fieldNamesReadNoRow()
{
    QCOMPARE(::dialect("SQLite")->fieldNamesQuery("a\"b"),
             QStringLiteral("SELECT * FROM \"a\"\"b\" WHERE 1 = 0"));
}

void TestDialect::connectionLost()
{
    QFETCH(QString, dialect);
    QFETCH(QString, sqlState);
    QFETCH(int, nativeCode);
    QFETCH(bool, lost);
    QCOMPARE(::dialect(dialect)->isConnectionLost(sqlState, nativeCode), lost);
}

void TestDialect::narrowedSnapshot_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QString>("fieldType");
    QTest::addColumn<QString>("condition"); // empty: every row is read
    QTest::newRow("Oracle VARCHAR2: INSTR") << "Oracle"
                                            << "VARCHAR2"
                                            << R"((INSTR("a""b", ?) > 0 OR INSTR("a""b", ?) > 0))";
    QTest::newRow("Oracle NVARCHAR2") << "Oracle"
                                      << "NVARCHAR2"
                                      << R"((INSTR("a""b", ?) > 0 OR INSTR("a""b", ?) > 0))";
    QTest::newRow("Oracle DATE: read whole") << "Oracle"
                                             << "DATE"
                                             << "";
    QTest::newRow("Oracle CHAR: read whole") << "Oracle"
                                             << "CHAR"
                                             << "";
    QTest::newRow("PostgreSQL varchar: strpos under the C collation")
        << "PostgreSQL"
        << R"(pg_catalog."varchar")"
        << R"((strpos("a""b" COLLATE "C", ?) > 0 OR strpos("a""b" COLLATE "C", ?) > 0))";
    QTest::newRow("PostgreSQL character(n): read whole") << "PostgreSQL"
                                                         << "pg_catalog.bpchar"
                                                         << "";
    QTest::newRow("SQLite: instr, whatever the column's type")
        << "SQLite"
        << ""
        << R"((instr("a""b", ?) > 0 OR instr("a""b", ?) > 0))";
}

void TestDialect::narrowedSnapshot()
{
    QFETCH(QString, dialect);
    QFETCH(QString, fieldType);
    QFETCH(QString, condition);
    const auto d = ::dialect(dialect);
    Db::RowKey key = d->rowKey({});
    key.fieldType = fieldType;
    QCOMPARE(d->holdsAnyOf("a\"b", key, 2), condition);
}

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"

// Rows packed by the server: counted lengths are in code points, a Null and
// an empty text stay apart, and a text cut short is refused.
void TestDialect::packedRows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QList<QStringList>>("rows");
    const QString clef = QString::fromUtf8("a\xF0\x9D\x84\x9E:;");
    QTest::newRow("counted, outside the BMP, separators inside")
        << QStringLiteral("4:") + clef + QStringLiteral("(0,1);") << 2 << true
        << QList<QStringList>{{clef, QStringLiteral("(0,1)")}};
    QTest::newRow("a Null and an empty text")
        << QStringLiteral(":1;0:2;") << 2 << true
        << QList<QStringList>{{QString(), QStringLiteral("1")},
                              {QStringLiteral(""), QStringLiteral("2")}};
    QTest::newRow("no rows") << QString() << 3 << true << QList<QStringList>{};
    QTest::newRow("a row cut short")
        << QStringLiteral("1:a1;1:b") << 2 << false
        << QList<QStringList>{{QStringLiteral("a"), QStringLiteral("1")}};
    QTest::newRow("a count past the end")
        << QStringLiteral("9:ab;") << 1 << false << QList<QStringList>{};
    QTest::newRow("a count that is no number")
        << QStringLiteral("x:a") << 1 << false << QList<QStringList>{};
}

void TestDialect::packedRows()
{
    QFETCH(QString, text);
    QFETCH(int, columns);
    QFETCH(bool, whole);
    QFETCH(QList<QStringList>, rows);
    QList<QStringList> read;
    QCOMPARE(Db::PackedRows::parse(text, columns, [&read](const QStringList& row) { read << row; }),
             whole);
    QCOMPARE(read, rows);
    for (qsizetype r = 0; r < rows.size(); ++r) // equal texts, yet a Null is no empty text
        for (qsizetype c = 0; c < rows[r].size(); ++c)
            QCOMPARE(read[r][c].isNull(), rows[r][c].isNull());
}
