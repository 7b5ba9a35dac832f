#pragma once

#include "app/Interaction.h"
#include "change/ChangeRun.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>

// A change run or an undo on a thread of its own, while the window stays
// live. What the work tells (pointer, progress, status, preview) reaches the
// window through queued calls, in the order told; what it asks (prompts and
// boxes) the window shows while only the work waits for the answer. The
// work ends with finished(), on the window's thread.
class RunThread : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<void(ChangeRunObserver& observer, Interaction& ui)>;

    // `window` receives the calls (and their context: none reaches it once
    // it is gone); `observer` and `ui` are its own, used on its thread only.
    RunThread(QObject& window, ChangeRunObserver& observer, Interaction& ui);
    // Abandons what is asked and waits for the work to end.
    ~RunThread() override;
    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;

    void start(Work work);

    // The work ends at its next row (the run's own stop), or at once where it
    // waits for its read.
    void requestStop();
    // The window is going: a question not yet answered takes its default
    // (Cancel, No), and none is shown from now on; the work stops.
    void abandon();
    // Waits for the work's thread to end.
    void wait();

signals:
    void finished();

public:
    struct Shared;

private:
    QObject& m_window;
    ChangeRunObserver& m_observer;
    Interaction& m_ui;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};
