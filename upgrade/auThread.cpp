#include "upgrade/auThread.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <vector>

namespace lianbu {

namespace {

// The hand-off object and its reference count (one reference per living thread object).
std::mutex windowMutex;
int windowReferences = 0;
TauThreadWindow *window = nullptr;
bool postRoutineInstalled = false;

std::atomic<int> livingThreadObjects{0};

// Cancelled thread objects whose work has not returned yet. User-interface thread only.
std::vector<std::unique_ptr<TauEventThread>> &cancelledThreads()
{
    static std::vector<std::unique_ptr<TauEventThread>> list;
    return list;
}

// The thread object whose work runs on the calling thread.
thread_local TauEventThread *currentThreadObject = nullptr;

QThread::Priority toQtPriority(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return QThread::IdlePriority;
    case tpLowest: return QThread::LowestPriority;
    case tpLower: return QThread::LowPriority;
    case tpNormal: return QThread::NormalPriority;
    case tpHigher: return QThread::HighPriority;
    case tpHighest: return QThread::HighestPriority;
    case tpTimeCritical: return QThread::TimeCriticalPriority;
    }
    return QThread::NormalPriority;
}

bool onHandOffThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void reapCancelledThreads()
{
    auto &list = cancelledThreads();
    // Collect first: releasing a thread object may post and run nothing, but keep the list
    // stable while we walk it.
    std::vector<std::unique_ptr<TauEventThread>> done;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->Finished()) {
            done.push_back(std::move(*it));
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    done.clear(); // ~TauEventThread waits for the last instructions of the ended thread
}

void waitForCancelledAtExit() { TauCustomThread::WaitForCancelledThreads(-1); }

} // namespace

int threadPriorityToOs(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return -15;
    case tpLowest: return -2;
    case tpLower: return -1;
    case tpNormal: return 0;
    case tpHigher: return 1;
    case tpHighest: return 2;
    case tpTimeCritical: return 15;
    }
    return 0;
}

TThreadPriority threadPriorityFromOs(int osPriority)
{
    switch (osPriority) {
    case -15: return tpIdle;
    case -2: return tpLowest;
    case -1: return tpLower;
    case 1: return tpHigher;
    case 2: return tpHighest;
    case 15: return tpTimeCritical;
    default: return tpNormal;
    }
}

QString exceptionMessage(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

// ---------------------------------------------------------------------------------------------
// TauThreadWindow

TauThreadWindow::TauThreadWindow()
{
    setObjectName(QStringLiteral("TauThreadWindow"));
}

TauThreadWindow::~TauThreadWindow() = default;

TauThreadWindow *TauThreadWindow::instance()
{
    std::lock_guard lock(windowMutex);
    return window;
}

TauThreadWindow *TauThreadWindow::acquire()
{
    std::lock_guard lock(windowMutex);
    if (!window) {
        window = new TauThreadWindow;
        if (QCoreApplication *app = QCoreApplication::instance()) {
            if (window->thread() != app->thread())
                window->moveToThread(app->thread());
            if (!postRoutineInstalled) {
                postRoutineInstalled = true;
                qAddPostRoutine(waitForCancelledAtExit);
            }
        }
    }
    ++windowReferences;
    return window;
}

void TauThreadWindow::release()
{
    std::lock_guard lock(windowMutex);
    --windowReferences;
    if (windowReferences == 0 && window) {
        // The hand-off object goes on the user-interface thread, once nobody took it again.
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &TauThreadWindow::releaseRequest, Qt::QueuedConnection);
    }
}

void TauThreadWindow::releaseRequest()
{
    TauThreadWindow *doomed = nullptr;
    {
        std::lock_guard lock(windowMutex);
        if (windowReferences == 0 && window)
            doomed = std::exchange(window, nullptr);
    }
    delete doomed;
}

// ---------------------------------------------------------------------------------------------
// TauEventThread

class TauEventThread::Runner : public QThread
{
public:
    explicit Runner(TauEventThread *owner) : m_owner(owner) {}

protected:
    void run() override { m_owner->ThreadProc(); }

private:
    TauEventThread *m_owner;
};

TauEventThread::TauEventThread(TauCustomThread *owner)
    : m_thread(std::make_unique<Runner>(this)), m_owner(owner), m_sender(owner)
{
    m_thread->setObjectName(QStringLiteral("TauEventThread"));
    TauThreadWindow *handOff = TauThreadWindow::acquire();
    ++livingThreadObjects;
    // A cancelled thread object is released as soon as its thread has ended.
    QObject::connect(m_thread.get(), &QThread::finished, handOff, &reapCancelledThreads,
                     Qt::QueuedConnection);
}

TauEventThread::~TauEventThread()
{
    if (m_started) {
        m_thread->wait();
        m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
    }
    m_thread.reset();
    --livingThreadObjects;
    TauThreadWindow::release();
}

bool TauEventThread::Suspended() const
{
    std::lock_guard lock(m_suspendMutex);
    return m_suspended;
}

void TauEventThread::Resume()
{
    {
        std::lock_guard lock(m_suspendMutex);
        m_suspended = false;
    }
    m_suspendChanged.notify_all();
    if (!m_started) {
        m_started = true;
        m_thread->start(toQtPriority(m_priority));
    }
}

void TauEventThread::Suspend()
{
    std::lock_guard lock(m_suspendMutex);
    m_suspended = true;
}

void TauEventThread::SetPriority(TThreadPriority priority)
{
    m_priority = priority;
    if (m_started && m_thread->isRunning())
        m_thread->setPriority(toQtPriority(priority));
}

void TauEventThread::Cancel()
{
    {
        std::lock_guard lock(m_suspendMutex);
        m_cancelled.store(true, std::memory_order_release);
        m_terminated.store(true, std::memory_order_release);
    }
    m_suspendChanged.notify_all();
}

void TauEventThread::WaitWhileSuspended()
{
    std::unique_lock lock(m_suspendMutex);
    m_suspendChanged.wait(lock, [this] { return !m_suspended || Terminated(); });
}

bool TauEventThread::HandOffsAllowed() const
{
    // User-interface thread: the owner outlives every thread object that is not cancelled.
    return !Cancelled() && m_owner && !m_owner->Destroying();
}

void TauEventThread::RunHandedOver(const std::function<void()> &routine)
{
    m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
    m_capturedError = nullptr;
    if (HandOffsAllowed()) {
        try {
            routine();
        } catch (...) {
            m_capturedError = std::current_exception();
        }
    }
    m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
}

void TauEventThread::Synchronize(const std::function<void()> &routine)
{
    if (onHandOffThread()) {
        RunHandedOver(routine);
    } else {
        WaitWhileSuspended();
        if (Cancelled())
            return;
        TauThreadWindow *handOff = TauThreadWindow::instance(); // alive: this object holds a reference
        if (!handOff)
            return;
        m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
        QMetaObject::invokeMethod(
            handOff, [this, &routine] { RunHandedOver(routine); }, Qt::BlockingQueuedConnection);
        m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
    }
    if (std::exception_ptr error = std::exchange(m_capturedError, nullptr)) {
        if (!m_handleExceptions.load(std::memory_order_acquire))
            std::rethrow_exception(error);
    }
}

void TauEventThread::RunFinish()
{
    // User-interface thread, inside the hand-off (so HandOffsAllowed() held when it began).
    TauCustomThread *owner = m_owner;
    if (m_onFinish) {
        if (m_handleExceptions.load(std::memory_order_acquire)) {
            try {
                m_onFinish(m_sender);
            } catch (...) {
                if (m_onException && !Cancelled() && !owner->Destroying())
                    m_onException(m_sender, std::current_exception());
            }
        } else {
            m_onFinish(m_sender);
        }
    }
    if (m_freeWhenDone && !Cancelled() && !owner->Destroying()) {
        // A fresh thread object for the component, and the component's parent goes.
        owner->ReplaceThread();
        if (QObject *parent = owner->parent())
            parent->deleteLater();
    }
}

void TauEventThread::ThreadProc()
{
    currentThreadObject = this;
    m_running.store(true, std::memory_order_release);
    std::exception_ptr uncaught;
    try {
        if (m_onExecute && !Cancelled()) {
            if (m_handleExceptions.load(std::memory_order_acquire)) {
                try {
                    m_onExecute(*this);
                } catch (...) {
                    const std::exception_ptr error = std::current_exception();
                    Synchronize([this, error] {
                        if (m_onException)
                            m_onException(m_sender, error);
                    });
                }
            } else {
                m_onExecute(*this);
            }
        }
    } catch (...) {
        uncaught = std::current_exception();
    }

    m_running.store(false, std::memory_order_release);
    try {
        if (m_onFinish || m_freeWhenDone)
            Synchronize([this] { RunFinish(); });
    } catch (...) {
        if (!uncaught)
            uncaught = std::current_exception();
    }
    if (uncaught)
        qWarning("TauEventThread: the work ended with an error: %s",
                 qUtf8Printable(exceptionMessage(uncaught)));
    currentThreadObject = nullptr;
    m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
    m_procDone.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// TauCustomThread

TauCustomThread::TauCustomThread(QObject *parent) : QObject(parent)
{
    m_thread = CreateThreadObject();
}

TauCustomThread::~TauCustomThread()
{
    BeginDestroy();
    if (m_thread->Started() && !m_thread->Finished())
        ReplaceThread();
    Retire(std::move(m_thread));
}

std::unique_ptr<TauEventThread> TauCustomThread::CreateThreadObject()
{
    std::unique_ptr<TauEventThread> thread(new TauEventThread(this));
    thread->m_onExecute = OnExecute;
    thread->m_onFinish = OnFinish;
    thread->m_onException = OnException;
    thread->m_handleExceptions.store(m_handleExceptions, std::memory_order_release);
    return thread;
}

void TauCustomThread::Retire(std::unique_ptr<TauEventThread> thread)
{
    if (!thread)
        return;
    if (!thread->Started() || thread->Finished()) {
        thread.reset(); // nothing runs (any more): release it now
        return;
    }
    thread->Cancel();
    cancelledThreads().push_back(std::move(thread));
}

void TauCustomThread::ReplaceThread()
{
    std::unique_ptr<TauEventThread> fresh = CreateThreadObject();
    fresh->m_priority = m_thread->m_priority;
    std::unique_ptr<TauEventThread> old = std::exchange(m_thread, std::move(fresh));
    Retire(std::move(old));
    if (!m_startSuspended && !m_destroying)
        m_thread->Resume();
}

void TauCustomThread::BeginDestroy()
{
    m_destroying = true;
}

void TauCustomThread::setHandleExceptions(bool value)
{
    m_handleExceptions = value;
    m_thread->m_handleExceptions.store(value, std::memory_order_release);
}

void TauCustomThread::setStartSuspended(bool value)
{
    m_startSuspended = value;
    if (value)
        m_thread->Suspend();
    else
        m_thread->Resume();
}

TThreadPriority TauCustomThread::Priority() const
{
    return m_thread->Priority();
}

void TauCustomThread::setPriority(TThreadPriority priority)
{
    m_thread->SetPriority(priority);
}

bool TauCustomThread::Execute()
{
    // A fresh thread object: whatever the previous one still does is cancelled.
    std::unique_ptr<TauEventThread> fresh = CreateThreadObject();
    fresh->m_priority = m_thread->m_priority;
    fresh->m_freeWhenDone = m_freeOwnerOnTerminate;
    Retire(std::exchange(m_thread, std::move(fresh)));

    TauEventThread *started = m_thread.get();
    QPointer<QThread> worker(started->thread());
    started->Resume();
    if (!m_waitForFinish)
        return true;

    QPointer<TauCustomThread> self(this);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool expired = false;
    connect(worker.data(), &QThread::finished, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    if (m_waitTimeout > 0) {
        connect(&timer, &QTimer::timeout, &loop, [&] {
            expired = true;
            loop.quit();
        });
        timer.start(std::chrono::milliseconds(m_waitTimeout));
    }
    // The thread may have ended before the connection was made.
    if (!started->Finished())
        loop.exec();

    if (!self || m_destroying || QCoreApplication::closingDown())
        return true;
    if (expired && m_thread.get() == started && !started->Finished()) {
        ReplaceThread();
        if (OnWaitTimeoutExpired)
            OnWaitTimeoutExpired(this);
        return false;
    }
    return true;
}

void TauCustomThread::Synchronize(const std::function<void()> &routine)
{
    if (TauEventThread *thread = currentThreadObject) {
        thread->Synchronize(routine);
        return;
    }
    if (onHandOffThread())
        routine();
}

void TauCustomThread::Terminate(bool force)
{
    if (force)
        ReplaceThread();
    else
        m_thread->m_terminated.store(true, std::memory_order_release);
}

void TauCustomThread::Suspend()
{
    m_thread->Suspend();
}

void TauCustomThread::Resume()
{
    m_thread->Resume();
}

bool TauCustomThread::Running() const
{
    return m_thread->Running();
}

bool TauCustomThread::Suspended() const
{
    return m_thread->Suspended();
}

int TauCustomThread::LivingThreadObjects()
{
    return livingThreadObjects.load();
}

bool TauCustomThread::WaitForCancelledThreads(int msecs)
{
    QDeadlineTimer deadline = msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(msecs);
    for (;;) {
        reapCancelledThreads();
        if (cancelledThreads().empty())
            return true;
        if (deadline.hasExpired())
            return false;
        // A cancelled worker may wait in a hand-off: let it through (its routine is skipped).
        if (TauThreadWindow *handOff = TauThreadWindow::instance())
            QCoreApplication::sendPostedEvents(handOff, QEvent::MetaCall);
        QThread::msleep(2);
    }
}

} // namespace lianbu
