#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

class Interaction;

// What an operation asks before it is applied.
enum class PromptKind {
    NoPrompt,           // nothing
    ReplacementPrompt,  // "Replace With:"
    UserTextPrompt,     // "Enter User-Defined Character(s):"
    FindReplacePrompts, // "Find What:", then "Replace With:"
    NumberPrompt,       // "Enter Number:"
};

// The transform of an operation, by the arguments it takes after the value.
using ValueTransform = QString (*)(const QString& value);
using TextTransform = QString (*)(const QString& value, const QString& text);
using TwoTextTransform = QString (*)(const QString& value, const QString& text,
                                     const QString& replacement);
using CountTransform = QString (*)(const QString& value, qint16 x);
using Transform = std::variant<ValueTransform, TextTransform, TwoTextTransform, CountTransform>;

// Which values an operation can change (or fail on): any, or only those
// that hold a given text. A value without it comes out of the transform as
// it went in.
enum class ChangesOnly {
    AnyValue,
    WithSpace,
    WithEnter, // a line feed or a carriage return
    WithTab,
    WithFirstAnswer, // the text or delimiter asked for, when it is not empty
};

struct Operation {
    QString caption;
    PromptKind promptKind;
    Transform transform;
    ChangesOnly changesOnly;
};

// The answers of one run; never stored.
struct OperationParameters {
    QString firstText;    // replacement, findText or delimiter
    QString secondText;   // replacement of the find-and-replace operations
    QString numberAnswer; // the number prompt's answer, converted per row
};

// The prompt and message texts.
namespace Prompts
{
inline const QString ReplaceWith = QStringLiteral("Replace With:");
inline const QString UserDefined = QStringLiteral("Enter User-Defined Character(s):");
inline const QString FindWhat = QStringLiteral("Find What:");
inline const QString EnterNumber = QStringLiteral("Enter Number:");
inline const QString MustEnterNumber = QStringLiteral("Must enter number");
} // namespace Prompts

// How many prompts an operation of the kind shows.
int PromptCount(PromptKind kind);

// The 27 operations in the order of the operation list.
const std::vector<Operation>& OperationCatalogue();

// The first operation whose caption equals `caption` exactly, or nullptr.
const Operation* FindOperation(const QString& caption);
// Its number in the catalogue (from 1), or 0.
int OperationNumber(const QString& caption);
// The number of an operation of the catalogue.
int OperationNumber(const Operation& operation);

// Shows the operation's prompts through `ui` (titled with the application
// title) and checks the answers. None when the operation is not to be applied:
// a cancelled prompt (nothing more is asked or shown), an empty first answer,
// or a number answer that is not numeric (after the message "Must enter
// number").
std::optional<OperationParameters> AskParameters(const Operation& operation, Interaction& ui);

// The answers in the order their prompts are shown (none for NoPrompt).
QStringList AnswersOf(const Operation& operation, const OperationParameters& parameters);

// The texts of which a value must hold one for the operation to change it
// or fail on it; none when any value may change.
std::optional<QStringList> ChangingTexts(const Operation& operation,
                                         const OperationParameters& parameters);

// The new value of one field value. For a number operation the answer is
// converted to x here, on every call. Throws RuntimeError (5 or 6) as the
// transform or the conversion does.
QString ComputeNewValue(const Operation& operation, const OperationParameters& parameters,
                        const QString& value);
