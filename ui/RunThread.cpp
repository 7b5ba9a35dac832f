#include "ui/RunThread.h"

#include "app/ErrorReport.h"

#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

struct RunThread::Shared {
    std::atomic<bool> stop{false};
    std::atomic<bool> abandoned{false};
    std::mutex mutex;
    std::condition_variable answered;
    std::function<void()> cancel; // the run's read, while it goes (under the mutex)

    // Asks for the stop, and ends the read that may be waiting.
    void stopNow()
    {
        stop = true;
        const std::lock_guard<std::mutex> lock(mutex);
        if (cancel)
            cancel();
    }
};

namespace
{

using Shared = RunThread::Shared;

// Runs `call` on `context`'s thread after what was posted before it; never
// once `context` is gone.
void post(QObject& context, std::function<void()> call)
{
    QMetaObject::invokeMethod(&context, std::move(call), Qt::QueuedConnection);
}

// Runs `call` on the window's thread and waits for its value; `fallback`
// where the window is going (or gone) before it answered.
template <class T>
T ask(QObject& window, const std::shared_ptr<Shared>& shared, std::function<T()> call, T fallback)
{
    struct Answer {
        bool given = false;
        std::optional<T> value;
    };
    auto answer = std::make_shared<Answer>();
    post(window, [shared, answer, call] {
        std::optional<T> value;
        if (!shared->abandoned)
            value = call();
        const std::lock_guard<std::mutex> lock(shared->mutex);
        answer->value = std::move(value);
        answer->given = true;
        shared->answered.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->answered.wait(lock, [&] { return answer->given || shared->abandoned; });
    return answer->given && answer->value ? *answer->value : fallback;
}

// The window's side of a run, told from the run's thread.
class RelayedObserver : public ChangeRunObserver
{
public:
    RelayedObserver(QObject& window, ChangeRunObserver& target, std::shared_ptr<Shared> shared)
        : m_window(window), m_target(target), m_shared(std::move(shared))
    {
    }

    void setMousePointer(MousePointer pointer) override
    {
        tell([pointer](ChangeRunObserver& t) { t.setMousePointer(pointer); });
    }
    void setProgress(double percent) override
    {
        tell([percent](ChangeRunObserver& t) { t.setProgress(percent); });
    }
    void showReading() override
    {
        tell([](ChangeRunObserver& t) { t.showReading(); });
    }
    void showWriting(int done, int total) override
    {
        tell([done, total](ChangeRunObserver& t) { t.showWriting(done, total); });
    }
    void showWaiting() override
    {
        tell([](ChangeRunObserver& t) { t.showWaiting(); });
    }
    void clearPreview() override
    {
        tell([](ChangeRunObserver& t) { t.clearPreview(); });
    }
    void addPreviewEntry(const QString& text) override
    {
        tell([text](ChangeRunObserver& t) { t.addPreviewEntry(text); });
    }
    // The window takes what is pending (a click on Stop, say) before the
    // run goes on.
    void letEventsRun() override
    {
        ask<bool>(
            m_window, m_shared, [] { return true; }, false);
    }
    bool stopRequested() const override { return m_shared->stop || m_shared->abandoned; }
    void setCanceller(std::function<void()> cancel) override
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->cancel = std::move(cancel);
    }

private:
    template <class Call> void tell(Call call)
    {
        ChangeRunObserver* target = &m_target;
        post(m_window, [target, call] { call(*target); });
    }

    QObject& m_window;
    ChangeRunObserver& m_target;
    std::shared_ptr<Shared> m_shared;
};

// The window's boxes, asked from the run's thread, which waits for the
// answer; an abandoned question takes `fallback`.
class RelayedInteraction : public Interaction
{
public:
    RelayedInteraction(QObject& window, Interaction& target, std::shared_ptr<Shared> shared)
        : m_window(window), m_target(target), m_shared(std::move(shared))
    {
    }

    std::optional<QString> inputBox(const QString& prompt, const QString& title) override
    {
        return ask<std::optional<QString>>(
            [prompt, title](Interaction& ui) { return ui.inputBox(prompt, title); }, std::nullopt);
    }
    void messageBox(const QString& text, const QString& title) override
    {
        show([text, title](Interaction& ui) { ui.messageBox(text, title); });
    }
    void messageBox(const QString& text, const QString& title, const QString& details) override
    {
        show([text, title, details](Interaction& ui) { ui.messageBox(text, title, details); });
    }
    bool questionBox(const QString& text, const QString& title) override
    {
        return ask<bool>([text, title](Interaction& ui) { return ui.questionBox(text, title); },
                         false);
    }
    void warningBox(const QString& text, const QString& title) override
    {
        show([text, title](Interaction& ui) { ui.warningBox(text, title); });
    }

private:
    // A box that only informs: the run waits until it is closed.
    void show(const std::function<void(Interaction&)>& box)
    {
        ask<bool>(
            [box](Interaction& ui) {
                box(ui);
                return true;
            },
            false);
    }

    template <class T> T ask(std::function<T(Interaction&)> call, T fallback)
    {
        Interaction* target = &m_target;
        return ::ask<T>(
            m_window, m_shared, [target, call] { return call(*target); }, fallback);
    }

    QObject& m_window;
    Interaction& m_target;
    std::shared_ptr<Shared> m_shared;
};

} // namespace

RunThread::RunThread(QObject& window, ChangeRunObserver& observer, Interaction& ui)
    : m_window(window), m_observer(observer), m_ui(ui), m_shared(std::make_shared<Shared>())
{
}

RunThread::~RunThread()
{
    abandon();
    wait();
}

void RunThread::start(Work work)
{
    wait();
    m_shared = std::make_shared<Shared>();
    auto observer = std::make_shared<RelayedObserver>(m_window, m_observer, m_shared);
    auto ui = std::make_shared<RelayedInteraction>(m_window, m_ui, m_shared);
    m_thread = std::thread([this, work = std::move(work), observer, ui] {
        try {
            work(*observer, *ui);
        } catch (const std::exception& error) { // what the work did not report itself
            ui->warningBox(ErrorReport::DescriptionOf(error), ErrorReport::Title);
        }
        post(*this, [this] {
            wait();
            emit finished();
        });
    });
}

void RunThread::requestStop()
{
    m_shared->stopNow();
}

void RunThread::abandon()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->abandoned = true;
        m_shared->answered.notify_all();
    }
    m_shared->stopNow();
}

void RunThread::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
