#pragma once

#include <QString>

namespace lianbu::data {
class ChangeWatcher;
class CustomerListModel;
} // namespace lianbu::data

namespace lianbu::bench {

// What another program instance writes reaching this one's list, the other instance being a
// process of its own on the same register (bench/OtherInstance): the watcher's processor time
// while nothing is written (5 s, twice), the time until each of five single additions shows in
// the list, and the window thread's longest wait while 1,000 changed and then 1,000 added
// customers arrive in one transaction each (then the background reread, and the additions
// taken away again). The list must show (or be loading) every record, and the watcher be
// connected as the main window connects it; it is started here when it is not running. Prints the rows of a table of `wall ms | CPU ms | target`.
void measureLiveChanges(data::CustomerListModel &list, data::ChangeWatcher &watcher, const QString &address,
                        double latencyTargetMs);

} // namespace lianbu::bench
