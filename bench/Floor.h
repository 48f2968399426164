#pragma once

#include <QString>

#include <functional>

namespace lianbu::bench {

// The floors: the least the machine needs for each job, measured through SQLite's own
// interface (no Qt SQL layer, no conversion to Qt strings), median of several runs.
double medianMs(const std::function<void()> &work, int repeats = 5);
// The same, for work that needs to know which run it is (a different customer each time).
double medianMs(const std::function<void(int run)> &work, int repeats);

// Every rowid of data in order, then the first screen (40 rows, every column as text) by key.
double keysAndFirstScreenMs(const QString &path);
// Every column of every row read as text.
double everyRowMs(const QString &path);
// The statement's result (its first column, the rowid) read completely.
double statementMs(const QString &path, const QString &sql, int *rows = nullptr);
// The first `rows` rows, every column read as text and written to a file in `folder` (the bytes
// a spreadsheet export has to write at the least).
double readAndWriteMs(const QString &path, int rows, const QString &folder);

} // namespace lianbu::bench
