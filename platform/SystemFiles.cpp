#include "platform/SystemFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cstdio>
#include <dirent.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace lianbu::files {

bool isAsideName(const std::string &name)
{
    // <name>.old-<digits>-<digits>
    const std::size_t at = name.rfind(".old-");
    if (at == std::string::npos || at == 0)
        return false;
    const std::string tail = name.substr(at + 5);
    const std::size_t dash = tail.find('-');
    const auto digits = [](const std::string &text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    return dash != std::string::npos && digits(tail.substr(0, dash)) && digits(tail.substr(dash + 1));
}

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

int openForSyncing(const std::string &path)
{
    const int fd = _wopen(wide(path).c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
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
    // Replaces the target in one step; written through, so the new name survives a power cut.
    const std::wstring source = wide(from), target = wide(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED)
        return errnoOf(error);
    // A folder in the file's place is refused, as POSIX rename() refuses it; it never steps aside.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EISDIR;
    // Windows does not replace a file that a handle holds open, even one that shares its
    // deletion (the updater's lock on the old executable). Such a file can still be renamed:
    // it steps aside, the new file takes the name, and the old one is deleted once its last
    // handle closes, as a POSIX rename leaves it to its readers. A holder that does not share
    // deletion still refuses. Two renames: for an instant the name is free.
    static LONG counter = 0;
    const std::wstring aside = target + L".old-" + std::to_wstring(GetCurrentProcessId()) + L"-"
                               + std::to_wstring(InterlockedIncrement(&counter));
    if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH))
        return errnoOf(error);
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD second = GetLastError();
        MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        return errnoOf(second);
    }
    DeleteFileW(aside.c_str());
    return 0;
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

Kind kindOf(const std::string &path, unsigned long long *size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data))
        return Kind::Missing;
    if (size)
        *size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Kind::Other;
    return data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::Regular;
}

bool sameFile(const std::string &a, const std::string &b)
{
    const auto open = [](const std::string &path) {
        return CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    const HANDLE x = open(a);
    if (x == INVALID_HANDLE_VALUE)
        return false;
    const HANDLE y = open(b);
    BY_HANDLE_FILE_INFORMATION ix{}, iy{};
    const bool same = y != INVALID_HANDLE_VALUE && GetFileInformationByHandle(x, &ix)
                      && GetFileInformationByHandle(y, &iy) && ix.dwVolumeSerialNumber == iy.dwVolumeSerialNumber
                      && ix.nFileIndexHigh == iy.nFileIndexHigh && ix.nFileIndexLow == iy.nFileIndexLow;
    CloseHandle(x);
    if (y != INVALID_HANDLE_VALUE)
        CloseHandle(y);
    return same;
}

std::vector<std::string> namesIn(const std::string &folder)
{
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\')
        pattern += '/';
    pattern += '*';
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(wide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const int n = WideCharToMultiByte(CP_UTF8, 0, name.data(), int(name.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(std::size_t(n > 0 ? n : 0), '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, name.data(), int(name.size()), utf8.data(), n, nullptr, nullptr);
        names.push_back(utf8);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

int openForReadingNoLink(const std::string &path)
{
    if (kindOf(path) == Kind::Other)
        return -ELOOP;
    return openForReading(path);
}

int setModeOf(const std::string &, int)
{
    return 0;
}

int holdExclusively(const std::string &path)
{
    // Shared with nobody: a second holder's open fails with a sharing violation. The system
    // closes the handle when the process ends, however it ends.
    const HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION ? -EWOULDBLOCK : -errnoOf(error);
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(handle);
        return -EIO;
    }
    return fd;
}

bool folderAllowsPrograms(const std::string &folder)
{
    return kindOf(folder) == Kind::Folder;
}

std::string makePrivateFolder(const std::string &prefix)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    LARGE_INTEGER seed{};
    QueryPerformanceCounter(&seed);
    unsigned long long state = static_cast<unsigned long long>(seed.QuadPart) ^ (GetCurrentProcessId() * 2654435761ull);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = prefix;
        for (int i = 0; i < 6; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            path += letters[(state >> 33) % (sizeof letters - 1)];
        }
        if (CreateDirectoryW(wide(path).c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

bool isOwnFolder(const std::string &path)
{
    return kindOf(path) == Kind::Folder;
}

int removeFolder(const std::string &path)
{
    return RemoveDirectoryW(wide(path).c_str()) ? 0 : errnoOf(GetLastError());
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

Kind kindOf(const std::string &path, unsigned long long *size)
{
    struct stat status
    {};
    if (::lstat(path.c_str(), &status) != 0)
        return Kind::Missing;
    if (size)
        *size = static_cast<unsigned long long>(status.st_size);
    return S_ISREG(status.st_mode) ? Kind::Regular : S_ISDIR(status.st_mode) ? Kind::Folder : Kind::Other;
}

bool sameFile(const std::string &a, const std::string &b)
{
    struct stat sa
    {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

std::vector<std::string> namesIn(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

int openForSyncing(const std::string &path)
{
    return openForReading(path);
}

int openForReadingNoLink(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

int setModeOf(const std::string &path, int mode)
{
    return ::chmod(path.c_str(), mode_t(mode)) == 0 ? 0 : errno;
}

int holdExclusively(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return -errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? -EWOULDBLOCK : -error;
    }
    return fd;
}

bool folderAllowsPrograms(const std::string &folder)
{
    struct statvfs vfs
    {};
    if (::statvfs(folder.c_str(), &vfs) != 0)
        return false;
    return (vfs.f_flag & ST_NOEXEC) == 0;
}

std::string makePrivateFolder(const std::string &prefix)
{
    std::string pattern = prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    struct stat st
    {};
    if (::lstat(pattern.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
        || (st.st_mode & 077) != 0) {
        ::rmdir(pattern.c_str());
        return {};
    }
    return pattern;
}

bool isOwnFolder(const std::string &path)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

int removeFolder(const std::string &path)
{
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

#endif

} // namespace lianbu::files
