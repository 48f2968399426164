#include "updater/Install.h"

#include "platform/SystemFiles.h"
#include "platform/SystemProcesses.h"
#include "updater/Release.h"
#include "updater/UpdaterCore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sodium.h>
#include <sstream>

namespace lianbu::updater {

namespace {

const char *const kManifestHeader = "lianbu upgrade manifest 1";
const char *const kJournalHeader = "lianbu upgrade journal 1";

bool endsWith(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// `folder` ends with its separator (folderOf), or is empty for the working folder.
void syncFolder(const std::string &folder)
{
    files::syncFolderOf(folder);
}

bool isRegularNotLink(const std::string &path)
{
    return files::kindOf(path) == files::Kind::Regular;
}

bool existsNoFollow(const std::string &path)
{
    return files::kindOf(path) != files::Kind::Missing;
}

// Reads a whole open file, then closes it; false on a read error or past `limit` bytes.
bool readAllOf(int fd, std::string &content, std::size_t limit)
{
    char block[4096];
    for (;;) {
        const long long n = files::readSome(fd, block, sizeof block);
        if (n < 0 || content.size() + static_cast<std::size_t>(std::max<long long>(n, 0)) > limit) {
            files::closeFile(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(block, static_cast<std::size_t>(n));
    }
    files::closeFile(fd);
    return true;
}

std::string tempName(const std::string &name)
{
    return name + kUpdateSuffix;
}
std::string backupName(const std::string &name)
{
    return name + kBackupSuffix;
}

bool isHex64(const std::string &s)
{
    return s.size() == 64
           && std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

std::optional<std::string> sha256OfFile(const std::string &path)
{
    if (sodium_init() < 0)
        return std::nullopt;
    const int fd = files::openForReadingNoLink(path);
    if (fd < 0)
        return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> block(1 << 16);
    for (;;) {
        const long long n = files::readSome(fd, block.data(), block.size());
        if (n < 0) {
            files::closeFile(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char *>(block.data()),
                                  static_cast<unsigned long long>(n));
    }
    files::closeFile(fd);
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex);
}

bool isInstallableName(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }))
        return false;
    for (const char *own : {kManifestFile, kJournalFile, kResultFile, kStartedFile, kLockFile, kTrialFile, kUpdaterName,
                            kNewestFile, kSignedInfoFile, kSignedInfoSignature})
        if (name == own)
            return false;
    return !endsWith(name, kUpdateSuffix) && !endsWith(name, kBackupSuffix);
}

std::string formatManifest(const std::vector<ManifestEntry> &entries)
{
    return formatHandOff({entries, {}, {}, {}});
}

std::optional<std::vector<ManifestEntry>> parseManifest(const std::string &text)
{
    auto handOff = parseHandOff(text);
    if (!handOff)
        return std::nullopt;
    return handOff->entries;
}

namespace {

// Arguments may hold anything but a line break is kept on one line as hexadecimal.
std::string toHex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::optional<std::string> fromHex(const std::string &hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (char c : {hex[i], hex[i + 1]}) {
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0)
                return std::nullopt;
            value = value * 16 + d;
        }
        bytes += static_cast<char>(value);
    }
    return bytes;
}

} // namespace

std::string formatHandOff(const HandOff &handOff)
{
    std::string text = std::string(kManifestHeader) + "\n";
    if (!handOff.publicKey.empty())
        text += "key:" + handOff.publicKey + '\n';
    if (!handOff.release.empty())
        text += "release:" + handOff.release + '\n';
    for (const auto &argument : handOff.arguments)
        text += "argument:" + toHex(argument) + '\n';
    for (const auto &e : handOff.entries)
        text += e.sha256 + ' ' + std::to_string(e.size) + ' ' + e.name + '\n';
    return text;
}

std::optional<HandOff> parseHandOff(const std::string &text)
{
    const auto lines = splitLines(text);
    if (lines.empty() || lines.front() != kManifestHeader)
        return std::nullopt;
    HandOff handOff;
    std::set<std::string> seen;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (line.rfind("key:", 0) == 0) {
            handOff.publicKey = line.substr(4);
            continue;
        }
        if (line.rfind("release:", 0) == 0) {
            handOff.release = line.substr(8);
            if (releaseDay(handOff.release) == 0)
                return std::nullopt;
            continue;
        }
        if (line.rfind("argument:", 0) == 0) {
            const auto argument = fromHex(line.substr(9));
            if (!argument)
                return std::nullopt;
            handOff.arguments.push_back(*argument);
            continue;
        }
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos)
            return std::nullopt;
        ManifestEntry e;
        e.sha256 = line.substr(0, first);
        const std::string size = line.substr(first + 1, second - first - 1);
        e.name = line.substr(second + 1);
        if (!isHex64(e.sha256) || size.empty() || size.size() > 19
            || !std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; })
            || !isInstallableName(e.name) || !seen.insert(e.name).second)
            return std::nullopt;
        e.size = std::stoull(size);
        handOff.entries.push_back(e);
    }
    return handOff;
}

bool writeFileDurably(const std::string &path, const std::string &content)
{
    const std::string temp = path + ".new";
    // A leftover (or a link planted) under the temporary name goes; the new file is our own.
    files::removeFile(temp);
    const int fd = files::createNew(temp, false);
    if (fd < 0)
        return false;
    bool ok = files::writeAll(fd, content.data(), content.size()) == 0 && files::syncFile(fd, nullptr) == 0;
    ok = files::closeFile(fd) == 0 && ok;
    if (!ok || files::replaceFile(temp, path) != 0) {
        files::removeFile(temp);
        return false;
    }
    syncFolder(folderOf(path));
    return true;
}

bool readWholeFile(const std::string &path, std::string &content, std::size_t limit)
{
    content.clear();
    const int fd = files::openForReadingNoLink(path);
    return fd >= 0 && readAllOf(fd, content, limit);
}

std::string formatJournal(const Journal &journal)
{
    std::string text = std::string(kJournalHeader) + "\n";
    text += journal.phase == Phase::Replacing ? "replacing\n" : "starting\n";
    for (const auto &e : journal.entries)
        text += std::string(e.hadOld ? "1 " : "0 ") + e.name + '\n';
    return text;
}

std::optional<Journal> parseJournal(const std::string &text)
{
    const auto lines = splitLines(text);
    if (lines.size() < 2 || lines[0] != kJournalHeader)
        return std::nullopt;
    Journal journal;
    if (lines[1] == "replacing")
        journal.phase = Phase::Replacing;
    else if (lines[1] == "starting")
        journal.phase = Phase::Starting;
    else
        return std::nullopt;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (line.size() < 3 || (line[0] != '0' && line[0] != '1') || line[1] != ' '
            || !isInstallableName(line.substr(2)))
            return std::nullopt;
        journal.entries.push_back({line.substr(2), line[0] == '1'});
    }
    return journal;
}

std::string formatResult(Outcome outcome, const std::string &reason)
{
    const char *kind = "installed";
    switch (outcome) {
    case Outcome::Installed:
        break;
    case Outcome::RolledBack:
        kind = "rolledback";
        break;
    case Outcome::Rejected:
        kind = "rejected";
        break;
    case Outcome::NotStarted:
        kind = "notstarted";
        break;
    }
    return std::string(kind) + (reason.empty() ? "" : " " + reason) + "\n";
}

bool parseResult(const std::string &text, Outcome &outcome, std::string &reason)
{
    std::string line = text.substr(0, text.find('\n'));
    const auto blank = line.find(' ');
    const std::string kind = line.substr(0, blank);
    reason = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (kind == "installed")
        outcome = Outcome::Installed;
    else if (kind == "rolledback")
        outcome = Outcome::RolledBack;
    else if (kind == "rejected")
        outcome = Outcome::Rejected;
    else if (kind == "notstarted")
        outcome = Outcome::NotStarted;
    else
        return false;
    return true;
}

int takeInstallLock(const std::string &folder)
{
    const int fd = files::holdExclusively(folder + kLockFile);
    return fd >= 0 ? fd : -1;
}

void releaseInstallLock(int fd)
{
    if (fd >= 0)
        files::closeFile(fd);
}

void removeStrayUpdates(const std::string &folder, const std::vector<ManifestEntry> &keep)
{
    std::set<std::string> wanted;
    for (const auto &e : keep)
        wanted.insert(tempName(e.name));
    for (const auto &name : files::namesIn(folder)) {
        if (!endsWith(name, kUpdateSuffix) || wanted.count(name))
            continue;
        // A folder by that name is not ours to delete; everything else (links included) goes.
        const files::Kind kind = files::kindOf(folder + name);
        if (kind != files::Kind::Missing && kind != files::Kind::Folder)
            files::removeFile(folder + name);
    }
}

void removeStaleBackups(const std::string &folder)
{
    if (existsNoFollow(folder + kJournalFile))
        return;
    for (const auto &name : files::namesIn(folder))
        if ((endsWith(name, kBackupSuffix) || files::isAsideName(name))
            && files::kindOf(folder + name) == files::Kind::Regular)
            files::removeFile(folder + name);
}

bool verifyEntries(const std::string &folder, const std::vector<ManifestEntry> &entries, std::string &reason)
{
    for (const auto &e : entries) {
        const std::string source = folder + tempName(e.name);
        unsigned long long size = 0;
        if (files::kindOf(source, &size) != files::Kind::Regular) {
            reason = "not a regular file: " + tempName(e.name);
            return false;
        }
        if (size != e.size) {
            reason = "wrong size: " + tempName(e.name);
            return false;
        }
        const auto hash = sha256OfFile(source);
        if (!hash || *hash != e.sha256) {
            reason = "wrong SHA-256: " + tempName(e.name);
            return false;
        }
        const std::string target = folder + e.name;
        const files::Kind old = files::kindOf(target);
        if (old != files::Kind::Missing && old != files::Kind::Regular) {
            reason = "not a regular file: " + e.name;
            return false;
        }
    }
    return true;
}

namespace {

void removeFile(const std::string &path)
{
    files::removeFile(path);
}

void removeControlFiles(const std::string &folder)
{
    removeFile(folder + kManifestFile);
    removeFile(folder + kTrialFile);
    removeFile(folder + kSignedInfoFile);
    removeFile(folder + kSignedInfoSignature);
    removeStrayUpdates(folder, {});
}

} // namespace

void rollBack(const std::string &folder, const Journal &journal)
{
    for (const auto &e : journal.entries) {
        const std::string target = folder + e.name;
        const std::string backup = folder + backupName(e.name);
        if (e.hadOld) {
            // Not yet replaced: both names are the same file, and rename() would keep both.
            if (sameFile(backup, target))
                removeFile(backup);
            else if (existsNoFollow(backup))
                files::replaceFile(backup, target);
        } else {
            removeFile(target);
        }
    }
    syncFolder(folder);
    removeControlFiles(folder);
    removeFile(folder + kStartedFile);
    removeFile(folder + kJournalFile);
    syncFolder(folder);
}

void commit(const std::string &folder, const Journal &journal)
{
    for (const auto &e : journal.entries)
        removeFile(folder + backupName(e.name));
    removeControlFiles(folder);
    removeFile(folder + kStartedFile);
    removeFile(folder + kJournalFile);
    syncFolder(folder);
}

bool installEntries(const std::string &folder, const std::vector<ManifestEntry> &entries, const InstallOptions &options,
                    std::string &reason)
{
    Journal journal;
    // Old files are kept first, before anything changes: a hard link leaves the name in place.
    for (const auto &e : entries) {
        const std::string target = folder + e.name;
        const std::string backup = folder + backupName(e.name);
        removeFile(backup);
        const bool hadOld = isRegularNotLink(target);
        const int linkError = hadOld ? files::hardLink(target, backup) : 0;
        if (linkError != 0) {
            reason = "cannot keep " + e.name + ": " + std::strerror(linkError);
            for (const auto &kept : journal.entries)
                removeFile(folder + backupName(kept.name));
            return false;
        }
        journal.entries.push_back({e.name, hadOld});
    }
    journal.phase = Phase::Replacing;
    if (!writeFileDurably(folder + kJournalFile, formatJournal(journal))) {
        reason = "cannot write the journal";
        for (const auto &kept : journal.entries)
            removeFile(folder + backupName(kept.name));
        return false;
    }
    std::size_t renames = 0;
    for (const auto &e : entries) {
        if (renames >= options.maxRenames)
            return true; // as if killed here: the journal stays in phase "replacing"
        Step step;
        step.source = folder + tempName(e.name);
        step.target = folder + e.name;
        step.isSetup = !options.setupName.empty() && e.name == options.setupName;
        std::string error;
        if (!applyStep(step, error)) {
            reason = error;
            rollBack(folder, journal);
            return false;
        }
        ++renames;
    }
    syncFolder(folder);
    journal.phase = Phase::Starting;
    removeFile(folder + kStartedFile);
    if (!writeFileDurably(folder + kJournalFile, formatJournal(journal))) {
        reason = "cannot write the journal";
        rollBack(folder, journal);
        return false;
    }
    removeFile(folder + kManifestFile);
    return true;
}

Recovery recoverInterruptedInstall(const std::string &folder, std::ostream &log)
{
    std::string text;
    if (!readWholeFile(folder + kJournalFile, text))
        return Recovery::None;
    const int lock = takeInstallLock(folder);
    if (lock < 0)
        return Recovery::Busy;
    Recovery result = Recovery::None;
    // Read again under the lock: the updater that held it may just have finished.
    if (readWholeFile(folder + kJournalFile, text)) {
        const auto journal = parseJournal(text);
        if (!journal) {
            log << "the install journal cannot be read; it is left for inspection: " << folder << kJournalFile << '\n';
        } else if (journal->phase == Phase::Starting && existsNoFollow(folder + kStartedFile)) {
            // The program that reported the start has told the user already.
            commit(folder, *journal);
            result = Recovery::Committed;
        } else if (journal->phase == Phase::Starting && existsNoFollow(folder + kTrialFile)) {
            // A trial start of the new version is under way: it reports its good start itself,
            // and the next start judges it when it does not (rollBackFailedTrial).
        } else {
            rollBack(folder, *journal);
            writeFileDurably(
                folder + kResultFile,
                formatResult(Outcome::RolledBack, "the updater was interrupted; the old version was restored"));
            log << "an interrupted install was rolled back\n";
            result = Recovery::RolledBack;
        }
    }
    releaseInstallLock(lock);
    return result;
}

std::string runningProgramPath()
{
    return processes::currentProgramPath();
}

bool rollBackFailedTrial(const std::string &folder, std::ostream &log)
{
    std::string text;
    if (!readWholeFile(folder + kJournalFile, text))
        return false;
    const auto journal = parseJournal(text);
    if (!journal || journal->phase != Phase::Starting || existsNoFollow(folder + kStartedFile))
        return false;
    const int lock = takeInstallLock(folder);
    if (lock < 0)
        return false; // a live updater judges this start itself
    bool rolledBack = false;
    std::string trials;
    if (!readWholeFile(folder + kTrialFile, trials, 64) || trials.empty()) {
        if (!writeFileDurably(folder + kTrialFile, "1\n"))
            log << "cannot count the trial start in " << folder << '\n';
    } else {
        rollBack(folder, *journal);
        writeFileDurably(
            folder + kResultFile,
            formatResult(Outcome::RolledBack, "the new version did not start up; the old version was restored"));
        log << "the new version did not start up; the old version was put back\n";
        rolledBack = true;
    }
    releaseInstallLock(lock);
    return rolledBack;
}

bool reportGoodStart(const std::string &folder)
{
    return writeFileDurably(folder + kStartedFile, std::to_string(processes::currentProcessId()) + "\n");
}

bool installAwaitingStart(const std::string &folder)
{
    std::string text;
    if (!readWholeFile(folder + kJournalFile, text))
        return false;
    const auto journal = parseJournal(text);
    return journal && journal->phase == Phase::Starting;
}

bool takeResult(const std::string &folder, Outcome &outcome, std::string &reason)
{
    std::string text;
    if (!readWholeFile(folder + kResultFile, text, 4096))
        return false;
    files::removeFile(folder + kResultFile);
    return parseResult(text, outcome, reason);
}

std::chrono::milliseconds startLimitFromEnvironment()
{
    const char *value = std::getenv(kStartWaitEnvironment);
    if (!value || !*value)
        return kDefaultStartLimit;
    char *end = nullptr;
    const double seconds = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(seconds >= 0) || seconds > 3600.0)
        return kDefaultStartLimit;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

} // namespace lianbu::updater
