#include "change/RowWriter.h"

#include "db/Oracle.h"

DirectWriter::DirectWriter(Oracle::Connection& connection, QString statement)
    : m_connection(connection), m_statement(std::move(statement))
{
}

RowWriter::Outcome DirectWriter::write(const Change& change)
{
    if (!m_prepared)
        m_prepared = m_connection.prepare(m_statement);
    QVariantList values;
    values.reserve(change.key.size() + 2);
    values.append(change.newValue);
    values.append(change.key);
    values.append(change.oldValue);
    return m_connection.run(*m_prepared, values) > 0 ? Outcome::Written : Outcome::Conflict;
}
