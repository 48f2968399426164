#pragma once

// A whole file read through the program's own file calls, for the plain C++ tests that run without
// Qt (and under Wine).

#include "platform/SystemFiles.h"

#include <string>

namespace lianbu::plaintest {

// "<missing>" when the file cannot be opened, so a comparison with expected bytes fails readably.
inline std::string readAll(const std::string &path)
{
    const int fd = files::openForReading(path);
    if (fd < 0)
        return "<missing>";
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const long long n = files::readSome(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, std::size_t(n));
    }
    files::closeFile(fd);
    return bytes;
}

} // namespace lianbu::plaintest
