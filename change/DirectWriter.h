#pragma once

#include "change/RowWriter.h"
#include "db/Dialect.h"

#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <optional>

namespace Oracle
{
class Connection;
}

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
                 const Db::RowKey& key, WriteControl control = {});

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
    Db::RowKey m_key;
    WriteControl m_control;
    std::optional<QSqlQuery> m_prepared;
    std::optional<QSqlQuery> m_locking;
    bool m_readBack = false;

    friend class BatchWriter;
};
