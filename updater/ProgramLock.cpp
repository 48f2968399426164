#include "updater/ProgramLock.h"

#include <climits>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lianbu::updater {

namespace {
std::mutex lockMutex;
int lockFd = -1;
} // namespace

bool holdProgramLock(const std::string &executablePath)
{
    const std::lock_guard guard(lockMutex);
    if (lockFd >= 0) {
        ::close(lockFd);
        lockFd = -1;
    }
    const int fd = ::open(executablePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd = fd;
    return true;
}

bool holdOwnProgramLock()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return false;
    return holdProgramLock(std::string(path, static_cast<std::size_t>(n)));
}

void releaseProgramLock()
{
    const std::lock_guard guard(lockMutex);
    if (lockFd >= 0) {
        ::close(lockFd);
        lockFd = -1;
    }
}

bool programLockHeld()
{
    const std::lock_guard guard(lockMutex);
    return lockFd >= 0;
}

bool otherInstanceRunning(const std::string &executablePath)
{
    const std::lock_guard guard(lockMutex);
    if (lockFd >= 0) {
        // Our own shared lock becomes exclusive only when no other process shares it; then it is
        // made shared again.
        const bool alone = ::flock(lockFd, LOCK_EX | LOCK_NB) == 0;
        ::flock(lockFd, LOCK_SH | LOCK_NB);
        if (alone)
            return false;
        // The lock may be on another file than executablePath: then ask that file itself.
    }
    const int fd = ::open(executablePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat own
    {
    }, other{};
    const bool sameAsHeld = lockFd >= 0 && ::fstat(lockFd, &own) == 0 && ::fstat(fd, &other) == 0
                            && own.st_dev == other.st_dev && own.st_ino == other.st_ino;
    bool running = false;
    if (sameAsHeld) {
        running = true; // the exclusive attempt above failed on this very file
    } else {
        running = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    }
    ::close(fd);
    return running;
}

} // namespace lianbu::updater
