#include "updater/Release.h"

#include "platform/SystemFiles.h"
#include "updater/UpdaterCore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <set>
#include <sodium.h>

namespace lianbu::updater {

namespace {

std::string asciiLower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isHex64(const std::string &s)
{
    return s.size() == 64
           && std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// GBK (as the information file is written) to UTF-8 (as file names are); nullopt when invalid.
std::optional<std::string> gbkToUtf8(const std::string &gbk)
{
    if (std::all_of(gbk.begin(), gbk.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return gbk;
    iconv_t cd = ::iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = gbk;
    std::string out(gbk.size() * 2 + 4, '\0');
    char *inPtr = in.data();
    char *outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

std::optional<std::string> decodeBase64(const std::string &text)
{
    std::string bin(text.size(), '\0');
    std::size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bin.data()), bin.size(), text.data(), text.size(), nullptr,
                          &length, &end, sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size())
        return std::nullopt;
    bin.resize(length);
    return bin;
}

std::vector<std::string> signatureLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

} // namespace

int releaseDay(const std::string &text)
{
    if (text.size() != 10 || text[2] != '/' || text[5] != '/')
        return 0;
    const std::string mm = text.substr(0, 2), dd = text.substr(3, 2), yyyy = text.substr(6, 4);
    if (!allDigits(mm) || !allDigits(dd) || !allDigits(yyyy))
        return 0;
    const int month = std::stoi(mm), day = std::stoi(dd), year = std::stoi(yyyy);
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > days[month - 1] || (month == 2 && day == 29 && !leap))
        return 0;
    return year * 10000 + month * 100 + day;
}

std::string releaseDayText(int day)
{
    if (day <= 0)
        return {};
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", (day / 100) % 100, day % 100, day / 10000);
    return text;
}

std::string infoValue(const std::string &info, const std::string &key)
{
    const std::string marker = "#" + asciiLower(key) + "=";
    const auto at = asciiLower(info).find(marker);
    if (at == std::string::npos)
        return {};
    const auto start = at + marker.size();
    auto end = start;
    while (end < info.size() && static_cast<unsigned char>(info[end]) >= 32)
        ++end;
    return info.substr(start, end - start);
}

std::optional<Release> parseRelease(const std::string &info, std::string &reason)
{
    Release release;
    release.day = releaseDay(infoValue(info, "date"));
    if (release.day == 0) {
        reason = "the release has no valid #date=";
        return std::nullopt;
    }
    if (!infoValue(info, "url").empty() || !infoValue(info, "url0").empty()) {
        reason = "a signed release numbers its files from #url1=";
        return std::nullopt;
    }
    std::set<std::string> seen;
    for (int n = 1;; ++n) {
        const std::string url = infoValue(info, "url" + std::to_string(n));
        const std::string file = infoValue(info, "file" + std::to_string(n));
        if (url.empty() && file.empty())
            break;
        if (url.empty() || file.empty()) {
            reason = "#url" + std::to_string(n) + "= and #file" + std::to_string(n) + "= do not come in pairs";
            return std::nullopt;
        }
        const auto first = file.find(' ');
        const auto second = first == std::string::npos ? first : file.find(' ', first + 1);
        ManifestEntry entry;
        if (second != std::string::npos) {
            entry.sha256 = file.substr(0, first);
            const std::string size = file.substr(first + 1, second - first - 1);
            const auto name = gbkToUtf8(file.substr(second + 1));
            if (isHex64(entry.sha256) && allDigits(size) && size.size() < 19 && name) {
                entry.size = std::stoull(size);
                entry.name = *name;
            }
        }
        if (entry.name.empty()) {
            reason = "#file" + std::to_string(n) + "= is not <SHA-256> <size> <name>";
            return std::nullopt;
        }
        if (!isInstallableName(entry.name) || !seen.insert(entry.name).second) {
            reason = "#file" + std::to_string(n) + "= names a file that cannot be installed: " + entry.name;
            return std::nullopt;
        }
        release.files.push_back(entry);
    }
    if (release.files.empty()) {
        reason = "the release lists no files";
        return std::nullopt;
    }
    return release;
}

bool verifyPrehashedSignature(const std::string &data, const std::string &signatureFile,
                              const std::string &publicKeyLine, std::string &reason)
{
    if (sodium_init() < 0) {
        reason = "the signature library cannot start";
        return false;
    }
    const auto key = decodeBase64(publicKeyLine);
    if (!key || key->size() != 2 + 8 + crypto_sign_PUBLICKEYBYTES || key->compare(0, 2, "Ed") != 0) {
        reason = "no valid public key";
        return false;
    }
    const auto lines = signatureFile.size() <= 4096 ? signatureLines(signatureFile) : std::vector<std::string>();
    const std::string trusted = "trusted comment: ";
    if (lines.size() != 4 || lines[0].rfind("untrusted comment:", 0) != 0 || lines[2].rfind(trusted, 0) != 0) {
        reason = "missing or malformed signature";
        return false;
    }
    const auto sig = decodeBase64(lines[1]);
    const auto global = decodeBase64(lines[3]);
    if (!sig || !global || sig->size() != 2 + 8 + crypto_sign_BYTES || global->size() != crypto_sign_BYTES) {
        reason = "missing or malformed signature";
        return false;
    }
    if (sig->compare(0, 2, "ED") != 0) {
        reason = "not a prehashed signature";
        return false;
    }
    if (sig->compare(2, 8, *key, 2, 8) != 0) {
        reason = "signed with a key this program does not trust";
        return false;
    }
    const auto *pk = reinterpret_cast<const unsigned char *>(key->data() + 10);
    unsigned char hash[crypto_generichash_BYTES_MAX];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(data.data()), data.size(), nullptr,
                       0);
    if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(sig->data() + 10), hash, sizeof hash, pk)
        != 0) {
        reason = "signature does not match the file";
        return false;
    }
    const std::string signedComment = sig->substr(10) + lines[2].substr(trusted.size());
    if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(global->data()),
                                    reinterpret_cast<const unsigned char *>(signedComment.data()), signedComment.size(),
                                    pk)
        != 0) {
        reason = "trusted comment does not match its signature";
        return false;
    }
    return true;
}

int newestInstalled(const std::string &folder)
{
    std::string text;
    if (!readWholeFile(folder + kNewestFile, text, 64))
        return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return releaseDay(text);
}

bool recordInstalled(const std::string &folder, int day)
{
    if (day <= newestInstalled(folder))
        return true;
    return writeFileDurably(folder + kNewestFile, releaseDayText(day) + "\n");
}

int releaseOfProgram(const std::string &path)
{
    const int fd = files::openForReading(path);
    if (fd < 0)
        return 0;
    const std::string prefix = kReleaseMarkerPrefix;
    const std::size_t stamp = prefix.size() + 11; // prefix, MM/DD/YYYY, ";"
    std::string window;
    std::vector<char> block(1 << 16);
    int found = 0;
    for (;;) {
        const long long n = files::readSome(fd, block.data(), block.size());
        if (n <= 0)
            break;
        window.append(block.data(), static_cast<std::size_t>(n));
        // The search pattern itself lies in the program too: only a complete stamp counts.
        for (auto at = window.find(prefix); at != std::string::npos; at = window.find(prefix, at + 1)) {
            if (at + stamp > window.size())
                break;
            if (window[at + stamp - 1] == ';') {
                found = releaseDay(window.substr(at + prefix.size(), 10));
                if (found)
                    break;
            }
        }
        if (found)
            break;
        if (window.size() > stamp)
            window.erase(0, window.size() - stamp);
    }
    files::closeFile(fd);
    return found;
}

} // namespace lianbu::updater
