#pragma once

#include "app/Interaction.h"
#include "change/OperationCatalogue.h"
#include "change/RowWriter.h"
#include "change/Snapshot.h"
#include "db/Oracle.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <optional>

class Journal;
class ThreadedWriter;
class StepRunner;

// What a long run over rows tells the window (or command line) it runs
// for, and asks it: whether to stop.
class RunObserver
{
public:
    virtual ~RunObserver() = default;

    virtual void setMousePointer(MousePointer pointer) = 0;
    virtual void setProgress(double percent) = 0; // above 0, at most 100

    // True when the run is to end at the next row (Stop, or the window is
    // closing): rows written stay written, and no "Done." is shown.
    virtual bool stopRequested() const { return false; }

    // What the run is doing now, for a status line: reading the rows (before
    // the first is through); writing (`done` rows through of `total`, told
    // every so often); waiting for a row another connection holds (once per
    // wait; the next showWriting ends it).
    virtual void showReading() {}
    virtual void showWriting(int done, int total)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
    virtual void showWaiting() {}

    // While the run reads, `cancel` ends the read (one that waits for a lock
    // or crawls through a slow view) and all it would read later: whoever
    // asks for a stop from another thread calls it then. The run sets it
    // once its read opens, and an empty one before the read goes.
    virtual void setCanceller(std::function<void()> cancel) { Q_UNUSED(cancel); }
};

// The observer's canceller for as long as this lives: a stop asked for
// from another thread ends the reads of the connection watched.
class ReadCanceller
{
public:
    explicit ReadCanceller(RunObserver& observer) : m_observer(observer) {}
    ~ReadCanceller() { m_observer.setCanceller({}); }
    ReadCanceller(const ReadCanceller&) = delete;
    ReadCanceller& operator=(const ReadCanceller&) = delete;

    void watch(Oracle::Connection& connection)
    {
        m_observer.setCanceller([&connection] { connection.stop(); });
    }

private:
    RunObserver& m_observer;
};

// What a run tells of its activity: "reading" first, then "writing" every
// so often; a wait for a locked row once, until a write is settled again.
class RunActivity
{
public:
    static constexpr int EveryMs = 100;

    explicit RunActivity(RunObserver& observer) : m_observer(observer) {}

    void reading() { m_observer.showReading(); }
    void writing(int done, int total)
    {
        if (m_waiting || (m_since.isValid() && m_since.elapsed() < EveryMs && done < total))
            return;
        m_since.start();
        m_observer.showWriting(done, total);
    }
    void waiting()
    {
        if (!m_waiting)
            m_observer.showWaiting();
        m_waiting = true;
    }
    // A write was settled: a wait that was told is over.
    void settled()
    {
        if (m_waiting)
            m_since.invalidate(); // the next progress is told at once
        m_waiting = false;
    }

private:
    RunObserver& m_observer;
    QElapsedTimer m_since;
    bool m_waiting = false;
};

// What the change run tells beyond a long run's progress, and the preview
// that RefillPreview refills after it.
class ChangeRunObserver : public RunObserver
{
public:
    virtual void letEventsRun() = 0;
    virtual void clearPreview() = 0;
    virtual void addPreviewEntry(const QString& text) = 0;
};

// How a run goes beyond its default (every changing row written).
struct ChangeRunOptions {
    // Nothing is written: every changing row goes to `seen` in the order
    // read, and neither the preview is refilled nor "Done." shown.
    bool dryRun = false;
    std::function<void(const Change&)> seen;
    // Real runs: each row goes in the journal before it is written.
    Journal* journal = nullptr;
    // One statement per row instead of batches of at most `batchRows` rows
    // (0: as many as the database takes in one, Db::Dialect::batchRows).
    bool rowByRow = false;
    int batchRows = 0;
    // Batches go from two threads over two connections, where the database
    // takes two sessions' writes at once; else from one.
    int writerThreads = 2;
    // Dry runs: a row whose new value cannot be computed (or could not be
    // written) goes here with the reason, instead of a report; unset, it is
    // reported as in a real run.
    std::function<void(const QString& value, const QString& reason)> failedRow;
    // Given, the operation's prompts are not shown again.
    std::optional<OperationParameters> answers;
};

// What a run is asked to do, settled before it starts: nothing of it is
// read from a window while the run goes.
struct ChangeRequest {
    Logon logon;
    QString table;
    QString field;
    bool fieldListed = true; // the field list has entries; else "Please select a field."
    int operation = 0;       // the operation's number in the catalogue; 0: none matches
    ChangeRunOptions options;
    // Where the error reports say the run was started: the window and its
    // handler.
    QString window;
    QString handler;
};

struct ChangeRunResult {
    enum class End {
        NoField, // "Please select a field."
        Failed,  // the connection, the rows or the refill could not be read,
                 // or the connection was lost
        Stopped, // asked to stop before it ended
        Done,    // it ended (then RefillPreview refills the preview and shows "Done.",
                 // but for a dry run)
    };
    End end = End::Failed;
    bool applied = false;                       // an operation was found and its prompts answered
    std::optional<OperationParameters> answers; // the answers it was applied with
    qint64 journalRun = 0;                      // its entry in the journal, or 0
    bool connectionLost = false;                // the run ended because the connection was gone
    int reports = 0;                            // error reports shown
    int rows = 0;                               // rows in the snapshot
    int changed = 0;                            // rows written
    int unchanged = 0; // rows whose new value equals their value, and Null rows: no statement
    int failed = 0;    // rows whose new value could not be computed or whose write was refused
    int conflicts = 0; // rows changed or gone since they were read: left alone

    // Rows the run never reached (it ended early or was not applied).
    int skipped() const { return rows - changed - unchanged - failed - conflicts; }
};

// The step numbers of one operation's part of the run.
struct OperationSteps {
    int test = 0;        // the caption comparison
    int firstPrompt = 0; // one number per prompt from here
    int loopHead = 0;
    int newValue = 0;
    int progress = 0;
    int statement = 0;
    int update = 0;
    int nextRow = 0;
    int loopEnd = 0;
    int mustEnterNumber = 0; // number operations only, else 0
    int last = 0;            // the operation's last number
};

// The steps of the operation with the given catalogue number (1 to 27).
OperationSteps StepsOfOperation(int number);

// "Start Changing": applies the chosen operation to every row of the field,
// one compare-and-set write per changing row; RefillPreview then re-reads
// the preview and says "Done.".
class ChangeRun
{
public:
    ChangeRun(ChangeRunObserver& observer, Interaction& ui);

    ChangeRunResult run(const ChangeRequest& request);

private:
    // The writer of a run: nothing for a dry run; else compare-and-set
    // writes, journaled first when there is a journal (whose run entry it
    // begins): batches on a thread of their own, or one per row over
    // `writing`, which it opens.
    std::unique_ptr<RowWriter> makeWriter(const ChangeRequest& request,
                                          std::unique_ptr<ThreadedWriter> threaded,
                                          std::unique_ptr<Oracle::Connection>& writing,
                                          const Operation& operation,
                                          const OperationParameters& parameters,
                                          const Db::RowKey& key, ChangeRunResult& result);

    // The row loop: every row read, its new value computed and, where it
    // changes, written; the counts in `result`. True when it was stopped.
    bool applyRows(StepRunner& steps, Snapshot& snapshot, int n, const Operation& operation,
                   const OperationSteps& opSteps, const OperationParameters& parameters,
                   RowWriter& writer, const ChangeRunOptions& options, ChangeRunResult& result);
    // What each row of the loop goes through.
    struct Applied {
        StepRunner& steps;
        const Operation& operation;
        const OperationSteps& opSteps;
        const OperationParameters& parameters;
        RowWriter& writer;
        const ChangeRunOptions& options;
        ChangeRunResult& result;
    };
    bool applyRow(const Applied& to, const Snapshot::Row& row, int last, int processed, int total);
    // After the row loop: the writer flushed (or, stopped or ended, its
    // held rows dropped), the repeats and conflicts told, the journal's run
    // ended. `stopped` and `ended` are the tally's, which the flush's
    // results may still change.
    void endRows(StepRunner& steps, RowWriter& writer, const OperationSteps& opSteps,
                 const ChangeRunOptions& options, const bool& stopped, const bool& ended,
                 ChangeRunResult& result);
    // The operation asked for, the operations tested one after another at
    // their steps; its steps in `opSteps`. None when none is asked for.
    const Operation* chooseOperation(StepRunner& steps, int number, OperationSteps& opSteps);
    // The new value of a row, at the operation's new-value step; none when it
    // cannot be computed (reported, or told to options.failedRow in a dry run).
    std::optional<QString> newValueOf(StepRunner& steps, const Operation& operation,
                                      const OperationSteps& opSteps,
                                      const OperationParameters& parameters, const QString& value,
                                      const ChangeRunOptions& options, bool& overflow);
    // The operation chosen, asked for its answers and applied; true when
    // the run was stopped.
    bool applyOperation(StepRunner& steps, const ChangeRequest& request, Snapshot& snapshot,
                        std::unique_ptr<ThreadedWriter> threaded, ChangeRunResult& result);
    // The run's end in `result`, the default pointer back first where
    // `pointerBack`.
    ChangeRunResult ended(StepRunner& steps, ChangeRunResult& result, ChangeRunResult::End end,
                          bool pointerBack);

    ChangeRunObserver& m_observer;
    Interaction& m_ui;
    std::optional<RunActivity> m_activity; // while a run goes
};
