#include "bench/CpuTime.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <unistd.h>

namespace lianbu::bench {

double clockMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double threadsCpuMs(const char *name)
{
    double total = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name || !stat.open(QIODevice::ReadOnly))
            continue;
        // utime and stime: the 14th and 15th fields, after the name in parentheses.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
#ifdef _SC_CLK_TCK // only where /proc exists
        if (fields.size() > 12)
            total += (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
#endif
    }
    return total;
}

} // namespace lianbu::bench
