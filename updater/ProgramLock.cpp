#include "updater/ProgramLock.h"

#include <cerrno>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lianbu::updater {

#ifdef _WIN32

// Windows: a byte-range lock (LockFileEx) far past the end of the executable stands for flock's
// whole-file lock, so it never gets in the way of reading the file. Handles are not inherited by
// the processes the program starts.
namespace {
std::mutex lockMutex;
HANDLE lockHandle = INVALID_HANDLE_VALUE;

std::wstring wide(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(std::size_t(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
    return out;
}

// Sharing everything, deletion included: the updater must be able to rename the old executable
// aside while program handles are still open.
HANDLE openExecutable(const std::string &path)
{
    return CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

OVERLAPPED lockPlace()
{
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

bool lockRange(HANDLE handle, bool exclusive)
{
    OVERLAPPED at = lockPlace();
    return LockFileEx(handle, LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0, 1, 0, &at);
}

void unlockRange(HANDLE handle)
{
    OVERLAPPED at = lockPlace();
    UnlockFileEx(handle, 0, 1, 0, &at);
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y)
           && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh
           && x.nFileIndexLow == y.nFileIndexLow;
}

void closeHeld()
{
    if (lockHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(lockHandle);
        lockHandle = INVALID_HANDLE_VALUE;
    }
}
} // namespace

bool holdProgramLock(const std::string &executablePath)
{
    const std::lock_guard guard(lockMutex);
    closeHeld();
    const HANDLE handle = openExecutable(executablePath);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (!lockRange(handle, false)) {
        CloseHandle(handle);
        return false;
    }
    lockHandle = handle;
    return true;
}

bool holdOwnProgramLock()
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0 || n >= path.size())
        return false;
    path.resize(n);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), int(n), nullptr, 0, nullptr, nullptr);
    std::string utf8(std::size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), int(n), utf8.data(), bytes, nullptr, nullptr);
    return !utf8.empty() && holdProgramLock(utf8);
}

void releaseProgramLock()
{
    const std::lock_guard guard(lockMutex);
    closeHeld();
}

bool programLockHeld()
{
    const std::lock_guard guard(lockMutex);
    return lockHandle != INVALID_HANDLE_VALUE;
}

bool otherInstanceRunning(const std::string &executablePath)
{
    const std::lock_guard guard(lockMutex);
    const HANDLE handle = openExecutable(executablePath);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Our own shared lock conflicts with an exclusive one from any handle: it is let go for the
    // question and taken again.
    const bool ownLockHere = lockHandle != INVALID_HANDLE_VALUE && sameFile(handle, lockHandle);
    if (ownLockHere)
        unlockRange(lockHandle);
    const bool alone = lockRange(handle, true);
    if (alone)
        unlockRange(handle);
    if (ownLockHere)
        lockRange(lockHandle, false);
    CloseHandle(handle);
    return !alone;
}

ExclusiveProgramLock::Attempt ExclusiveProgramLock::tryTake(const std::string &executablePath, int &systemError)
{
    if (m_held)
        return Attempt::Taken;
    if (m_handle == -1) {
        const HANDLE handle = openExecutable(executablePath);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return Attempt::NoProgram;
            systemError = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES : EIO;
            return Attempt::Failed;
        }
        m_handle = reinterpret_cast<std::intptr_t>(handle);
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(m_handle);
    if (lockRange(handle, true)) {
        m_held = true;
        return Attempt::Taken;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
        return Attempt::Busy;
    systemError = EIO;
    release();
    return Attempt::Failed;
}

void ExclusiveProgramLock::release()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
    m_held = false;
}

#else

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

ExclusiveProgramLock::Attempt ExclusiveProgramLock::tryTake(const std::string &executablePath, int &systemError)
{
    if (m_held)
        return Attempt::Taken;
    if (m_handle == -1) {
        const int fd = ::open(executablePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                return Attempt::NoProgram;
            systemError = errno;
            return Attempt::Failed;
        }
        m_handle = fd;
    }
    if (::flock(int(m_handle), LOCK_EX | LOCK_NB) == 0) {
        m_held = true;
        return Attempt::Taken;
    }
    if (errno == EWOULDBLOCK || errno == EINTR)
        return Attempt::Busy;
    systemError = errno;
    release();
    return Attempt::Failed;
}

void ExclusiveProgramLock::release()
{
    if (m_handle != -1)
        ::close(int(m_handle));
    m_handle = -1;
    m_held = false;
}

#endif

} // namespace lianbu::updater
