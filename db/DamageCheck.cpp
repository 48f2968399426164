#include "db/DamageCheck.h"

#include "db/SqliteEngine.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStringList>

#include <sqlite3.h>

namespace lianbu::db {

void DamageReadStop::stop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    if (m_handle)
        sqlite3_interrupt(m_handle);
}

bool DamageReadStop::stopped() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopped;
}

// Shows the read's handle to its stop for as long as the read runs.
struct DamageReadHandle
{
    DamageReadHandle(DamageReadStop *stop, sqlite3 *handle)
        : stop(stop)
    {
        if (!stop)
            return;
        const std::lock_guard<std::mutex> lock(stop->m_mutex);
        stopped = stop->m_stopped;
        if (!stopped)
            stop->m_handle = handle;
    }
    ~DamageReadHandle()
    {
        if (!stop)
            return;
        const std::lock_guard<std::mutex> lock(stop->m_mutex);
        stop->m_handle = nullptr;
    }
    DamageReadHandle(const DamageReadHandle &) = delete;
    DamageReadHandle &operator=(const DamageReadHandle &) = delete;

    DamageReadStop *stop;
    bool stopped = false;
};

namespace {

QStringList checksOf(const QSqlDatabase &db, const DamageRead &how, bool *tablesLeft)
{
    switch (how.depth) {
    case DamageRead::Depth::SchemaOnly:
        return {};
    case DamageRead::Depth::Integrity:
        return {QStringLiteral("PRAGMA integrity_check(1)")};
    case DamageRead::Depth::Quick:
        break;
    }
    if (!how.onlyTables)
        return {QStringLiteral("PRAGMA quick_check(1)")};
    // The schema, then each table wanted now by its own check.
    QStringList checks{QStringLiteral("PRAGMA quick_check(sqlite_master)")};
    QSqlQuery tables(db);
    if (tables.exec(QStringLiteral("select name from sqlite_master where type='table' and rootpage>0")))
        while (tables.next()) {
            const QString table = tables.value(0).toString();
            if (how.onlyTables(table))
                checks << QStringLiteral("PRAGMA quick_check(\"%1\")")
                              .arg(QString(table).replace(QLatin1Char('"'), QLatin1String("\"\"")));
            else
                *tablesLeft = true;
        }
    return checks;
}

DamageFinding readOpen(QSqlDatabase &db, const DamageRead &how)
{
    DamageFinding finding;
    const auto stopped = [&] {
        if (!how.stop || !how.stop->stopped())
            return false;
        finding = DamageFinding{};
        finding.outcome = DamageFinding::Outcome::Stopped;
        return true;
    };
    const DamageReadHandle handle(how.stop, engine::nativeHandle(db));
    if (handle.stopped) {
        finding.outcome = DamageFinding::Outcome::Stopped;
        return finding;
    }
    QSqlQuery query(db);
    // Reading the schema proves the file is a database, whatever depth follows.
    if (!query.exec(QStringLiteral("select count(*) from sqlite_master"))) {
        finding.outcome = DamageFinding::Outcome::NotRead;
        finding.error = query.lastError();
        stopped();
        return finding;
    }
    const QStringList checks = checksOf(db, how, &finding.tablesLeft);
    for (const QString &check : checks) {
        if (stopped())
            return finding;
        if (!query.exec(check)) {
            finding.outcome = DamageFinding::Outcome::NotRead;
            finding.error = query.lastError();
            stopped();
            return finding;
        }
        const QString verdict = query.next() ? query.value(0).toString() : QString();
        if (verdict != QLatin1String("ok")) {
            finding.outcome = DamageFinding::Outcome::Damaged;
            finding.verdict = verdict;
            return finding;
        }
    }
    query.finish();
    if (stopped())
        return finding;
    if (how.contentCheck) {
        finding.contentProblem = how.contentCheck(db);
        if (!finding.contentProblem.isEmpty())
            finding.outcome = DamageFinding::Outcome::Foreign;
    }
    return finding;
}

} // namespace

DamageFinding readForDamage(const QString &path, const DamageRead &how)
{
    const bool inUse = QFileInfo::exists(path + QStringLiteral("-wal"))
                       || QFileInfo::exists(path + QStringLiteral("-shm"))
                       || QFileInfo::exists(path + QStringLiteral("-journal"));
    const QString query =
        how.immutableWhenUnused && !inUse ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro");
    const QString name = QStringLiteral("lianbu-damage-read-%1").arg(QRandomGenerator::global()->generate64());
    DamageFinding finding;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(engine::fileUri(path, query));
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(how.busyTimeoutMs));
        if (!db.open()) {
            finding.outcome = DamageFinding::Outcome::NotOpened;
            finding.error = db.lastError();
        } else {
            finding = readOpen(db, how);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return finding;
}

} // namespace lianbu::db
