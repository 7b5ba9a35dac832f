#include "ui/WindowInteraction.h"

#include <QInputDialog>
#include <QMessageBox>

namespace
{

struct Script {
    bool scripted = false;
    bool yes = true;
    QStringList answers;
    QStringList shown;
    QStringList titles;
    std::function<void()> onPrompt;
};

Script& script()
{
    static Script instance;
    return instance;
}

void record(const QString& kind, const QString& text, const QString& title)
{
    script().shown << kind + text;
    script().titles << title;
}

} // namespace

WindowInteraction::WindowInteraction(QWidget* parent) : m_parent(parent) {}

std::optional<QString> WindowInteraction::inputBox(const QString& prompt, const QString& title)
{
    if (script().scripted) {
        record(QStringLiteral("prompt: "), prompt, title);
        if (script().onPrompt)
            script().onPrompt();
        const QString answer =
            script().answers.isEmpty() ? QString() : script().answers.takeFirst();
        return answer.isNull() ? std::nullopt : std::optional<QString>(answer);
    }
    bool accepted = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, QString(), &accepted);
    if (!accepted)
        return std::nullopt;
    return answer.isNull() ? QStringLiteral("") : answer;
}

void WindowInteraction::messageBox(const QString& text, const QString& title)
{
    if (script().scripted) {
        record(QStringLiteral("message: "), text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

void WindowInteraction::messageBox(const QString& text, const QString& title,
                                   const QString& details)
{
    if (script().scripted) {
        record(QStringLiteral("message: "), text + QStringLiteral(" [details: ") + details + u']',
               title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    box.setDetailedText(details);
    box.exec();
}

bool WindowInteraction::questionBox(const QString& text, const QString& title)
{
    if (script().scripted) {
        record(QStringLiteral("question: "), text, title);
        return script().yes;
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void WindowInteraction::warningBox(const QString& text, const QString& title)
{
    if (script().scripted) {
        record(QStringLiteral("warning: "), text, title);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

void WindowInteraction::setScripted(bool scripted)
{
    script().scripted = scripted;
}

void WindowInteraction::setNextAnswers(const QStringList& answers)
{
    script().answers = answers;
}

void WindowInteraction::setQuestionAnswer(bool yes)
{
    script().yes = yes;
}

void WindowInteraction::setOnPrompt(std::function<void()> onPrompt)
{
    script().onPrompt = std::move(onPrompt);
}

QStringList WindowInteraction::shown()
{
    return script().shown;
}

QStringList WindowInteraction::titles()
{
    return script().titles;
}

void WindowInteraction::clearShown()
{
    script().shown.clear();
    script().titles.clear();
}
