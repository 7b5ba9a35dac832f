#pragma once

#include "change/Journal.h"
#include "db/Dialect.h"

#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

namespace Oracle
{
class Connection;
}

// One row's change: the row key's texts (in the key's order), the value the
// row held when it was read and the value it is to hold; where the key is a
// row address, the digest of the row's other columns as read (a Null where
// none is known), which an undo also compares.
struct Change {
    QVariantList key;
    QString oldValue;
    QString newValue;
    QVariant digest = {};
};

// Changes held back to go to the database (or the journal) together: full
// at a number of rows, or at about 8 MB of text (keys, old and new values),
// so that a table of long values goes in small batches.
class HeldChanges
{
public:
    static constexpr qsizetype MaxCharacters = 4 * 1024 * 1024; // UTF-16: about 8 MB

    void add(const Change& change, qint64 ticket);
    bool full(int rows) const { return m_changes.size() >= rows || m_characters >= MaxCharacters; }
    bool isEmpty() const { return m_changes.isEmpty(); }
    qsizetype size() const { return m_changes.size(); }
    const QList<std::pair<Change, qint64>>& changes() const { return m_changes; }
    // Hands the changes over and holds none.
    QList<std::pair<Change, qint64>> take();
    void clear() { take(); }

private:
    QList<std::pair<Change, qint64>> m_changes;
    qsizetype m_characters = 0;
};

// How a writer learns that the run is to stop, and tells that a write waits
// for a row another connection holds. Either may be unset.
struct WriteControl {
    std::function<bool()> stopRequested;
    std::function<void()> waiting;

    bool stop() const { return stopRequested && stopRequested(); }
    void wait() const
    {
        if (waiting)
            waiting();
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

// One compare-and-set statement per row, prepared once, each taking effect
// on its own. While another session holds the row, the write waits in short
// slices, telling `control` it waits, until a stop is asked for. A row the
// statement left alone is a conflict when it no longer holds the value read,
// else a failure (the database did not apply the change); a write whose
// outcome is not known is settled by reading the row back. Where the write
// moves the row's key, or the row is locked first, each write is its own
// transaction, committed after the settling.
class DirectWriter : public RowWriter
{
public:
    DirectWriter(Oracle::Connection& connection, const QString& table, const QString& field,
                 const Oracle::RowKey& key, WriteControl control = {});

    void write(const Change& change, qint64 ticket) override;

private:
    Result send(const Change& change, qint64 ticket);
    // The number of rows the key names that hold `value` (and, where the
    // key checks it, have `digest`).
    int rowsHolding(const QVariantList& key, const QString& value, const QVariant& digest);
    // Where the table's triggers may store another value than the one
    // written: the value the row the key names holds, when it is not
    // `written`, and the row's digest, where the key has one.
    void readBack(const QVariantList& key, const QString& written, Result& result);
    // The session settings, the statements prepared, and whether the
    // table's triggers may store other values than those written.
    void prepare();

    Oracle::Connection& m_connection;
    QString m_statement;
    QString m_holds;
    QString m_value;        // the field's value by the key
    QString m_triggers;     // counts the table's update triggers
    QVariantList m_trigger; // its bound values
    QString m_lock;         // run first in the write's transaction, where the dialect has one
    Oracle::RowKey m_key;
    WriteControl m_control;
    std::optional<QSqlQuery> m_prepared;
    std::optional<QSqlQuery> m_locking;
    bool m_readBack = false;

    friend class BatchWriter;
};

// Changes in batches of up to `rows` (or about 8 MB of text), each batch one
// prepared statement in a transaction of its own, committed only when every
// row of it was written; otherwise the batch is rolled back and sent again
// row by row (the same compare-and-set statement as DirectWriter's), so that
// exactly the refused row fails and exactly the changed one is a conflict.
// After a stop nothing more is sent: the rows not written are Stopped.
class BatchWriter : public RowWriter
{
public:
    BatchWriter(Oracle::Connection& connection, const QString& table, const QString& field,
                const Oracle::RowKey& key, WriteControl control = {}, int rows = 1000);

    int batchRows() const override { return m_rows; }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void drop() override { m_held.clear(); }

private:
    void send();
    // Results of the whole batch, or none when it must go row by row.
    std::optional<Results> sendTogether();

    Oracle::Connection& m_connection;
    QString m_table;
    QString m_field;
    Oracle::RowKey m_key;
    WriteControl m_control;
    int m_rows;
    HeldChanges m_held;
    QString m_fullText;              // the statement of a full batch
    std::optional<QSqlQuery> m_full; // the same, prepared once
    DirectWriter m_single;
};

// Writes nothing: hands every change to `seen`, as if it were written.
class DryRunWriter : public RowWriter
{
public:
    explicit DryRunWriter(std::function<void(const Change&)> seen) : m_seen(std::move(seen)) {}

    void write(const Change& change, qint64 ticket) override
    {
        if (m_seen)
            m_seen(change);
        Result result;
        result.ticket = ticket;
        result.outcome = Outcome::Written;
        settle({result});
        done({result});
    }

private:
    std::function<void(const Change&)> m_seen;
};

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
