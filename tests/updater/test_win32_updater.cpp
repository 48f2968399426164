// The updater on Windows file semantics, between real processes under Wine: it waits for the
// running program to end, replaces the program's executable while its own lock handle on the old
// one is open, restarts the new version and cleans up after it. Plain C++ (no Qt).
// Arguments: the updater, version 1 and version 2 of the stand-in program.
#include "platform/SystemFiles.h"
#include "platform/SystemProcesses.h"
#include "tests/support/PlainChecks.h"
#include "tests/support/PlainFiles.h"
#include "updater/Install.h"
#include "updater/UpdaterCore.h"

#include <algorithm>
#include <chrono>
#include <sodium.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

using namespace lianbu;

namespace {

using plaintest::readAll;

bool writeFile(const std::string &path, const std::string &bytes)
{
    files::removeFile(path);
    const int fd = files::createNew(path, false);
    if (fd < 0)
        return false;
    const bool ok = files::writeAll(fd, bytes.data(), bytes.size()) == 0;
    return files::closeFile(fd) == 0 && ok;
}

std::string sha256(const std::string &bytes)
{
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

// The lines the stand-in programs wrote, oldest process first is not guaranteed: sorted.
std::vector<std::string> runs(const std::string &folder)
{
    std::vector<std::string> lines;
    for (const std::string &name : files::namesIn(folder))
        if (name.rfind("ran-", 0) == 0)
            lines.push_back(readAll(folder + name));
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool waitFor(const auto &condition, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string makeFolder()
{
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    std::string prefix = base;
    std::replace(prefix.begin(), prefix.end(), '\\', '/');
    const std::string folder = files::makePrivateFolder(prefix + "lianbu-win32-updater-");
    return folder.empty() ? folder : folder + "/";
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments = processes::commandArguments(argc, argv);
    if (arguments.size() != 3 || sodium_init() < 0) {
        std::printf("usage: test_win32_updater <updater> <version 1> <version 2>\n");
        return 2;
    }
    const std::string updaterProgram = arguments[0];
    const std::string oldVersion = readAll(arguments[1]), newVersion = readAll(arguments[2]);
    CHECK(oldVersion != "<missing>" && newVersion != "<missing>" && oldVersion != newVersion);
    const std::string folder = makeFolder();
    CHECK(!folder.empty());
    const std::string program = folder + "联簿宝.exe";
    CHECK(writeFile(program, oldVersion));
    CHECK(writeFile(program + updater::kUpdateSuffix, newVersion));
    CHECK(writeFile(folder + updater::kManifestFile,
                    updater::formatManifest({{"联簿宝.exe", newVersion.size(), sha256(newVersion)}})));

    // Version 1 runs and holds its lock; the updater waits for its end.
    std::string error;
    processes::Child running = processes::start(program, {}, error);
    CHECK(running.started());
    CHECK(waitFor([&] { return runs(folder).size() == 1; }, 30));
    processes::Child updater = processes::start(updaterProgram, {program, "+/afterupgrade0"}, error);
    CHECK(updater.started());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    CHECK(!processes::hasEnded(updater)); // still waiting for version 1
    CHECK(readAll(program) == oldVersion);
    processes::waitFor(updater);
    CHECK(processes::hasEnded(running));

    // Replaced, restarted with the restart parameter, and the new version's start reported.
    CHECK(readAll(program) == newVersion);
    CHECK(waitFor([&] { return runs(folder).size() == 2; }, 30));
    const std::vector<std::string> lines = runs(folder);
    CHECK(lines == std::vector<std::string>({"version 1\n", "version 2 /afterupgrade\n"}));
    for (const char *gone : {updater::kManifestFile, updater::kJournalFile, updater::kResultFile})
        CHECK(files::kindOf(folder + gone) == files::Kind::Missing);
    CHECK(files::kindOf(program + updater::kUpdateSuffix) == files::Kind::Missing);

    // The next run (nothing to install: it only starts the program) sweeps whatever old file the
    // system would not delete while the old version's image was still mapped.
    CHECK(waitFor([&] { return runs(folder).size() == 2 && !updater::installAwaitingStart(folder); }, 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // version 2 ends
    processes::Child again = processes::start(updaterProgram, {program, "+/afterupgrade0"}, error);
    CHECK(again.started());
    processes::waitFor(again);
    CHECK(waitFor([&] { return runs(folder).size() == 3; }, 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    for (const std::string &name : files::namesIn(folder)) {
        CHECK(!files::isAsideName(name));
        CHECK(name.find(updater::kBackupSuffix) == std::string::npos);
    }
    CHECK(readAll(program) == newVersion);

    for (const std::string &name : files::namesIn(folder))
        files::removeFile(folder + name);
    files::removeFolder(folder.substr(0, folder.size() - 1));
    return plaintest::checkSummary();
}
