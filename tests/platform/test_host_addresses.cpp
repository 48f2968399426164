// Host names through the system's resolver (Winsock on Windows, which answers nothing until it is
// started). Only names this computer answers itself: no query leaves the machine.
#include "platform/HostAddresses.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace lianbu;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char *what, int line)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s\n", line, what);
    }
}
#define CHECK(x) check((x), #x, __LINE__)

bool dotted(const std::string &text)
{
    int dots = 0, digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0)
                return false;
            ++dots;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 3) {
            ++digits;
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

} // namespace

int main()
{
    const std::vector<std::string> local = net::ipv4AddressesOf("localhost");
    CHECK(std::find(local.begin(), local.end(), "127.0.0.1") != local.end());
    CHECK(std::all_of(local.begin(), local.end(), dotted));
    // A numeric address is its own answer, and only IPv4 ones are given.
    CHECK(net::ipv4AddressesOf("127.0.0.2") == std::vector<std::string>{"127.0.0.2"});
    CHECK(net::ipv4AddressesOf("::1").empty());
    CHECK(net::ipv4AddressesOf("").empty());
    // The computer has a name (not resolved here: that may ask a name server).
    CHECK(!net::computerName().empty());
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
