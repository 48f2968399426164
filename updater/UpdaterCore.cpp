#include "updater/UpdaterCore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace lianbu::updater {

namespace {

bool endsWith(const std::string &s, const std::string &suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string errnoText(int err) { return std::strerror(err); }

bool exists(const std::string &path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void syncFolder(const std::string &folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

} // namespace

std::string joinArguments(const std::vector<std::string> &args) {
  std::string text;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0)
      text += ' ';
    text += args[i];
  }
  return text;
}

namespace {

// Sets the restart parameter and method from the text after the "+".
void takeParameter(CommandLine &cmd, const std::string &afterPlus) {
  if (afterPlus.empty())
    return;
  cmd.method = afterPlus.back() == '1' ? '1' : '0';
  cmd.restartParam = afterPlus.substr(0, afterPlus.size() - 1);
}

} // namespace

CommandLine parseCommandText(const std::string &text) {
  CommandLine cmd;
  const auto first = text.find_first_not_of(" \t");
  if (first != std::string::npos && text[first] == '"') {
    // Quoted path: "" inside stands for one quote.
    std::string path;
    std::size_t i = first + 1;
    bool closed = false;
    while (i < text.size()) {
      if (text[i] == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          path += '"';
          i += 2;
          continue;
        }
        closed = true;
        ++i;
        break;
      }
      path += text[i++];
    }
    if (closed) {
      cmd.programPath = path;
      const auto rest = text.find_first_not_of(" \t", i);
      if (rest != std::string::npos && text[rest] == '+') {
        std::string param = text.substr(rest + 1);
        while (!param.empty() && (param.back() == ' ' || param.back() == '\t'))
          param.pop_back();
        takeParameter(cmd, param);
      }
      return cmd;
    }
    // An unclosed quote: read the text as unquoted.
  }
  const auto plus = text.rfind(" +");
  if (plus == std::string::npos) {
    if (!text.empty() && text[0] == '+')
      return cmd; // a parameter without a program
    cmd.programPath = text;
    return cmd;
  }
  cmd.programPath = text.substr(0, plus);
  takeParameter(cmd, text.substr(plus + 2));
  if (cmd.programPath.find_first_not_of(" \t") == std::string::npos)
    cmd = CommandLine{};
  return cmd;
}

CommandLine parseCommandLine(const std::vector<std::string> &args) { return parseCommandText(joinArguments(args)); }

std::string quoteIfNeeded(const std::string &path) {
  if (path.find_first_of(" \t\"") == std::string::npos && !path.empty())
    return path;
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string formatArguments(const std::string &programPath, const std::string &restartParam, char method) {
  return quoteIfNeeded(programPath) + " +" + restartParam + method;
}

std::string folderOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fileNameOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> findUpdateFiles(const std::string &folder) {
  std::vector<std::string> names;
  DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir)
    return names;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= std::strlen(kUpdateSuffix) || !endsWith(name, kUpdateSuffix))
      continue;
    struct stat st {};
    if (::stat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool isSetupName(const std::string &name) {
  return endsWith(name, "exe") || endsWith(name, ".sh") || endsWith(name, ".run");
}

Plan makePlan(const CommandLine &cmd, const std::vector<std::string> &updateNames, bool ownUpdatePending) {
  Plan plan;
  plan.ownUpdatePending = ownUpdatePending;
  const std::string folder = folderOf(cmd.programPath);
  const std::size_t suffixLength = std::strlen(kUpdateSuffix);
  for (const auto &name : updateNames) {
    Step step;
    const std::string target = name.substr(0, name.size() - suffixLength);
    step.source = folder + name;
    step.target = folder + target;
    // Only the first installer counts, and none while the program replaces itself.
    if (cmd.method == '1' && !ownUpdatePending && plan.setupPath.empty() && isSetupName(target) &&
        step.target != cmd.programPath) {
      step.isSetup = true;
      plan.setupPath = step.target;
    }
    plan.steps.push_back(step);
  }
  return plan;
}

Plan makePlan(const CommandLine &cmd) {
  return makePlan(cmd, findUpdateFiles(folderOf(cmd.programPath)), exists(cmd.programPath + kUpdateSuffix));
}

bool applyStep(const Step &step, std::string &error) {
  struct stat source {};
  if (::stat(step.source.c_str(), &source) != 0) {
    error = step.source + ": " + errnoText(errno);
    return false;
  }
  mode_t mode = source.st_mode & 07777;
  struct stat old {};
  if (::stat(step.target.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) {
      error = step.target + ": is a folder";
      return false;
    }
    mode = old.st_mode & 07777;
  }
  if (step.isSetup) // executable wherever it is readable
    mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
  if ((source.st_mode & 07777) != mode && ::chmod(step.source.c_str(), mode) != 0) {
    error = step.source + ": " + errnoText(errno);
    return false;
  }
  if (::rename(step.source.c_str(), step.target.c_str()) != 0) {
    error = step.source + " -> " + step.target + ": " + errnoText(errno);
    return false;
  }
  return true;
}

std::size_t applyPlan(const Plan &plan, std::string &error, std::size_t maxSteps) {
  std::size_t done = 0;
  for (const auto &step : plan.steps) {
    if (done >= maxSteps)
      break;
    if (!applyStep(step, error))
      break;
    ++done;
  }
  if (!plan.steps.empty())
    syncFolder(folderOf(plan.steps.front().target));
  return done;
}

WaitResult waitForProgramEnd(const std::string &programPath, std::chrono::milliseconds limit, int &lockFd,
                             std::ostream &log) {
  lockFd = -1;
  const int fd = ::open(programPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      return WaitResult::NoProgram;
    log << programPath << ": " << errnoText(errno) << '\n';
    return WaitResult::Failed;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool announced = false;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lockFd = fd;
      return WaitResult::Ended;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      log << programPath << ": " << errnoText(errno) << '\n';
      ::close(fd);
      return WaitResult::Failed;
    }
    if (!announced) {
      log << "waiting for the program to end: " << programPath << std::endl;
      announced = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      ::close(fd);
      return WaitResult::TimedOut;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(100),
                                                                              deadline - now));
  }
}

pid_t startProgram(const std::string &path, const std::string &restartParam, std::string &error) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(path.c_str()));
  if (!restartParam.empty())
    argv.push_back(const_cast<char *>(restartParam.c_str()));
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
    error = path + ": " + errnoText(rc);
    return -1;
  }
  return pid;
}

void waitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

bool sameFile(const std::string &a, const std::string &b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::chrono::milliseconds waitLimitFromEnvironment() {
  const char *value = std::getenv(kWaitEnvironment);
  if (!value || !*value)
    return kDefaultWaitLimit;
  char *end = nullptr;
  const double seconds = std::strtod(value, &end);
  if (end == value || *end != '\0' || !(seconds >= 0) || seconds > 24 * 3600.0)
    return kDefaultWaitLimit;
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

int run(const std::vector<std::string> &args, std::chrono::milliseconds waitLimit, std::ostream &log) {
  const CommandLine cmd = parseCommandLine(args);
  if (cmd.programPath.empty()) {
    log << kUpdaterName << ": 联簿宝的升级程序。\n"
        << "用法: " << kUpdaterName << " <程序路径> +<重启参数><方法 0|1>\n";
    return Usage;
  }

  int lockFd = -1;
  switch (waitForProgramEnd(cmd.programPath, waitLimit, lockFd, log)) {
  case WaitResult::Ended:
  case WaitResult::NoProgram:
    break;
  case WaitResult::TimedOut:
    log << "the program did not end; nothing was changed\n";
    return ProgramStillRunning;
  case WaitResult::Failed:
    log << "cannot tell whether the program has ended; nothing was changed\n";
    return ProgramStillRunning;
  }

  const Plan plan = makePlan(cmd);
  std::string error;
  const std::size_t done = applyPlan(plan, error);
  int result = Ok;
  if (done < plan.steps.size()) {
    log << "replacing failed, the remaining files stay for the next upgrade: " << error << '\n';
    result = ReplaceFailed;
  }
  if (lockFd >= 0)
    ::close(lockFd);

  // The setup program runs only when it was put in place.
  bool setupReady = false;
  for (std::size_t i = 0; i < done; ++i)
    setupReady = setupReady || plan.steps[i].isSetup;

  if (setupReady) {
    const pid_t setup = startProgram(plan.setupPath, cmd.restartParam, error);
    if (setup > 0)
      waitForChild(setup);
    else
      log << "cannot start the setup program: " << error << '\n';
    if (!sameFile(plan.setupPath, cmd.programPath))
      ::unlink(plan.setupPath.c_str());
  }

  if (startProgram(cmd.programPath, cmd.restartParam, error) < 0) {
    log << "cannot start the program: " << error << '\n';
    return StartFailed;
  }
  return result;
}

} // namespace lianbu::updater
