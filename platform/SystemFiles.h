#pragma once

// The few file-system calls that a file replaced by an atomic rename needs, for POSIX systems
// and for Windows. Plain C++ without Qt, so the stand-alone updater can use them too. Paths are
// UTF-8; results are 0 or an errno value (EACCES, ENOSPC, EEXIST, ...), descriptors are the C
// library's.

#include <cstddef>
#include <string>
#include <vector>

namespace lianbu::files {

// Creates a new file for writing; fails with EEXIST when the name is taken. `ownerOnly`: only the
// owner may read it (where the system has such permissions). Not inherited by child processes.
// Returns the descriptor, or minus the errno value.
int createNew(const std::string &path, bool ownerOnly);
// Opens an existing file for reading (not inherited by child processes): descriptor or -errno.
int openForReading(const std::string &path);
// Opens an existing file this process wrote, to flush it with syncFile() before it takes its
// final name: descriptor or -errno. Windows flushes only through a handle that may write.
int openForSyncing(const std::string &path);
// Reads up to `size` bytes (retrying after interruptions): the count, 0 at the end, or -errno.
long long readSome(int fd, char *data, std::size_t size);
// Writes all of data (retrying after interruptions): 0 or errno (EIO when nothing was written).
int writeAll(int fd, const char *data, std::size_t size);
// Flushes the file's data to the disk and reports its size.
int syncFile(int fd, long long *size);
// The permission bits for the file (POSIX mode); nothing to do on Windows.
int setMode(int fd, int mode);
// The permission bits of an existing regular file, or -1 (no file, or not a regular one).
int modeOf(const std::string &path);
int closeFile(int fd);
// Gives `from` the name `to`, replacing a file of that name in one step: the name holds the old
// or the new file at every moment. Windows, where a file held open cannot be replaced: see
// isAsideName.
int replaceFile(const std::string &from, const std::string &to);
// On Windows, replaceFile lets an old file that a handle holds open step aside as
// "<name>.old-<process>-<n>" and deletes it; a deletion the system refuses (a program's image
// still mapped) leaves it behind. True for such a name, for the sweeps that remove them later.
bool isAsideName(const std::string &name);
// Gives an existing file a second name (a hard link on the same volume); EEXIST when that name is
// taken.
int hardLink(const std::string &existing, const std::string &newName);
// Makes a rename in the folder of `path` durable (POSIX: the folder synced; Windows: the rename
// is written through already).
void syncFolderOf(const std::string &path);
// Removes a file; a missing one is no error.
int removeFile(const std::string &path);

// What a name stands for, links not followed (a symbolic link or a Windows reparse point is
// Other).
enum class Kind { Missing, Regular, Folder, Other };
Kind kindOf(const std::string &path, unsigned long long *size = nullptr);
// Both names lead to the same file (device and inode, or volume and file index).
bool sameFile(const std::string &a, const std::string &b);
// The names in a folder ("" is the working folder), "." and ".." left out; empty if unreadable.
std::vector<std::string> namesIn(const std::string &folder);
// Opens an existing file for reading, refusing a symbolic link in its place: descriptor or -errno.
int openForReadingNoLink(const std::string &path);
// The permission bits of a file by its name (POSIX mode); nothing to do on Windows.
int setModeOf(const std::string &path, int mode);
// Creates `path` if needed and holds it exclusively until the descriptor is closed (by
// closeFile or the end of the process): the descriptor, or -EWOULDBLOCK while another holds it,
// or minus another errno.
int holdExclusively(const std::string &path);

// False where the system refuses to start programs from that folder (a POSIX file system
// mounted noexec); Windows has no such refusal.
bool folderAllowsPrograms(const std::string &folder);
// Makes a new folder named `prefix` followed by six random characters that only this user can
// enter: its path, or empty. Windows: the folders under the user's profile are private by
// their inherited access lists.
std::string makePrivateFolder(const std::string &prefix);
// A folder (not a link to one) that this user owns; on Windows, any folder.
bool isOwnFolder(const std::string &path);
// Removes an empty folder: 0 or errno.
int removeFolder(const std::string &path);

} // namespace lianbu::files
