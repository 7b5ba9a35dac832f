// End-to-end tests of quorvane-cli: the tool runs as a real process, with its
// arguments and JSON Lines on stdin, and its stdout, stderr and exit status are
// checked.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

namespace
{

// Exit statuses of the tool.
constexpr int ExitOk = 0;
constexpr int ExitUsage = 2;
constexpr int ExitNotApplied = 3;

// The operation list, in the order the tool numbers it.
const char* const Captions[27] = {
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

struct Run {
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the tool with `args`, feeds `input` on stdin and waits up to 10 s.
Run runCli(const QStringList& args, const QByteArray& input = QByteArray())
{
    QProcess process;
    // A fixed locale: the number answers ("2.5") must not depend on the
    // locale of whoever runs the tests.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVANE_CLI_PATH), args);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    run.finished = process.waitForFinished(10000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// One JSON Lines input line holding `text` as a JSON string.
QByteArray jsonLine(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2) + '\n';
}

// The expected output lines, as JSON objects in compact text.
QString newValue(const QString& text)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("new"), text}}).toJson(QJsonDocument::Compact));
}

QString errorLine(int number, const QString& description)
{
    const QJsonObject inner{{QStringLiteral("number"), number},
                            {QStringLiteral("description"), description}};
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("error"), inner}})
                                 .toJson(QJsonDocument::Compact));
}

QString invalidCall()
{
    return errorLine(5, QStringLiteral("Invalid procedure call or argument"));
}
QString overflow()
{
    return errorLine(6, QStringLiteral("Overflow"));
}

// The lines of stdout; every line, the last included, must end in a newline.
QList<QByteArray> outputLines(const QByteArray& out)
{
    if (out.isEmpty())
        return {};
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// True when stdout holds exactly the expected lines, each newline-terminated
// and equal to its expected object once both are parsed; else `why` says why.
bool outputMatches(const QByteArray& out, const QStringList& expected, QString* why)
{
    if (!out.isEmpty() && !out.endsWith('\n')) {
        *why = QStringLiteral("the last output line has no newline: ") + QString::fromUtf8(out);
        return false;
    }
    const QList<QByteArray> lines = outputLines(out);
    if (lines.size() != expected.size()) {
        *why = QStringLiteral("%1 output lines, expected %2:\n%3")
                   .arg(lines.size())
                   .arg(expected.size())
                   .arg(QString::fromUtf8(out));
        return false;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError parseError;
        const QJsonDocument actual = QJsonDocument::fromJson(lines[i], &parseError);
        const QJsonObject wanted = QJsonDocument::fromJson(expected[i].toUtf8()).object();
        if (parseError.error != QJsonParseError::NoError || !actual.isObject() ||
            actual.object() != wanted) {
            *why = QStringLiteral("line %1: got %2, expected %3")
                       .arg(i + 1)
                       .arg(QString::fromUtf8(lines[i]), expected[i]);
            return false;
        }
    }
    return true;
}

QStringList transformArgs(const QString& operation, const QStringList& answers)
{
    QStringList args{QStringLiteral("transform"), QStringLiteral("--operation"), operation};
    for (const QString& answer : answers)
        args << QStringLiteral("--answer") << answer;
    return args;
}

} // namespace

#define VERIFY_FINISHED(run)                                                                       \
    do {                                                                                           \
        QVERIFY2((run).finished, "quorvane-cli did not start or did not finish within 10 s");      \
        QCOMPARE((run).exitStatus, QProcess::NormalExit);                                          \
    } while (false)

// Compares stdout with the expected lines, object by object after parsing.
#define COMPARE_OUTPUT(run, expected)                                                              \
    do {                                                                                           \
        QString why_;                                                                              \
        QVERIFY2(outputMatches((run).out, (expected), &why_), qPrintable(why_));                   \
    } while (false)

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void listsOperations();
    void everyOperation_data();
    void everyOperation();
    void transform_data();
    void transform();
    void notApplied_data();
    void notApplied();
    void usageError_data();
    void usageError();
    void badInputLine_data();
    void badInputLine();
    void exactOutputText();
};

void TestCli::listsOperations()
{
    const Run run = runCli({QStringLiteral("operations")});
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitOk);
    QVERIFY(run.out.endsWith('\n'));
    const QList<QByteArray> lines = outputLines(run.out);
    QCOMPARE(lines.size(), 27);
    for (int i = 0; i < 27; ++i)
        QCOMPARE(QString::fromUtf8(lines[i]),
                 QString::number(i + 1) + u'\t' + QString::fromUtf8(Captions[i]));
    // Spelled out once more, as the user reads them.
    QCOMPARE(lines.first(), QByteArray("1\tRemove All Spaces in Selected Field"));
    QCOMPARE(lines[18],
             QByteArray("19\tReplace User-Defined Character(s) in Selected Field With..."));
    QCOMPARE(lines.last(), QByteArray("27\tRemove All Text Before x Position in Field"));
}

// Each operation, chosen by its number and by its caption, on one value that
// tells the 27 apart.
void TestCli::everyOperation_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("expected");

    const QString u = QStringLiteral("_");
    const QString b = QStringLiteral("b");
    const auto row = [](int op, const QStringList& answers, const char* expected) {
        QTest::addRow("op-%02d", op) << op << answers << QString::fromLatin1(expected);
    };
    // The value: "  Ab1 -b<TAB>c2<CR><LF>d  ".
    row(1, {}, "Ab1-b\tc2\r\nd");
    row(2, {u}, "__Ab1_-b\tc2\r\nd__");
    row(3, {}, "Ab1 -b\tc2\r\nd  ");
    row(4, {}, "  Ab1 -b\tc2\r\nd");
    row(5, {}, "Ab1 -b\tc2\r\nd");
    row(6, {}, "  Ab1 -b\tc2  d  ");
    row(7, {u}, "  Ab1 -b\tc2__d  ");
    row(8, {}, "  Ab1 -bc2\r\nd  ");
    row(9, {u}, "  Ab1 -b_c2\r\nd  ");
    row(10, {}, "  1 -\t2\r\n  ");
    row(11, {u}, "  __1 -_\t_2\r\n_  ");
    row(12, {}, "  Ab -b\tc\r\nd  ");
    row(13, {u}, "  Ab_ -b\tc_\r\nd  ");
    row(14, {}, "   -\t\r\n  ");
    row(15, {u}, "  ___ -_\t__\r\n_  ");
    row(16, {}, "Ab1bc2d");
    row(17, {u}, "  Ab1 _b_c2__d  ");
    row(18, {b}, "  A1 -\tc2\r\nd  ");
    row(19, {b, u}, "  A_1 -_\tc2\r\nd  ");
    row(20, {b}, "  Ab");
    row(21, {b, u}, "  Ab_");
    row(22, {b}, "b1 -b\tc2\r\nd  ");
    row(23, {b, u}, "_b1 -b\tc2\r\nd  ");
    row(24, {QStringLiteral("4")}, "1 -b\tc2\r\nd  ");
    row(25, {QStringLiteral("4")}, "  Ab1 -b\tc2\r");
    row(26, {QStringLiteral("5")}, "  Ab1");
    row(27, {QStringLiteral("6")}, "-b\tc2\r\nd  ");
}

void TestCli::everyOperation()
{
    QFETCH(int, operation);
    QFETCH(QStringList, answers);
    QFETCH(QString, expected);
    const QByteArray input = jsonLine(QStringLiteral("  Ab1 -b\tc2\r\nd  "));
    const QStringList want{newValue(expected)};

    const Run byNumber = runCli(transformArgs(QString::number(operation), answers), input);
    VERIFY_FINISHED(byNumber);
    QCOMPARE(byNumber.exitCode, ExitOk);
    COMPARE_OUTPUT(byNumber, want);

    const Run byCaption =
        runCli(transformArgs(QString::fromUtf8(Captions[operation - 1]), answers), input);
    VERIFY_FINISHED(byCaption);
    QCOMPARE(byCaption.exitCode, ExitOk);
    COMPARE_OUTPUT(byCaption, want);
}

void TestCli::transform_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("expected");

    const auto t = [](QStringList rest) {
        rest.prepend(QStringLiteral("transform"));
        return rest;
    };

    QTest::newRow("op1-removes-spaces")
        << t({"--operation", "1"}) << QByteArray("\"a b  c\"\n") << QStringList{newValue("abc")};
    QTest::newRow("lines-stay-in-order")
        << t({"--operation=1"}) << QByteArray("\"a b\"\n\" \"\n\"x y z\"\n\"\"\n")
        << QStringList{newValue("ab"), newValue(""), newValue("xyz"), newValue("")};
    QTest::newRow("no-input-no-output") << t({"--operation", "1"}) << QByteArray() << QStringList{};
    QTest::newRow("last-line-without-newline")
        << t({"--operation", "1"}) << QByteArray("\"a b\"\n\"c d\"")
        << QStringList{newValue("ab"), newValue("cd")};
    QTest::newRow("op2-underscore")
        << t({"--operation", "2", "--answer", "_"}) << QByteArray("\"a b\"\n\"a b  c\"\n")
        << QStringList{newValue("a_b"), newValue("a_b__c")};
    QTest::newRow("answer-equals-form") << t({"--operation=2", "--answer=_"})
                                        << QByteArray("\"a b\"\n") << QStringList{newValue("a_b")};
    QTest::newRow("op7-crlf-gives-two-copies")
        << t({"--operation", "7", "--answer", "|"}) << QByteArray("\"a\\r\\nb\"\n")
        << QStringList{newValue("a||b")};
    QTest::newRow("op19-empty-replacement")
        << t({"--operation", "19", "--answer", "ab", "--answer", ""}) << QByteArray("\"xaby\"\n")
        << QStringList{newValue("xy")};
    QTest::newRow("op18-apostrophe")
        << t({"--operation", "18", "--answer", "'"}) << QByteArray("\"it's 'x'\"\n")
        << QStringList{newValue("its x")};
    QTest::newRow("answer-double-dash")
        << t({"--operation", "18", "--answer=--"}) << QByteArray("\"a--b-c\"\n")
        << QStringList{newValue("ab-c")};
    QTest::newRow("answer-starting-with-dash")
        << t({"--operation", "18", "--answer=-x"}) << QByteArray("\"a-xb-x\"\n")
        << QStringList{newValue("ab")};
    QTest::newRow("caption-with-answers")
        << t({"--operation=Replace All Text After User-Defined Character(s) in Selected Field "
              "With...",
              "--answer", "-", "--answer", "Z"})
        << QByteArray("\"a-b-c\"\n\"abc\"\n") << QStringList{newValue("a-Z"), newValue("abc")};
    QTest::newRow("op24-blanks-around-number")
        << t({"--operation", "24", "--answer", " 3 "}) << QByteArray("\"abcdef\"\n")
        << QStringList{newValue("def")};
    QTest::newRow("op24-2.5-rounds-to-2")
        << t({"--operation", "24", "--answer", "2.5"}) << QByteArray("\"abcdef\"\n")
        << QStringList{newValue("cdef")};
    QTest::newRow("op24-3.5-rounds-to-4")
        << t({"--operation", "24", "--answer", "3.5"}) << QByteArray("\"abcdef\"\n")
        << QStringList{newValue("ef")};
    QTest::newRow("op24-exponent") << t({"--operation", "24", "--answer", "+2e0"})
                                   << QByteArray("\"abcdef\"\n") << QStringList{newValue("cdef")};
    QTest::newRow("op26-zero-keeps-nothing")
        << t({"--operation", "26", "--answer", "0"}) << QByteArray("\"abc\"\n")
        << QStringList{newValue("")};
    // Failures of single values are reported in their line; the rest go on.
    QTest::newRow("op24-overflow-each-line")
        << t({"--operation", "24", "--answer", "40000"}) << QByteArray("\"abc\"\n\"\"\nnull\n")
        << QStringList{overflow(), overflow(), overflow()};
    QTest::newRow("op24-32767-overflows-position")
        << t({"--operation", "24", "--answer", "32767"}) << QByteArray("\"abc\"\n")
        << QStringList{overflow()};
    QTest::newRow("op24-negative-invalid-call")
        << t({"--operation", "24", "--answer=-1"}) << QByteArray("\"abc\"\n")
        << QStringList{invalidCall()};
    QTest::newRow("op25-too-long-then-next-line")
        << t({"--operation", "25", "--answer", "5"}) << QByteArray("\"abc\"\n\"abcdef\"\n")
        << QStringList{invalidCall(), newValue("a")};
    // A database Null is read as the empty text.
    QTest::newRow("null-as-empty-text")
        << t({"--operation", "2", "--answer", "_"}) << QByteArray("null\n\"a b\"\n")
        << QStringList{newValue(""), newValue("a_b")};
    QTest::newRow("null-is-empty-for-positions")
        << t({"--operation", "25", "--answer", "1"}) << QByteArray("null\n\"xy\"\n")
        << QStringList{invalidCall(), newValue("x")};
    // Escapes and non-ASCII text come back as the same characters.
    QTest::newRow("escapes-round-trip")
        << t({"--operation", "3"})
        << QByteArray("\"  \\t\\r\\n\\\"\\\\\\u00e9\\ud83d\\ude00\\u0041/\"\n")
        << QStringList{newValue(QStringLiteral("\t\r\n\"\\\u00e9\U0001F600A/"))};
    QTest::newRow("utf8-in-and-out")
        << t({"--operation", "1"}) << QByteArray("\"h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC\"\n")
        << QStringList{newValue(QStringLiteral("h\u00e9llow\u00f6rld\u20ac"))};
    QTest::newRow("surrogate-pair-counts-as-two")
        << t({"--operation", "17", "--answer", "_"}) << QByteArray("\"a\\ud83d\\ude00b\"\n")
        << QStringList{newValue("a__b")};
    QTest::newRow("non-ascii-answer")
        << t({"--operation", "2", "--answer", QStringLiteral("\u00e9")}) << QByteArray("\"a b\"\n")
        << QStringList{newValue(QStringLiteral("a\u00e9b"))};
}

void TestCli::transform()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, expected);
    const Run run = runCli(args, input);
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitOk);
    COMPARE_OUTPUT(run, expected);
}

// An operation that is not applied changes nothing: no output, status 3, and
// the message only where the operation has one.
void TestCli::notApplied_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("mustEnterNumber");

    QTest::newRow("op2-no-answer") << QStringList{"--operation", "2"} << false;
    QTest::newRow("op2-empty-answer") << QStringList{"--operation", "2", "--answer="} << false;
    QTest::newRow("op18-empty-answer") << QStringList{"--operation", "18", "--answer", ""} << false;
    QTest::newRow("op19-empty-find")
        << QStringList{"--operation", "19", "--answer", "", "--answer", "x"} << false;
    QTest::newRow("op24-not-numeric")
        << QStringList{"--operation", "24", "--answer", "abc"} << true;
    QTest::newRow("op24-no-answer-cancels") << QStringList{"--operation", "24"} << false;
    QTest::newRow("op19-replacement-missing-cancels")
        << QStringList{"--operation", "19", "--answer", "ab"} << false;
    QTest::newRow("op27-empty-answer") << QStringList{"--operation=27", "--answer="} << true;
    QTest::newRow("op25-number-with-text")
        << QStringList{"--operation", "25", "--answer", "3x"} << true;
}

void TestCli::notApplied()
{
    QFETCH(QStringList, args);
    QFETCH(bool, mustEnterNumber);
    args.prepend(QStringLiteral("transform"));
    const Run run = runCli(args, QByteArray("\"a b\"\n\"abcdef\"\n"));
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitNotApplied);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err.contains("Must enter number"), mustEnterNumber);
}

void TestCli::usageError_data()
{
    QTest::addColumn<QStringList>("args");

    QTest::newRow("unknown-command") << QStringList{"frobnicate"};
    QTest::newRow("unknown-option") << QStringList{"transform", "--operation", "1", "--bogus"};
    QTest::newRow("unknown-option-operations") << QStringList{"operations", "--bogus"};
    QTest::newRow("operation-0") << QStringList{"transform", "--operation", "0"};
    QTest::newRow("operation-28") << QStringList{"transform", "--operation", "28"};
    QTest::newRow("caption-wrong-case")
        << QStringList{"transform", "--operation", "remove all spaces in selected field"};
    QTest::newRow("caption-trailing-space")
        << QStringList{"transform", "--operation", "Remove Tabs in Selected Field "};
    QTest::newRow("answer-to-no-prompt")
        << QStringList{"transform", "--operation", "1", "--answer", "x"};
    QTest::newRow("two-answers-to-one-prompt")
        << QStringList{"transform", "--operation", "24", "--answer", "1", "--answer", "2"};
    QTest::newRow("three-answers-to-two-prompts")
        << QStringList{"transform", "--operation=19", "--answer=a", "--answer=b", "--answer=c"};
}

void TestCli::usageError()
{
    QFETCH(QStringList, args);
    const Run run = runCli(args, QByteArray("\"a b\"\n"));
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitUsage);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(QString::fromUtf8(run.err).contains(QStringLiteral("usage"), Qt::CaseInsensitive),
             run.err.constData());
}

// A line that is neither a JSON string nor null stops the run with status 2,
// after the lines before it have been written.
void TestCli::badInputLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("badLine");
    QTest::addColumn<QStringList>("expected");

    const QStringList two{newValue("ab"), newValue("cd")};
    QTest::newRow("number") << QByteArray("\"a b\"\n\"c d\"\n42\n\"e f\"\n") << 3 << two;
    QTest::newRow("unterminated-string")
        << QByteArray("\"unterminated\n\"a b\"\n") << 1 << QStringList{};
    QTest::newRow("array") << QByteArray("\"a b\"\n\"c d\"\n[\"a\"]\n") << 3 << two;
    QTest::newRow("object") << QByteArray("\"a b\"\n{\"new\":\"x\"}\n") << 2
                            << QStringList{newValue("ab")};
    QTest::newRow("empty-line-in-the-middle")
        << QByteArray("\"a b\"\n\"c d\"\n\n\"e f\"\n") << 3 << two;
    QTest::newRow("bare-word") << QByteArray("\"a b\"\nNULL\n") << 2 << QStringList{newValue("ab")};
    QTest::newRow("bad-escape") << QByteArray("\"a b\"\n\"c d\"\n\"\\q\"\n") << 3 << two;
}

void TestCli::badInputLine()
{
    QFETCH(QByteArray, input);
    QFETCH(int, badLine);
    QFETCH(QStringList, expected);
    const Run run = runCli(
        {QStringLiteral("transform"), QStringLiteral("--operation"), QStringLiteral("1")}, input);
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitUsage);
    COMPARE_OUTPUT(run, expected);
    const QRegularExpression lineNumber(QStringLiteral("(^|\\D)%1(\\D|$)").arg(badLine));
    QVERIFY2(lineNumber.match(QString::fromUtf8(run.err)).hasMatch(), run.err.constData());
}

// The output text itself: compact objects and the short escapes, one per line.
void TestCli::exactOutputText()
{
    const Run run = runCli({QStringLiteral("transform"), QStringLiteral("--operation"),
                            QStringLiteral("25"), QStringLiteral("--answer"), QStringLiteral("1")},
                           QByteArray("\"x\\ty\\r\\n\\\"\\\\z\"\n\"ab\"\nnull\n"));
    VERIFY_FINISHED(run);
    QCOMPARE(run.exitCode, ExitOk);
    QCOMPARE(run.out, QByteArray("{\"new\":\"x\\ty\\r\\n\\\"\\\\\"}\n"
                                 "{\"new\":\"a\"}\n"
                                 "{\"error\":{\"number\":5,"
                                 "\"description\":\"Invalid procedure call or argument\"}}\n"));
}

QTEST_GUILESS_MAIN(TestCli)

#include "tst_cli.moc"
