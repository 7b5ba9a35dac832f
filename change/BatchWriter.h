#pragma once

#include "app/RuntimeError.h"
#include "change/DirectWriter.h"

#include <QSqlQuery>
#include <QString>
#include <optional>

// Changes in batches of up to `rows` (or about 8 MB of text), each batch one
// prepared statement in a transaction of its own, committed only when every
// row of it was written; otherwise the batch is rolled back and sent again
// in halves, each a batch of its own, down to single rows, which go row by
// row (the same compare-and-set statement as DirectWriter's), so that
// exactly the refused row fails and exactly the changed one is a conflict.
// Where the dialect has a transaction write more rows than a batch, several
// batches share one, each under a savepoint (rolled back to alone), and are
// told once it is committed: when it holds that many rows, at a flush, and
// when nothing more comes for now (pause, drop).
// After a stop nothing more is sent: the rows not written are Stopped.
class BatchWriter : public RowWriter
{
public:
    BatchWriter(Oracle::Connection& connection, const QString& table, const QString& field,
                const Db::RowKey& key, WriteControl control = {}, int rows = 1000);
    ~BatchWriter() override;

    int batchRows() const override { return m_rows; }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void pause() override { endTransaction(); }
    void drop() override
    {
        m_held.clear();
        endTransaction();
    }

private:
    using Held = QList<std::pair<Change, qint64>>;

    void send();
    // Sends `part` (the whole batch, or a part of it), telling what became
    // of its rows; `broken`: the failure that ends what is left to send.
    void sendPart(const Held& part, bool whole, std::optional<RuntimeError>& broken);
    // Results of `held` in one statement, or none when it must go in parts
    // (`written`: the rows the statement wrote before it was undone, where
    // that is known, else -1). Throws where the connection or the journal
    // is lost.
    std::optional<Results> sendTogether(const Held& held, bool whole, int& written);
    QSqlQuery& statementFor(int rows, std::optional<QSqlQuery>& partial);
    QVariantList boundValues(const Held& part) const;
    int takeReturned(QSqlQuery& statement, Results& results);
    void completeWritten(const Held& part, Results& results);
    bool shared() const { return m_transactionRows > m_rows; }
    // The batch just sent undone: back to its savepoint where its
    // transaction holds others, else the transaction rolled back. Where
    // the database ended the transaction itself, its batches are told as
    // `error` says (stopped, where a stop was asked for).
    void undoBatch(const RuntimeError& error);
    // The shared transaction committed and its batches told (where the
    // commit fails, as failed; rolled back, where nothing was written in it).
    void endTransaction();
    void lose(const RuntimeError& error);

    Oracle::Connection& m_connection;
    QString m_table;
    QString m_field;
    Db::RowKey m_key;
    WriteControl m_control;
    int m_rows;
    int m_transactionRows;
    HeldChanges m_held;
    bool m_open = false;             // a transaction is open
    Results m_written;               // the batches written in it, told once it is committed
    QString m_fullText;              // the statement of a full batch
    std::optional<QSqlQuery> m_full; // the same, prepared once
    DirectWriter m_single;
};
