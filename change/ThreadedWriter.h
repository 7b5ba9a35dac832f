#pragma once

#include "app/RuntimeError.h"
#include "change/RowWriter.h"
#include "db/Oracle.h"

#include <QList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A writer that runs on a thread of its own, over a connection of its own,
// behind a queue of a few batches: the run's thread reads and computes while
// the batches before go to the database. Where the database takes batches
// of other rows from two sessions at once (ParallelWrites), a second thread
// with a connection of its own takes every other batch: the batches'
// statements still run one after another in the order read, but one
// batch's arrays are built, and the one before it has its results read,
// journaled and committed, while a statement runs. What becomes of each
// change is told on the run's thread (in write, flush and drop), batch by
// batch as they are done.
// While it waits for the queue, the run's thread keeps the window responsive
// and passes a stop on: a write that waits for a lock then gives up. That a
// write waits for a row another connection holds is told on the run's
// thread too, through `waiting`.
class ThreadedWriter : public RowWriter
{
public:
    // Builds, on the writer's thread, the writer that does the work over the
    // thread's connection; it may give up a wait when `keepWaiting` says no.
    using Make = std::function<std::unique_ptr<RowWriter>(Oracle::Connection& connection,
                                                          WriteControl control)>;

    // Starts the thread (and, with `threads` 2, the second), which opens its
    // connection with the logon while the run goes on (its rows counted, its
    // prompts answered). Batches of at most `batchRows` (0: the writers' own).
    ThreadedWriter(const Logon& logon, int batchRows, std::function<bool()> stopRequested,
                   std::function<void()> waiting = {}, int threads = 1);
    ~ThreadedWriter() override;

    // Builds the writer on the thread, over its connection, and waits for
    // it; throws RuntimeError when the connection or the writer fails.
    void start(Make make);

    int batchRows() const override { return m_batchRows; }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void drop() override;

private:
    // How many batches wait for the thread at the most, and how many rows
    // (but for one batch): large batches wait one at a time.
    static constexpr size_t QueuedBatches = 3;
    static constexpr qsizetype QueuedRows = 10000;

    struct Job {
        QList<std::pair<Change, qint64>> changes;
        qint64 turn = 0; // its place in the order read
    };

    // The work of thread `index`; thread 0's connection must open, a
    // second's may fail or find the database unfit, and it then ends.
    void work(const Logon& logon, size_t index);
    // Thread `index`'s connection, or null (its failure in `failed`, where
    // it failed): thread 0's first, a second's once the first's opened.
    std::unique_ptr<Oracle::Connection> openConnection(const Logon& logon, size_t index,
                                                       std::optional<RuntimeError>& failed);
    // Thread `index`'s writer, once the run starts, or null; whether it
    // writes is told to the others. False where the run never started.
    bool makeWriter(size_t index, Oracle::Connection* connection,
                    std::unique_ptr<RowWriter>& writer);
    // Thread `index` writes the jobs queued and the flushes asked for until
    // the end.
    void writeJobs(size_t index, RowWriter& writer);
    // No job queued or in hand, and every writing thread's flush done.
    // Under the lock.
    bool idle() const;
    // Waits for thread `index`'s turn to write (false: a stop came first),
    // or passes it on to the next batch's thread.
    bool takeTurn(size_t index);
    void passTurn(size_t index);
    // After a stop: nothing more is written, and a write under way is
    // cancelled (a wait for a lock ends at once). Under the lock.
    void stopWriting();
    // Waits until `done` holds (under the lock), letting the window repaint
    // and passing a stop on every little while.
    template <class Done> void waitUntil(std::unique_lock<std::mutex>& lock, Done done);
    void enqueue(Job job);
    // Waits (responsive) until nothing is queued or in hand, then tells.
    void waitIdle();
    // Tells the results the thread has given so far.
    void tell();

    int m_batchRows; // at most the writers' own: a job is one batch statement
    std::function<bool()> m_stopRequested;
    std::function<void()> m_waiting;
    HeldChanges m_held; // not yet a batch

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_queue;
    int m_busy = 0; // the threads with a job in hand
    bool m_quit = false;
    std::optional<Make> m_make;        // given by start
    int m_ready = 0;                   // the threads whose writers are built (or failed to be)
    std::atomic<int> m_writers{0};     // the threads that write
    std::optional<bool> m_firstOpened; // whether the first thread's connection opened
    std::optional<RuntimeError> m_setupError;
    // A flush is asked of every writing thread: each holds what it has
    // not yet sent. `m_flushes` counts the flushes asked, `m_flushed` those
    // done by every thread, per thread.
    int m_flushes = 0;
    std::vector<int> m_flushed;
    qint64 m_queued = 0;          // the turns given to jobs so far
    qint64 m_turn = 0;            // the turn whose statements may run
    std::vector<qint64> m_onTurn; // each thread's job's turn
    Results m_results;
    std::atomic<bool> m_hasResults{false}; // m_results holds some: tell takes the lock
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_waitingNow{false};      // a write waits for a lock: not yet told
    std::vector<Oracle::Connection*> m_working; // the threads', while they are open
    std::vector<std::thread> m_threads;
};
