#pragma once

// The few file-system calls that a file replaced by an atomic rename needs, for POSIX systems
// and for Windows. Plain C++ without Qt, so the stand-alone updater can use them too. Paths are
// UTF-8; results are 0 or an errno value (EACCES, ENOSPC, EEXIST, ...), descriptors are the C
// library's.

#include <cstddef>
#include <string>

namespace lianbu::files {

// Creates a new file for writing; fails with EEXIST when the name is taken. `ownerOnly`: only the
// owner may read it (where the system has such permissions). Not inherited by child processes.
// Returns the descriptor, or minus the errno value.
int createNew(const std::string &path, bool ownerOnly);
// Opens an existing file for reading (not inherited by child processes): descriptor or -errno.
int openForReading(const std::string &path);
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
// or the new file at every moment.
int replaceFile(const std::string &from, const std::string &to);
// Gives an existing file a second name (a hard link on the same volume); EEXIST when that name is
// taken.
int hardLink(const std::string &existing, const std::string &newName);
// Makes a rename in the folder of `path` durable (POSIX: the folder synced; Windows: the rename
// is written through already).
void syncFolderOf(const std::string &path);
// Removes a file; a missing one is no error.
int removeFile(const std::string &path);

} // namespace lianbu::files
