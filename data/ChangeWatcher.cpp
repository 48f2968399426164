#include "data/ChangeWatcher.h"

#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "platform/Error.h"

#include <QSqlDriver>
#include <QSqlQuery>

#include <memory>
#include <set>

namespace lianbu::data {

namespace {

// The server hands out feed numbers at insert and the writers commit in any order: a number
// below the newest seen may still come. Each read looks this far back for such late ones.
constexpr qint64 kLateWindow = 256;

} // namespace

// Lives in the worker thread; owns the connection that listens and reads.
class ServerFeedWorker : public QObject
{
    Q_OBJECT

public:
    explicit ServerFeedWorker(db::RegisterAddress address)
        : m_address(std::move(address))
    {}

public slots:
    void begin(qint64 from)
    {
        try {
            m_connection = std::make_unique<db::Connection>();
            m_connection->setAddress(m_address);
            m_connection->setIntegrityCheck(false);
            m_connection->open();
            QSqlDriver *driver = m_connection->database().driver();
            connect(driver, &QSqlDriver::notification, this, [this] { read(); });
            driver->subscribeToNotification(QLatin1String(kChangeFeedChannel));
            m_seen = from;
            m_floor = from;
            read(); // what came while the connection was made
        } catch (const Error &) {
            // Without a listening connection the list follows only the program's own writes.
            m_connection.reset();
        }
    }

    void end() { m_connection.reset(); }

signals:
    void delivered(const lianbu::data::FeedRead &read);

private:
    void read()
    {
        if (!m_connection)
            return;
        try {
            FeedRead read = readChanges(*m_connection, std::max<qint64>(0, m_seen - kLateWindow));
            std::vector<FeedEntry> fresh;
            for (FeedEntry &entry : read.entries)
                if (entry.number > std::max(m_floor, m_seen - kLateWindow) && m_late.insert(entry.number).second)
                    fresh.push_back(std::move(entry));
            m_seen = std::max(m_seen, read.newest);
            m_late.erase(m_late.begin(), m_late.lower_bound(m_seen - kLateWindow));
            read.entries = std::move(fresh);
            if (!read.entries.empty() || read.fellBehind)
                emit delivered(read);
        } catch (const Error &) {
            // The next notification reads again.
        }
    }

    db::RegisterAddress m_address;
    std::unique_ptr<db::Connection> m_connection;
    qint64 m_seen = 0;
    qint64 m_floor = 0;      // what was there when the watch began is no news
    std::set<qint64> m_late; // numbers seen within the late window
};

ChangeWatcher::ChangeWatcher(db::Connection &connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    qRegisterMetaType<FeedRead>("lianbu::data::FeedRead");
    qRegisterMetaType<std::vector<FeedEntry>>("std::vector<lianbu::data::FeedEntry>");
    m_timer.setInterval(300);
    connect(&m_timer, &QTimer::timeout, this, &ChangeWatcher::checkNow);
}

ChangeWatcher::~ChangeWatcher()
{
    stop();
}

void ChangeWatcher::start()
{
    if (m_running)
        return;
    m_running = true;
    if (!m_connection.isServer()) {
        m_dataVersion = -1;
        m_seen = newestChange(m_connection);
        checkNow();
        m_timer.start();
        return;
    }
    m_worker = new ServerFeedWorker(m_connection.address());
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &ServerFeedWorker::delivered, this, &ChangeWatcher::deliver, Qt::QueuedConnection);
    m_thread.setObjectName(QStringLiteral("changes"));
    m_thread.start();
    // Counted from here on, not from when the worker's connection is made.
    QMetaObject::invokeMethod(m_worker, "begin", Qt::QueuedConnection, Q_ARG(qint64, newestChange(m_connection)));
}

void ChangeWatcher::stop()
{
    m_running = false;
    m_timer.stop();
    if (m_worker) {
        QMetaObject::invokeMethod(m_worker, "end", Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        m_worker = nullptr;
    }
}

void ChangeWatcher::checkNow()
{
    if (!m_running || m_connection.isServer() || !m_connection.isOpen())
        return;
    try {
        QSqlQuery version = db::runBound(m_connection, QStringLiteral("PRAGMA data_version"));
        const qint64 now = version.next() ? version.value(0).toLongLong() : -1;
        version.finish();
        if (now == m_dataVersion)
            return;
        m_dataVersion = now;
        deliver(readChanges(m_connection, m_seen));
    } catch (const Error &) {
        // A busy or vanished file: the next look tries again.
    }
}

void ChangeWatcher::deliver(const FeedRead &read)
{
    m_seen = std::max(m_seen, read.newest);
    if (read.fellBehind)
        emit fellBehind();
    else if (!read.entries.empty())
        emit changed(read.entries);
}

} // namespace lianbu::data

#include "ChangeWatcher.moc"
