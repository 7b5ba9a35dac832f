#include "change/Change.h"

void HeldChanges::add(const Change& change, qint64 ticket)
{
    qsizetype characters =
        change.oldValue.size() + change.newValue.size() + change.digest.toString().size();
    for (const QVariant& part : change.key)
        characters += part.toString().size();
    m_characters += characters;
    m_changes.append({change, ticket});
}

QList<std::pair<Change, qint64>> HeldChanges::take()
{
    m_characters = 0;
    return std::exchange(m_changes, {});
}
