#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace lianbu {

// The program's single source of "now"; tests set a fixed moment.
QDateTime now();
QDate today();
// Fixes "now" to the given moment (tests); an invalid QDateTime returns to the system clock.
void setFixedNow(const QDateTime &moment);

// A clock that only moves forward at the pace of real time, whatever the system clock or the
// time zone do (milliseconds from an arbitrary start). While tests fix "now", it follows the
// fixed moment instead, so they can move it.
qint64 monotonicMilliseconds();

// Date text: yyyy-MM-dd.
QString dateText(const QDate &date);
// Date-time text: date text, one blank, H:mm:ss; only the date at exactly midnight.
QString dateTimeText(const QDateTime &moment);

} // namespace lianbu
