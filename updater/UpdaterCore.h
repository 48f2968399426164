#pragma once

// The updater's logic, in plain C++ with no Qt: the updater must not keep open any of the files
// it replaces, and it must run while the program (and its Qt libraries) are being swapped out.
//
// Command line (argv after the program name), joined with one blank between arguments:
//     <program path> +<restart parameter><method digit>
// for example   /opt/lianbu/lianbu +/afterupgrade0
// or            "/home/王 五/lianbu" +/afterupgrade1
// The program path may be quoted with double quotes (a quote inside is written twice); unquoted,
// it is everything before the last " +" of the text, so a path may hold blanks and "+" signs.
// The restart parameter is the text after that "+" without its last character; the method is
// '1' when that last character is "1", otherwise '0'. Without " +" the whole text is the program
// path, the restart parameter is empty and the method is '0'.

#include "platform/SystemProcesses.h"
#include "updater/ProgramLock.h"

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace lianbu::updater {

#ifndef LIANBU_EXECUTABLE_SUFFIX
#define LIANBU_EXECUTABLE_SUFFIX ""
#endif
// The system's suffix of programs (".exe" on Windows) is part of the name.
inline constexpr const char *kUpdaterName = "Rurezure3" LIANBU_EXECUTABLE_SUFFIX;
inline constexpr const char *kUpdateSuffix = ".uTMP";
// Environment variable that overrides how long the updater waits for the program to end.
inline constexpr const char *kWaitEnvironment = "LIANBU_UPDATER_WAIT_SECONDS";
inline constexpr std::chrono::milliseconds kDefaultWaitLimit{std::chrono::minutes(3)};

struct CommandLine
{
    std::string programPath;  // empty: nothing to do (usage)
    std::string restartParam; // "/afterupgrade" in this system
    char method = '0';        // '0' replace files, '1' run the downloaded setup program first
};

std::string joinArguments(const std::vector<std::string> &args);
CommandLine parseCommandText(const std::string &text);
CommandLine parseCommandLine(const std::vector<std::string> &args);

// Double-quotes a path when it holds a blank, a tab or a quote; quotes inside are doubled.
std::string quoteIfNeeded(const std::string &path);
// The command line that starts the updater (without the updater's own path):
// quoted program path + " +" + restart parameter + method digit.
std::string formatArguments(const std::string &programPath, const std::string &restartParam, char method);

// The folder part of a path, up to and including its last "/"; "" when there is none.
std::string folderOf(const std::string &path);
std::string fileNameOf(const std::string &path);

// A file the updater may start and wait for with method "1": names ending in "exe" (as the
// Windows installers do) or the Linux installer suffixes ".sh" and ".run".
bool isSetupName(const std::string &name);

struct Step
{
    std::string source; // folder + name + ".uTMP"
    std::string target; // folder + name
    bool isSetup = false;
};

// Puts one file in place: gives the new file the permission bits of the file it replaces (the
// setup program also becomes executable), then renames it over the old one. Atomic: the target
// is at every moment either the old or the new file.
bool applyStep(const Step &step, std::string &error);

enum class WaitResult { Ended, NoProgram, TimedOut, Failed };

// Waits until the program has ended: until the exclusive lock on its executable can be taken,
// which every running instance prevents with its shared lock (ProgramLock.h). Sleeps between the
// attempts and gives up after limit. On Ended, `lock` holds the lock (release() lets go).
WaitResult waitForProgramEnd(const std::string &programPath, std::chrono::milliseconds limit,
                             ExclusiveProgramLock &lock, std::ostream &log);

// Starts path with the restart parameter (none when empty) followed by arguments, in a session of
// its own, with the current working folder and environment. Not started() on failure.
processes::Child startProgram(const std::string &path, const std::string &restartParam, std::string &error,
                              const std::vector<std::string> &arguments = {});
// Waits for a child started by startProgram to end.
void waitForChild(processes::Child &child);

// Same file system object (device and inode)?
bool sameFile(const std::string &a, const std::string &b);

// Reads the wait limit from the environment variable (seconds, fractions allowed).
std::chrono::milliseconds waitLimitFromEnvironment();

// 5: the new version did not report a good start and the old one was put back.
enum class ExitCode { Ok = 0, ReplaceFailed = 1, Usage = 2, ProgramStillRunning = 3, StartFailed = 4, RolledBack = 5 };
inline constexpr int exitStatus(ExitCode code)
{
    return static_cast<int>(code);
}

// The whole updater run. Messages go to log.
// Installs the manifest's files (Install.h), restarts the program and waits startLimit for its
// good-start report; without one the old files are put back and the old program is started.
int run(const std::vector<std::string> &args, std::chrono::milliseconds waitLimit, std::chrono::milliseconds startLimit,
        std::ostream &log);
// The same with the start limit from the environment.
int run(const std::vector<std::string> &args, std::chrono::milliseconds waitLimit, std::ostream &log);

} // namespace lianbu::updater
