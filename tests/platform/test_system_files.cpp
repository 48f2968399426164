// The file calls under the atomic file replacement, on this system: new files, complete writes,
// replacement in one step, and the errors callers turn into messages. Plain C++ (no Qt), so the
// Windows build runs it under Wine as the Linux build runs it here.
#include "platform/SystemFiles.h"
#include "tests/support/PlainChecks.h"
#include "tests/support/PlainFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

using namespace lianbu;

namespace {

// A fresh folder for the run, in the system's temporary folder.
std::string makeFolder()
{
#ifdef _WIN32
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    std::string folder = std::string(base) + "lianbu-files-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
#else
    char name[] = "/tmp/lianbu-files-XXXXXX";
    const char *made = mkdtemp(name);
    return made ? std::string(made) + "/" : std::string();
#endif
}

using plaintest::readAll;

// Writes a whole file under `path` (new), synced and closed: 0 or errno.
int writeNew(const std::string &path, const std::string &bytes)
{
    const int fd = files::createNew(path, false);
    if (fd < 0)
        return -fd;
    long long size = -1;
    int error = files::writeAll(fd, bytes.data(), bytes.size());
    if (error == 0)
        error = files::syncFile(fd, &size);
    files::closeFile(fd);
    if (error == 0 && size != static_cast<long long>(bytes.size()))
        error = EIO;
    return error;
}

void newFilesAndTheirNames(const std::string &folder)
{
    const std::string path = folder + "new.txt";
    CHECK(writeNew(path, "first") == 0);
    CHECK(readAll(path) == "first");
    // The name is taken: a second new file under it is refused and the first one stays.
    const int again = files::createNew(path, true);
    CHECK(again == -EEXIST);
    CHECK(readAll(path) == "first");
    // A name in a folder that does not exist.
    CHECK(files::createNew(folder + "no-such-folder/x.txt", false) == -ENOENT);
    CHECK(files::openForReading(folder + "missing.txt") == -ENOENT);
    // Chinese names reach the system as the same characters.
    const std::string chinese = folder + "资料 备份.txt";
    CHECK(writeNew(chinese, "联簿宝") == 0);
    CHECK(readAll(chinese) == "联簿宝");
    // A large write arrives whole.
    const std::string large(3 * 1024 * 1024 + 7, 'x');
    CHECK(writeNew(folder + "large.bin", large) == 0);
    CHECK(readAll(folder + "large.bin").size() == large.size());
}

void replacementInOneStep(const std::string &folder)
{
    const std::string target = folder + "register.ini";
    const std::string incoming = folder + ".register.ini.tmp";
    CHECK(writeNew(target, "old") == 0);
    CHECK(writeNew(incoming, "new") == 0);
    CHECK(files::replaceFile(incoming, target) == 0);
    CHECK(readAll(target) == "new");
    CHECK(readAll(incoming) == "<missing>");
    // A target that does not exist yet is simply named.
    CHECK(writeNew(incoming, "fresh") == 0);
    CHECK(files::replaceFile(incoming, folder + "fresh.ini") == 0);
    CHECK(readAll(folder + "fresh.ini") == "fresh");
    // Into a missing folder: refused, and the file keeps its name.
    CHECK(writeNew(incoming, "kept") == 0);
    CHECK(files::replaceFile(incoming, folder + "no-such-folder/x.ini") == ENOENT);
    CHECK(readAll(incoming) == "kept");
    CHECK(files::removeFile(incoming) == 0);
    CHECK(readAll(incoming) == "<missing>");
    CHECK(files::removeFile(incoming) == 0); // already gone: no error
}

// Windows refuses to replace a file another program holds open without sharing its deletion (as
// a running program's own executable is held); POSIX systems replace the name and the reader keeps
// the old file. Either way the name never holds a half-written file.
void replacingAFileHeldOpen(const std::string &folder)
{
    const std::string target = folder + "held.txt";
    const std::string incoming = folder + ".held.txt.tmp";
    CHECK(writeNew(target, "old") == 0);
    CHECK(writeNew(incoming, "new") == 0);
#ifdef _WIN32
    const int n = MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, nullptr, 0);
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, wide.data(), n);
    HANDLE held = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    CHECK(files::replaceFile(incoming, target) == EACCES);
    CloseHandle(held);
    CHECK(readAll(target) == "old");
    CHECK(readAll(incoming) == "new");
    CHECK(files::replaceFile(incoming, target) == 0);
    // A holder that shares deletion (the updater's lock on the old executable) keeps reading the
    // old file while the name gets the new one, and the old file goes when it lets go.
    CHECK(writeNew(incoming, "newer") == 0);
    held = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    CHECK(files::replaceFile(incoming, target) == 0);
    CHECK(readAll(target) == "newer");
    CHECK(readAll(incoming) == "<missing>");
    char before[8] = {};
    DWORD got = 0;
    CHECK(ReadFile(held, before, sizeof before, &got, nullptr) && got == 3 && std::string(before, got) == "new");
    CloseHandle(held);
    for (const std::string &name : files::namesIn(folder))
        CHECK(name.rfind("held.txt.old-", 0) != 0);
    CHECK(writeNew(incoming, "new") == 0);
    CHECK(files::replaceFile(incoming, target) == 0);
#else
    const int held = files::openForReading(target);
    CHECK(held >= 0);
    CHECK(files::replaceFile(incoming, target) == 0);
    char old[8] = {};
    CHECK(::read(held, old, sizeof old) == 3 && std::string(old) == "old");
    files::closeFile(held);
#endif
    // A file written and closed is flushed again before it takes its name (a backup SQLite wrote):
    // Windows refuses to flush through a handle that only reads.
    CHECK(writeNew(incoming, "synced") == 0);
    const int again = files::openForSyncing(incoming);
    long long syncedSize = 0;
    CHECK(again >= 0 && files::syncFile(again, &syncedSize) == 0 && syncedSize == 6);
    CHECK(files::closeFile(again) == 0);
    CHECK(files::replaceFile(incoming, target) == 0);
    CHECK(readAll(target) == "synced");
    // A folder where the file should go is refused and stays where it is, with its contents.
    const std::string folderInTheWay = files::makePrivateFolder(folder + "in-the-way-");
    CHECK(!folderInTheWay.empty() && writeNew(folderInTheWay + "/kept.txt", "kept") == 0);
    CHECK(writeNew(incoming, "file") == 0);
    CHECK(files::replaceFile(incoming, folderInTheWay) != 0);
    CHECK(readAll(folderInTheWay + "/kept.txt") == "kept");
    CHECK(readAll(incoming) == "file");
    files::removeFile(incoming);
    files::removeFile(folderInTheWay + "/kept.txt");
    files::removeFolder(folderInTheWay);
    // Reading a descriptor open for writing only is an error, not the end of the file.
    const int writeOnly = files::createNew(folder + "write-only.txt", false);
    char byte = 0;
    CHECK(writeOnly >= 0 && files::readSome(writeOnly, &byte, 1) < 0);
    files::closeFile(writeOnly);
    files::removeFile(folder + "write-only.txt");
    CHECK(readAll(target) == "synced");
}

// A second name for the same file: it keeps the old contents when the first name gets a new file.
void secondNames(const std::string &folder)
{
    const std::string first = folder + "register.db";
    const std::string second = folder + "register.db.replaced";
    CHECK(writeNew(first, "old register") == 0);
    CHECK(files::hardLink(first, second) == 0);
    CHECK(readAll(second) == "old register");
    CHECK(files::hardLink(first, second) == EEXIST);
    CHECK(files::hardLink(folder + "missing.db", folder + "other.db") == ENOENT);
    CHECK(readAll(folder + "other.db") == "<missing>");
    CHECK(writeNew(folder + ".incoming", "restored register") == 0);
    CHECK(files::replaceFile(folder + ".incoming", first) == 0);
    CHECK(readAll(first) == "restored register");
    CHECK(readAll(second) == "old register");
    files::removeFile(first);
    files::removeFile(second);
}

void modesOfFiles(const std::string &folder)
{
    CHECK(writeNew(folder + "mode.txt", "m") == 0);
    CHECK(files::modeOf(folder + "mode.txt") >= 0);
    CHECK(files::modeOf(folder + "missing.txt") == -1);
    CHECK(files::modeOf(folder.substr(0, folder.size() - 1)) == -1); // a folder is no file
#ifndef _WIN32
    const int fd = files::createNew(folder + "private.txt", true);
    CHECK(fd >= 0);
    CHECK(files::setMode(fd, 0640) == 0);
    files::closeFile(fd);
    CHECK(files::modeOf(folder + "private.txt") == 0640);
#endif
}

// What a name stands for, without following links, and which names a folder holds.
void kindsAndListings(const std::string &folder)
{
    const std::string sub = folder + "sub";
    CHECK(files::kindOf(sub) == files::Kind::Missing);
    CHECK(files::namesIn(sub).empty());
    const std::string made = files::makePrivateFolder(folder + "sub-");
    CHECK(!made.empty() && made.size() == folder.size() + 4 + 6);
    CHECK(files::kindOf(made) == files::Kind::Folder);
    CHECK(files::isOwnFolder(made));
    // Each call makes a folder of its own.
    const std::string other = files::makePrivateFolder(folder + "sub-");
    CHECK(!other.empty() && other != made);
    CHECK(writeNew(made + "/a.txt", "12345") == 0);
    CHECK(writeNew(made + "/资料.db", "") == 0);
    unsigned long long size = 0;
    CHECK(files::kindOf(made + "/a.txt", &size) == files::Kind::Regular && size == 5);
    CHECK(files::kindOf(made + "/资料.db", &size) == files::Kind::Regular && size == 0);
    std::vector<std::string> names = files::namesIn(made);
    std::sort(names.begin(), names.end());
    CHECK(names == std::vector<std::string>({"a.txt", "资料.db"}));
    std::vector<std::string> withSeparator = files::namesIn(made + "/");
    std::sort(withSeparator.begin(), withSeparator.end());
    CHECK(withSeparator == names);
    // A folder that still holds files stays.
    CHECK(files::removeFolder(made) != 0);
    CHECK(files::kindOf(made) == files::Kind::Folder);
    CHECK(files::isOwnFolder(folder + "missing") == false);
    CHECK(files::isOwnFolder(made + "/a.txt") == false);
    CHECK(files::folderAllowsPrograms(made));
    CHECK(!files::folderAllowsPrograms(folder + "missing"));

    // Same file: by a second name yes, by equal contents no.
    CHECK(files::hardLink(made + "/a.txt", made + "/b.txt") == 0);
    CHECK(writeNew(made + "/c.txt", "12345") == 0);
    CHECK(files::sameFile(made + "/a.txt", made + "/b.txt"));
    CHECK(!files::sameFile(made + "/a.txt", made + "/c.txt"));
    CHECK(!files::sameFile(made + "/a.txt", made + "/missing"));
    CHECK(readAll(made + "/b.txt") == "12345");
    const int fd = files::openForReadingNoLink(made + "/b.txt");
    CHECK(fd >= 0);
    files::closeFile(fd);
    CHECK(files::openForReadingNoLink(made + "/missing") == -ENOENT);
#ifndef _WIN32
    // A symbolic link is neither followed nor counted as a file.
    CHECK(::symlink((made + "/a.txt").c_str(), (made + "/link").c_str()) == 0);
    CHECK(files::kindOf(made + "/link") == files::Kind::Other);
    CHECK(files::openForReadingNoLink(made + "/link") < 0);
    CHECK(files::sameFile(made + "/link", made + "/a.txt")); // by what it leads to
    CHECK(files::setModeOf(made + "/a.txt", 0600) == 0 && files::modeOf(made + "/a.txt") == 0600);
    files::removeFile(made + "/link");
#endif
    for (const char *name : {"/a.txt", "/b.txt", "/c.txt", "/资料.db"})
        CHECK(files::removeFile(made + name) == 0);
    CHECK(files::removeFolder(made) == 0);
    CHECK(files::kindOf(made) == files::Kind::Missing);
    CHECK(files::removeFolder(other) == 0);
}

void namesOfOldFilesSteppedAside()
{
    CHECK(files::isAsideName("lianbu.exe.old-220-1"));
    CHECK(files::isAsideName("资料.db.old-7-12"));
    CHECK(!files::isAsideName(".old-220-1"));
    CHECK(!files::isAsideName("lianbu.exe.old-220-"));
    CHECK(!files::isAsideName("lianbu.exe.old--1"));
    CHECK(!files::isAsideName("lianbu.exe.old-2x0-1"));
    CHECK(!files::isAsideName("lianbu.exe.old-220"));
    CHECK(!files::isAsideName("lianbu.exe.old"));
    CHECK(!files::isAsideName("lianbu.exe"));
}

// One holder at a time, and the hold ends with the descriptor.
void exclusiveHolds(const std::string &folder)
{
    const std::string path = folder + "install.lock";
    const int first = files::holdExclusively(path);
    CHECK(first >= 0);
    CHECK(files::kindOf(path) == files::Kind::Regular);
    CHECK(files::holdExclusively(path) == -EWOULDBLOCK);
    CHECK(files::closeFile(first) == 0);
    const int second = files::holdExclusively(path);
    CHECK(second >= 0);
    files::closeFile(second);
    CHECK(files::holdExclusively(folder + "no-such-folder/install.lock") == -ENOENT);
    files::removeFile(path);
}

} // namespace

int main()
{
    const std::string folder = makeFolder();
    if (folder.empty()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    newFilesAndTheirNames(folder);
    replacementInOneStep(folder);
    replacingAFileHeldOpen(folder);
    secondNames(folder);
    modesOfFiles(folder);
    kindsAndListings(folder);
    exclusiveHolds(folder);
    namesOfOldFilesSteppedAside();
    for (const char *name :
         {"new.txt", "资料 备份.txt", "large.bin", "register.ini", "fresh.ini", "held.txt", "mode.txt", "private.txt"})
        files::removeFile(folder + name);
#ifdef _WIN32
    RemoveDirectoryA(folder.c_str());
#else
    ::rmdir(folder.c_str());
#endif
    return lianbu::plaintest::checkSummary();
}
