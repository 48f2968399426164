#pragma once

// The upgrader's worker-thread component: runs one piece of work at a time on a QThread and
// hands routines over to the user-interface thread, blocking the worker until they have run.
//
// The hand-off is a blocking queued call to one hidden QObject per process (UiThreadDispatcher)
// that lives on the user-interface thread: the worker posts an event to it and waits on a
// condition variable until the routine has run. Posted events are delivered by every event
// loop, so a handed-over routine also runs inside nested loops (modal dialogs, message boxes)
// and may itself open a modal window. (Qt::BlockingQueuedConnection does the same, but its
// semaphore is invisible to the thread sanitizer; a std::mutex orders everything shared here.)
//
// Cancelling never kills a thread: the old thread object is told to stop (Terminated()), every
// hand-off it would still make is suppressed, and it releases itself when its work returns.
// A new Execute starts a fresh thread object at once.

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace lianbu::upgrade {

class WorkerThread;
class WorkerRun;
class PooledThread;

using NotifyHandler = std::function<void(QObject *sender)>;
// Runs on the worker thread. The work must touch only its own data; it talks to the
// user-interface thread through thread.Synchronize and may poll thread.Terminated().
using ThreadWork = std::function<void(WorkerRun &thread)>;
// Runs on the user-interface thread with the error the work (or onFinish) raised.
using ExceptionHandler = std::function<void(QObject *sender, std::exception_ptr error)>;

// One operating-system thread running one piece of work. Created (suspended) and owned by a
// WorkerThread; replaced by a fresh one on every Execute.
class WorkerRun
{
public:
    ~WorkerRun();
    WorkerRun(const WorkerRun &) = delete;
    WorkerRun &operator=(const WorkerRun &) = delete;

    // Hands routine over to the user-interface thread and waits until it has run there.
    // Called on the user-interface thread itself, it runs the routine directly. Does nothing
    // once this thread object has been replaced (cancelled) or its component is going away.
    // An error raised by the routine is captured; with handleExceptions off it is raised again
    // here on the calling thread, otherwise it is discarded.
    void synchronize(const std::function<void()> &routine);

    // A request to stop that the work may poll; set when the thread object is replaced.
    bool terminated() const { return m_terminated.load(std::memory_order_acquire); }
    // True once the thread object has been replaced: its hand-offs are suppressed.
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    // True while the thread procedure runs the work.
    bool running() const { return m_running.load(std::memory_order_acquire); }
    bool suspended() const;
    bool started() const { return m_started; }
    // True once the thread procedure has run all its steps (the finish hand-off included).
    bool finished() const { return m_procDone.load(std::memory_order_acquire); }
    // The thread's return value (set by the work; read after the thread ended).
    int returnValue() const { return m_returnValue.load(std::memory_order_acquire); }
    void setReturnValue(int value) { m_returnValue.store(value, std::memory_order_release); }
    // The operating-system thread (null until the thread object is started).
    QThread *thread() const;

private:
    friend class WorkerThread;
    friend class UiThreadDispatcher;
    friend class PooledThread;

    explicit WorkerRun(WorkerThread *owner);

    void resume();  // starts the thread, or lets a paused worker go on
    void suspend(); // a thread not yet started stays so; a running one pauses at its next hand-off
    void cancel();  // told to stop; hand-offs suppressed from now on
    void waitWhileSuspended();
    void threadProc();                                        // the worker thread's procedure
    void runHandedOver(const std::function<void()> &routine); // on the user-interface thread
    void runFinish();                                         // on the user-interface thread
    bool handOffsAllowed() const;

    PooledThread *m_thread = nullptr; // taken from the pool when started
    WorkerThread *m_owner;            // only dereferenced on the user-interface thread, while not cancelled
    QObject *m_sender;                // the component, passed as Sender

    ThreadWork m_onExecute;
    ExceptionHandler m_onException;
    NotifyHandler m_onFinish;
    std::atomic<bool> m_handleExceptions{true};
    bool m_freeWhenDone = false;
    bool m_started = false;

    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_procDone{false}; // the thread procedure has finished all its steps
    std::atomic<int> m_returnValue{0};

    mutable std::mutex m_suspendMutex;
    std::condition_variable m_suspendChanged;
    bool m_suspended = true;

    // Passed between the two threads only while the worker waits in Synchronize (ordered by
    // the hand-off queue's mutex); the counter orders the last accesses before release.
    const std::function<void()> *m_pendingRoutine = nullptr; // guarded by the hand-off queue's mutex
    bool m_handOffDone = false;                              // the same
    std::exception_ptr m_capturedError;
    std::atomic<unsigned> m_handOffFence{0};
};

// The component that owns the current thread object and starts work on it.
class WorkerThread : public QObject
{
    Q_OBJECT
public:
    explicit WorkerThread(QObject *parent = nullptr);
    ~WorkerThread() override;

    // The work (worker thread), the finish routine and the error routine (user-interface thread).
    ThreadWork onExecute;
    NotifyHandler onFinish;
    ExceptionHandler onException;
    // Runs when Execute's wait with waitForFinish ran out of waitTimeout.
    NotifyHandler onWaitTimeoutExpired;

    // Catch errors raised by the work and by handed-over routines (default true).
    bool handleExceptions() const { return m_handleExceptions; }
    void setHandleExceptions(bool value);
    // Execute waits for the work to end, keeping the event loop running (default false).
    bool waitForFinish() const { return m_waitForFinish; }
    void setWaitForFinish(bool value) { m_waitForFinish = value; }
    // Longest wait of Execute with waitForFinish, in milliseconds; 0 = no limit.
    unsigned waitTimeout() const { return m_waitTimeout; }
    void setWaitTimeout(unsigned milliseconds) { m_waitTimeout = milliseconds; }
    // A suspended thread object waits for Execute / Resume (default true).
    bool startSuspended() const { return m_startSuspended; }
    void setStartSuspended(bool value);
    // After the work: release the thread object, and after onFinish give the component a fresh
    // thread object and release the component's parent (default false).
    bool freeOwnerOnTerminate() const { return m_freeOwnerOnTerminate; }
    void setFreeOwnerOnTerminate(bool value) { m_freeOwnerOnTerminate = value; }

    // Replaces the thread object by a fresh one and starts the work on it. Without
    // waitForFinish returns true at once. With it, processes events until the work has ended
    // (true), the component is destroyed or the application quits (true), or waitTimeout ran
    // out (the work is cancelled, onWaitTimeoutExpired runs, false).
    bool execute();
    // Hands a routine over to the user-interface thread from the current worker thread (the
    // one running this component's work); on the user-interface thread runs it directly.
    void synchronize(const std::function<void()> &routine);
    // force: cancel the work (replace the thread object); otherwise only ask it to stop.
    void terminate(bool force = false);
    void suspend();
    void resume();
    // True while the current thread object runs the work.
    bool running() const;
    bool suspended() const;
    // The current thread object (never null).
    WorkerRun &currentRun() const { return *m_thread; }

    // Cancels the running work at once: a fresh, suspended thread object with the same
    // priority and handlers takes the old one's place; the old one is told to stop, its
    // hand-offs are suppressed, and it releases itself when its work returns.
    void replaceThread();
    // Marks the component as going away: no hand-off of any of its thread objects runs from
    // now on. Owners call this first in their destructor.
    void beginDestroy();
    bool destroying() const { return m_destroying; }

    // Tests and shutdown: the number of thread objects alive (current and cancelled ones).
    static int livingThreadObjects();
    // Waits (processing hand-off requests) until every cancelled thread object has ended and
    // been released; false when msecs ran out first. Negative msecs = no limit.
    static bool waitForCancelledThreads(int msecs = -1);

private:
    friend class WorkerRun;
    std::unique_ptr<WorkerRun> createThreadObject();
    static void retire(std::unique_ptr<WorkerRun> thread);

    std::unique_ptr<WorkerRun> m_thread;
    bool m_handleExceptions = true;
    bool m_waitForFinish = false;
    unsigned m_waitTimeout = 0;
    bool m_startSuspended = true;
    bool m_freeOwnerOnTerminate = false;
    bool m_destroying = false;
};

// The hidden hand-off object: one per process on the user-interface thread, created by the
// first living thread object and destroyed (through a posted release request) after the last
// one is released.
class UiThreadDispatcher : public QObject
{
    Q_OBJECT
public:
    // The current hand-off object, or null when none exists.
    static UiThreadDispatcher *instance();

signals:
    // A thread object's thread has run all its steps (the pointer is only for comparing).
    void threadEnded(const lianbu::upgrade::WorkerRun *threadObject);

protected:
    bool event(QEvent *e) override;

private:
    void handOff(); // runs the routines workers queued
    friend class WorkerRun;
    friend class WorkerThread;
    UiThreadDispatcher();
    ~UiThreadDispatcher() override;
    static UiThreadDispatcher *acquire();
    static void release();
    static void releaseRequest();
};

} // namespace lianbu::upgrade
