#include "change/ThreadedWriter.h"

#include "app/RuntimeError.h"

#include <chrono>
#include <limits>

namespace
{

// How long the run's thread waits for the writers before it tells their
// progress and looks for a stop.
constexpr std::chrono::milliseconds LookEvery{50};

} // namespace

ThreadedWriter::ThreadedWriter(const Logon& logon, int batchRows,
                               std::function<bool()> stopRequested, std::function<void()> waiting,
                               int threads)
    : m_batchRows(batchRows > 0 ? batchRows : std::numeric_limits<int>::max()),
      m_stopRequested(std::move(stopRequested)), m_waiting(std::move(waiting))
{
    const size_t count = size_t(qBound(1, threads, 2));
    m_flushed.assign(count, 0);
    m_working.assign(count, nullptr);
    m_onTurn.assign(count, 0);
    for (size_t index = 0; index < count; ++index)
        m_threads.emplace_back([this, logon, index] { work(logon, index); });
}

void ThreadedWriter::start(Make make)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_make = std::move(make);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_ready == int(m_threads.size()); });
    if (m_setupError) {
        const RuntimeError error = *m_setupError;
        m_quit = true;
        lock.unlock();
        m_changed.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
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
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void ThreadedWriter::work(const Logon& logon, size_t index)
{
    std::optional<RuntimeError> failed;
    std::unique_ptr<Oracle::Connection> connection = openConnection(logon, index, failed);
    if (index == 0) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_firstOpened = connection != nullptr;
        }
        m_changed.notify_all();
    }
    std::unique_ptr<RowWriter> writer;
    if (!makeWriter(index, connection.get(), writer))
        return; // never started: the run was not applied
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_ready;
        // The first thread's failure ends the run; a second thread that
        // cannot write leaves the batches to the first.
        if (failed && index == 0)
            m_setupError = failed;
        if (writer) {
            m_working[index] = connection.get();
            m_batchRows = qMin(m_batchRows, writer->batchRows());
            ++m_writers;
        }
    }
    m_changed.notify_all();
    if (!writer)
        return;
    writeJobs(index, *writer);
    writer.reset(); // on this thread, with its connection
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_working[index] = nullptr; // never waited for again
    }
    m_changed.notify_all();
    connection.reset();
}

std::unique_ptr<Oracle::Connection>
ThreadedWriter::openConnection(const Logon& logon, size_t index,
                               std::optional<RuntimeError>& failed)
{
    // A second connection is opened only once the first is: where the user
    // may open one more session only, it is the first thread's.
    bool opening = true;
    if (index > 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_quit || m_firstOpened.has_value(); });
        opening = !m_quit && *m_firstOpened;
    }
    std::unique_ptr<Oracle::Connection> connection;
    try {
        if (opening)
            connection = Oracle::OpenConnection(logon, Oracle::ConnectionProperty::Writing);
        if (connection && index > 0 &&
            !connection->dialect().has(Db::Dialect::Capability::ParallelWrites))
            connection.reset(); // one session writes: this thread has nothing to do
    } catch (const RuntimeError& error) {
        failed = error;
    }
    return connection;
}

bool ThreadedWriter::makeWriter(size_t index, Oracle::Connection* connection,
                                std::unique_ptr<RowWriter>& writer)
{
    std::optional<Make> make;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_quit || m_make; });
        if (m_quit && !m_make)
            return false;
        make = m_make;
    }
    if (!connection)
        return true;
    try {
        WriteControl control;
        control.stopRequested = [this] { return m_stop.load(); };
        control.waiting = [this] { m_waitingNow = true; };
        control.takeTurn = [this, index] { return takeTurn(index); };
        control.passTurn = [this, index] { passTurn(index); };
        writer = (*make)(*connection, std::move(control));
        writer->setReports({}, [this](const Results& results) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_results.append(results);
            m_hasResults = true;
        });
    } catch (const RuntimeError& error) {
        writer.reset();
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (index == 0)
            m_setupError = error;
    }
    return true;
}

void ThreadedWriter::writeJobs(size_t index, RowWriter& writer)
{
    for (;;) {
        Job job;
        int flush = 0; // the flush this thread does, if no job is queued
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] {
                return m_quit || m_setupError || !m_queue.empty() || m_flushed[index] < m_flushes;
            });
            if (m_quit || m_setupError)
                return;
            if (!m_queue.empty()) {
                job = std::move(m_queue.front());
                m_queue.pop_front();
            } else {
                flush = m_flushes;
                job.turn = m_queued; // after every job
            }
            m_onTurn[index] = job.turn;
            ++m_busy;
        }
        m_changed.notify_all(); // room in the queue
        if (!m_stop) {          // after a stop nothing more is written
            for (const auto& [change, ticket] : job.changes)
                writer.write(change, ticket);
            // With two threads writing, each batch goes whole in its own turn.
            if (flush > 0 || m_writers > 1)
                writer.flush();
        }
        if (flush == 0 && takeTurn(index)) // a job whose statement never ran
            passTurn(index);
        bool waits = false; // nothing more to write for now: what was written is made final
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            waits = m_queue.empty();
        }
        if (waits)
            writer.pause();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            --m_busy;
            if (flush > 0)
                m_flushed[index] = flush;
        }
        m_changed.notify_all();
    }
}

bool ThreadedWriter::takeTurn(size_t index)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stop || m_quit || m_turn >= m_onTurn[index]; });
    return !m_stop && !m_quit;
}

void ThreadedWriter::passTurn(size_t index)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_turn == m_onTurn[index])
            ++m_turn;
    }
    m_changed.notify_all();
}

bool ThreadedWriter::idle() const
{
    if (!m_queue.empty() || m_busy > 0)
        return false;
    for (size_t index = 0; index < m_flushed.size(); ++index)
        if (m_working[index] && m_flushed[index] < m_flushes)
            return false;
    return true;
}

void ThreadedWriter::write(const Change& change, qint64 ticket)
{
    if (m_held.isEmpty())
        m_held.reserve(m_batchRows);
    m_held.add(change, ticket);
    if (m_held.full(m_batchRows))
        enqueue({m_held.take()});
    tell();
}

// The last rows go as a job; then every writing thread sends what it holds.
void ThreadedWriter::flush()
{
    if (!m_held.isEmpty())
        enqueue({m_held.take()});
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_flushes;
    }
    m_changed.notify_all();
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
        if (m_changed.wait_for(lock, LookEvery) != std::cv_status::timeout)
            continue;
        lock.unlock();
        tell();
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
    for (Oracle::Connection* working : m_working)
        if (working)
            working->cancel();
}

void ThreadedWriter::enqueue(Job job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitUntil(lock, [&] {
        qsizetype rows = job.changes.size();
        for (const Job& queued : m_queue)
            rows += queued.changes.size();
        return m_queue.empty() || (m_queue.size() < QueuedBatches && rows <= QueuedRows);
    });
    job.turn = m_queued++;
    m_queue.push_back(std::move(job));
    lock.unlock();
    m_changed.notify_all();
}

void ThreadedWriter::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitUntil(lock, [this] { return idle(); });
    lock.unlock();
    tell();
}

void ThreadedWriter::tell()
{
    if (m_waitingNow.exchange(false) && m_waiting)
        m_waiting();
    if (!m_hasResults.exchange(false)) // told every row: no lock for nothing
        return;
    Results results;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        results = std::exchange(m_results, {});
    }
    if (!results.isEmpty())
        done(results);
}
