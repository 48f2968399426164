#include "updater/ProgramLock.h"

#include <climits>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace lianbu::updater {

namespace {
std::mutex lockMutex;
int lockFd = -1;
} // namespace

bool holdProgramLock(const std::string &executablePath) {
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

bool holdOwnProgramLock() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0)
    return false;
  return holdProgramLock(std::string(path, static_cast<std::size_t>(n)));
}

void releaseProgramLock() {
  const std::lock_guard guard(lockMutex);
  if (lockFd >= 0) {
    ::close(lockFd);
    lockFd = -1;
  }
}

bool programLockHeld() {
  const std::lock_guard guard(lockMutex);
  return lockFd >= 0;
}

} // namespace lianbu::updater
