#include "change/BatchWriter.h"

#include "app/RuntimeError.h"
#include "db/Oracle.h"
#include "db/PackedRows.h"

#include <algorithm>

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
      m_rows(qMax(1, std::min({rows, connection.dialect().batchRows(),
                               connection.dialect().batchParameters() /
                                   int(key.size() + (key.checksDigest ? 3 : 2))}))),
      // Several batches a transaction where the dialect's own do not fill one.
      m_transactionRows(connection.dialect().transactionRows() > connection.dialect().batchRows()
                            ? qMax(m_rows, connection.dialect().transactionRows())
                            : m_rows),
      m_single(connection, table, field, key, m_control)
{
}

BatchWriter::~BatchWriter()
{
    if (m_open) // nothing more can be told
        m_connection.rollback();
}

void BatchWriter::write(const Change& change, qint64 ticket)
{
    if (m_held.isEmpty())
        m_held.reserve(m_rows);
    m_held.add(change, ticket);
    if (m_held.full(m_rows))
        send();
}

void BatchWriter::flush()
{
    if (!m_held.isEmpty())
        send();
    endTransaction();
}

void BatchWriter::endTransaction()
{
    if (!m_open)
        return;
    if (m_written.isEmpty()) {
        m_open = false;
        m_connection.rollback();
        return;
    }
    try {
        m_connection.commit();
    } catch (const RuntimeError& error) {
        lose(error);
        return;
    }
    m_open = false;
    done(std::exchange(m_written, {}));
}

// The transaction is gone with the batches written in it.
void BatchWriter::lose(const RuntimeError& error)
{
    m_connection.rollback();
    m_open = false;
    Results written = std::exchange(m_written, {});
    for (Result& result : written)
        result = m_control.stop() ? Told(result.ticket, Outcome::Stopped)
                                  : Failure(result.ticket, error);
    if (!written.isEmpty())
        done(written);
}

void BatchWriter::undoBatch(const RuntimeError& error)
{
    if (!shared() || m_written.isEmpty()) {
        m_connection.rollback();
        m_open = false;
        return;
    }
    try {
        const QStringList savepoint = m_connection.dialect().batchSavepoint();
        m_connection.execute(savepoint.at(2));
        m_connection.execute(savepoint.at(1));
    } catch (const RuntimeError&) {
        lose(error);
    }
}

void BatchWriter::send()
{
    // The row-by-row writer tells its results as this one would.
    m_single.setReports([this](const Results& results) { settle(results); },
                        [this](const Results& results) { done(results); });
    std::optional<RuntimeError> broken;
    sendPart(m_held.take(), true, broken);
}

// A part that cannot go whole goes again in halves while most of its rows
// were written, else row by row: a row refused or changed since among
// thousands costs a few statements, not one a row. After a lost connection
// or journal nothing more is sent.
void BatchWriter::sendPart(const Held& part, bool whole, std::optional<RuntimeError>& broken)
{
    if (!broken && !whole && m_control.stop())
        broken = RuntimeError::stopped();
    if (broken) {
        Results failed;
        for (const auto& [change, ticket] : part)
            failed << (broken->number() == RuntimeError::Stopped ? Told(ticket, Outcome::Stopped)
                                                                 : Failure(ticket, *broken));
        done(failed);
        return;
    }
    int written = -1;
    if (whole || part.size() > 1) {
        std::optional<Results> together;
        try {
            together = sendTogether(part, whole, written);
        } catch (const RuntimeError& error) {
            broken = error;
            endTransaction(); // the batches before stand or fall on their own
            sendPart(part, whole, broken);
            return;
        }
        if (together) {
            if (!together->isEmpty())
                done(*together);
            return;
        }
    }
    if (part.size() > 1 && (written < 0 || 2 * written >= part.size())) {
        const qsizetype half = part.size() / 2;
        sendPart(part.mid(0, half), false, broken);
        sendPart(part.mid(half), false, broken);
        return;
    }
    endTransaction(); // each row its own
    for (qsizetype i = 0; i < part.size(); ++i) {
        if (m_control.stop()) { // the rest is not sent
            done(each(part.mid(i), Outcome::Stopped));
            return;
        }
        m_single.write(part[i].first, part[i].second);
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

QVariantList BatchWriter::boundValues(const Held& part) const
{
    QList<QVariantList> batch;
    batch.reserve(part.size());
    for (const auto& [change, ticket] : part) {
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
void BatchWriter::completeWritten(const Held& part, Results& results)
{
    for (qsizetype i = 0; i < results.size(); ++i) {
        const Change& change = part[i].first;
        if (m_key.fieldPart >= 0)
            results[i].keyAfter = m_key.withField(change.key, change.newValue);
        m_single.readBack(results[i].keyAfter.isEmpty() ? change.key : results[i].keyAfter,
                          change.newValue, results[i]);
    }
}

std::optional<RowWriter::Results> BatchWriter::sendTogether(const Held& held, bool whole,
                                                            int& written)
{
    const int rows = int(held.size());
    std::optional<QSqlQuery> partial;
    QSqlQuery& statement = statementFor(rows, partial);
    const QVariantList values = boundValues(held);
    // The rows are written in the order read where the table's update
    // triggers or rules see each write (and so their order): the batches'
    // statements then take turns. Else they may run side by side.
    if (m_single.m_readBack && !m_control.turn())
        return each(held, Outcome::Stopped);
    const QStringList savepoint = m_connection.dialect().batchSavepoint();
    const RuntimeError unknown(RuntimeError::DriverError,
                               QStringLiteral("The database undid the change."));
    for (;;) {
        if (!m_open) {
            m_connection.begin();
            m_open = true;
        }
        try {
            if (shared())
                m_connection.execute(savepoint.at(0));
            const int affected = m_connection.run(statement, values);
            Results results = each(held, Outcome::Written);
            if (affected < 0 && !statement.isSelect()) {
                // What the statement did is not known: undone, then sent
                // again in parts unless a stop was asked for.
                undoBatch(unknown);
                return m_control.stop() ? std::optional(each(held, Outcome::Stopped))
                                        : std::nullopt;
            }
            written = statement.isSelect() ? takeReturned(statement, results) : affected;
            if (written != rows) { // a row changed since it was read: in parts
                undoBatch(unknown);
                // A statement that returned rows is prepared again for the
                // parts: psqlODBC's cursor of them (UseDeclareFetch=1) went
                // with the transaction, and it would refuse to run again.
                if (statement.isSelect() && m_full && &statement == &*m_full)
                    m_full.reset();
                return std::nullopt;
            }
            if (whole) // a part's statements keep the batch's turn
                m_control.passOn();
            completeWritten(held, results);
            settle(results);
            if (!shared()) {
                m_open = false;
                m_connection.commit();
                return results;
            }
            m_connection.execute(savepoint.at(1));
            m_written += results;
            if (m_written.size() >= m_transactionRows)
                endTransaction();
            return Results();
        } catch (const RuntimeError& error) {
            undoBatch(error);
            if (error.number() == RuntimeError::ConnectionLost ||
                error.number() == RuntimeError::FileAccessError)
                throw;
            if (m_control.stop()) // rolled back: nothing of it is written
                return each(held, Outcome::Stopped);
            if (error.number() != RuntimeError::LockTimeout)
                return std::nullopt; // a row the database refuses: in parts
            m_control.wait();
        }
    }
}
