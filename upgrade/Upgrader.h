#pragma once

// The automatic upgrade component. checkUpdate fetches the upgrade information file (on the
// transfer client's worker thread), decides whether a newer version is published and then
// stays quiet, asks the user, opens a web page or runs the upgrade: every listed file is
// downloaded next to the program as <name>.uTMP, then the updater is written out and started
// and the program closes so the updater can put the files in place and restart it.
//
// Everything here runs on the user-interface thread; the results of the transfers arrive
// through the client's blocking hand-off.

#include "updater/Install.h"
#include "updater/Release.h"
#include "upgrade/SignatureCheck.h"
#include "upgrade/HttpTransfer.h"
#include "upgrade/UpgradeMessages.h"

#include <QDate>
#include <QDateTime>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QTimer;
class QThread;

namespace lianbu::upgrade {

class DownloadWindow;
class UpgradeQuestionDialog;

enum class VersionRule { ByDate, ByNumber };

// The digits are those of the information file's #method= and of the updater's command line.
enum class UpgradeMethod { ReplaceFiles = 0, ExternalSetup = 1, RedirectToUrl = 2 };

enum class MiscFilesMode { AlwaysDownload, OnlyIfSizeDifferent };

// The situations the component reports with a window (bits 0 to 6 of showMessages).
enum class MessageKind {
    AskUpgrade,
    ConnectionLost,
    HostUnreachable,
    LostFile,
    NoInfoFile,
    NoUpdateAvailable,
    PasswordRequest
};

// A set of message kinds; the default {MessageKind::AskUpgrade, MessageKind::ConnectionLost, MessageKind::LostFile, MessageKind::PasswordRequest} is 75.
class MessageKinds
{
public:
    constexpr MessageKinds() = default;
    constexpr MessageKinds(std::initializer_list<MessageKind> kinds)
    {
        for (MessageKind k : kinds)
            m_bits |= 1u << static_cast<unsigned>(k);
    }
    static constexpr MessageKinds fromValue(unsigned bits)
    {
        MessageKinds s;
        s.m_bits = bits & 0x7Fu;
        return s;
    }
    constexpr bool contains(MessageKind kind) const { return m_bits & (1u << static_cast<unsigned>(kind)); }
    constexpr void insert(MessageKind kind) { m_bits |= 1u << static_cast<unsigned>(kind); }
    constexpr void remove(MessageKind kind) { m_bits &= ~(1u << static_cast<unsigned>(kind)); }
    constexpr unsigned value() const { return m_bits; }
    constexpr bool operator==(const MessageKinds &) const = default;

private:
    unsigned m_bits = 0;
};

// The download window's options.
class DownloadWindowOptions
{
public:
    DownloadWindowOptions() { setLanguage(WizardLanguage::Auto); }

    bool enabled = true; // show the download window
    QPixmap sidePicture; // replaces the window's side picture when not empty
    bool stayOnTop = true;

    WizardLanguage language() const { return m_language; }
    // Chooses the message table for every upgrader window of the process.
    void setLanguage(WizardLanguage language)
    {
        m_language = language;
        setWizardLanguage(language);
    }

private:
    WizardLanguage m_language = WizardLanguage::Auto;
};

// ---- the information file (plain functions; the text is the decoded file)

// The value of "#key=" (marker found in any letter case): from after "=" up to the first
// character below code 32 or the end; empty when the key is missing or its value is empty.
QString infoFileValue(const QString &text, const QString &key);
// The block value of "#message={": up to the first "}" or the end of the text.
QString infoFileMessage(const QString &text);
// The file addresses: url, url0, then url<n> from n = count so far + 1 up to the first gap.
QStringList infoFileUrls(const QString &text);
// "1..." external setup, "2..." redirect, anything else self upgrade.
UpgradeMethod infoFileMethod(const QString &text);

// A decimal integer as the version and date readers accept it: leading blanks, an optional
// sign, digits and nothing after. False when the text is not one.
bool readDecimal(const QString &text, int &value);
// "MM/DD/YYYY" as a date; a text that is not a valid calendar date gives fallback.
QDate readVersionDate(const QString &text, const QDate &fallback);
// VersionRule::ByDate: published strictly later than own (unreadable dates count as today).
bool isNewerByDate(const QString &publishedDate, const QString &ownDate, const QDate &today);
// VersionRule::ByNumber: four dotted parts compared as numbers; a part that is not a number makes the
// whole texts compare byte-wise.
bool isNewerByNumber(const QString &publishedVersion, const QString &ownVersion);
// The four parts of a version text ("1.2" -> "1", "2", "0", "0").
QStringList versionParts(const QString &version);

// The file addresses an information file may list: http and https only (a file: entry would copy
// a local file into the program folder).
bool isDownloadAddress(const QString &address);

// The outcome of an install, as shown after the restart (empty text: nothing to show).
struct RestartReport
{
    bool success = false;
    QString text;
};
RestartReport restartReportText(int outcome, const QString &reason);

// "+" + restart parameters + the method's digit.
QString restartParameter(const QString &restartParams, UpgradeMethod method);
// MiscFilesMode::OnlyIfSizeDifferent: false when a file of the announced size already exists at the
// target (the local file without ".uTMP") and the target is not the running program.
bool fileNeedsDownload(MiscFilesMode mode, quint32 announcedSize, int fileCount, const QString &localTempFile,
                       const QString &programPath);
// The connection test of the automatic check: the computer's own host name resolves, and the
// last address of the list is not 127.0.0.1. May block (name resolution): never on the
// user-interface thread.
bool computerIsConnected();

class Upgrader : public HttpTransfer
{
    Q_OBJECT
public:
    explicit Upgrader(QObject *parent = nullptr);
    ~Upgrader() override;

    // ---- settings
    QString infoFileUrl() const { return m_infoFileURL; }
    void setInfoFileUrl(const QString &value) { m_infoFileURL = value; }
    VersionRule versionControl() const { return m_versionControl; }
    void setVersionControl(VersionRule value) { m_versionControl = value; }
    // "MM/DD/YYYY"; a new component holds the day it was created.
    QString versionDate() const { return m_versionDate; }
    void setVersionDate(const QString &value) { m_versionDate = value; }
    // Only a form designer acts on it; at run time it is stored and nothing else.
    bool versionDateAutoSet() const { return m_versionDateAutoSet; }
    void setVersionDateAutoSet(bool value) { m_versionDateAutoSet = value; }
    QString versionNumber() const { return m_versionNumber; }
    void setVersionNumber(const QString &value) { m_versionNumber = value; }
    bool autoCheck() const { return m_autoCheck; }
    void setAutoCheck(bool value);
    MessageKinds showMessages() const { return m_showMessages; }
    void setShowMessages(MessageKinds value) { m_showMessages = value; }
    // Empty text is stored as one blank.
    QString restartParams() const { return m_restartParams; }
    void setRestartParams(const QString &value) { m_restartParams = value.isEmpty() ? QStringLiteral(" ") : value; }
    MiscFilesMode miscFilesUpgrade() const { return m_miscFilesUpgrade; }
    void setMiscFilesUpgrade(MiscFilesMode value) { m_miscFilesUpgrade = value; }
    DownloadWindowOptions &wizard() { return m_wizard; }

    // The running program's executable: the run's files go to its folder, the size rule spares
    // it, and the updater restarts it. QCoreApplication::applicationFilePath() by default.
    QString programPath() const { return m_programPath; }
    void setProgramPath(const QString &path) { m_programPath = path; }

    // The publisher's minisign public key (its text form). Every information file and every
    // listed file must carry a valid signature by it (<address>.minisig); without a key no
    // upgrade is accepted, except in builds made with LIANBU_UPGRADE_ALLOW_UNSIGNED, which read
    // unsigned information files as before when no key is set.
    void setPublicKey(const QString &text);
    bool hasPublicKey() const { return m_publicKey.has_value(); }
    bool signaturesRequired() const;
    // The largest listed file accepted (default 512 MiB); never more than the free space.
    qint64 maxFileSize() const { return m_maxFileSize; }
    void setMaxFileSize(qint64 bytes) { m_maxFileSize = bytes; }
    // The longest one listed file may take in total, in milliseconds (default 30 minutes).
    quint32 fileDeadline() const { return m_fileDeadline; }
    void setFileDeadline(quint32 ms) { m_fileDeadline = ms; }
    // The arguments the program was started with (after its name); the restart after an upgrade
    // gives them again, so the program opens the same register. QCoreApplication's by default.
    QStringList programArguments() const { return m_programArguments; }
    void setProgramArguments(const QStringList &arguments) { m_programArguments = arguments; }
    // The per-user settings file that remembers the newest release installed (none by default;
    // the program's own upgrader uses its settings file). The program folder remembers it too.
    QString settingsFile() const { return m_settingsFile; }
    void setSettingsFile(const QString &path) { m_settingsFile = path; }
    // The newest release ever installed here ("MM/DD/YYYY"; empty when none is known). Releases
    // up to this one are never offered again.
    QString newestInstalledRelease() const;
    // The lines the component wrote to the log (also sent to the Qt message log).
    const QStringList &logLines() const { return m_log; }
    // The message shown for the last start's install outcome (empty when none was shown).
    QString restartReportShown() const { return m_restartReportShown; }

    // ---- operations
    // Starts a check and returns at once. Ignored while a transfer runs, and while a check or
    // an upgrade run is still in progress (its question or its download window open).
    void checkUpdate();
    // Abandons a check or a run: sets aborted, stopUpgrade, onAborted.
    void abortUpgrade();
    // Cancels the running transfer and closes the ask window and the download window.
    void stopUpgrade();
    // After the stored settings are loaded: raises onAfterRestart when the first argument
    // (after the program name) equals restartParams.
    void loaded(const QStringList &arguments);
    void loaded();

    // ---- state (tests, windows)
    bool aborted() const { return m_aborted; }
    // The user answered "later" in the ask window at least once since the program started.
    bool userDeclined() const { return m_userDeclined; }
    bool inProgress() const { return m_mode != Mode::Idle; }
    bool runInProgress() const { return m_mode == Mode::Files; }
    bool automaticCheckDone() const { return m_automaticCheckDone; }
    bool checkIsAutomatic() const { return m_checkIsAutomatic; }
    QTimer *autoCheckTimer() const { return m_timer; }
    const QStringList &files() const { return m_files; }
    UpgradeMethod upgradeMethod() const { return m_upgradeMethod; }
    int currentIndex() const { return m_currentIndex; }
    QString currentLocalFile() const { return m_currentLocalFile; }
    DownloadWindow *downloadWindow() const;
    UpgradeQuestionDialog *questionDialog() const;
    // The updater started by the last run (empty when it could not be started) and the
    // command line it was given.
    QString lastUpdaterPath() const { return m_lastUpdaterPath; }
    QString lastCommandLine() const { return m_lastCommandLine; }
    // One tick of the automatic check with the connection test's answer (the timer runs the
    // test on a thread of its own first).
    void autoCheckTick(bool connected);

    // ---- events (none assigned in this program; all run on the user-interface thread)
    // (quitRequested below is the signal the main window connects to end the program.)
    std::function<void(QObject *sender, const QString &upgradeMessage, UpgradeMethod method, QStringList &files,
                       bool &canUpgrade)>
        onBeginUpgrade;
    std::function<void(QObject *sender)> onLaterUpgrade;
    std::function<void(QObject *sender)> onNoUpdateAvailable;
    std::function<void(QObject *sender)> onNoInfoFile;
    std::function<void(QObject *sender, const QString &url, const QString &hostName)> onHostUnreachable;
    std::function<void(QObject *sender)> onConnLost;
    std::function<void(QObject *sender, const QString &realm, bool &tryAgain)> onPasswordRequest;
    std::function<void(QObject *sender, const QString &fileUrl, quint32 fileSize, const QDateTime &fileTime,
                       bool &canUpgrade)>
        onFileStart;
    std::function<void(QObject *sender, const QString &fileUrl, quint32 fileSize, quint32 bytesRead,
                       unsigned elapsedTime, int estimatedTimeLeft, int percentsDone, int totalPercentsDone,
                       float transferRate)>
        onProgress;
    std::function<void(QObject *sender, const QString &fileName)> onFileDone;
    std::function<void(QObject *sender, const QString &fileUrl, int errorCode, bool &continueUpgrade)> onLostFile;
    std::function<void(QObject *sender)> onEndUpgrade;
    std::function<void(QObject *sender)> onDoOwnCloseAppMethod;
    std::function<void(QObject *sender)> onAfterRestart;
    std::function<void(QObject *sender)> onAborted;

    // The largest information file accepted.
    static constexpr qint64 kMaxInfoFileSize = 64 * 1024;

signals:
    // The updater has been started: the program must close now so it can replace the files.
    void quitRequested();

private:
    enum class Mode { Idle, Info, Files };

    // results of the transfers
    void handleHeaderInfo(const ResponseHeaders &info, bool &goOn);
    void handleTransferProgress(const TransferProgress &progress);
    void handleDone(QIODevice *stream);
    void handleDoneInterrupted();
    void handleHttpError(int status);
    void handleHostNotFound();
    void handleConnectionLost();
    void handleAuthorizationRequired(const QString &realm, bool &tryAgain);
    void handleAnyError();

    void evaluateInfoFile(const QByteArray &body);
    void infoSignatureArrived(const QByteArray &signature);
    void refuseInfoFile(const QString &why);
    void verifyDownloadedFile();
    void fileVerified(bool valid, const QString &why, const updater::ManifestEntry &entry);
    void refuseRun(const QString &why, const QString &text = QString());
    void discardRunFiles();
    bool writeManifest();
    bool otherInstancesClosed();
    void showRestartReport(const RestartReport &report);
    void log(const QString &line);
    bool isNewer(const QString &text) const;
    bool askUpgrade(const QString &message);
    void redirectToURL(const QString &address);
    void startRun();
    void fetchCurrentFile();
    void nextFile();
    void endRun();
    void finishRun();
    void launchUpdaterAndClose();
    void wizardCancelRequested();
    void wizardFinished();
    void armTimer();
    void timerTick();

    QString m_infoFileURL = QStringLiteral("http://");
    VersionRule m_versionControl = VersionRule::ByDate;
    QString m_versionDate;
    bool m_versionDateAutoSet = true;
    QString m_versionNumber;
    bool m_autoCheck = false;
    MessageKinds m_showMessages{MessageKind::AskUpgrade, MessageKind::ConnectionLost, MessageKind::LostFile,
                                MessageKind::PasswordRequest};
    QString m_restartParams = QStringLiteral("/afterupgrade");
    MiscFilesMode m_miscFilesUpgrade = MiscFilesMode::AlwaysDownload;
    DownloadWindowOptions m_wizard;
    QString m_programPath;

    QStringList m_files;
    UpgradeMethod m_upgradeMethod = UpgradeMethod::ReplaceFiles;
    Mode m_mode = Mode::Idle;
    bool m_aborted = false;
    bool m_userDeclined = false;
    bool m_automaticCheckDone = false;
    bool m_checkIsAutomatic = false;
    bool m_connectionTestRunning = false;
    // An error with no result after it: the output file could not be created.
    bool m_unansweredError = false;
    unsigned m_errorSequence = 0;
    int m_currentIndex = 0;
    QString m_currentURL;
    QString m_currentLocalFile;
    QDateTime m_fileTime;
    QString m_lastUpdaterPath;
    QString m_lastCommandLine;

    std::optional<upgrade::PublicKey> m_publicKey;
    qint64 m_maxFileSize = 512LL * 1024 * 1024;
    quint32 m_fileDeadline = 30 * 60 * 1000;
    QStringList m_log;
    QString m_restartReportShown;
    // The information file while its signature is fetched; the signature step of a file.
    QByteArray m_infoBody;
    QByteArray m_infoSignature;
    QString m_publicKeyText;
    // The release the signed information file describes; every listed file must match it.
    std::optional<updater::Release> m_release;
    QStringList m_programArguments;
    QString m_settingsFile;
    bool m_fetchingSignature = false;
    bool m_verifying = false;
    std::vector<updater::ManifestEntry> m_verified;
    QStringList m_runFiles; // the run's temporary files, deleted when it installs nothing

    QTimer *m_timer;
    QPointer<DownloadWindow> m_wizardForm;
    QPointer<UpgradeQuestionDialog> m_askForm;
};

// The address of the information file this program checks (the build setting
// LIANBU_UPGRADE_INFO_URL; "https://", no host, when none is configured).
QString upgradeInfoFileAddress();
// The main window's upgrader with this program's settings, its settings loaded.
Upgrader *createMainUpgrader(QObject *owner);

} // namespace lianbu::upgrade
