#include "change/Change.h"

void HeldChanges::add(const Change& change, qint64 ticket)
{
    // The texts' sizes, not copies of the texts.
    const auto size = [](const QVariant& value) {
        return value.metaType() == QMetaType::fromType<QString>()
                   ? static_cast<const QString*>(value.constData())->size()
                   : value.toString().size();
    };
    qsizetype characters = change.oldValue.size() + change.newValue.size() + size(change.digest);
    for (const QVariant& part : change.key)
        characters += size(part);
    m_characters += characters;
    m_changes.append({change, ticket});
}

QList<std::pair<Change, qint64>> HeldChanges::take()
{
    m_characters = 0;
    return std::exchange(m_changes, {});
}
