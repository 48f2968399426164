#include "TestHttpServer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

namespace lianbu::test {

namespace {

// The few socket calls the server makes, on Winsock or POSIX. Sockets are kept as int, as on
// POSIX: Windows' socket handles are small numbers, and -1 stays the failure.
#ifdef _WIN32
using ssize_t = long long;
constexpr int SHUT_WR = SD_SEND;

int openSocket(bool nonBlocking)
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return -1;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long on = nonBlocking ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &on);
    return int(s);
}
int acceptSocket(int listener)
{
    const SOCKET s = ::accept(SOCKET(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : int(s);
}
void closeSocket(int fd)
{
    ::closesocket(SOCKET(fd));
}
int waitReadable(int fd, int ms)
{
    WSAPOLLFD p{SOCKET(fd), POLLIN, 0};
    return ::WSAPoll(&p, 1, ms);
}
ssize_t sendSome(int fd, const char *data, qint64 size)
{
    return ::send(SOCKET(fd), data, int(std::min<qint64>(size, 1 << 20)), 0);
}
ssize_t receiveSome(int fd, char *into, size_t size)
{
    return ::recv(SOCKET(fd), into, int(size), 0);
}
#else
int openSocket(bool nonBlocking)
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}
int acceptSocket(int listener)
{
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}
void closeSocket(int fd)
{
    ::close(fd);
}
int waitReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms);
}
ssize_t sendSome(int fd, const char *data, qint64 size)
{
    return ::send(fd, data, size_t(size), MSG_NOSIGNAL);
}
ssize_t receiveSome(int fd, char *into, size_t size)
{
    return ::recv(fd, into, size, 0);
}
#endif

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 407:
        return "Proxy Authentication Required";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

int listenOnLoopback(quint16 *port)
{
    const int fd = openSocket(false);
    if (fd < 0)
        return -1;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&yes), sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        closeSocket(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool HttpRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

TestHttpServer::TestHttpServer(Handler handler)
    : m_handler(std::move(handler))
{
    m_listenFd = listenOnLoopback(&m_port);
    if (m_listenFd >= 0)
        m_acceptThread = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer()
{
    m_stop.store(true);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(m_mutex);
        connections.swap(m_connections);
    }
    for (std::thread &t : connections)
        t.join();
    if (m_listenFd >= 0)
        closeSocket(m_listenFd);
}

QString TestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QList<HttpRequest> TestHttpServer::requests() const
{
    std::lock_guard lock(m_requestsMutex);
    return m_requests;
}

int TestHttpServer::requestCount() const
{
    std::lock_guard lock(m_requestsMutex);
    return int(m_requests.size());
}

void TestHttpServer::pause(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
}

void TestHttpServer::acceptLoop()
{
    while (!m_stop.load()) {
        if (waitReadable(m_listenFd, 20) <= 0)
            continue;
        const int fd = acceptSocket(m_listenFd);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

bool TestHttpServer::sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0 && !m_stop.load()) {
        const ssize_t sent = sendSome(fd, data, size);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return size == 0;
}

void TestHttpServer::serve(int fd)
{
    // Read the request head.
    QByteArray head;
    while (!m_stop.load() && !head.contains("\r\n\r\n")) {
        if (waitReadable(fd, 20) <= 0)
            continue;
        char chunk[2048];
        const ssize_t got = receiveSome(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        head.append(chunk, got);
    }
    if (!head.contains("\r\n\r\n")) {
        closeSocket(fd);
        return;
    }
    HttpRequest request;
    const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    {
        std::lock_guard lock(m_requestsMutex);
        m_requests.append(request);
    }

    const HttpResponse response = m_handler(request);
    if (response.neverAnswer) {
        while (!m_stop.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        closeSocket(fd);
        return;
    }

    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                     + (response.reason.isEmpty() ? reasonFor(response.status) : response.reason) + "\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    if (response.sendContentLength) {
        const qint64 announced = response.announcedLength >= 0 ? response.announcedLength : response.body.size();
        out += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    bool ok = sendAll(fd, out.constData(), out.size());

    qint64 bodyBytes = response.body.size();
    if (response.closeAfter >= 0)
        bodyBytes = std::min(bodyBytes, response.closeAfter);
    const qint64 piece = response.trickleBytes > 0 ? response.trickleBytes : bodyBytes;
    for (qint64 at = 0; ok && at < bodyBytes; at += piece) {
        if (response.trickleDelayMs > 0)
            pause(response.trickleDelayMs);
        ok = sendAll(fd, response.body.constData() + at, std::min(piece, bodyBytes - at));
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket goes.
    for (int i = 0; i < 50 && !m_stop.load(); ++i) {
        if (waitReadable(fd, 20) > 0) {
            char sink[512];
            if (receiveSome(fd, sink, sizeof sink) <= 0)
                break;
        }
    }
    closeSocket(fd);
}

StalledListener::StalledListener()
{
    m_listenFd = openSocket(false);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(m_listenFd, 0) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return;
    m_port = ntohs(addr.sin_port);
    // Fill the accept queue; later handshakes are then left unanswered.
    for (int i = 0; i < 3; ++i) {
        const int fd = openSocket(true);
        ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        m_fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

StalledListener::~StalledListener()
{
    for (int fd : m_fillers)
        closeSocket(fd);
    if (m_listenFd >= 0)
        closeSocket(m_listenFd);
}

quint16 refusedPort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(&port);
    if (fd >= 0)
        closeSocket(fd);
    return port;
}

} // namespace lianbu::test
