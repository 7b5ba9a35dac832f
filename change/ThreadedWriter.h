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

// A writer that runs on a thread of its own, over a connection of its own,
// behind a queue of a few batches: the run's thread reads and computes while
// the batches before go to the database. What becomes of each change is told
// on the run's thread (in write, flush and drop), in the order written.
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

    // Starts the thread, which opens its connection with the logon while
    // the run goes on (its rows counted, its prompts answered).
    ThreadedWriter(const Logon& logon, int batchRows, std::function<void()> keepResponsive,
                   std::function<bool()> stopRequested, std::function<void()> waiting = {});
    ~ThreadedWriter() override;

    // Builds the writer on the thread, over its connection, and waits for
    // it; throws RuntimeError when the connection or the writer fails.
    void start(Make make);

    int batchRows() const override { return m_batchRows; }
    void write(const Change& change, qint64 ticket) override;
    void flush() override;
    void drop() override;

private:
    // How many batches wait for the thread at the most.
    static constexpr size_t QueuedBatches = 3;

    struct Job {
        QList<std::pair<Change, qint64>> changes;
        bool flush = false;
    };

    void work(const Logon& logon);
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

    const int m_batchRows;
    std::function<void()> m_keepResponsive;
    std::function<bool()> m_stopRequested;
    std::function<void()> m_waiting;
    HeldChanges m_held; // not yet a batch

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_queue;
    bool m_busy = false; // the thread has a job in hand
    bool m_quit = false;
    std::optional<Make> m_make; // given by start
    bool m_ready = false;       // the thread's writer is built (or failed to be)
    std::optional<RuntimeError> m_setupError;
    Results m_results;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_waitingNow{false};   // a write waits for a lock: not yet told
    Oracle::Connection* m_working = nullptr; // the thread's, while it is open
    std::thread m_thread;
};
