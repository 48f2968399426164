#pragma once

// The upgrader's transfer client: fetches one resource at a time over HTTP(S) with libcurl, or
// from a local file (file://), on a worker thread (WorkerThread), and delivers every
// notification on the user-interface thread through the blocking hand-off: the worker waits
// while a handler runs, so handlers may read and change the client (credentials before a
// retry, Continue) and may open modal windows.
//
// Typical use (user-interface thread):
//   http.setUrl("http://host/file"); http.setOutputFileName(path);   // empty: into memory
//   http.onDone = [](HttpTransfer *, const QString &type, quint32 bytes, QIODevice *stream) {...};
//   http.Read();                                                    // returns at once
//
// The worker never touches the client: each Read copies the settings into a transfer of its
// own, and results are copied back into the client on the user-interface thread at every
// hand-off. Abort (or a new Read after the end) cancels the worker without killing it: its
// notifications are suppressed and it winds down by itself.

#include "upgrade/WorkerThread.h"

#include <QDateTime>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>

namespace lianbu::upgrade {

// The credentials of protected resources.
class HttpCredentials : public QObject
{
    Q_OBJECT
public:
    explicit HttpCredentials(QObject *parent = nullptr)
        : QObject(parent)
    {}

    QString httpUserName() const { return m_username; }
    void setHttpUserName(const QString &value) { m_username = value; }
    QString httpPassword() const { return m_password; }
    void setHttpPassword(const QString &value) { m_password = value; }
    // The origin (scheme, host and port) the credentials were given for: they are sent to that
    // origin only. Empty: to every address (credentials set by the program itself).
    QString credentialOrigin() const { return m_credentialOrigin; }
    void setCredentialOrigin(const QString &origin) { m_credentialOrigin = origin; }
    // Whether the credentials may go to address.
    bool credentialsAllowedFor(const QString &address) const;

private:
    QString m_username;
    QString m_password;
    QString m_credentialOrigin;
};

// "scheme://host:port" of an address, the port filled in for http and https; empty when the
// address has no host.
QString urlOrigin(const QString &address);

enum class ProxyAccess {
    Preconfigured, // the system's settings (here: the http_proxy / https_proxy / no_proxy environment)
    Direct,        // no proxy at all
    UseProxy       // server:port, except for the hosts of bypass
};

struct HttpProxy
{
    ProxyAccess accessType = ProxyAccess::Preconfigured;
    int port = 8080;
    QString server;
    QString bypass = QStringLiteral("127.0.0.1;"); // ";"-separated host list
};

// Both 0: no range.
struct HttpRange
{
    int startRange = 0;
    int endRange = 0;
};

// Time limits in milliseconds. 0 leaves the value to the client's finite default, so a server
// that never answers cannot keep the client busy for ever: connectLimit for the connection and
// stallLimit for a transfer that receives nothing (checked at a granularity of one second).
// Running into the stall limit after the connection was made is reported as a lost connection.
// minimumSpeed (bytes per second) must be reached within every stallLimit, so a server that
// drips a few bytes now and then counts as stalled too; overallLimit (0: none) ends any transfer
// that takes longer in total.
struct HttpTimeouts
{
    quint32 connectTimeout = 0;
    quint32 receiveTimeout = 0;
    quint32 sendTimeout = 0;
    quint32 connectLimit = 60000;
    quint32 stallLimit = 60000;
    quint32 minimumSpeed = 1;
    quint32 overallLimit = 0;
};

// The answer's headers, as delivered to onHeaderInfo.
struct ResponseHeaders
{
    QString rawHeaders; // the whole header block of the final answer, lines ended by CR LF
    QString contentType;
    QString contentLanguage;
    QString contentEncoding;
    QString location;
    quint32 contentLength = 0; // announced size; 0 when absent or not a number
    QDateTime date;            // invalid when absent (the "0" date)
    QDateTime lastModified;
    QDateTime expires;
};

// The progress figures delivered to onTransferProgress after every block.
struct TransferProgress
{
    QString contentType;
    quint32 contentLength = 0;
    quint32 bytesRead = 0;
    unsigned elapsedTime = 0;  // seconds
    int estimatedTimeLeft = 0; // seconds
    int percentsDone = 0;      // 0-100
    float transferRate = 0;    // kilobytes per second
};

// The text of a status notification code ("Resolving name", ..., "Unknown status").
QString httpStatusText(int code);

class HttpTransfer : public HttpCredentials
{
    Q_OBJECT
public:
    explicit HttpTransfer(QObject *parent = nullptr);
    ~HttpTransfer() override;

    // ---- settings (read when Read starts the transfer)
    QString url() const { return m_url; }
    void setUrl(const QString &value) { m_url = value; }
    // Where the body goes; empty means memory.
    QString outputFileName() const { return m_outputFileName; }
    void setOutputFileName(const QString &value) { m_outputFileName = value; }
    // Give the output file hidden/temporary attributes (no such attributes on this platform).
    bool hideOutputFile() const { return m_hideOutputFile; }
    void setHideOutputFile(bool value) { m_hideOutputFile = value; }
    // false: ask every cache on the way for a fresh copy (no-cache request headers).
    bool useCache() const { return m_useCache; }
    void setUseCache(bool value) { m_useCache = value; }
    bool useCookies() const { return m_useCookies; }
    void setUseCookies(bool value) { m_useCookies = value; }
    // Offline: no network; every HTTP request ends as an unreachable host (file:// still works).
    bool workOffline() const { return m_workOffline; }
    void setWorkOffline(bool value) { m_workOffline = value; }
    QString acceptTypes() const { return m_acceptTypes; }
    void setAcceptTypes(const QString &value) { m_acceptTypes = value; }
    QString agent() const { return m_agent; }
    void setAgent(const QString &value) { m_agent = value; }
    QStringList addHeaders() const { return m_addHeaders; }
    void setAddHeaders(const QStringList &lines) { m_addHeaders = lines; }
    QString referer() const { return m_referer; }
    void setReferer(const QString &value) { m_referer = value; }
    HttpRange &range() { return m_range; }
    HttpTimeouts &timeouts() { return m_timeouts; }
    // The most bytes a body may have (0: no limit). A larger announced size ends the transfer
    // before the body; a body that grows beyond it is cut off. A file body is also limited to
    // the free space of its folder. Either ends as a lost connection with limitExceeded(); a
    // write that fails anyway ends as a lost connection with writeFailed().
    qint64 maxBodySize() const { return m_maxBodySize; }
    void setMaxBodySize(qint64 value) { m_maxBodySize = std::max<qint64>(0, value); }
    HttpProxy &proxy() { return m_proxy; }
    // Bytes read per block, at least 255 (default 4096).
    int transferBufferSize() const { return m_transferBufferSize; }
    void setTransferBufferSize(int value) { m_transferBufferSize = std::max(255, value); }

    // ---- operations (user-interface thread)
    // Starts the transfer of url on a fresh worker thread and returns true at once; false and
    // nothing else while Busy.
    bool read();
    // Cancels a running transfer at once: no further notification of it arrives, then
    // onTransferAborted. A partly written output file stays on disk (closed by the worker as
    // it winds down). A new Read may follow immediately.
    void abort();
    // True while the worker runs the transfer; false already when the completion
    // notifications (onDone, onHttpError, ...) are delivered.
    bool busy() const { return m_worker->running(); }

    // ---- results of the last transfer (valid once it has ended, kept until the next Read)
    int statusCode() const { return m_results.status; } // -1: no status was read
    bool success() const { return m_results.success; }
    QString contentType() const { return m_results.headers.contentType; }
    quint32 contentLength() const { return m_results.headers.contentLength; }
    quint32 bytesRead() const { return m_results.bytesRead; }
    const ResponseHeaders &headerInfo() const { return m_results.headers; } // full set only with onHeaderInfo
    QString proxyUsername() const { return m_proxyUsername; }
    QString proxyPassword() const { return m_proxyPassword; }
    qint64 startTime() const { return m_results.startTime; } // milliseconds, monotonic clock
    const TransferProgress &progress() const { return m_results.progress; }
    // True when the last transfer ended because a time limit ran out.
    bool timedOut() const { return m_results.timedOut; }
    // True when the last transfer ended because its body was larger than allowed.
    bool limitExceeded() const { return m_results.limitExceeded; }
    // True when the last transfer ended because its output file could not be written (a full
    // disk, a file size limit): the server is not to blame.
    bool writeFailed() const { return m_results.writeFailed; }

    // The thread component (tests; waitForFinish etc. keep their defaults in this program).
    WorkerThread &worker() { return *m_worker; }

    // ---- notifications. All run on the user-interface thread unless noted; Sender is this.
    std::function<void(HttpTransfer *sender, const ResponseHeaders &info, bool &goOn)> onHeaderInfo;
    std::function<void(HttpTransfer *sender, const TransferProgress &progress, QIODevice *stream)> onTransferProgress;
    // Stream: null for file output (closed and complete by then), the memory at position 0 otherwise.
    std::function<void(HttpTransfer *sender, const QString &contentType, quint32 bytesRead, QIODevice *stream)> onDone;
    std::function<void(HttpTransfer *sender)> onDoneInterrupted; // onHeaderInfo declined the body
    std::function<void(HttpTransfer *sender)> onAnyError;        // before every failure notification
    std::function<void(HttpTransfer *sender, const QString &contentType, quint32 contentLength, quint32 bytesRead,
                       QIODevice *stream)>
        onConnectionLost;                                     // 200 (or a stall) but incomplete
    std::function<void(HttpTransfer *sender)> onHostNotFound; // no status at all
    std::function<void(HttpTransfer *sender, int errorCode, QIODevice *stream)> onHttpError;
    std::function<void(HttpTransfer *sender, const QString &realm, bool &tryAgain)> onAuthorizationRequired;
    std::function<void(HttpTransfer *sender, QString &proxyUsername, QString &proxyPassword, bool &tryAgain)>
        onProxyAuthenticationRequest;
    std::function<void(HttpTransfer *sender)> onTransferAborted;
    std::function<void(HttpTransfer *sender)> onWaitTimeoutExpired;
    // These two run on the worker thread, without the hand-off: they must not touch the client
    // or any widget.
    std::function<void(HttpTransfer *sender, int statusCode, const QString &status)> onStatusChange;
    std::function<void(HttpTransfer *sender, const QString &newUrl)> onRedirect;

    struct Transfer; // the worker's own state of one transfer (HttpTransfer.cpp)

private:
    struct Results
    {
        int status = -1;
        bool success = false;
        bool timedOut = false;
        bool limitExceeded = false;
        bool writeFailed = false;
        quint32 bytesRead = 0;
        qint64 startTime = 0;
        ResponseHeaders headers;
        TransferProgress progress;
    };
    friend struct Transfer;

    void complete(const std::shared_ptr<Transfer> &transfer); // user-interface thread

    QString m_url;
    QString m_outputFileName;
    bool m_hideOutputFile = false;
    bool m_useCache = true;
    bool m_useCookies = true;
    bool m_workOffline = false;
    QString m_acceptTypes = QStringLiteral("text/html, */*");
    QString m_agent;
    QStringList m_addHeaders;
    QString m_referer;
    HttpRange m_range;
    HttpTimeouts m_timeouts;
    HttpProxy m_proxy;
    int m_transferBufferSize = 4096;
    qint64 m_maxBodySize = 0;
    QString m_proxyUsername;
    QString m_proxyPassword;

    Results m_results;
    std::shared_ptr<Transfer> m_current;
    WorkerThread *m_worker;
};

} // namespace lianbu::upgrade
