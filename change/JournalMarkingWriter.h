#pragma once

#include "change/Journal.h"
#include "change/RowWriter.h"

#include <memory>

// Records in the journal what became of each write of the writer it wraps,
// before that writer makes the write final: the key a row has after the
// write (where the key moves), a conflict, a failure. Its tickets are the
// rows' ids in the journal (a JournalingWriter's, before it).
class JournalMarkingWriter : public RowWriter
{
public:
    JournalMarkingWriter(Journal& journal, std::unique_ptr<RowWriter> inner);
    // The same, with a journal of its own.
    JournalMarkingWriter(std::unique_ptr<Journal> journal, std::unique_ptr<RowWriter> inner);

    int batchRows() const override { return m_inner->batchRows(); }
    void write(const Change& change, qint64 row) override { m_inner->write(change, row); }
    void flush() override { m_inner->flush(); }
    void drop() override { m_inner->drop(); }

private:
    std::unique_ptr<Journal> m_owned;
    Journal& m_journal;
    std::unique_ptr<RowWriter> m_inner;
};
