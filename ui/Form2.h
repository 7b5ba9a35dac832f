#pragma once

#include "change/ChangeRun.h"
#include "change/Journal.h"
#include "change/Undo.h"
#include "ui/Look.h"
#include "ui/RunThread.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class Form1;
class Interaction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The main window: the user's tables, the fields of the selected table, the
// first values of the selected field, the 27 operations, "Start Changing"
// and its progress; below them "Preview Changes", "Stop", "Undo Last Change"
// and a status line: what a run or an undo is doing while it goes, then its
// counts, for as long as the table and field it ran on stay selected. Every
// fill and every run open their own connection with the logon that stands in
// the connection dialog.
class Form2 : public QWidget, private ChangeRunObserver
{
    Q_OBJECT

public:
    Form2(Interaction& ui, Form1& form1, QWidget* parent = nullptr);

    MousePointerControl& mousePointer() { return *m_pointer; }

    // True while a fill or a change run is under way; clicks are refused then.
    bool isBusy() const { return m_busy; }

    // The program is ending: a fill or run under way stops at its next row,
    // and nothing new starts.
    void endWork();

    // Shows the window; the first showing prepares it.
    void Show();

    // The preparation: look, caption, the table list, the operations and the
    // headers, then the first table's fields and first field's values.
    void Form_Load();
    // "Start Changing".
    void PushButton1_Click();
    // "Setup Oracle Connection".
    void PushButton5_Click();
    // "Preview Changes": the operation's prompts, then what it would change,
    // from where the change can be started with the same answers.
    void PushButton6_Click();
    // "Stop": the run or undo under way ends at its next row.
    void PushButton7_Click();
    // "Undo Last Change": the newest run of the logon not yet undone.
    void PushButton8_Click();

    // Opens the journal and drops its oldest runs (at start-up); a journal
    // that cannot be opened is told of when a run needs it.
    void pruneJournal();
    // A click on the table list: its fields, then the first field's values.
    void ListView1_Click();
    // A click on the field list: the field's values.
    void ListView2_Click();

signals:
    // The window was closed: the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Logon logon() const;
    QString selectedTable() const;
    QString selectedField() const;
    // A run of what is selected now, started by `handler`.
    ChangeRequest request(ChangeRunOptions options, const QString& handler) const;

    // ChangeRunObserver
    void setMousePointer(MousePointer pointer) override;
    void setProgress(double percent) override;
    void letEventsRun() override;
    void clearPreview() override;
    void addPreviewEntry(const QString& text) override;
    void showReading() override;
    void showWriting(int done, int total) override;
    void showWaiting() override;

    // The journal, opened on first use; null (after a report at the
    // handler's first step) when it cannot be.
    Journal* journal(const QString& handler);
    // A change run that writes, journaled, with Stop enabled while it goes.
    void startRun(ChangeRunOptions options, const QString& handler);
    // Runs `work` on the run thread, the window busy and only Stop taking
    // input until it ends; then `then`.
    void startWork(RunThread::Work work, std::function<void()> then);
    void workEnded();
    // What the window shows when a run, a preview or an undo ended.
    void runEnded(const ChangeRunResult& result);
    struct Previewed;
    void previewEnded(const ChangeRunResult& result, const Previewed& previewed);
    void undoEnded(const UndoResult& result, const Journal::Run& run);
    // While a run or an undo goes, Stop is the only enabled control of those
    // that take input; when it ended, each is back as it was and Stop
    // disabled.
    void setRunning(bool running);
    // The outcome of a run or an undo, shown for the selected table and field.
    void showStatus(const QString& text);
    // What a run or an undo is doing now.
    void showActivity(const QString& text);
    void clearStatus();
    // Clears the status line once the table or field it was shown for is no
    // longer the selected one.
    void statusFollowsSelection();

    // Between the entries of a fill: lets events run, and abandons the fill
    // (throws FillStopped) when the program is ending.
    void letFillEventsRun();

    // The preparation's steps (Form_Load without its guards).
    void prepare();
    // The fills; a failure throws and leaves the lists as they were.
    void fillTables();
    void fillFields();
    void fillPreview();
    // Runs a fill started by the user's click: refused while busy; a failure
    // is said and the program goes on.
    void runClickedFill(void (Form2::*fill)());
    void connectClicks(QTreeWidget* list, void (Form2::*handler)(), bool& changedOnPress);

    Interaction& m_ui;
    Form1& m_form1;
    MousePointerControl* m_pointer;
    InputBlocker m_blocker;
    std::optional<InputBlocker::Guard> m_blocked; // while the run thread works
    std::function<void()> m_afterWork;
    bool m_busy = false;
    bool m_ending = false;
    std::unique_ptr<Journal> m_journal;
    bool m_loaded = false;
    bool m_tableChangedOnPress = false;
    bool m_fieldChangedOnPress = false;
    // The table and field the status line's outcome is for.
    QString m_statusTable;
    QString m_statusField;
    // The controls a run disables, and whether each was enabled before it.
    QList<QWidget*> m_runDisables;
    QList<bool> m_enabledBeforeRun;
    QPointer<QWidget> m_focusBeforeRun;

    QTreeWidget* ListView1;
    QTreeWidget* ListView2;
    QTreeWidget* ListView3;
    QGroupBox* Frame1;
    QComboBox* Combo1;
    QPushButton* PushButton1;
    QPushButton* PushButton5;
    QProgressBar* ProgressBar1;
    QPushButton* PushButton6;
    QPushButton* PushButton7;
    QPushButton* PushButton8;
    QCheckBox* Check1;
    QLabel* Label1;

    // Last: it goes first, and waits for its work to end.
    RunThread m_worker;
};
