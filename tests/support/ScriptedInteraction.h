#pragma once

#include "app/Interaction.h"

#include <QStringList>
#include <functional>

// Answers prompts from a script and records everything that was shown, in
// order. A null QString in the script, or a missing answer, is a Cancel.
class ScriptedInteraction : public Interaction
{
public:
    explicit ScriptedInteraction(QStringList answers = {}) : answers(std::move(answers)) {}

    std::optional<QString> inputBox(const QString& prompt, const QString& title) override
    {
        prompts << prompt;
        titles << title;
        shown << QStringLiteral("prompt: ") + prompt;
        if (onPrompt)
            onPrompt();
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        return answer.isNull() ? std::nullopt : std::optional<QString>(answer);
    }

    void messageBox(const QString& text, const QString& title) override
    {
        messages << text;
        titles << title;
        shown << QStringLiteral("message: ") + text;
    }

    bool questionBox(const QString& text, const QString& title) override
    {
        titles << title;
        shown << QStringLiteral("question: ") + text;
        return yes;
    }

    void warningBox(const QString& text, const QString& title) override
    {
        reports << text;
        reportTitles << title;
        shown << QStringLiteral("report: ") + text;
    }

    QStringList answers;
    QStringList prompts;
    QStringList messages;
    QStringList titles; // of prompts and messages
    QStringList reports;
    QStringList reportTitles;
    QStringList shown; // everything, in order
    bool yes = true;   // the answer to every question
    // Runs while a prompt is up, before it is answered.
    std::function<void()> onPrompt;
};
