// Starting other programs and waiting for them, on this system's own calls: the arguments a
// started program receives, its end, and forcing it to end. The test starts itself in a helper
// role. Plain C++ (no Qt), so the Windows build runs it under Wine as the Linux build runs it here.
#include "platform/SystemFiles.h"
#include "platform/SystemProcesses.h"
#include "tests/support/PlainChecks.h"
#include "tests/support/PlainFiles.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>

using namespace lianbu;

namespace {

std::string temporaryFolder()
{
#ifdef _WIN32
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    std::string folder = base;
    for (char &c : folder)
        if (c == '\\')
            c = '/';
    return folder;
#else
    return "/tmp/";
#endif
}

using plaintest::readAll;

// Helper role: writes each argument after the file name, each ended by a NUL byte.
int echoArguments(int argc, char **argv)
{
    const std::vector<std::string> arguments = processes::commandArguments(argc, argv);
    std::string all;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        all += arguments[i];
        all += '\0';
    }
    const std::string path = arguments.at(1);
    files::removeFile(path);
    const int fd = files::createNew(path, false);
    if (fd < 0)
        return 3;
    files::writeAll(fd, all.data(), all.size());
    files::closeFile(fd);
    return 0;
}

std::vector<std::string> splitAtNul(const std::string &bytes)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0') {
            parts.push_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// The command line Windows programs parse back into the same arguments.
void commandLineQuoting()
{
    using processes::windowsCommandLine;
    CHECK(windowsCommandLine({"C:/lianbu/lianbu.exe", "/afterupgrade"}) == "C:/lianbu/lianbu.exe /afterupgrade");
    CHECK(windowsCommandLine({"C:/Program Files/联簿宝/lianbu.exe"}) == "\"C:/Program Files/联簿宝/lianbu.exe\"");
    CHECK(windowsCommandLine({"a", ""}) == "a \"\"");
    CHECK(windowsCommandLine({"say \"hi\""}) == "\"say \\\"hi\\\"\"");
    // Backslashes are doubled only before a quote, the closing one included.
    CHECK(windowsCommandLine({"C:\\data\\x.db"}) == "C:\\data\\x.db");
    CHECK(windowsCommandLine({"C:\\my data\\"}) == "\"C:\\my data\\\\\"");
    CHECK(windowsCommandLine({"a\\\"b"}) == "\"a\\\\\\\"b\"");
    CHECK(windowsCommandLine({"tab\there"}) == "\"tab\there\"");
}

// Every argument arrives as it was given, however it is spelled.
void argumentsArriveWhole(const std::string &self)
{
    const std::string out = temporaryFolder() + "lianbu-echo-" + std::to_string(processes::currentProcessId());
    const std::vector<std::string> given{
        "/afterupgrade", "two words", "", "say \"hi\"", "C:\\my data\\", "a\\\\\"b", "资料 备份.db", "--database=x y"};
    std::vector<std::string> arguments{"--echo", out};
    arguments.insert(arguments.end(), given.begin(), given.end());
    std::string error;
    processes::Child child = processes::start(self, arguments, error);
    CHECK(child.started());
    CHECK(error.empty());
    CHECK(child.id != processes::currentProcessId());
    processes::waitFor(child);
    CHECK(!child.started());
    CHECK(splitAtNul(readAll(out)) == given);
    files::removeFile(out);
}

void endAndForcedEnd(const std::string &self)
{
    std::string error;
    processes::Child sleeper = processes::start(self, {"--sleep"}, error);
    CHECK(sleeper.started());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CHECK(!processes::hasEnded(sleeper));
    processes::kill(sleeper);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        ended = processes::hasEnded(sleeper);
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CHECK(ended);
    CHECK(!sleeper.started());
    // Asking again about an ended child is harmless.
    CHECK(processes::hasEnded(sleeper));

    processes::Child quick = processes::start(self, {"--exit"}, error);
    CHECK(quick.started());
    processes::waitFor(quick);
    CHECK(processes::hasEnded(quick));

    // A program that is not there: not started, and the reason names it.
    error.clear();
    const std::string missing = temporaryFolder() + "no-such-program-here";
    processes::Child none = processes::start(missing, {}, error);
    CHECK(!none.started());
    CHECK(error.find(missing) == 0 && error.size() > missing.size() + 2);
}

void ownIdentity()
{
    const std::string self = processes::currentProgramPath();
    CHECK(!self.empty());
    CHECK(self.find('\\') == std::string::npos);
    CHECK(files::kindOf(self) == files::Kind::Regular);
    CHECK(self.find("test_system_processes") != std::string::npos);
    CHECK(processes::currentProcessId() > 0);
}

// A background thread lowers its own priority, not the program's: the other threads keep theirs.
void lowerPriorityOfOneThread()
{
#ifdef _WIN32
    int inThread = THREAD_PRIORITY_NORMAL;
    std::thread([&inThread] {
        processes::lowerCurrentThreadPriority();
        inThread = GetThreadPriority(GetCurrentThread());
    }).join();
    CHECK(inThread < THREAD_PRIORITY_NORMAL);
    CHECK(GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_NORMAL);
#elif defined(__linux__)
    const auto niceOfThisThread = [] { return getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid))); };
    const int before = niceOfThisThread();
    int inThread = before;
    std::thread([&] {
        processes::lowerCurrentThreadPriority();
        inThread = niceOfThisThread();
    }).join();
    CHECK(inThread == std::min(before + 10, 19));
    CHECK(before == 19 || inThread > before);
    CHECK(niceOfThisThread() == before);
#endif
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--echo") == 0)
        return echoArguments(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--exit") == 0)
        return 0;
    commandLineQuoting();
    ownIdentity();
    lowerPriorityOfOneThread();
    const std::string self = processes::currentProgramPath();
    argumentsArriveWhole(self);
    endAndForcedEnd(self);
    return lianbu::plaintest::checkSummary();
}
