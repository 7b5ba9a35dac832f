#include "change/Snapshot.h"

#include "app/Main.h"
#include "app/RuntimeError.h"
#include "change/JournalJson.h"
#include "db/PackedRows.h"
#include "db/Schema.h"

template <class Value> Snapshot::Row Snapshot::rowFrom(const Value& value) const
{
    const QVariant field = value(0);
    Row row{Main::NotNull(Main::ValueOrDefault(field, QString())), field.isNull(), {}, {}};
    const int keyColumns = static_cast<int>(m_key.size());
    row.key.reserve(keyColumns);
    for (int i = 1; i <= keyColumns; ++i)
        row.key << Main::NotNull(value(i).toString());
    if (m_key.hasDigest())
        row.digest = value(keyColumns + 1).toString();
    return row;
}

Snapshot::Snapshot(Oracle::Connection& connection, const QString& table, const QString& field,
                   int blockRows)
    : m_connection(connection), m_table(table), m_field(field), m_blockSize(qMax(1, blockRows))
{
    const Db::Dialect& dialect = connection.dialect();
    m_key = Oracle::ReadRowKey(connection, table, field);
    const QString query = dialect.snapshotQuery(table, field, m_key);
    if (!dialect.has(Db::Dialect::Capability::ReadsWhileWriting)) {
        // No read spans the run: by the time a row is written, its address
        // may be another row's. The write compares the row's digest too.
        m_key.checksDigest = m_key.addressed;
        if (countBlocks())
            return;
        m_mode = Mode::Whole;
        QSqlQuery rows = connection.select(query);
        while (connection.next(rows))
            m_whole.push_back(rowOf(rows));
        m_count = static_cast<int>(m_whole.size());
        return;
    }
    for (const QString& statement : dialect.readSession())
        connection.execute(statement);
    connection.begin();
    m_inTransaction = true;
    const QString transaction = dialect.readTransaction();
    if (!transaction.isEmpty())
        connection.execute(transaction);
    QSqlQuery counted = connection.select(dialect.countQuery(table), {}, true);
    m_count = connection.next(counted) ? counted.value(0).toInt() : 0;
    counted = QSqlQuery();
    if (dialect.has(Db::Dialect::Capability::KeyBlocks) && readsBlocksAtOneMoment())
        return;
    if (dialect.has(Db::Dialect::Capability::PageRanges))
        m_pagesQuery = dialect.pagesQuery(table, field, m_key);
    if (!m_pagesQuery.isEmpty()) {
        QSqlQuery pages = connection.select(dialect.pageCountQuery(), {Db::QuoteIdentifier(table)});
        if (connection.next(pages) && !pages.value(0).isNull()) {
            // Ranges of about RangeRows rows, as the rows are spread now, and
            // never more than MaxRangePages pages (about 512 kB of rows,
            // wherever they crowd).
            constexpr qint64 RangeRows = 2000;
            constexpr qint64 MaxRangePages = 64;
            m_mode = Mode::Pages;
            m_pages = pages.value(0).toLongLong();
            m_rangePages = qBound<qint64>(1, RangeRows * m_pages / qMax(1, m_count), MaxRangePages);
            return;
        }
    }
    m_mode = Mode::Unread;
    m_query = query;
}

// Rows added at the end since the count are not seen by the read; pages
// added since hold only such rows: the last range goes to the table's end.
bool Snapshot::readPages()
{
    m_whole.clear();
    m_nextWhole = 0;
    while (m_whole.empty()) {
        if (m_nextPage > m_pages)
            return false;
        const qint64 end = m_nextPage + m_rangePages;
        QSqlQuery range = m_connection.select(
            m_pagesQuery,
            m_connection.dialect().pagesValues(m_nextPage, end >= m_pages ? -1 : end) +
                m_conditionValues);
        m_nextPage = end >= m_pages ? m_pages + 1 : end;
        if (!m_connection.next(range) || range.value(0).isNull())
            continue;
        const auto nullable = [](const QString& text) {
            return text.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
        };
        const int columns = 1 + int(m_key.size()) + (m_key.hasDigest() ? 1 : 0);
        if (!Db::PackedRows::parse(
                range.value(0).toString(), columns, [&](const QStringList& values) {
                    m_whole.push_back(rowFrom([&](int i) { return nullable(values.at(i)); }));
                }))
            throw RuntimeError(RuntimeError::DriverError,
                               QStringLiteral("The table's rows were read in a form the "
                                              "program does not know."));
    }
    return true;
}

// Not where a write moves a row's key, nor where a trigger may (or may add
// rows): a later block would read such a row again. Nor where the dialect
// finds no last key for rows there are: their keys would not find their
// places again.
bool Snapshot::countBlocks()
{
    const Db::Dialect& dialect = m_connection.dialect();
    if (!dialect.has(Db::Dialect::Capability::KeyBlocks) || m_key.moves())
        return false;
    const QString last = dialect.lastKeyQuery(m_table, m_key);
    if (last.isEmpty())
        return false;
    {
        QSqlQuery triggers =
            m_connection.select(dialect.updateTriggerQuery(), dialect.updateTriggerValues(m_table));
        if (!m_connection.next(triggers) || triggers.value(0).toInt() > 0)
            return false;
    }
    m_connection.begin();
    m_inTransaction = true;
    {
        QSqlQuery counted = m_connection.select(dialect.countQuery(m_table), {}, true);
        m_count = m_connection.next(counted) ? counted.value(0).toInt() : 0;
        counted = QSqlQuery();
        readLastKey(last);
    }
    m_inTransaction = false;
    m_connection.commit();
    if (m_count > 0 && m_lastKey.isEmpty())
        return false;
    m_mode = Mode::Blocks;
    return true;
}

// In the read's transaction, which sees the moment the run began: a write
// that moves a row's key is not seen, so no row is read twice.
bool Snapshot::readsBlocksAtOneMoment()
{
    const QString last = m_connection.dialect().lastKeyQuery(m_table, m_key);
    if (last.isEmpty())
        return false;
    readLastKey(last);
    m_mode = Mode::Blocks;
    return true;
}

void Snapshot::readLastKey(const QString& last)
{
    QSqlQuery lastRow = m_connection.select(last, {}, true);
    if (m_connection.next(lastRow))
        for (int i = 0; i < int(m_key.size()); ++i)
            m_lastKey << Main::NotNull(lastRow.value(i).toString());
}

// Each block's statement is read to its end and goes before its rows are
// handed on: nothing holds the table while they are written.
bool Snapshot::readBlock()
{
    m_whole.clear();
    m_nextWhole = 0;
    if (m_blocksDone || m_lastKey.isEmpty())
        return false;
    const Db::Dialect& dialect = m_connection.dialect();
    {
        QSqlQuery block =
            m_connection.select(dialect.blockQuery(m_table, m_field, m_key, m_blockSize,
                                                   m_afterKey.isEmpty(), m_blockCondition),
                                m_afterKey + m_lastKey + m_conditionValues, true);
        if (!dialect.has(Db::Dialect::Capability::PackedBlocks)) {
            while (m_connection.next(block))
                m_whole.push_back(rowOf(block));
            if (!m_whole.empty())
                m_afterKey = m_whole.back().key;
        } else if (m_connection.next(block)) {
            unpack(block.value(0));
            m_afterKey.clear();
            for (int i = 1; i <= int(m_key.size()); ++i)
                m_afterKey << Main::NotNull(block.value(i).toString());
        }
    }
    m_blocksDone = int(m_whole.size()) < m_blockSize;
    return !m_whole.empty();
}

// A JSON array of rows, each an array of texts (a Null as null), in its
// UTF-8 bytes or as a text; at least one row (a text the reader cannot take
// reads as none).
void Snapshot::unpack(const QVariant& packed)
{
    const int columns = 1 + int(m_key.size()) + (m_key.hasDigest() ? 1 : 0);
    const QVariantList rows = JournalJson::fromJson(packed.typeId() == QMetaType::QByteArray
                                                        ? QString::fromUtf8(packed.toByteArray())
                                                        : packed.toString());
    m_whole.reserve(size_t(rows.size()));
    if (rows.isEmpty()) // a block of no rows is no row at all
        throw RuntimeError(RuntimeError::DriverError,
                           QStringLiteral("The table's rows were read in a form the "
                                          "program does not know."));
    for (const QVariant& read : rows) {
        const QVariantList values = read.toList();
        if (values.size() != columns)
            throw RuntimeError(RuntimeError::DriverError,
                               QStringLiteral("The table's rows were read in a form the "
                                              "program does not know."));
        m_whole.push_back(rowFrom([&values](int i) { return values.at(i); }));
    }
}

void Snapshot::openRead(const QString& query, const QVariantList& values)
{
    const Db::Dialect& dialect = m_connection.dialect();
    const QStringList open = dialect.has(Db::Dialect::Capability::ServerCursor)
                                 ? dialect.openCursor(query)
                                 : QStringList();
    for (qsizetype i = 0; i < open.size(); ++i)
        m_connection.execute(open.at(i), i + 1 == open.size() ? values : QVariantList());
    m_cursorOpen = !open.isEmpty();
    m_mode = m_cursorOpen ? Mode::Cursor : Mode::Plain;
    if (m_mode == Mode::Plain)
        m_block = m_connection.select(query, values);
}

Snapshot::~Snapshot()
{
    m_block.reset();
    if (m_inTransaction)
        m_connection.rollback();
}

Snapshot::Row Snapshot::rowOf(const QSqlQuery& query) const
{
    return rowFrom([&query](int i) { return query.value(i); });
}

std::optional<int> Snapshot::narrow(const QStringList& texts)
{
    if (m_mode == Mode::Whole || m_read > 0 || texts.isEmpty())
        return std::nullopt;
    m_whole.clear();
    const Db::Dialect& dialect = m_connection.dialect();
    const QString condition = dialect.holdsAnyOf(m_field, m_key, static_cast<int>(texts.size()));
    if (condition.isEmpty())
        return std::nullopt;
    const QVariantList values(texts.begin(), texts.end());
    QSqlQuery counted =
        m_connection.select(Db::Dialect::narrowed(dialect.countQuery(m_table), condition), values);
    const int rows = m_connection.next(counted) ? counted.value(0).toInt() : 0;
    if (m_mode == Mode::Pages) {
        m_pagesQuery = dialect.pagesQuery(m_table, m_field, m_key, condition);
        m_conditionValues = values;
        return rows;
    }
    if (m_mode == Mode::Blocks) {
        m_blockCondition = condition;
        m_conditionValues = values;
        return rows;
    }
    if (m_mode == Mode::Unread) { // opened once, narrowed
        openRead(Db::Dialect::narrowed(m_query, condition), values);
        return rows;
    }
    m_block.reset();
    if (m_cursorOpen) {
        m_cursorOpen = false;
        for (const QString& statement : dialect.closeCursor())
            m_connection.execute(statement);
    }
    openRead(Db::Dialect::narrowed(dialect.snapshotQuery(m_table, m_field, m_key), condition),
             values);
    return rows;
}

bool Snapshot::next(Row& row)
{
    if (!take(row))
        return false;
    row.place = m_read++;
    return true;
}

bool Snapshot::take(Row& row)
{
    switch (m_mode) {
    case Mode::Unread:
        openRead(m_query, {});
        return take(row);
    case Mode::Whole:
        if (m_nextWhole >= m_whole.size())
            return false;
        row = std::move(m_whole[m_nextWhole++]);
        return true;
    case Mode::Pages:
    case Mode::Blocks:
        if (m_nextWhole >= m_whole.size() && !(m_mode == Mode::Pages ? readPages() : readBlock())) {
            close();
            return false;
        }
        row = std::move(m_whole[m_nextWhole++]);
        return true;
    case Mode::Plain:
        if (m_block && m_connection.next(*m_block)) {
            row = rowOf(*m_block);
            return true;
        }
        m_block.reset();
        return false;
    case Mode::Cursor:
        for (;;) {
            if (!m_block) {
                if (!m_cursorOpen)
                    return false;
                m_block = m_connection.select(m_connection.dialect().fetchFromCursor(), {}, true);
                m_blockRows = 0;
            }
            if (m_connection.next(*m_block)) {
                ++m_blockRows;
                row = rowOf(*m_block);
                return true;
            }
            m_block.reset();
            if (m_blockRows == 0) { // an empty block: the end
                close();
                return false;
            }
        }
    }
    return false;
}

void Snapshot::close()
{
    if (m_mode == Mode::Unread) // never opened: nothing more to read
        m_mode = Mode::Plain;
    m_block.reset();
    m_whole.clear();
    m_whole.shrink_to_fit();
    m_blocksDone = true;
    if (m_cursorOpen) {
        m_cursorOpen = false;
        for (const QString& statement : m_connection.dialect().closeCursor())
            m_connection.execute(statement);
    }
    if (m_inTransaction) {
        m_inTransaction = false;
        m_connection.commit();
    }
}
