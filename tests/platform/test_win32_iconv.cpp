// The Windows build's iconv: conversions between UTF-8, UTF-16 and code pages (GBK above all)
// with the error reports and buffer positions the callers rely on. Plain C++, no Qt, so it runs
// under Wine before anything else of the program is built.
#include "platform/win32/iconv.h"
#include "tests/support/PlainChecks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Result
{
    std::string out; // what was written
    size_t consumed; // input bytes taken
    size_t rc;       // iconv's answer
    int error;       // errno when rc is -1
};

// One iconv call over the whole input with `room` bytes of output.
Result run(const char *to, const char *from, const std::string &input, size_t room = 256)
{
    iconv_t cd = iconv_open(to, from);
    Result r{{}, 0, 0, 0};
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        r.rc = size_t(-2);
        return r;
    }
    std::string in = input;
    std::string buffer(room, '\0');
    char *inPtr = in.data();
    size_t inLeft = in.size();
    char *outPtr = buffer.data();
    size_t outLeft = room;
    errno = 0;
    r.rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    r.error = errno;
    r.consumed = in.size() - inLeft;
    r.out.assign(buffer.data(), size_t(outPtr - buffer.data()));
    iconv_close(cd);
    return r;
}

bool failedWith(const Result &r, int error)
{
    return r.rc == size_t(-1) && r.error == error;
}

void opensByName()
{
    for (const char *name : {"GBK", "gbk", "CP936", "GB2312", "WINDOWS-936", "UTF-8", "utf8", "UTF-16LE", "UTF-16BE",
                             "CP1252", "windows-1252", "ASCII", "ISO-8859-1", "GBK//TRANSLIT"}) {
        iconv_t cd = iconv_open(name, "UTF-8");
        lianbu::plaintest::check(cd != reinterpret_cast<iconv_t>(-1), name, __LINE__);
        if (cd != reinterpret_cast<iconv_t>(-1))
            CHECK(iconv_close(cd) == 0);
    }
    for (const char *name : {"", "NO-SUCH", "CP", "CP0", "CP99999", "CP12a", "UTF-7", "CP65000", "CP65001"}) {
        errno = 0;
        iconv_t cd = iconv_open("UTF-8", name);
        lianbu::plaintest::check(cd == reinterpret_cast<iconv_t>(-1) && errno == EINVAL, name, __LINE__);
    }
    const std::string longName(200, 'A');
    CHECK(iconv_open(longName.c_str(), "UTF-8") == reinterpret_cast<iconv_t>(-1));
}

void gbkKnownBytes()
{
    const Result chinese = run("GBK", "UTF-8", "中文 联簿宝");
    CHECK(chinese.rc == 0);
    CHECK(chinese.out == "\xD6\xD0\xCE\xC4 \xC1\xAA\xB2\xBE\xB1\xA6");
    CHECK(run("UTF-8", "GBK", chinese.out).out == "中文 联簿宝");
    // The euro sign is the one character of code page 936 at a single byte above ASCII.
    CHECK(run("GBK", "UTF-8", "€").out == "\x80");
    CHECK(run("UTF-8", "CP936", "\x80").out == "€");
    CHECK(run("GBK", "UTF-8", "！（）").out == "\xA3\xA1\xA3\xA8\xA3\xA9");
    const Result nul = run("GBK", "UTF-8", std::string("\0a", 2));
    CHECK(nul.rc == 0 && nul.out == std::string("\0a", 2));
}

void unconvertibleCharactersStopAtThem()
{
    // An emoji and Hangul have no GBK bytes: what came before is written, the input stays at them.
    const Result emoji = run("GBK", "UTF-8",
                             "a\xF0\x9F\x98\x80"
                             "b");
    CHECK(failedWith(emoji, EILSEQ));
    CHECK(emoji.out == "a" && emoji.consumed == 1);
    const Result hangul = run("GBK", "UTF-8", "中한");
    CHECK(failedWith(hangul, EILSEQ) && hangul.consumed == 3 && hangul.out == "\xD6\xD0");
    // "é" is in GBK (a pinyin vowel); "å" only resembles one and gets no "best fit" stand-in.
    CHECK(run("GBK", "UTF-8", "é").out == "\xA8\xA6");
    CHECK(failedWith(run("GBK", "UTF-8", "\xC3\xA5"), EILSEQ)); // å
    CHECK(failedWith(run("CP1252", "UTF-8", "中"), EILSEQ));
    CHECK(failedWith(run("ASCII", "UTF-8", "\xC3\xA9"), EILSEQ));
}

void invalidAndShortInput()
{
    // GBK bytes that are no character, and a lead byte cut off at the end.
    Result r = run("UTF-8", "GBK",
                   "a\xFF"
                   "b");
    CHECK(failedWith(r, EILSEQ) && r.consumed == 1 && r.out == "a");
    r = run("UTF-8", "GBK", "ab\xD6");
    CHECK(failedWith(r, EINVAL) && r.consumed == 2 && r.out == "ab");
    r = run("UTF-8", "GBK",
            "\xD6\x0A"
            "x");
    CHECK(failedWith(r, EILSEQ) && r.consumed == 0);
    r = run("UTF-8", "GBK", "\xD6\x7F");
    CHECK(failedWith(r, EILSEQ));
    // UTF-8 that is not: a stray continuation, an overlong form, an encoded surrogate, a cut tail.
    CHECK(failedWith(run("GBK", "UTF-8", "\x80"), EILSEQ));
    CHECK(failedWith(run("GBK", "UTF-8", "\xC0\x80"), EILSEQ));
    CHECK(failedWith(run("GBK", "UTF-8", "\xE0\x80\x80"), EILSEQ));
    CHECK(failedWith(run("UTF-16LE", "UTF-8", "\xED\xA0\x80"), EILSEQ));
    CHECK(failedWith(run("UTF-16LE", "UTF-8", "\xF4\x90\x80\x80"), EILSEQ)); // past U+10FFFF
    r = run("GBK", "UTF-8", "x\xE4\xB8");
    CHECK(failedWith(r, EINVAL) && r.consumed == 1 && r.out == "x");
    CHECK(failedWith(run("GBK", "UTF-8", "\xE4\x41\x41"), EILSEQ));
}

void utf16Forms()
{
    const std::string le("\x2D\x4E\x87\x65", 4); // 中文
    CHECK(run("UTF-8", "UTF-16LE", le).out == "中文");
    CHECK(run("UTF-16LE", "UTF-8", "中文").out == le);
    CHECK(run("UTF-16BE", "UTF-8", "中").out == std::string("\x4E\x2D", 2));
    // A pair is one character; GBK has none of them.
    const std::string pair("\x3D\xD8\x00\xDE", 4); // U+1F600
    CHECK(run("UTF-8", "UTF-16LE", pair).out == "\xF0\x9F\x98\x80");
    CHECK(run("UTF-16LE", "UTF-8", "\xF0\x9F\x98\x80").out == pair);
    CHECK(failedWith(run("GBK", "UTF-16LE", pair), EILSEQ));
    // A low surrogate first is invalid; a high one at the end waits for more input.
    CHECK(failedWith(run("UTF-8", "UTF-16LE", std::string("\x00\xDE", 2)), EILSEQ));
    Result r = run("UTF-8", "UTF-16LE", std::string("A\x00\x3D\xD8", 4));
    CHECK(failedWith(r, EINVAL) && r.consumed == 2 && r.out == "A");
    CHECK(failedWith(run("UTF-8", "UTF-16LE", std::string("A", 1)), EINVAL));
    CHECK(failedWith(run("UTF-8", "UTF-16LE",
                         std::string("\x3D\xD8"
                                     "A\x00",
                                     4)),
                     EILSEQ));
}

void fullOutputStopsBeforeTheCharacter()
{
    // Three bytes of room hold one GBK character of two, not the half of the next.
    Result r = run("GBK", "UTF-8", "中文", 3);
    CHECK(failedWith(r, E2BIG) && r.out == "\xD6\xD0" && r.consumed == 3);
    // Resuming from where it stopped finishes the text.
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string in = "中文中文";
    char *inPtr = in.data();
    size_t inLeft = in.size();
    std::string all;
    int rounds = 0;
    while (inLeft > 0 && rounds < 10) {
        char out[3];
        char *outPtr = out;
        size_t outLeft = sizeof out;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        all.append(out, size_t(outPtr - out));
        CHECK(rc == 0 || errno == E2BIG);
        ++rounds;
    }
    CHECK(all == "\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4" && rounds == 4);
    // The reset calls of iconv(3) write nothing and succeed.
    char sink[4];
    char *sinkPtr = sink;
    size_t sinkLeft = sizeof sink;
    CHECK(iconv(cd, nullptr, nullptr, &sinkPtr, &sinkLeft) == 0 && sinkLeft == sizeof sink);
    CHECK(iconv(cd, nullptr, nullptr, nullptr, nullptr) == 0);
    iconv_close(cd);
    CHECK(failedWith(run("GBK", "UTF-8", "a", 0), E2BIG));
}

// Every two-byte GBK code decodes to one character that encodes back to the same bytes, or is
// refused; the characters found are GBK's twenty thousand and more.
void everyGbkCodeRoundTrips()
{
    iconv_t toUtf8 = iconv_open("UTF-8", "GBK");
    iconv_t toGbk = iconv_open("GBK", "UTF-8");
    int characters = 0;
    int mismatches = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            char code[2] = {char(lead), char(trail)};
            char utf8[8];
            char *in = code;
            size_t inLeft = 2;
            char *out = utf8;
            size_t outLeft = sizeof utf8;
            if (iconv(toUtf8, &in, &inLeft, &out, &outLeft) != 0)
                continue;
            ++characters;
            char back[8];
            char *in2 = utf8;
            size_t in2Left = size_t(out - utf8);
            char *out2 = back;
            size_t out2Left = sizeof back;
            if (iconv(toGbk, &in2, &in2Left, &out2, &out2Left) != 0 || out2 - back != 2 || back[0] != code[0]
                || back[1] != code[1])
                ++mismatches;
        }
    }
    iconv_close(toUtf8);
    iconv_close(toGbk);
    std::printf("GBK two-byte characters: %d, not round-tripping: %d\n", characters, mismatches);
    CHECK(characters >= 21000);
    CHECK(mismatches == 0);
}

void otherCodePages()
{
    CHECK(run("CP1252", "UTF-8", "café €").out == "caf\xE9 \x80");
    CHECK(run("UTF-8", "WINDOWS-1252", "caf\xE9").out == "café");
    CHECK(run("UTF-8", "ISO-8859-1", "\xFF").out == "ÿ");
    // Big5 is another two-byte code page: its lead bytes are the system's.
    CHECK(run("UTF-8", "CP950", "\xA4\xA4").out == "中");
    Result r = run("UTF-8", "CP950", "\xA4");
    CHECK(failedWith(r, EINVAL));
    CHECK(iconv(reinterpret_cast<iconv_t>(-1), nullptr, nullptr, nullptr, nullptr) == size_t(-1));
    CHECK(iconv_close(reinterpret_cast<iconv_t>(-1)) == -1);
}

} // namespace

int main()
{
    opensByName();
    gbkKnownBytes();
    unconvertibleCharactersStopAtThem();
    invalidAndShortInput();
    utf16Forms();
    fullOutputStopsBeforeTheCharacter();
    everyGbkCodeRoundTrips();
    otherCodePages();
    return lianbu::plaintest::checkSummary();
}
