// The worker-thread component: hand-off to the user-interface thread (also inside modal
// dialogs), errors, finishing, waiting, cancelling by replacement, priorities and the
// hand-off object's life.

#include "platform/Application.h"
#include "upgrade/WorkerThread.h"

#include "platform/Error.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

using namespace lianbu;
using namespace lianbu::upgrade;

namespace {

bool onUiThread()
{
    return QThread::currentThread() == qApp->thread();
}

// Spins until stop is asked for or the safety limit passes; true when it was asked to stop.
bool workUntilTerminated(WorkerRun &thread, int limitMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!thread.terminated() && clock.elapsed() < limitMs)
        QThread::msleep(2);
    return thread.terminated();
}

} // namespace

class TestUpgradeThread : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(WorkerThread::waitForCancelledThreads(5000)); }

    void handOffRunsOnTheUiThreadAndBlocksTheWorker()
    {
        WorkerThread component;
        std::atomic<bool> workOnWorker{false};
        std::atomic<int> afterHandOff{-1};
        bool routineOnUi = false;
        bool runningDuringFinish = true;
        bool finishOnUi = false;
        int finishCount = 0;
        int value = 0; // written by the routine, read by the worker after the hand-off

        component.onExecute = [&](WorkerRun &thread) {
            workOnWorker = !onUiThread();
            thread.synchronize([&] {
                routineOnUi = onUiThread();
                value = 42;
            });
            afterHandOff = value;
            thread.setReturnValue(7);
        };
        component.onFinish = [&](QObject *sender) {
            QCOMPARE(sender, &component);
            finishOnUi = onUiThread();
            runningDuringFinish = component.running();
            ++finishCount;
        };
        QVERIFY(component.execute());
        QTRY_COMPARE_WITH_TIMEOUT(finishCount, 1, 5000);
        QVERIFY(workOnWorker);
        QVERIFY(routineOnUi);
        QCOMPARE(afterHandOff.load(), 42);
        QVERIFY(finishOnUi);
        QVERIFY(!runningDuringFinish); // the work counts as ended while onFinish runs
        QTRY_VERIFY(component.currentRun().finished());
        QCOMPARE(component.currentRun().returnValue(), 7);
    }

    void handOffRunsInsideAModalDialog()
    {
        WorkerThread component;
        QDialog dialog;
        QDialog *activeDuringRoutine = nullptr;
        std::atomic<bool> workerPassed{false};
        bool workerWaitedForNestedDialog = false;
        bool finished = false;

        component.onExecute = [&](WorkerRun &thread) {
            thread.synchronize([&] {
                activeDuringRoutine = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                // The routine itself opens a modal dialog; the worker stays blocked meanwhile.
                QDialog nested;
                QTimer::singleShot(20, &nested, [&] {
                    workerWaitedForNestedDialog = !workerPassed.load();
                    nested.accept();
                });
                nested.exec();
                dialog.accept();
            });
            workerPassed = true;
        };
        component.onFinish = [&](QObject *) { finished = true; };

        QVERIFY(component.execute());
        // Safety net: the test fails instead of hanging when the routine never runs.
        QTimer::singleShot(10000, &dialog, &QDialog::reject);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(activeDuringRoutine, &dialog);
        QVERIFY(workerWaitedForNestedDialog);
        QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
        QVERIFY(workerPassed);
    }

    void errorsOfHandedOverRoutines()
    {
        // Handled: the error stays on the user-interface thread and the worker goes on.
        {
            WorkerThread component;
            std::atomic<bool> workerWentOn{false};
            int exceptions = 0;
            bool finished = false;
            component.onExecute = [&](WorkerRun &thread) {
                thread.synchronize([] { throw Error(QStringLiteral("routine failed")); });
                workerWentOn = true;
            };
            component.onException = [&](QObject *, std::exception_ptr) { ++exceptions; };
            component.onFinish = [&](QObject *) { finished = true; };
            component.execute();
            QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
            QVERIFY(workerWentOn);
            QCOMPARE(exceptions, 0);
        }
        // Not handled: raised again on the worker after the hand-off.
        {
            WorkerThread component;
            component.setHandleExceptions(false);
            QString caught;
            std::atomic<bool> caughtOnWorker{false};
            bool finished = false;
            component.onExecute = [&](WorkerRun &thread) {
                try {
                    thread.synchronize([] { throw Error(QStringLiteral("routine failed")); });
                } catch (const Error &e) {
                    caught = e.message();
                    caughtOnWorker = !onUiThread();
                }
            };
            component.onFinish = [&](QObject *) { finished = true; };
            component.execute();
            QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
            QCOMPARE(caught, QStringLiteral("routine failed"));
            QVERIFY(caughtOnWorker);
        }
    }

    void errorOfTheWorkRunsOnExceptionThenOnFinish()
    {
        WorkerThread component;
        QStringList events;
        component.onExecute = [](WorkerRun &) { throw Error(QStringLiteral("work failed")); };
        component.onException = [&](QObject *sender, std::exception_ptr error) {
            QCOMPARE(sender, &component);
            QVERIFY(onUiThread());
            events << QStringLiteral("exception:") + exceptionText(error);
        };
        component.onFinish = [&](QObject *) { events << QStringLiteral("finish"); };
        component.execute();
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 5000);
        QCOMPARE(events, (QStringList{QStringLiteral("exception:work failed"), QStringLiteral("finish")}));

        // An error of onFinish itself goes to onException as well.
        events.clear();
        component.onExecute = [](WorkerRun &) {};
        component.onFinish = [&](QObject *) {
            events << QStringLiteral("finish");
            throw std::runtime_error("finish failed");
        };
        component.execute();
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 5000);
        QCOMPARE(events, (QStringList{QStringLiteral("finish"), QStringLiteral("exception:finish failed")}));
    }

    void executeTwiceCancelsTheFirstWork()
    {
        WorkerThread component;
        std::atomic<int> started{0};
        std::atomic<bool> firstToldToStop{false};
        std::atomic<bool> firstHandOffSkipped{true};
        std::atomic<bool> secondCompleted{false};
        QList<int> finishedRuns;
        int handOffsRun = 0;

        component.onExecute = [&](WorkerRun &thread) {
            const int run = ++started;
            if (run == 1) {
                firstToldToStop = workUntilTerminated(thread);
                bool ran = false;
                thread.synchronize([&] {
                    ran = true;
                    ++handOffsRun;
                });
                firstHandOffSkipped = !ran;
            } else {
                thread.synchronize([&] { ++handOffsRun; });
                secondCompleted = true;
            }
        };
        component.onFinish = [&](QObject *) { finishedRuns << started.load(); };

        component.execute();
        QTRY_COMPARE_WITH_TIMEOUT(started.load(), 1, 5000);
        component.execute(); // at once, without waiting for the first work
        QTRY_COMPARE_WITH_TIMEOUT(finishedRuns.size(), 1, 5000);
        QVERIFY(WorkerThread::waitForCancelledThreads(5000));
        QTest::qWait(20);
        QCOMPARE(finishedRuns.size(), 1); // only the second work's onFinish
        QVERIFY(firstToldToStop);
        QVERIFY(firstHandOffSkipped);
        QVERIFY(secondCompleted);
        QCOMPARE(handOffsRun, 1);
    }

    void waitForFinish()
    {
        WorkerThread component;
        component.setWaitForFinish(true);
        bool finished = false;
        bool handedOver = false;
        component.onExecute = [&](WorkerRun &thread) {
            QThread::msleep(20);
            thread.synchronize([&] { handedOver = true; });
        };
        component.onFinish = [&](QObject *) { finished = true; };
        QVERIFY(component.execute());
        // Everything, hand-offs and onFinish included, happened inside Execute's wait.
        QVERIFY(handedOver);
        QVERIFY(finished);
        QVERIFY(!component.running());
    }

    void waitTimeoutCancelsTheWork()
    {
        WorkerThread component;
        component.setWaitForFinish(true);
        component.setWaitTimeout(50);
        std::atomic<bool> toldToStop{false};
        int expired = 0;
        bool finished = false;
        component.onExecute = [&](WorkerRun &thread) { toldToStop = workUntilTerminated(thread); };
        component.onFinish = [&](QObject *) { finished = true; };
        component.onWaitTimeoutExpired = [&](QObject *sender) {
            QCOMPARE(sender, &component);
            ++expired;
        };
        QVERIFY(!component.execute());
        QCOMPARE(expired, 1);
        QVERIFY(!component.running()); // a fresh thread object has taken the old one's place
        QVERIFY(WorkerThread::waitForCancelledThreads(5000));
        QVERIFY(toldToStop);
        QTest::qWait(20);
        QVERIFY(!finished);
    }

    void gentleTerminate()
    {
        WorkerThread component;
        std::atomic<bool> toldToStop{false};
        bool finished = false;
        component.onExecute = [&](WorkerRun &thread) { toldToStop = workUntilTerminated(thread); };
        component.onFinish = [&](QObject *) { finished = true; };
        component.execute();
        QTRY_VERIFY(component.running());
        component.terminate(); // only asks: the work ends by itself and finishes as usual
        QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
        QVERIFY(toldToStop);
    }

    void destroyingTheComponentWhileItWorks()
    {
        auto component = std::make_unique<WorkerThread>();
        std::atomic<bool> started{false};
        std::atomic<bool> toldToStop{false};
        bool handOffRan = false;
        bool finished = false;
        component->onExecute = [&](WorkerRun &thread) {
            started = true;
            toldToStop = workUntilTerminated(thread);
            thread.synchronize([&] { handOffRan = true; });
        };
        component->onFinish = [&](QObject *) { finished = true; };
        component->execute();
        QTRY_VERIFY(started.load());
        component.reset(); // returns at once; the work is told to stop
        QVERIFY(WorkerThread::waitForCancelledThreads(5000));
        QVERIFY(toldToStop);
        QVERIFY(!handOffRan);
        QVERIFY(!finished);
        QCOMPARE(WorkerThread::livingThreadObjects(), 0);
    }

    void handOffObjectLifetime()
    {
        QTRY_COMPARE(WorkerThread::livingThreadObjects(), 0);
        QTRY_VERIFY(UiThreadDispatcher::instance() == nullptr);
        {
            WorkerThread component;
            QPointer<UiThreadDispatcher> first = UiThreadDispatcher::instance();
            QVERIFY(first);
            QCOMPARE(first->thread(), qApp->thread());
            WorkerThread second; // shares it
            QCOMPARE(UiThreadDispatcher::instance(), first.data());
        }
        // The last thread object is gone: the hand-off object goes too.
        QTRY_VERIFY(UiThreadDispatcher::instance() == nullptr);
        WorkerThread again;
        QVERIFY(UiThreadDispatcher::instance() != nullptr);
    }
};

QTEST_MAIN(TestUpgradeThread)
#include "test_upgrade_thread.moc"
