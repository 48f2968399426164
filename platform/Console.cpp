#include "platform/Console.h"

#ifdef _WIN32
#include <algorithm>
#include <io.h>
#include <string>
#include <windows.h>
#endif

namespace lianbu::console {

namespace {

bool writeBytes(std::FILE *to, std::string_view utf8)
{
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), to) == utf8.size();
    return std::fflush(to) == 0 && written;
}

} // namespace

#ifdef _WIN32

bool write(std::FILE *to, std::string_view utf8)
{
    const intptr_t os = _get_osfhandle(_fileno(to));
    const HANDLE handle = os == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(os);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return writeBytes(to, utf8);
    // What the C library still buffers goes first, so that the order holds.
    std::fflush(to);
    if (utf8.empty())
        return true;
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0)
        return writeBytes(to, utf8);
    std::wstring text(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), n);
    // The console takes a limited amount at once.
    constexpr DWORD piece = 8192;
    for (size_t at = 0; at < text.size();) {
        DWORD done = 0;
        const DWORD want = DWORD(std::min<size_t>(piece, text.size() - at));
        if (!WriteConsoleW(handle, text.data() + at, want, &done, nullptr) || done == 0)
            return false;
        at += done;
    }
    return true;
}

#else

bool write(std::FILE *to, std::string_view utf8)
{
    return writeBytes(to, utf8);
}

#endif

} // namespace lianbu::console
