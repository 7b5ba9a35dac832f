#include "change/JournalingWriter.h"

#include "app/RuntimeError.h"

namespace
{

using Outcome = RowWriter::Outcome;

} // namespace

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
            failed << Failure(ticket, error);
        done(failed); // nothing is written that the journal cannot hold
        return;
    }
    for (qsizetype i = 0; i < held.size(); ++i) {
        m_tickets.insert(rows[i], held[i].second);
        m_inner->write(held[i].first, rows[i]);
    }
}
