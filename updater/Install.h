#pragma once

// The install the updater can finish or undo. Plain C++ (no Qt), shared by the updater and the
// program.
//
// The program downloads and verifies every file as <name>.uTMP in its folder and then writes the
// manifest (kManifestFile): one line per file with its SHA-256, its size and its name. The
// updater installs exactly those entries, after checking each hash again; every other .uTMP is
// deleted, never installed. Before the first rename each old file is kept as <name>.uOLD (a hard
// link, so the name never disappears), and a journal (kJournalFile) records what is being done:
//
//   phase "replacing": renames are under way. Whoever finds this journal without a live updater
//                      (the next updater, or the next start of the program) puts every old file
//                      back: old and new are never left mixed.
//   phase "starting":  every file is in place and the program has been started; it reports a good
//                      start by writing kStartedFile. Without that report in time the updater puts
//                      the old files back.
//
// The updater holds an exclusive lock on kLockFile for its whole run, so the journal of a live
// updater is never taken for an interrupted one. The outcome is written to kResultFile, which
// the program shows after its restart (a good start needs none: the program knows it).

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lianbu::updater {

inline constexpr const char *kManifestFile = "upgrade.uMANIFEST";
inline constexpr const char *kJournalFile = "upgrade.uJOURNAL";
inline constexpr const char *kResultFile = "upgrade.uRESULT";
inline constexpr const char *kStartedFile = "upgrade.uSTARTED";
inline constexpr const char *kLockFile = "upgrade.uLOCK";
// Starts of a new version made while no updater waits for them (it was killed).
inline constexpr const char *kTrialFile = "upgrade.uTRIAL";
inline constexpr const char *kBackupSuffix = ".uOLD";
// Environment variable that overrides how long the updater waits for the restarted program's
// good-start report.
inline constexpr const char *kStartWaitEnvironment = "LIANBU_UPDATER_START_SECONDS";
inline constexpr std::chrono::milliseconds kDefaultStartLimit{std::chrono::seconds(60)};

// SHA-256 of a file, as 64 lower-case hexadecimal digits; nullopt when it cannot be read.
std::optional<std::string> sha256OfFile(const std::string &path);

struct ManifestEntry
{
    std::string name; // plain file name in the program folder
    std::uint64_t size = 0;
    std::string sha256; // 64 lower-case hexadecimal digits
};

// A name the manifest may list: a plain file name, none of the updater's own files.
bool isInstallableName(const std::string &name);

std::string formatManifest(const std::vector<ManifestEntry> &entries);
// nullopt when the text is not a manifest or lists an entry that is not installable (or twice).
std::optional<std::vector<ManifestEntry>> parseManifest(const std::string &text);

// Everything the program hands the updater in the manifest besides the files: the publisher's
// public key (the signed information file kSignedInfoFile must then match the files), the release
// (MM/DD/YYYY) and the arguments the program was started with, which the restart gives again.
struct HandOff
{
    std::vector<ManifestEntry> entries;
    std::string publicKey;
    std::string release;
    std::vector<std::string> arguments;
};
std::string formatHandOff(const HandOff &handOff);
std::optional<HandOff> parseHandOff(const std::string &text);

// Writes a file through a temporary name, fsync and rename; false on failure.
bool writeFileDurably(const std::string &path, const std::string &content);
bool readWholeFile(const std::string &path, std::string &content, std::size_t limit = 1 << 20);

enum class Phase { Replacing, Starting };
struct JournalEntry
{
    std::string name;
    bool hadOld = false; // a file of that name existed before: <name>.uOLD holds it
};
struct Journal
{
    Phase phase = Phase::Replacing;
    std::vector<JournalEntry> entries;
};
std::string formatJournal(const Journal &journal);
std::optional<Journal> parseJournal(const std::string &text);

// The outcome shown after the restart. The first word is the kind; the rest is a reason.
enum class Outcome { Installed, RolledBack, Rejected, NotStarted };
std::string formatResult(Outcome outcome, const std::string &reason);
bool parseResult(const std::string &text, Outcome &outcome, std::string &reason);

// Takes the install lock of folder without waiting; -1 when another updater holds it.
int takeInstallLock(const std::string &folder);
void releaseInstallLock(int fd);

// Deletes every .uTMP of folder that the manifest does not list (all of them without manifest).
void removeStrayUpdates(const std::string &folder, const std::vector<ManifestEntry> &keep);
// With the install lock held and no install under way (no journal): deletes the kept old files
// (.uOLD) and the old files a replacement stepped aside from (files::isAsideName) that a finished
// install could not delete (Windows: the old program's image was still mapped).
void removeStaleBackups(const std::string &folder);

// Checks every entry's .uTMP (a regular file, not a link, of the listed size and hash) and its
// target (absent, or a regular file). false with a reason at the first that fails.
bool verifyEntries(const std::string &folder, const std::vector<ManifestEntry> &entries, std::string &reason);

struct InstallOptions
{
    std::string setupName;                                 // method "1": the entry that becomes executable
    std::size_t maxRenames = static_cast<std::size_t>(-1); // tests: stop as if killed
};

// Keeps the old files, writes the journal and renames every entry into place (phase
// "replacing", then "starting"). On a failure everything is put back and false is returned
// with a reason. With maxRenames reached it returns true at once, leaving the journal in phase
// "replacing" as a killed updater would.
bool installEntries(const std::string &folder, const std::vector<ManifestEntry> &entries, const InstallOptions &options,
                    std::string &reason);

// Puts every old file of the journal back, deletes the new ones that had no old file, and removes
// the journal, the manifest and every .uTMP.
void rollBack(const std::string &folder, const Journal &journal);
// Deletes the kept old files and the journal: the new version stays.
void commit(const std::string &folder, const Journal &journal);

enum class Recovery { None, Busy, RolledBack, Committed };
// Finishes an install that a killed updater left behind (nothing when no journal exists, Busy
// when a live updater is working). Phase "replacing" is rolled back; phase "starting" is
// committed when the program reported a good start, otherwise rolled back. Writes kResultFile.
Recovery recoverInterruptedInstall(const std::string &folder, std::ostream &log);

// Called first at every start of the program in folder. When an install waits for its good start
// (phase "starting") and no updater is alive to judge it (it was killed), each start is a trial of
// the new version: the first is counted; at the next one the earlier trial never reported a good
// start (it crashed, hung or was killed), so the old version is put back and true is returned: the
// caller then starts the program again, which is the old version.
bool rollBackFailedTrial(const std::string &folder, std::ostream &log);
// The running executable's path (empty when it cannot be read).
std::string runningProgramPath();

// The program's side after a restart: reports a good start to a waiting updater.
bool reportGoodStart(const std::string &folder);
// True when an install is waiting for this start's report (journal in phase "starting").
bool installAwaitingStart(const std::string &folder);
// Reads and deletes kResultFile; false when there is none.
bool takeResult(const std::string &folder, Outcome &outcome, std::string &reason);

std::chrono::milliseconds startLimitFromEnvironment();

} // namespace lianbu::updater
