#pragma once

#include "change/Journal.h"

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
// row held when it was read and the value it is to hold.
struct Change {
    QVariantList key;
    QString oldValue;
    QString newValue;
};

// Where the change run's changes go. A writer writes a row only while it
// still holds the value read; what it cannot write it says.
class RowWriter
{
public:
    enum class Outcome {
        Written,
        Conflict, // the row changed or went since it was read: left alone
        Stopped,  // a stop was asked for while the write waited: not written
    };
    struct Result {
        Outcome outcome = Outcome::Conflict;
        QVariantList keyAfter; // the key the row has after the write, when it moved
    };

    // Told what became of a write before the write is made final: a
    // journal records the outcome and the row's new key there, so that no
    // write it does not know of outlives a crash.
    using Settle = std::function<void(const Result&)>;

    virtual ~RowWriter() = default;

    // Throws RuntimeError when the database refuses the write, or when
    // `settle` throws (the write is then undone where the database can).
    Result write(const Change& change, const Settle& settle = {})
    {
        return doWrite(change, settle);
    }

protected:
    virtual Result doWrite(const Change& change, const Settle& settle) = 0;
};

// One compare-and-set statement per row, prepared once, each taking effect
// on its own. While another session holds the row, the write waits in short
// slices; between them `keepWaiting` is asked whether to go on. Where the
// write moves the row's key, a write with something to settle is its own
// transaction, committed only after the settling.
class DirectWriter : public RowWriter
{
public:
    // `statement` is the dialect's row write for the table, field and key;
    // `keyMoves` whether it returns the key the row moved to.
    DirectWriter(Oracle::Connection& connection, QString statement, bool keyMoves,
                 std::function<bool()> keepWaiting = {});

protected:
    Result doWrite(const Change& change, const Settle& settle) override;

private:
    Result send(const QVariantList& values, int keyColumns);

    Oracle::Connection& m_connection;
    QString m_statement;
    bool m_keyMoves;
    std::function<bool()> m_keepWaiting;
    std::optional<QSqlQuery> m_prepared;
};

// Writes nothing: hands every change to `seen`, as if it were written.
class DryRunWriter : public RowWriter
{
public:
    explicit DryRunWriter(std::function<void(const Change&)> seen) : m_seen(std::move(seen)) {}

protected:
    Result doWrite(const Change& change, const Settle& settle) override
    {
        if (m_seen)
            m_seen(change);
        const Result result{Outcome::Written, {}};
        if (settle)
            settle(result);
        return result;
    }

private:
    std::function<void(const Change&)> m_seen;
};

// Puts each change in the journal, committed, before the writer it wraps
// sends it; then records what became of it and the key the row has now.
class JournalingWriter : public RowWriter
{
public:
    JournalingWriter(Journal& journal, qint64 run, std::unique_ptr<RowWriter> inner)
        : m_journal(journal), m_run(run), m_inner(std::move(inner))
    {
    }

protected:
    Result doWrite(const Change& change, const Settle& settle) override;

private:
    Journal& m_journal;
    qint64 m_run;
    std::unique_ptr<RowWriter> m_inner;
};
