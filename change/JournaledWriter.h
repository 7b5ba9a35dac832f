#pragma once

#include "change/Journal.h"
#include "change/RowWriter.h"

#include <QHash>
#include <memory>

// Journals the writes of the writer it wraps, in two calls a batch: "journal
// this batch", committed before any of it is passed on, and "mark these
// results", in the write's own transaction before the write is final (the
// key a row has after the write, where the key moves; a value a trigger
// stored; a conflict, a failure). Nothing is written that the journal
// cannot hold. The writer wrapped knows each change by its row's id in the
// journal; its results go on under the caller's tickets.
class JournaledWriter : public RowWriter
{
public:
    JournaledWriter(Journal& journal, qint64 run, std::unique_ptr<RowWriter> inner);
    // The same, with a journal of its own (a writer thread's).
    JournaledWriter(std::unique_ptr<Journal> journal, qint64 run, std::unique_ptr<RowWriter> inner);

    int batchRows() const override { return m_inner->batchRows(); }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void pause() override { m_inner->pause(); }
    void drop() override
    {
        m_held.clear();
        m_inner->drop();
    }

private:
    // Journal this batch: the held changes, committed together, then passed on.
    void journalBatch();
    // Mark these results, in the write's transaction.
    void markResults(const Results& results);
    // What could not be written is marked failed, once told; a write whose
    // connection was lost stays pending (whether it took effect is not known).
    void markFailures(const Results& results);
    // The results under the caller's tickets.
    Results retold(const Results& results) const;

    std::unique_ptr<Journal> m_owned;
    Journal& m_journal;
    qint64 m_run;
    std::unique_ptr<RowWriter> m_inner;
    HeldChanges m_held;              // not yet journaled
    QHash<qint64, qint64> m_tickets; // journal row -> caller's ticket, while in flight
};
