#include "ui/Look.h"

#include "app/Main.h"
#include "app/RuntimeError.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>

namespace Look
{

int Twips(int twips, const QWidget* widget)
{
    qreal dpi = 96.0;
    if (widget && widget->screen())
        dpi = widget->screen()->logicalDotsPerInch();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInch();
    return qRound(twips / 15.0 * dpi / 96.0);
}

QRect TwipsRect(int left, int top, int width, int height, const QWidget* widget)
{
    return QRect(Twips(left, widget), Twips(top, widget), Twips(width, widget),
                 Twips(height, widget));
}

QFont BoldArial(qreal pointSize)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0x1f, 0x5f, 0x99));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
        painter.setPen(Qt::white);
        QFont font = BoldArial(1);
        font.setPixelSize(qRound(size * 0.7));
        painter.setFont(font);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("Q"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString Count(int count)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(count);
}

void StyleFrame(QWidget* frame)
{
    frame->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 8px; padding: 0 3px; }"
        // Password boxes inside show one "*" for each character.
        "QLineEdit { lineedit-password-character: 42; }"));
}

QColor ButtonFaceColor()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

QString SkinFilePath()
{
    return Main::ProgramDirectory() + QStringLiteral("/x/o.cjs");
}

QString HandCursorFilePath()
{
    return Main::ProgramDirectory() + QStringLiteral("/HAND-M.CUR");
}

namespace
{

void paintBackground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

bool takesButtonFace(const QWidget* control)
{
    return qobject_cast<const QGroupBox*>(control) || qobject_cast<const QLabel*>(control) ||
           qobject_cast<const QRadioButton*>(control) || qobject_cast<const QCheckBox*>(control);
}

} // namespace

void ApplyFormColors(QWidget* window)
{
    const QColor face = ButtonFaceColor();
    paintBackground(window, face);
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (takesButtonFace(control))
            paintBackground(control, face);
    }
}

void ApplySkin(QWidget* dialog)
{
    if (!Main::FileExists(SkinFilePath()))
        return;
    ApplyFormColors(dialog);
}

QCursor LoadHandCursor()
{
    QImageReader reader(HandCursorFilePath());
    const QImage image = reader.read();
    if (image.isNull())
        throw RuntimeError(481, QStringLiteral("Invalid picture"));
    // A cursor file (type 2) keeps the hot spot of its first image in that
    // image's directory entry; the picture itself does not carry it.
    QFile file(HandCursorFilePath());
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.read(22) : QByteArray();
    auto word = [&](int at) {
        return int(quint8(bytes.at(at))) | int(quint8(bytes.at(at + 1))) << 8;
    };
    if (bytes.size() >= 22 && word(0) == 0 && word(2) == 2 && word(4) >= 1) {
        const int x = word(10);
        const int y = word(12);
        if (x < image.width() && y < image.height())
            return QCursor(QPixmap::fromImage(image), x, y);
    }
    return QCursor(QPixmap::fromImage(image));
}

} // namespace Look

MousePointerControl::MousePointerControl(QWidget* window) : QObject(window), m_window(window) {}

void MousePointerControl::setPointer(MousePointer pointer)
{
    m_pointer = pointer;
    apply();
}

void MousePointerControl::setCustomCursor(const QCursor& cursor)
{
    m_custom = cursor;
    apply();
}

void MousePointerControl::watchButton(QWidget* button)
{
    button->setMouseTracking(true);
    button->setProperty("quorvanePushButton", true);
    button->installEventFilter(this);
}

void MousePointerControl::watchOther(QWidget* element)
{
    element->setMouseTracking(true);
    element->installEventFilter(this);
}

void MousePointerControl::mouseMovedOver(bool pushButton)
{
    if (m_pointer == MousePointer::Hourglass)
        return;
    setPointer(pushButton ? MousePointer::Custom : MousePointer::Default);
}

// A move counts for the element under the pointer only: a move that Qt
// passes on from a child (a push button, or a label without a rule of its
// own) to its parent leaves the pointer alone at the parent.
bool MousePointerControl::eventFilter(QObject* watched, QEvent* event)
{
    QPointF position;
    if (event->type() == QEvent::MouseMove)
        position = static_cast<QMouseEvent*>(event)->position();
    else if (event->type() == QEvent::Enter)
        position = static_cast<QEnterEvent*>(event)->position();
    else
        return QObject::eventFilter(watched, event);
    const auto* element = qobject_cast<QWidget*>(watched);
    if (element && !element->childAt(position.toPoint()))
        mouseMovedOver(element->property("quorvanePushButton").toBool());
    return QObject::eventFilter(watched, event);
}

void MousePointerControl::apply()
{
    if (!m_window)
        return;
    // Text boxes show their own pointer (the text cursor), which would hide
    // the hourglass.
    for (QLineEdit* box : m_window->findChildren<QLineEdit*>())
        box->setCursor(m_pointer == MousePointer::Hourglass ? Qt::WaitCursor : Qt::IBeamCursor);
    switch (m_pointer) {
    case MousePointer::Hourglass:
        m_window->setCursor(Qt::WaitCursor);
        break;
    case MousePointer::Custom:
        m_window->setCursor(m_custom ? *m_custom : QCursor(Qt::ArrowCursor));
        break;
    case MousePointer::Default:
        m_window->unsetCursor();
        break;
    }
}

InputBlocker::InputBlocker(QObject* parent) : QObject(parent) {}

InputBlocker::~InputBlocker()
{
    if (m_depth > 0 && qApp)
        qApp->removeEventFilter(this);
}

void InputBlocker::addWindow(QWidget* window)
{
    m_windows << window;
}

void InputBlocker::allow(QWidget* control)
{
    m_allowed << control;
}

void InputBlocker::enter()
{
    if (m_depth++ == 0 && qApp)
        qApp->installEventFilter(this);
}

void InputBlocker::leave()
{
    if (--m_depth == 0 && qApp)
        qApp->removeEventFilter(this);
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride: {
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if (!widget)
            return false;
        for (const QPointer<QWidget>& control : m_allowed) {
            if (control && control->isEnabled() &&
                (widget == control || control->isAncestorOf(widget)))
                return false;
        }
        for (const QPointer<QWidget>& window : m_windows) {
            if (window && widget->window() == window)
                return true;
        }
        return false;
    }
    default:
        return false;
    }
}
