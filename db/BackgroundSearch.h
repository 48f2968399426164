#pragma once

#include "db/RegisterAddress.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantList>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace lianbu::db {

class BackgroundSearchWorker;

// Runs statements that list row keys on a connection of its own in a worker thread, so a long
// search never holds up the window. Only the newest statement counts: starting one interrupts
// the one running, statements still waiting are skipped, and only the newest result is
// reported. The engine's canceller (SQLite's interrupt, the server's cancel request) stops a
// running statement.
class BackgroundSearch : public QObject
{
    Q_OBJECT

public:
    // `fileName`: the database file (a relative name is taken in the working directory when
    // the worker opens it, at the first search).
    explicit BackgroundSearch(const QString &fileName, QObject *parent = nullptr);
    // The register at `address`: a file, or a database server (its password kept in memory).
    explicit BackgroundSearch(const RegisterAddress &address, QObject *parent = nullptr);
    ~BackgroundSearch() override;

    enum class KeyOrder { AsRead, Ascending };
    // Starts the statement (its first column: the keys; `values` bound to its "?" in order) and
    // returns its ticket. `order`: the keys are reported in the statement's order or, sorted on
    // the worker, ascending (a statement without ORDER BY may read a small index instead of the
    // table).
    quint64 start(const QString &sql, const QVariantList &values = {}, KeyOrder order = KeyOrder::AsRead);
    // Drops the running statement and any result still to come.
    void cancel();
    // The ticket of the newest statement; 0 before the first.
    quint64 latestTicket() const { return m_latest; }
    // True from start() until the newest statement's result or failure has been reported.
    bool busy() const { return m_reported != m_latest; }
    // Only in a slot of finished(): takes the reported keys over instead of copying them (the
    // signal's reference is empty afterwards).
    std::vector<qint64> takeKeys() { return std::exchange(m_keys, {}); }

signals:
    // The keys of the newest statement, in the statement's order.
    void finished(quint64 ticket, const std::vector<qint64> &keys);
    void failed(quint64 ticket, const QString &message);

private:
    void receive(quint64 ticket, const std::shared_ptr<std::vector<qint64>> &keys, const QString &error);

    QThread m_thread;
    BackgroundSearchWorker *m_worker;
    std::shared_ptr<std::atomic<quint64>> m_newest;
    quint64 m_latest = 0;
    quint64 m_reported = 0;
    std::vector<qint64> m_keys; // the result being reported
};

} // namespace lianbu::db
