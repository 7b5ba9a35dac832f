#pragma once

#include <QLocale>
#include <QString>
#include <optional>

// The numeric test of an answer and its conversion to a 16-bit integer.
namespace Main
{

// The number a text stands for, or none when the text is not numeric.
// Accepted: blanks (spaces, tabs) around it, a leading sign, digits with the
// locale's digit grouping, the locale's decimal separator (a full stop is
// always accepted where it is no group separator), and an exponent
// (e or E, optional sign, digits). At least one digit before the exponent.
std::optional<double> ParseNumber(const QString& text, const QLocale& locale = QLocale());

bool IsNumeric(const QString& text, const QLocale& locale = QLocale());

// Rounds to the nearest whole number, halfway to the even neighbour, and
// checks the 16-bit range. Throws RuntimeError 6 (overflow) outside
// -32768..32767, and RuntimeError 13 (type mismatch) for a text that is not
// numeric (callers test IsNumeric first, so that one is never seen).
qint16 ToInteger16(const QString& text, const QLocale& locale = QLocale());

} // namespace Main
