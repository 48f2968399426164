// The attempt limit: the waits after failures, counted per name from the attempt log and timed
// by the program's clock, and the countdown a window shows while it waits.
#include "operators/AttemptLimiter.h"
#include "operators/PasswordGate.h"
#include "operators/WaitCountdown.h"

#include "data/OperatorStore.h"
#include "db/Connection.h"
#include "platform/Clock.h"
#include "tests/support/TestDatabase.h"

#include <QPushButton>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::operators;
using std::chrono::milliseconds;

class TestAttemptLimiter : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setFixedNow(QDateTime()); }

    void delaysDoubleAfterThreeFailuresUpToThirtySeconds()
    {
        const qint64 expected[] = {0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
        for (int failures = 0; failures < 10; ++failures)
            QCOMPARE(delayAfterFailures(failures).count(), expected[failures]);
        QCOMPARE(delayAfterFailures(40).count(), 30000);
        QCOMPARE(delayAfterFailures(1000000).count(), 30000);

        const QDateTime failure(QDate(2026, 5, 4), QTime(10, 0, 0));
        const data::FailureStreak streak{4, failure};
        QCOMPARE(remainingWait(streak, failure).count(), 2000);
        QCOMPARE(remainingWait(streak, failure.addMSecs(1500)).count(), 500);
        QCOMPARE(remainingWait(streak, failure.addSecs(2)).count(), 0);
        QCOMPARE(remainingWait(streak, failure.addDays(1)).count(), 0);
        // A clock set back never stretches the wait beyond the delay.
        QCOMPARE(remainingWait(streak, failure.addSecs(-3600)).count(), 2000);
        // A failure time that cannot be read does not lock the name for good.
        QCOMPARE(remainingWait({9, QDateTime()}, failure).count(), 0);

        QCOMPARE(waitSeconds(milliseconds{0}), 0);
        QCOMPARE(waitSeconds(milliseconds{1}), 1);
        QCOMPARE(waitSeconds(milliseconds{1000}), 1);
        QCOMPARE(waitSeconds(milliseconds{1001}), 2);
    }

    void limiterCountsPerNameAcrossWindowsAndInstances()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        AttemptLimiter limiter(connection);
        const QDateTime start(QDate(2026, 5, 4), QTime(10, 0, 0));
        setFixedNow(start);

        const QString name = QStringLiteral("职员甲");
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(limiter.waitFor(name).count(), 0);
            limiter.record(name, false, data::AttemptKind::Login);
        }
        QCOMPARE(limiter.waitFor(name).count(), 1000);
        QCOMPARE(limiter.waitFor(QStringLiteral("职员乙")).count(), 0);

        setFixedNow(start.addMSecs(999));
        QCOMPARE(limiter.waitFor(name).count(), 1);
        setFixedNow(start.addSecs(1));
        QCOMPARE(limiter.waitFor(name).count(), 0);
        // A failure in another window counts for the same name.
        limiter.record(name, false, data::AttemptKind::Unlock);
        QCOMPARE(limiter.waitFor(name).count(), 2000);

        // Another program instance on the same register sees the same streak.
        db::Connection other(database.path());
        other.open();
        AttemptLimiter otherLimiter(other);
        QCOMPARE(otherLimiter.waitFor(name).count(), 2000);

        // A burst: every wait taken in full, each one twice the last, never above 30 s.
        QDateTime t = start.addSecs(1);
        qint64 previous = 2000;
        for (int i = 0; i < 8; ++i) {
            t = t.addMSecs(limiter.waitFor(name).count());
            setFixedNow(t);
            QCOMPARE(limiter.waitFor(name).count(), 0);
            limiter.record(name, false, data::AttemptKind::Login);
            const qint64 wait = limiter.waitFor(name).count();
            QCOMPARE(wait, std::min<qint64>(previous * 2, 30000));
            previous = wait;
        }

        // A success ends the streak.
        setFixedNow(t.addSecs(30));
        limiter.record(name, true, data::AttemptKind::Login);
        QCOMPARE(limiter.waitFor(name).count(), 0);
        limiter.record(name, false, data::AttemptKind::Login);
        QCOMPARE(limiter.waitFor(name).count(), 0);
    }

    void countdownKeepsTheButtonDisabledWhileTheEventLoopRuns()
    {
        QPushButton button(QStringLiteral("确定"));
        milliseconds left{2500};
        WaitCountdown countdown(&button, [&left] { return left; });

        QVERIFY(countdown.start());
        QVERIFY(countdown.waiting());
        QVERIFY(!button.isEnabled());
        QCOMPARE(button.text(), QStringLiteral("等待3秒"));

        // The window keeps handling events while it waits: a queued call runs, ticks arrive.
        bool queuedCallRan = false;
        QTimer::singleShot(0, this, [&queuedCallRan] { queuedCallRan = true; });
        left = milliseconds{900};
        QTRY_COMPARE_WITH_TIMEOUT(button.text(), QStringLiteral("等待1秒"), 5000);
        QVERIFY(queuedCallRan);
        QVERIFY(!button.isEnabled());

        left = milliseconds{0};
        QTRY_VERIFY_WITH_TIMEOUT(button.isEnabled(), 5000);
        QCOMPARE(button.text(), QStringLiteral("确定"));
        QVERIFY(!countdown.waiting());

        // Nothing to wait for: the button stays as it is.
        QVERIFY(!countdown.start());
        QVERIFY(button.isEnabled());
        QCOMPARE(button.text(), QStringLiteral("确定"));

        // Starting again while waiting keeps the button's own text for the end.
        left = milliseconds{4000};
        QVERIFY(countdown.start());
        QVERIFY(countdown.start());
        left = milliseconds{0};
        countdown.update();
        QCOMPARE(button.text(), QStringLiteral("确定"));
    }

    void gateSlowsABurstOfWrongPasswords()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        const QString name = QStringLiteral("职员甲");
        data::OperatorStore(connection).addOperator(name);
        data::OperatorStore(connection).setPassword(name, QStringLiteral("Right1"));
        QPushButton button(QStringLiteral("确定"));
        QString current = name;
        PasswordGate gate(connection, data::AttemptKind::Login, &button, [&current] { return current; });
        const QDateTime start(QDate(2026, 5, 4), QTime(10, 0, 0));
        setFixedNow(start);

        using Result = PasswordGate::Result;
        QCOMPARE(gate.check(name, QStringLiteral("w1")), Result::Refused);
        QCOMPARE(gate.check(name, QStringLiteral("w2")), Result::Refused);
        QVERIFY(button.isEnabled());
        QCOMPARE(gate.check(name, QStringLiteral("w3")), Result::Refused);
        QVERIFY(gate.waiting());
        QVERIFY(!button.isEnabled());
        QCOMPARE(button.text(), QStringLiteral("等待1秒"));

        // While waiting even the right password is not checked, and nothing is logged.
        QCOMPARE(gate.check(name, QStringLiteral("Right1")), Result::Waiting);
        QCOMPARE(data::AttemptLog(connection).streak(name).failures, 3);

        // Another name need not wait: choosing it ends the countdown at the next tick.
        current = QStringLiteral("职员乙");
        QTRY_VERIFY_WITH_TIMEOUT(button.isEnabled(), 5000);
        QCOMPARE(button.text(), QStringLiteral("确定"));
        current = name;
        QVERIFY(gate.showWait());
        QVERIFY(!button.isEnabled());

        // The wait is over when the clock says so; the next failure doubles it.
        setFixedNow(start.addSecs(1));
        QTRY_VERIFY_WITH_TIMEOUT(button.isEnabled(), 5000);
        QCOMPARE(gate.check(name, QStringLiteral("w4")), Result::Refused);
        QCOMPARE(button.text(), QStringLiteral("等待2秒"));
        setFixedNow(start.addSecs(3));
        QCOMPARE(gate.check(name, QStringLiteral("Right1")), Result::Accepted);
        QCOMPARE(data::AttemptLog(connection).streak(name).failures, 0);
        QCOMPARE(gate.check(name, QStringLiteral("w5")), Result::Refused);
        QVERIFY(!gate.waiting());
        QCOMPARE(data::AttemptLog(connection).lastFailures(100).size(), size_t(5));
    }
};

QTEST_MAIN(TestAttemptLimiter)
#include "test_attempt_limiter.moc"
