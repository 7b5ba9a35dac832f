#include "ui/Form2.h"

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "change/OperationCatalogue.h"
#include "db/Schema.h"
#include "ui/Form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

namespace
{

QTreeWidget* makeList(QWidget* parent, const char* name, QRect geometry)
{
    auto* list = Look::MakeControl<QTreeWidget>(parent, name, geometry);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setColumnCount(1);
    list->setHeaderLabels({QString()});
    return list;
}

// Puts the entries in place of the list's old ones, the first one selected.
void replaceEntries(QTreeWidget* list, const QStringList& entries)
{
    list->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(entries.size());
    for (const QString& entry : entries)
        items << new QTreeWidgetItem(QStringList{entry});
    list->addTopLevelItems(items);
    if (!items.isEmpty()) {
        list->setCurrentItem(items.front());
        items.front()->setSelected(true);
    }
}

QString currentText(const QTreeWidget* list)
{
    const QTreeWidgetItem* item = list->currentItem();
    return item ? item->text(0) : QString();
}

// Thrown between a fill's entries when the program is ending; it is no
// error, so no step runner reports it.
struct FillStopped {
};

// Sets a flag for as long as it lives.
class Busy
{
public:
    explicit Busy(bool& flag) : m_flag(flag), m_was(flag) { m_flag = true; }
    ~Busy() { m_flag = m_was; }

private:
    bool& m_flag;
    bool m_was;
};

// The hourglass while a fill works; the default pointer again when it ends,
// also when it fails.
class Hourglass
{
public:
    explicit Hourglass(MousePointerControl& pointer) : m_pointer(pointer)
    {
        m_pointer.setPointer(MousePointer::Hourglass);
    }
    ~Hourglass() { m_pointer.setPointer(MousePointer::Default); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;

private:
    MousePointerControl& m_pointer;
};

} // namespace

Form2::Form2(Interaction& ui, Form1& form1, QWidget* parent)
    : QWidget(parent), m_ui(ui), m_form1(form1), m_pointer(new MousePointerControl(this)),
      m_blocker(this), m_changeRun(*this, ui)
{
    using Look::TwipsRect;
    setObjectName(QStringLiteral("Form2"));
    setFixedSize(Look::Twips(8040, this), Look::Twips(7470, this));
    setFont(Look::BoldArial(9));
    const QFont buttonFont = Look::BoldArial(11.25);

    Frame1 = Look::MakeControl<QGroupBox>(this, "Frame1", TwipsRect(120, 5640, 7800, 735, this));
    Frame1->setTitle(QStringLiteral("Option"));
    Look::StyleFrame(Frame1);
    Combo1 = Look::MakeControl<QComboBox>(Frame1, "Combo1", TwipsRect(240, 240, 7335, 345, this));
    Combo1->setFont(font()); // the window's font, also under the frame's style
    PushButton1 =
        Look::MakeControl<QPushButton>(this, "PushButton1", TwipsRect(120, 6480, 3840, 405, this));
    PushButton1->setText(QStringLiteral("Start Changing"));
    PushButton5 =
        Look::MakeControl<QPushButton>(this, "PushButton5", TwipsRect(4080, 6480, 3840, 405, this));
    PushButton5->setText(QStringLiteral("Setup Oracle Connection"));
    for (QPushButton* button : {PushButton1, PushButton5}) {
        button->setFont(buttonFont);
        button->setAutoDefault(false);
    }
    ProgressBar1 = Look::MakeControl<QProgressBar>(this, "ProgressBar1",
                                                   TwipsRect(120, 7005, 7800, 405, this));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ListView1 = makeList(this, "ListView1", TwipsRect(120, 120, 7800, 2670, this));
    ListView2 = makeList(this, "ListView2", TwipsRect(120, 2880, 3840, 2670, this));
    ListView3 = makeList(this, "ListView3", TwipsRect(4080, 2880, 3840, 2670, this));

    setTabOrder(PushButton1, PushButton5);
    setTabOrder(PushButton5, Combo1);
    setTabOrder(Combo1, ListView1);
    setTabOrder(ListView1, ListView2);
    setTabOrder(ListView2, ListView3);
    Frame1->setFocusPolicy(Qt::NoFocus);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);

    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form2::PushButton5_Click);
    connectClicks(ListView1, &Form2::ListView1_Click, m_tableChangedOnPress);
    connectClicks(ListView2, &Form2::ListView2_Click, m_fieldChangedOnPress);

    m_blocker.addWindow(this);
    m_blocker.addWindow(&m_form1);

    for (QPushButton* button : {PushButton1, PushButton5})
        m_pointer->watchButton(button);
    for (QWidget* element : std::initializer_list<QWidget*>{
             this, Frame1, ListView1->viewport(), ListView2->viewport(), ListView3->viewport()})
        m_pointer->watchOther(element);
}

// A click on an entry, or a move to it with the keys, runs the list's
// handler once: a press that changes the current entry runs it at once, and
// the click that follows is not run again.
void Form2::connectClicks(QTreeWidget* list, void (Form2::*handler)(), bool& changedOnPress)
{
    list->viewport()->installEventFilter(this);
    connect(list, &QTreeWidget::currentItemChanged, this,
            [this, handler, &changedOnPress](QTreeWidgetItem* current) {
                if (m_busy || !current)
                    return;
                changedOnPress = true;
                (this->*handler)();
            });
    connect(list, &QTreeWidget::itemClicked, this, [this, handler, &changedOnPress] {
        if (m_busy)
            return;
        if (changedOnPress) {
            changedOnPress = false;
            return;
        }
        (this->*handler)();
    });
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == ListView1->viewport())
            m_tableChangedOnPress = false;
        else if (watched == ListView2->viewport())
            m_fieldChangedOnPress = false;
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::Show()
{
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    if (m_ending)
        return;
    show();
    raise();
    activateWindow();
}

void Form2::Form_Load()
{
    m_loaded = true;
    if (m_busy || m_ending)
        return;
    const Busy busy(m_busy);
    const InputBlocker::Guard blocked(m_blocker);
    try {
        prepare();
    } catch (const FillStopped&) {
        // The program is ending; the lists are left as they are.
    }
}

void Form2::prepare()
{
    StepRunner steps(m_ui, QStringLiteral("Form2"), QStringLiteral("Form_Load"));
    steps.step(100, [&] { Look::ApplyFormColors(this); });
    steps.step(102, [&] { setWindowIcon(Look::ProgramIcon()); });
    if (steps.condition(106, [] { return Main::FileExists(Look::HandCursorFilePath()); })) {
        steps.step(108, [&] { m_pointer->setCustomCursor(Look::LoadHandCursor()); });
    }
    steps.step(110, [&] { setWindowTitle(QStringLiteral("Quorvane")); });
    steps.step(112, [&] {
        // Nothing of an earlier logon stays, also when the new list fails.
        for (QTreeWidget* list : {ListView1, ListView2, ListView3})
            list->clear();
        fillTables();
    });
    int step = 114;
    for (const Operation& operation : OperationCatalogue()) {
        steps.step(step, [&] {
            if (step == 114)
                Combo1->clear();
            Combo1->addItem(operation.caption);
        });
        step += 2;
    }
    steps.step(168, [&] { Combo1->setCurrentIndex(0); });
    const int width = Look::Twips(5300, this);
    steps.step(170, [&] { ListView1->setHeaderLabels({QStringLiteral("Table(s)")}); });
    steps.step(172, [&] { ListView1->setColumnWidth(0, width); });
    steps.step(174, [&] { ListView2->setHeaderLabels({QStringLiteral("Field(s)")}); });
    steps.step(176, [&] { ListView2->setColumnWidth(0, width); });
    steps.step(
        178, [&] { ListView3->setHeaderLabels({QStringLiteral("First 100 Entries (Preview)")}); });
    steps.step(180, [&] { ListView3->setColumnWidth(0, width); });
    steps.step(182, [&] {
        if (ListView1->topLevelItemCount() > 0)
            fillFields();
    });
}

void Form2::fillTables()
{
    const Hourglass hourglass(*m_pointer);
    replaceEntries(ListView1, Oracle::ListTables(logon(), [this] { letFillEventsRun(); }));
}

void Form2::fillFields()
{
    {
        const Hourglass hourglass(*m_pointer);
        const QStringList fields =
            Oracle::ListFields(logon(), selectedTable(), [this] { letFillEventsRun(); });
        replaceEntries(ListView2, fields);
        ListView3->clear();
    }
    if (ListView2->topLevelItemCount() > 0)
        fillPreview();
}

void Form2::fillPreview()
{
    const Hourglass hourglass(*m_pointer);
    replaceEntries(ListView3, Oracle::Preview(logon(), selectedTable(), selectedField(),
                                              [this] { letFillEventsRun(); }));
}

void Form2::runClickedFill(void (Form2::*fill)())
{
    if (m_busy || m_ending)
        return;
    const Busy busy(m_busy);
    const InputBlocker::Guard blocked(m_blocker);
    try {
        (this->*fill)();
    } catch (const FillStopped&) {
        // The program is ending.
    } catch (const std::exception& error) {
        setMousePointer(MousePointer::Default);
        m_ui.warningBox(ErrorReport::DescriptionOf(error), ErrorReport::Title);
    }
}

void Form2::ListView1_Click()
{
    runClickedFill(&Form2::fillFields);
}

void Form2::ListView2_Click()
{
    runClickedFill(&Form2::fillPreview);
}

void Form2::PushButton1_Click()
{
    if (m_busy || m_ending)
        return;
    const Busy busy(m_busy);
    const InputBlocker::Guard blocked(m_blocker);
    m_changeRun.run();
}

void Form2::PushButton5_Click()
{
    if (m_busy)
        return;
    StepRunner steps(m_ui, QStringLiteral("Form2"), QStringLiteral("PushButton5_Click"));
    steps.step(100, [&] { m_form1.show(); });
    steps.step(102, [&] { hide(); });
    steps.step(104, [&] { Form_Load(); });
}

// Closing ends the program, also while a fill or a run is under way: that
// stops at its next row.
void Form2::closeEvent(QCloseEvent* event)
{
    endWork();
    event->accept();
    emit unloaded();
}

Logon Form2::logon() const
{
    return m_form1.logon();
}

QString Form2::selectedTable() const
{
    return currentText(ListView1);
}

QString Form2::selectedField() const
{
    return currentText(ListView2);
}

int Form2::fieldCount() const
{
    return ListView2->topLevelItemCount();
}

QString Form2::operationText() const
{
    return Combo1->currentText();
}

void Form2::setMousePointer(MousePointer pointer)
{
    m_pointer->setPointer(pointer);
}

void Form2::setProgress(double percent)
{
    ProgressBar1->setValue(qBound(0, qRound(percent), 100));
}

void Form2::letEventsRun()
{
    QCoreApplication::processEvents();
}

void Form2::letFillEventsRun()
{
    letEventsRun();
    if (m_ending)
        throw FillStopped();
}

void Form2::clearPreview()
{
    ListView3->clear();
}

void Form2::addPreviewEntry(const QString& text)
{
    auto* item = new QTreeWidgetItem(ListView3, QStringList{text});
    if (ListView3->topLevelItemCount() == 1)
        ListView3->setCurrentItem(item);
}
