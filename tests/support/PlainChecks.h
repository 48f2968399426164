#pragma once

// Checks for the plain C++ tests that run without Qt (and under Wine): each CHECK counts, a failed
// one prints its line, and checkSummary() prints the totals and gives the exit status.

#include <cstdio>

namespace lianbu::plaintest {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const char *what, int line)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s\n", line, what);
    }
}

inline int checkSummary()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace lianbu::plaintest

#define CHECK(x) ::lianbu::plaintest::check((x), #x, __LINE__)
