#include "platform/SystemProcesses.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <cstdlib>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <climits>
#include <csignal>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace lianbu::processes {

std::string windowsCommandLine(const std::vector<std::string> &arguments)
{
    std::string line;
    for (const std::string &argument : arguments) {
        if (!line.empty())
            line += ' ';
        if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += argument;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then they are doubled, and so
        // are those before the closing quote.
        line += '"';
        std::size_t backslashes = 0;
        for (const char c : argument) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

#ifdef _WIN32

namespace {

std::wstring wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = text ? narrow(text) : "error " + std::to_string(error);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

void closeChild(Child &child)
{
    if (child.handle)
        CloseHandle(reinterpret_cast<HANDLE>(child.handle));
    child = Child{};
}

} // namespace

Child start(const std::string &path, const std::vector<std::string> &arguments, std::string &error)
{
    std::vector<std::string> all{path};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::wstring commandLine = wide(windowsCommandLine(all));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // No handle of this process is inherited: the program's lock and the register stay ours.
    if (!CreateProcessW(wide(path).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info)) {
        error = path + ": " + systemMessage(GetLastError());
        return {};
    }
    CloseHandle(info.hThread);
    Child child;
    child.id = info.dwProcessId;
    child.handle = reinterpret_cast<std::intptr_t>(info.hProcess);
    return child;
}

bool hasEnded(Child &child)
{
    if (!child.started())
        return true;
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(child.handle), 0) != WAIT_OBJECT_0)
        return false;
    closeChild(child);
    return true;
}

void waitFor(Child &child)
{
    if (!child.started())
        return;
    WaitForSingleObject(reinterpret_cast<HANDLE>(child.handle), INFINITE);
    closeChild(child);
}

void kill(Child &child)
{
    if (child.started())
        TerminateProcess(reinterpret_cast<HANDLE>(child.handle), 1);
}

void replaceProcess(const std::string &path, const std::vector<std::string> &arguments)
{
    std::string error;
    Child child = start(path, arguments, error);
    if (!child.started())
        return;
    const HANDLE handle = reinterpret_cast<HANDLE>(child.handle);
    WaitForSingleObject(handle, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(handle, &status);
    std::exit(int(status));
}

std::vector<std::string> commandArguments(int argc, char **argv)
{
    int count = 0;
    wchar_t **wideArguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wideArguments)
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(narrow(wideArguments[i]));
    LocalFree(wideArguments);
    return arguments;
}

long long currentProcessId()
{
    return GetCurrentProcessId();
}

std::string currentProgramPath()
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0 || n >= path.size())
        return {};
    path.resize(n);
    std::string utf8 = narrow(path);
    for (char &c : utf8)
        if (c == '\\')
            c = '/';
    return utf8;
}

#else

Child start(const std::string &path, const std::vector<std::string> &arguments, std::string &error)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const auto &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = path + ": " + std::strerror(rc);
        return {};
    }
    Child child;
    child.id = pid;
    return child;
}

bool hasEnded(Child &child)
{
    if (!child.started())
        return true;
    int status = 0;
    const pid_t done = ::waitpid(pid_t(child.id), &status, WNOHANG);
    if (done == 0)
        return false;
    child = Child{};
    return true;
}

void waitFor(Child &child)
{
    if (!child.started())
        return;
    int status = 0;
    while (::waitpid(pid_t(child.id), &status, 0) < 0 && errno == EINTR) {
    }
    child = Child{};
}

void kill(Child &child)
{
    if (child.started())
        ::kill(pid_t(child.id), SIGKILL);
}

void replaceProcess(const std::string &path, const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const auto &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
}

std::vector<std::string> commandArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

long long currentProcessId()
{
    return ::getpid();
}

std::string currentProgramPath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

#endif

void lowerCurrentThreadPriority()
{
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
    // On Linux the nice value belongs to the thread (the kernel task), not to the process; ten
    // steps lower, as nice(1) does, from wherever the program was started.
    const id_t thread = id_t(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        setpriority(PRIO_PROCESS, thread, std::min(nice + 10, 19));
#endif
}

} // namespace lianbu::processes
