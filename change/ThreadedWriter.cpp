#include "change/ThreadedWriter.h"

#include "app/RuntimeError.h"

#include <chrono>

namespace
{

// How long the run's thread waits before it lets the window repaint.
constexpr std::chrono::milliseconds ResponsiveEvery{50};

} // namespace

ThreadedWriter::ThreadedWriter(const Logon& logon, int batchRows,
                               std::function<void()> keepResponsive,
                               std::function<bool()> stopRequested, std::function<void()> waiting)
    : m_batchRows(qMax(1, batchRows)), m_keepResponsive(std::move(keepResponsive)),
      m_stopRequested(std::move(stopRequested)), m_waiting(std::move(waiting))
{
    m_thread = std::thread([this, logon] { work(logon); });
}

void ThreadedWriter::start(Make make)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_make = std::move(make);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_ready; });
    if (m_setupError) {
        const RuntimeError error = *m_setupError;
        m_quit = true;
        lock.unlock();
        m_thread.join();
        throw error;
    }
}

ThreadedWriter::~ThreadedWriter()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        stopWriting();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ThreadedWriter::work(const Logon& logon)
{
    std::unique_ptr<Oracle::Connection> connection;
    std::unique_ptr<RowWriter> writer;
    try {
        connection = Oracle::OpenConnection(logon, Oracle::ConnectionProperty::Writing);
    } catch (const RuntimeError& error) {
        m_setupError = error;
    }
    std::optional<Make> make;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_quit || m_make; });
        if (m_quit && !m_make)
            return; // never started: the run was not applied
        make = m_make;
    }
    if (!m_setupError) {
        try {
            WriteControl control;
            control.stopRequested = [this] { return m_stop.load(); };
            control.waiting = [this] { m_waitingNow = true; };
            writer = (*make)(*connection, std::move(control));
            writer->setReports({}, [this](const Results& results) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_results.append(results);
            });
        } catch (const RuntimeError& error) {
            m_setupError = error;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ready = true;
        m_working = connection.get();
    }
    m_changed.notify_all();
    if (m_setupError)
        return;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit)
                break;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        m_changed.notify_all(); // room in the queue
        if (!m_stop) {          // after a stop nothing more is written
            for (const auto& [change, ticket] : job.changes)
                writer->write(change, ticket);
            if (job.flush)
                writer->flush();
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_busy = false;
        }
        m_changed.notify_all();
    }
    writer.reset(); // on this thread, with its connection
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_working = nullptr;
    }
    connection.reset();
}

void ThreadedWriter::write(const Change& change, qint64 ticket)
{
    m_held.add(change, ticket);
    if (m_held.full(m_batchRows))
        enqueue({m_held.take(), false});
    tell();
}

void ThreadedWriter::flush()
{
    enqueue({m_held.take(), true});
    waitIdle();
}

void ThreadedWriter::drop()
{
    m_held.clear();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        stopWriting();
    }
    waitIdle();
}

template <class Done> void ThreadedWriter::waitUntil(std::unique_lock<std::mutex>& lock, Done done)
{
    while (!done()) {
        if (m_changed.wait_for(lock, ResponsiveEvery) != std::cv_status::timeout)
            continue;
        lock.unlock();
        tell();
        if (m_keepResponsive)
            m_keepResponsive();
        const bool stop = m_stopRequested && m_stopRequested();
        lock.lock();
        if (stop)
            stopWriting();
    }
}

void ThreadedWriter::stopWriting()
{
    m_stop = true;
    m_queue.clear();
    if (m_working)
        m_working->cancel();
}

void ThreadedWriter::enqueue(Job job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitUntil(lock, [this] { return m_queue.size() < QueuedBatches; });
    m_queue.push_back(std::move(job));
    lock.unlock();
    m_changed.notify_all();
}

void ThreadedWriter::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitUntil(lock, [this] { return m_queue.empty() && !m_busy; });
    lock.unlock();
    tell();
}

void ThreadedWriter::tell()
{
    if (m_waitingNow.exchange(false) && m_waiting)
        m_waiting();
    Results results;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        results = std::exchange(m_results, {});
    }
    if (!results.isEmpty())
        done(results);
}
