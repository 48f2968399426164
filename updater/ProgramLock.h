#pragma once

// While the program runs it holds a shared advisory lock (flock) on its own executable. The
// updater takes the exclusive lock on the same file, which it gets only when every running
// instance has ended. Plain POSIX: usable with or without Qt.

#include <cstdint>
#include <string>

namespace lianbu::updater {

// Takes the shared lock on the file at executablePath and keeps it until releaseProgramLock()
// or the end of the process. The descriptor is close-on-exec, so processes the program starts
// (the updater above all) do not inherit the lock. Does not block: returns false when the lock
// cannot be had (an updater is replacing the files right now) or the file cannot be opened.
bool holdProgramLock(const std::string &executablePath);
// The same for the running executable (/proc/self/exe).
bool holdOwnProgramLock();
void releaseProgramLock();
bool programLockHeld();
// True when another running instance of the program at executablePath holds its lock (this
// process's own lock does not count).
bool otherInstanceRunning(const std::string &executablePath);

// The updater's side: the exclusive lock on the executable, had only when no running instance
// holds its shared one. Let go by release() or the end of the object.
class ExclusiveProgramLock
{
public:
    enum class Attempt { Taken, Busy, NoProgram, Failed };

    ExclusiveProgramLock() = default;
    ~ExclusiveProgramLock() { release(); }
    ExclusiveProgramLock(const ExclusiveProgramLock &) = delete;
    ExclusiveProgramLock &operator=(const ExclusiveProgramLock &) = delete;

    // Opens the executable at the first attempt and tries the lock without waiting. On Failed,
    // systemError holds the errno value.
    Attempt tryTake(const std::string &executablePath, int &systemError);
    void release();
    bool held() const { return m_held; }

private:
    std::intptr_t m_handle = -1; // a descriptor, or a Windows handle
    bool m_held = false;
};

} // namespace lianbu::updater
