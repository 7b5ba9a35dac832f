#include "app/Numeric.h"

#include "app/RuntimeError.h"

#include <cmath>
#include <limits>

namespace Main
{

namespace
{

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

std::optional<double> ParseNumber(const QString& text, const QLocale& locale)
{
    const QString decimalPoint = locale.decimalPoint();
    const QString groupSeparator = locale.groupSeparator();
    // A full stop counts as a decimal point too, unless the locale groups with it.
    const bool fullStopIsDecimal = decimalPoint == u"." || groupSeparator != u".";

    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && isBlank(text.at(i)))
        ++i;
    while (end > i && isBlank(text.at(end - 1)))
        --end;

    // Rebuilt in the C locale's form for the conversion.
    QString plain;
    plain.reserve(end - i);
    if (i < end && (text.at(i) == u'+' || text.at(i) == u'-'))
        plain.append(text.at(i++));

    int mantissaDigits = 0;
    while (i < end) {
        const QChar c = text.at(i);
        if (isDigit(c)) {
            plain.append(c);
            ++mantissaDigits;
            ++i;
        } else if (mantissaDigits > 0 && !groupSeparator.isEmpty() &&
                   text.mid(i, groupSeparator.size()) == groupSeparator) {
            i += groupSeparator.size();
        } else {
            break;
        }
    }
    auto atDecimalPoint = [&](qsizetype at) -> qsizetype {
        if (!decimalPoint.isEmpty() && text.mid(at, decimalPoint.size()) == decimalPoint)
            return decimalPoint.size();
        if (fullStopIsDecimal && at < end && text.at(at) == u'.')
            return 1;
        return 0;
    };
    if (i < end) {
        if (const qsizetype width = atDecimalPoint(i)) {
            i += width;
            plain.append(u'.');
            while (i < end && isDigit(text.at(i))) {
                plain.append(text.at(i++));
                ++mantissaDigits;
            }
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;

    if (i < end && (text.at(i) == u'e' || text.at(i) == u'E')) {
        plain.append(u'e');
        ++i;
        if (i < end && (text.at(i) == u'+' || text.at(i) == u'-'))
            plain.append(text.at(i++));
        int exponentDigits = 0;
        while (i < end && isDigit(text.at(i))) {
            plain.append(text.at(i++));
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;

    // The text has the form of a number here, so a failed conversion is one
    // out of range: infinity for an overflow (numeric, and too large for any
    // 16-bit number), 0 for an underflow.
    bool ok = false;
    const double number = QLocale::c().toDouble(plain, &ok);
    if (ok || std::isinf(number))
        return number;
    return plain.startsWith(u'-') ? -0.0 : 0.0;
}

bool IsNumeric(const QString& text, const QLocale& locale)
{
    return ParseNumber(text, locale).has_value();
}

qint16 ToInteger16(const QString& text, const QLocale& locale)
{
    const std::optional<double> number = ParseNumber(text, locale);
    if (!number)
        throw RuntimeError(RuntimeError::TypeMismatch, QStringLiteral("Type mismatch"));
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(*number);
    if (!(rounded >= std::numeric_limits<qint16>::min() &&
          rounded <= std::numeric_limits<qint16>::max()))
        throw RuntimeError::overflow();
    return static_cast<qint16>(rounded);
}

} // namespace Main
