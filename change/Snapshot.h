#pragma once

#include "db/Oracle.h"

#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <optional>
#include <vector>

// The rows of a change run: every row's value of the field and its key,
// read once. Where the database lets one session read while another writes,
// the rows are those of the moment the run began, and come in blocks through
// a cursor in a read-only transaction (the count taken in it too), never
// held whole. Where a reader would hold the writers out, they come a block
// at a time in key order, each block's statement run to its end before its
// rows are written, each block as it is when read: the rows up to the last
// one at the count, those deleted since passed over. A table whose key a
// write moves, or whose triggers may (or may add rows), is read whole
// before the first write instead, and so is one whose key cannot be read
// in blocks.
class Snapshot
{
public:
    // The rows of one block, where the rows are read in key blocks.
    static constexpr int BlockRows = 5000;

    struct Row {
        QString value;    // the field's text; a Null reads as the empty text
        bool isNull;      // a Null gets no statement
        QVariantList key; // the texts that name the row
        QVariant digest;  // where the key is read with one: the row's digest
        int place = 0;    // the row's place in the read, from 0
    };

    // Reads the table's row key and counts the rows, at one moment; the read
    // itself opens with the first row asked for (or a narrowing), once.
    // Key blocks hold `blockRows` rows. Throws RuntimeError.
    Snapshot(Oracle::Connection& connection, const QString& table, const QString& field,
             int blockRows = BlockRows);
    ~Snapshot();
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    const Db::RowKey& key() const { return m_key; }
    // The number of rows, known before they are read.
    int count() const { return m_count; }

    // Narrows the read to the rows whose field holds at least one of
    // `texts`, where the database can and no row was read yet: the other
    // rows are passed over. The number of rows left to read when narrowed.
    // Throws RuntimeError.
    std::optional<int> narrow(const QStringList& texts);

    // The next row; false after the last. Throws RuntimeError when a read fails.
    bool next(Row& row);

    // Ends the read (and its transaction), so that the connection sees what
    // was written since. Throws RuntimeError.
    void close();

private:
    // A row from its values as read, by column: the field's, the key's, the digest.
    template <class Value> Row rowFrom(const Value& value) const;
    Row rowOf(const QSqlQuery& query) const;
    // Opens the read of `query` (with its bound values): a cursor where the
    // dialect has one, else the query itself.
    void openRead(const QString& query, const QVariantList& values);
    // The next row as read, without its place.
    bool take(Row& row);

    enum class Mode {
        Whole,  // read whole at the start (the dialect cannot read while writing)
        Unread, // a cursor or the plain query, not yet opened
        Cursor, // in blocks through a cursor
        Plain,  // the query, as the driver fetches it
        Pages,  // a range of the table's pages at a time, each range one text
        Blocks, // a block of rows at a time in key order, each block's statement ended
    };
    // The rows of the next range of pages in m_whole; false after the last.
    bool readPages();
    // The rows of a packed key block added to m_whole.
    void unpack(const QVariant& packed);
    // Where the rows can be read in key blocks: the count and the last row's
    // key at one moment, and true.
    bool countBlocks();
    // Where the rows are read in a transaction that sees one moment: the
    // last row's key in it, and true, where the rows can be read in key blocks.
    bool readsBlocksAtOneMoment();
    // The texts of the last row's key, by the dialect's query `last`, in
    // m_lastKey; none where the table has no rows.
    void readLastKey(const QString& last);
    // The rows of the next key block in m_whole; false after the last.
    bool readBlock();

    Oracle::Connection& m_connection;
    QString m_table;
    QString m_field;
    Mode m_mode = Mode::Plain;
    int m_read = 0; // rows read so far
    Db::RowKey m_key;
    int m_count = 0;
    bool m_inTransaction = false;
    bool m_cursorOpen = false;
    std::vector<Row> m_whole; // all rows (Whole), a range of pages' (Pages) or a block's
    size_t m_nextWhole = 0;
    QString m_query; // Unread: the read to open
    QString m_pagesQuery;
    QVariantList m_conditionValues; // the narrowing's bound values
    int m_blockSize;                // the rows of a key block
    QString m_blockCondition;       // the narrowing
    QVariantList m_lastKey;         // the key of the last row to read in key blocks; none: no row
    QVariantList m_afterKey;        // the key of the last row read; none: from the first
    bool m_blocksDone = false;
    qint64 m_pages = 0;    // the table's pages when the read began
    qint64 m_nextPage = 0; // the first page not yet read; past m_pages: the end
    qint64 m_rangePages = 1;
    std::optional<QSqlQuery> m_block; // the current block, or the plain query
    int m_blockRows = 0;
};
