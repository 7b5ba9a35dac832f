#include "cli/JsonLines.h"

#include <QStringDecoder>
#include <optional>

namespace JsonLines
{

namespace
{

bool isJsonWhiteSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

Value failure(const QString& why)
{
    Value value;
    value.error = why;
    return value;
}

// The escape whose letter is at body[k], after a backslash, appended to
// `text` (k moves past it); else why it is none.
std::optional<QString> appendEscape(QStringView body, qsizetype& k, QString& text)
{
    if (k >= body.size())
        return QStringLiteral("unterminated string");
    const QChar escape = body.at(k++);
    static constexpr char16_t Letters[] = u"\"\\/bfnrt";
    static constexpr char16_t Meanings[] = u"\"\\/\b\f\n\r\t";
    for (int i = 0; Letters[i] != 0; ++i) {
        if (escape == QChar(Letters[i])) {
            text.append(QChar(Meanings[i]));
            return std::nullopt;
        }
    }
    if (escape != u'u')
        return QStringLiteral("invalid escape \\%1").arg(escape);
    if (k + 4 > body.size())
        return QStringLiteral("incomplete \\u escape");
    int code = 0;
    for (int d = 0; d < 4; ++d) {
        const int h = hexValue(body.at(k + d));
        if (h < 0)
            return QStringLiteral("invalid \\u escape");
        code = code * 16 + h;
    }
    k += 4;
    // Each escape is one 16-bit unit; a pair of escapes makes a surrogate pair.
    text.append(QChar(static_cast<char16_t>(code)));
    return std::nullopt;
}

// The JSON string that begins at body's first character and must end at its
// last.
Value stringValue(QStringView body)
{
    Value value;
    value.text.reserve(body.size());
    qsizetype k = 1;
    for (;;) {
        if (k >= body.size())
            return failure(QStringLiteral("unterminated string"));
        const QChar c = body.at(k++);
        if (c == u'"')
            break;
        if (c.unicode() < 0x20)
            return failure(QStringLiteral("unescaped control character in string"));
        if (c != u'\\') {
            value.text.append(c);
            continue;
        }
        if (const std::optional<QString> why = appendEscape(body, k, value.text))
            return failure(*why);
    }
    if (k != body.size())
        return failure(QStringLiteral("text after the string"));
    value.ok = true;
    return value;
}

} // namespace

Value parse(const QByteArray& line)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString input = decoder.decode(line);
    if (decoder.hasError())
        return failure(QStringLiteral("not valid UTF-8"));

    qsizetype i = 0;
    qsizetype end = input.size();
    while (i < end && isJsonWhiteSpace(input.at(i)))
        ++i;
    while (end > i && isJsonWhiteSpace(input.at(end - 1)))
        --end;
    const QStringView body = QStringView(input).mid(i, end - i);

    if (body == u"null") {
        Value value;
        value.ok = true;
        value.isNull = true;
        return value;
    }
    if (body.isEmpty())
        return failure(QStringLiteral("empty line, expected a JSON string or null"));
    if (body.front() != u'"')
        return failure(QStringLiteral("expected a JSON string or null"));
    return stringValue(body);
}

QByteArray quote(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(u'"');
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case u'"':
            out.append(u"\\\"");
            continue;
        case u'\\':
            out.append(u"\\\\");
            continue;
        case u'\b':
            out.append(u"\\b");
            continue;
        case u'\f':
            out.append(u"\\f");
            continue;
        case u'\n':
            out.append(u"\\n");
            continue;
        case u'\r':
            out.append(u"\\r");
            continue;
        case u'\t':
            out.append(u"\\t");
            continue;
        default:
            break;
        }
        const bool pairedHigh = c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate();
        if (pairedHigh) {
            out.append(c);
            out.append(text.at(++i));
        } else if (c.unicode() < 0x20 || c.isSurrogate()) {
            out.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
        } else {
            out.append(c);
        }
    }
    out.append(u'"');
    return out.toUtf8();
}

} // namespace JsonLines
