#include "change/OperationCatalogue.h"

#include "app/Interaction.h"
#include "app/Main.h"
#include "app/Numeric.h"
#include "transforms/Fundamental.h"

namespace
{

template <class... Fs> struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs> Overloaded(Fs...) -> Overloaded<Fs...>;

std::vector<Operation> makeCatalogue()
{
    using namespace Fundamental;
    using P = PromptKind;
    using C = ChangesOnly;
    // The order is the order of the operation list and of caption lookups.
    return {
        {QStringLiteral("Remove All Spaces in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveAllSpaces), C::WithSpace},
        {QStringLiteral("Replace All Spaces in Selected Field With..."), P::ReplacementPrompt,
         TextTransform(ReplaceAllSpaces), C::WithSpace},
        {QStringLiteral("Remove Extra Spaces at Beginning of Selected Field"), P::NoPrompt,
         ValueTransform(TrimLeadingSpaces), C::WithSpace},
        {QStringLiteral("Remove Extra Spaces at End of Selected Field"), P::NoPrompt,
         ValueTransform(TrimTrailingSpaces), C::WithSpace},
        {QStringLiteral(
             "Remove All Spaces Except for Single Spaces Between Words in Selected Field"),
         P::NoPrompt, ValueTransform(CollapseSpaces), C::WithSpace},
        {QStringLiteral("Remove Enters (Carriage Returns) in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveEnters), C::WithEnter},
        {QStringLiteral("Replace Enters (Carriage Returns) in Selected Field With..."),
         P::ReplacementPrompt, TextTransform(ReplaceEnters), C::WithEnter},
        {QStringLiteral("Remove Tabs in Selected Field"), P::NoPrompt, ValueTransform(RemoveTabs),
         C::WithTab},
        {QStringLiteral("Replace Tabs in Selected Field With..."), P::ReplacementPrompt,
         TextTransform(ReplaceTabs), C::WithTab},
        {QStringLiteral("Remove Alphabet Character(s) in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveAlphabet), C::AnyValue},
        {QStringLiteral("Replace Alphabet Character(s) in Selected Field With..."),
         P::ReplacementPrompt, TextTransform(ReplaceAlphabet), C::AnyValue},
        {QStringLiteral("Remove Numeric Character(s) in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveNumeric), C::AnyValue},
        {QStringLiteral("Replace Numeric Character(s) in Selected Field With..."),
         P::ReplacementPrompt, TextTransform(ReplaceNumeric), C::AnyValue},
        {QStringLiteral("Remove Alphanumeric Character(s) in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveAlphanumeric), C::AnyValue},
        {QStringLiteral("Replace Alphanumeric Character(s) in Selected Field With..."),
         P::ReplacementPrompt, TextTransform(ReplaceAlphanumeric), C::AnyValue},
        {QStringLiteral("Remove Non-Alphanumeric Character(s) in Selected Field"), P::NoPrompt,
         ValueTransform(RemoveNonAlphanumeric), C::AnyValue},
        {QStringLiteral("Replace Non-Alphanumeric Character(s) in Selected Field With..."),
         P::ReplacementPrompt, TextTransform(ReplaceNonAlphanumeric), C::AnyValue},
        {QStringLiteral("Remove User-Defined Character(s) in Selected Field"), P::UserTextPrompt,
         TextTransform(RemoveText), C::WithFirstAnswer},
        {QStringLiteral("Replace User-Defined Character(s) in Selected Field With..."),
         P::FindReplacePrompts, TwoTextTransform(ReplaceText), C::WithFirstAnswer},
        {QStringLiteral("Remove All Text After User-Defined Character(s) in Selected Field"),
         P::UserTextPrompt, TextTransform(RemoveTextAfter), C::WithFirstAnswer},
        {QStringLiteral(
             "Replace All Text After User-Defined Character(s) in Selected Field With..."),
         P::FindReplacePrompts, TwoTextTransform(ReplaceTextAfter), C::WithFirstAnswer},
        {QStringLiteral("Remove All Text Before User-Defined Character(s) in Selected Field"),
         P::UserTextPrompt, TextTransform(RemoveTextBefore), C::WithFirstAnswer},
        {QStringLiteral(
             "Replace All Text Before User-Defined Character(s) in Selected Field With..."),
         P::FindReplacePrompts, TwoTextTransform(ReplaceTextBefore), C::WithFirstAnswer},
        {QStringLiteral("Remove First x Character(s) in Selected Field"), P::NumberPrompt,
         CountTransform(RemoveFirstChars), C::AnyValue},
        {QStringLiteral("Remove Last x Character(s) in Selected Field"), P::NumberPrompt,
         CountTransform(RemoveLastChars), C::AnyValue},
        {QStringLiteral("Remove All Text After x Position in Field"), P::NumberPrompt,
         CountTransform(KeepFirstChars), C::AnyValue},
        {QStringLiteral("Remove All Text Before x Position in Field"), P::NumberPrompt,
         CountTransform(RemoveTextBeforePosition), C::AnyValue},
    };
}

} // namespace

int PromptCount(PromptKind kind)
{
    switch (kind) {
    case PromptKind::NoPrompt:
        return 0;
    case PromptKind::FindReplacePrompts:
        return 2;
    case PromptKind::ReplacementPrompt:
    case PromptKind::UserTextPrompt:
    case PromptKind::NumberPrompt:
        return 1;
    }
    return 0;
}

const std::vector<Operation>& OperationCatalogue()
{
    static const std::vector<Operation> catalogue = makeCatalogue();
    return catalogue;
}

const Operation* FindOperation(const QString& caption)
{
    for (const Operation& operation : OperationCatalogue()) {
        if (operation.caption == caption) // exact: 16-bit codes, case, no trimming
            return &operation;
    }
    return nullptr;
}

int OperationNumber(const QString& caption)
{
    const Operation* operation = FindOperation(caption);
    return operation ? OperationNumber(*operation) : 0;
}

int OperationNumber(const Operation& operation)
{
    return int(&operation - OperationCatalogue().data()) + 1;
}

std::optional<OperationParameters> AskParameters(const Operation& operation, Interaction& ui)
{
    const QString title = Main::ApplicationTitle();
    // Cancel on any prompt: not applied, nothing more asked or said.
    auto ask = [&](const QString& prompt, QString& answer) {
        const std::optional<QString> typed = ui.inputBox(prompt, title);
        answer = typed.value_or(QString());
        return typed.has_value();
    };
    OperationParameters parameters;
    switch (operation.promptKind) {
    case PromptKind::NoPrompt:
        return parameters;
    case PromptKind::ReplacementPrompt:
        if (!ask(Prompts::ReplaceWith, parameters.firstText))
            return std::nullopt;
        break;
    case PromptKind::UserTextPrompt:
        if (!ask(Prompts::UserDefined, parameters.firstText))
            return std::nullopt;
        break;
    case PromptKind::FindReplacePrompts:
        // The second prompt is shown even when the first answer was empty;
        // an empty second answer replaces with nothing.
        if (!ask(Prompts::FindWhat, parameters.firstText) ||
            !ask(Prompts::ReplaceWith, parameters.secondText))
            return std::nullopt;
        break;
    case PromptKind::NumberPrompt:
        if (!ask(Prompts::EnterNumber, parameters.numberAnswer))
            return std::nullopt;
        if (!Main::IsNumeric(parameters.numberAnswer)) {
            ui.messageBox(Prompts::MustEnterNumber, title);
            return std::nullopt;
        }
        return parameters;
    }
    if (parameters.firstText.isEmpty())
        return std::nullopt;
    return parameters;
}

QStringList AnswersOf(const Operation& operation, const OperationParameters& parameters)
{
    switch (operation.promptKind) {
    case PromptKind::NoPrompt:
        return {};
    case PromptKind::FindReplacePrompts:
        return {parameters.firstText, parameters.secondText};
    case PromptKind::NumberPrompt:
        return {parameters.numberAnswer};
    case PromptKind::ReplacementPrompt:
    case PromptKind::UserTextPrompt:
        break;
    }
    return {parameters.firstText};
}

std::optional<QStringList> ChangingTexts(const Operation& operation,
                                         const OperationParameters& parameters)
{
    switch (operation.changesOnly) {
    case ChangesOnly::AnyValue:
        return std::nullopt;
    case ChangesOnly::WithSpace:
        return QStringList{QStringLiteral(" ")};
    case ChangesOnly::WithEnter:
        return QStringList{QStringLiteral("\n"), QStringLiteral("\r")};
    case ChangesOnly::WithTab:
        return QStringList{QStringLiteral("\t")};
    case ChangesOnly::WithFirstAnswer:
        // An empty delimiter is found at the start of every value.
        if (parameters.firstText.isEmpty())
            return std::nullopt;
        return QStringList{parameters.firstText};
    }
    return std::nullopt;
}

QString ComputeNewValue(const Operation& operation, const OperationParameters& parameters,
                        const QString& value)
{
    return std::visit(
        Overloaded{
            [&](ValueTransform f) { return f(value); },
            [&](TextTransform f) { return f(value, parameters.firstText); },
            [&](TwoTextTransform f) {
                return f(value, parameters.firstText, parameters.secondText);
            },
            [&](CountTransform f) { return f(value, Main::ToInteger16(parameters.numberAnswer)); },
        },
        operation.transform);
}
