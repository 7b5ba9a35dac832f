#include "change/BatchWriter.h"

#include "app/RuntimeError.h"
#include "db/Oracle.h"
#include "db/PackedRows.h"

namespace
{

using Result = RowWriter::Result;
using Outcome = RowWriter::Outcome;

// The same outcome for every change held.
RowWriter::Results each(const QList<std::pair<Change, qint64>>& held, RowWriter::Outcome outcome)
{
    RowWriter::Results results;
    results.reserve(held.size());
    for (const auto& change : held)
        results << RowWriter::Told(change.second, outcome);
    return results;
}

} // namespace

BatchWriter::BatchWriter(Oracle::Connection& connection, const QString& table, const QString& field,
                         const Db::RowKey& key, WriteControl control, int rows)
    : m_connection(connection), m_table(table), m_field(field), m_key(key),
      m_control(std::move(control)),
      m_rows(qMax(1, qMin(rows, connection.dialect().batchParameters() /
                                    int(key.size() + (key.checksDigest ? 3 : 2))))),
      m_single(connection, table, field, key, m_control)
{
}

void BatchWriter::write(const Change& change, qint64 ticket)
{
    m_held.add(change, ticket);
    if (m_held.full(m_rows))
        send();
}

void BatchWriter::flush()
{
    if (!m_held.isEmpty())
        send();
}

void BatchWriter::send()
{
    // The row-by-row writer tells its results as this one would.
    m_single.setReports([this](const Results& results) { settle(results); },
                        [this](const Results& results) { done(results); });
    std::optional<Results> together;
    try {
        together = sendTogether();
    } catch (const RuntimeError& error) {
        Results failed;
        for (const auto& [change, ticket] : m_held.changes())
            failed << Failure(ticket, error);
        m_held.clear();
        done(failed);
        return;
    }
    const auto held = m_held.take();
    if (together) {
        done(*together);
        return;
    }
    for (qsizetype i = 0; i < held.size(); ++i) {
        if (m_control.stop()) { // the rest is not sent
            done(each(held.mid(i), Outcome::Stopped));
            return;
        }
        m_single.write(held[i].first, held[i].second);
    }
}

// The statement for `rows` rows, prepared once for a full batch; a short
// batch's in `partial`, unless the dialect binds one array a column (its
// statement is then the same for any number of rows).
QSqlQuery& BatchWriter::statementFor(int rows, std::optional<QSqlQuery>& partial)
{
    const Db::Dialect& dialect = m_connection.dialect();
    if (m_fullText.isEmpty()) {
        if (!m_single.m_prepared)
            m_single.prepare();
        m_fullText = dialect.batchWrite(m_table, m_field, m_key, m_rows);
    }
    if (rows < m_rows && !dialect.has(Db::Dialect::Capability::ColumnArrays))
        partial = m_connection.prepare(dialect.batchWrite(m_table, m_field, m_key, rows));
    if (!partial && !m_full)
        m_full = m_connection.prepare(m_fullText);
    return partial ? *partial : *m_full;
}

QVariantList BatchWriter::boundValues() const
{
    QList<QVariantList> batch;
    batch.reserve(m_held.size());
    for (const auto& [change, ticket] : m_held.changes()) {
        batch << change.key + QVariantList{change.oldValue, change.newValue};
        if (m_key.checksDigest)
            batch.last() << change.digest;
    }
    return m_connection.dialect().batchValues(batch);
}

// The one text the statement returned: for each written row, its number in
// the batch and its new key. The number of rows written.
int BatchWriter::takeReturned(QSqlQuery& statement, Results& results)
{
    if (!m_connection.next(statement))
        return 0;
    const qsizetype keyParts = m_key.size();
    int written = 0;
    const bool whole = Db::PackedRows::parse(
        statement.value(0).toString(), int(keyParts) + 1, [&](const QStringList& values) {
            const int at = values.at(0).toInt() - 1;
            if (at < 0 || at >= results.size() || !results[at].keyAfter.isEmpty())
                return;
            ++written;
            for (qsizetype i = 1; i <= keyParts; ++i)
                results[at].keyAfter << values.at(i);
        });
    return whole ? written : 0; // not read whole: as if none were written
}

// Where the field is part of the key, the key it moved to; where a trigger
// may have stored another value, the value (and digest) read back.
void BatchWriter::completeWritten(Results& results)
{
    const auto& held = m_held.changes();
    for (qsizetype i = 0; i < results.size(); ++i) {
        const Change& change = held[i].first;
        if (m_key.fieldPart >= 0)
            results[i].keyAfter = m_key.withField(change.key, change.newValue);
        m_single.readBack(results[i].keyAfter.isEmpty() ? change.key : results[i].keyAfter,
                          change.newValue, results[i]);
    }
}

std::optional<RowWriter::Results> BatchWriter::sendTogether()
{
    const auto& held = m_held.changes();
    const int rows = int(held.size());
    std::optional<QSqlQuery> partial;
    QSqlQuery& statement = statementFor(rows, partial);
    const QVariantList values = boundValues();
    // The rows are written in the order read where the table's update
    // triggers or rules see each write (and so their order): the batches'
    // statements then take turns. Else they may run side by side.
    if (m_single.m_readBack && !m_control.turn())
        return each(held, Outcome::Stopped);
    for (;;) {
        m_connection.begin();
        try {
            const int affected = m_connection.run(statement, values);
            Results results = each(held, Outcome::Written);
            if (affected < 0 && !statement.isSelect()) {
                // What the statement did is not known: undone, then sent
                // again row by row unless a stop was asked for.
                m_connection.rollback();
                return m_control.stop() ? std::optional(each(held, Outcome::Stopped))
                                        : std::nullopt;
            }
            const int written = statement.isSelect() ? takeReturned(statement, results) : affected;
            if (written != rows) { // a row changed since it was read: row by row
                m_connection.rollback();
                return std::nullopt;
            }
            m_control.passOn();
            completeWritten(results);
            settle(results);
            m_connection.commit();
            return results;
        } catch (const RuntimeError& error) {
            m_connection.rollback();
            if (error.number() == RuntimeError::ConnectionLost ||
                error.number() == RuntimeError::FileAccessError)
                throw;
            if (m_control.stop()) // rolled back: nothing of it is written
                return each(held, Outcome::Stopped);
            if (error.number() != RuntimeError::LockTimeout)
                return std::nullopt; // a row the database refuses: row by row
            m_control.wait();
        }
    }
}
