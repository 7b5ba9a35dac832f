#include "change/JournaledWriter.h"

#include "app/RuntimeError.h"

namespace
{

using Outcome = RowWriter::Outcome;

} // namespace

JournaledWriter::JournaledWriter(Journal& journal, qint64 run, std::unique_ptr<RowWriter> inner)
    : m_journal(journal), m_run(run), m_inner(std::move(inner))
{
    m_inner->setReports(
        [this](const Results& results) {
            markResults(results);
            settle(retold(results));
        },
        [this](const Results& results) {
            markFailures(results);
            const Results told = retold(results);
            for (const Result& result : results)
                m_tickets.remove(result.ticket);
            done(told);
        });
}

JournaledWriter::JournaledWriter(std::unique_ptr<Journal> journal, qint64 run,
                                 std::unique_ptr<RowWriter> inner)
    : JournaledWriter(*journal, run, std::move(inner))
{
    m_owned = std::move(journal);
}

void JournaledWriter::write(const Change& change, qint64 ticket)
{
    if (m_held.isEmpty())
        m_held.reserve(m_inner->batchRows());
    m_held.add(change, ticket);
    if (m_held.full(m_inner->batchRows()))
        journalBatch();
}

void JournaledWriter::flush()
{
    if (!m_held.isEmpty())
        journalBatch();
    m_inner->flush();
}

void JournaledWriter::journalBatch()
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

// A row written where its key stays, holding the value written, needs no
// mark: undo finds it by the key it was journaled with, holding its new
// value or not. The rows whose keys moved go in one entry of the batch's
// moves; a row a trigger rewrote is marked with the value stored (a digest
// read back, where the key stays, alone), and a conflict or a failure as
// such.
void JournaledWriter::markResults(const Results& results)
{
    QList<Journal::Mark> marks;
    QList<Journal::Move> moves;
    for (const Result& result : results) {
        if (result.outcome == Outcome::Written && !result.stored) {
            if (!result.keyAfter.isEmpty())
                moves.append({result.ticket, result.keyAfter, result.digest});
            else if (result.digest)
                marks.append(
                    {result.ticket, Journal::RowState::Written, {}, std::nullopt, result.digest});
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
}

void JournaledWriter::markFailures(const Results& results)
{
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
}

RowWriter::Results JournaledWriter::retold(const Results& results) const
{
    Results told = results;
    for (Result& result : told)
        result.ticket = m_tickets.value(result.ticket);
    return told;
}
