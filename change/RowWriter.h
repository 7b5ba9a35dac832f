#pragma once

#include "change/Change.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>

class RuntimeError;

// How a writer learns that the run is to stop, and tells that a write waits
// for a row another connection holds. Any may be unset.
struct WriteControl {
    std::function<bool()> stopRequested;
    std::function<void()> waiting;
    // Where batches go from two threads: a batch's statements wait for the
    // turn of the batch before them (false: a stop came first), so that the
    // rows are written in the order read (where triggers see that order);
    // the turn passes on once the batch's statement went through, before
    // its results are read, journaled and committed.
    std::function<bool()> takeTurn;
    std::function<void()> passTurn;

    bool stop() const { return stopRequested && stopRequested(); }
    void wait() const
    {
        if (waiting)
            waiting();
    }
    bool turn() const { return !takeTurn || takeTurn(); }
    void passOn() const
    {
        if (passTurn)
            passTurn();
    }
};

// The description of a write the database did not apply to a row that still
// holds the value read (a row-level security policy hid it, or a trigger
// dropped the change).
QString NotAppliedMessage();

// Where the change run's changes go. A writer writes a row only while it
// still holds the value read; what became of each change it tells, now or
// when the change's batch goes to the database.
class RowWriter
{
public:
    enum class Outcome {
        Written,
        Conflict, // the row changed or went since it was read: left alone
        Stopped,  // a stop was asked for while the write waited: not written
        Failed,   // the database refused the write: see the error
    };
    struct Result {
        qint64 ticket = 0; // the caller's number for the change
        Outcome outcome = Outcome::Failed;
        QVariantList keyAfter; // the key the row has after the write, where it moved
        int errorNumber = 0;   // a RuntimeError's number (also on a written row whose
        QString error;         // journaling failed), and its description
        // The value the database stored, where it is not the one written (a
        // trigger rewrote it); read back in the write's transaction.
        std::optional<QString> stored;
        // Where the key is a row address: the row's digest after the write,
        // where the write returned it or it was read back.
        std::optional<QString> digest;
    };
    using Results = QList<Result>;
    using Report = std::function<void(const Results&)>;

    // A result with no more to say than its outcome; a failure with the
    // error's number and description.
    static Result Told(qint64 ticket, Outcome outcome);
    static Result Failure(qint64 ticket, const RuntimeError& error);

    virtual ~RowWriter() = default;

    // `settle` is told of results before their writes are final (a journal
    // records them there, so that no write it does not know of outlives a
    // crash; if it throws, the writes are undone where the database can);
    // `done` is told of them after.
    void setReports(Report settle, Report done)
    {
        m_settle = std::move(settle);
        m_done = std::move(done);
    }

    // How many changes go to the database together.
    virtual int batchRows() const { return 1; }
    // Takes a change; its result is told now or when its batch goes.
    virtual void write(const Change& change, qint64 ticket) = 0;
    // Sends what is held back and tells its results.
    virtual void flush() {}
    // Nothing more comes for now: what was written is made final and told
    // (a transaction kept open over several batches is committed).
    virtual void pause() {}
    // Forgets what is held back, unsent (the run was stopped).
    virtual void drop() {}

protected:
    bool settles() const { return static_cast<bool>(m_settle); }
    void settle(const Results& results) const
    {
        if (m_settle)
            m_settle(results);
    }
    void done(const Results& results) const
    {
        if (m_done)
            m_done(results);
    }

private:
    Report m_settle;
    Report m_done;
};
