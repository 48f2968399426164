#pragma once

#include <QString>

#include <functional>

namespace lianbu::test {

// What one run of a piece of work in a child process came to.
struct BoundedOutcome
{
    bool ran = false;         // the child started and reported back
    bool threw = false;       // the work ended by throwing lianbu::Error
    QString message;          // that error's message, or what else ended the child
    qint64 peakGrowthKb = -1; // how far the child's peak resident memory rose during the work
};

// Runs `work` in a forked child whose address space may grow by at most `limitMb` (so a runaway
// reader dies there instead of taking the machine's memory) and reports how it ended and how far
// its peak resident memory rose. Under sanitizers, which reserve huge shadow memory, the address
// space is left alone and no growth is reported.
BoundedOutcome runBounded(const std::function<void()> &work, int limitMb);

// True when the build carries a sanitizer (memory figures mean nothing there).
bool underSanitizer();

} // namespace lianbu::test
