#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// The register's change feed: one row per write of a customer (added, changed, deleted) or of
// one of its follow-ups, with a number that only grows, written by triggers in the transaction of
// the write itself, so every writer (another program instance, psql, an import) is in it and a
// write rolled back leaves nothing. Other instances read it from the last number they saw to
// follow what changed without reading the customers again. Only the customer's own columns count:
// a write of other columns of data (stored sort keys) is not a change.
//
// The feed keeps the newest kChangeFeedLength numbers; a reader further behind reloads its list.
inline constexpr char kChangeFeedTable[] = "customer_changes";
inline constexpr qint64 kChangeFeedLength = 10000;
// The channel the server's triggers notify at the commit of a write.
inline constexpr char kChangeFeedChannel[] = "customer_changes";

enum class FeedKind {
    Added,
    Changed,
    Deleted,
    FollowUps, // a follow-up of the customer was written: its dates may have moved
};

struct FeedEntry
{
    qint64 number = 0;
    qint64 customer = 0;
    FeedKind kind = FeedKind::Changed;
    QString time;         // UTC, as the register's clock wrote it
    QString operatorName; // empty when the writer named none
    bool operator==(const FeedEntry &) const = default;
};

// The table (and on SQLite its triggers), for a new register and the upgrade.
QStringList changeFeedStatements(const db::Engine &engine);
// The server's triggers (they also notify kChangeFeedChannel); run by the register's owner, after
// a copy of rows into a new register, so copied rows are nobody's change.
QStringList serverChangeFeedStatements();

struct FeedRead
{
    std::vector<FeedEntry> entries; // in number order
    qint64 newest = 0;              // the last number read (or `after` when none)
    // Numbers after `after` were trimmed away before they were read: the reader cannot know what
    // changed and reads its list again.
    bool fellBehind = false;
};

// The newest number of the feed (0 when it is empty): where a reader starts.
qint64 newestChange(db::Connection &connection);
// The entries after number `after`, at most `limit` of them (more: fellBehind, as a reader that
// far behind reloads anyway).
FeedRead readChanges(db::Connection &connection, qint64 after, int limit = 5000);

} // namespace lianbu::data
