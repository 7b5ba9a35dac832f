#include "change/RowWriter.h"

#include "app/RuntimeError.h"
#include "db/Oracle.h"

DirectWriter::DirectWriter(Oracle::Connection& connection, QString statement, bool keyMoves,
                           std::function<bool()> keepWaiting)
    : m_connection(connection), m_statement(std::move(statement)), m_keyMoves(keyMoves),
      m_keepWaiting(std::move(keepWaiting))
{
}

RowWriter::Result DirectWriter::doWrite(const Change& change, const Settle& settle)
{
    if (!m_prepared) {
        for (const QString& setting : m_connection.dialect().writerSettings())
            m_connection.execute(setting);
        m_prepared = m_connection.prepare(m_statement);
    }
    QVariantList values;
    values.reserve(change.key.size() + 2);
    values.append(change.newValue);
    values.append(change.key);
    values.append(change.oldValue);
    const int keyColumns = static_cast<int>(change.key.size());
    if (!settle) // nothing to settle: the write is final as it is sent
        return send(values, keyColumns);
    if (!m_keyMoves) { // the key stays: a settling after the write still finds the row
        const Result result = send(values, keyColumns);
        settle(result);
        return result;
    }
    // The row's new key is settled before the write is made final.
    m_connection.begin();
    try {
        const Result result = send(values, keyColumns);
        settle(result);
        m_connection.commit();
        return result;
    } catch (...) {
        m_connection.rollback();
        throw;
    }
}

RowWriter::Result DirectWriter::send(const QVariantList& values, int keyColumns)
{
    for (;;) {
        try {
            const int affected = m_connection.run(*m_prepared, values);
            Result result;
            if (m_prepared->isSelect()) { // the key after the write is returned
                if (m_connection.next(*m_prepared)) {
                    result.outcome = Outcome::Written;
                    for (int i = 0; i < keyColumns; ++i)
                        result.keyAfter << m_prepared->value(i).toString();
                }
            } else if (affected > 0) {
                result.outcome = Outcome::Written;
            }
            return result;
        } catch (const RuntimeError& error) {
            if (error.number() != RuntimeError::LockTimeout)
                throw;
            if (m_keepWaiting && !m_keepWaiting())
                return {Outcome::Stopped, {}};
        }
    }
}

RowWriter::Result JournalingWriter::doWrite(const Change& change, const Settle& settle)
{
    const qint64 row = m_journal.addRow(m_run, change);
    try {
        return m_inner->write(change, [&](const Result& result) {
            switch (result.outcome) {
            case Outcome::Written:
                m_journal.markRow(row, Journal::RowState::Written, result.keyAfter);
                break;
            case Outcome::Conflict:
                m_journal.markRow(row, Journal::RowState::Conflict);
                break;
            case Outcome::Stopped:
                m_journal.markRow(row, Journal::RowState::Failed);
                break;
            }
            if (settle)
                settle(result);
        });
    } catch (const RuntimeError& error) {
        // With the connection lost, whether the write took effect is not
        // known: the row stays pending, and an undo looks for its new value.
        if (error.number() != RuntimeError::ConnectionLost)
            m_journal.markRow(row, Journal::RowState::Failed);
        throw;
    }
}
