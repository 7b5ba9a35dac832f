#pragma once

#include "change/Journal.h"
#include "change/RowWriter.h"

#include <QHash>
#include <memory>

// Puts each batch of changes in the journal, committed, before it passes
// them on to the writer it wraps under their rows' ids in the journal as
// tickets; that writer ends in a JournalMarkingWriter, here or on the
// thread of a ThreadedWriter, so that the journaling of one batch goes on
// while the batch before is written.
class JournalingWriter : public RowWriter
{
public:
    JournalingWriter(Journal& journal, qint64 run, std::unique_ptr<RowWriter> inner);

    int batchRows() const override { return m_inner->batchRows(); }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void drop() override
    {
        m_held.clear();
        m_inner->drop();
    }

private:
    void pass();

    Journal& m_journal;
    qint64 m_run;
    std::unique_ptr<RowWriter> m_inner;
    HeldChanges m_held;              // not yet journaled
    QHash<qint64, qint64> m_tickets; // journal row -> caller's ticket, while in flight
};
