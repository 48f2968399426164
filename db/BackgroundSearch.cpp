#include "db/BackgroundSearch.h"

#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Error.h"

#include <QMetaObject>
#include <QPointer>

#include <mutex>

namespace lianbu::db {

// Lives in the worker thread; owns the worker's connection.
class BackgroundSearchWorker : public QObject
{
    Q_OBJECT

public:
    BackgroundSearchWorker(const RegisterAddress &address, std::shared_ptr<std::atomic<quint64>> newest)
        : m_address(address)
        , m_newest(std::move(newest))
    {}
    ~BackgroundSearchWorker() override
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_cancel = nullptr;
    }

    // Called from the user-interface thread: stops the statement running for an older ticket.
    void interruptOlderThan(quint64 ticket)
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        if (m_cancel && m_running != 0 && m_running < ticket)
            m_cancel();
    }

public slots:
    void run(quint64 ticket, const QString &sql, const QVariantList &values, bool ascending)
    {
        // A newer statement is already waiting: this one would be thrown away.
        if (ticket < m_newest->load())
            return;
        auto keys = std::make_shared<std::vector<qint64>>();
        QString error;
        for (;;) {
            try {
                openConnection();
                m_running = ticket;
                const QSqlDatabase database = m_connection->database();
                *keys = readKeys(engineOf(database), database, sql, values);
                if (ascending)
                    sortKeysAscending(*keys);
                m_running = 0;
                break;
            } catch (const Error &failure) {
                m_running = 0;
                if (ticket < m_newest->load())
                    return; // interrupted for a newer one
                // SQLite says "interrupted", the server "canceling statement due to user request".
                if (!failure.message().contains(QLatin1String("interrupt"))
                    && !failure.message().contains(QLatin1String("cancel"))) {
                    error = failure.message();
                    break;
                }
                // An interrupt meant for an older statement reached this one: run it again.
            }
        }
        emit done(ticket, keys, error);
    }

signals:
    // The keys travel to the window's thread without a copy.
    void done(quint64 ticket, const std::shared_ptr<std::vector<qint64>> &keys, const QString &error);

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
    std::function<bool()> m_cancel; // made on the worker thread, called from any
    std::atomic<quint64> m_running{0};
};

BackgroundSearch::BackgroundSearch(const QString &fileName, QObject *parent)
    : BackgroundSearch(parseRegisterAddress(fileName), parent)
{}

BackgroundSearch::BackgroundSearch(const RegisterAddress &address, QObject *parent)
    : QObject(parent)
    , m_newest(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<std::vector<qint64>>("std::vector<qint64>");
    qRegisterMetaType<std::shared_ptr<std::vector<qint64>>>("std::shared_ptr<std::vector<qint64>>");
    m_worker = new BackgroundSearchWorker(address, m_newest);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &BackgroundSearchWorker::done, this, &BackgroundSearch::receive, Qt::QueuedConnection);
    m_thread.setObjectName(QStringLiteral("search"));
    m_thread.start();
}

BackgroundSearch::~BackgroundSearch()
{
    m_newest->store(~quint64(0)); // everything still waiting is stale
    m_worker->interruptOlderThan(~quint64(0));
    m_thread.quit();
    m_thread.wait();
}

quint64 BackgroundSearch::start(const QString &sql, const QVariantList &values, KeyOrder order)
{
    m_latest = m_latest + 1;
    m_newest->store(m_latest);
    m_worker->interruptOlderThan(m_latest);
    QMetaObject::invokeMethod(m_worker, "run", Qt::QueuedConnection, Q_ARG(quint64, m_latest), Q_ARG(QString, sql),
                              Q_ARG(QVariantList, values), Q_ARG(bool, order == KeyOrder::Ascending));
    return m_latest;
}

void BackgroundSearch::cancel()
{
    m_latest = m_latest + 1;
    m_reported = m_latest;
    m_newest->store(m_latest);
    m_worker->interruptOlderThan(m_latest);
}

void BackgroundSearch::receive(quint64 ticket, const std::shared_ptr<std::vector<qint64>> &keys, const QString &error)
{
    if (ticket != m_latest)
        return;
    m_reported = ticket;
    if (!error.isEmpty()) {
        emit failed(ticket, error);
        return;
    }
    m_keys = std::move(*keys);
    const QPointer<BackgroundSearch> alive(this); // a receiver may end the search
    emit finished(ticket, m_keys);
    if (alive)
        m_keys = {};
}

} // namespace lianbu::db

#include "BackgroundSearch.moc"
