#pragma once

// Starting, watching and ending other programs, and what a process knows of itself, for POSIX
// systems and for Windows. Plain C++ without Qt, for the stand-alone updater and the program's
// start. Paths and arguments are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace lianbu::processes {

// A program this process started. `id` is its process id (0: none); on Windows `handle` is
// the process handle that waiting needs.
struct Child
{
    long long id = 0;
    std::intptr_t handle = 0;
    bool started() const { return id > 0; }
};

// Starts the program at `path` with `arguments` (after the program's own name), in the current
// working folder with the current environment, detached from this process's session or console
// so that it outlives this process. On failure the child is not started and `error` says why.
Child start(const std::string &path, const std::vector<std::string> &arguments, std::string &error);
// True once the child has ended (never blocks); an ended child is reaped.
bool hasEnded(Child &child);
// Blocks until the child has ended.
void waitFor(Child &child);
// Ends the child at once, without letting it save anything.
void kill(Child &child);

// Replaces this process by the program at `path` with `arguments` (POSIX exec); on Windows,
// which cannot, the program is started and this process ends with its exit status. Returns
// only when the program cannot be started.
void replaceProcess(const std::string &path, const std::vector<std::string> &arguments);

// The arguments this process was started with, after the program's own name, as UTF-8. On
// Windows main()'s argv holds them in the ANSI code page, which loses every character outside
// it (Chinese in a Western system): they are read from the wide command line instead. POSIX:
// argv as it is.
std::vector<std::string> commandArguments(int argc, char **argv);

long long currentProcessId();
// The absolute path of this process's executable, with "/" between folders; empty if unknown.
std::string currentProgramPath();

// One command line from the arguments as Windows programs read it back (CommandLineToArgvW and
// the C run-time's parser): blanks, quotes and backslashes before a quote survive.
std::string windowsCommandLine(const std::vector<std::string> &arguments);

// The calling thread yields the processor to the program's other threads: for long background
// reads (a damage check, a copy) beside the operator's work. Qt's thread priorities change
// nothing for ordinary Linux threads, hence the thread's own nice value there (ten steps lower).
void lowerCurrentThreadPriority();

} // namespace lianbu::processes
