#include "app/Interaction.h"
#include "app/Main.h"
#include "app/Numeric.h"
#include "app/RuntimeError.h"
#include "change/OperationCatalogue.h"
#include "tests/support/ScriptedInteraction.h"

#include <QTest>
#include <optional>

namespace
{

const Operation& operation(int number)
{
    return OperationCatalogue().at(static_cast<size_t>(number - 1));
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Main::SetApplicationTitle(); }
    void captionsInListOrder();
    void replacingCaptionsAskForTheReplacement();
    void findOperation_data();
    void findOperation();
    void askParameters_data();
    void askParameters();
    void numericTest_data();
    void numericTest();
    void numberConversion_data();
    void numberConversion();
    void newValue_data();
    void newValue();
    void numberOutOfRangeFailsOnEveryRow();
    void valuesWithoutTheChangingTextsStayAsTheyAre_data();
    void valuesWithoutTheChangingTextsStayAsTheyAre();
};

void TestCatalogue::captionsInListOrder()
{
    const QStringList expected = {
        "Remove All Spaces in Selected Field",
        "Replace All Spaces in Selected Field With...",
        "Remove Extra Spaces at Beginning of Selected Field",
        "Remove Extra Spaces at End of Selected Field",
        "Remove All Spaces Except for Single Spaces Between Words in Selected Field",
        "Remove Enters (Carriage Returns) in Selected Field",
        "Replace Enters (Carriage Returns) in Selected Field With...",
        "Remove Tabs in Selected Field",
        "Replace Tabs in Selected Field With...",
        "Remove Alphabet Character(s) in Selected Field",
        "Replace Alphabet Character(s) in Selected Field With...",
        "Remove Numeric Character(s) in Selected Field",
        "Replace Numeric Character(s) in Selected Field With...",
        "Remove Alphanumeric Character(s) in Selected Field",
        "Replace Alphanumeric Character(s) in Selected Field With...",
        "Remove Non-Alphanumeric Character(s) in Selected Field",
        "Replace Non-Alphanumeric Character(s) in Selected Field With...",
        "Remove User-Defined Character(s) in Selected Field",
        "Replace User-Defined Character(s) in Selected Field With...",
        "Remove All Text After User-Defined Character(s) in Selected Field",
        "Replace All Text After User-Defined Character(s) in Selected Field With...",
        "Remove All Text Before User-Defined Character(s) in Selected Field",
        "Replace All Text Before User-Defined Character(s) in Selected Field With...",
        "Remove First x Character(s) in Selected Field",
        "Remove Last x Character(s) in Selected Field",
        "Remove All Text After x Position in Field",
        "Remove All Text Before x Position in Field",
    };
    QStringList captions;
    for (const Operation& op : OperationCatalogue())
        captions << op.caption;
    QCOMPARE(captions, expected);
}

void TestCatalogue::replacingCaptionsAskForTheReplacement()
{
    for (const Operation& op : OperationCatalogue()) {
        const bool asksReplacement = op.promptKind == PromptKind::ReplacementPrompt ||
                                     op.promptKind == PromptKind::FindReplacePrompts;
        QVERIFY2(op.caption.endsWith(QStringLiteral(" With...")) == asksReplacement,
                 qPrintable(op.caption));
    }
}

void TestCatalogue::findOperation_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("number"); // 0: none

    int number = 0;
    for (const Operation& op : OperationCatalogue()) {
        ++number;
        QTest::addRow("caption %d finds its own row", number) << op.caption << number;
    }
    const QString first = operation(1).caption;
    QTest::newRow("lower case finds nothing") << first.toLower() << 0;
    QTest::newRow("trailing blank finds nothing") << first + ' ' << 0;
    QTest::newRow("leading blank finds nothing") << ' ' + first << 0;
    QTest::newRow("empty text finds nothing") << QString() << 0;
    QTest::newRow("caption prefix finds nothing") << QString("Remove All Spaces") << 0;
}

void TestCatalogue::findOperation()
{
    QFETCH(QString, caption);
    QFETCH(int, number);
    const Operation* found = FindOperation(caption);
    if (number == 0)
        QCOMPARE(found, nullptr);
    else
        QCOMPARE(found, &operation(number));
}

void TestCatalogue::askParameters_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("promptsShown");
    QTest::addColumn<QStringList>("messagesShown");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QString>("firstText");
    QTest::addColumn<QString>("secondText");

    const QString replaceWith = "Replace With:";
    const QString userDefined = "Enter User-Defined Character(s):";
    const QString findWhat = "Find What:";
    const QString enterNumber = "Enter Number:";
    const QStringList none;

    QTest::newRow("no prompt asks nothing") << 1 << none << none << none << true << ""
                                            << "";
    QTest::newRow("replacement answered")
        << 2 << QStringList{"_"} << QStringList{replaceWith} << none << true << "_"
        << "";
    QTest::newRow("replacement cancelled, no message")
        << 2 << QStringList{""} << QStringList{replaceWith} << none << false << ""
        << "";
    QTest::newRow("replacement blank is an answer")
        << 9 << QStringList{" "} << QStringList{replaceWith} << none << true << " "
        << "";
    QTest::newRow("user text apostrophe passes unchanged")
        << 18 << QStringList{"'"} << QStringList{userDefined} << none << true << "'"
        << "";
    QTest::newRow("delimiter cancelled")
        << 20 << QStringList{""} << QStringList{userDefined} << none << false << ""
        << "";
    QTest::newRow("find empty still asks the replacement, not applied")
        << 19 << QStringList{"", "x"} << QStringList{findWhat, replaceWith} << none << false << ""
        << "x";
    QTest::newRow("find answered, empty replacement applied")
        << 19 << QStringList{"ab", ""} << QStringList{findWhat, replaceWith} << none << true << "ab"
        << "";
    QTest::newRow("delimiter and replacement")
        << 23 << QStringList{"=", "K"} << QStringList{findWhat, replaceWith} << none << true << "="
        << "K";
    QTest::newRow("number not numeric") << 24 << QStringList{"abc"} << QStringList{enterNumber}
                                        << QStringList{"Must enter number"} << false << ""
                                        << "";
    QTest::newRow("number cancelled is not numeric")
        << 25 << QStringList{""} << QStringList{enterNumber} << QStringList{"Must enter number"}
        << false << ""
        << "";
    QTest::newRow("number with blanks around")
        << 26 << QStringList{" 3 "} << QStringList{enterNumber} << none << true << ""
        << "";
    QTest::newRow("number out of range is still numeric")
        << 27 << QStringList{"40000"} << QStringList{enterNumber} << none << true << ""
        << "";
}

void TestCatalogue::askParameters()
{
    QFETCH(int, number);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, promptsShown);
    QFETCH(QStringList, messagesShown);
    QFETCH(bool, applied);
    QFETCH(QString, firstText);
    QFETCH(QString, secondText);

    ScriptedInteraction ui(answers);
    const std::optional<OperationParameters> parameters = AskParameters(operation(number), ui);
    QCOMPARE(ui.prompts, promptsShown);
    QCOMPARE(ui.messages, messagesShown);
    for (const QString& title : ui.titles)
        QCOMPARE(title, Main::ApplicationTitle());
    QCOMPARE(parameters.has_value(), applied);
    if (applied && operation(number).promptKind != PromptKind::NumberPrompt) {
        QCOMPARE(parameters->firstText, firstText);
        QCOMPARE(parameters->secondText, secondText);
    }
    if (applied && operation(number).promptKind == PromptKind::NumberPrompt)
        QCOMPARE(parameters->numberAnswer, answers.front()); // kept as typed
}

void TestCatalogue::numericTest_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");

    QTest::newRow("digits") << "C"
                            << "3" << true << 3.0;
    QTest::newRow("blanks and tabs around") << "C"
                                            << " \t3 " << true << 3.0;
    QTest::newRow("plus sign") << "C"
                               << "+7" << true << 7.0;
    QTest::newRow("minus sign") << "C"
                                << "-7" << true << -7.0;
    QTest::newRow("decimal point") << "C"
                                   << "2.5" << true << 2.5;
    QTest::newRow("no digit before the point") << "C"
                                               << ".5" << true << 0.5;
    QTest::newRow("no digit after the point") << "C"
                                              << "5." << true << 5.0;
    QTest::newRow("exponent") << "C"
                              << "1e3" << true << 1000.0;
    QTest::newRow("exponent with sign") << "C"
                                        << "-2.5E+2" << true << -250.0;
    QTest::newRow("negative exponent") << "C"
                                       << "25e-1" << true << 2.5;
    QTest::newRow("grouping") << "en_US"
                              << "1,000" << true << 1000.0;
    QTest::newRow("german decimal comma") << "de_DE"
                                          << "2,5" << true << 2.5;
    QTest::newRow("german grouping full stop") << "de_DE"
                                               << "1.000" << true << 1000.0;
    QTest::newRow("empty") << "C"
                           << "" << false << 0.0;
    QTest::newRow("blanks only") << "C"
                                 << "   " << false << 0.0;
    QTest::newRow("letters") << "C"
                             << "abc" << false << 0.0;
    QTest::newRow("sign only") << "C"
                               << "-" << false << 0.0;
    QTest::newRow("point only") << "C"
                                << "." << false << 0.0;
    QTest::newRow("exponent without digits") << "C"
                                             << "1e" << false << 0.0;
    QTest::newRow("exponent without mantissa") << "C"
                                               << "e3" << false << 0.0;
    QTest::newRow("two signs") << "C"
                               << "--1" << false << 0.0;
    QTest::newRow("blank inside") << "C"
                                  << "1 2" << false << 0.0;
    QTest::newRow("two points") << "C"
                                << "1.2.3" << false << 0.0;
    QTest::newRow("trailing letters") << "C"
                                      << "3x" << false << 0.0;
    QTest::newRow("infinity word") << "C"
                                   << "inf" << false << 0.0;
    QTest::newRow("not a number word") << "C"
                                       << "nan" << false << 0.0;
    QTest::newRow("hexadecimal") << "C"
                                 << "0x10" << false << 0.0;
    QTest::newRow("grouping before the first digit") << "en_US"
                                                     << ",5" << false << 0.0;
}

void TestCatalogue::numericTest()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);

    const std::optional<double> parsed = Main::ParseNumber(text, QLocale(locale));
    QCOMPARE(parsed.has_value(), numeric);
    QCOMPARE(Main::IsNumeric(text, QLocale(locale)), numeric);
    if (numeric)
        QCOMPARE(*parsed, value);
}

void TestCatalogue::numberConversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("x");           // when no error
    QTest::addColumn<int>("errorNumber"); // 0: none

    QTest::newRow("half rounds to even below") << "2.5" << 2 << 0;
    QTest::newRow("half rounds to even above") << "3.5" << 4 << 0;
    QTest::newRow("negative half rounds to zero") << "-0.5" << 0 << 0;
    QTest::newRow("negative one and a half") << "-1.5" << -2 << 0;
    QTest::newRow("just below half rounds down") << "2.49" << 2 << 0;
    QTest::newRow("blanks around") << " 3 " << 3 << 0;
    QTest::newRow("upper limit") << "32767" << 32767 << 0;
    QTest::newRow("rounds down to the upper limit") << "32767.4" << 32767 << 0;
    QTest::newRow("rounds up past the upper limit") << "32767.5" << 0 << 6;
    QTest::newRow("lower limit") << "-32768" << -32768 << 0;
    QTest::newRow("half below the lower limit rounds to even") << "-32768.5" << -32768 << 0;
    QTest::newRow("below the lower limit") << "-32769" << 0 << 6;
    QTest::newRow("forty thousand") << "40000" << 0 << 6;
    QTest::newRow("exponent past the range") << "1e5" << 0 << 6;
    QTest::newRow("exponent past double") << "1e400" << 0 << 6;
    QTest::newRow("underflow is zero") << "1e-400" << 0 << 0;
}

void TestCatalogue::numberConversion()
{
    QFETCH(QString, text);
    QFETCH(int, x);
    QFETCH(int, errorNumber);

    try {
        const qint16 converted = Main::ToInteger16(text, QLocale::c());
        QCOMPARE(errorNumber, 0);
        QCOMPARE(int(converted), x);
    } catch (const RuntimeError& error) {
        QCOMPARE(error.number(), errorNumber);
        QCOMPARE(error.description(), QStringLiteral("Overflow"));
    }
}

void TestCatalogue::newValue_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    // One row per operation: each caption reaches its own transform, with the
    // answers in the right places.
    const QStringList none;
    QTest::newRow("1 removes spaces") << 1 << none << "a b  c"
                                      << "abc";
    QTest::newRow("2 replaces spaces") << 2 << QStringList{"_"} << "a b"
                                       << "a_b";
    QTest::newRow("3 trims the start") << 3 << none << "  a b "
                                       << "a b ";
    QTest::newRow("4 trims the end") << 4 << none << " a b  "
                                     << " a b";
    QTest::newRow("5 collapses spaces") << 5 << none << "  it's  ok "
                                        << "it's ok";
    QTest::newRow("6 enters become spaces") << 6 << none << "a\r\nb"
                                            << "a  b";
    QTest::newRow("7 replaces enters") << 7 << QStringList{"|"} << "a\r\nb"
                                       << "a||b";
    QTest::newRow("8 removes tabs") << 8 << none << "a\tb\t"
                                    << "ab";
    QTest::newRow("9 replaces tabs") << 9 << QStringList{"    "} << "a\tb"
                                     << "a    b";
    QTest::newRow("10 removes letters") << 10 << none << "Ab-1"
                                        << "-1";
    QTest::newRow("11 replaces letters") << 11 << QStringList{"X"} << "ab1 c"
                                         << "XX1 X";
    QTest::newRow("12 removes digits") << 12 << none << "a12b"
                                       << "ab";
    QTest::newRow("13 replaces digits") << 13 << QStringList{"#"} << "a12b"
                                        << "a##b";
    QTest::newRow("14 removes letters and digits") << 14 << none << "a1 - b2"
                                                   << " - ";
    QTest::newRow("15 replaces letters and digits") << 15 << QStringList{"*"} << "a1-"
                                                    << "**-";
    QTest::newRow("16 keeps only letters and digits") << 16 << none << "a1 - b2"
                                                      << "a1b2";
    QTest::newRow("17 replaces the rest, keeps spaces") << 17 << QStringList{"_"} << "a1 - b2"
                                                        << "a1 _ b2";
    QTest::newRow("18 removes the user text") << 18 << QStringList{"ca"} << "abcabc"
                                              << "abbc";
    QTest::newRow("19 find and replace") << 19 << QStringList{"ab", ""} << "xaby"
                                         << "xy";
    QTest::newRow("20 removes after the delimiter") << 20 << QStringList{"-"} << "a-b-c"
                                                    << "a-";
    QTest::newRow("21 replaces after the delimiter") << 21 << QStringList{"-", "Z"} << "a-b-c"
                                                     << "a-Z";
    QTest::newRow("22 removes before the delimiter") << 22 << QStringList{"="} << "key=val=x"
                                                     << "=val=x";
    QTest::newRow("23 replaces before the delimiter") << 23 << QStringList{"=", "K"} << "key=val"
                                                      << "K=val";
    QTest::newRow("24 removes the first x") << 24 << QStringList{"2"} << "abcdef"
                                            << "cdef";
    QTest::newRow("25 removes the last x") << 25 << QStringList{"2"} << "abcdef"
                                           << "abcd";
    QTest::newRow("26 keeps the first x") << 26 << QStringList{"2"} << "abcdef"
                                          << "ab";
    QTest::newRow("26 with zero keeps nothing") << 26 << QStringList{"0"} << "abc"
                                                << "";
    QTest::newRow("27 removes up to position x") << 27 << QStringList{"2"} << "abcdef"
                                                 << "cdef";
    QTest::newRow("24 with a rounded answer") << 24 << QStringList{"2.5"} << "abcdef"
                                              << "cdef";
}

void TestCatalogue::newValue()
{
    QFETCH(int, number);
    QFETCH(QStringList, answers);
    QFETCH(QString, value);
    QFETCH(QString, expected);

    ScriptedInteraction ui(answers);
    const std::optional<OperationParameters> parameters = AskParameters(operation(number), ui);
    QVERIFY(parameters.has_value());
    QVERIFY(ui.answers.isEmpty()); // every answer was asked for
    QCOMPARE(ComputeNewValue(operation(number), *parameters, value), expected);
}

void TestCatalogue::numberOutOfRangeFailsOnEveryRow()
{
    ScriptedInteraction ui({"40000"});
    const std::optional<OperationParameters> parameters = AskParameters(operation(24), ui);
    QVERIFY(parameters.has_value());
    for (const QString& value : {QString("abc"), QString(), QString("x")}) {
        try {
            ComputeNewValue(operation(24), *parameters, value);
            QFAIL("the conversion of 40000 must overflow");
        } catch (const RuntimeError& error) {
            QCOMPARE(error.number(), int(RuntimeError::Overflow));
        }
    }
}

void TestCatalogue::valuesWithoutTheChangingTextsStayAsTheyAre_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("first");
    for (int number = 1; number <= int(OperationCatalogue().size()); ++number) {
        if (operation(number).changesOnly == ChangesOnly::AnyValue)
            continue;
        QTest::addRow("operation %d", number) << number << QString("x|");
        QTest::addRow("operation %d, one-character answer", number) << number << QString("a");
    }
}

// A run reads only the values that hold one of the texts: every other
// value must come out of the transform unchanged, and without a failure.
void TestCatalogue::valuesWithoutTheChangingTextsStayAsTheyAre()
{
    QFETCH(int, number);
    QFETCH(QString, first);
    OperationParameters parameters;
    parameters.firstText = first;
    parameters.secondText = QStringLiteral("_");
    const std::optional<QStringList> texts = ChangingTexts(operation(number), parameters);
    QVERIFY(texts && !texts->isEmpty());
    const QStringList samples{
        "",    " ",      "  a  b ",           "a\tb", "\r\n", "line\nbreak", "x|y", "a",
        "abc", "Ab1 x|", "\u00e9\U0001F600 ", "x",    "|x",   "12345"};
    for (const QString& value : samples) {
        if (std::any_of(texts->begin(), texts->end(),
                        [&](const QString& text) { return value.contains(text); }))
            continue;
        try {
            QCOMPARE(ComputeNewValue(operation(number), parameters, value), value);
        } catch (const RuntimeError& error) {
            QFAIL(qPrintable(QString("%1 fails on %2").arg(error.description(), value)));
        }
    }
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
