#include "platform/HostAddresses.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace lianbu::net {

namespace {

#ifdef _WIN32
// Winsock answers nothing before WSAStartup; once per process is enough (it counts its users).
bool socketsReady()
{
    static const bool ready = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}
#else
bool socketsReady()
{
    return true;
}
#endif

} // namespace

std::string computerName()
{
    if (!socketsReady())
        return {};
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::vector<std::string> ipv4AddressesOf(const std::string &host)
{
    std::vector<std::string> addresses;
    if (host.empty() || !socketsReady())
        return addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return addresses;
    for (addrinfo *a = list; a; a = a->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            addresses.emplace_back(text);
    }
    ::freeaddrinfo(list);
    return addresses;
}

} // namespace lianbu::net
