#include "change/RowWriter.h"

#include "app/RuntimeError.h"
#include "db/Oracle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <utility>

namespace
{

using Result = RowWriter::Result;
using Outcome = RowWriter::Outcome;

Result outcomeOf(qint64 ticket, Outcome outcome)
{
    Result result;
    result.ticket = ticket;
    result.outcome = outcome;
    return result;
}

// The same outcome for every change held.
RowWriter::Results each(const QList<std::pair<Change, qint64>>& held, Outcome outcome)
{
    RowWriter::Results results;
    results.reserve(held.size());
    for (const auto& change : held)
        results << outcomeOf(change.second, outcome);
    return results;
}

Result failure(qint64 ticket, const RuntimeError& error)
{
    Result result;
    result.ticket = ticket;
    result.outcome = Outcome::Failed;
    result.errorNumber = error.number();
    result.error = error.description();
    return result;
}

// The session settings once, before the first write.
void prepareSession(Oracle::Connection& connection)
{
    for (const QString& setting : connection.dialect().writerSettings())
        connection.execute(setting);
}

} // namespace

void HeldChanges::add(const Change& change, qint64 ticket)
{
    qsizetype characters =
        change.oldValue.size() + change.newValue.size() + change.digest.toString().size();
    for (const QVariant& part : change.key)
        characters += part.toString().size();
    m_characters += characters;
    m_changes.append({change, ticket});
}

QList<std::pair<Change, qint64>> HeldChanges::take()
{
    m_characters = 0;
    return std::exchange(m_changes, {});
}

QString NotAppliedMessage()
{
    return QStringLiteral("The database did not apply the change to this row.");
}

DirectWriter::DirectWriter(Oracle::Connection& connection, const QString& table,
                           const QString& field, const Oracle::RowKey& key, WriteControl control)
    : m_connection(connection), m_statement(connection.dialect().rowWrite(table, field, key)),
      m_holds(connection.dialect().rowHolds(table, field, key)),
      m_value(connection.dialect().rowValue(table, field, key)),
      m_triggers(connection.dialect().updateTriggerQuery()),
      m_trigger(connection.dialect().updateTriggerValues(table)),
      m_lock(connection.dialect().rowLock(table, key)), m_key(key), m_control(std::move(control))
{
}

void DirectWriter::write(const Change& change, qint64 ticket)
{
    Result result;
    bool transaction = false;
    try {
        if (!m_prepared)
            prepare();
        // Where the key moves, or the value is read back, the write and what
        // is told of it stand or fall together; a write whose outcome is
        // unknown is then rolled back.
        transaction = m_key.moves() || !m_lock.isEmpty() || m_readBack;
        if (transaction)
            m_connection.begin();
        result = send(change, ticket);
        if (result.outcome == Outcome::Written || result.outcome == Outcome::Conflict) {
            try {
                settle({result});
            } catch (const RuntimeError& error) {
                if (transaction)
                    throw;
                // Written all the same: the journal could not say so.
                result.errorNumber = error.number();
                result.error = error.description();
            }
        }
        if (transaction) {
            if (result.outcome == Outcome::Written)
                m_connection.commit();
            else
                m_connection.rollback();
        }
    } catch (const RuntimeError& error) {
        if (transaction)
            m_connection.rollback();
        result = failure(ticket, error);
    }
    done({result});
}

void DirectWriter::prepare()
{
    prepareSession(m_connection);
    QSqlQuery triggers = m_connection.select(m_triggers, m_trigger);
    m_readBack = m_connection.next(triggers) && triggers.value(0).toInt() > 0;
    triggers = QSqlQuery();
    m_prepared = m_connection.prepare(m_statement);
    if (!m_lock.isEmpty())
        m_locking = m_connection.prepare(m_lock);
}

void DirectWriter::readBack(const QVariantList& key, const QString& written, Result& result)
{
    if (!m_readBack)
        return;
    QSqlQuery query = m_connection.select(m_value, key);
    if (!m_connection.next(query))
        return;
    if (m_key.hasDigest())
        result.digest = query.value(1).toString();
    if (query.value(0).isNull())
        return;
    const QString stored = query.value(0).toString();
    if (stored != written)
        result.stored = stored;
}

int DirectWriter::rowsHolding(const QVariantList& key, const QString& value, const QVariant& digest)
{
    QVariantList values = key;
    values << value;
    if (m_key.checksDigest)
        values << digest;
    QSqlQuery query = m_connection.select(m_holds, values);
    return m_connection.next(query) ? query.value(0).toInt() : 0;
}

Result DirectWriter::send(const Change& change, qint64 ticket)
{
    QVariantList values;
    values.reserve(change.key.size() + 3);
    values.append(change.newValue);
    values.append(change.key);
    values.append(change.oldValue);
    if (m_key.checksDigest)
        values.append(change.digest);
    Result result;
    result.ticket = ticket;
    for (;;) {
        try {
            if (m_locking)
                m_connection.run(*m_locking, change.key);
            const int affected = m_connection.run(*m_prepared, values);
            bool written = affected > 0;
            if (m_prepared->isSelect()) { // the key after the write is returned
                written = m_connection.next(*m_prepared);
                const int parts = int(change.key.size());
                for (int i = 0; written && i < parts; ++i)
                    result.keyAfter << m_prepared->value(i).toString();
                if (written && m_key.returnsDigest())
                    result.digest = m_prepared->value(parts).toString();
            } else if (affected < 0) {
                // Not known whether it took effect (autocommitted): the row
                // itself tells (the digest is the row's as it was).
                written = rowsHolding(m_key.withField(change.key, change.newValue), change.newValue,
                                      change.digest) > 0;
            }
            if (written) {
                result.outcome = Outcome::Written;
                if (m_key.fieldPart >= 0)
                    result.keyAfter = m_key.withField(change.key, change.newValue);
                readBack(result.keyAfter.isEmpty() ? change.key : result.keyAfter, change.newValue,
                         result);
            } else if (rowsHolding(change.key, change.oldValue, change.digest) > 0) {
                // Still as read: stopped before it was written, or left
                // alone by the database.
                if (affected < 0 && m_control.stop()) {
                    result.outcome = Outcome::Stopped;
                    return result;
                }
                return failure(ticket,
                               RuntimeError(RuntimeError::DriverError, NotAppliedMessage()));
            } else {
                result.outcome = Outcome::Conflict;
            }
            return result;
        } catch (const RuntimeError& error) {
            if (error.number() != RuntimeError::LockTimeout)
                throw;
            if (m_control.stop()) {
                result.outcome = Outcome::Stopped;
                return result;
            }
            m_control.wait();
        }
    }
}

BatchWriter::BatchWriter(Oracle::Connection& connection, const QString& table, const QString& field,
                         const Oracle::RowKey& key, WriteControl control, int rows)
    : m_connection(connection), m_table(table), m_field(field), m_key(key),
      m_control(std::move(control)),
      m_rows(qMax(1, qMin(rows, connection.dialect().batchParameters() /
                                    int(key.conditions.size() + (key.checksDigest ? 3 : 2))))),
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
            failed << failure(ticket, error);
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
            Results stopped;
            for (qsizetype j = i; j < held.size(); ++j)
                stopped << outcomeOf(held[j].second, Outcome::Stopped);
            done(stopped);
            return;
        }
        m_single.write(held[i].first, held[i].second);
    }
}

std::optional<RowWriter::Results> BatchWriter::sendTogether()
{
    const Oracle::Dialect& dialect = m_connection.dialect();
    if (m_fullText.isEmpty()) {
        if (!m_single.m_prepared)
            m_single.prepare();
        m_fullText = dialect.batchWrite(m_table, m_field, m_key, m_rows);
    }
    // A short batch has a statement of its own, unless the dialect's
    // statement is the same for any number of rows.
    const auto& held = m_held.changes();
    const int rows = int(held.size());
    std::optional<QSqlQuery> partial;
    if (rows < m_rows) {
        const QString text = dialect.batchWrite(m_table, m_field, m_key, rows);
        if (text != m_fullText)
            partial = m_connection.prepare(text);
    }
    if (!partial && !m_full)
        m_full = m_connection.prepare(m_fullText);
    QSqlQuery& statement = partial ? *partial : *m_full;
    QList<QVariantList> batch;
    batch.reserve(rows);
    for (const auto& [change, ticket] : held) {
        batch << change.key + QVariantList{change.oldValue, change.newValue};
        if (m_key.checksDigest)
            batch.last() << change.digest;
    }
    const QVariantList values = dialect.batchValues(batch);
    for (;;) {
        m_connection.begin();
        try {
            const int affected = m_connection.run(statement, values);
            Results results = each(held, Outcome::Written);
            int written = affected;
            if (statement.isSelect()) { // each written row's number in the batch and new key
                written = 0;
                const QJsonArray returned =
                    m_connection.next(statement)
                        ? QJsonDocument::fromJson(statement.value(0).toString().toUtf8()).array()
                        : QJsonArray();
                const qsizetype keyParts = m_key.names.size();
                for (const QJsonValue& row : returned) {
                    const QJsonArray parts = row.toArray();
                    const int at = parts.at(0).toInt() - 1;
                    if (at < 0 || at >= rows || !results[at].keyAfter.isEmpty())
                        continue;
                    ++written;
                    for (qsizetype i = 1; i <= keyParts; ++i)
                        results[at].keyAfter << parts.at(i).toString();
                    if (m_key.returnsDigest())
                        results[at].digest = parts.at(keyParts + 1).toString();
                }
            } else if (affected < 0) {
                // What the statement did is not known: undone, then sent
                // again row by row unless a stop was asked for.
                m_connection.rollback();
                if (m_control.stop())
                    return each(held, Outcome::Stopped);
                return std::nullopt;
            }
            if (written != rows) { // a row changed since it was read: row by row
                m_connection.rollback();
                return std::nullopt;
            }
            for (qsizetype i = 0; i < rows; ++i) {
                const Change& change = held[i].first;
                if (m_key.fieldPart >= 0)
                    results[i].keyAfter = m_key.withField(change.key, change.newValue);
                m_single.readBack(results[i].keyAfter.isEmpty() ? change.key : results[i].keyAfter,
                                  change.newValue, results[i]);
            }
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

JournalMarkingWriter::JournalMarkingWriter(Journal& journal, std::unique_ptr<RowWriter> inner)
    : m_journal(journal), m_inner(std::move(inner))
{
    m_inner->setReports(
        [this](const Results& results) {
            // A row written where its key stays, holding the value written,
            // needs no mark: undo finds it by the key it was journaled with,
            // holding its new value or not. The rows whose keys moved go in
            // one entry of the batch's moves, with their digests after the
            // write; a row a trigger rewrote is marked with the value stored
            // (a digest read back, where the key stays, alone), and a
            // conflict or a failure as such.
            QList<Journal::Mark> marks;
            QList<Journal::Move> moves;
            for (const Result& result : results) {
                if (result.outcome == Outcome::Written && !result.stored) {
                    if (!result.keyAfter.isEmpty())
                        moves.append({result.ticket, result.keyAfter, result.digest});
                    else if (result.digest)
                        marks.append({result.ticket,
                                      Journal::RowState::Written,
                                      {},
                                      std::nullopt,
                                      result.digest});
                    continue;
                }
                const Journal::RowState state =
                    result.outcome == Outcome::Written    ? Journal::RowState::Written
                    : result.outcome == Outcome::Conflict ? Journal::RowState::Conflict
                                                          : Journal::RowState::Failed;
                marks.append({result.ticket, state, result.keyAfter, result.stored, result.digest});
            }
            m_journal.recordMoves(moves);
            m_journal.markRows(marks);
            settle(results);
        },
        [this](const Results& results) {
            // With the connection lost, whether a write took effect is not
            // known: its row stays pending, and an undo looks for its new
            // value. Other failures are marked so.
            QList<Journal::Mark> failed;
            for (const Result& result : results) {
                if (result.outcome == Outcome::Failed &&
                    result.errorNumber != RuntimeError::ConnectionLost &&
                    result.errorNumber != RuntimeError::FileAccessError)
                    failed.append({result.ticket, Journal::RowState::Failed, {}});
                if (result.outcome == Outcome::Stopped)
                    failed.append({result.ticket, Journal::RowState::Failed, {}});
            }
            try {
                m_journal.markRows(failed);
            } catch (const RuntimeError&) {
                // The rows stay pending: an undo finds they were not written.
            }
            done(results);
        });
}

JournalMarkingWriter::JournalMarkingWriter(std::unique_ptr<Journal> journal,
                                           std::unique_ptr<RowWriter> inner)
    : JournalMarkingWriter(*journal, std::move(inner))
{
    m_owned = std::move(journal);
}

JournalingWriter::JournalingWriter(Journal& journal, qint64 run, std::unique_ptr<RowWriter> inner)
    : m_journal(journal), m_run(run), m_inner(std::move(inner))
{
    // The writer wrapped knows each change by its journal row: its results
    // go on under the caller's tickets.
    auto retold = [this](const Results& results) {
        Results told = results;
        for (Result& result : told)
            result.ticket = m_tickets.value(result.ticket);
        return told;
    };
    m_inner->setReports([this, retold](const Results& results) { settle(retold(results)); },
                        [this, retold](const Results& results) {
                            const Results told = retold(results);
                            for (const Result& result : results)
                                m_tickets.remove(result.ticket);
                            done(told);
                        });
}

void JournalingWriter::write(const Change& change, qint64 ticket)
{
    m_held.add(change, ticket);
    if (m_held.full(m_inner->batchRows()))
        pass();
}

void JournalingWriter::flush()
{
    if (!m_held.isEmpty())
        pass();
    m_inner->flush();
}

// The held changes go in the journal, committed together, then on to the
// writer wrapped.
void JournalingWriter::pass()
{
    const auto held = m_held.take();
    QList<Change> changes;
    changes.reserve(held.size());
    for (const auto& [change, ticket] : held)
        changes << change;
    QList<qint64> rows;
    try {
        rows = m_journal.addRows(m_run, changes);
    } catch (const RuntimeError& error) {
        Results failed;
        for (const auto& [change, ticket] : held)
            failed << failure(ticket, error);
        done(failed); // nothing is written that the journal cannot hold
        return;
    }
    for (qsizetype i = 0; i < held.size(); ++i) {
        m_tickets.insert(rows[i], held[i].second);
        m_inner->write(held[i].first, rows[i]);
    }
}
