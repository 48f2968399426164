#include "upgrade/Upgrader.h"

#include "platform/AppInfo.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Decimal.h"
#include "platform/Dialogs.h"
#include "platform/Gbk.h"
#include "platform/HostAddresses.h"
#include "platform/Installation.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "platform/SystemFiles.h"
#include "updater/Install.h"
#include "updater/ProgramLock.h"
#include "updater/UpdaterCore.h"
#include "updater/UpdaterProgram.h"
#include "upgrade/CredentialsDialog.h"
#include "upgrade/UpgradeQuestionDialog.h"
#include "upgrade/DownloadWindow.h"
#include "upgrade/GoodStart.h"
#include "upgrade/ReleaseStamp.h"
#include "upgrade/UpgradeText.h"

#include <QApplication>
#include <QWidget>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <climits>
#include <memory>
#include <sstream>

namespace lianbu::upgrade {

namespace {

Q_LOGGING_CATEGORY(upgradeLog, "lianbu.upgrade")

constexpr int kAutoCheckPeriodMs = 10000;
const QString kTempSuffix = QString::fromLatin1(updater::kUpdateSuffix);
const QString kSignatureSuffix = QStringLiteral(".minisig");
// The information file is small; it must arrive well within this.
constexpr quint32 kInfoFileDeadlineMs = 2 * 60 * 1000;
// Slower than this over a whole stall limit counts as stalled (a server dripping a few bytes).
constexpr quint32 kMinimumSpeed = 512;

#ifndef LIANBU_UPGRADE_PUBLIC_KEY
#define LIANBU_UPGRADE_PUBLIC_KEY ""
#endif

std::string folderOfProgram(const QString &programPath)
{
    return QFile::encodeName(QFileInfo(programPath).absolutePath() + QLatin1Char('/')).toStdString();
}

// Tried for real: permission bits alone miss read-only mounts and access lists.
bool canCreateFileIn(const QString &folder)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string probe =
            QDir(folder)
                .filePath(QStringLiteral(".lianbu-write-%1")
                              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')))
                .toUtf8()
                .toStdString();
        const int fd = files::createNew(probe, true);
        if (fd == -EEXIST)
            continue;
        if (fd < 0)
            return false;
        files::closeFile(fd);
        files::removeFile(probe);
        return true;
    }
    return false;
}

// Lower case of the markers' letters only, so every position stays where it was.
QString asciiLower(const QString &text)
{
    QString lower = text;
    for (QChar &c : lower) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return lower;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The information file

QString infoFileValue(const QString &text, const QString &key)
{
    const QString marker = QLatin1Char('#') + key.toLower() + QLatin1Char('=');
    const qsizetype at = asciiLower(text).indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype start = at + marker.size();
    qsizetype end = start;
    while (end < text.size() && text.at(end).unicode() >= 32)
        ++end;
    return text.mid(start, end - start);
}

QString infoFileMessage(const QString &text)
{
    const QString marker = QStringLiteral("#message={");
    const qsizetype at = asciiLower(text).indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype start = at + marker.size();
    const qsizetype end = text.indexOf(QLatin1Char('}'), start);
    return end < 0 ? text.mid(start) : text.mid(start, end - start);
}

QStringList infoFileUrls(const QString &text)
{
    QStringList urls;
    for (const char *key : {"url", "url0"}) {
        const QString value = infoFileValue(text, QString::fromLatin1(key));
        if (!value.isEmpty())
            urls << value;
    }
    for (int n = int(urls.size()) + 1;; ++n) {
        const QString value = infoFileValue(text, QStringLiteral("url") + QString::number(n));
        if (value.isEmpty())
            break;
        urls << value;
    }
    return urls;
}

UpgradeMethod infoFileMethod(const QString &text)
{
    const QString value = infoFileValue(text, QStringLiteral("method"));
    if (value.startsWith(QLatin1Char('1')))
        return UpgradeMethod::ExternalSetup;
    if (value.startsWith(QLatin1Char('2')))
        return UpgradeMethod::RedirectToUrl;
    return UpgradeMethod::ReplaceFiles;
}

bool readDecimal(const QString &text, int &value)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    // Characters outside Latin-1 become "?", which is no digit.
    const std::optional<int> number = parseInt32(QStringView(text).mid(i).toLatin1());
    if (number)
        value = *number;
    return number.has_value();
}

QDate readVersionDate(const QString &text, const QDate &fallback)
{
    const qsizetype first = text.indexOf(QLatin1Char('/'));
    if (first < 0)
        return fallback;
    const qsizetype second = text.indexOf(QLatin1Char('/'), first + 1);
    if (second < 0)
        return fallback;
    int month = 0, day = 0, year = 0;
    if (!readDecimal(text.left(first), month) || !readDecimal(text.mid(first + 1, second - first - 1), day)
        || !readDecimal(text.mid(second + 1), year))
        return fallback;
    if (year < 1 || year > 9999)
        return fallback;
    const QDate date(year, month, day);
    return date.isValid() ? date : fallback;
}

bool isNewerByDate(const QString &publishedDate, const QString &ownDate, const QDate &today)
{
    return readVersionDate(publishedDate, today) > readVersionDate(ownDate, today);
}

QStringList versionParts(const QString &version)
{
    QString rest = version + QLatin1Char('.');
    QStringList parts;
    for (int i = 0; i < 4; ++i) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot < 0) {
            parts << QStringLiteral("0");
            continue;
        }
        parts << rest.left(dot);
        rest = rest.mid(dot + 1);
    }
    return parts;
}

bool isNewerByNumber(const QString &publishedVersion, const QString &ownVersion)
{
    const QStringList published = versionParts(publishedVersion);
    const QStringList own = versionParts(ownVersion);
    for (int i = 0; i < 4; ++i) {
        int a = -1, b = -1;
        if (!readDecimal(published.at(i), a))
            a = -1;
        if (!readDecimal(own.at(i), b))
            b = -1;
        if (a == -1 || b == -1) {
            // Byte-wise, as the texts stand in the information file.
            const QByteArray p = gbk::encode(publishedVersion);
            const QByteArray o = gbk::encode(ownVersion);
            return std::lexicographical_compare(o.begin(), o.end(), p.begin(), p.end(),
                                                [](char x, char y) { return uchar(x) < uchar(y); });
        }
        if (a != b)
            return a > b;
    }
    return false;
}

bool isDownloadAddress(const QString &address)
{
    // Addresses without a scheme are fetched as http (the transfer client's rule).
    if (!address.contains(QLatin1String("://")))
        return true;
    const QString scheme = address.left(address.indexOf(QLatin1String("://"))).trimmed().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

RestartReport restartReportText(int outcome, const QString &reason)
{
    const QString title = applicationTitle();
    switch (static_cast<updater::Outcome>(outcome)) {
    case updater::Outcome::Installed:
        return {true, QStringLiteral("升级已完成，%1 已作为新版本重新启动。").arg(title)};
    case updater::Outcome::RolledBack:
        return {false, QStringLiteral("升级没有完成，已恢复到原来的版本。\n原因：%1").arg(reason)};
    case updater::Outcome::Rejected:
        return {false, QStringLiteral("下载的文件没有通过检查，没有安装任何文件。\n原因：%1").arg(reason)};
    case updater::Outcome::NotStarted:
        return {
            false,
            QStringLiteral("升级没有进行：当时 %1 还有其他窗口在运行。\n请关闭所有 %1 窗口后再检查升级。").arg(title)};
    }
    return {};
}

QString restartParameter(const QString &restartParams, UpgradeMethod method)
{
    return QLatin1Char('+') + restartParams + QString::number(method == UpgradeMethod::ExternalSetup ? 1 : 0);
}

bool fileNeedsDownload(MiscFilesMode mode, quint32 announcedSize, int fileCount, const QString &localTempFile,
                       const QString &programPath)
{
    if (mode != MiscFilesMode::OnlyIfSizeDifferent || announcedSize == 0 || fileCount < 2)
        return true;
    const QString target = localTempFile.left(localTempFile.size() - kTempSuffix.size());
    const QFileInfo info(target);
    if (info.fileName().compare(QFileInfo(programPath).fileName(), Qt::CaseInsensitive) == 0)
        return true;
    if (!info.exists())
        return true;
    return qint64(announcedSize) != info.size();
}

bool computerIsConnected()
{
    const std::vector<std::string> addresses = net::ipv4AddressesOf(net::computerName());
    return !addresses.empty() && addresses.back() != "127.0.0.1";
}

// ---------------------------------------------------------------------------------------------
// Upgrader

Upgrader::Upgrader(QObject *parent)
    : HttpTransfer(parent)
    , m_timer(new QTimer(this))
{
    // An updater left by an earlier upgrade has done its work.
    updater::removeUpdaterFolders(QDir::tempPath());
    updater::removeUpdaterProgram(updater::updaterPath());
    m_versionDate = today().toString(QStringLiteral("MM/dd/yyyy"));
    m_programPath = QCoreApplication::applicationFilePath();
    m_programArguments = QCoreApplication::arguments().mid(1);
    setHideOutputFile(true);
    setPublicKey(QString::fromUtf8(LIANBU_UPGRADE_PUBLIC_KEY));
    timeouts().minimumSpeed = kMinimumSpeed;

    m_timer->setInterval(kAutoCheckPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &Upgrader::timerTick);

    onHeaderInfo = [this](HttpTransfer *, const ResponseHeaders &info, bool &goOn) { handleHeaderInfo(info, goOn); };
    onTransferProgress = [this](HttpTransfer *, const TransferProgress &p, QIODevice *) { handleTransferProgress(p); };
    onDone = [this](HttpTransfer *, const QString &, quint32, QIODevice *stream) { handleDone(stream); };
    onDoneInterrupted = [this](HttpTransfer *) { handleDoneInterrupted(); };
    onHttpError = [this](HttpTransfer *, int status, QIODevice *) { handleHttpError(status); };
    onHostNotFound = [this](HttpTransfer *) { handleHostNotFound(); };
    onConnectionLost = [this](HttpTransfer *, const QString &, quint32, quint32, QIODevice *) {
        handleConnectionLost();
    };
    onAuthorizationRequired = [this](HttpTransfer *, const QString &realm, bool &tryAgain) {
        handleAuthorizationRequired(realm, tryAgain);
    };
    onAnyError = [this](HttpTransfer *) { handleAnyError(); };
}

Upgrader::~Upgrader()
{
    m_timer->stop();
    if (m_askForm)
        delete m_askForm.data();
    if (m_wizardForm)
        delete m_wizardForm.data();
}

DownloadWindow *Upgrader::downloadWindow() const
{
    return m_wizardForm;
}

UpgradeQuestionDialog *Upgrader::questionDialog() const
{
    return m_askForm;
}

void Upgrader::setAutoCheck(bool value)
{
    if (value == m_autoCheck)
        return;
    m_autoCheck = value;
    armTimer();
}

void Upgrader::armTimer()
{
    m_timer->stop();
    if (m_autoCheck && !m_automaticCheckDone)
        m_timer->start();
}

void Upgrader::timerTick()
{
    // The connection test may wait for name resolution: it runs on a thread of its own.
    if (m_connectionTestRunning)
        return;
    m_connectionTestRunning = true;
    auto connected = std::make_shared<std::atomic<bool>>(false);
    QThread *test = QThread::create([connected] { connected->store(computerIsConnected()); });
    QPointer<Upgrader> self(this);
    connect(test, &QThread::finished, test, [self, connected, test] {
        test->deleteLater();
        if (!self)
            return;
        self->m_connectionTestRunning = false;
        self->autoCheckTick(connected->load());
    });
    test->start();
}

void Upgrader::autoCheckTick(bool connected)
{
    try {
        if (connected && m_autoCheck) {
            m_automaticCheckDone = true;
            m_timer->stop();
            checkUpdate();
            m_checkIsAutomatic = true;
        }
    } catch (...) {
        reportCurrentException();
    }
}

void Upgrader::loaded(const QStringList &arguments)
{
    armTimer();
    const bool restarted = arguments.size() > 1 && arguments.at(1) == m_restartParams;
    const std::string folder = folderOfProgram(m_programPath);
    RestartReport report;
    if (goodStartReportedFor() == QFile::decodeName(QByteArray::fromStdString(folder))) {
        report = restartReportText(int(updater::Outcome::Installed), {});
    } else if (restarted && updater::installAwaitingStart(folder)) {
        // The updater waits for this report; without it, it puts the old version back.
        if (updater::reportGoodStart(folder))
            report = restartReportText(int(updater::Outcome::Installed), {});
        else
            log(QStringLiteral("cannot report the good start in %1").arg(QString::fromStdString(folder)));
    }
    // An install a killed updater left unfinished is completed (after the good start above) or
    // undone, so old and new files are never left mixed.
    std::ostringstream recoveryLog;
    updater::recoverInterruptedInstall(folder, recoveryLog);
    if (!recoveryLog.str().empty())
        log(QString::fromStdString(recoveryLog.str()).trimmed());
    updater::Outcome outcome;
    std::string reason;
    if (report.text.isEmpty() && updater::takeResult(folder, outcome, reason))
        report = restartReportText(int(outcome), QString::fromStdString(reason));
    // The per-user record follows the folder's, so a program folder put back from an older copy
    // is not offered what was already installed.
    const int folderNewest = updater::newestInstalled(folder);
    const auto recorded = [this] {
        return profileString(m_settingsFile, QStringLiteral("Upgrade"), QStringLiteral("NewestRelease"));
    };
    if (!m_settingsFile.isEmpty() && folderNewest > updater::releaseDay(recorded().toStdString())) {
        if (!writeProfileString(m_settingsFile, QStringLiteral("Upgrade"), QStringLiteral("NewestRelease"),
                                QString::fromStdString(updater::releaseDayText(folderNewest))))
            log(QStringLiteral("cannot record the installed release in %1").arg(m_settingsFile));
    }
    if (!report.text.isEmpty())
        QTimer::singleShot(0, this, [this, report] { showRestartReport(report); });
    if (onAfterRestart && restarted)
        onAfterRestart(this);
}

void Upgrader::showRestartReport(const RestartReport &report)
{
    BoxRequest box;
    box.icon = report.success ? BoxIcon::Information : BoxIcon::Warning;
    box.caption = applicationTitle();
    box.text = report.text;
    m_restartReportShown = report.text;
    dialogs().messageBox(nullptr, box);
}

QString Upgrader::newestInstalledRelease() const
{
    int newest = updater::newestInstalled(folderOfProgram(m_programPath));
    if (!m_settingsFile.isEmpty()) {
        const QString recorded =
            profileString(m_settingsFile, QStringLiteral("Upgrade"), QStringLiteral("NewestRelease"));
        newest = std::max(newest, updater::releaseDay(recorded.toStdString()));
    }
    return QString::fromStdString(updater::releaseDayText(newest));
}

void Upgrader::setPublicKey(const QString &text)
{
    m_publicKey = text.trimmed().isEmpty() ? std::nullopt : upgrade::parsePublicKey(text);
    m_publicKeyText = m_publicKey ? text.trimmed().section(QLatin1Char('\n'), -1).trimmed() : QString();
    if (!text.trimmed().isEmpty() && !m_publicKey)
        log(QStringLiteral("the configured public key cannot be read; no upgrade will be accepted"));
}

bool Upgrader::signaturesRequired() const
{
#ifdef LIANBU_UPGRADE_ALLOW_UNSIGNED
    return m_publicKey.has_value();
#else
    return true;
#endif
}

void Upgrader::log(const QString &line)
{
    m_log << line;
    qCWarning(upgradeLog).noquote() << line;
}

void Upgrader::loaded()
{
    loaded(QCoreApplication::arguments());
}

void Upgrader::checkUpdate()
{
    m_aborted = false;
    m_checkIsAutomatic = false;
    // A check whose question is open, or a run (its download window may wait for its OK),
    // must not be overtaken by a second one.
    if (busy() || m_mode != Mode::Idle || m_verifying)
        return;
    if (signaturesRequired() && !m_publicKey) {
        log(QStringLiteral("no public key is configured: upgrades cannot be verified and are not checked for"));
        return;
    }
    m_mode = Mode::Info;
    m_fetchingSignature = false;
    m_infoBody.clear();
    setUseCache(false);
    setUrl(m_infoFileURL);
    setOutputFileName(QString());
    setMaxBodySize(kMaxInfoFileSize);
    timeouts().overallLimit = kInfoFileDeadlineMs;
    if (!read())
        m_mode = Mode::Idle;
}

void Upgrader::abortUpgrade()
{
    m_aborted = true;
    stopUpgrade();
    if (onAborted)
        onAborted(this);
}

void Upgrader::stopUpgrade()
{
    abort();
    m_mode = Mode::Idle;
    if (m_askForm) {
        m_askForm->done(QDialog::Rejected);
        m_askForm->deleteLater();
        m_askForm = nullptr;
    }
    if (m_wizardForm) {
        m_wizardForm->release();
        m_wizardForm = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Results of the transfers (user-interface thread, inside the client's hand-off)

void Upgrader::handleDone(QIODevice *stream)
{
    m_unansweredError = false;
    if (m_mode == Mode::Info) {
        const QByteArray body = stream ? stream->readAll() : QByteArray();
        if (!signaturesRequired()) {
            evaluateInfoFile(body);
        } else if (m_fetchingSignature) {
            m_fetchingSignature = false;
            infoSignatureArrived(body);
        } else {
            // The information file counts only with its signature.
            m_infoBody = body;
            m_fetchingSignature = true;
            setUrl(m_infoFileURL + kSignatureSuffix);
            setMaxBodySize(upgrade::kMaxSignatureFileSize);
            if (!read())
                refuseInfoFile(QStringLiteral("its signature cannot be requested"));
        }
        return;
    }
    if (m_mode != Mode::Files)
        return;
    if (m_fileTime.isValid()) {
        QFile file(m_currentLocalFile);
        if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            // No birth time can be set here; the last-write time carries the server's time.
            file.setFileTime(m_fileTime, QFileDevice::FileModificationTime);
            file.close();
        }
    }
    if (onFileDone)
        onFileDone(this, m_currentLocalFile);
    m_runFiles << m_currentLocalFile;
    verifyDownloadedFile();
}

void Upgrader::handleDoneInterrupted()
{
    m_unansweredError = false;
    if (m_mode != Mode::Files)
        return;
    // A release installs whole or not at all: a skipped file ends the run.
    if (m_release) {
        refuseRun(QStringLiteral("%1 was skipped").arg(m_currentURL),
                  QStringLiteral("升级文件 %1 没有下载。").arg(urlToFileName(m_currentURL)));
        return;
    }
    nextFile();
}

void Upgrader::handleHttpError(int status)
{
    m_unansweredError = false;
    if (m_fetchingSignature) {
        m_fetchingSignature = false;
        const QString why = QStringLiteral("no signature (the server answered %1)").arg(status);
        if (m_mode == Mode::Info)
            refuseInfoFile(why);
        else if (m_mode == Mode::Files)
            refuseRun(QStringLiteral("%1: %2").arg(m_currentURL, why));
        return;
    }
    if (m_mode == Mode::Info) {
        m_mode = Mode::Idle;
        // Quiet for the user, but a publisher must be able to see why nothing is offered.
        log(QStringLiteral("upgrade information file %1: the server answered %2").arg(m_infoFileURL).arg(status));
        if (onNoInfoFile)
            onNoInfoFile(this);
        if (m_showMessages.contains(MessageKind::NoInfoFile))
            errorBox(MessageSlot::NoInfoFile);
        return;
    }
    if (m_mode != Mode::Files)
        return;
    if (m_release) {
        // A signed release installs whole or not at all: nothing to skip, nothing to ask.
        const QString name = QString::fromStdString(m_release->files.at(std::size_t(m_currentIndex)).name);
        if (status == 200) // the answer came, but its file could not be written
            refuseRun(QStringLiteral("%1 cannot be written").arg(m_currentLocalFile),
                      QStringLiteral("升级文件 %1 无法写入程序文件夹。").arg(name));
        else
            refuseRun(QStringLiteral("%1: the server answered %2").arg(m_currentURL).arg(status),
                      QStringLiteral("升级文件 %1 无法下载（服务器回答 %2）。").arg(name).arg(status));
        return;
    }
    bool continueUpgrade = false;
    if (onLostFile)
        onLostFile(this, m_currentURL, status, continueUpgrade);
    if (m_mode != Mode::Files)
        return; // the handler abandoned the run
    if (m_showMessages.contains(MessageKind::LostFile)) {
        BoxRequest box;
        box.icon = BoxIcon::Warning;
        box.caption = messageText(MessageSlot::Error) + QStringLiteral(" #") + QString::number(status);
        box.text = formatMessage(MessageSlot::LostFile, {urlToFileName(m_currentURL)});
        box.buttons = {BoxButton::Yes, BoxButton::No};
        box.defaultButton = BoxButton::Yes;
        continueUpgrade = dialogs().messageBox(m_wizardForm, box) == BoxButton::Yes;
    }
    if (m_mode != Mode::Files)
        return;
    if (continueUpgrade)
        nextFile();
    else
        abortUpgrade();
}

void Upgrader::handleHostNotFound()
{
    m_unansweredError = false;
    if (m_mode == Mode::Idle)
        return;
    m_fetchingSignature = false;
    const QString host = urlToHostName(url());
    if (m_mode == Mode::Files) {
        // The run cannot go on: said once, and nothing it downloaded is left behind.
        if (onHostUnreachable)
            onHostUnreachable(this, url(), host);
        refuseRun(QStringLiteral("%1 cannot be reached (no connection, or its certificate was refused)").arg(url()),
                  QStringLiteral("无法连接升级服务器 %1，或者它的证书没有通过检查。").arg(host));
        return;
    }
    if (m_mode == Mode::Info)
        log(QStringLiteral("upgrade check: %1 cannot be reached").arg(url()));
    if (onHostUnreachable)
        onHostUnreachable(this, url(), host);
    if (m_checkIsAutomatic && m_mode == Mode::Info) {
        // Retried in ten seconds until the server answers.
        m_automaticCheckDone = false;
        armTimer();
    } else if (m_showMessages.contains(MessageKind::HostUnreachable)) {
        errorBox(MessageSlot::HostUnreachable, {QStringLiteral("'http://") + host + QLatin1Char('\'')});
    }
    stopUpgrade();
}

void Upgrader::handleConnectionLost()
{
    m_unansweredError = false;
    if (m_mode == Mode::Idle)
        return;
    m_fetchingSignature = false;
    if (limitExceeded()) {
        const QString why = QStringLiteral("%1 is larger than allowed or than the free space").arg(url());
        if (m_mode == Mode::Info)
            refuseInfoFile(why);
        else
            refuseRun(why, QStringLiteral("升级文件 %1 太大，或者磁盘上没有足够的空间。").arg(urlToFileName(url())));
        return;
    }
    if (writeFailed()) {
        refuseRun(
            QStringLiteral("%1 could not be written to disk").arg(url()),
            QStringLiteral("升级文件 %1 无法写入磁盘，磁盘可能已满。请腾出空间后再升级。").arg(urlToFileName(url())));
        return;
    }
    if (onConnLost)
        onConnLost(this);
    if (m_mode == Mode::Files) {
        refuseRun(QStringLiteral("the connection broke off while fetching %1").arg(url()),
                  messageText(MessageSlot::ConnectionLost));
        return;
    }
    log(QStringLiteral("upgrade check: the connection broke off while fetching %1").arg(url()));
    if (m_showMessages.contains(MessageKind::ConnectionLost))
        errorBox(MessageSlot::ConnectionLost);
    stopUpgrade();
}

void Upgrader::handleAuthorizationRequired(const QString &realm, bool &tryAgain)
{
    if (m_mode == Mode::Idle)
        return;
    tryAgain = false;
    if (onPasswordRequest)
        onPasswordRequest(this, realm, tryAgain);
    if (tryAgain || !m_showMessages.contains(MessageKind::PasswordRequest))
        return;
    CredentialsDialog form(urlToFileName(url()), httpUserName(), nullptr, realm);
    if (form.exec() == QDialog::Accepted) {
        setHttpUserName(form.userName());
        setHttpPassword(form.password());
        // Typed for this server: never sent to another one.
        setCredentialOrigin(urlOrigin(url()));
        tryAgain = true;
    } else {
        abortUpgrade();
    }
}

void Upgrader::handleAnyError()
{
    // Every failure is announced here first; when nothing follows, the file could not be
    // written next to the program. A run would then wait for ever without a word (and with
    // no download window nothing could end it): it is reported as a file not obtained.
    if (m_mode != Mode::Files)
        return;
    m_unansweredError = true;
    const unsigned sequence = ++m_errorSequence;
    QMetaObject::invokeMethod(
        this,
        [this, sequence] {
            if (m_unansweredError && sequence == m_errorSequence && m_mode == Mode::Files && !busy()) {
                m_unansweredError = false;
                handleHttpError(statusCode());
            }
        },
        Qt::QueuedConnection);
}

void Upgrader::handleHeaderInfo(const ResponseHeaders &info, bool &goOn)
{
    if (m_mode != Mode::Files || m_fetchingSignature)
        return;
    // An error page is no file: it is reported as lost, never skipped by the size rule.
    if (statusCode() != 200)
        return;
    m_fileTime = info.lastModified;
    if (m_wizardForm)
        m_wizardForm->showFileSize(info.contentLength);
    // Every file of a signed release is fetched: the updater installs all of them or none.
    bool canUpgrade = m_release
                      || fileNeedsDownload(m_miscFilesUpgrade, info.contentLength, int(m_files.size()),
                                           m_currentLocalFile, m_programPath);
    if (onFileStart)
        onFileStart(this, m_currentURL, info.contentLength, m_fileTime, canUpgrade);
    goOn = canUpgrade;
}

void Upgrader::handleTransferProgress(const TransferProgress &p)
{
    if (m_mode != Mode::Files || m_fetchingSignature)
        return;
    const int total = totalPercent(p.percentsDone, m_currentIndex, int(m_files.size()));
    if (onProgress) {
        onProgress(this, m_currentURL, p.contentLength, p.bytesRead, p.elapsedTime, p.estimatedTimeLeft, p.percentsDone,
                   total, p.transferRate);
    }
    if (m_wizardForm)
        m_wizardForm->showProgress(p.percentsDone, total, p.transferRate, p.estimatedTimeLeft);
}

// ---------------------------------------------------------------------------------------------
// The check

void Upgrader::evaluateInfoFile(const QByteArray &body)
{
    m_mode = Mode::Idle;
    const QString text = gbk::decode(body);
    m_files = infoFileUrls(text);
    m_release.reset();
    if (signaturesRequired()) {
        // Signed: the release names its date and every file's name, size and SHA-256.
        std::string why;
        m_release = updater::parseRelease(body.toStdString(), why);
        if (!m_release) {
            m_files.clear();
            refuseInfoFile(QString::fromStdString(why));
            return;
        }
    }
    for (const QString &address : std::as_const(m_files)) {
        if (!isDownloadAddress(address)) {
            // The message first: `address` lives in m_files.
            const QString why = QStringLiteral("it lists an address that is not http or https: %1").arg(address);
            m_files.clear();
            refuseInfoFile(why);
            return;
        }
    }
    if (!isNewer(text) || m_files.isEmpty()) {
        if (onNoUpdateAvailable)
            onNoUpdateAvailable(this);
        if (!m_checkIsAutomatic && m_showMessages.contains(MessageKind::NoUpdateAvailable))
            errorBox(MessageSlot::NoUpdate);
        return;
    }
    bool canUpgrade = true;
    const QString message = infoFileMessage(text);
    m_upgradeMethod = infoFileMethod(text);
    // An installed package is upgraded by the package manager: say that a new version exists (once
    // per session, as after "Later") and where to look, and fetch nothing.
    if (upgradesManagedByPackage()) {
        m_userDeclined = true;
        return showInformation(packagedUpgradeText(
            message,
            m_upgradeMethod == UpgradeMethod::RedirectToUrl && !m_files.isEmpty() ? m_files.first() : QString()));
    }
    // Nothing could be put in place: say so once, instead of asking and failing at every start.
    const QString programFolder = QFileInfo(m_programPath).absolutePath();
    if (!canCreateFileIn(programFolder)) {
        m_userDeclined = true;
        log(QStringLiteral("a newer release is published, but %1 cannot be written").arg(programFolder));
        return showInformation(
            QStringLiteral(
                "%1 有新版本，但程序所在的文件夹 %2 不能写入，无法自动升级。\n请让有写入权限的用户（例如管理员）升级。")
                .arg(applicationTitle(), programFolder));
    }
    // Until the answer is known, a second check must not start.
    m_mode = Mode::Info;
    if (onBeginUpgrade)
        onBeginUpgrade(this, message, m_upgradeMethod, m_files, canUpgrade);
    if (m_mode != Mode::Info)
        return; // abandoned meanwhile
    const bool asked = canUpgrade && m_showMessages.contains(MessageKind::AskUpgrade);
    if (canUpgrade && (!asked || askUpgrade(message))) {
        if (m_upgradeMethod == UpgradeMethod::RedirectToUrl) {
            m_mode = Mode::Idle;
            if (!m_files.isEmpty())
                redirectToURL(m_files.first());
        } else if (m_files.isEmpty()) {
            m_mode = Mode::Idle; // the handler emptied the list: nothing to fetch
        } else {
            startRun();
        }
        return;
    }
    const bool abandoned = m_mode != Mode::Info;
    m_mode = Mode::Idle;
    if (asked && !abandoned)
        m_userDeclined = true;
    if (!abandoned && onLaterUpgrade)
        onLaterUpgrade(this);
}

bool Upgrader::isNewer(const QString &text) const
{
    if (m_versionControl == VersionRule::ByNumber)
        return isNewerByNumber(infoFileValue(text, QStringLiteral("version")), m_versionNumber);
    const QString published = infoFileValue(text, QStringLiteral("date"));
    if (!isNewerByDate(published, m_versionDate, today()))
        return false;
    // Nothing up to the newest release ever installed here (also one that was rolled back after
    // it failed to start) is offered again.
    const QString newest = newestInstalledRelease();
    return newest.isEmpty() || isNewerByDate(published, newest, today());
}

bool Upgrader::askUpgrade(const QString &message)
{
    auto *form = new UpgradeQuestionDialog(upgradeQuestionText(applicationTitle(), message));
    m_askForm = form;
    const bool yes = form->ask();
    if (m_askForm == form) { // not already released by stopUpgrade
        m_askForm = nullptr;
        delete form;
    }
    return yes && m_mode == Mode::Info;
}

void Upgrader::redirectToURL(const QString &address)
{
    QString target = address;
    if (!target.contains(QLatin1String("://")))
        target.prepend(QLatin1String("http://"));
    openWebAddress(target);
}

// ---------------------------------------------------------------------------------------------
// The run

void Upgrader::startRun()
{
    // Nothing is downloaded while another instance would keep the updater waiting.
    m_mode = Mode::Files;
    if (!otherInstancesClosed()) {
        m_mode = Mode::Idle;
        m_userDeclined = true; // not asked again at every activation of this session
        log(QStringLiteral("the upgrade did not start: another instance of the program is running"));
        if (onLaterUpgrade)
            onLaterUpgrade(this);
        return;
    }
    setUseCache(true);
    m_currentIndex = 0;
    // A list left by an earlier run that never reached the updater must not be used.
    QFile::remove(
        QFile::decodeName(QByteArray::fromStdString(folderOfProgram(m_programPath) + updater::kManifestFile)));
    m_verified.clear();
    m_runFiles.clear();
    m_fetchingSignature = false;
    timeouts().overallLimit = m_fileDeadline;
    if (m_wizard.enabled) {
        auto *form = new DownloadWindow(m_wizard.sidePicture, m_wizard.stayOnTop);
        connect(form, &DownloadWindow::cancelRequested, this, &Upgrader::wizardCancelRequested, Qt::QueuedConnection);
        connect(form, &DownloadWindow::finished, this, &Upgrader::wizardFinished, Qt::QueuedConnection);
        m_wizardForm = form;
        form->show();
        form->raise();
    }
    fetchCurrentFile();
}

void Upgrader::fetchCurrentFile()
{
    if (m_currentIndex >= m_files.size()) {
        endRun();
        return;
    }
    m_currentURL = m_files.at(m_currentIndex);
    m_fileTime = QDateTime();
    if (m_wizardForm) {
        m_wizardForm->showFile(m_currentURL, m_currentIndex + 1, int(m_files.size()));
        m_wizardForm->showPreparing(totalPercent(0, m_currentIndex, int(m_files.size())));
    }
    // A signed release names each file itself (blanks and Chinese characters as they are).
    const QString name = m_release ? QString::fromStdString(m_release->files.at(std::size_t(m_currentIndex)).name)
                                   : urlToFileName(m_currentURL);
    m_currentLocalFile = QDir(QFileInfo(m_programPath).absolutePath()).filePath(name + kTempSuffix);
    setUrl(m_currentURL);
    setOutputFileName(m_currentLocalFile);
    setHideOutputFile(true);
    setMaxBodySize(m_maxFileSize);
    read();
}

void Upgrader::nextFile()
{
    ++m_currentIndex;
    fetchCurrentFile();
}

void Upgrader::endRun()
{
    if (m_wizardForm) {
        // The completion page waits for its OK (finishRun) or its close box (the question).
        m_wizardForm->showCompleted(applicationTitle());
        return;
    }
    // Outside the transfer's hand-off, so the worker ends before the program closes.
    QMetaObject::invokeMethod(this, &Upgrader::finishRun, Qt::QueuedConnection);
}

void Upgrader::wizardFinished()
{
    if (!m_wizardForm || m_mode != Mode::Files)
        return;
    m_wizardForm->release();
    m_wizardForm = nullptr;
    finishRun();
}

void Upgrader::wizardCancelRequested()
{
    if (!m_wizardForm)
        return;
    BoxRequest box;
    box.icon = BoxIcon::Question;
    box.caption = applicationTitle();
    box.text = messageText(MessageSlot::ConfirmAbort);
    box.buttons = {BoxButton::Yes, BoxButton::No};
    box.defaultButton = BoxButton::Yes;
    if (dialogs().messageBox(m_wizardForm, box) == BoxButton::Yes && m_wizardForm)
        abortUpgrade();
}

void Upgrader::finishRun()
{
    if (m_aborted || m_mode != Mode::Files)
        return;
    if (!writeManifest()) {
        refuseRun(QStringLiteral("the list of downloaded files cannot be written"));
        return;
    }
    m_mode = Mode::Idle;
    if (onEndUpgrade)
        onEndUpgrade(this);
    launchUpdaterAndClose();
}

void Upgrader::launchUpdaterAndClose()
{
    const QString parameter = restartParameter(m_restartParams, m_upgradeMethod);
    // The temporary folder, or the program's folder when that cannot take it. A failure is
    // not reported: the program closes all the same.
    const QString programFolder = QFileInfo(m_programPath).absolutePath();
    QString path = updater::privateUpdaterPath(QDir::tempPath(), programFolder);
    bool written = !path.isEmpty() && updater::writeUpdaterProgram(path);
    if (!written) {
        const QString fallback = QDir(programFolder).filePath(QString::fromLatin1(updater::kUpdaterName));
        if (fallback != path && updater::writeUpdaterProgram(fallback)) {
            path = fallback;
            written = true;
        }
    }
    const bool started = written && updater::startUpdater(path, m_programPath, parameter);
    m_lastUpdaterPath = started ? path : QString();
    m_lastCommandLine = updater::updaterCommandLine(path, m_programPath, parameter);
    if (onDoOwnCloseAppMethod) {
        onDoOwnCloseAppMethod(this);
        return;
    }
    // The main window closes on this (its close writes the session's logout time).
    emit quitRequested();
    QCoreApplication::quit();
}

// ---------------------------------------------------------------------------------------------
// Signatures, the manifest and the refusals

void Upgrader::refuseInfoFile(const QString &why)
{
    // Whoever wrote this file may have written its message too: nothing of it is shown.
    m_mode = Mode::Idle;
    m_fetchingSignature = false;
    m_infoBody.clear();
    log(QStringLiteral("upgrade information file %1 refused: %2").arg(m_infoFileURL, why));
    if (onNoUpdateAvailable)
        onNoUpdateAvailable(this);
}

void Upgrader::infoSignatureArrived(const QByteArray &signature)
{
    const QByteArray body = m_infoBody;
    m_infoBody.clear();
    const upgrade::Verification v = upgrade::verifySignature(body, signature, *m_publicKey);
    if (v.result != upgrade::SignatureResult::Valid) {
        refuseInfoFile(upgrade::signatureResultText(v.result));
        return;
    }
    m_infoSignature = signature;
    m_infoBody = body; // handed to the updater, which checks the files against it again
    evaluateInfoFile(body);
}

void Upgrader::verifyDownloadedFile()
{
    // Hashing a large file takes a while: off the user-interface thread.
    const QString path = m_currentLocalFile;
    std::optional<updater::ManifestEntry> listed;
    if (m_release)
        listed = m_release->files.at(std::size_t(m_currentIndex));
    const QString name = listed ? QString::fromStdString(listed->name) : urlToFileName(m_currentURL);
    struct Outcome
    {
        bool valid = false;
        QString why;
        updater::ManifestEntry entry;
    };
    auto outcome = std::make_shared<Outcome>();
    m_verifying = true;
    QThread *check = QThread::create([=] {
        if (!updater::isInstallableName(name.toStdString())) {
            outcome->why = QStringLiteral("%1 is not a file name that can be installed").arg(name);
            return;
        }
        const auto hash = updater::sha256OfFile(QFile::encodeName(path).toStdString());
        if (!hash) {
            outcome->why = QStringLiteral("%1 cannot be read").arg(path);
            return;
        }
        outcome->entry = {name.toStdString(), std::uint64_t(QFileInfo(path).size()), *hash};
        // The file must be the one the release lists at this place, by size and SHA-256.
        if (listed && (outcome->entry.size != listed->size || outcome->entry.sha256 != listed->sha256)) {
            outcome->why = QStringLiteral("%1 is not the file the signed release lists").arg(name);
            return;
        }
        outcome->valid = true;
    });
    QPointer<Upgrader> self(this);
    connect(check, &QThread::finished, check, &QObject::deleteLater);
    connect(check, &QThread::finished, this, [self, outcome] {
        if (!self)
            return;
        self->m_verifying = false;
        if (self->m_mode != Mode::Files || self->m_aborted)
            return;
        self->fileVerified(outcome->valid, outcome->why, outcome->entry);
    });
    check->start();
}

void Upgrader::fileVerified(bool valid, const QString &why, const updater::ManifestEntry &entry)
{
    if (!valid) {
        refuseRun(why);
        return;
    }
    // A name listed twice: the later file is the one that stays.
    std::erase_if(m_verified, [&](const updater::ManifestEntry &e) { return e.name == entry.name; });
    m_verified.push_back(entry);
    nextFile();
}

void Upgrader::refuseRun(const QString &why, const QString &text)
{
    log(QStringLiteral("upgrade abandoned, nothing will be installed: %1").arg(why));
    m_fetchingSignature = false;
    discardRunFiles();
    BoxRequest box;
    box.icon = BoxIcon::Stop;
    box.caption = applicationTitle();
    box.text = (text.isEmpty() ? QStringLiteral("下载的文件没有通过检查，") : text + QLatin1Char('\n'))
               + QStringLiteral("升级已取消，没有安装任何文件。\n%1 照常运行。").arg(applicationTitle());
    dialogs().messageBox(m_wizardForm, box);
    abortUpgrade();
}

void Upgrader::discardRunFiles()
{
    const std::string folder = folderOfProgram(m_programPath);
    for (const char *own : {updater::kManifestFile, updater::kSignedInfoFile, updater::kSignedInfoSignature})
        QFile::remove(QFile::decodeName(QByteArray::fromStdString(folder + own)));
    for (const QString &file : std::as_const(m_runFiles))
        QFile::remove(file);
    if (!m_currentLocalFile.isEmpty())
        QFile::remove(m_currentLocalFile);
    m_runFiles.clear();
    m_verified.clear();
}

bool Upgrader::writeManifest()
{
    const std::string folder = folderOfProgram(m_programPath);
    updater::HandOff handOff;
    handOff.entries = m_verified;
    QStringList arguments = m_programArguments;
    if (!arguments.isEmpty() && arguments.first() == m_restartParams)
        arguments.removeFirst(); // the restart gives its own marker
    for (const QString &argument : std::as_const(arguments))
        handOff.arguments.push_back(QFile::encodeName(argument).toStdString());
    if (m_release) {
        // The updater checks the files against the publisher's own signed list once more.
        handOff.publicKey = m_publicKeyText.toStdString();
        handOff.release = updater::releaseDayText(m_release->day);
        if (!updater::writeFileDurably(folder + updater::kSignedInfoFile, m_infoBody.toStdString())
            || !updater::writeFileDurably(folder + updater::kSignedInfoSignature, m_infoSignature.toStdString()))
            return false;
    }
    return updater::writeFileDurably(folder + updater::kManifestFile, updater::formatHandOff(handOff));
}

bool Upgrader::otherInstancesClosed()
{
    while (updater::otherInstanceRunning(QFile::encodeName(m_programPath).toStdString())) {
        BoxRequest box;
        box.icon = BoxIcon::Warning;
        box.caption = applicationTitle();
        box.text = QStringLiteral(
                       "%1 还有其他窗口在运行，升级需要先关闭它们。\n请关闭其他 %1 窗口后按“重试”；按“取消”则不升级。")
                       .arg(applicationTitle());
        box.buttons = {BoxButton::Retry, BoxButton::Cancel};
        box.defaultButton = BoxButton::Retry;
        if (dialogs().messageBox(nullptr, box) != BoxButton::Retry)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The program's upgrader

#ifndef LIANBU_UPGRADE_INFO_URL
#define LIANBU_UPGRADE_INFO_URL "https://"
#endif

QString upgradeInfoFileAddress()
{
    return QStringLiteral(LIANBU_UPGRADE_INFO_URL);
}

Upgrader *createMainUpgrader(QObject *owner)
{
    auto *upgrader = new Upgrader(owner);
    upgrader->setObjectName(QStringLiteral("upgrader"));
    // The settings of the main window's definition; everything else keeps its default.
    upgrader->setInfoFileUrl(upgradeInfoFileAddress());
    upgrader->setVersionDate(builtRelease());
    upgrader->setSettingsFile(paths::settingsFilePath());
    upgrader->setVersionDateAutoSet(true);
    // At the end of a run the main window closes (writing the session's logout time) so the
    // updater can replace the program.
    if (auto *window = qobject_cast<QWidget *>(owner))
        QObject::connect(upgrader, &Upgrader::quitRequested, window, &QWidget::close);
    upgrader->loaded();
    return upgrader;
}

} // namespace lianbu::upgrade
