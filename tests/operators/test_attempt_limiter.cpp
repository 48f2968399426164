// The attempt limit: the waits after failures, counted per name from the attempt log and timed
// by the program's clock, and the countdown a window shows while it waits.
#include "operators/AttemptLimiter.h"
#include "operators/PasswordGate.h"
#include "operators/WaitCountdown.h"

#include "data/OperatorStore.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "operators/FailureLogWindow.h"
#include "platform/Clock.h"
#include "tests/support/TestDatabase.h"

#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QtTest>

namespace {

// Every attempt row: name, outcome.
QList<QPair<QString, QString>> attemptRows(lianbu::db::Connection &connection)
{
    QList<QPair<QString, QString>> rows;
    QSqlQuery query =
        lianbu::db::runBound(connection, QStringLiteral("select username, outcome from login_attempts order by id"));
    while (query.next())
        rows.append({query.value(0).toString(), query.value(1).toString()});
    return rows;
}

} // namespace

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
        data::OperatorStore(connection).addOperator(name);
        data::OperatorStore(connection).addOperator(QStringLiteral("职员乙"));
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

    void aClockOrZoneSetAheadLocksNobodyOut()
    {
        test::TestDatabase database(false);
        db::Connection ahead(database.path());
        ahead.open();
        const QString clerk = QStringLiteral("职员甲");
        const QString other = QStringLiteral("职员乙");
        data::OperatorStore store(ahead);
        for (const QString &name : {clerk, other}) {
            store.addOperator(name);
            store.setPassword(name, QStringLiteral("Right1"));
        }
        const QDateTime real(QDate(2026, 5, 4), QTime(10, 0, 0), Qt::UTC);
        using Result = AttemptLimiter::Result;

        // An instance in a zone 14 hours ahead: the same moment, another local time.
        setFixedNow(real.toOffsetFromUtc(14 * 3600));
        AttemptLimiter aheadLimiter(ahead);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(aheadLimiter.check(store, clerk, QStringLiteral("wrong"), data::AttemptKind::Login),
                     Result::Refused);
        // An instance with the right clock, a second later: the first wait (1 s) is over.
        db::Connection normal(database.path());
        normal.open();
        data::OperatorStore normalStore(normal);
        AttemptLimiter normalLimiter(normal);
        setFixedNow(real.addSecs(1));
        QCOMPARE(normalLimiter.waitFor(clerk).count(), 0);
        QCOMPARE(normalLimiter.check(normalStore, clerk, QStringLiteral("Right1"), data::AttemptKind::Login),
                 Result::Accepted);

        // An instance whose clock is 25 hours ahead stamps its failures a day ahead.
        setFixedNow(real.addSecs(25 * 3600));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(aheadLimiter.check(store, other, QStringLiteral("wrong"), data::AttemptKind::Login),
                     Result::Refused);
        // The right clock cannot tell when that was: the wait counts from when it saw the
        // failure, and is never longer than the delay.
        setFixedNow(real.addSecs(2));
        const qint64 wait = normalLimiter.waitFor(other).count();
        QVERIFY2(wait > 0 && wait <= 1000, qPrintable(QString::number(wait)));
        QCOMPARE(normalLimiter.check(normalStore, other, QStringLiteral("Right1"), data::AttemptKind::Login),
                 Result::Waiting);
        setFixedNow(real.addSecs(3));
        QCOMPARE(normalLimiter.waitFor(other).count(), 0);
        QCOMPARE(normalLimiter.check(normalStore, other, QStringLiteral("Right1"), data::AttemptKind::Login),
                 Result::Accepted);
    }

    void sixInstancesGetOneCheckAtATime()
    {
        test::TestDatabase database(false);
        {
            db::Connection connection(database.path());
            connection.open();
            data::OperatorStore(connection).addOperator(QStringLiteral("职员甲"));
        }
        // Six programs on one register guess as fast as they are let through, for 6 s each: three
        // free failures, then waits of 1 s, 2 s, 4 s, so a sixth check cannot come within 7 s of
        // the third. Checks that slip past one another show as more.
        QList<QProcess *> workers;
        for (int i = 0; i < 6; ++i) {
            auto *worker = new QProcess(this);
            worker->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            worker->start(QStringLiteral(LIANBU_REGISTER_WORKER),
                          {QStringLiteral("login"), database.path(), QStringLiteral("职员甲"), QStringLiteral("guess1"),
                           QStringLiteral("6000")});
            workers << worker;
        }
        int checks = 0;
        for (QProcess *worker : std::as_const(workers)) {
            QVERIFY(worker->waitForFinished(60000));
            QCOMPARE(worker->exitCode(), 0);
            checks += int(worker->readAllStandardOutput().count("checked refused"));
        }
        qDeleteAll(workers);
        QVERIFY2(checks >= 1 && checks <= 5, qPrintable(QString::number(checks)));
        db::Connection connection(database.path());
        connection.open();
        const auto rows = attemptRows(connection);
        QCOMPARE(rows.size(), checks);
        for (const auto &[name, outcome] : rows)
            QCOMPARE(outcome, QStringLiteral("failure"));
    }

    void theLogKeepsNoTypedSecretsAndStaysBounded()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        data::OperatorStore store(connection);
        store.addOperator(QStringLiteral("职员甲"));
        AttemptLimiter limiter(connection);
        using Result = AttemptLimiter::Result;

        // A name longer than any operator's is refused before anything is stored.
        const QString huge(32000, QLatin1Char('x'));
        QCOMPARE(limiter.check(store, huge, QStringLiteral("pw"), data::AttemptKind::Login), Result::NameTooLong);
        QCOMPARE(limiter.check(store, QString(51, QChar(0x7532)), QStringLiteral("pw"), data::AttemptKind::Login),
                 Result::NameTooLong);
        QVERIFY(attemptRows(connection).isEmpty());

        // A password typed into the name field matches no operator: it is not kept.
        QCOMPARE(limiter.check(store, QStringLiteral("Secret77"), QStringLiteral("x"), data::AttemptKind::Login),
                 Result::Refused);
        QCOMPARE(limiter.check(store, QStringLiteral("职员甲"), QStringLiteral("x"), data::AttemptKind::Login),
                 Result::Refused);
        QCOMPARE(attemptRows(connection),
                 (QList<QPair<QString, QString>>{{QString(), QStringLiteral("failure")},
                                                 {QStringLiteral("职员甲"), QStringLiteral("failure")}}));

        // The log keeps the newest attempts only, and its window shows them a page at a time.
        const QDateTime start(QDate(2026, 5, 4), QTime(10, 0, 0));
        data::AttemptLog log(connection);
        db::runBound(connection, QStringLiteral("BEGIN")); // one write to disk for them all
        for (int i = 0; i < data::AttemptLog::kKeptAttempts + 50; ++i)
            log.record(QStringLiteral("职员甲"), start.addSecs(i), false, data::AttemptKind::Login);
        db::runBound(connection, QStringLiteral("COMMIT"));
        QCOMPARE(attemptRows(connection).size(), data::AttemptLog::kKeptAttempts);
        QCOMPARE(log.failureCount(), data::AttemptLog::kKeptAttempts);

        FailureLogWindow window(connection, nullptr);
        QCOMPARE(window.shown().total, data::AttemptLog::kKeptAttempts);
        QCOMPARE(window.shown().pages, data::AttemptLog::kKeptAttempts / kFailuresPerPage);
        QCOMPARE(window.table()->rowCount(), kFailuresPerPage);
        QVERIFY(!window.previousButton()->isEnabled());
        const QString newest = start.addSecs(data::AttemptLog::kKeptAttempts + 49)
                                   .toLocalTime()
                                   .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(window.table()->item(0, 0)->text(), newest);
        window.nextButton()->click();
        QCOMPARE(window.shown().page, 1);
        QCOMPARE(window.table()->item(0, 0)->text(),
                 start.addSecs(data::AttemptLog::kKeptAttempts + 49 - kFailuresPerPage)
                     .toLocalTime()
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        window.showPage(1000);
        QCOMPARE(window.shown().page, window.shown().pages - 1);
        QVERIFY(!window.nextButton()->isEnabled());
        QCOMPARE(window.table()->rowCount(), kFailuresPerPage);
        // The last page ends with the oldest row kept.
        QCOMPARE(window.table()->item(kFailuresPerPage - 1, 1)->text(), QStringLiteral("职员甲"));
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
