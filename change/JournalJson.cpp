#include "change/JournalJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <string>

namespace
{

// Reads JSON as append() writes it, texts, nulls and arrays of them,
// without QJsonDocument's tree: an undo reads a batch of a thousand rows a
// page. Anything else (a number, say) fails it.
class JsonReader
{
public:
    static std::optional<QVariant> Read(QStringView text)
    {
        JsonReader reader(text);
        QVariant value;
        if (!reader.value(value))
            return std::nullopt;
        reader.skipBlanks();
        if (reader.m_at != text.size())
            return std::nullopt;
        return value;
    }

    // A batch's rows [[key, old, new, digest or null], ...], ids `first` to
    // `top`, in that order.
    static bool ReadRows(QStringView text, qint64 first, qint64 top, QList<Journal::Row>& rows)
    {
        JsonReader reader(text);
        if (!reader.take(u'['))
            return false;
        for (qint64 id = first; id <= top; ++id) {
            Journal::Row row;
            row.id = id;
            QVariant key;
            QVariant digest;
            if ((id > first && !reader.take(u',')) || !reader.take(u'[') || !reader.value(key) ||
                !reader.take(u',') || !reader.text(row.oldValue) || !reader.take(u',') ||
                !reader.text(row.newValue) || !reader.take(u',') || !reader.value(digest) ||
                !reader.take(u']'))
                return false;
            row.keyBefore = key.toList();
            row.key = row.keyBefore;
            // A text or a Null text, as bound to the undo's statements.
            row.digest = digest.isNull() ? QVariant(QMetaType::fromType<QString>()) : digest;
            rows << std::move(row);
        }
        return true;
    }

private:
    explicit JsonReader(QStringView text) : m_text(text) {}

    bool take(char16_t c)
    {
        skipBlanks();
        if (m_at >= m_text.size() || m_text[m_at] != c)
            return false;
        ++m_at;
        return true;
    }

    bool text(QString& out)
    {
        skipBlanks();
        return m_at < m_text.size() && m_text[m_at] == u'"' && string(out);
    }

    void skipBlanks()
    {
        while (m_at < m_text.size() && m_text[m_at].isSpace())
            ++m_at;
    }

    bool value(QVariant& out)
    {
        skipBlanks();
        if (m_at >= m_text.size())
            return false;
        if (m_text[m_at] == u'"') {
            QString text;
            if (!string(text))
                return false;
            out = std::move(text);
            return true;
        }
        if (m_text[m_at] == u'[')
            return array(out);
        if (m_text.mid(m_at, 4) == u"null") {
            m_at += 4;
            out = QVariant::fromValue(nullptr);
            return true;
        }
        return false;
    }

    bool array(QVariant& out)
    {
        ++m_at;
        QVariantList items;
        skipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == u']') {
            ++m_at;
            out = items;
            return true;
        }
        for (;;) {
            QVariant item;
            if (!value(item))
                return false;
            items << std::move(item);
            skipBlanks();
            if (m_at >= m_text.size())
                return false;
            const QChar next = m_text[m_at++];
            if (next == u']') {
                out = std::move(items);
                return true;
            }
            if (next != u',')
                return false;
        }
    }

    bool string(QString& out)
    {
        qsizetype plain = ++m_at; // the first character not yet taken
        for (; m_at < m_text.size(); ++m_at) {
            const char16_t c = m_text[m_at].unicode();
            if (c == u'"') {
                out.append(m_text.mid(plain, m_at - plain));
                ++m_at;
                return true;
            }
            if (c != u'\\')
                continue;
            out.append(m_text.mid(plain, m_at - plain));
            if (++m_at >= m_text.size())
                return false;
            const char16_t escape = m_text[m_at].unicode();
            static constexpr char16_t Letters[] = u"\"\\/bfnrt";
            static constexpr char16_t Meanings[] = u"\"\\/\b\f\n\r\t";
            const char16_t* letter = std::char_traits<char16_t>::find(Letters, 8, escape);
            if (letter) {
                out += QChar(Meanings[letter - Letters]);
            } else {
                bool ok = false;
                const ushort code = m_text.mid(m_at + 1, 4).toUShort(&ok, 16);
                if (escape != u'u' || !ok || m_at + 4 >= m_text.size())
                    return false;
                out += QChar(code);
                m_at += 4;
            }
            plain = m_at + 1;
        }
        return false;
    }

    QStringView m_text;
    qsizetype m_at = 0;
};

} // namespace

namespace JournalJson
{

// A text as a JSON string, appended.
void append(QString& json, const QString& text)
{
    json += u'"';
    const QChar* const chars = text.constData();
    const qsizetype size = text.size();
    qsizetype plain = 0; // the start of the characters not yet appended
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = chars[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\' && !QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && chars[i + 1].isLowSurrogate()) {
            ++i; // a pair as it is
            continue;
        }
        json.append(chars + plain, i - plain);
        plain = i + 1;
        if (c == u'"' || c == u'\\') {
            json += u'\\';
            json += QChar(c);
        } else if (QChar::isSurrogate(c)) {
            // Half a pair (a transform may cut one): the replacement
            // character, as any conversion to UTF-8 gives it, rather than
            // JSON that SQLite refuses.
            json += QChar(QChar::ReplacementCharacter);
        } else {
            json += QStringLiteral("\\u%1").arg(int(c), 4, 16, QChar(u'0'));
        }
    }
    json.append(chars + plain, size - plain);
    json += u'"';
}

// A row key is a list of texts, written here as a JSON array without the
// round trip through QJsonDocument; other lists take that way.
void append(QString& json, const QVariantList& values)
{
    for (const QVariant& value : values) {
        if (value.metaType().id() != QMetaType::QString) {
            json += QString::fromUtf8(
                QJsonDocument(QJsonArray::fromVariantList(values)).toJson(QJsonDocument::Compact));
            return;
        }
    }
    json += u'[';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            json += u',';
        append(json, values.at(i).toString());
    }
    json += u']';
}

// A text where there is one, else null.
void append(QString& json, const std::optional<QString>& text)
{
    if (text)
        append(json, *text);
    else
        json += QLatin1String("null");
}

QString toJson(const QVariantList& values)
{
    QString json;
    append(json, values);
    return json;
}

// The rows `first` to `top` of a batch, as journaled; where the text is not
// as append() writes it, by way of QJsonDocument.
QList<Journal::Row> batchRows(const QString& json, qint64 first, qint64 top)
{
    QList<Journal::Row> rows;
    rows.reserve(top - first + 1);
    if (JsonReader::ReadRows(json, first, top, rows))
        return rows;
    rows.clear();
    const QVariantList changes = QJsonDocument::fromJson(json.toUtf8()).array().toVariantList();
    for (qint64 id = first; id <= top; ++id) {
        const QVariantList change = changes.value(id - first).toList();
        Journal::Row row;
        row.id = id;
        row.keyBefore = change.value(0).toList();
        row.key = row.keyBefore;
        row.oldValue = change.value(1).toString();
        row.newValue = change.value(2).toString();
        row.digest = change.value(3).isNull() ? QVariant(QMetaType::fromType<QString>())
                                              : QVariant(change.value(3).toString());
        rows << row;
    }
    return rows;
}

// A JSON array, read as above where it can be.
QVariantList fromJson(const QString& json)
{
    if (const std::optional<QVariant> read = JsonReader::Read(json))
        return read->toList();
    return QJsonDocument::fromJson(json.toUtf8()).array().toVariantList();
}

} // namespace JournalJson
