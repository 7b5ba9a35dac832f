#pragma once

#include "change/DirectWriter.h"

#include <QSqlQuery>
#include <QString>
#include <optional>

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
                const Db::RowKey& key, WriteControl control = {}, int rows = 1000);

    int batchRows() const override { return m_rows; }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void drop() override { m_held.clear(); }

private:
    void send();
    // Results of the whole batch, or none when it must go row by row.
    std::optional<Results> sendTogether();
    QSqlQuery& statementFor(int rows, std::optional<QSqlQuery>& partial);
    QVariantList boundValues() const;
    int takeReturned(QSqlQuery& statement, Results& results);
    void completeWritten(Results& results);

    Oracle::Connection& m_connection;
    QString m_table;
    QString m_field;
    Db::RowKey m_key;
    WriteControl m_control;
    int m_rows;
    HeldChanges m_held;
    QString m_fullText;              // the statement of a full batch
    std::optional<QSqlQuery> m_full; // the same, prepared once
    DirectWriter m_single;
};
