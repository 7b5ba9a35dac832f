#pragma once

#include "app/Interaction.h"

#include <QStringList>

// Answers prompts from a script (missing answers: cancelled) and records
// everything that was shown, in order.
class ScriptedInteraction : public Interaction
{
public:
    explicit ScriptedInteraction(QStringList answers = {}) : answers(std::move(answers)) {}

    QString inputBox(const QString& prompt, const QString& title) override
    {
        prompts << prompt;
        titles << title;
        shown << QStringLiteral("prompt: ") + prompt;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    void messageBox(const QString& text, const QString& title) override
    {
        messages << text;
        titles << title;
        shown << QStringLiteral("message: ") + text;
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
};
