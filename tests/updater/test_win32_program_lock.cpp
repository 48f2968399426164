// The program's lock on its own executable on Windows (LockFileEx): another running instance is
// seen, this process's own lock is not, a process that ends lets go, and the executable can still
// be renamed aside while instances hold it (which the updater needs). Plain C++, run under Wine;
// the test starts copies of itself as the other instances.
#include "updater/ProgramLock.h"
#include "tests/support/PlainChecks.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

using namespace lianbu::updater;

namespace {

std::string ownPath()
{
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// Starts this test as an instance holding the lock on `file` until it is ended.
HANDLE startInstance(const std::string &file)
{
    std::string command = "\"" + ownPath() + "\" hold \"" + file + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits up to five seconds for otherInstanceRunning(file) to give `expected`.
bool becomes(const std::string &file, bool expected)
{
    for (int i = 0; i < 100; ++i) {
        if (otherInstanceRunning(file) == expected)
            return true;
        Sleep(50);
    }
    return false;
}

void writeFile(const std::string &path, const char *text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, text, DWORD(std::strlen(text)), &written, nullptr);
    CloseHandle(h);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        if (!holdProgramLock(argv[2]))
            return 3;
        Sleep(60000); // ended by the test long before
        return 0;
    }

    char base[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, base);
    const std::string folder = std::string(base) + "lianbu-lock-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string program = folder + "lianbu.exe";
    writeFile(program, "not really a program");

    // Nobody holds it.
    CHECK(!otherInstanceRunning(program));
    CHECK(!programLockHeld());
    CHECK(!holdProgramLock(folder + "missing.exe"));
    CHECK(!otherInstanceRunning(folder + "missing.exe"));

    // Our own lock is not another instance, and asking keeps it.
    CHECK(holdProgramLock(program));
    CHECK(programLockHeld());
    CHECK(!otherInstanceRunning(program));
    CHECK(!otherInstanceRunning(program));

    // A second instance is seen while it runs, however often we ask.
    HANDLE other = startInstance(program);
    CHECK(other != nullptr);
    CHECK(becomes(program, true));
    CHECK(otherInstanceRunning(program));
    CHECK(programLockHeld());

    // Still held by both, the executable can be renamed aside and a new one put in its place.
    const std::string aside = folder + "lianbu.exe.old";
    CHECK(MoveFileExA(program.c_str(), aside.c_str(), 0) != 0);
    writeFile(program, "the new version");
    CHECK(!otherInstanceRunning(program)); // nobody runs the new file yet
    CHECK(otherInstanceRunning(aside));

    // An instance that ends, even killed, lets go.
    TerminateProcess(other, 1);
    WaitForSingleObject(other, 5000);
    CloseHandle(other);
    CHECK(becomes(aside, false));

    // After our own release, another instance's lock is seen from a process that holds none.
    releaseProgramLock();
    CHECK(!programLockHeld());
    HANDLE third = startInstance(program);
    CHECK(third != nullptr);
    CHECK(becomes(program, true));
    TerminateProcess(third, 1);
    WaitForSingleObject(third, 5000);
    CloseHandle(third);
    CHECK(becomes(program, false));

    // The updater's exclusive lock: busy while an instance runs, taken when none does, and then no
    // instance can start holding the program; a missing program is said so.
    int error = 0;
    ExclusiveProgramLock updaterLock;
    CHECK(updaterLock.tryTake(folder + "missing.exe", error) == ExclusiveProgramLock::Attempt::NoProgram);
    HANDLE fourth = startInstance(program);
    CHECK(becomes(program, true));
    CHECK(updaterLock.tryTake(program, error) == ExclusiveProgramLock::Attempt::Busy);
    CHECK(!updaterLock.held());
    TerminateProcess(fourth, 1);
    WaitForSingleObject(fourth, 5000);
    CloseHandle(fourth);
    bool taken = false;
    for (int i = 0; i < 100 && !taken; ++i) {
        taken = updaterLock.tryTake(program, error) == ExclusiveProgramLock::Attempt::Taken;
        if (!taken)
            Sleep(50);
    }
    CHECK(taken && updaterLock.held());
    CHECK(!holdProgramLock(program));
    // Held, the old executable can still be renamed aside for the new one.
    const std::string older = folder + "lianbu.exe.older";
    CHECK(MoveFileExA(program.c_str(), older.c_str(), 0) != 0);
    updaterLock.release();
    CHECK(!updaterLock.held());
    CHECK(holdProgramLock(older));
    releaseProgramLock();

    DeleteFileA(older.c_str());
    DeleteFileA(program.c_str());
    DeleteFileA(aside.c_str());
    RemoveDirectoryA(folder.c_str());
    return lianbu::plaintest::checkSummary();
}
