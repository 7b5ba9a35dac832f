#include "cli/Cli.h"

#include "app/Interaction.h"
#include "app/RuntimeError.h"
#include "change/OperationCatalogue.h"
#include "cli/JsonLines.h"

#include <QByteArray>
#include <QMap>

#include <cstdio>
#include <optional>

namespace Cli {

namespace {

const char Usage[] =
    "Usage:\n"
    "  quorvane-cli operations\n"
    "      Lists the operations: number, tab, caption.\n"
    "  quorvane-cli transform --operation N [--answer TEXT]...\n"
    "      N is 1 to 27 or an exact caption. Each --answer (or --answer=TEXT)\n"
    "      answers the operation's next prompt; missing answers are empty.\n"
    "      Reads JSON Lines on stdin (a JSON string or null per line) and\n"
    "      writes {\"new\":...} or {\"error\":{...}} per line on stdout.\n"
    "\n"
    "Exit status: 0 done, 2 bad usage or input, 3 operation not applied.\n";

void writeOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void writeErr(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int usageError(const QString& why)
{
    writeErr(QStringLiteral("quorvane-cli: %1\n\n").arg(why) + QString::fromUtf8(Usage));
    return BadUsage;
}

// The options of one command: each name with its values in order.
struct Options {
    QMap<QString, QStringList> values;
    QString error;
};

// Parses "--name VALUE" and "--name=VALUE" for the names allowed.
Options parseOptions(const QStringList& arguments, const QStringList& allowed)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QStringLiteral("--"))) {
            options.error = QStringLiteral("unexpected argument '%1'").arg(argument);
            return options;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (!allowed.contains(name)) {
            options.error = QStringLiteral("unknown option '%1'").arg(argument);
            return options;
        }
        if (equals >= 0) {
            options.values[name].append(argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            options.values[name].append(arguments.at(++i));
        } else {
            options.error = QStringLiteral("option '%1' needs a value").arg(argument);
            return options;
        }
    }
    return options;
}

// The operation named by its number (1 to 27) or by its exact caption.
const Operation* resolveOperation(const QString& name)
{
    bool isNumber = false;
    const int number = name.toInt(&isNumber);
    const auto& catalogue = OperationCatalogue();
    if (isNumber && !name.startsWith(u'+') && !name.startsWith(u'-')) {
        if (number >= 1 && static_cast<size_t>(number) <= catalogue.size())
            return &catalogue[static_cast<size_t>(number - 1)];
        return nullptr;
    }
    return FindOperation(name);
}

int promptCount(PromptKind kind)
{
    switch (kind) {
    case PromptKind::NoPrompt: return 0;
    case PromptKind::FindReplacePrompts: return 2;
    case PromptKind::ReplacementPrompt:
    case PromptKind::UserTextPrompt:
    case PromptKind::NumberPrompt: return 1;
    }
    return 0;
}

// Prompts answered from the command line in order; messages go to stderr.
class ScriptedAnswers : public Interaction
{
public:
    explicit ScriptedAnswers(QStringList answers) : m_answers(std::move(answers)) {}

    QString inputBox(const QString&, const QString&) override
    {
        return m_next < m_answers.size() ? m_answers.at(m_next++) : QString();
    }

    void messageBox(const QString& text, const QString&) override { writeErr(text + u'\n'); }

private:
    QStringList m_answers;
    qsizetype m_next = 0;
};

// Reads stdin one line at a time, without the line feed.
class LineReader
{
public:
    std::optional<QByteArray> next()
    {
        for (;;) {
            const qsizetype newline = m_buffer.indexOf('\n', m_scanned);
            if (newline >= 0) {
                QByteArray line = m_buffer.left(newline);
                m_buffer.remove(0, newline + 1);
                m_scanned = 0;
                return line;
            }
            m_scanned = m_buffer.size();
            if (m_eof) {
                if (m_buffer.isEmpty())
                    return std::nullopt;
                QByteArray line = m_buffer;
                m_buffer.clear();
                m_scanned = 0;
                return line;
            }
            char chunk[65536];
            const size_t read = std::fread(chunk, 1, sizeof chunk, stdin);
            if (read == 0)
                m_eof = true;
            else
                m_buffer.append(chunk, static_cast<qsizetype>(read));
        }
    }

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0;
    bool m_eof = false;
};

int listOperations(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return usageError(QStringLiteral("'operations' takes no arguments"));
    int number = 0;
    for (const Operation& operation : OperationCatalogue())
        writeOut(QByteArray::number(++number) + '\t' + operation.caption.toUtf8() + '\n');
    return Success;
}

int transform(const QStringList& arguments)
{
    const QString operationOption = QStringLiteral("operation");
    const QString answerOption = QStringLiteral("answer");
    const Options options = parseOptions(arguments, {operationOption, answerOption});
    if (!options.error.isEmpty())
        return usageError(options.error);
    const QStringList operationNames = options.values.value(operationOption);
    if (operationNames.size() != 1)
        return usageError(QStringLiteral("'transform' needs exactly one --operation"));
    const Operation* operation = resolveOperation(operationNames.front());
    if (!operation)
        return usageError(QStringLiteral("unknown operation '%1'").arg(operationNames.front()));
    const QStringList answers = options.values.value(answerOption);
    if (answers.size() > promptCount(operation->promptKind))
        return usageError(QStringLiteral("operation '%1' asks %2 question(s), %3 answers given")
                              .arg(operation->caption)
                              .arg(promptCount(operation->promptKind))
                              .arg(answers.size()));

    ScriptedAnswers ui(answers);
    const std::optional<OperationParameters> parameters = AskParameters(*operation, ui);
    if (!parameters)
        return NotApplied;

    LineReader reader;
    qint64 lineNumber = 0;
    while (const std::optional<QByteArray> line = reader.next()) {
        ++lineNumber;
        const JsonLines::Value value = JsonLines::parse(*line);
        if (!value.ok) {
            std::fflush(stdout);
            writeErr(QStringLiteral("quorvane-cli: line %1: %2\n").arg(lineNumber).arg(value.error));
            return BadUsage;
        }
        try {
            const QString newValue = ComputeNewValue(*operation, *parameters, value.text);
            writeOut("{\"new\":" + JsonLines::quote(newValue) + "}\n");
        } catch (const RuntimeError& error) {
            writeOut("{\"error\":{\"number\":" + QByteArray::number(error.number()) +
                     ",\"description\":" + JsonLines::quote(error.description()) + "}}\n");
        }
    }
    std::fflush(stdout);
    return Success;
}

} // namespace

int run(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = arguments.front();
    const QStringList rest = arguments.mid(1);
    if (command == u"operations")
        return listOperations(rest);
    if (command == u"transform")
        return transform(rest);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        writeOut(QByteArray(Usage));
        return Success;
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace Cli
