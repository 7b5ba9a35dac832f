// Throughput of each transform family over a large generated text, in MB/s
// of 16-bit input text. Usage: bench-transforms [megabytes-per-value, default 16]
#include "transforms/Fundamental.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Fundamental;

namespace
{

// Messy text: words, runs of spaces, CR LF and lone enters, tabs, digits,
// punctuation and some non-ASCII letters.
QString generate(qsizetype length, quint32 seed)
{
    static const char16_t pieces[][8] = {u"word", u"  ", u" ", u"\r\n",   u"\n",   u"\t",
                                         u"42",   u"-",  u"é", u"O'Neil", u"     "};
    QRandomGenerator random(seed);
    QString text;
    text.reserve(length + 16);
    while (text.size() < length)
        text.append(QString::fromUtf16(pieces[random.bounded(int(std::size(pieces)))]));
    text.truncate(length);
    return text;
}

struct Case {
    const char* family;
    const char* name;
    std::function<QString(const QString&)> run;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 16;
    const qsizetype units = qsizetype(megabytes) * 1024 * 1024 / 2;
    const QString text = generate(units, 20261207);
    const QString spaces(units, u' ');

    const QString r = QStringLiteral("_");
    const std::vector<Case> cases = {
        {"spaces", "RemoveAllSpaces", [](const QString& v) { return RemoveAllSpaces(v); }},
        {"spaces", "ReplaceAllSpaces", [&](const QString& v) { return ReplaceAllSpaces(v, r); }},
        {"spaces", "TrimLeadingSpaces", [](const QString& v) { return TrimLeadingSpaces(v); }},
        {"spaces", "CollapseSpaces", [](const QString& v) { return CollapseSpaces(v); }},
        {"enters", "ReplaceEnters", [&](const QString& v) { return ReplaceEnters(v, r); }},
        {"enters", "RemoveEnters", [](const QString& v) { return RemoveEnters(v); }},
        {"tabs", "ReplaceTabs", [&](const QString& v) { return ReplaceTabs(v, r); }},
        {"classes", "RemoveAlphabet", [](const QString& v) { return RemoveAlphabet(v); }},
        {"classes", "ReplaceNumeric", [&](const QString& v) { return ReplaceNumeric(v, r); }},
        {"classes", "ReplaceNonAlphanumeric",
         [&](const QString& v) { return ReplaceNonAlphanumeric(v, r); }},
        {"user text", "ReplaceText(\"wo\")",
         [&](const QString& v) { return ReplaceText(v, QStringLiteral("wo"), r); }},
        {"user text", "RemoveText(\"O'Neil\")",
         [](const QString& v) { return RemoveText(v, QStringLiteral("O'Neil")); }},
        {"delimiter", "RemoveTextAfter(\"#\") absent",
         [](const QString& v) { return RemoveTextAfter(v, QStringLiteral("#")); }},
        {"position", "RemoveLastChars(100)",
         [](const QString& v) { return RemoveLastChars(v, 100); }},
    };

    std::printf("input: %d MB of text (%lld 16-bit units)\n", megabytes,
                static_cast<long long>(units));
    std::printf("%-10s %-30s %10s\n", "family", "transform", "MB/s");
    for (const Case& c : cases) {
        QElapsedTimer timer;
        qint64 best = -1;
        for (int round = 0; round < 3; ++round) {
            timer.start();
            const QString result = c.run(text);
            const qint64 ns = timer.nsecsElapsed();
            if (result.size() < 0) // keep the result alive
                return 1;
            if (best < 0 || ns < best)
                best = ns;
        }
        std::printf("%-10s %-30s %10.1f\n", c.family, c.name,
                    double(megabytes) / (double(best) / 1e9));
    }
    QElapsedTimer timer;
    timer.start();
    const QString collapsed = CollapseSpaces(spaces);
    std::printf("%-10s %-30s %10.1f\n", "spaces", "CollapseSpaces(all spaces)",
                double(megabytes) / (double(timer.nsecsElapsed()) / 1e9));
    return collapsed.isEmpty() ? 0 : 1;
}
