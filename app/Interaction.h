#pragma once

#include <QString>
#include <optional>

// What the core asks of the person in front of the program: prompts and
// message boxes. The windows answer through dialogs, the command-line tool
// through its flags and stderr, tests through a scripted fake.
class Interaction
{
public:
    virtual ~Interaction() = default;

    // A modal prompt with an empty default answer. Returns the typed text
    // (empty when the user pressed OK on an empty box), or none when the user
    // cancelled.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title) = 0;

    // A modal message with one OK button and no icon.
    virtual void messageBox(const QString& text, const QString& title) = 0;

    // The same, with details the user can open (a driver's message).
    virtual void messageBox(const QString& text, const QString& title, const QString& details)
    {
        Q_UNUSED(details);
        messageBox(text, title);
    }

    // A modal question with Yes and No; true for Yes.
    virtual bool questionBox(const QString& text, const QString& title) = 0;

    // A modal message with one OK button and the warning icon (the error report).
    virtual void warningBox(const QString& text, const QString& title) = 0;
};

// The mouse pointer values of a window.
enum class MousePointer : int {
    Default = 0,
    Hourglass = 11,
    Custom = 99, // the hand cursor, where one was loaded
};
