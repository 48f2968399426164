#pragma once

// A small scripted HTTP/1.1 server on 127.0.0.1 for the transfer tests. Each connection is
// served on a thread of its own and closed after one answer; a handler decides the answer.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lianbu::test {

struct HttpRequest
{
    QByteArray method;
    QByteArray target; // as sent: a path, or an absolute address through a proxy
    QList<QPair<QByteArray, QByteArray>> headers;
    // The value of a header (case-insensitive name); empty when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

struct HttpResponse
{
    int status = 200;
    QByteArray reason; // "OK", "Not Found", ... when empty
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool sendContentLength = true; // false: the end of the body is the closed connection
    qint64 announcedLength = -1;   // Content-Length to announce; -1: the body's size
    qint64 closeAfter = -1;        // close after this many body bytes (-1: all)
    bool neverAnswer = false;      // read the request, then say nothing until stopped
    int trickleBytes = 0;          // >0: send the body in pieces of this size ...
    int trickleDelayMs = 0;        // ... with this pause before each piece

    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append({name, value}); }
};

class TestHttpServer
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    // The handler runs on the server's threads; it must be thread-safe.
    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    bool isListening() const { return m_listenFd >= 0; }
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path
    QString url(const QString &path) const;
    QList<HttpRequest> requests() const;
    int requestCount() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool sendAll(int fd, const char *data, qint64 size);
    void pause(int ms);

    Handler m_handler;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
    mutable std::mutex m_requestsMutex;
    QList<HttpRequest> m_requests;
};

// A port on 127.0.0.1 that nobody listens on (bound once, then released).
quint16 refusedPort();

// A listener on 127.0.0.1 whose accept queue is full and never served: a connection attempt to
// it neither succeeds nor fails, it just waits.
class StalledListener
{
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;
    quint16 port() const { return m_port; }

private:
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::vector<int> m_fillers;
};

} // namespace lianbu::test
