#pragma once

#include <QApplication>
#include <QCursor>

namespace lianbu {

// The hourglass for the whole program while a long job runs; restored however the job ends.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace lianbu
