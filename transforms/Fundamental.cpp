#include "transforms/Fundamental.h"

#include "app/RuntimeError.h"

#include <array>
#include <limits>

namespace Fundamental
{

const QString AlphabetCharacters =
    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
const QString NumericCharacters = QStringLiteral("0123456789");
const QString AlphanumericCharacters =
    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
const QString AlphanumericSpaceCharacters =
    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ");

namespace
{

const QChar Space(u' ');
const QChar Tab(u'\t');
const QChar LineFeed(u'\n');
const QChar CarriageReturn(u'\r');

// The replace-all rule for a search text (QString or QChar) of the given
// length: the text between matches is copied in runs, each match is replaced
// and the scan goes on behind it, so inserted text is never scanned again.
template <class Search>
QString replaceEach(const QString& value, const Search& search, qsizetype searchLength,
                    const QString& replacement)
{
    qsizetype match = value.indexOf(search, 0, Qt::CaseSensitive);
    if (match < 0)
        return value;
    QString result;
    result.reserve(value.size() + (replacement.size() > searchLength ? value.size() / 4 : 0));
    qsizetype from = 0;
    while (match >= 0) {
        result.append(value.constData() + from, match - from);
        result.append(replacement);
        from = match + searchLength;
        match = value.indexOf(search, from, Qt::CaseSensitive);
    }
    result.append(value.constData() + from, value.size() - from);
    return result;
}

QString replaceChar(const QString& value, QChar search, const QString& replacement)
{
    return replaceEach(value, search, 1, replacement);
}

// Membership in a character set, looked up in a table for the ASCII range
// and searched in the set's text beyond it.
class CharacterSet
{
public:
    explicit CharacterSet(const QString& set) : m_set(set)
    {
        m_ascii.fill(false);
        for (const QChar c : set) {
            if (c.unicode() < m_ascii.size())
                m_ascii[c.unicode()] = true;
            else
                m_hasOthers = true;
        }
    }

    bool contains(QChar c) const
    {
        if (c.unicode() < m_ascii.size())
            return m_ascii[c.unicode()];
        return m_hasOthers && m_set.contains(c);
    }

private:
    const QString& m_set;
    std::array<bool, 128> m_ascii{};
    bool m_hasOthers = false;
};

// The characters from position `start` (from 1) to the end.
QString fromPosition(const QString& value, qsizetype start)
{
    return start > value.size() ? QString() : value.mid(start - 1);
}

} // namespace

QString ReplaceAll(const QString& value, const QString& search, const QString& replacement)
{
    if (search.isEmpty())
        return value;
    return replaceEach(value, search, search.size(), replacement);
}

qsizetype DelimiterPosition(const QString& value, const QString& delimiter)
{
    if (value.isEmpty() || delimiter.size() > value.size())
        return 0;
    if (delimiter.isEmpty())
        return 1;
    return value.indexOf(delimiter, 0, Qt::CaseSensitive) + 1;
}

// --- spaces, enters, tabs ---------------------------------------------------

QString RemoveAllSpaces(const QString& value)
{
    return replaceChar(value, Space, QString());
}

QString ReplaceAllSpaces(const QString& value, const QString& replacement)
{
    return replaceChar(value, Space, replacement);
}

QString TrimLeadingSpaces(const QString& value)
{
    qsizetype i = 0;
    while (i < value.size() && value.at(i) == Space)
        ++i;
    return i == 0 ? value : value.mid(i);
}

QString TrimTrailingSpaces(const QString& value)
{
    qsizetype n = value.size();
    while (n > 0 && value.at(n - 1) == Space)
        --n;
    return n == value.size() ? value : value.left(n);
}

// Replacing two spaces by one until no two spaces touch leaves every run of
// spaces as a single space; this pass reaches that end in one walk, so a long
// run costs its length and not its length times the number of halvings.
QString CollapseSpaces(const QString& value)
{
    QString collapsed;
    collapsed.reserve(value.size());
    bool afterSpace = false;
    for (const QChar c : value) {
        if (c == Space) {
            if (afterSpace)
                continue;
            afterSpace = true;
        } else {
            afterSpace = false;
        }
        collapsed.append(c);
    }
    return TrimTrailingSpaces(TrimLeadingSpaces(collapsed));
}

QString ReplaceEnters(const QString& value, const QString& replacement)
{
    // Two passes: the CR pass also sees any CR that the LF pass put in.
    return replaceChar(replaceChar(value, LineFeed, replacement), CarriageReturn, replacement);
}

QString RemoveEnters(const QString& value)
{
    return ReplaceEnters(value, QString(Space));
}

QString RemoveTabs(const QString& value)
{
    return replaceChar(value, Tab, QString());
}

QString ReplaceTabs(const QString& value, const QString& replacement)
{
    return replaceChar(value, Tab, replacement);
}

// --- character classes ------------------------------------------------------

QString SubstituteByClass(const QString& value, const QString& set, const QString& replacement,
                          bool keepMembers)
{
    const CharacterSet members(set);
    QString result;
    result.reserve(value.size());
    for (const QChar c : value) {
        if (members.contains(c) == keepMembers)
            result.append(c);
        else
            result.append(replacement);
    }
    return result;
}

QString FilterByClass(const QString& value, const QString& set, bool keepMembers)
{
    const CharacterSet members(set);
    QString result;
    result.reserve(value.size());
    for (const QChar c : value) {
        if (members.contains(c) == keepMembers)
            result.append(c);
    }
    return result;
}

QString ReplaceAlphabet(const QString& value, const QString& replacement)
{
    return SubstituteByClass(value, AlphabetCharacters, replacement, false);
}

QString RemoveAlphabet(const QString& value)
{
    return FilterByClass(value, AlphabetCharacters, false);
}

QString ReplaceNumeric(const QString& value, const QString& replacement)
{
    return SubstituteByClass(value, NumericCharacters, replacement, false);
}

QString RemoveNumeric(const QString& value)
{
    return FilterByClass(value, NumericCharacters, false);
}

QString ReplaceAlphanumeric(const QString& value, const QString& replacement)
{
    return SubstituteByClass(value, AlphanumericCharacters, replacement, false);
}

QString RemoveAlphanumeric(const QString& value)
{
    return FilterByClass(value, AlphanumericCharacters, false);
}

QString RemoveNonAlphanumeric(const QString& value)
{
    return FilterByClass(value, AlphanumericCharacters, true);
}

QString ReplaceNonAlphanumeric(const QString& value, const QString& replacement)
{
    // Spaces are kept here, unlike RemoveNonAlphanumeric.
    return SubstituteByClass(value, AlphanumericSpaceCharacters, replacement, true);
}

// --- user texts and delimiters ---------------------------------------------

QString ReplaceText(const QString& value, const QString& findText, const QString& replacement)
{
    return ReplaceAll(value, findText, replacement);
}

QString RemoveText(const QString& value, const QString& findText)
{
    return ReplaceAll(value, findText, QString());
}

QString RemoveTextBefore(const QString& value, const QString& delimiter)
{
    const qsizetype a = DelimiterPosition(value, delimiter);
    return a == 0 ? value : fromPosition(value, a);
}

QString ReplaceTextBefore(const QString& value, const QString& delimiter,
                          const QString& replacement)
{
    const qsizetype a = DelimiterPosition(value, delimiter);
    return a == 0 ? value : replacement + fromPosition(value, a);
}

QString RemoveTextAfter(const QString& value, const QString& delimiter)
{
    const qsizetype a = DelimiterPosition(value, delimiter);
    return a == 0 ? value : value.left(a + delimiter.size() - 1);
}

QString ReplaceTextAfter(const QString& value, const QString& delimiter, const QString& replacement)
{
    const qsizetype a = DelimiterPosition(value, delimiter);
    return a == 0 ? value : value.left(a + delimiter.size() - 1) + replacement;
}

// --- positions --------------------------------------------------------------

QString RemoveFirstChars(const QString& value, qint16 x)
{
    // The start x + 1 is a 16-bit number: it overflows for x = 32767.
    if (x == std::numeric_limits<qint16>::max())
        throw RuntimeError::overflow();
    const qint16 start = static_cast<qint16>(x + 1);
    if (start < 1)
        throw RuntimeError::invalidProcedureCall();
    return fromPosition(value, start);
}

QString RemoveLastChars(const QString& value, qint16 x)
{
    const qint64 count = static_cast<qint64>(value.size()) - x;
    if (count < 0)
        throw RuntimeError::invalidProcedureCall();
    return count >= value.size() ? value : value.left(count);
}

QString KeepFirstChars(const QString& value, qint16 x)
{
    if (x < 0)
        throw RuntimeError::invalidProcedureCall();
    return value.left(x);
}

QString RemoveTextBeforePosition(const QString& value, qint16 x)
{
    return RemoveFirstChars(value, x);
}

} // namespace Fundamental
