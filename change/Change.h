#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <utility>

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
    static constexpr int MaxReserved = 10000;

    void add(const Change& change, qint64 ticket);
    bool full(int rows) const { return m_changes.size() >= rows || m_characters >= MaxCharacters; }
    bool isEmpty() const { return m_changes.isEmpty(); }
    // Room for `rows` changes (the most a batch holds), where that is few
    // enough to hold.
    void reserve(int rows) { m_changes.reserve(qMin(rows, MaxReserved)); }
    qsizetype size() const { return m_changes.size(); }
    const QList<std::pair<Change, qint64>>& changes() const { return m_changes; }
    // Hands the changes over and holds none.
    QList<std::pair<Change, qint64>> take();
    void clear() { take(); }

private:
    QList<std::pair<Change, qint64>> m_changes;
    qsizetype m_characters = 0;
};
