#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariantList>
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
    };

    virtual ~RowWriter() = default;

    // Throws RuntimeError when the database refuses the write.
    virtual Outcome write(const Change& change) = 0;
};

// One compare-and-set statement per row, prepared once, each taking effect
// on its own.
class DirectWriter : public RowWriter
{
public:
    // `statement` is the dialect's row write for the table, field and key.
    DirectWriter(Oracle::Connection& connection, QString statement);

    Outcome write(const Change& change) override;

private:
    Oracle::Connection& m_connection;
    QString m_statement;
    std::optional<QSqlQuery> m_prepared;
};
