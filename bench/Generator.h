#pragma once

#include <QString>

namespace lianbu::db {
class Connection;
}

namespace lianbu::bench {

// True when the register still has the sort keys of the former layout (data_sortkeys).
bool hasFormerSortKeys(db::Connection &connection);

// Fills the delivered register at `path` with `rows` realistic customers: Chinese names,
// companies and their short names, addresses across the provinces, mobile and fixed-line
// numbers, e-mail addresses, categories, dates, a note on some. Deterministic for a size.
// Written through SQLite's own interface in one transaction (the index triggers run as they
// would for the program).
void fillRegister(const QString &path, int rows);

// A cached copy of a filled register for `rows` in `folder` (made once; copied for each run).
QString cachedRegister(const QString &folder, int rows);

// Adds `count` follow-ups to the filled register at `path` (upgraded to hold them): about three
// per customer over the last three years, one in ten with a next contact, most of those kept, the
// rest due around today. Deterministic for a size; one transaction.
void fillFollowUps(const QString &path, int customers, int count);

// A cached copy of the register for `rows` with `followUps` follow-ups (made once from the
// cached register of `rows`).
QString cachedRegisterWithFollowUps(const QString &folder, int rows, int followUps);

} // namespace lianbu::bench
