#include "db/BackgroundWork.h"

#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Error.h"

#include <QMetaObject>

#include <mutex>

Q_DECLARE_METATYPE(lianbu::db::BackgroundWork::Job)

namespace lianbu::db {

// Lives in the worker thread; owns the worker's connection.
class BackgroundWorkWorker : public QObject
{
    Q_OBJECT

public:
    BackgroundWorkWorker(const RegisterAddress &address, std::shared_ptr<std::atomic<quint64>> newest)
        : m_address(address)
        , m_newest(std::move(newest))
    {}
    ~BackgroundWorkWorker() override
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_cancel = nullptr;
    }

    // Called from the user-interface thread.
    void interruptOlderThan(quint64 ticket)
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        if (m_cancel && m_running != 0 && m_running < ticket)
            m_cancel();
    }

public slots:
    void run(quint64 ticket, const lianbu::db::BackgroundWork::Job &job)
    {
        if (ticket < m_newest->load())
            return;
        auto result = std::make_shared<std::any>();
        QString error;
        try {
            openConnection();
            m_running = ticket;
            *result = job(*m_connection);
            m_running = 0;
        } catch (const Error &failure) {
            m_running = 0;
            if (ticket < m_newest->load())
                return; // interrupted for a newer one
            error = failure.message();
        }
        emit done(ticket, result, error);
    }

signals:
    void done(quint64 ticket, const std::shared_ptr<std::any> &result, const QString &error);

private:
    void openConnection()
    {
        if (m_connection)
            return;
        auto connection = std::make_unique<Connection>();
        connection->setAddress(m_address);
        // The program's own connection read this file for damage when it opened it.
        connection->setIntegrityCheck(false);
        connection->open();
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_cancel = engineOf(connection->database()).canceller(connection->database());
        m_connection = std::move(connection);
    }

    RegisterAddress m_address;
    std::shared_ptr<std::atomic<quint64>> m_newest;
    std::unique_ptr<Connection> m_connection;
    std::mutex m_handleMutex;
    std::function<bool()> m_cancel;
    std::atomic<quint64> m_running{0};
};

BackgroundWork::BackgroundWork(const RegisterAddress &address, QObject *parent)
    : QObject(parent)
    , m_newest(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<lianbu::db::BackgroundWork::Job>("lianbu::db::BackgroundWork::Job");
    qRegisterMetaType<std::shared_ptr<std::any>>("std::shared_ptr<std::any>");
    m_worker = new BackgroundWorkWorker(address, m_newest);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &BackgroundWorkWorker::done, this, &BackgroundWork::receive, Qt::QueuedConnection);
    m_thread.setObjectName(QStringLiteral("counts"));
    m_thread.start();
}

BackgroundWork::~BackgroundWork()
{
    m_newest->store(~quint64(0));
    m_worker->interruptOlderThan(~quint64(0));
    m_thread.quit();
    m_thread.wait();
}

quint64 BackgroundWork::start(Job job)
{
    m_latest = m_latest + 1;
    m_newest->store(m_latest);
    m_worker->interruptOlderThan(m_latest);
    QMetaObject::invokeMethod(m_worker, "run", Qt::QueuedConnection, Q_ARG(quint64, m_latest),
                              Q_ARG(lianbu::db::BackgroundWork::Job, std::move(job)));
    return m_latest;
}

void BackgroundWork::cancel()
{
    m_latest = m_latest + 1;
    m_reported = m_latest;
    m_newest->store(m_latest);
    m_worker->interruptOlderThan(m_latest);
}

void BackgroundWork::receive(quint64 ticket, const std::shared_ptr<std::any> &result, const QString &error)
{
    if (ticket != m_latest)
        return;
    m_reported = ticket;
    if (!error.isEmpty())
        emit failed(ticket, error);
    else
        emit finished(ticket, *result);
}

} // namespace lianbu::db

#include "BackgroundWork.moc"
