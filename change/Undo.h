#pragma once

#include "change/ChangeRun.h"
#include "change/Journal.h"

// Undoing a journaled run: each row the run wrote gets its old value back
// where it still holds what the run wrote (compare-and-set, as the run
// wrote it); rows changed since are left alone and counted. Rows journaled
// but never written (a run killed mid-way) still hold their old value: they
// are neither changed nor counted. Each row restored or left alone is so
// marked in the journal and never written again; the run is marked undone
// once no row is left, so that an undo that failed rows or was stopped can
// be undone again, for the rows left. A run still being written by a live
// process is not undone.
struct UndoResult {
    enum class End {
        UnknownRun,    // no such run in the journal
        AlreadyUndone, // it was undone before
        OtherLogon,    // the run was made under another SID, user or driver
        StillWriting,  // a live process still writes the run
        Failed,        // the connection or the table could not be used, or was lost
        Stopped,       // asked to stop before it ended; it can be undone again
        Done,
    };
    End end = End::UnknownRun;
    int rows = 0;      // rows the run wrote: restored + conflicts + failed
    int restored = 0;  // rows that hold their old value again
    int conflicts = 0; // rows changed since the run: left alone
    int failed = 0;    // rows whose write back was refused, or not journaled
    int left = 0;      // rows still to undo: failed, stopped or not reached
    int reports = 0;
    bool connectionLost = false;
};

// How an undo writes: as a run does, in batches on a thread of their own
// (or one statement per row), reading the journal's rows a page at a time.
struct UndoOptions {
    bool rowByRow = false;
    int batchRows = 1000;
    // Batches go from two threads over two connections, as a run's do.
    int writerThreads = 2;
    // Rows read from the journal at a time; each page is written through
    // before the next is read.
    int pageRows = 5000;
    // Where the error reports say the undo was started: the window and its
    // handler.
    QString window;
    QString handler;
};

class Undo
{
public:
    Undo(RunObserver& observer, Interaction& ui, Journal& journal, UndoOptions options = {});

    // The newest run of the logon that is not yet undone, if any.
    static std::optional<Journal::Run> LastUndoable(Journal& journal, const Logon& logon);

    // Undoes the run over a connection with the logon, which must be the
    // run's.
    UndoResult undo(qint64 run, const Logon& logon);

private:
    class Pass;
    Db::RowKey readKey(Oracle::Connection& connection, const Journal::Run& run);
    std::unique_ptr<RowWriter> makeWriter(Oracle::Connection& connection, const Logon& logon,
                                          const Journal::Run& run, const Db::RowKey& key,
                                          RunActivity& activity);

    RunObserver& m_observer;
    Interaction& m_ui;
    Journal& m_journal;
    UndoOptions m_options;
};
