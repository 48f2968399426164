#include "upgrade/HttpTransfer.h"

#include "upgrade/UpgradeText.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace lianbu::upgrade {

namespace {

// Header values longer than this count as absent (they would not fit the header buffer).
constexpr qsizetype kLongestHeaderValue = 4095;
// A lying Content-Length must not make us reserve gigabytes up front.
constexpr quint32 kLargestReservation = 64u * 1024u * 1024u;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

bool appendLine(Slist &list, const QByteArray &line)
{
    curl_slist *grown = curl_slist_append(list.get(), line.constData());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

} // namespace

QString urlOrigin(const QString &address)
{
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    if (url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
    return scheme + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':') + QString::number(port);
}

bool HttpCredentials::credentialsAllowedFor(const QString &address) const
{
    return m_credentialOrigin.isEmpty() || urlOrigin(address) == m_credentialOrigin;
}

QString httpStatusText(int code)
{
    switch (code) {
    case 10:
        return QStringLiteral("Resolving name");
    case 11:
        return QStringLiteral("Name resolved");
    case 20:
        return QStringLiteral("Connecting to server");
    case 21:
        return QStringLiteral("Connected");
    case 30:
        return QStringLiteral("Sending Request");
    case 31:
        return QStringLiteral("Request sent");
    case 40:
        return QStringLiteral("Receiving response");
    case 41:
        return QStringLiteral("Response received");
    case 42:
        return QStringLiteral("CTL Response received");
    case 43:
        return QStringLiteral("Prefetch");
    case 50:
        return QStringLiteral("Closing connection");
    case 51:
        return QStringLiteral("Connection closed");
    case 60:
        return QStringLiteral("Handle created");
    case 70:
        return QStringLiteral("Handle closing");
    case 100:
        return QStringLiteral("Request complete");
    case 110:
        return QStringLiteral("Redirect");
    case 120:
        return QStringLiteral("Intermediate response");
    case 200:
        return QStringLiteral("State change");
    default:
        return QStringLiteral("Unknown status");
    }
}

// ---------------------------------------------------------------------------------------------
// One transfer. Created on the user-interface thread by Read with a copy of the settings; from
// then on only the worker touches it, except inside hand-offs (the worker waits) and in the
// completion (the worker waits in its finish hand-off).

struct HttpTransfer::Transfer
{
    HttpTransfer *client;              // dereferenced only inside hand-offs, on the user-interface thread
    WorkerRun *threadObject = nullptr; // user-interface thread only

    // Settings copied by Read.
    QString url;
    QString outputFileName;
    bool useCache = true;
    bool useCookies = true;
    bool workOffline = false;
    QString acceptTypes;
    QString agent;
    QStringList addHeaders;
    QString referer;
    HttpRange range;
    HttpTimeouts timeouts;
    HttpProxy proxy;
    int bufferSize = 4096;
    qint64 maxBodySize = 0; // 0: no limit
    qint64 bodyLimit = 0;   // for this answer: maxBodySize and the free space; 0: none
    QString username;
    QString password;
    QString proxyUsername;
    QString proxyPassword;
    bool wantsHeaderInfo = false;
    bool wantsProgress = false;
    bool wantsAuthorization = false;
    bool wantsProxyAuthorization = false;
    std::function<void(HttpTransfer *, int, const QString &)> statusChange;
    std::function<void(HttpTransfer *, const QString &)> redirect;

    // Results and state.
    Results results;
    bool proceed = true;      // "continue": cleared by onHeaderInfo to decline the body
    bool headersDone = false; // onHeaderInfo delivered / output prepared for this answer
    bool hasOutput = false;
    bool outputFailed = false;  // the output file could not be created
    bool transferError = false; // the library reported a failure after the answer began
    bool connected = false;
    bool stalled = false; // a time limit ran out after the connection was made
    int blockStatus = -1;
    QByteArray statusLine;
    QList<QByteArray> headerLines;
    QByteArray deferredBody; // body of a 401/407 answer that may be retried
    QElapsedTimer clock;
    std::unique_ptr<QFile> file;
    QByteArray memory;
    std::unique_ptr<QBuffer> buffer;
    WorkerRun *worker = nullptr; // the thread object running this transfer (worker side)
    CURL *currentHandle = nullptr;

    explicit Transfer(HttpTransfer *owner)
        : client(owner)
    {}

    QIODevice *stream() const
    {
        if (file)
            return file.get();
        return buffer.get();
    }

    void releaseOutput()
    {
        if (file)
            file->close();
        file.reset();
        buffer.reset();
        memory = QByteArray();
    }

    bool cancelled() const { return worker->terminated(); }

    void status(int code)
    {
        if (statusChange && !cancelled())
            statusChange(client, code, httpStatusText(code));
    }

    // Runs routine on the user-interface thread with the client's results brought up to date.
    void handOff(const std::function<void(HttpTransfer *)> &routine)
    {
        worker->synchronize([this, &routine] {
            client->m_results = results;
            routine(client);
        });
    }

    // ---- header access (final answer)

    QString header(const char *name) const
    {
        const QByteArray wanted = QByteArray(name).toLower();
        for (const QByteArray &line : headerLines) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0 || line.left(colon).trimmed().toLower() != wanted)
                continue;
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (value.size() > kLongestHeaderValue)
                return {};
            return QString::fromLatin1(value);
        }
        return {};
    }

    QString realm() const
    {
        const QString challenge = header("WWW-Authenticate");
        const qsizetype at = challenge.indexOf(QLatin1String("=\""));
        if (at < 0)
            return {};
        QString text = challenge.mid(at + 2);
        const qsizetype quote = text.indexOf(QLatin1Char('"'));
        return quote < 0 ? text.left(text.size() - 1) : text.left(quote);
    }

    // ---- steps of the transfer (worker thread)

    void run(WorkerRun &thread);
    void runLocalFile(const QString &path);
    CURLcode performOnce(bool &authorizationAnswer);
    void readHeaders();
    void deliverHeaderInfo();
    void createOutput();
    bool appendBody(const char *data, qsizetype size);
    size_t onHeaderLine(const char *data, size_t size);
    size_t onBody(const char *data, size_t size);
    bool retryAfterAuthorization();
    void finishAttemptReset();
};

void HttpTransfer::Transfer::finishAttemptReset()
{
    results.status = -1;
    results.bytesRead = 0;
    results.headers = ResponseHeaders();
    headersDone = false;
    transferError = false;
    blockStatus = -1;
    statusLine.clear();
    headerLines.clear();
    deferredBody.clear();
    releaseOutput();
    hasOutput = false;
}

void HttpTransfer::Transfer::readHeaders()
{
    results.headers.contentType = header("Content-Type");
    bool numeric = false;
    const quint32 length = header("Content-Length").toUInt(&numeric);
    results.headers.contentLength = numeric ? length : 0;
    if (!wantsHeaderInfo)
        return;
    QString raw = QString::fromLatin1(statusLine) + QStringLiteral("\r\n");
    for (const QByteArray &line : headerLines)
        raw += QString::fromLatin1(line) + QStringLiteral("\r\n");
    raw += QStringLiteral("\r\n");
    results.headers.rawHeaders = raw;
    results.headers.contentLanguage = header("Content-Language");
    results.headers.contentEncoding = header("Content-Encoding");
    results.headers.location = header("Location");
    results.headers.date = httpDateToDateTime(header("Date"));
    results.headers.lastModified = httpDateToDateTime(header("Last-Modified"));
    results.headers.expires = httpDateToDateTime(header("Expires"));
}

void HttpTransfer::Transfer::deliverHeaderInfo()
{
    if (!wantsHeaderInfo)
        return;
    bool goOn = true;
    handOff([this, &goOn](HttpTransfer *http) {
        if (http->onHeaderInfo)
            http->onHeaderInfo(http, results.headers, goOn);
    });
    proceed = goOn;
}

void HttpTransfer::Transfer::createOutput()
{
    bodyLimit = maxBodySize;
    if (!outputFileName.isEmpty()) {
        const QStorageInfo storage(QFileInfo(outputFileName).absolutePath());
        if (storage.isValid() && storage.bytesAvailable() >= 0)
            bodyLimit = bodyLimit > 0 ? std::min(bodyLimit, storage.bytesAvailable()) : storage.bytesAvailable();
    }
    if (bodyLimit > 0 && qint64(results.headers.contentLength) > bodyLimit) {
        results.limitExceeded = true;
        return;
    }
    if (!outputFileName.isEmpty()) {
        QFile::remove(outputFileName);
        auto out = std::make_unique<QFile>(outputFileName);
        if (!out->open(QIODevice::ReadWrite | QIODevice::Truncate)) {
            outputFailed = true;
            return;
        }
        // Hidden and temporary attributes do not exist on this platform; the name says it.
        file = std::move(out);
    } else {
        memory = QByteArray();
        memory.reserve(qsizetype(std::min(results.headers.contentLength, kLargestReservation)));
        buffer = std::make_unique<QBuffer>(&memory);
        buffer->open(QIODevice::ReadWrite);
    }
    hasOutput = true;
}

bool HttpTransfer::Transfer::appendBody(const char *data, qsizetype size)
{
    QIODevice *out = stream();
    if (!out)
        return false;
    if (bodyLimit > 0 && qint64(results.bytesRead) + size > bodyLimit) {
        results.limitExceeded = true;
        return false;
    }
    while (size > 0) {
        if (cancelled())
            return false;
        const qsizetype block = std::min<qsizetype>(size, bufferSize);
        if (out->write(data, block) != block) {
            results.writeFailed = true;
            return false;
        }
        results.bytesRead += quint32(block);
        data += block;
        size -= block;
        if (wantsProgress) {
            handOff([this](HttpTransfer *http) {
                const TransferFigures f =
                    computeTransferFigures(results.headers.contentLength, results.bytesRead, clock.elapsed());
                TransferProgress &p = results.progress;
                p.contentType = results.headers.contentType;
                p.contentLength = results.headers.contentLength;
                p.bytesRead = results.bytesRead;
                p.elapsedTime = f.elapsed;
                p.estimatedTimeLeft = f.secondsLeft;
                p.percentsDone = f.percent;
                p.transferRate = f.rate;
                http->m_results.progress = p;
                if (http->onTransferProgress)
                    http->onTransferProgress(http, p, stream());
            });
        }
    }
    return !cancelled();
}

size_t HttpTransfer::Transfer::onHeaderLine(const char *data, size_t size)
{
    if (cancelled())
        return 0;
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        // A new answer begins (after a redirect, an authentication round or 1xx).
        if (blockStatus == -1)
            status(40);
        statusLine = line;
        headerLines.clear();
        const QList<QByteArray> parts = line.split(' ');
        blockStatus = parts.size() > 1 ? parts.at(1).toInt() : 0;
        results.status = blockStatus;
    } else if (line.isEmpty()) {
        status(41);
        if (blockStatus >= 300 && blockStatus < 400) {
            const QString location = header("Location");
            if (!location.isEmpty()) {
                char *effective = nullptr;
                QUrl base;
                if (curl_easy_getinfo(currentHandle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
                    base = QUrl(QString::fromUtf8(effective));
                const QString target = base.resolved(QUrl(location)).toString();
                status(110);
                if (redirect && !cancelled())
                    redirect(client, target);
            }
        }
    } else if (line.front() != ' ' && line.front() != '\t') {
        headerLines.append(line);
    }
    return size;
}

size_t HttpTransfer::Transfer::onBody(const char *data, size_t size)
{
    if (cancelled())
        return 0;
    if (!headersDone) {
        const bool mayRetry =
            (blockStatus == 401 && wantsAuthorization) || (blockStatus == 407 && wantsProxyAuthorization);
        if (mayRetry) { // kept aside until we know whether the request is sent again
            deferredBody.append(data, qsizetype(size));
            return size;
        }
        headersDone = true;
        readHeaders();
        deliverHeaderInfo();
        if (cancelled() || !proceed)
            return 0;
        createOutput();
        if (outputFailed || results.limitExceeded)
            return 0;
    }
    return appendBody(data, qsizetype(size)) ? size : 0;
}

CURLcode HttpTransfer::Transfer::performOnce(bool &authorizationAnswer)
{
    authorizationAnswer = false;
    Easy easy(curl_easy_init());
    if (!easy)
        return CURLE_FAILED_INIT;
    CURL *h = easy.get();
    currentHandle = h;
    status(60);

    QString text = url.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QLatin1String("http://"));
    QUrl address(text, QUrl::TolerantMode);
    address.setUserInfo(QString());
    const QByteArray encoded = address.toEncoded(QUrl::RemoveFragment);

    curl_easy_setopt(h, CURLOPT_URL, encoded.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A request that started on https never continues in the clear.
    const bool secure = address.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    const QByteArray agentBytes = agent.toUtf8();
    curl_easy_setopt(h, CURLOPT_USERAGENT, agentBytes.constData());
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, long(std::max(1024, bufferSize)));

    // Proxy.
    QByteArray proxyBytes;
    QByteArray bypassBytes;
    if (proxy.accessType == ProxyAccess::Direct) {
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    } else if (proxy.accessType == ProxyAccess::UseProxy) {
        proxyBytes = (proxy.server + QLatin1Char(':') + QString::number(proxy.port)).toUtf8();
        curl_easy_setopt(h, CURLOPT_PROXY, proxyBytes.constData());
        QStringList hosts = proxy.bypass.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &host : hosts)
            host = host.trimmed();
        bypassBytes = hosts.join(QLatin1Char(',')).toUtf8();
        curl_easy_setopt(h, CURLOPT_NOPROXY, bypassBytes.isEmpty() ? nullptr : bypassBytes.constData());
    }
    const QByteArray proxyUser = proxyUsername.toUtf8();
    const QByteArray proxyPass = proxyPassword.toUtf8();
    if (!proxyUser.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser.constData());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPass.constData());
    }

    // Credentials: sent when the server asks for them.
    const QByteArray user = username.toUtf8();
    const QByteArray pass = password.toUtf8();
    if (!user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, pass.constData());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    }

    // Request headers.
    Slist headers;
    bool headersOk = appendLine(headers, "Accept: " + acceptTypes.toUtf8());
    if (!useCache) {
        headersOk =
            headersOk && appendLine(headers, "Pragma: no-cache") && appendLine(headers, "Cache-Control: no-cache");
    }
    for (const QString &line : addHeaders) {
        if (!line.trimmed().isEmpty())
            headersOk = headersOk && appendLine(headers, line.toUtf8());
    }
    if (range.startRange != 0 || range.endRange != 0) {
        QByteArray r = "RANGE: bytes=" + QByteArray::number(range.startRange) + '-';
        if (range.endRange != 0)
            r += QByteArray::number(range.endRange);
        headersOk = headersOk && appendLine(headers, r);
    }
    if (!headersOk)
        return CURLE_OUT_OF_MEMORY;
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    const QByteArray refererBytes = referer.toUtf8();
    if (!refererBytes.isEmpty())
        curl_easy_setopt(h, CURLOPT_REFERER, refererBytes.constData());
    if (useCookies)
        curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");

    // Time limits: never unlimited.
    const quint32 connectMs = timeouts.connectTimeout ? timeouts.connectTimeout : timeouts.connectLimit;
    quint32 stallMs = timeouts.receiveTimeout ? timeouts.receiveTimeout : timeouts.stallLimit;
    if (timeouts.sendTimeout)
        stallMs = std::min(stallMs, timeouts.sendTimeout);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(std::max<quint32>(connectMs, 1)));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, long(std::max<quint32>(timeouts.minimumSpeed, 1)));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(std::max<quint32>((stallMs + 999) / 1000, 1)));
    if (timeouts.overallLimit)
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(timeouts.overallLimit));
    if (maxBodySize > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBodySize));

    // Callbacks.
    using Callback = size_t (*)(char *, size_t, size_t, void *);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<Callback>([](char *d, size_t s, size_t n, void *u) {
                         return static_cast<Transfer *>(u)->onHeaderLine(d, s * n);
                     }));
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<Callback>([](char *d, size_t s, size_t n, void *u) {
                         return static_cast<Transfer *>(u)->onBody(d, s * n);
                     }));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    using progress = int (*)(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION,
                     static_cast<progress>([](void *u, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
                         return static_cast<Transfer *>(u)->cancelled() ? 1 : 0;
                     }));
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    using Prereq = int (*)(void *, char *, char *, int, int);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, static_cast<Prereq>([](void *u, char *, char *, int, int) {
                         auto *t = static_cast<Transfer *>(u);
                         t->connected = true;
                         t->status(21);
                         t->status(30);
                         return t->cancelled() ? int(CURL_PREREQFUNC_ABORT) : int(CURL_PREREQFUNC_OK);
                     }));
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);

    status(10);
    const CURLcode code = curl_easy_perform(h);
    status(100);
    if (!cancelled()) {
        const bool mayRetry =
            (blockStatus == 401 && wantsAuthorization) || (blockStatus == 407 && wantsProxyAuthorization);
        authorizationAnswer = mayRetry && !headersDone;
    }
    status(70);
    currentHandle = nullptr;
    return code;
}

bool HttpTransfer::Transfer::retryAfterAuthorization()
{
    bool tryAgain = false;
    if (blockStatus == 401) {
        // While the question is open the content type holds the realm.
        const QString savedType = results.headers.contentType;
        results.headers.contentType = realm();
        const QString theRealm = results.headers.contentType;
        handOff([this, &tryAgain, &theRealm](HttpTransfer *http) {
            if (http->onAuthorizationRequired)
                http->onAuthorizationRequired(http, theRealm, tryAgain);
            if (http->credentialsAllowedFor(url)) {
                username = http->httpUserName();
                password = http->httpPassword();
            }
        });
        results.headers.contentType = savedType;
    } else {
        handOff([this, &tryAgain](HttpTransfer *http) {
            QString user = http->m_proxyUsername;
            QString pass = http->m_proxyPassword;
            if (http->onProxyAuthenticationRequest)
                http->onProxyAuthenticationRequest(http, user, pass, tryAgain);
            http->m_proxyUsername = user;
            http->m_proxyPassword = pass;
            proxyUsername = user;
            proxyPassword = pass;
        });
    }
    return tryAgain && !cancelled();
}

void HttpTransfer::Transfer::runLocalFile(const QString &path)
{
    QFile source(path);
    const bool opened = QFileInfo(path).isFile() && source.open(QIODevice::ReadOnly);
    results.status = opened ? 200 : 404;
    blockStatus = results.status;
    const qint64 size = opened ? source.size() : 0;
    results.headers.contentLength = (size > 0 && size <= 0xFFFFFFFFLL) ? quint32(size) : 0;
    headersDone = true;
    createOutput();
    if (outputFailed || results.limitExceeded)
        return;
    QByteArray block(bufferSize, Qt::Uninitialized);
    while (opened && !cancelled()) {
        const qint64 got = source.read(block.data(), block.size());
        if (got <= 0) {
            if (got < 0)
                transferError = true;
            break;
        }
        if (!appendBody(block.constData(), got)) {
            transferError = true;
            break;
        }
    }
}

void HttpTransfer::Transfer::run(WorkerRun &thread)
{
    worker = &thread;
    clock.start();
    results = Results();
    results.startTime = clock.msecsSinceReference();
    proceed = true;

    const UrlParts parts = splitUrl(url);
    if (!parts.userName.isEmpty()) {
        username = parts.userName;
        password = parts.password;
    }

    if (parts.scheme == QLatin1String("file")) {
        // The system's own path: "file:///C:/x" names "C:/x", not "/C:/x".
        runLocalFile(QUrl(url.trimmed(), QUrl::TolerantMode).toLocalFile());
    } else if (!workOffline) {
        for (;;) {
            bool authorizationAnswer = false;
            const CURLcode code = performOnce(authorizationAnswer);
            if (cancelled())
                break;
            if (code == CURLE_OPERATION_TIMEDOUT) {
                results.timedOut = true;
                stalled = connected;
            }
            if (code == CURLE_FILESIZE_EXCEEDED)
                results.limitExceeded = true;
            if (authorizationAnswer) {
                if (retryAfterAuthorization()) {
                    finishAttemptReset();
                    connected = false;
                    continue;
                }
                if (cancelled())
                    break;
                // Not sent again: the 401/407 answer is the result, with its page.
                headersDone = true;
                readHeaders();
                deliverHeaderInfo();
                if (proceed && !cancelled()) {
                    createOutput();
                    if (!outputFailed && !appendBody(deferredBody.constData(), deferredBody.size()))
                        transferError = true;
                }
                deferredBody.clear();
                break;
            }
            const bool deliberate = outputFailed || !proceed;
            if (code != CURLE_OK && !deliberate)
                transferError = true;
            if (!headersDone && results.status != -1 && !deliberate) {
                // An answer without any body byte (empty, or broken before the body).
                headersDone = true;
                readHeaders();
                deliverHeaderInfo();
                if (proceed && !cancelled())
                    createOutput();
            }
            break;
        }
    }

    if (cancelled()) {
        releaseOutput(); // a partly written file stays, closed
        return;
    }
    const quint32 announced = results.headers.contentLength;
    results.success = results.status == 200 && !transferError && !stalled && !results.limitExceeded
                      && (announced == 0 || results.bytesRead == announced);
}

// ---------------------------------------------------------------------------------------------
// HttpTransfer

HttpTransfer::HttpTransfer(QObject *parent)
    : HttpCredentials(parent)
    , m_agent(QStringLiteral("lianbu-AutoUpgrader/" LIANBU_VERSION))
    , m_worker(new WorkerThread(this))
{
    initCurlOnce();
    m_worker->onWaitTimeoutExpired = [this](QObject *) {
        m_current.reset();
        if (onWaitTimeoutExpired)
            onWaitTimeoutExpired(this);
    };
}

HttpTransfer::~HttpTransfer()
{
    m_worker->beginDestroy();
    delete m_worker; // a running transfer is cancelled and winds down by itself
}

bool HttpTransfer::read()
{
    if (busy())
        return false;
    auto t = std::make_shared<Transfer>(this);
    t->url = m_url;
    t->outputFileName = m_outputFileName;
    t->useCache = m_useCache;
    t->useCookies = m_useCookies;
    t->workOffline = m_workOffline;
    t->acceptTypes = m_acceptTypes;
    t->agent = m_agent;
    t->addHeaders = m_addHeaders;
    t->referer = m_referer;
    t->range = m_range;
    t->timeouts = m_timeouts;
    t->proxy = m_proxy;
    t->bufferSize = std::max(255, m_transferBufferSize);
    if (credentialsAllowedFor(m_url)) {
        t->username = httpUserName();
        t->password = httpPassword();
    }
    t->maxBodySize = m_maxBodySize;
    t->proxyUsername = m_proxyUsername;
    t->proxyPassword = m_proxyPassword;
    t->wantsHeaderInfo = bool(onHeaderInfo);
    t->wantsProgress = bool(onTransferProgress);
    t->wantsAuthorization = bool(onAuthorizationRequired);
    t->wantsProxyAuthorization = bool(onProxyAuthenticationRequest);
    t->statusChange = onStatusChange;
    t->redirect = onRedirect;

    m_results = Results();
    m_current = t;
    m_worker->onExecute = [t](WorkerRun &thread) { t->run(thread); };
    m_worker->onFinish = [this, t](QObject *) { complete(t); };
    m_worker->onException = [this](QObject *, std::exception_ptr) {
        if (onAnyError)
            onAnyError(this);
    };
    m_worker->execute();
    t->threadObject = &m_worker->currentRun();
    // The thread object holds its own copies; spare ones must not keep the transfer alive.
    m_worker->onExecute = nullptr;
    m_worker->onFinish = nullptr;
    return true;
}

void HttpTransfer::abort()
{
    WorkerRun &thread = m_worker->currentRun();
    const bool running = thread.started() && !thread.finished();
    if (!running)
        return;
    m_worker->replaceThread(); // the worker stops at its next step; its notifications are dropped
    m_current.reset();
    if (!m_worker->destroying() && onTransferAborted)
        onTransferAborted(this);
}

namespace {

// Moves a failed download to a free name beside it and opens it there for reading; removes it when
// that fails. Returns the opened file, or nothing when the download is simply gone.
std::unique_ptr<QFile> stepAside(const QString &fileName)
{
    for (int n = 0; n < 100; ++n) {
        const QString aside = fileName + QStringLiteral(".failed") + (n ? QString::number(n) : QString());
        if (QFileInfo::exists(aside))
            continue;
        if (!QFile::rename(fileName, aside))
            break;
        auto file = std::make_unique<QFile>(aside);
        if (file->open(QIODevice::ReadOnly))
            return file;
        QFile::remove(aside);
        return {};
    }
    QFile::remove(fileName);
    return {};
}

} // namespace

void HttpTransfer::complete(const std::shared_ptr<Transfer> &t)
{
    // User-interface thread; the worker waits in its finish hand-off.
    m_results = t->results;
    const auto stillCurrent = [&t] { return !t->threadObject || !t->threadObject->cancelled(); };
    const auto anyError = [this, &stillCurrent] {
        if (onAnyError && stillCurrent())
            onAnyError(this);
    };

    QIODevice *stream = t->hasOutput ? t->stream() : nullptr;
    if (stream)
        stream->seek(0);
    const bool fileOutput = t->file != nullptr;

    if (t->outputFailed) {
        anyError();
        t->releaseOutput();
        return;
    }
    if (t->proceed) {
        if (t->results.success) {
            if (!stream) {
                anyError();
                t->releaseOutput();
                return;
            }
            if (fileOutput) {
                t->file->close();
                t->file.reset();
                stream = nullptr;
            }
            if (onDone && stillCurrent())
                onDone(this, t->results.headers.contentType, t->results.bytesRead, stream);
        } else {
            // The failed output leaves its name now, so that a new read from a handler may create
            // it afresh, yet stays readable to the handlers. Windows neither removes nor renames an
            // open file: it is closed first, steps aside, is reopened and goes after the handlers.
            std::unique_ptr<QFile> failed;
            if (fileOutput) {
                t->file->close();
                t->file.reset();
                stream = nullptr;
                failed = stepAside(t->outputFileName);
                if (failed)
                    stream = failed.get();
            }
            const auto removeFailed = qScopeGuard([&failed] {
                if (failed) {
                    failed->close();
                    failed->remove();
                }
            });
            anyError();
            const int status = t->results.status;
            if (!stillCurrent()) {
                // Abort from onAnyError: nothing more of this transfer.
            } else if (status == 200 || t->stalled || t->results.limitExceeded || t->results.writeFailed) {
                if (onConnectionLost)
                    onConnectionLost(this, t->results.headers.contentType, t->results.headers.contentLength,
                                     t->results.bytesRead, stream);
            } else if (status == -1) {
                if (onHostNotFound)
                    onHostNotFound(this);
            } else if (onHttpError) {
                onHttpError(this, status, stream);
            }
        }
    }
    t->releaseOutput();
    if (!t->proceed && onDoneInterrupted && stillCurrent())
        onDoneInterrupted(this);
}

} // namespace lianbu::upgrade
