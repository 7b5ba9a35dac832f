#pragma once

#include <QString>

// The text transforms: pure functions from a field value (and the user's
// answers) to its new value. A text is a sequence of 16-bit code units; every
// comparison is exact (same code, case-sensitive, no locale rules). Positions
// in the comments count from 1.
namespace Fundamental
{

// The character sets of the class transforms, exactly in this order.
extern const QString AlphabetCharacters;          // A-Z a-z (52)
extern const QString NumericCharacters;           // 0-9 (10)
extern const QString AlphanumericCharacters;      // A-Z a-z 0-9 (62)
extern const QString AlphanumericSpaceCharacters; // A-Z a-z 0-9 and U+0020 (63)

// Replace-all rule: scan from the start; where `search` matches, emit
// `replacement` and continue behind the match, else emit the character.
// Leftmost match wins, matches never overlap, emitted text is never rescanned.
// An empty `search` leaves the value unchanged.
QString ReplaceAll(const QString& value, const QString& search, const QString& replacement);

// Position of the first occurrence of `delimiter` in `value`, from 1, or 0
// when it does not occur. An empty delimiter occurs at 1 of any non-empty value.
qsizetype DelimiterPosition(const QString& value, const QString& delimiter);

// Spaces (U+0020 only), enters (LF and CR, each on its own) and tabs.
QString RemoveAllSpaces(const QString& value);
QString ReplaceAllSpaces(const QString& value, const QString& replacement);
QString TrimLeadingSpaces(const QString& value);
QString TrimTrailingSpaces(const QString& value);
QString CollapseSpaces(const QString& value);
QString ReplaceEnters(const QString& value, const QString& replacement);
QString RemoveEnters(const QString& value);
QString RemoveTabs(const QString& value);
QString ReplaceTabs(const QString& value, const QString& replacement);

// Character classes. A character is a member of a set when a character with
// the same 16-bit code occurs in the set's text. Characters whose membership
// equals keepMembers stay; the others are replaced (Substitute) or dropped (Filter).
QString SubstituteByClass(const QString& value, const QString& set, const QString& replacement,
                          bool keepMembers);
QString FilterByClass(const QString& value, const QString& set, bool keepMembers);

QString ReplaceAlphabet(const QString& value, const QString& replacement);
QString RemoveAlphabet(const QString& value);
QString ReplaceNumeric(const QString& value, const QString& replacement);
QString RemoveNumeric(const QString& value);
QString ReplaceAlphanumeric(const QString& value, const QString& replacement);
QString RemoveAlphanumeric(const QString& value);
QString RemoveNonAlphanumeric(const QString& value);
QString ReplaceNonAlphanumeric(const QString& value, const QString& replacement);

// User texts and delimiters (whole texts, never character by character).
QString ReplaceText(const QString& value, const QString& findText, const QString& replacement);
QString RemoveText(const QString& value, const QString& findText);
QString RemoveTextBefore(const QString& value, const QString& delimiter);
QString ReplaceTextBefore(const QString& value, const QString& delimiter,
                          const QString& replacement);
QString RemoveTextAfter(const QString& value, const QString& delimiter);
QString ReplaceTextAfter(const QString& value, const QString& delimiter,
                         const QString& replacement);

// Positions. x is a 16-bit signed count. These throw RuntimeError:
// 5 (invalid procedure call) for a negative x in RemoveFirstChars,
// RemoveTextBeforePosition and KeepFirstChars, and for an x larger than the
// value's length in RemoveLastChars; 6 (overflow) for x = 32767 in
// RemoveFirstChars and RemoveTextBeforePosition (x + 1 overflows 16 bits).
QString RemoveFirstChars(const QString& value, qint16 x);
QString RemoveLastChars(const QString& value, qint16 x);
QString KeepFirstChars(const QString& value, qint16 x);
QString RemoveTextBeforePosition(const QString& value, qint16 x);

} // namespace Fundamental
