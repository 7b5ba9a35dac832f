// Tests of the text transforms of module Fundamental: spaces, enters and tabs;
// character classes; user texts, delimiters and character positions.
// A text is a sequence of 16-bit units, so a character outside the BMP counts
// as two characters everywhere below.

#include "app/RuntimeError.h"
#include "transforms/Fundamental.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTest>
#include <functional>
#include <utility>

#define S(text) QStringLiteral(text)

namespace
{

using TextTransform = std::function<QString(const QString& value, const QString& argument)>;
using PositionTransform = QString (*)(const QString&, qint16);

const QString kEmoji = S("\U0001F600");         // units D83D DE00
const QString kEmoji2 = S("\U0001F601");        // units D83D DE01
const QString kBoldCapitalA = S("\U0001D400");  // a letter, but outside the BMP
const QString kBoldDigitZero = S("\U0001D7CE"); // a digit, but outside the BMP
const QString kHigh = QString(QChar(0xD83D));   // the halves of kEmoji
const QString kLow = QString(QChar(0xDE00));
const QString kAlphanumerics = S("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

QString repeated(char c, qsizetype count)
{
    return QString(count, QLatin1Char(c));
}

// Spaces, enters, tabs and non-ASCII units made visible for failure messages.
QString visible(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += c == u' ' ? QString(QChar(0xB7))
               : (c.unicode() < 0x20 || c.unicode() > 0x7E)
                   ? S("[%1]").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'))
                   : QString(c);
    return out;
}

// Literal replace-all: scan from the start, emit the replacement where the
// search text matches (exact 16-bit comparison) and continue behind the match,
// else emit one unit.
QString referenceReplaceAll(const QString& value, const QString& search, const QString& replacement)
{
    if (search.isEmpty())
        return value;
    QString out;
    for (qsizetype i = 0; i < value.size();) {
        if (QStringView(value).mid(i).startsWith(search, Qt::CaseSensitive)) {
            out += replacement;
            i += search.size();
        } else {
            out += value.at(i++);
        }
    }
    return out;
}

// Literal CollapseSpaces: replace-all two spaces by one while two spaces touch,
// then drop the spaces at the start, then those at the end.
QString referenceCollapseSpaces(QString value)
{
    while (value.contains(S("  ")))
        value = referenceReplaceAll(value, S("  "), S(" "));
    while (value.startsWith(u' '))
        value.remove(0, 1);
    while (value.endsWith(u' '))
        value.chop(1);
    return value;
}

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength)
{
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        text += alphabet.at(random.bounded(int(alphabet.size())));
    return text;
}

TextTransform ignoringArgument(QString (*transform)(const QString&))
{
    return [transform](const QString& value, const QString&) { return transform(value); };
}

// The one- and two-argument text transforms, by name; the argument is the
// replacement text and is ignored by the removing ones.
const QHash<QString, TextTransform>& textTransforms()
{
    using namespace Fundamental;
    static const QHash<QString, TextTransform> table = {
        {S("RemoveAllSpaces"), ignoringArgument(&RemoveAllSpaces)},
        {S("ReplaceAllSpaces"), &ReplaceAllSpaces},
        {S("TrimLeadingSpaces"), ignoringArgument(&TrimLeadingSpaces)},
        {S("TrimTrailingSpaces"), ignoringArgument(&TrimTrailingSpaces)},
        {S("CollapseSpaces"), ignoringArgument(&CollapseSpaces)},
        {S("ReplaceEnters"), &ReplaceEnters},
        {S("RemoveEnters"), ignoringArgument(&RemoveEnters)},
        {S("RemoveTabs"), ignoringArgument(&RemoveTabs)},
        {S("ReplaceTabs"), &ReplaceTabs},
        {S("ReplaceAlphabet"), &ReplaceAlphabet},
        {S("RemoveAlphabet"), ignoringArgument(&RemoveAlphabet)},
        {S("ReplaceNumeric"), &ReplaceNumeric},
        {S("RemoveNumeric"), ignoringArgument(&RemoveNumeric)},
        {S("ReplaceAlphanumeric"), &ReplaceAlphanumeric},
        {S("RemoveAlphanumeric"), ignoringArgument(&RemoveAlphanumeric)},
        {S("RemoveNonAlphanumeric"), ignoringArgument(&RemoveNonAlphanumeric)},
        {S("ReplaceNonAlphanumeric"), &ReplaceNonAlphanumeric},
    };
    return table;
}

const QHash<QString, PositionTransform>& positionTransforms()
{
    using namespace Fundamental;
    static const QHash<QString, PositionTransform> table = {
        {S("RemoveFirstChars"), &RemoveFirstChars},
        {S("RemoveTextBeforePosition"), &RemoveTextBeforePosition},
        {S("RemoveLastChars"), &RemoveLastChars},
        {S("KeepFirstChars"), &KeepFirstChars},
    };
    return table;
}

void addTextColumns()
{
    QTest::addColumn<QString>("transform");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");
}

void textRow(const char* name, const char* transform, const QString& value,
             const QString& replacement, const QString& expected)
{
    QTest::newRow(name) << QString::fromLatin1(transform) << value << replacement << expected;
}

// An empty value gives the empty text, whatever the replacement.
void emptyValueRows(QStringList names)
{
    names.sort();
    for (const QString& name : std::as_const(names))
        QTest::addRow("%s-empty-value", qPrintable(name)) << name << QString() << S("X") << S("");
}

void compareTextTransform()
{
    QFETCH(QString, transform);
    QFETCH(QString, value);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QVERIFY2(textTransforms().contains(transform), qPrintable(transform));
    QCOMPARE(textTransforms().value(transform)(value, replacement), expected);
}

} // namespace

// Compares one result for a generated input, naming the input on failure.
#define COMPARE_SAMPLE(what, input, actual, expected)                                              \
    do {                                                                                           \
        const QString actual_ = (actual);                                                          \
        const QString expected_ = (expected);                                                      \
        if (actual_ != expected_)                                                                  \
            QFAIL(qPrintable(                                                                      \
                S("%1 of \"%2\" gave \"%3\", expected \"%4\"")                                     \
                    .arg(S(what), visible(input), visible(actual_), visible(expected_))));         \
    } while (false)

class TestFundamental : public QObject
{
    Q_OBJECT

private slots:
    void characterSets();
    void spacesEntersTabs_data();
    void spacesEntersTabs() { compareTextTransform(); }
    void classTransforms_data();
    void classTransforms() { compareTextTransform(); }
    void classHelpers_data();
    void classHelpers();
    void replaceText_data();
    void replaceText();
    void delimiters_data();
    void delimiters();
    void positions_data();
    void positions();
    void spaceRulesMatchReferenceOnRandomTexts();
    void textRulesMatchReferenceOnRandomTexts();
};

void TestFundamental::characterSets()
{
    QCOMPARE(Fundamental::AlphabetCharacters, kAlphanumerics.left(52));
    QCOMPARE(Fundamental::NumericCharacters, S("0123456789"));
    QCOMPARE(Fundamental::AlphanumericCharacters, kAlphanumerics);
    QCOMPARE(Fundamental::AlphanumericSpaceCharacters, kAlphanumerics + S(" "));
}

void TestFundamental::spacesEntersTabs_data()
{
    addTextColumns();
    const QString none;
    const auto row = textRow;

    row("RemoveAllSpaces-single-and-double", "RemoveAllSpaces", S("a b  c"), none, S("abc"));
    row("RemoveAllSpaces-spaces-only", "RemoveAllSpaces", S("   "), none, S(""));
    row("RemoveAllSpaces-other-whitespace-untouched", "RemoveAllSpaces",
        S("a\t\u00A0\u2003\u3000\u000B\u000C\r\n b"), none,
        S("a\t\u00A0\u2003\u3000\u000B\u000C\r\nb"));
    row("ReplaceAllSpaces-each-space-own-copy", "ReplaceAllSpaces", S("a b  c"), S("_"),
        S("a_b__c"));
    row("ReplaceAllSpaces-empty-replacement", "ReplaceAllSpaces", S("a b"), S(""), S("ab"));
    row("ReplaceAllSpaces-inserted-spaces-not-rescanned", "ReplaceAllSpaces", S("a b"), S("  "),
        S("a  b"));
    row("ReplaceAllSpaces-nbsp-and-tab-untouched", "ReplaceAllSpaces", S("a\u00A0b\tc d"), S("_"),
        S("a\u00A0b\tc_d"));
    row("ReplaceAllSpaces-surrogate-pair-replacement", "ReplaceAllSpaces", S("\u00E9 \u0416"),
        kEmoji, S("\u00E9") + kEmoji + S("\u0416"));
    row("TrimLeadingSpaces-keeps-inner-and-trailing", "TrimLeadingSpaces", S("  a b "), none,
        S("a b "));
    row("TrimLeadingSpaces-spaces-only", "TrimLeadingSpaces", S("   "), none, S(""));
    row("TrimLeadingSpaces-tab-is-no-space", "TrimLeadingSpaces", S("\t a"), none, S("\t a"));
    row("TrimLeadingSpaces-nbsp-is-no-space", "TrimLeadingSpaces", S("\u00A0a"), none,
        S("\u00A0a"));
    row("TrimLeadingSpaces-stops-at-enter", "TrimLeadingSpaces", S(" \n a"), none, S("\n a"));
    row("TrimTrailingSpaces-keeps-inner-and-leading", "TrimTrailingSpaces", S("  a b  "), none,
        S("  a b"));
    row("TrimTrailingSpaces-spaces-only", "TrimTrailingSpaces", S("   "), none, S(""));
    row("TrimTrailingSpaces-tab-is-no-space", "TrimTrailingSpaces", S("a \t"), none, S("a \t"));
    row("TrimTrailingSpaces-stops-at-enter", "TrimTrailingSpaces", S("a \r "), none, S("a \r"));
    row("TrimTrailingSpaces-ideographic-space-is-no-space", "TrimTrailingSpaces", S("a\u3000 "),
        none, S("a\u3000"));
    row("CollapseSpaces-inner-leading-trailing-runs", "CollapseSpaces", S("  a   b  "), none,
        S("a b"));
    row("CollapseSpaces-tab-between-runs", "CollapseSpaces", S("a \t  b"), none, S("a \t b"));
    row("CollapseSpaces-five-spaces-only", "CollapseSpaces", repeated(' ', 5), none, S(""));
    row("CollapseSpaces-1000-spaces-only", "CollapseSpaces", repeated(' ', 1000), none, S(""));
    for (const int run : {1, 2, 3, 7, 1000})
        QTest::addRow("CollapseSpaces-%d-spaces-between-words", run)
            << S("CollapseSpaces") << S("a") + repeated(' ', run) + S("b") << none << S("a b");
    row("CollapseSpaces-several-runs", "CollapseSpaces", S("a  b   c     d "), none, S("a b c d"));
    row("CollapseSpaces-tabs-at-both-ends-kept", "CollapseSpaces", S("\t  a  \t"), none,
        S("\t a \t"));
    row("CollapseSpaces-enters-kept", "CollapseSpaces", S("  a\n  b  "), none, S("a\n b"));
    row("CollapseSpaces-nbsp-not-merged", "CollapseSpaces", S("a \u00A0  b"), none,
        S("a \u00A0 b"));
    row("ReplaceEnters-cr-lf-gives-two-copies", "ReplaceEnters", S("a\r\nb"), S("|"), S("a||b"));
    row("ReplaceEnters-lone-lf-and-cr", "ReplaceEnters", S("a\nb\rc"), S("|"), S("a|b|c"));
    row("ReplaceEnters-cr-lf-empty-replacement", "ReplaceEnters", S("a\r\nb"), S(""), S("ab"));
    row("ReplaceEnters-cr-cr-lf", "ReplaceEnters", S("a\r\r\nb"), S("|"), S("a|||b"));
    row("ReplaceEnters-lf-cr", "ReplaceEnters", S("a\n\rb"), S("|"), S("a||b"));
    row("ReplaceEnters-lone-cr-at-start-and-end", "ReplaceEnters", S("\ra\r"), S("|"), S("|a|"));
    // LF is replaced first, then CR in the result: a CR that came in with the
    // replacement is replaced again, an LF that came in later is not.
    row("ReplaceEnters-cr-brought-in-for-lf-replaced-again", "ReplaceEnters", S("a\nb"), S("x\r"),
        S("axx\rb"));
    row("ReplaceEnters-lf-brought-in-for-cr-stays", "ReplaceEnters", S("a\rb"), S("x\n"),
        S("ax\nb"));
    row("ReplaceEnters-cr-lf-to-cr-lf", "ReplaceEnters", S("a\r\nb"), S("\r\n"), S("a\r\n\r\n\nb"));
    row("ReplaceEnters-other-line-separators-untouched", "ReplaceEnters",
        S("a\u2028b\u0085c\u000Bd\u000Ce"), S("|"), S("a\u2028b\u0085c\u000Bd\u000Ce"));
    row("RemoveEnters-cr-lf-two-spaces", "RemoveEnters", S("a\r\nb"), none, S("a  b"));
    row("RemoveEnters-lone-lf", "RemoveEnters", S("\n"), none, S(" "));
    row("RemoveEnters-cr-cr-lf", "RemoveEnters", S("\r\r\n"), none, S("   "));
    row("RemoveEnters-lone-cr-at-start-and-end", "RemoveEnters", S("\ra\r"), none, S(" a "));
    row("RemoveEnters-spaces-not-collapsed", "RemoveEnters", S("a \n b"), none, S("a   b"));
    row("RemoveTabs-inside-and-at-end", "RemoveTabs", S("a\tb\t"), none, S("ab"));
    row("RemoveTabs-adjacent-tabs", "RemoveTabs", S("\t\ta\t\t"), none, S("a"));
    row("RemoveTabs-spaces-and-vertical-tab-untouched", "RemoveTabs", S("a    b\u000Bc"), none,
        S("a    b\u000Bc"));
    row("ReplaceTabs-four-spaces", "ReplaceTabs", S("a\tb"), S("    "), S("a    b"));
    row("ReplaceTabs-inserted-tabs-not-rescanned", "ReplaceTabs", S("a\tb"), S("\t\t"),
        S("a\t\tb"));
    row("ReplaceTabs-empty-replacement", "ReplaceTabs", S("a\tb"), S(""), S("ab"));
    emptyValueRows({S("RemoveAllSpaces"), S("ReplaceAllSpaces"), S("TrimLeadingSpaces"),
                    S("TrimTrailingSpaces"), S("CollapseSpaces"), S("ReplaceEnters"),
                    S("RemoveEnters"), S("RemoveTabs"), S("ReplaceTabs")});
}

void TestFundamental::classTransforms_data()
{
    addTextColumns();
    const QString none;
    const auto row = textRow;

    row("ReplaceAlphabet-each-letter", "ReplaceAlphabet", S("ab1 c"), S("X"), S("XX1 X"));
    row("ReplaceAlphabet-copy-per-letter", "ReplaceAlphabet", S("abc"), S("XY"), S("XYXYXY"));
    row("ReplaceAlphabet-range-neighbours-kept", "ReplaceAlphabet", S("@AZ[`az{"), S("X"),
        S("@XX[`XX{"));
    row("ReplaceAlphabet-replacement-letters-not-rescanned", "ReplaceAlphabet", S("ab"), S("a1"),
        S("a1a1"));
    row("ReplaceAlphabet-non-ascii-letters-kept", "ReplaceAlphabet",
        S("\u00E9\u00DF\u0416\u03A9\u00C0"), S("X"), S("\u00E9\u00DF\u0416\u03A9\u00C0"));
    row("ReplaceAlphabet-surrogate-pair-replacement", "ReplaceAlphabet", S("a-b"), kEmoji,
        kEmoji + S("-") + kEmoji);
    row("RemoveAlphabet-e-acute-is-no-letter", "RemoveAlphabet", S("Ab-1\u00E9"), none,
        S("-1\u00E9"));
    row("RemoveAlphabet-letter-outside-bmp-kept", "RemoveAlphabet", S("a") + kBoldCapitalA + S("Z"),
        none, kBoldCapitalA);
    row("ReplaceNumeric-each-digit", "ReplaceNumeric", S("a12b"), S("#"), S("a##b"));
    row("ReplaceNumeric-range-neighbours-kept", "ReplaceNumeric", S("/09:"), S("#"), S("/##:"));
    row("ReplaceNumeric-full-width-digit-kept", "ReplaceNumeric", S("1\uFF11"), S("#"),
        S("#\uFF11"));
    row("RemoveNumeric-digits-dropped", "RemoveNumeric", S("a12b"), none, S("ab"));
    row("RemoveNumeric-other-digits-kept", "RemoveNumeric", S("\uFF10\uFF19\u0661\u00B2\u2460"),
        none, S("\uFF10\uFF19\u0661\u00B2\u2460"));
    row("ReplaceAlphanumeric-empty-replacement", "ReplaceAlphanumeric", S("a1-b"), S(""), S("-"));
    row("ReplaceAlphanumeric-mixed-case-and-digit", "ReplaceAlphanumeric", S("Zz9\u00DF"), S("."),
        S("...\u00DF"));
    row("RemoveAlphanumeric-spaces-and-dash-stay", "RemoveAlphanumeric", S("a1 - b2"), none,
        S(" - "));
    row("RemoveAlphanumeric-all-62-dropped", "RemoveAlphanumeric", kAlphanumerics + S(" _\u00E9"),
        none, S(" _\u00E9"));
    row("RemoveNonAlphanumeric-spaces-go-too", "RemoveNonAlphanumeric", S("a1 - b2"), none,
        S("a1b2"));
    row("RemoveNonAlphanumeric-e-acute-dropped", "RemoveNonAlphanumeric", S("\u00E91"), none,
        S("1"));
    row("RemoveNonAlphanumeric-whitespace-dropped", "RemoveNonAlphanumeric", S("a b\tc\r\nd"), none,
        S("abcd"));
    row("RemoveNonAlphanumeric-letter-outside-bmp-dropped", "RemoveNonAlphanumeric",
        S("a") + kBoldCapitalA + S("1"), none, S("a1"));
    row("RemoveNonAlphanumeric-all-62-kept", "RemoveNonAlphanumeric", kAlphanumerics, none,
        kAlphanumerics);
    row("ReplaceNonAlphanumeric-spaces-stay", "ReplaceNonAlphanumeric", S("a1 - b2"), S("_"),
        S("a1 _ b2"));
    row("ReplaceNonAlphanumeric-empty-replacement-spaces-stay", "ReplaceNonAlphanumeric",
        S("a1 - b2"), S(""), S("a1  b2"));
    row("ReplaceNonAlphanumeric-e-acute", "ReplaceNonAlphanumeric", S("\u00E9"), S("_"), S("_"));
    row("ReplaceNonAlphanumeric-surrogate-pair-two-copies", "ReplaceNonAlphanumeric", kEmoji,
        S("_"), S("__"));
    row("ReplaceNonAlphanumeric-digit-outside-bmp-two-copies", "ReplaceNonAlphanumeric",
        S("x") + kBoldDigitZero + S("y"), S("-"), S("x--y"));
    row("ReplaceNonAlphanumeric-other-whitespace-replaced", "ReplaceNonAlphanumeric",
        S("a\tb\nc\u00A0d e"), S("_"), S("a_b_c_d e"));
    row("ReplaceNonAlphanumeric-nul-unit-replaced", "ReplaceNonAlphanumeric",
        S("a") + QChar(0) + S("b"), S("_"), S("a_b"));
    emptyValueRows({S("ReplaceAlphabet"), S("RemoveAlphabet"), S("ReplaceNumeric"),
                    S("RemoveNumeric"), S("ReplaceAlphanumeric"), S("RemoveAlphanumeric"),
                    S("RemoveNonAlphanumeric"), S("ReplaceNonAlphanumeric")});
}

void TestFundamental::classHelpers_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("keepMembers");
    QTest::addColumn<QString>("substituted");
    QTest::addColumn<QString>("filtered");

    QTest::newRow("non-ascii-set-members-treated")
        << S("\u00E9t\u00E9") << S("\u00E9") << S("e") << false << S("ete") << S("t");
    QTest::newRow("non-ascii-set-members-kept") << S("\u00E9t\u00E9") << S("\u00E9") << S("_")
                                                << true << S("\u00E9_\u00E9") << S("\u00E9\u00E9");
    QTest::newRow("empty-set-keeps-everything")
        << S("ab") << S("") << S("_") << false << S("ab") << S("ab");
    QTest::newRow("empty-set-treats-everything-when-keeping-members")
        << S("ab") << S("") << S("_") << true << S("__") << S("");
    QTest::newRow("membership-case-sensitive")
        << S("ABCabc") << S("abc") << S("-") << false << S("ABC---") << S("ABC");
    QTest::newRow("lone-high-surrogate-in-set-matches-one-unit")
        << kEmoji + S("x") << kHigh << S("?") << false << S("?") + kLow + S("x") << kLow + S("x");
    QTest::newRow("set-with-repeated-characters")
        << S("aab") << S("aa") << S("X") << false << S("XXb") << S("b");
    QTest::newRow("longer-replacement-per-character")
        << S("a--b") << S("-") << S("<->") << false << S("a<-><->b") << S("ab");
    QTest::newRow("empty-value") << S("") << S("abc") << S("X") << true << S("") << S("");
}

void TestFundamental::classHelpers()
{
    QFETCH(QString, value);
    QFETCH(QString, set);
    QFETCH(QString, replacement);
    QFETCH(bool, keepMembers);
    QFETCH(QString, substituted);
    QFETCH(QString, filtered);
    QCOMPARE(Fundamental::SubstituteByClass(value, set, replacement, keepMembers), substituted);
    QCOMPARE(Fundamental::FilterByClass(value, set, keepMembers), filtered);
}

void TestFundamental::replaceText_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("findText");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every-occurrence") << S("abcabc") << S("bc") << S("X") << S("aXaX");
    QTest::newRow("no-overlapping-matches") << S("aaa") << S("aa") << S("X") << S("Xa");
    QTest::newRow("case-sensitive") << S("ABC") << S("abc") << S("X") << S("ABC");
    QTest::newRow("inserted-text-not-rescanned") << S("a b") << S(" ") << S("  ") << S("a  b");
    QTest::newRow("replacement-contains-find-text") << S("aaa") << S("a") << S("aa") << S("aaaaaa");
    QTest::newRow("shorter-replacement-not-rescanned") << S("aaaa") << S("aa") << S("a") << S("aa");
    QTest::newRow("remove-across-occurrences") << S("abcabc") << S("ca") << S("") << S("abbc");
    QTest::newRow("remove-whole-text-only") << S("abc") << S("ac") << S("") << S("abc");
    QTest::newRow("removal-joins-not-rescanned") << S("aabb") << S("ab") << S("") << S("ab");
    QTest::newRow("remove-whole-value") << S("abc") << S("abc") << S("") << S("");
    QTest::newRow("matches-at-both-ends") << S("xax") << S("x") << S("--") << S("--a--");
    QTest::newRow("empty-find-text-unchanged") << S("abc") << S("") << S("X") << S("abc");
    QTest::newRow("empty-value") << S("") << S("a") << S("X") << S("");
    QTest::newRow("find-text-longer-than-value") << S("ab") << S("abc") << S("X") << S("ab");
    QTest::newRow("non-ascii-case-sensitive")
        << S("\u00C9\u00E9") << S("\u00E9") << S("e") << S("\u00C9e");
    QTest::newRow("surrogate-pair-removed")
        << S("a") + kEmoji + S("b") + kEmoji << kEmoji << S("") << S("ab");
    QTest::newRow("match-across-two-surrogate-pairs")
        << kEmoji + kEmoji2 << kLow + kHigh << S("X") << kHigh + S("X") + QChar(0xDE01);
}

void TestFundamental::replaceText()
{
    QFETCH(QString, value);
    QFETCH(QString, findText);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QCOMPARE(Fundamental::ReplaceText(value, findText, replacement), expected);
    QCOMPARE(Fundamental::ReplaceAll(value, findText, replacement), expected);
    if (replacement.isEmpty())
        QCOMPARE(Fundamental::RemoveText(value, findText), expected);
}

void TestFundamental::delimiters_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("position");
    QTest::addColumn<QStringList>("expected"); // remove/replace before, remove/replace after

    const auto row = [](const char* name, const QString& value, const QString& delimiter,
                        const QString& replacement, int position, const QStringList& expected) {
        QTest::newRow(name) << value << delimiter << replacement << position << expected;
    };
    row("first-of-two-occurrences", S("key=val=x"), S("="), S("K"), 4,
        {S("=val=x"), S("K=val=x"), S("key="), S("key=K")});
    row("one-occurrence", S("key=val"), S("="), S("K"), 4,
        {S("=val"), S("K=val"), S("key="), S("key=K")});
    row("later-occurrences-go-after", S("a-b-c"), S("-"), S("Z"), 2,
        {S("-b-c"), S("Z-b-c"), S("a-"), S("a-Z")});
    row("two-character-delimiter", S("a--b"), S("--"), S("Z"), 2,
        {S("--b"), S("Z--b"), S("a--"), S("a--Z")});
    row("delimiter-at-start", S("=abc"), S("="), S("K"), 1,
        {S("=abc"), S("K=abc"), S("="), S("=K")});
    row("delimiter-at-end", S("abc-"), S("-"), S("Z"), 4, {S("-"), S("Z-"), S("abc-"), S("abc-Z")});
    row("delimiter-is-whole-value", S("abc"), S("abc"), S("K"), 1,
        {S("abc"), S("Kabc"), S("abc"), S("abcK")});
    row("absent-no-insertion", S("abc"), S("z"), S("K"), 0,
        {S("abc"), S("abc"), S("abc"), S("abc")});
    row("delimiter-longer-than-value", S("ab"), S("abc"), S("K"), 0,
        {S("ab"), S("ab"), S("ab"), S("ab")});
    row("whole-text-not-any-character", S("abc"), S("ca"), S("K"), 0,
        {S("abc"), S("abc"), S("abc"), S("abc")});
    row("case-sensitive-search", S("aBcb"), S("b"), S("K"), 4,
        {S("b"), S("Kb"), S("aBcb"), S("aBcbK")});
    row("partial-match-before-whole-match", S("aXbXYc"), S("XY"), S("R"), 4,
        {S("XYc"), S("RXYc"), S("aXbXY"), S("aXbXYR")});
    row("replacement-contains-delimiter", S("a=b"), S("="), S("=="), 2,
        {S("=b"), S("===b"), S("a="), S("a===")});
    row("empty-value", S(""), S("-"), S("Z"), 0, {S(""), S(""), S(""), S("")});
    row("empty-delimiter-at-position-one", S("abc"), S(""), S("K"), 1,
        {S("abc"), S("Kabc"), S(""), S("K")});
    row("surrogate-pair-delimiter", S("a") + kEmoji + S("b") + kEmoji, kEmoji, S("R"), 2,
        {kEmoji + S("b") + kEmoji, S("R") + kEmoji + S("b") + kEmoji, S("a") + kEmoji,
         S("a") + kEmoji + S("R")});
    row("low-surrogate-unit-as-delimiter", S("x") + kEmoji + S("y"), kLow, S("R"), 3,
        {kLow + S("y"), S("R") + kLow + S("y"), S("x") + kEmoji, S("x") + kEmoji + S("R")});
}

void TestFundamental::delimiters()
{
    QFETCH(QString, value);
    QFETCH(QString, delimiter);
    QFETCH(QString, replacement);
    QFETCH(int, position);
    QFETCH(QStringList, expected);
    QCOMPARE(Fundamental::DelimiterPosition(value, delimiter), qsizetype(position));
    QCOMPARE(Fundamental::RemoveTextBefore(value, delimiter), expected.at(0));
    QCOMPARE(Fundamental::ReplaceTextBefore(value, delimiter, replacement), expected.at(1));
    QCOMPARE(Fundamental::RemoveTextAfter(value, delimiter), expected.at(2));
    QCOMPARE(Fundamental::ReplaceTextAfter(value, delimiter, replacement), expected.at(3));
}

void TestFundamental::positions_data()
{
    QTest::addColumn<QString>("transform");
    QTest::addColumn<QString>("value");
    QTest::addColumn<qint16>("x");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("error"); // 0: no error expected

    const auto ok = [](const char* transform, const char* what, const QString& value, qint16 x,
                       const QString& expected) {
        QTest::addRow("%s-%s", transform, what)
            << QString::fromLatin1(transform) << value << x << expected << 0;
    };
    const auto fails = [](const char* transform, const char* what, const QString& value, qint16 x,
                          int error) {
        QTest::addRow("%s-%s-fails-%d", transform, what, error)
            << QString::fromLatin1(transform) << value << x << QString() << error;
    };
    const int invalidCall = RuntimeError::InvalidProcedureCall;
    const int overflow = RuntimeError::Overflow;

    // Both remove positions 1 to x; x + 1 is computed in 16 bits.
    for (const char* name : {"RemoveFirstChars", "RemoveTextBeforePosition"}) {
        ok(name, "two", S("abcdef"), 2, S("cdef"));
        ok(name, "zero", S("abc"), 0, S("abc"));
        ok(name, "one", S("abc"), 1, S("bc"));
        ok(name, "length", S("abc"), 3, S(""));
        ok(name, "beyond-length", S("abc"), 5, S(""));
        ok(name, "32766", S("abc"), 32766, S(""));
        ok(name, "empty-value-zero", S(""), 0, S(""));
        ok(name, "empty-value-32766", S(""), 32766, S(""));
        ok(name, "32766-of-long-value", repeated('a', 32766) + repeated('b', 7234), 32766,
           repeated('b', 7234));
        ok(name, "splits-surrogate-pair", kEmoji + S("b"), 1, kLow + S("b"));
        fails(name, "minus-one", S("abc"), -1, invalidCall);
        fails(name, "minus-32768", S("abc"), -32768, invalidCall);
        fails(name, "empty-value-minus-one", S(""), -1, invalidCall);
        fails(name, "32767", S("abc"), 32767, overflow);
        fails(name, "empty-value-32767", S(""), 32767, overflow);
        fails(name, "32767-of-long-value", repeated('a', 40000), 32767, overflow);
    }
    // The count n - x is computed in 32 bits.
    const char* last = "RemoveLastChars";
    ok(last, "two", S("abcdef"), 2, S("abcd"));
    ok(last, "length", S("abc"), 3, S(""));
    ok(last, "zero", S("abc"), 0, S("abc"));
    ok(last, "one", S("abc"), 1, S("ab"));
    ok(last, "minus-one-whole-value", S("abc"), -1, S("abc"));
    ok(last, "minus-two-whole-value", S("abc"), -2, S("abc"));
    ok(last, "minus-32768-whole-value", S("abc"), -32768, S("abc"));
    ok(last, "empty-value-zero", S(""), 0, S(""));
    ok(last, "empty-value-minus-32768", S(""), -32768, S(""));
    ok(last, "32767-of-long-value", repeated('a', 7233) + repeated('b', 32767), 32767,
       repeated('a', 7233));
    ok(last, "32767-of-value-of-that-length", repeated('x', 32767), 32767, S(""));
    ok(last, "minus-32768-of-long-value", repeated('y', 40000), -32768, repeated('y', 40000));
    ok(last, "splits-surrogate-pair", S("a") + kEmoji, 1, S("a") + kHigh);
    fails(last, "length-plus-one", S("abc"), 4, invalidCall);
    fails(last, "beyond-length", S("abc"), 5, invalidCall);
    fails(last, "32766", S("abc"), 32766, invalidCall);
    fails(last, "32767", S("abc"), 32767, invalidCall);
    fails(last, "empty-value-one", S(""), 1, invalidCall);
    fails(last, "empty-value-32767", S(""), 32767, invalidCall);
    const char* keep = "KeepFirstChars";
    ok(keep, "two", S("abcdef"), 2, S("ab"));
    ok(keep, "zero", S("abc"), 0, S(""));
    ok(keep, "one", S("abc"), 1, S("a"));
    ok(keep, "length", S("abc"), 3, S("abc"));
    ok(keep, "beyond-length", S("abc"), 10, S("abc"));
    ok(keep, "32766", S("abc"), 32766, S("abc"));
    ok(keep, "32767", S("abc"), 32767, S("abc"));
    ok(keep, "empty-value-zero", S(""), 0, S(""));
    ok(keep, "empty-value-32767", S(""), 32767, S(""));
    ok(keep, "32767-of-long-value", repeated('a', 32767) + repeated('b', 100), 32767,
       repeated('a', 32767));
    ok(keep, "splits-surrogate-pair", kEmoji + S("b"), 1, kHigh);
    fails(keep, "minus-one", S("abc"), -1, invalidCall);
    fails(keep, "minus-32768", S("abc"), -32768, invalidCall);
    fails(keep, "empty-value-minus-one", S(""), -1, invalidCall);
}

void TestFundamental::positions()
{
    QFETCH(QString, transform);
    QFETCH(QString, value);
    QFETCH(qint16, x);
    QFETCH(QString, expected);
    QFETCH(int, error);
    const PositionTransform apply = positionTransforms().value(transform);
    QVERIFY2(apply, qPrintable(transform));
    try {
        const QString result = apply(value, x);
        if (error != 0)
            QFAIL(qPrintable(S("no run-time error; returned \"%1\"").arg(result.left(40))));
        QCOMPARE(result, expected);
    } catch (const RuntimeError& e) {
        QVERIFY2(error != 0, qPrintable(S("unexpected run-time error %1").arg(e.number())));
        QCOMPARE(e.number(), error);
    }
}

void TestFundamental::spaceRulesMatchReferenceOnRandomTexts()
{
    QRandomGenerator random(20240607u);
    const QString alphabet = S(" a\t\r\n\u00E9");
    for (int sample = 0; sample < 4000; ++sample) {
        const QString value = randomText(random, alphabet, 14);
        const QString replacement = randomText(random, alphabet, 3);
        COMPARE_SAMPLE("CollapseSpaces", value, Fundamental::CollapseSpaces(value),
                       referenceCollapseSpaces(value));
        COMPARE_SAMPLE("RemoveAllSpaces", value, Fundamental::RemoveAllSpaces(value),
                       referenceReplaceAll(value, S(" "), S("")));
        COMPARE_SAMPLE("ReplaceAllSpaces", value, Fundamental::ReplaceAllSpaces(value, replacement),
                       referenceReplaceAll(value, S(" "), replacement));
        COMPARE_SAMPLE("ReplaceTabs", value, Fundamental::ReplaceTabs(value, replacement),
                       referenceReplaceAll(value, S("\t"), replacement));
        // Two passes, LF first, the second over the result of the first.
        COMPARE_SAMPLE("ReplaceEnters", value, Fundamental::ReplaceEnters(value, replacement),
                       referenceReplaceAll(referenceReplaceAll(value, S("\n"), replacement),
                                           S("\r"), replacement));
        COMPARE_SAMPLE(
            "RemoveEnters", value, Fundamental::RemoveEnters(value),
            referenceReplaceAll(referenceReplaceAll(value, S("\n"), S(" ")), S("\r"), S(" ")));
    }
}

void TestFundamental::textRulesMatchReferenceOnRandomTexts()
{
    QRandomGenerator random(7919u);
    for (int sample = 0; sample < 4000; ++sample) {
        const QString value = randomText(random, S("ab \u00E9"), 12);
        const QString findText = S("a") + randomText(random, S("ab"), 2);
        const QString replacement = randomText(random, S("ab\u00E9"), 3);
        const QString expected = referenceReplaceAll(value, findText, replacement);
        COMPARE_SAMPLE("ReplaceText", value, Fundamental::ReplaceText(value, findText, replacement),
                       expected);
        COMPARE_SAMPLE("ReplaceAll", value, Fundamental::ReplaceAll(value, findText, replacement),
                       expected);
        COMPARE_SAMPLE("RemoveText", value, Fundamental::RemoveText(value, findText),
                       referenceReplaceAll(value, findText, S("")));

        // The first occurrence, found by a plain left-to-right search.
        qsizetype at = 0;
        while (at < value.size() && !QStringView(value).mid(at).startsWith(findText))
            ++at;
        const bool found = at < value.size();
        QCOMPARE(Fundamental::DelimiterPosition(value, findText), found ? at + 1 : qsizetype(0));
        COMPARE_SAMPLE("RemoveTextBefore", value, Fundamental::RemoveTextBefore(value, findText),
                       found ? value.mid(at) : value);
        COMPARE_SAMPLE("RemoveTextAfter", value, Fundamental::RemoveTextAfter(value, findText),
                       found ? value.left(at + findText.size()) : value);
    }
}

QTEST_GUILESS_MAIN(TestFundamental)

#include "tst_fundamental.moc"
