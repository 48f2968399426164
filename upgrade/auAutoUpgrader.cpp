#include "upgrade/auAutoUpgrader.h"

#include "platform/AppInfo.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Gbk.h"
#include "platform/Installation.h"
#include "platform/Shell.h"
#include "updater/UpdaterCore.h"
#include "updater/UpdaterProgram.h"
#include "upgrade/auAutoUpgraderPassword.h"
#include "upgrade/auAutoUpgraderUpgradeMsg.h"
#include "upgrade/auAutoUpgraderWizard.h"
#include "upgrade/auUtils.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <climits>
#include <memory>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lianbu {

namespace {

constexpr int kAutoCheckPeriodMs = 10000;
const QString kTempSuffix = QStringLiteral(".uTMP");

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

TauUpgradeMethod infoFileMethod(const QString &text)
{
    const QString value = infoFileValue(text, QStringLiteral("method"));
    if (value.startsWith(QLatin1Char('1')))
        return umUseExternalSetup;
    if (value.startsWith(QLatin1Char('2')))
        return umRedirectToURL;
    return umSelfUpgrade;
}

bool readDecimal(const QString &text, int &value)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return false;
    qint64 number = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        number = number * 10 + (c.unicode() - '0');
        if (number > qint64(INT_MAX) + 1)
            return false;
    }
    if (negative)
        number = -number;
    if (number > INT_MAX || number < INT_MIN)
        return false;
    value = int(number);
    return true;
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

QString restartParameter(const QString &restartParams, TauUpgradeMethod method)
{
    return QLatin1Char('+') + restartParams + QString::number(method == umUseExternalSetup ? 1 : 0);
}

bool fileNeedsDownload(TauMiscFilesUpgrade mode, quint32 announcedSize, int fileCount, const QString &localTempFile,
                       const QString &programPath)
{
    if (mode != mfuOnlyIfSizeDifferent || announcedSize == 0 || fileCount < 2)
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
    char name[65] = {};
    if (::gethostname(name, 64) != 0)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return false;
    QString last;
    for (addrinfo *a = list; a; a = a->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            last = QString::fromLatin1(text);
    }
    ::freeaddrinfo(list);
    return !last.isEmpty() && last != QLatin1String("127.0.0.1");
}

// ---------------------------------------------------------------------------------------------
// TauAutoUpgrader

TauAutoUpgrader::TauAutoUpgrader(QObject *parent)
    : TauCustomHTTP(parent), m_timer(new QTimer(this))
{
    // An updater left by an earlier upgrade has done its work.
    updater::removeUpdaterProgram(updater::updaterPath());
    m_versionDate = today().toString(QStringLiteral("MM/dd/yyyy"));
    m_programPath = QCoreApplication::applicationFilePath();
    setHideOutputFile(true);

    m_timer->setInterval(kAutoCheckPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &TauAutoUpgrader::timerTick);

    OnHeaderInfo = [this](TauCustomHTTP *, const TauHeaderInfo &info, bool &goOn) { onHeaderInfo(info, goOn); };
    OnTransferProgress = [this](TauCustomHTTP *, const TauTransferProgress &p, QIODevice *) { onTransferProgress(p); };
    OnDone = [this](TauCustomHTTP *, const QString &, quint32, QIODevice *stream) { onDone(stream); };
    OnDoneInterrupted = [this](TauCustomHTTP *) { onDoneInterrupted(); };
    OnHTTPError = [this](TauCustomHTTP *, int status, QIODevice *) { onHTTPError(status); };
    OnHostNotFound = [this](TauCustomHTTP *) { onHostNotFound(); };
    OnConnectionLost = [this](TauCustomHTTP *, const QString &, quint32, quint32, QIODevice *) { onConnectionLost(); };
    OnAuthorizationRequired = [this](TauCustomHTTP *, const QString &realm, bool &tryAgain) {
        onAuthorizationRequired(realm, tryAgain);
    };
    OnAnyError = [this](TauCustomHTTP *) { onAnyError(); };
}

TauAutoUpgrader::~TauAutoUpgrader()
{
    m_timer->stop();
    if (m_askForm)
        delete m_askForm.data();
    if (m_wizardForm)
        delete m_wizardForm.data();
}

TauAutoUpgraderWizardForm *TauAutoUpgrader::WizardForm() const { return m_wizardForm; }

TauAutoUpgraderUpgradeMessageForm *TauAutoUpgrader::UpgradeMessageForm() const { return m_askForm; }

void TauAutoUpgrader::setAutoCheck(bool value)
{
    if (value == m_autoCheck)
        return;
    m_autoCheck = value;
    armTimer();
}

void TauAutoUpgrader::armTimer()
{
    m_timer->stop();
    if (m_autoCheck && !m_automaticCheckDone)
        m_timer->start();
}

void TauAutoUpgrader::timerTick()
{
    // The connection test may wait for name resolution: it runs on a thread of its own.
    if (m_connectionTestRunning)
        return;
    m_connectionTestRunning = true;
    auto connected = std::make_shared<std::atomic<bool>>(false);
    QThread *test = QThread::create([connected] { connected->store(computerIsConnected()); });
    QPointer<TauAutoUpgrader> self(this);
    connect(test, &QThread::finished, test, [self, connected, test] {
        test->deleteLater();
        if (!self)
            return;
        self->m_connectionTestRunning = false;
        self->AutoCheckTick(connected->load());
    });
    test->start();
}

void TauAutoUpgrader::AutoCheckTick(bool connected)
{
    try {
        if (connected && m_autoCheck) {
            m_automaticCheckDone = true;
            m_timer->stop();
            CheckUpdate();
            m_checkIsAutomatic = true;
        }
    } catch (...) {
        reportCurrentException();
    }
}

void TauAutoUpgrader::Loaded(const QStringList &arguments)
{
    armTimer();
    if (OnAfterRestart && arguments.size() > 1 && arguments.at(1) == m_restartParams)
        OnAfterRestart(this);
}

void TauAutoUpgrader::Loaded() { Loaded(QCoreApplication::arguments()); }

void TauAutoUpgrader::CheckUpdate()
{
    m_aborted = false;
    m_checkIsAutomatic = false;
    // A check whose question is open, or a run (its download window may wait for its OK),
    // must not be overtaken by a second one.
    if (Busy() || m_mode != Idle)
        return;
    m_mode = InfoMode;
    setUseCache(false);
    setURL(m_infoFileURL);
    setOutputFileName(QString());
    if (!Read())
        m_mode = Idle;
}

void TauAutoUpgrader::AbortUpgrade()
{
    m_aborted = true;
    StopUpgrade();
    if (OnAborted)
        OnAborted(this);
}

void TauAutoUpgrader::StopUpgrade()
{
    Abort();
    m_mode = Idle;
    if (m_askForm) {
        m_askForm->done(QDialog::Rejected);
        m_askForm->deleteLater();
        m_askForm = nullptr;
    }
    if (m_wizardForm) {
        m_wizardForm->Release();
        m_wizardForm = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Results of the transfers (user-interface thread, inside the client's hand-off)

void TauAutoUpgrader::onDone(QIODevice *stream)
{
    m_unansweredError = false;
    if (m_mode == InfoMode) {
        evaluateInfoFile(stream ? stream->readAll() : QByteArray());
        return;
    }
    if (m_mode != FilesMode)
        return;
    if (m_fileTime.isValid()) {
        QFile file(m_currentLocalFile);
        if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            // No birth time can be set here; the last-write time carries the server's time.
            file.setFileTime(m_fileTime, QFileDevice::FileModificationTime);
            file.close();
        }
    }
    if (OnFileDone)
        OnFileDone(this, m_currentLocalFile);
    nextFile();
}

void TauAutoUpgrader::onDoneInterrupted()
{
    m_unansweredError = false;
    if (m_mode == FilesMode)
        nextFile();
}

void TauAutoUpgrader::onHTTPError(int status)
{
    m_unansweredError = false;
    if (m_mode == InfoMode) {
        m_mode = Idle;
        if (OnNoInfoFile)
            OnNoInfoFile(this);
        if (m_showMessages.contains(mNoInfoFile))
            errorBox(msgNoInfoFile);
        return;
    }
    if (m_mode != FilesMode)
        return;
    bool continueUpgrade = false;
    if (OnLostFile)
        OnLostFile(this, m_currentURL, status, continueUpgrade);
    if (m_mode != FilesMode)
        return; // the handler abandoned the run
    if (m_showMessages.contains(mLostFile)) {
        BoxRequest box;
        box.icon = BoxIcon::Warning;
        box.caption = messageText(msgError) + QStringLiteral(" #") + QString::number(status);
        box.text = formatMessage(msgLostFile, {urlToFileName(m_currentURL)});
        box.buttons = {BoxButton::Yes, BoxButton::No};
        box.defaultButton = BoxButton::Yes;
        continueUpgrade = dialogs().messageBox(m_wizardForm, box) == BoxButton::Yes;
    }
    if (m_mode != FilesMode)
        return;
    if (continueUpgrade)
        nextFile();
    else
        AbortUpgrade();
}

void TauAutoUpgrader::onHostNotFound()
{
    m_unansweredError = false;
    if (m_mode == Idle)
        return;
    const QString host = urlToHostName(URL());
    if (OnHostUnreachable)
        OnHostUnreachable(this, URL(), host);
    if (m_checkIsAutomatic && m_mode == InfoMode) {
        // Retried in ten seconds until the server answers.
        m_automaticCheckDone = false;
        armTimer();
    } else if (m_showMessages.contains(mHostUnreachable)) {
        errorBox(msgHostUnreachable, {QStringLiteral("'http://") + host + QLatin1Char('\'')});
    }
    StopUpgrade();
}

void TauAutoUpgrader::onConnectionLost()
{
    m_unansweredError = false;
    if (m_mode == Idle)
        return;
    if (OnConnLost)
        OnConnLost(this);
    if (m_showMessages.contains(mConnLost))
        errorBox(msgConnectionLost);
    StopUpgrade();
}

void TauAutoUpgrader::onAuthorizationRequired(const QString &realm, bool &tryAgain)
{
    if (m_mode == Idle)
        return;
    tryAgain = false;
    if (OnPasswordRequest)
        OnPasswordRequest(this, realm, tryAgain);
    if (tryAgain || !m_showMessages.contains(mPasswordRequest))
        return;
    TauAutoUpgraderPasswordForm form(urlToFileName(URL()), HTTPUsername());
    if (form.exec() == QDialog::Accepted) {
        setHTTPUsername(form.UserName());
        setHTTPPassword(form.Password());
        tryAgain = true;
    } else {
        AbortUpgrade();
    }
}

void TauAutoUpgrader::onAnyError()
{
    // Every failure is announced here first; when nothing follows, the file could not be
    // written next to the program. A run would then wait for ever without a word (and with
    // no download window nothing could end it): it is reported as a file not obtained.
    if (m_mode != FilesMode)
        return;
    m_unansweredError = true;
    const unsigned sequence = ++m_errorSequence;
    QMetaObject::invokeMethod(
        this,
        [this, sequence] {
            if (m_unansweredError && sequence == m_errorSequence && m_mode == FilesMode && !Busy()) {
                m_unansweredError = false;
                onHTTPError(StatusCode());
            }
        },
        Qt::QueuedConnection);
}

void TauAutoUpgrader::onHeaderInfo(const TauHeaderInfo &info, bool &goOn)
{
    if (m_mode != FilesMode)
        return;
    // An error page is no file: it is reported as lost, never skipped by the size rule.
    if (StatusCode() != 200)
        return;
    m_fileTime = info.LastModified;
    if (m_wizardForm)
        m_wizardForm->ShowFileSize(info.ContentLength);
    bool canUpgrade = fileNeedsDownload(m_miscFilesUpgrade, info.ContentLength, int(m_files.size()),
                                        m_currentLocalFile, m_programPath);
    if (OnFileStart)
        OnFileStart(this, m_currentURL, info.ContentLength, m_fileTime, canUpgrade);
    goOn = canUpgrade;
}

void TauAutoUpgrader::onTransferProgress(const TauTransferProgress &p)
{
    if (m_mode != FilesMode)
        return;
    const int total = totalPercent(p.PercentsDone, m_currentIndex, int(m_files.size()));
    if (OnProgress) {
        OnProgress(this, m_currentURL, p.ContentLength, p.BytesRead, p.ElapsedTime, p.EstimatedTimeLeft,
                   p.PercentsDone, total, p.TransferRate);
    }
    if (m_wizardForm)
        m_wizardForm->ShowProgress(p.PercentsDone, total, p.TransferRate, p.EstimatedTimeLeft);
}

// ---------------------------------------------------------------------------------------------
// The check

void TauAutoUpgrader::evaluateInfoFile(const QByteArray &body)
{
    m_mode = Idle;
    const QString text = gbk::decode(body);
    m_files = infoFileUrls(text);
    if (!isNewer(text) || m_files.isEmpty()) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(this);
        if (!m_checkIsAutomatic && m_showMessages.contains(mNoUpdateAvailable))
            errorBox(msgNoUpdate);
        return;
    }
    bool canUpgrade = true;
    const QString message = infoFileMessage(text);
    m_upgradeMethod = infoFileMethod(text);
    // An installed package is upgraded by the package manager: say that a new version exists (once
    // per session, as after "Later") and where to look, and fetch nothing.
    if (upgradesManagedByPackage()) {
        m_userDeclined = true;
        return showInformation(packagedUpgradeText(message, m_upgradeMethod == umRedirectToURL ? m_files.first() : QString()));
    }
    // Until the answer is known, a second check must not start.
    m_mode = InfoMode;
    if (OnBeginUpgrade)
        OnBeginUpgrade(this, message, m_upgradeMethod, m_files, canUpgrade);
    if (m_mode != InfoMode)
        return; // abandoned meanwhile
    const bool asked = canUpgrade && m_showMessages.contains(mAskUpgrade);
    if (canUpgrade && (!asked || askUpgrade(message))) {
        if (m_upgradeMethod == umRedirectToURL) {
            m_mode = Idle;
            if (!m_files.isEmpty())
                redirectToURL(m_files.first());
        } else if (m_files.isEmpty()) {
            m_mode = Idle; // the handler emptied the list: nothing to fetch
        } else {
            startRun();
        }
        return;
    }
    const bool abandoned = m_mode != InfoMode;
    m_mode = Idle;
    if (asked && !abandoned)
        m_userDeclined = true;
    if (!abandoned && OnLaterUpgrade)
        OnLaterUpgrade(this);
}

bool TauAutoUpgrader::isNewer(const QString &text) const
{
    if (m_versionControl == byNumber)
        return isNewerByNumber(infoFileValue(text, QStringLiteral("version")), m_versionNumber);
    return isNewerByDate(infoFileValue(text, QStringLiteral("date")), m_versionDate, today());
}

bool TauAutoUpgrader::askUpgrade(const QString &message)
{
    auto *form = new TauAutoUpgraderUpgradeMessageForm(upgradeQuestionText(applicationTitle(), message));
    m_askForm = form;
    const bool yes = form->Ask();
    if (m_askForm == form) { // not already released by StopUpgrade
        m_askForm = nullptr;
        delete form;
    }
    return yes && m_mode == InfoMode;
}

void TauAutoUpgrader::redirectToURL(const QString &address)
{
    QString target = address;
    if (!target.contains(QLatin1String("://")))
        target.prepend(QLatin1String("http://"));
    openWebAddress(target);
}

// ---------------------------------------------------------------------------------------------
// The run

void TauAutoUpgrader::startRun()
{
    m_mode = FilesMode;
    setUseCache(true);
    m_currentIndex = 0;
    if (m_wizard.Enabled) {
        auto *form = new TauAutoUpgraderWizardForm(m_wizard.Pic118x218, m_wizard.StayOnTop);
        connect(form, &TauAutoUpgraderWizardForm::cancelRequested, this, &TauAutoUpgrader::wizardCancelRequested,
                Qt::QueuedConnection);
        connect(form, &TauAutoUpgraderWizardForm::finished, this, &TauAutoUpgrader::wizardFinished,
                Qt::QueuedConnection);
        m_wizardForm = form;
        form->show();
        form->raise();
    }
    fetchCurrentFile();
}

void TauAutoUpgrader::fetchCurrentFile()
{
    if (m_currentIndex >= m_files.size()) {
        endRun();
        return;
    }
    m_currentURL = m_files.at(m_currentIndex);
    m_fileTime = QDateTime();
    if (m_wizardForm) {
        m_wizardForm->ShowFile(m_currentURL, m_currentIndex + 1, int(m_files.size()));
        m_wizardForm->ShowPreparing(totalPercent(0, m_currentIndex, int(m_files.size())));
    }
    m_currentLocalFile = QDir(QFileInfo(m_programPath).absolutePath()).filePath(urlToFileName(m_currentURL) + kTempSuffix);
    setURL(m_currentURL);
    setOutputFileName(m_currentLocalFile);
    setHideOutputFile(true);
    Read();
}

void TauAutoUpgrader::nextFile()
{
    ++m_currentIndex;
    fetchCurrentFile();
}

void TauAutoUpgrader::endRun()
{
    if (m_wizardForm) {
        // The completion page waits for its OK (finishRun) or its close box (the question).
        m_wizardForm->ShowCompleted(applicationTitle());
        return;
    }
    // Outside the transfer's hand-off, so the worker ends before the program closes.
    QMetaObject::invokeMethod(this, &TauAutoUpgrader::finishRun, Qt::QueuedConnection);
}

void TauAutoUpgrader::wizardFinished()
{
    if (!m_wizardForm || m_mode != FilesMode)
        return;
    m_wizardForm->Release();
    m_wizardForm = nullptr;
    finishRun();
}

void TauAutoUpgrader::wizardCancelRequested()
{
    if (!m_wizardForm)
        return;
    BoxRequest box;
    box.icon = BoxIcon::Question;
    box.caption = applicationTitle();
    box.text = messageText(msgConfirmAbort);
    box.buttons = {BoxButton::Yes, BoxButton::No};
    box.defaultButton = BoxButton::Yes;
    if (dialogs().messageBox(m_wizardForm, box) == BoxButton::Yes && m_wizardForm)
        AbortUpgrade();
}

void TauAutoUpgrader::finishRun()
{
    if (m_aborted || m_mode != FilesMode)
        return;
    m_mode = Idle;
    if (OnEndUpgrade)
        OnEndUpgrade(this);
    launchUpdaterAndClose();
}

void TauAutoUpgrader::launchUpdaterAndClose()
{
    const QString parameter = restartParameter(m_restartParams, m_upgradeMethod);
    // The temporary folder, or the program's folder when that cannot take it. A failure is
    // not reported: the program closes all the same.
    const QString programFolder = QFileInfo(m_programPath).absolutePath();
    QString path = updater::updaterPathFor(QDir::tempPath(), programFolder);
    bool written = updater::writeUpdaterProgram(path);
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
    if (OnDoOwnCloseAppMethod) {
        OnDoOwnCloseAppMethod(this);
        return;
    }
    emit quitRequested();
    QCoreApplication::quit();
}

} // namespace lianbu
