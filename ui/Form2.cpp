#include "ui/Form2.h"

#include "app/ErrorReport.h"
#include "app/Main.h"
#include "change/OperationCatalogue.h"
#include "change/PreviewRefill.h"
#include "change/Undo.h"
#include "db/Schema.h"
#include "ui/ChangesDialog.h"
#include "ui/Form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
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
    list->header()->setStretchLastSection(false); // the column keeps the width it is given
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

// A run that a live program still writes cannot be undone.
QString stillWritingText(qint64 run)
{
    return QStringLiteral("Run %1 is still writing.").arg(run);
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
      m_blocker(this), m_worker(*this, *this, ui)
{
    using Look::TwipsRect;
    setObjectName(QStringLiteral("Form2"));
    // The controls of the first 7470 twips, then a row of buttons and a
    // status line below them.
    setFixedSize(Look::Twips(8040, this), Look::Twips(8460, this));
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
    PushButton6 =
        Look::MakeControl<QPushButton>(this, "PushButton6", TwipsRect(120, 7530, 1920, 405, this));
    PushButton6->setText(QStringLiteral("Preview Changes"));
    PushButton7 =
        Look::MakeControl<QPushButton>(this, "PushButton7", TwipsRect(2100, 7530, 1200, 405, this));
    PushButton7->setText(QStringLiteral("Stop"));
    PushButton8 =
        Look::MakeControl<QPushButton>(this, "PushButton8", TwipsRect(3360, 7530, 2100, 405, this));
    PushButton8->setText(QStringLiteral("Undo Last Change"));
    Check1 = Look::MakeControl<QCheckBox>(this, "Check1", TwipsRect(5580, 7530, 2340, 405, this));
    Check1->setText(QStringLiteral("One statement per row"));
    for (QPushButton* button : {PushButton6, PushButton7, PushButton8})
        button->setAutoDefault(false); // the window's font: the row is narrow
    PushButton7->setEnabled(false);
    Label1 = Look::MakeControl<QLabel>(this, "Label1", TwipsRect(120, 8040, 7800, 300, this));

    setTabOrder(PushButton1, PushButton5);
    setTabOrder(PushButton5, Combo1);
    setTabOrder(Combo1, ListView1);
    setTabOrder(ListView1, ListView2);
    setTabOrder(ListView2, ListView3);
    setTabOrder(ListView3, PushButton6);
    setTabOrder(PushButton6, PushButton7);
    setTabOrder(PushButton7, PushButton8);
    setTabOrder(PushButton8, Check1);
    Frame1->setFocusPolicy(Qt::NoFocus);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);

    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form2::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form2::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form2::PushButton7_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form2::PushButton8_Click);
    connectClicks(ListView1, &Form2::ListView1_Click, m_tableChangedOnPress);
    connectClicks(ListView2, &Form2::ListView2_Click, m_fieldChangedOnPress);

    // A selection that changes takes the last run's counts away.
    for (QTreeWidget* list : {ListView1, ListView2})
        connect(list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
            if (current) // not while the list is emptied to be filled again
                statusFollowsSelection();
        });
    m_runDisables = {PushButton1, PushButton5, PushButton6, PushButton8,
                     Check1,      Combo1,      ListView1,   ListView2};

    m_blocker.addWindow(this);
    m_blocker.addWindow(&m_form1);
    m_blocker.allow(PushButton7);

    for (QPushButton* button : {PushButton1, PushButton5, PushButton6, PushButton7, PushButton8})
        m_pointer->watchButton(button);
    connect(&m_worker, &RunThread::finished, this, &Form2::workEnded);
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
    clearStatus(); // the counts were for the tables of the logon before
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
    startRun({}, QStringLiteral("PushButton1_Click"));
}

ChangeRequest Form2::request(ChangeRunOptions options, const QString& handler) const
{
    ChangeRequest request;
    request.logon = logon();
    request.table = selectedTable();
    request.field = selectedField();
    request.fieldListed = ListView2->topLevelItemCount() > 0;
    request.operation = OperationNumber(Combo1->currentText());
    request.options = std::move(options);
    request.window = QStringLiteral("Form2");
    request.handler = handler;
    return request;
}

void Form2::startRun(ChangeRunOptions options, const QString& handler)
{
    clearStatus(); // nothing of the last run stays, also when this one is cancelled
    options.rowByRow = Check1->isChecked();
    QString journalPath;
    {
        const Busy busy(m_busy);
        const InputBlocker::Guard blocked(m_blocker);
        const Journal* journal = this->journal(handler);
        if (!journal)
            return;
        journalPath = journal->path();
    }
    const ChangeRequest asked = request(std::move(options), handler);
    auto result = std::make_shared<ChangeRunResult>();
    startWork(
        [asked, journalPath, result](ChangeRunObserver& observer, Interaction& ui) {
            // The journal's connection is the run thread's own.
            Journal journal(journalPath);
            ChangeRequest request = asked;
            request.options.journal = &journal;
            *result = ChangeRun(observer, ui).run(request);
            // The preview as the table now is, then "Done.".
            RefillPreview(request, observer, ui, *result);
        },
        [this, result] { runEnded(*result); });
}

void Form2::startWork(RunThread::Work work, std::function<void()> then)
{
    m_busy = true;
    m_blocked.emplace(m_blocker);
    setRunning(true);
    m_afterWork = std::move(then);
    m_worker.start(std::move(work));
    if (m_ending) // closed meanwhile
        m_worker.requestStop();
}

void Form2::workEnded()
{
    setRunning(false);
    m_blocked.reset();
    m_busy = false;
    const std::function<void()> then = std::move(m_afterWork);
    m_afterWork = nullptr;
    if (then)
        then();
}

void Form2::runEnded(const ChangeRunResult& result)
{
    if (!result.applied) {
        clearStatus(); // what it was doing when it ended
        return;
    }
    QString status = QStringLiteral("%1 of %2 rows changed")
                         .arg(Look::Count(result.changed), Look::Count(result.rows));
    if (result.failed > 0)
        status += QStringLiteral(" \u00b7 %1 failed").arg(Look::Count(result.failed));
    if (result.conflicts > 0)
        status += QStringLiteral(" \u00b7 %1 changed by others, left alone")
                      .arg(Look::Count(result.conflicts));
    if (result.end == ChangeRunResult::End::Stopped)
        status += QStringLiteral(" \u00b7 Stopped");
    if (result.connectionLost)
        status += QStringLiteral(" \u00b7 Connection lost");
    if (result.journalRun && result.changed > 0)
        status += QStringLiteral(" \u00b7 Undo available");
    showStatus(status);
}

// The first changes and failures of a preview, for its dialog.
struct Form2::Previewed {
    QList<Change> first;
    QList<ChangesDialog::Failure> failures;
};

void Form2::PushButton6_Click()
{
    if (m_busy || m_ending)
        return;
    auto previewed = std::make_shared<Previewed>();
    ChangeRunOptions preview;
    preview.dryRun = true;
    preview.seen = [previewed](const Change& change) {
        if (previewed->first.size() < ChangesDialog::ListedChanges)
            previewed->first << change;
    };
    // Rows that cannot be changed are listed in the dialog, not reported.
    preview.failedRow = [previewed](const QString& value, const QString& reason) {
        if (previewed->failures.size() < ChangesDialog::ListedFailures)
            previewed->failures << ChangesDialog::Failure{value, reason};
    };
    clearStatus();
    const ChangeRequest request = this->request(preview, QStringLiteral("PushButton6_Click"));
    auto result = std::make_shared<ChangeRunResult>();
    startWork(
        [request, result](ChangeRunObserver& observer, Interaction& ui) {
            *result = ChangeRun(observer, ui).run(request);
        },
        [this, result, previewed] { previewEnded(*result, *previewed); });
}

void Form2::previewEnded(const ChangeRunResult& result, const Previewed& previewed)
{
    if (result.end != ChangeRunResult::End::Done || !result.applied || m_ending) {
        clearStatus();
        return;
    }
    showStatus(QStringLiteral("Preview: %1 of %2 rows will change")
                   .arg(Look::Count(result.changed), Look::Count(result.rows)));
    ChangesDialog dialog(result.rows, result.changed, result.failed, previewed.first,
                         previewed.failures, this);
    if (dialog.exec() != QDialog::Accepted || m_busy || m_ending)
        return;
    ChangeRunOptions run;
    run.answers = result.answers; // the same answers, no prompts again
    startRun(run, QStringLiteral("PushButton1_Click"));
}

void Form2::PushButton7_Click()
{
    m_worker.requestStop();
    PushButton7->setEnabled(false);
}

void Form2::endWork()
{
    m_ending = true;
    m_worker.requestStop();
}

void Form2::PushButton8_Click()
{
    if (m_busy || m_ending)
        return;
    const QString handler = QStringLiteral("PushButton8_Click");
    const QString title = Main::ApplicationTitle();
    Journal* journal = this->journal(handler);
    if (!journal)
        return;
    const Logon logon = this->logon();
    std::optional<Journal::Run> run;
    bool writing = false;
    try {
        run = Undo::LastUndoable(*journal, logon);
        writing = run && journal->isWriting(run->id);
    } catch (const std::exception& error) {
        ErrorReport::Show(m_ui, ErrorReport::DescriptionOf(error),
                          ErrorReport::Location(QStringLiteral("Form2"), handler), 100);
        return;
    }
    if (!run) {
        m_ui.messageBox(QStringLiteral("There is no change of this logon left to undo."), title);
        return;
    }
    const QString stillWriting = stillWritingText(run->id);
    if (writing) {
        m_ui.messageBox(stillWriting, title);
        return;
    }
    const QString question =
        QStringLiteral("Undo this change?\n\nTable: %1\nField: %2\nOperation: %3\nTime: %4\n"
                       "Rows changed: %5")
            .arg(run->table, run->field, run->operation,
                 QLocale().toString(run->started.toLocalTime(), QLocale::ShortFormat),
                 Look::Count(run->changed));
    if (!m_ui.questionBox(question, title))
        return;
    clearStatus();
    UndoOptions options;
    options.window = QStringLiteral("Form2");
    options.handler = handler;
    const QString journalPath = journal->path();
    const qint64 id = run->id;
    auto result = std::make_shared<UndoResult>();
    startWork(
        [journalPath, options, id, logon, result](ChangeRunObserver& observer, Interaction& ui) {
            Journal journal(journalPath); // the run thread's own connection
            *result = Undo(observer, ui, journal, options).undo(id, logon);
        },
        [this, result, run = *run] { undoEnded(*result, run); });
}

void Form2::undoEnded(const UndoResult& result, const Journal::Run& run)
{
    const QString title = Main::ApplicationTitle();
    const QString stillWriting = stillWritingText(run.id);
    if (result.end == UndoResult::End::StillWriting) { // it began meanwhile
        clearStatus();
        m_ui.messageBox(stillWriting, title);
        return;
    }
    // Out of the rows the run wrote that were left to undo.
    QString summary = QStringLiteral("%1 of %2 rows restored")
                          .arg(Look::Count(result.restored),
                               Look::Count(result.restored + result.conflicts + result.left));
    if (result.conflicts > 0)
        summary += QStringLiteral(" \u00b7 %1 changed since, left alone")
                       .arg(Look::Count(result.conflicts));
    if (result.failed > 0)
        summary += QStringLiteral(" \u00b7 %1 failed").arg(Look::Count(result.failed));
    if (result.end == UndoResult::End::Stopped)
        summary += QStringLiteral(" \u00b7 Stopped");
    if (result.left > 0)
        summary +=
            QStringLiteral(" \u00b7 %1 left: Undo again to go on").arg(Look::Count(result.left));
    if (result.end == UndoResult::End::Done || result.end == UndoResult::End::Stopped ||
        result.end == UndoResult::End::Failed) {
        showStatus(QStringLiteral("Undo: ") + summary);
        if (!m_ending)
            m_ui.messageBox(QStringLiteral("Undo: ") + summary + u'.', title);
    } else {
        clearStatus();
    }
    // The preview shows the field as it now is.
    if (!m_ending && selectedTable() == run.table && selectedField() == run.field)
        runClickedFill(&Form2::fillPreview);
}

Journal* Form2::journal(const QString& handler)
{
    if (!m_journal) {
        try {
            m_journal = std::make_unique<Journal>();
        } catch (const std::exception& error) {
            ErrorReport::Show(m_ui, ErrorReport::DescriptionOf(error),
                              ErrorReport::Location(QStringLiteral("Form2"), handler), 100);
            return nullptr;
        }
    }
    return m_journal.get();
}

void Form2::pruneJournal()
{
    try {
        if (!m_journal)
            m_journal = std::make_unique<Journal>();
        m_journal->prune();
    } catch (const std::exception&) {
        // Said when a run needs the journal.
    }
}

void Form2::setRunning(bool running)
{
    if (running && m_enabledBeforeRun.isEmpty()) {
        m_focusBeforeRun = focusWidget();
        for (QWidget* control : m_runDisables) {
            m_enabledBeforeRun << control->isEnabledTo(this);
            control->setEnabled(false);
        }
    } else if (!running && !m_enabledBeforeRun.isEmpty()) {
        for (qsizetype i = 0; i < m_runDisables.size(); ++i)
            m_runDisables[i]->setEnabled(m_enabledBeforeRun[i]);
        m_enabledBeforeRun.clear();
        // Disabling moved the focus away from the control that had it.
        if (m_focusBeforeRun && m_focusBeforeRun->isEnabled())
            m_focusBeforeRun->setFocus(Qt::OtherFocusReason);
        m_focusBeforeRun.clear();
    }
    PushButton7->setEnabled(running);
}

void Form2::showStatus(const QString& text)
{
    Label1->setText(text);
    m_statusTable = selectedTable();
    m_statusField = selectedField();
}

void Form2::showActivity(const QString& text)
{
    Label1->setText(text);
    m_statusTable.clear();
    m_statusField.clear();
}

void Form2::clearStatus()
{
    showActivity(QString());
}

void Form2::statusFollowsSelection()
{
    if (!Label1->text().isEmpty() &&
        (selectedTable() != m_statusTable || selectedField() != m_statusField))
        clearStatus();
}

void Form2::showReading()
{
    showActivity(QStringLiteral("Reading rows..."));
}

void Form2::showWriting(int done, int total)
{
    showActivity(QStringLiteral("Writing: %1 of %2").arg(Look::Count(done), Look::Count(total)));
}

void Form2::showWaiting()
{
    showActivity(QStringLiteral("Waiting for a locked row..."));
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
