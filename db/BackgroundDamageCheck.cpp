#include "db/BackgroundDamageCheck.h"

#include "db/DamageCheck.h"
#include "db/EngineErrors.h"
#include "platform/SystemProcesses.h"

#include <QMetaObject>
#include <QThread>

namespace lianbu::db {

struct BackgroundDamageCheck::Shared
{
    DamageReadStop stop;
};

namespace {

// The quick check's first line: "ok", or what is wrong; empty when the read could not be made
// or was stopped.
QString quickCheck(const QString &path, BackgroundDamageCheck::Shared &shared, bool *stopped)
{
    DamageRead how;
    how.stop = &shared.stop;
    const DamageFinding finding = readForDamage(path, how);
    *stopped = shared.stop.stopped();
    switch (finding.outcome) {
    case DamageFinding::Outcome::Sound:
    case DamageFinding::Outcome::Foreign:
        return QStringLiteral("ok");
    case DamageFinding::Outcome::Damaged:
        return finding.verdict;
    case DamageFinding::Outcome::Stopped:
        return {};
    case DamageFinding::Outcome::NotOpened:
        qWarning("damage check: cannot open %s: %s", qPrintable(path), qPrintable(finding.error.databaseText()));
        return {};
    case DamageFinding::Outcome::NotRead:
        // The engine itself found the damage before the check could say where.
        if (engineFault(finding.error) == EngineFault::Damaged)
            return finding.error.databaseText();
        qWarning("damage check: cannot read %s: %s", qPrintable(path), qPrintable(finding.error.databaseText()));
        return {};
    }
    return {};
}

} // namespace

BackgroundDamageCheck::BackgroundDamageCheck(const QString &path, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    std::shared_ptr<Shared> shared = m_shared;
    m_thread = QThread::create([this, shared, path] {
        // Beside the first list and the operator's work it takes only what they leave.
        processes::lowerCurrentThreadPriority();
        bool stopped = false;
        const QString verdict = quickCheck(path, *shared, &stopped);
        if (stopped || verdict.isEmpty())
            return;
        const QString problem =
            verdict == QLatin1String("ok")
                ? QString()
                : QStringLiteral("数据库文件“%1”已损坏（完整性检查：%2）。请用“恢复数据…”从备份恢复。")
                      .arg(path, verdict);
        // Queued to this object's thread; the destructor waits for this thread first, and a
        // queued call to a deleted object is dropped.
        QMetaObject::invokeMethod(
            this, [this, problem] { emit finished(problem); }, Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("damage check"));
    m_thread->start();
}

BackgroundDamageCheck::~BackgroundDamageCheck()
{
    m_shared->stop.stop();
    m_thread->wait();
    delete m_thread;
}

} // namespace lianbu::db
