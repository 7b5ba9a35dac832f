#include "db/PackedRows.h"

namespace Db::PackedRows
{

bool parse(QStringView text, int columns, const std::function<void(const QStringList&)>& row)
{
    const qsizetype size = text.size();
    QStringList values;
    values.reserve(columns);
    qsizetype at = 0;
    while (at < size) {
        values.clear();
        for (int column = 0; column < columns; ++column) {
            const qsizetype start = at;
            while (at < size && text[at] != u':' && text[at] != u';')
                ++at;
            if (at == size)
                return false;
            if (text[at] == u';') { // plain
                values << text.mid(start, at - start).toString();
                ++at;
                continue;
            }
            if (at == start) { // a Null
                values << QString();
                ++at;
                continue;
            }
            qsizetype length = 0;
            for (qsizetype i = start; i < at; ++i) {
                const char16_t digit = text[i].unicode();
                if (digit < u'0' || digit > u'9' || length > size)
                    return false;
                length = length * 10 + (digit - u'0');
            }
            const qsizetype first = ++at;
            for (qsizetype n = 0; n < length; ++n) {
                if (at >= size)
                    return false;
                at += text[at].isHighSurrogate() && at + 1 < size && text[at + 1].isLowSurrogate()
                          ? 2
                          : 1;
            }
            values << (at == first ? QStringLiteral("") : text.mid(first, at - first).toString());
        }
        row(values);
    }
    return true;
}

} // namespace Db::PackedRows
