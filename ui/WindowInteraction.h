#pragma once

#include "app/Interaction.h"

#include <QPointer>
#include <QStringList>
#include <functional>

class QWidget;

// Prompts and message boxes as the windows show them: message boxes with OK
// only and no icon, prompts with an empty default where Cancel gives the
// empty text, the error report with its warning icon.
//
// For tests the boxes can be scripted instead of shown: every box is then
// recorded and every prompt takes the next answer of the script.
class WindowInteraction : public Interaction
{
public:
    explicit WindowInteraction(QWidget* parent = nullptr);

    std::optional<QString> inputBox(const QString& prompt, const QString& title) override;
    void messageBox(const QString& text, const QString& title) override;
    void messageBox(const QString& text, const QString& title, const QString& details) override;
    bool questionBox(const QString& text, const QString& title) override;
    void warningBox(const QString& text, const QString& title) override;

    // Scripted mode (tests): no box is shown; prompts take these answers in
    // order (a null QString, or none left: Cancel).
    static void setScripted(bool scripted);
    static void setNextAnswers(const QStringList& answers);
    // The answer to every question (Yes unless set).
    static void setQuestionAnswer(bool yes);
    // Runs while a scripted prompt is up, before it takes its answer.
    static void setOnPrompt(std::function<void()> onPrompt);

    // What was shown in scripted mode, in order: "prompt: ", "message: ",
    // "question: " or "warning: " followed by the text (and for a message with
    // details, " [details: " the details "]"); and each box's title.
    static QStringList shown();
    static QStringList titles();
    static void clearShown();

private:
    QPointer<QWidget> m_parent;
};
