#pragma once

// Text for a person at a terminal or for whatever reads the program's output. Plain C++
// without Qt, for the stand-alone updater too.

#include <cstdio>
#include <string_view>

namespace lianbu::console {

// Writes `utf8` to `to` (stdout or stderr) and flushes it. On a Windows console the text goes
// in as Unicode, so Chinese shows whatever the console's code page is; redirected to a pipe or
// a file it is UTF-8, which loses nothing (the ANSI code page of a Western system has no
// Chinese). POSIX systems run in UTF-8: the bytes go as they are. False when not all was written.
bool write(std::FILE *to, std::string_view utf8);

} // namespace lianbu::console
