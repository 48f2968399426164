#include "upgrade/WorkerThread.h"

#include "platform/Application.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <deque>
#include <vector>

#if defined(__SANITIZE_THREAD__)
// Qt here is not built for ThreadSanitizer: its mutexes, semaphores and wait conditions sleep
// on futexes the sanitizer cannot see, so what Qt guards with them looks unguarded when two
// threads use it: the receiving thread's posted-event list (grown by whoever posts), a
// QThread's wait condition when it is destroyed, and QtTest's own watchdog thread. These
// entries name only such Qt internals; races in our own code are still reported, which is why
// the hand-off below orders everything it shares with a std::mutex.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:QArrayData::reallocateUnaligned\n"
           "race:QWaitCondition::~QWaitCondition\n"
           "called_from_lib:libQt6Test.so.6\n";
}
#endif

namespace lianbu::upgrade {

namespace {

// The hand-off object and its reference count (one reference per living thread object).
std::mutex windowMutex;
int windowReferences = 0;
UiThreadDispatcher *window = nullptr;
bool postRoutineInstalled = false;

std::atomic<int> livingThreadCount{0};

// Cancelled thread objects whose work has not returned yet. User-interface thread only.
std::vector<std::unique_ptr<WorkerRun>> &cancelledThreads()
{
    static std::vector<std::unique_ptr<WorkerRun>> list;
    return list;
}

// The thread object whose work runs on the calling thread.
thread_local WorkerRun *currentThreadObject = nullptr;

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
    std::vector<std::unique_ptr<WorkerRun>> done;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->finished()) {
            done.push_back(std::move(*it));
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    done.clear(); // ~WorkerRun waits for the last instructions of the ended thread
}

void waitForCancelledAtExit()
{
    WorkerThread::waitForCancelledThreads(-1);
}

// Events of the hand-off object. Each is allocated by the worker before it releases
// handOffMutex, and the handler takes that mutex first, so the event's memory is ordered too.
const QEvent::Type runRoutinesEvent = QEvent::Type(QEvent::registerEventType());
const QEvent::Type threadEndedEvent = QEvent::Type(QEvent::registerEventType());

class ThreadEndedEvent : public QEvent
{
public:
    explicit ThreadEndedEvent(const WorkerRun *thread)
        : QEvent(threadEndedEvent)
        , thread(thread)
    {}
    const WorkerRun *thread; // compared, never dereferenced: it may be gone by now
};

} // namespace

namespace {

// Routines waiting for the user-interface thread. A worker queues itself, posts a call event
// to the hand-off object and waits; every call runs all routines queued by then. Qt's own
// blocking queued connection would do the same, but its semaphore and the call it allocates are
// invisible to the thread sanitizer; here everything shared is ordered by this mutex.
std::mutex handOffMutex;
std::condition_variable handOffDone;
std::deque<WorkerRun *> &handOffQueue()
{
    static std::deque<WorkerRun *> queue;
    return queue;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// UiThreadDispatcher

UiThreadDispatcher::UiThreadDispatcher()
{
    setObjectName(QStringLiteral("UiThreadDispatcher"));
}

UiThreadDispatcher::~UiThreadDispatcher()
{
    // Routines still queued will not run: let their workers go on.
    {
        std::lock_guard lock(handOffMutex);
        for (WorkerRun *thread : handOffQueue())
            thread->m_handOffDone = true;
        handOffQueue().clear();
    }
    handOffDone.notify_all();
}

UiThreadDispatcher *UiThreadDispatcher::instance()
{
    std::lock_guard lock(windowMutex);
    return window;
}

UiThreadDispatcher *UiThreadDispatcher::acquire()
{
    std::lock_guard lock(windowMutex);
    if (!window) {
        window = new UiThreadDispatcher;
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

void UiThreadDispatcher::release()
{
    std::lock_guard lock(windowMutex);
    --windowReferences;
    if (windowReferences == 0 && window) {
        // The hand-off object goes on the user-interface thread, once nobody took it again.
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &UiThreadDispatcher::releaseRequest, Qt::QueuedConnection);
    }
}

void UiThreadDispatcher::releaseRequest()
{
    UiThreadDispatcher *doomed = nullptr;
    {
        std::lock_guard lock(windowMutex);
        if (windowReferences == 0 && window)
            doomed = std::exchange(window, nullptr);
    }
    delete doomed;
}

// ---------------------------------------------------------------------------------------------
// WorkerRun

// Finished QThread objects are kept and started again for later work instead of being
// destroyed: a QThread is joined through Qt's own futex-based wait, which ThreadSanitizer cannot
// see, so destroying one right after its end would be reported as a race on its internals.
// Only as many exist as ever ran at the same time (one current and a few cancelled ones).
class PooledThread : public QThread
{
public:
    PooledThread() { setObjectName(QStringLiteral("WorkerRun")); }

    WorkerRun *job = nullptr; // set on the user-interface thread before start()
    bool inUse = false;       // user-interface thread only

protected:
    void run() override { job->threadProc(); }
};

namespace {

// Never destroyed, for the reason above; the threads in it have all ended at exit.
std::vector<PooledThread *> &threadPool()
{
    static auto *pool = new std::vector<PooledThread *>;
    return *pool;
}

PooledThread *takePooledThread(WorkerRun *job)
{
    PooledThread *thread = nullptr;
    for (PooledThread *candidate : threadPool()) {
        if (!candidate->inUse) {
            thread = candidate;
            break;
        }
    }
    if (!thread) {
        thread = new PooledThread;
        threadPool().push_back(thread);
    }
    thread->inUse = true;
    thread->job = job;
    return thread;
}

} // namespace

WorkerRun::WorkerRun(WorkerThread *owner)
    : m_owner(owner)
    , m_sender(owner)
{
    UiThreadDispatcher::acquire();
    ++livingThreadCount;
}

WorkerRun::~WorkerRun()
{
    if (m_thread) {
        m_thread->wait(); // it has run all its steps; this only waits for Qt's last ones
        // Qt's wait is not an ordering the sanitizer (or the language) promises us: the
        // worker's last store is the end flag, so read it with acquire before going away.
        while (!m_procDone.load(std::memory_order_acquire))
            QThread::yieldCurrentThread();
        m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
        m_thread->job = nullptr;
        m_thread->inUse = false;
    }
    --livingThreadCount;
    UiThreadDispatcher::release();
}

QThread *WorkerRun::thread() const
{
    return m_thread;
}

bool WorkerRun::suspended() const
{
    std::lock_guard lock(m_suspendMutex);
    return m_suspended;
}

void WorkerRun::resume()
{
    {
        std::lock_guard lock(m_suspendMutex);
        m_suspended = false;
    }
    m_suspendChanged.notify_all();
    if (!m_started) {
        // Running from the moment it is started, so a second request right after this one
        // already sees the work as under way.
        m_running.store(true, std::memory_order_release);
        m_started = true;
        m_thread = takePooledThread(this);
        m_thread->start();
    }
}

void WorkerRun::suspend()
{
    std::lock_guard lock(m_suspendMutex);
    m_suspended = true;
}

void WorkerRun::cancel()
{
    {
        std::lock_guard lock(m_suspendMutex);
        m_cancelled.store(true, std::memory_order_release);
        m_terminated.store(true, std::memory_order_release);
    }
    m_suspendChanged.notify_all();
}

void WorkerRun::waitWhileSuspended()
{
    std::unique_lock lock(m_suspendMutex);
    m_suspendChanged.wait(lock, [this] { return !m_suspended || terminated(); });
}

bool WorkerRun::handOffsAllowed() const
{
    // User-interface thread: the owner outlives every thread object that is not cancelled.
    return !cancelled() && m_owner && !m_owner->destroying();
}

void WorkerRun::runHandedOver(const std::function<void()> &routine)
{
    m_capturedError = nullptr;
    if (handOffsAllowed()) {
        try {
            routine();
        } catch (...) {
            m_capturedError = std::current_exception();
        }
    }
}

bool UiThreadDispatcher::event(QEvent *e)
{
    // Workers allocate their events before releasing this mutex: take it before reading one.
    {
        std::lock_guard lock(handOffMutex);
    }
    if (e->type() == runRoutinesEvent) {
        handOff();
        return true;
    }
    if (e->type() == threadEndedEvent) {
        const WorkerRun *ended = static_cast<ThreadEndedEvent *>(e)->thread;
        emit threadEnded(ended);
        // A cancelled thread object goes as soon as its thread has ended.
        auto &list = cancelledThreads();
        const auto found = std::find_if(list.begin(), list.end(), [ended](const auto &t) { return t.get() == ended; });
        if (found != list.end()) {
            std::unique_ptr<WorkerRun> done = std::move(*found);
            list.erase(found);
            done->thread()->wait(); // only Qt's last steps are left
        }
        return true;
    }
    return QObject::event(e);
}

void UiThreadDispatcher::handOff()
{
    for (;;) {
        WorkerRun *thread = nullptr;
        {
            std::lock_guard lock(handOffMutex);
            if (handOffQueue().empty())
                return;
            thread = handOffQueue().front();
            handOffQueue().pop_front();
        }
        thread->runHandedOver(*thread->m_pendingRoutine);
        {
            std::lock_guard lock(handOffMutex);
            thread->m_handOffDone = true;
        }
        handOffDone.notify_all();
    }
}

void WorkerRun::synchronize(const std::function<void()> &routine)
{
    if (onHandOffThread()) {
        runHandedOver(routine);
    } else {
        waitWhileSuspended();
        if (cancelled())
            return;
        UiThreadDispatcher *handOff = UiThreadDispatcher::instance(); // alive: this object holds a reference
        if (!handOff)
            return;
        // A blocking queued call: post, then wait until the user-interface thread has run the
        // routine (in whatever event loop it is in, modal ones included).
        auto *call = new QEvent(runRoutinesEvent);
        {
            std::lock_guard lock(handOffMutex);
            m_pendingRoutine = &routine;
            m_handOffDone = false;
            handOffQueue().push_back(this);
        }
        QCoreApplication::postEvent(handOff, call);
        std::unique_lock lock(handOffMutex);
        handOffDone.wait(lock, [this] { return m_handOffDone; });
        m_pendingRoutine = nullptr;
    }
    if (std::exception_ptr error = std::exchange(m_capturedError, nullptr)) {
        if (!m_handleExceptions.load(std::memory_order_acquire))
            std::rethrow_exception(error);
    }
}

void WorkerRun::runFinish()
{
    // User-interface thread, inside the hand-off (so handOffsAllowed() held when it began).
    WorkerThread *owner = m_owner;
    if (m_onFinish) {
        if (m_handleExceptions.load(std::memory_order_acquire)) {
            try {
                m_onFinish(m_sender);
            } catch (...) {
                if (m_onException && !cancelled() && !owner->destroying())
                    m_onException(m_sender, std::current_exception());
            }
        } else {
            m_onFinish(m_sender);
        }
    }
    if (m_freeWhenDone && !cancelled() && !owner->destroying()) {
        // A fresh thread object for the component, and the component's parent goes.
        owner->replaceThread();
        if (QObject *parent = owner->parent())
            parent->deleteLater();
    }
}

void WorkerRun::threadProc()
{
    currentThreadObject = this;
    m_running.store(true, std::memory_order_release);
    std::exception_ptr uncaught;
    try {
        if (m_onExecute && !cancelled()) {
            if (m_handleExceptions.load(std::memory_order_acquire)) {
                try {
                    m_onExecute(*this);
                } catch (...) {
                    const std::exception_ptr error = std::current_exception();
                    synchronize([this, error] {
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
            synchronize([this] { runFinish(); });
    } catch (...) {
        if (!uncaught)
            uncaught = std::current_exception();
    }
    if (uncaught)
        qWarning("WorkerRun: the work ended with an error: %s", qUtf8Printable(exceptionText(uncaught)));
    currentThreadObject = nullptr;
    m_handOffFence.fetch_add(1, std::memory_order_acq_rel);
    // Tell the user-interface thread, while this object (and so the hand-off object) lives.
    if (UiThreadDispatcher *handOff = UiThreadDispatcher::instance()) {
        auto *ended = new ThreadEndedEvent(this);
        {
            std::lock_guard lock(handOffMutex);
        }
        QCoreApplication::postEvent(handOff, ended);
    }
    m_procDone.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// WorkerThread

WorkerThread::WorkerThread(QObject *parent)
    : QObject(parent)
{
    m_thread = createThreadObject();
}

WorkerThread::~WorkerThread()
{
    beginDestroy();
    if (m_thread->started() && !m_thread->finished())
        replaceThread();
    retire(std::move(m_thread));
}

std::unique_ptr<WorkerRun> WorkerThread::createThreadObject()
{
    std::unique_ptr<WorkerRun> thread(new WorkerRun(this));
    thread->m_onExecute = onExecute;
    thread->m_onFinish = onFinish;
    thread->m_onException = onException;
    thread->m_handleExceptions.store(m_handleExceptions, std::memory_order_release);
    return thread;
}

void WorkerThread::retire(std::unique_ptr<WorkerRun> thread)
{
    if (!thread)
        return;
    if (!thread->started() || thread->finished()) {
        thread.reset(); // nothing runs (any more): release it now
        return;
    }
    thread->cancel();
    cancelledThreads().push_back(std::move(thread));
}

void WorkerThread::replaceThread()
{
    std::unique_ptr<WorkerRun> fresh = createThreadObject();
    std::unique_ptr<WorkerRun> old = std::exchange(m_thread, std::move(fresh));
    retire(std::move(old));
    if (!m_startSuspended && !m_destroying)
        m_thread->resume();
}

void WorkerThread::beginDestroy()
{
    m_destroying = true;
}

void WorkerThread::setHandleExceptions(bool value)
{
    m_handleExceptions = value;
    m_thread->m_handleExceptions.store(value, std::memory_order_release);
}

void WorkerThread::setStartSuspended(bool value)
{
    m_startSuspended = value;
    if (value)
        m_thread->suspend();
    else
        m_thread->resume();
}

bool WorkerThread::execute()
{
    // A fresh thread object: whatever the previous one still does is cancelled.
    std::unique_ptr<WorkerRun> fresh = createThreadObject();
    fresh->m_freeWhenDone = m_freeOwnerOnTerminate;
    retire(std::exchange(m_thread, std::move(fresh)));

    WorkerRun *started = m_thread.get();
    started->resume();
    if (!m_waitForFinish)
        return true;

    QPointer<WorkerThread> self(this);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool expired = false;
    connect(UiThreadDispatcher::instance(), &UiThreadDispatcher::threadEnded, &loop,
            [&loop, started](const WorkerRun *ended) {
                if (ended == started)
                    loop.quit();
            });
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
    if (!started->finished())
        loop.exec();

    if (!self || m_destroying || QCoreApplication::closingDown())
        return true;
    if (expired && m_thread.get() == started && !started->finished()) {
        replaceThread();
        if (onWaitTimeoutExpired)
            onWaitTimeoutExpired(this);
        return false;
    }
    return true;
}

void WorkerThread::synchronize(const std::function<void()> &routine)
{
    if (WorkerRun *thread = currentThreadObject) {
        thread->synchronize(routine);
        return;
    }
    if (onHandOffThread())
        routine();
}

void WorkerThread::terminate(bool force)
{
    if (force)
        replaceThread();
    else
        m_thread->m_terminated.store(true, std::memory_order_release);
}

void WorkerThread::suspend()
{
    m_thread->suspend();
}

void WorkerThread::resume()
{
    m_thread->resume();
}

bool WorkerThread::running() const
{
    return m_thread->running();
}

bool WorkerThread::suspended() const
{
    return m_thread->suspended();
}

int WorkerThread::livingThreadObjects()
{
    return livingThreadCount.load();
}

bool WorkerThread::waitForCancelledThreads(int msecs)
{
    QDeadlineTimer deadline = msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
    for (;;) {
        reapCancelledThreads();
        if (cancelledThreads().empty())
            return true;
        if (deadline.hasExpired())
            return false;
        // A cancelled worker may wait in a hand-off: let it through (its routine is skipped).
        if (UiThreadDispatcher *handOff = UiThreadDispatcher::instance())
            QCoreApplication::sendPostedEvents(handOff, 0);
        QThread::msleep(2);
    }
}

} // namespace lianbu::upgrade
