#include "change/DirectWriter.h"

#include "app/RuntimeError.h"
#include "db/Oracle.h"

namespace
{

using Result = RowWriter::Result;
using Outcome = RowWriter::Outcome;

// The session settings once, before the first write.
void prepareSession(Oracle::Connection& connection)
{
    for (const QString& setting : connection.dialect().writerSettings())
        connection.execute(setting);
}

} // namespace

DirectWriter::DirectWriter(Oracle::Connection& connection, const QString& table,
                           const QString& field, const Db::RowKey& key, WriteControl control)
    : m_connection(connection), m_statement(connection.dialect().rowWrite(table, field, key)),
      m_holds(connection.dialect().rowHolds(table, field, key)),
      m_value(connection.dialect().rowValue(table, field, key)),
      m_triggers(connection.dialect().updateTriggerQuery()),
      m_trigger(connection.dialect().updateTriggerValues(table)),
      m_lock(connection.dialect().has(Db::Dialect::Capability::RowLock)
                 ? connection.dialect().rowLock(table, key)
                 : QString()),
      m_key(key), m_control(std::move(control))
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
        result = Failure(ticket, error);
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
                return Failure(ticket,
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
