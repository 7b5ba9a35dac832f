#include "change/JournalMarkingWriter.h"

#include "app/RuntimeError.h"

namespace
{

using Outcome = RowWriter::Outcome;

} // namespace

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
