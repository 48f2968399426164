#pragma once

#include "db/RegisterAddress.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <any>
#include <atomic>
#include <functional>
#include <memory>

namespace lianbu::db {

class BackgroundWorkWorker;
class Connection;

// Runs pieces of reading work (several statements and what the program does between them) on a
// connection of its own in a worker thread, so a long count never holds up the window. As with
// BackgroundSearch only the newest piece counts: starting one interrupts the one running through
// the engine's canceller and only the newest result is reported.
class BackgroundWork : public QObject
{
    Q_OBJECT

public:
    // Runs on the worker thread with its connection; throws lianbu::Error when refused.
    using Job = std::function<std::any(Connection &connection)>;

    explicit BackgroundWork(const RegisterAddress &address, QObject *parent = nullptr);
    ~BackgroundWork() override;

    quint64 start(Job job);
    // Drops the running piece and any result still to come.
    void cancel();
    bool busy() const { return m_reported != m_latest; }

signals:
    void finished(quint64 ticket, const std::any &result);
    void failed(quint64 ticket, const QString &message);

private:
    void receive(quint64 ticket, const std::shared_ptr<std::any> &result, const QString &error);

    QThread m_thread;
    BackgroundWorkWorker *m_worker;
    std::shared_ptr<std::atomic<quint64>> m_newest;
    quint64 m_latest = 0;
    quint64 m_reported = 0;
};

} // namespace lianbu::db
