#include "platform/SystemFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace lianbu::files {

#ifdef _WIN32

namespace {

std::wstring wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    default:
        return EIO;
    }
}

} // namespace

int createNew(const std::string &path, bool ownerOnly)
{
    // Files under the user's profile are private by the folders' inherited access lists.
    (void)ownerOnly;
    const int fd =
        _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return fd >= 0 ? fd : -errno;
}

int openForReading(const std::string &path)
{
    const int fd = _wopen(wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    return fd >= 0 ? fd : -errno;
}

long long readSome(int fd, char *data, std::size_t size)
{
    const int n = _read(fd, data, unsigned(size > 0x40000000 ? 0x40000000 : size));
    return n >= 0 ? n : -errno;
}

int writeAll(int fd, const char *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const unsigned chunk = unsigned(size - done > 0x40000000 ? 0x40000000 : size - done);
        const int n = _write(fd, data + done, chunk);
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += std::size_t(n);
    }
    return 0;
}

int syncFile(int fd, long long *size)
{
    if (_commit(fd) != 0)
        return errno;
    struct _stat64 status
    {};
    if (_fstat64(fd, &status) != 0)
        return errno;
    if (size)
        *size = status.st_size;
    return 0;
}

int setMode(int, int)
{
    return 0;
}

int modeOf(const std::string &path)
{
    struct _stat64 status
    {};
    if (_wstat64(wide(path).c_str(), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
        return -1;
    return int(status.st_mode & 0777);
}

int closeFile(int fd)
{
    return _close(fd) == 0 ? 0 : errno;
}

int replaceFile(const std::string &from, const std::string &to)
{
    // Replaces the target in one step (a file of that name open by another program without
    // sharing its deletion refuses); written through, so the new name survives a power cut.
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return errnoOf(GetLastError());
}

int hardLink(const std::string &existing, const std::string &newName)
{
    if (CreateHardLinkW(wide(newName).c_str(), wide(existing).c_str(), nullptr))
        return 0;
    return errnoOf(GetLastError());
}

void syncFolderOf(const std::string &) {}

int removeFile(const std::string &path)
{
    if (DeleteFileW(wide(path).c_str()))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : errnoOf(error);
}

#else

int createNew(const std::string &path, bool ownerOnly)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? S_IRUSR | S_IWUSR : 0666);
    return fd >= 0 ? fd : -errno;
}

int openForReading(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

long long readSome(int fd, char *data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -errno;
    }
}

int writeAll(int fd, const char *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        done += std::size_t(n);
    }
    return 0;
}

int syncFile(int fd, long long *size)
{
    if (::fsync(fd) != 0)
        return errno;
    struct stat status
    {};
    if (::fstat(fd, &status) != 0)
        return errno;
    if (size)
        *size = status.st_size;
    return 0;
}

int setMode(int fd, int mode)
{
    return ::fchmod(fd, mode_t(mode)) == 0 ? 0 : errno;
}

int modeOf(const std::string &path)
{
    struct stat status
    {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return int(status.st_mode & 07777);
}

int closeFile(int fd)
{
    return ::close(fd) == 0 ? 0 : errno;
}

int replaceFile(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int hardLink(const std::string &existing, const std::string &newName)
{
    return ::link(existing.c_str(), newName.c_str()) == 0 ? 0 : errno;
}

void syncFolderOf(const std::string &path)
{
    // The rename itself is on the disk only once the folder is.
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int removeFile(const std::string &path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

#endif

} // namespace lianbu::files
