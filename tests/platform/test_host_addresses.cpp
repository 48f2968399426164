// Host names through the system's resolver (Winsock on Windows, which answers nothing until it is
// started). Only names this computer answers itself: no query leaves the machine.
#include "platform/HostAddresses.h"
#include "tests/support/PlainChecks.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace lianbu;

namespace {

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
    return lianbu::plaintest::checkSummary();
}
