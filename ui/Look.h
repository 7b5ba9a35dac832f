#pragma once

#include "app/Interaction.h"

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <optional>

class QWidget;

// The look both windows share: sizes in twips, fonts, the program's icon,
// the button-face colours, the optional skin, and the mouse pointer with its
// hover rule.
namespace Look
{

// Twips to pixels: 15 twips a pixel at 96 DPI, scaled with the screen's logical DPI.
int Twips(int twips, const QWidget* widget = nullptr);
QRect TwipsRect(int left, int top, int width, int height, const QWidget* widget = nullptr);

// A control of the window, named as the code calls it (tests find it by that name).
template <class W> W* MakeControl(QWidget* parent, const char* name, QRect geometry)
{
    auto* control = new W(parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

// Bold Arial of the given size (the platform's fallback where Arial is missing).
QFont BoldArial(qreal pointSize);

QIcon ProgramIcon();

// A count as the windows show it, with thousands grouped: "1,028".
QString Count(int count);

// A frame whose caption sits on its top border, as the controls inside it
// are placed from the frame's own top.
void StyleFrame(QWidget* frame);

// The platform's colour for button faces.
QColor ButtonFaceColor();

// The optional files beside the program.
QString SkinFilePath();       // program folder + "/x/o.cjs"
QString HandCursorFilePath(); // program folder + "/HAND-M.CUR"

// The window and its frames, labels, option buttons and check boxes take the
// button-face colour. Other controls keep theirs.
void ApplyFormColors(QWidget* window);

// The connection dialog's look: when the skin file exists, its colours; no
// skin component exists on this platform, so nothing more is drawn.
void ApplySkin(QWidget* dialog);

// The hand cursor read from its file beside the program, with the hot spot
// the file gives. Throws RuntimeError 481 (invalid picture) when the file
// cannot be read as one.
QCursor LoadHandCursor();

} // namespace Look

// One window's mouse pointer setting (0 default, 11 hourglass, 99 the
// custom hand) and the hover rule of its elements: moving over a push button
// shows the hand, over the other listed elements the default pointer, and the
// hourglass is never replaced by a move.
class MousePointerControl : public QObject
{
    Q_OBJECT

public:
    explicit MousePointerControl(QWidget* window);

    MousePointer pointer() const { return m_pointer; }
    void setPointer(MousePointer pointer);

    // The picture shown for the custom pointer (99); none: the default arrow.
    void setCustomCursor(const QCursor& cursor);
    bool hasCustomCursor() const { return m_custom.has_value(); }

    // Elements whose mouse moves follow the hover rule.
    void watchButton(QWidget* button);
    void watchOther(QWidget* element);

    // The hover rule for a move over an element.
    void mouseMovedOver(bool pushButton);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply();

    QPointer<QWidget> m_window;
    MousePointer m_pointer = MousePointer::Default;
    std::optional<QCursor> m_custom;
};

// While active, refuses the user's input (clicks, keys, wheel) to the given
// windows, so that no handler runs inside a fill or a change run that lets
// events run. Painting, closing and everything else go on.
class InputBlocker : public QObject
{
    Q_OBJECT

public:
    explicit InputBlocker(QObject* parent = nullptr);
    ~InputBlocker() override;

    void addWindow(QWidget* window);
    // A control that takes input all the same while it is enabled (Stop).
    void allow(QWidget* control);
    bool isActive() const { return m_depth > 0; }

    // Blocks input until the returned guard goes.
    class Guard
    {
    public:
        explicit Guard(InputBlocker& blocker) : m_blocker(blocker) { m_blocker.enter(); }
        ~Guard() { m_blocker.leave(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        InputBlocker& m_blocker;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enter();
    void leave();

    QList<QPointer<QWidget>> m_windows;
    QList<QPointer<QWidget>> m_allowed;
    int m_depth = 0;
};
