#pragma once

#include <QList>
#include <QSqlDriver>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

// Every statement text the program sends, per database: this base holds the
// standard SQL they share, each database's own in a file of its own
// (OracleDialect, PostgresDialect, SqliteDialect). One dialect is chosen for
// each connection from what the driver reports; a database the program does
// not know gets Oracle's. Values, answers and row keys never stand in these
// texts: each
// stands as a "?" placeholder and travels as a bound parameter. Identifiers
// are double-quoted with inner double quotes doubled.
namespace Db
{

// What names exactly one row of a table: the expressions the snapshot reads
// beside the field, and for each a condition with one placeholder that finds
// the row again with the text read.
// One part of a row key.
struct KeyPart {
    QString expression; // read beside the field, as a text
    QString condition;  // finds the row again with that text (one placeholder)
    QString name;       // the column as a batch names it on the table
    QString type;       // its type, where the dialect compares in the column's own type
                        // (or, where it reads the key in blocks, orders by it)
    QString alias;      // a column that is the part under another name (quoted), if any
};

struct RowKey {
    QList<KeyPart> parts;
    QString fieldType; // the field's type, where the dialect reads it
    // Where the key moves whenever the row is written: the write returns the
    // parts' expressions, the key the row has after it.
    bool returned = false;
    // Where the field is itself part of the key (or the column a part is
    // under another name), that part's place in it: the write moves the key
    // to the new value. -1 otherwise.
    int fieldPart = -1;
    // Where the key is the row's address (a row id, ctid or ROWID), which
    // the database may give another row (after VACUUM, a table move, a
    // delete and an insert): a row is then known by its key together with
    // a digest of its other columns, named here (quoted), in column order.
    bool addressed = false;
    QStringList others;
    // Where a write also compares the row's digest with the one given with
    // its key (one more bound value a row; a Null compares nothing): an
    // undo's, which must find the very row the run wrote. Only where the
    // key is addressed.
    bool checksDigest = false;

    // True when the digest goes with the key, read with the row: a write
    // of the field leaves it as it is, also where it moves the key (a
    // trigger's rewrite is read back).
    bool hasDigest() const { return addressed; }
    // True when a write may give the row another key.
    bool moves() const { return returned || fieldPart >= 0; }
    qsizetype size() const { return parts.size(); }
    void add(const QString& expression, const QString& condition, const QString& name,
             const QString& type = {}, const QString& alias = {})
    {
        parts.append({expression, condition, name, type, alias});
    }
    QStringList expressions() const { return each(&KeyPart::expression); }
    QStringList conditions() const { return each(&KeyPart::condition); }
    QStringList names() const { return each(&KeyPart::name); }
    // The key a row named by `key` has once the field holds `value`, where
    // the field is part of the key; else `key` itself.
    QVariantList withField(const QVariantList& key, const QString& value) const
    {
        QVariantList moved = key;
        if (fieldPart >= 0 && fieldPart < moved.size())
            moved[fieldPart] = value;
        return moved;
    }

private:
    QStringList each(QString KeyPart::*member) const
    {
        QStringList texts;
        for (const KeyPart& part : parts)
            texts << part.*member;
        return texts;
    }
};

class Dialect
{
public:
    virtual ~Dialect() = default;

    // The dialect of a connection: by the database type Qt's driver
    // recognised, else by the database name the ODBC driver reports; the
    // version it reports tells what the dialect may use.
    static std::unique_ptr<Dialect> For(QSqlDriver::DbmsType type, const QString& dbmsName,
                                        const QString& dbmsVersion = {});

    virtual QString name() const = 0;

    // What a database can do, asked before the statements that need it.
    enum class Capability {
        ReadsWhileWriting, // one session reads while another writes (else: read whole first,
                           // or in key blocks)
        KeyBlocks,         // lastKeyQuery, blockQuery: read a block at a time in key order
        PackedBlocks,      // blockQuery's one row: the block as one JSON text and its last key
        ServerCursor,      // openCursor, fetchFromCursor, closeCursor
        PageRanges,        // pageCountQuery, pagesQuery: a table read a range of pages at a time
        RowLock,           // rowLock: a row locked first, with a short wait of its own
        ColumnArrays,      // a batch binds its rows whole (one array a column, or one text):
                           // one statement for any number of rows
        Returning,         // a write returns what it wrote (UPDATE ... RETURNING)
        ParallelWrites,    // two sessions write batches of other rows at once
    };
    virtual bool has(Capability capability) const = 0;

    // A bound value's place in a statement, and the value as it is bound
    // there: where the driver cannot bind a text exactly (Connector/ODBC
    // keeps the terminating null character that Qt's ODBC layer counts in a
    // text's length), each text travels as its UTF-8 bytes and its
    // placeholder reads them as text.
    virtual QString placeholder() const { return QStringLiteral("?"); }
    virtual QVariant bound(const QVariant& value) const { return value; }

    // Statements every connection runs once it is open, each committed on
    // its own: how the session reads the program's statements.
    virtual QStringList sessionSettings() const { return {}; }

    // The dictionary: the names of the user's tables.
    virtual QString tableQuery() const = 0;
    // The database's own catalogue of a table's columns: a query whose
    // rows are the names of the columns the full query returns, in their
    // order (bound values: fieldListValues). Empty: the names are those of
    // the full query's columns.
    virtual QString fieldListQuery() const { return {}; }
    virtual QVariantList fieldListValues(const QString& table) const;
    // All columns of a table (read for their names only).
    virtual QString fullQuery(const QString& table) const;
    // All columns of a table and none of its rows.
    QString fieldNamesQuery(const QString& table) const;
    // One column of a table, in the order the database returns the rows.
    virtual QString columnQuery(const QString& table, const QString& field) const;

    // A query whose rows tell how to name a table's rows, with its bound
    // values (the table); empty when the dialect needs none.
    virtual QString rowKeyQuery() const { return {}; }
    virtual QVariantList rowKeyQueryValues(const QString& table) const;
    // The row key, from the rows of rowKeyQuery. Throws RuntimeError when
    // the table's rows cannot be told apart (saying why, after "Table T: ").
    virtual RowKey rowKey(const QList<QVariantList>& keyRows) const = 0;

    // A digest of a row's columns other than the field, as a text (the
    // columns' names prefixed with `qualifier`, a table's alias and a dot,
    // where given); empty where the key needs none.
    virtual QString rowDigest(const RowKey& key, const QString& qualifier = {}) const = 0;
    // A query for the names of the columns a digest covers, in column
    // order (bound values: digestColumnsValues); empty: every column the
    // table's query returns but the field. Columns the database computes
    // from others are left out: a write of the field changes them.
    virtual QString digestColumnsQuery() const { return {}; }
    virtual QVariantList digestColumnsValues(const QString& table, const QString& field) const;
    // `column` holding the same text as `given` (a placeholder or a
    // column), as a write's compare-and-set tests it.
    virtual QString sameText(const QString& column, const QString& given) const
    {
        return column + QStringLiteral(" = ") + given;
    }
    // A query for the rows that hold one of `values` values in the field:
    // each row's value, key and digest (bound values: the values).
    QString rowsHoldingAnyOf(const QString& table, const QString& field, const RowKey& key,
                             int values) const;

    // A query for the type the field's values are compared in, with its
    // bound values (the table, the field); empty when the dialect needs none.
    virtual QString fieldTypeQuery() const { return {}; }

    // The field and the row key of every row: SELECT "F", key... FROM "T".
    QString snapshotQuery(const QString& table, const QString& field, const RowKey& key) const;
    // A condition true where the field holds at least one of `texts` texts
    // (bound values: the texts, in order), for the snapshot and the count
    // to be narrowed by. Empty where the dialect cannot narrow the read of
    // a field of its type: all rows are read then.
    virtual QString holdsAnyOf(const QString& field, const RowKey& key, int texts) const;
    // The number of the table's rows.
    QString countQuery(const QString& table) const;
    // A query narrowed to the rows where `condition` holds.
    static QString narrowed(const QString& query, const QString& condition);

    // How the snapshot is read while another session writes: in a
    // transaction that sees one moment and writes nothing. Where the
    // database cannot read and write at once (no ReadsWhileWriting), it is
    // read whole first, with no transaction.
    // Statements the reading connection runs before its transaction begins,
    // each committed on its own: they set how every transaction it begins
    // from then on reads (the connection reads only, the refill after the
    // run too). None where readTransaction says it all.
    virtual QStringList readSession() const { return {}; }
    // The statement run first in the reading transaction; empty: none.
    virtual QString readTransaction() const { return {}; }
    // Statements that open a cursor on the snapshot query (the last one
    // holds the query and takes its bound values), the one that fetches its
    // next block, and those that close it; none: the query is read as it is
    // (the driver fetches as the rows are asked for).
    virtual QStringList openCursor(const QString& query) const
    {
        Q_UNUSED(query);
        return {};
    }
    virtual QString fetchFromCursor() const { return {}; }
    virtual QStringList closeCursor() const { return {}; }

    // Where a reader would hold the writers out (no ReadsWhileWriting) but
    // the table can be read a block of rows at a time in the order of its
    // key (KeyBlocks), each block's statement run to its end before its rows
    // are written, so that no reader holds the table between blocks:
    // a query for the key's texts of the table's last row in that order,
    // read with the count, which ends the read (rows added after it since
    // are not read). No row for an empty table, nor where a key read back
    // as its text would not find its row's place again: the table is then
    // read whole. Empty: never in blocks.
    virtual QString lastKeyQuery(const QString& table, const RowKey& key) const;
    // The snapshot's columns of the next `rows` rows in key order: after the
    // row whose key's texts are bound first (none where `first`: from the
    // table's first row), up to the last row's key bound next, and only
    // where `condition` holds (its bound values last). Where the dialect
    // packs them (PackedBlocks), one row instead, none for no rows: the
    // rows as one JSON array (as a text or its UTF-8 bytes), each row an
    // array of texts (a Null as null): the field's value, the key's texts
    // and (where the snapshot reads one) the digest; then the key's texts
    // of the block's last row.
    virtual QString blockQuery(const QString& table, const QString& field, const RowKey& key,
                               int rows, bool first, const QString& condition = {}) const;

protected:
    // The snapshot query of a key block: the rows whose key (`order`, as the
    // statement orders by it) is after the bound key `given` (unless
    // `first`) and up to the bound last key (`given` again), where
    // `condition` holds, in the order of `orderBy`, `rows` at most.
    QString keyBlock(const QString& table, const QString& field, const RowKey& key,
                     const QString& order, const QString& given, const QString& orderBy, int rows,
                     bool first, const QString& condition) const;

public:
    // Where a plain table's rows can be read a range of its pages at a time,
    // each range's rows as one text (far fewer values to fetch than a row's
    // each): a query whose value is the table's number of pages, or Null
    // where it cannot be read so (bound values: the table). Empty: never.
    virtual QString pageCountQuery() const { return {}; }
    // The rows of the pages from the first bound value's page up to (not
    // including) the second's, as one text of packed rows (PackedRows),
    // each the field's value, the key's texts and (where the snapshot reads
    // one) the digest; only the rows where `condition` holds, where
    // one is given (its bound values after the pages'). Empty where the
    // field's type is not read so.
    virtual QString pagesQuery(const QString& table, const QString& field, const RowKey& key,
                               const QString& condition = {}) const;
    // The bound values for pagesQuery of pages [first, end); `end` < 0: to
    // the table's end.
    virtual QVariantList pagesValues(qint64 first, qint64 end) const;

    // The compare-and-set write of one row: the field takes the new value
    // where the key names the row and the field still holds the value read.
    // Bound values: the new value, the key's texts in order, the value read
    // (and the digest, where the key checks it). Where the key moves, the
    // write returns the row's new key.
    QString rowWrite(const QString& table, const QString& field, const RowKey& key) const;

    // The compare-and-set write of a batch of rows: each row takes its new
    // value where the key names it and the field still holds the value
    // read (and, where the key checks it, has the digest given). Bound
    // values: batchValues' of the rows. It affects one row per row written;
    // where the key moves, it returns one row of one text instead: packed
    // rows (PackedRows), one for each row written, of the row's number in
    // the batch (from 1) and the texts of its new key.
    virtual QString batchWrite(const QString& table, const QString& field, const RowKey& key,
                               int rows) const = 0;
    // The values a batch statement binds, from its rows, each the key's
    // texts, the value read and the new value (and the digest, where the
    // key checks it; a Null checks nothing): row after row, or (where
    // the dialect binds each column whole) one value a column.
    virtual QVariantList batchValues(const QList<QVariantList>& rows) const;
    // The most values one batch statement may bind.
    virtual int batchParameters() const { return 6000; }
    // The most rows of one batch: one statement and one entry of the
    // journal.
    virtual int batchRows() const { return 1000; }
    // The most rows one transaction writes. Where more than a batch's, its
    // batches go each under a savepoint (batchSavepoint), undone alone where
    // a batch must go again in parts, and are committed together.
    virtual int transactionRows() const { return batchRows(); }
    // Setting a batch's savepoint, releasing it, rolling back to it.
    QStringList batchSavepoint() const;

    // Where the database has no lock wait limit of its own: a query that
    // locks the row the key names, waiting a short while at most, run in the
    // row's write transaction before its write, so that a write blocked by
    // another session comes back in time to be stopped (and is then tried
    // again). Bound values: the key's texts in order. Empty: none.
    virtual QString rowLock(const QString& table, const RowKey& key) const;

    // A query whose first value counts the table's triggers that may run on
    // an UPDATE and so store another value than the one written. Bound
    // values: updateTriggerValues(table).
    virtual QString updateTriggerQuery() const = 0;
    virtual QVariantList updateTriggerValues(const QString& table) const;
    // The field's value in the row the key names, and its digest where the
    // key has one. Bound values: the key's texts in order.
    QString rowValue(const QString& table, const QString& field, const RowKey& key) const;

    // The number of rows the key names that hold a value (and, where the
    // key checks it, have the digest given). Bound values: the key's texts
    // in order, the value (and the digest).
    QString rowHolds(const QString& table, const QString& field, const RowKey& key) const;

    // Attributes put before the connection string of a writing connection
    // (the first of an attribute given twice counts), for a lock wait that a
    // driver takes from there only; empty: none.
    virtual QString writerAttributes() const { return {}; }
    // Statements the writing session runs once before its first write: a
    // short lock wait, so that a write blocked by another session's lock
    // comes back in time to be stopped (and is then tried again).
    virtual QStringList writerSettings() const { return {}; }
    // True when a failure means the lock wait ran out.
    virtual bool isLockTimeout(const QString& sqlState, int nativeCode) const;

    // True when a failure with this SQLSTATE and native error code means the
    // connection is gone (SQLSTATE class 08 everywhere).
    virtual bool isConnectionLost(const QString& sqlState, int nativeCode) const;
};

// A double-quoted identifier; a double quote inside the name is doubled.
QString QuoteIdentifier(const QString& name);

} // namespace Db
