#include "db/BackgroundDamageCheck.h"

#include <QMetaObject>
#include <QThread>
#include <QUrl>

#include <mutex>

#include <sqlite3.h>

namespace lianbu::db {

struct BackgroundDamageCheck::Shared
{
    std::mutex mutex;
    sqlite3 *handle = nullptr; // while the read runs
    bool stopped = false;
};

namespace {

// The quick check's first line: "ok", or what is wrong; empty when the read could not be made.
QString quickCheck(const QString &path, BackgroundDamageCheck::Shared &shared, bool *stopped)
{
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?mode=ro";
    sqlite3 *handle = nullptr;
    if (sqlite3_open_v2(uri.constData(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        qWarning("damage check: cannot open %s: %s", qPrintable(path), handle ? sqlite3_errmsg(handle) : "");
        sqlite3_close(handle);
        return {};
    }
    {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.stopped) {
            sqlite3_close(handle);
            *stopped = true;
            return {};
        }
        shared.handle = handle;
    }
    sqlite3_busy_timeout(handle, 5000);
    QString verdict;
    sqlite3_stmt *statement = nullptr;
    int code = sqlite3_prepare_v2(handle, "PRAGMA quick_check(1)", -1, &statement, nullptr);
    if (code == SQLITE_OK)
        code = sqlite3_step(statement);
    if (code == SQLITE_ROW)
        verdict = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    else if ((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB)
        verdict = QString::fromUtf8(sqlite3_errmsg(handle));
    else if ((code & 0xff) != SQLITE_INTERRUPT)
        qWarning("damage check: cannot read %s: %s", qPrintable(path), sqlite3_errmsg(handle));
    sqlite3_finalize(statement);
    {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.handle = nullptr;
        *stopped = shared.stopped;
    }
    sqlite3_close(handle);
    return verdict;
}

} // namespace

BackgroundDamageCheck::BackgroundDamageCheck(const QString &path, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    std::shared_ptr<Shared> shared = m_shared;
    m_thread = QThread::create([this, shared, path] {
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
    m_thread->start(QThread::LowPriority);
}

BackgroundDamageCheck::~BackgroundDamageCheck()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stopped = true;
        if (m_shared->handle)
            sqlite3_interrupt(m_shared->handle);
    }
    m_thread->wait();
    delete m_thread;
}

} // namespace lianbu::db
