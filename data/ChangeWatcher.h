#pragma once

#include "data/ChangeFeed.h"

#include <QObject>
#include <QThread>
#include <QTimer>

#include <vector>

namespace lianbu::db {
class Connection;
}

namespace lianbu::data {

class ServerFeedWorker;

// Watches the register's change feed and says what other program instances (and any other
// writer) changed. On data.db it asks the program's own connection for PRAGMA data_version on a
// timer (one cheap call; the file is not watched and the customers are not read) and reads the
// feed from the last number it saw when the file moved. On a server register it subscribes to
// the triggers' notification on a connection of its own in a worker thread, which also reads the
// feed: the window's thread never waits for the server. What the program itself wrote may come
// back in the feed too: receivers apply entries by reading the customers' state now.
class ChangeWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ChangeWatcher(db::Connection &connection, QObject *parent = nullptr);
    ~ChangeWatcher() override;

    // Starts from the feed's newest number (what is already there is not news).
    void start();
    void stop();
    bool running() const { return m_running; }
    // Milliseconds between two looks at data.db (default 300).
    void setInterval(int milliseconds) { m_timer.setInterval(milliseconds); }
    // Looks at data.db now (what the timer does); nothing on a server register.
    void checkNow();

signals:
    // New entries, in number order.
    void changed(const std::vector<lianbu::data::FeedEntry> &entries);
    // Entries were trimmed before they were read, or too many came at once: read the list again.
    void fellBehind();

private:
    void deliver(const FeedRead &read);

    db::Connection &m_connection;
    QTimer m_timer;
    bool m_running = false;
    qint64 m_dataVersion = -1;
    qint64 m_seen = 0;
    // Server registers only.
    QThread m_thread;
    ServerFeedWorker *m_worker = nullptr;
};

} // namespace lianbu::data
