#include "platform/Clock.h"

#include <QMutex>
#include <QMutexLocker>

#include <chrono>

namespace lianbu {

namespace {

// now() may be asked from the upgrader's worker thread as well.
QMutex &clockMutex()
{
    static QMutex mutex;
    return mutex;
}

QDateTime &fixedMoment()
{
    static QDateTime moment;
    return moment;
}

} // namespace

QDateTime now()
{
    {
        QMutexLocker lock(&clockMutex());
        if (fixedMoment().isValid())
            return fixedMoment();
    }
    return QDateTime::currentDateTime();
}

qint64 monotonicMilliseconds()
{
    {
        QMutexLocker lock(&clockMutex());
        if (fixedMoment().isValid())
            return fixedMoment().toMSecsSinceEpoch();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QDate today()
{
    return now().date();
}

void setFixedNow(const QDateTime &moment)
{
    QMutexLocker lock(&clockMutex());
    fixedMoment() = moment;
}

QString dateText(const QDate &date)
{
    if (!date.isValid())
        return {};
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString dateTimeText(const QDateTime &moment)
{
    if (!moment.isValid())
        return {};
    const QString date = dateText(moment.date());
    // A date-time whose time part is exactly zero shows as the bare date.
    if (moment.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + moment.time().toString(QStringLiteral("H:mm:ss"));
}

} // namespace lianbu
