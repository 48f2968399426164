#include "tests/support/BoundedRun.h"

#include "platform/Error.h"

#include <QByteArray>
#include <QFile>

#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LIANBU_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define LIANBU_UNDER_SANITIZER 1
#endif
#endif

namespace lianbu::test {

namespace {

// A field of /proc/self/status in kB ("VmHWM", "VmRSS", "VmSize"); -1 when missing.
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

} // namespace

bool underSanitizer()
{
#ifdef LIANBU_UNDER_SANITIZER
    return true;
#else
    return false;
#endif
}

BoundedOutcome runBounded(const std::function<void()> &work, int limitMb)
{
    BoundedOutcome outcome;
    int channel[2];
    if (::pipe(channel) != 0)
        return outcome;
    const pid_t child = ::fork();
    if (child < 0)
        return outcome;
    if (child == 0) {
        ::close(channel[0]);
        if (!underSanitizer()) {
            const rlim_t size = rlim_t(statusKb("VmSize")) * 1024;
            const rlimit limit{size + rlim_t(limitMb) * 1024 * 1024, size + rlim_t(limitMb) * 1024 * 1024};
            ::setrlimit(RLIMIT_AS, &limit);
            // Start the peak over from what the child holds now.
            QFile clear(QStringLiteral("/proc/self/clear_refs"));
            if (clear.open(QIODevice::WriteOnly))
                clear.write("5");
        }
        const qint64 before = statusKb("VmHWM");
        QByteArray report;
        try {
            work();
            report = "returned\n";
        } catch (const Error &error) {
            report = "threw\n" + error.message().toUtf8();
        } catch (const std::bad_alloc &) {
            report = "out of memory\n";
        } catch (...) {
            report = "other exception\n";
        }
        const qint64 growth = underSanitizer() ? -1 : statusKb("VmHWM") - before;
        writeAll(channel[1], QByteArray::number(growth) + '\n' + report);
        ::close(channel[1]);
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const qsizetype first = answer.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : answer.indexOf('\n', first + 1);
    if (second < 0) {
        outcome.message = WIFSIGNALED(status) ? QStringLiteral("killed by signal %1").arg(WTERMSIG(status))
                                              : QStringLiteral("no report");
        return outcome;
    }
    outcome.ran = true;
    outcome.peakGrowthKb = answer.left(first).toLongLong();
    const QByteArray how = answer.mid(first + 1, second - first - 1);
    outcome.threw = how == "threw";
    outcome.message = outcome.threw ? QString::fromUtf8(answer.mid(second + 1)) : QString::fromUtf8(how);
    return outcome;
}

} // namespace lianbu::test
