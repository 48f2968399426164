#include "updater/UpdaterCore.h"

#include "platform/SystemFiles.h"
#include "updater/Install.h"
#include "updater/Release.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace lianbu::updater {

namespace {

bool endsWith(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string errnoText(int err)
{
    return std::strerror(err);
}

bool exists(const std::string &path)
{
    return files::kindOf(path) != files::Kind::Missing;
}

} // namespace

std::string joinArguments(const std::vector<std::string> &args)
{
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
void takeParameter(CommandLine &cmd, const std::string &afterPlus)
{
    if (afterPlus.empty())
        return;
    cmd.method = afterPlus.back() == '1' ? '1' : '0';
    cmd.restartParam = afterPlus.substr(0, afterPlus.size() - 1);
}

} // namespace

CommandLine parseCommandText(const std::string &text)
{
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

CommandLine parseCommandLine(const std::vector<std::string> &args)
{
    return parseCommandText(joinArguments(args));
}

std::string quoteIfNeeded(const std::string &path)
{
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

std::string formatArguments(const std::string &programPath, const std::string &restartParam, char method)
{
    return quoteIfNeeded(programPath) + " +" + restartParam + method;
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fileNameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isSetupName(const std::string &name)
{
    return endsWith(name, "exe") || endsWith(name, ".sh") || endsWith(name, ".run");
}

bool applyStep(const Step &step, std::string &error)
{
    const int sourceMode = files::modeOf(step.source);
    if (sourceMode < 0) {
        error = step.source + ": " + errnoText(files::kindOf(step.source) == files::Kind::Missing ? ENOENT : EINVAL);
        return false;
    }
    int mode = sourceMode;
    if (files::kindOf(step.target) == files::Kind::Folder) {
        error = step.target + ": is a folder";
        return false;
    }
    const int oldMode = files::modeOf(step.target);
    if (oldMode >= 0)
        mode = oldMode;
    if (step.isSetup) // executable wherever it is readable
        mode |= (mode & 0444) >> 2;
    if (sourceMode != mode) {
        if (const int rc = files::setModeOf(step.source, mode); rc != 0) {
            error = step.source + ": " + errnoText(rc);
            return false;
        }
    }
    if (const int rc = files::replaceFile(step.source, step.target); rc != 0) {
        error = step.source + " -> " + step.target + ": " + errnoText(rc);
        return false;
    }
    return true;
}

WaitResult waitForProgramEnd(const std::string &programPath, std::chrono::milliseconds limit,
                             ExclusiveProgramLock &lock, std::ostream &log)
{
    lock.release();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool announced = false;
    for (;;) {
        int error = 0;
        switch (lock.tryTake(programPath, error)) {
        case ExclusiveProgramLock::Attempt::Taken:
            return WaitResult::Ended;
        case ExclusiveProgramLock::Attempt::NoProgram:
            return WaitResult::NoProgram;
        case ExclusiveProgramLock::Attempt::Failed:
            log << programPath << ": " << errnoText(error) << '\n';
            return WaitResult::Failed;
        case ExclusiveProgramLock::Attempt::Busy:
            break;
        }
        if (!announced) {
            log << "waiting for the program to end: " << programPath << std::endl;
            announced = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            lock.release();
            return WaitResult::TimedOut;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(100), deadline - now));
    }
}

processes::Child startProgram(const std::string &path, const std::string &restartParam, std::string &error,
                              const std::vector<std::string> &arguments)
{
    std::vector<std::string> all;
    if (!restartParam.empty())
        all.push_back(restartParam);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return processes::start(path, all, error);
}

void waitForChild(processes::Child &child)
{
    processes::waitFor(child);
}

bool sameFile(const std::string &a, const std::string &b)
{
    return files::sameFile(a, b);
}

std::chrono::milliseconds waitLimitFromEnvironment()
{
    const char *value = std::getenv(kWaitEnvironment);
    if (!value || !*value)
        return kDefaultWaitLimit;
    char *end = nullptr;
    const double seconds = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(seconds >= 0) || seconds > 24 * 3600.0)
        return kDefaultWaitLimit;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

namespace {

// Deletes what a run that installs nothing leaves: the manifest and every downloaded file.
void discardDownloads(const std::string &folder)
{
    files::removeFile(folder + kManifestFile);
    files::removeFile(folder + kSignedInfoFile);
    files::removeFile(folder + kSignedInfoSignature);
    removeStrayUpdates(folder, {});
}

bool sameEntries(std::vector<ManifestEntry> a, std::vector<ManifestEntry> b)
{
    const auto byName = [](const ManifestEntry &x, const ManifestEntry &y) { return x.name < y.name; };
    std::sort(a.begin(), a.end(), byName);
    std::sort(b.begin(), b.end(), byName);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ManifestEntry &x, const ManifestEntry &y) {
        return x.name == y.name && x.size == y.size && x.sha256 == y.sha256;
    });
}

// The hand-off checked against what the publisher signed, and the release against the newest one
// installed here. False with a reason when it must not be installed.
bool releaseAcceptable(const std::string &folder, const std::string &programPath, const HandOff &handOff,
                       std::string &reason)
{
    if (!handOff.publicKey.empty()) {
        std::string info, signature;
        if (!readWholeFile(folder + kSignedInfoFile, info, 64 * 1024)
            || !readWholeFile(folder + kSignedInfoSignature, signature, 4096)) {
            reason = "the signed release information is missing";
            return false;
        }
        if (!verifyPrehashedSignature(info, signature, handOff.publicKey, reason)) {
            reason = "the release information: " + reason;
            return false;
        }
        const auto release = parseRelease(info, reason);
        if (!release)
            return false;
        if (releaseDayText(release->day) != handOff.release || !sameEntries(release->files, handOff.entries)) {
            reason = "the downloaded files are not those of the signed release";
            return false;
        }
    }
    const int day = releaseDay(handOff.release);
    if (day != 0) {
        const int floor = std::max(newestInstalled(folder), releaseOfProgram(programPath));
        if (day <= floor) {
            reason = "release " + handOff.release + " is not newer than release " + releaseDayText(floor)
                     + " installed here";
            return false;
        }
    } else if (!handOff.publicKey.empty()) {
        reason = "the release has no date";
        return false;
    }
    return true;
}

void writeResult(const std::string &folder, Outcome outcome, const std::string &reason, std::ostream &log)
{
    if (!writeFileDurably(folder + kResultFile, formatResult(outcome, reason)))
        log << "cannot write the result file in " << folder << '\n';
}

enum class StartCheck { GoodStart, Ended, TimedOut };

// Waits for the started program's good-start report, its end or the limit.
StartCheck awaitGoodStart(const std::string &folder, processes::Child &child, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string marker = folder + kStartedFile;
    for (;;) {
        if (exists(marker))
            return StartCheck::GoodStart;
        if (processes::hasEnded(child))
            return exists(marker) ? StartCheck::GoodStart : StartCheck::Ended;
        if (std::chrono::steady_clock::now() >= deadline)
            return StartCheck::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int startOnly(const CommandLine &cmd, std::ostream &log, ExitCode result, const std::vector<std::string> &arguments)
{
    std::string error;
    if (!startProgram(cmd.programPath, cmd.restartParam, error, arguments).started()) {
        log << "cannot start the program: " << error << '\n';
        return exitStatus(ExitCode::StartFailed);
    }
    return exitStatus(result);
}

} // namespace

int run(const std::vector<std::string> &args, std::chrono::milliseconds waitLimit, std::ostream &log)
{
    return run(args, waitLimit, startLimitFromEnvironment(), log);
}

int run(const std::vector<std::string> &args, std::chrono::milliseconds waitLimit, std::chrono::milliseconds startLimit,
        std::ostream &log)
{
    const CommandLine cmd = parseCommandLine(args);
    if (cmd.programPath.empty()) {
        log << kUpdaterName << ": 联簿宝的升级程序。\n"
            << "用法: " << kUpdaterName << " <程序路径> +<重启参数><方法 0|1>\n";
        return exitStatus(ExitCode::Usage);
    }
    const std::string folder = folderOf(cmd.programPath);

    ExclusiveProgramLock programLock;
    switch (waitForProgramEnd(cmd.programPath, waitLimit, programLock, log)) {
    case WaitResult::Ended:
    case WaitResult::NoProgram:
        break;
    case WaitResult::TimedOut:
    case WaitResult::Failed:
        log << "the program did not end; nothing was changed\n";
        discardDownloads(folder);
        writeResult(folder, Outcome::NotStarted, "another instance of the program was still running", log);
        return exitStatus(ExitCode::ProgramStillRunning);
    }

    // An install that an earlier updater left half done is finished first.
    if (recoverInterruptedInstall(folder, log) == Recovery::Busy) {
        log << "another updater is working in " << folder << "; nothing was changed\n";
        programLock.release();
        return exitStatus(ExitCode::ProgramStillRunning);
    }
    const int installLock = takeInstallLock(folder);
    if (installLock < 0) {
        log << "another updater is working in " << folder << "; nothing was changed\n";
        programLock.release();
        return exitStatus(ExitCode::ProgramStillRunning);
    }

    std::string manifestText;
    const bool haveManifest = readWholeFile(folder + kManifestFile, manifestText);
    const auto handOff = haveManifest ? parseHandOff(manifestText) : std::nullopt;
    const auto entries = handOff ? std::optional(handOff->entries) : std::nullopt;
    const std::vector<std::string> arguments = handOff ? handOff->arguments : std::vector<std::string>();
    if (!entries || entries->empty()) {
        // Leftovers of a cancelled or killed download are never installed. Under the install
        // lock, old files a finished install could not delete go too.
        discardDownloads(folder);
        removeStaleBackups(folder);
        if (haveManifest) {
            log << "the manifest cannot be read; nothing was installed\n";
            writeResult(folder, Outcome::Rejected, "the list of downloaded files cannot be read", log);
        }
        releaseInstallLock(installLock);
        programLock.release();
        return startOnly(cmd, log, haveManifest ? ExitCode::ReplaceFailed : ExitCode::Ok, arguments);
    }
    removeStrayUpdates(folder, *entries);

    std::string reason;
    if (!releaseAcceptable(folder, cmd.programPath, *handOff, reason) || !verifyEntries(folder, *entries, reason)) {
        log << "nothing was installed: " << reason << '\n';
        discardDownloads(folder);
        writeResult(folder, Outcome::Rejected, reason, log);
        releaseInstallLock(installLock);
        programLock.release();
        return startOnly(cmd, log, ExitCode::ReplaceFailed, arguments);
    }

    // Method "1": the first listed installer runs before the program, unless the program replaces
    // itself (then there is no installer to wait for).
    InstallOptions options;
    const std::string ownName = fileNameOf(cmd.programPath);
    const bool ownUpdate =
        std::any_of(entries->begin(), entries->end(), [&](const auto &e) { return e.name == ownName; });
    if (cmd.method == '1' && !ownUpdate) {
        for (const auto &e : *entries) {
            if (isSetupName(e.name)) {
                options.setupName = e.name;
                break;
            }
        }
    }

    if (!installEntries(folder, *entries, options, reason)) {
        log << "installing failed, the old files were put back: " << reason << '\n';
        writeResult(folder, Outcome::RolledBack, reason, log);
        releaseInstallLock(installLock);
        programLock.release();
        return startOnly(cmd, log, ExitCode::ReplaceFailed, arguments);
    }
    programLock.release();

    std::string error;
    if (!options.setupName.empty()) {
        const std::string setupPath = folder + options.setupName;
        processes::Child setup = startProgram(setupPath, cmd.restartParam, error);
        if (setup.started())
            waitForChild(setup);
        else
            log << "cannot start the setup program: " << error << '\n';
        files::removeFile(setupPath);
    }

    std::string journalText;
    readWholeFile(folder + kJournalFile, journalText);
    const auto journal = parseJournal(journalText);
    processes::Child started = startProgram(cmd.programPath, cmd.restartParam, error, arguments);
    const bool launched = started.started();
    const StartCheck check = launched ? awaitGoodStart(folder, started, startLimit) : StartCheck::Ended;
    // Installed, or tried here and failed to start: either way this release is not offered again.
    const int day = releaseDay(handOff->release);
    if (day != 0 && !recordInstalled(folder, day))
        log << "cannot record release " << handOff->release << " in " << folder << '\n';
    if (check == StartCheck::GoodStart) {
        // The program has already told the user; the result file is only for what it cannot know.
        if (journal)
            commit(folder, *journal);
        releaseInstallLock(installLock);
        return exitStatus(ExitCode::Ok);
    }
    if (check == StartCheck::TimedOut) {
        processes::kill(started);
        waitForChild(started);
    }
    const std::string why = !launched                    ? "the new version could not be started: " + error
                            : check == StartCheck::Ended ? std::string("the new version ended without starting up")
                                                         : std::string("the new version did not start up in time");
    log << why << "; the old version is put back\n";
    if (journal)
        rollBack(folder, *journal);
    writeResult(folder, Outcome::RolledBack, why, log);
    releaseInstallLock(installLock);
    return startOnly(cmd, log, ExitCode::RolledBack, arguments);
}

} // namespace lianbu::updater
