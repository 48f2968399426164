#pragma once

#include <QString>

namespace lianbu::db {
class Connection;
}

namespace lianbu::bench {

// Adds many customers to a register on a PostgreSQL server at the server's own pace: `insert` is
// an "insert into data (...) select ..." statement whose rows take their keys from data's
// identity or name them. Within one transaction the per-row triggers of data are off (for that
// transaction only: other sessions wait for its lock and never see them off), the rows go in, and
// what those triggers would have written is written set-wise: the change log's 新增 entries, the
// change feed's newest entries with its numbers moved on as far, and the stale list of the pinyin
// initials. The register is then what the same statement through the triggers would have made.
// Refuses (lianbu::Error, nothing changed) when data has a trigger not named here, as its work
// would be missing. Returns the number of rows added.
qint64 fillWithoutRowTriggers(db::Connection &connection, const QString &insert);

} // namespace lianbu::bench
