/* iconv over the Windows code page functions. One character at a time: read one from the input
 * (to a code point), write it in the target form, and only then move both buffers on, so every
 * error leaves the input at the sequence that was not converted. */
#include "iconv.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

enum form { FORM_UTF8, FORM_UTF16LE, FORM_UTF16BE, FORM_GBK, FORM_CODEPAGE };

struct side
{
    enum form form;
    UINT codepage;
};

struct converter
{
    struct side from;
    struct side to;
};

/* A code page the system converts one or two bytes at a time (no shift states, no GB18030). */
static int usable_codepage(UINT codepage)
{
    CPINFO info;
    if (codepage == CP_UTF7 || codepage == CP_UTF8 || !IsValidCodePage(codepage))
        return 0;
    return GetCPInfo(codepage, &info) && info.MaxCharSize <= 2;
}

static int set_codepage(struct side *side, UINT codepage)
{
    side->form = codepage == 936 ? FORM_GBK : FORM_CODEPAGE;
    side->codepage = codepage;
    return usable_codepage(codepage);
}

static int parse_name(const char *code, struct side *side)
{
    char name[64];
    size_t n = 0;
    const char *digits = NULL;
    unsigned long value = 0;
    /* Upper case, up to the first "/" (the "//TRANSLIT" kind of suffix). */
    for (; code[n] && code[n] != '/'; ++n) {
        if (n + 1 >= sizeof name)
            return 0;
        name[n] = (char)(code[n] >= 'a' && code[n] <= 'z' ? code[n] - 'a' + 'A' : code[n]);
    }
    name[n] = '\0';

    if (strcmp(name, "UTF-8") == 0 || strcmp(name, "UTF8") == 0) {
        side->form = FORM_UTF8;
        return 1;
    }
    if (strcmp(name, "UTF-16LE") == 0 || strcmp(name, "UCS-2LE") == 0) {
        side->form = FORM_UTF16LE;
        return 1;
    }
    if (strcmp(name, "UTF-16BE") == 0 || strcmp(name, "UCS-2BE") == 0) {
        side->form = FORM_UTF16BE;
        return 1;
    }
    if (strcmp(name, "GBK") == 0 || strcmp(name, "GB2312") == 0 || strcmp(name, "MS936") == 0)
        return set_codepage(side, 936);
    if (strcmp(name, "ASCII") == 0 || strcmp(name, "US-ASCII") == 0)
        return set_codepage(side, 20127);
    if (strcmp(name, "LATIN1") == 0 || strcmp(name, "ISO-8859-1") == 0 || strcmp(name, "ISO8859-1") == 0)
        return set_codepage(side, 28591);
    if (strncmp(name, "CP", 2) == 0)
        digits = name + 2;
    else if (strncmp(name, "WINDOWS-", 8) == 0)
        digits = name + 8;
    if (!digits || !*digits)
        return 0;
    for (; *digits; ++digits) {
        if (*digits < '0' || *digits > '9')
            return 0;
        value = value * 10 + (unsigned long)(*digits - '0');
        if (value > 65535)
            return 0;
    }
    return value != 0 && set_codepage(side, (UINT)value);
}

iconv_t iconv_open(const char *tocode, const char *fromcode)
{
    struct converter parsed;
    struct converter *made;
    if (!tocode || !fromcode || !parse_name(tocode, &parsed.to) || !parse_name(fromcode, &parsed.from)) {
        errno = EINVAL;
        return (iconv_t)-1;
    }
    made = (struct converter *)malloc(sizeof *made);
    if (!made) {
        errno = ENOMEM;
        return (iconv_t)-1;
    }
    *made = parsed;
    return made;
}

int iconv_close(iconv_t cd)
{
    if (cd == (iconv_t)-1 || !cd) {
        errno = EBADF;
        return -1;
    }
    free(cd);
    return 0;
}

/* Reads one character: 0 with the code point and the bytes it took, or an errno value. */
static int read_utf8(const unsigned char *in, size_t left, uint32_t *code, size_t *used)
{
    const unsigned char b = in[0];
    size_t need;
    uint32_t value, least;
    if (b < 0x80) {
        *code = b;
        *used = 1;
        return 0;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        need = 2;
        value = b & 0x1Fu;
        least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        value = b & 0x0Fu;
        least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        value = b & 0x07u;
        least = 0x10000;
    } else {
        return EILSEQ;
    }
    for (size_t i = 1; i < need; ++i) {
        if (i >= left)
            return EINVAL;
        if ((in[i] & 0xC0) != 0x80)
            return EILSEQ;
        value = (value << 6) | (in[i] & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return EILSEQ;
    *code = value;
    *used = need;
    return 0;
}

static unsigned unit16(const unsigned char *in, int big)
{
    return big ? ((unsigned)in[0] << 8 | in[1]) : ((unsigned)in[1] << 8 | in[0]);
}

static int read_utf16(const unsigned char *in, size_t left, int big, uint32_t *code, size_t *used)
{
    unsigned first, second;
    if (left < 2)
        return EINVAL;
    first = unit16(in, big);
    if (first < 0xD800 || first > 0xDFFF) {
        *code = first;
        *used = 2;
        return 0;
    }
    if (first >= 0xDC00)
        return EILSEQ;
    if (left < 4)
        return EINVAL;
    second = unit16(in + 2, big);
    if (second < 0xDC00 || second > 0xDFFF)
        return EILSEQ;
    *code = 0x10000 + ((uint32_t)(first - 0xD800) << 10) + (second - 0xDC00);
    *used = 4;
    return 0;
}

static int decode_bytes(UINT codepage, const unsigned char *in, int count, uint32_t *code)
{
    WCHAR wide[2];
    int made = MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, (LPCCH)in, count, wide, 2);
    if (made == 0 && GetLastError() == ERROR_INVALID_FLAGS)
        made = MultiByteToWideChar(codepage, 0, (LPCCH)in, count, wide, 2);
    if (made == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF)) {
        *code = wide[0];
        return 0;
    }
    if (made == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF) {
        *code = 0x10000 + ((uint32_t)(wide[0] - 0xD800) << 10) + (wide[1] - 0xDC00);
        return 0;
    }
    return EILSEQ;
}

/* GBK by its own byte rules (one byte up to 0x80, 0x81..0xFE then 0x40..0xFE without 0x7F), so
 * bytes that are no GBK at all are refused rather than mapped to private characters. */
static int read_gbk(const unsigned char *in, size_t left, uint32_t *code, size_t *used)
{
    const unsigned char b = in[0];
    if (b < 0x80) {
        *code = b;
        *used = 1;
        return 0;
    }
    if (b == 0x80) {
        *used = 1;
        return decode_bytes(936, in, 1, code);
    }
    if (b == 0xFF)
        return EILSEQ;
    if (left < 2)
        return EINVAL;
    if (in[1] < 0x40 || in[1] == 0x7F || in[1] == 0xFF)
        return EILSEQ;
    *used = 2;
    return decode_bytes(936, in, 2, code);
}

static int read_codepage(UINT codepage, const unsigned char *in, size_t left, uint32_t *code, size_t *used)
{
    if (IsDBCSLeadByteEx(codepage, in[0])) {
        if (left < 2)
            return EINVAL;
        *used = 2;
        return decode_bytes(codepage, in, 2, code);
    }
    *used = 1;
    return decode_bytes(codepage, in, 1, code);
}

static int read_one(const struct side *side, const unsigned char *in, size_t left, uint32_t *code, size_t *used)
{
    switch (side->form) {
    case FORM_UTF8:
        return read_utf8(in, left, code, used);
    case FORM_UTF16LE:
        return read_utf16(in, left, 0, code, used);
    case FORM_UTF16BE:
        return read_utf16(in, left, 1, code, used);
    case FORM_GBK:
        return read_gbk(in, left, code, used);
    case FORM_CODEPAGE:
        break;
    }
    return read_codepage(side->codepage, in, left, code, used);
}

static size_t write_utf16(uint32_t code, int big, unsigned char *out)
{
    unsigned units[2];
    size_t count = 1;
    if (code >= 0x10000) {
        units[0] = 0xD800 + ((code - 0x10000) >> 10);
        units[1] = 0xDC00 + ((code - 0x10000) & 0x3FF);
        count = 2;
    } else {
        units[0] = code;
    }
    for (size_t i = 0; i < count; ++i) {
        out[2 * i + (big ? 0 : 1)] = (unsigned char)(units[i] >> 8);
        out[2 * i + (big ? 1 : 0)] = (unsigned char)(units[i] & 0xFF);
    }
    return 2 * count;
}

/* Writes one character into out (room for 8 bytes): the byte count, or 0 when the target cannot
 * hold it. A code page's answer counts only when it reads back as the same character, so the
 * system's "best fit" substitutes and default characters are refused. */
static size_t write_one(const struct side *side, uint32_t code, unsigned char *out)
{
    WCHAR wide[2];
    int units = 1, made;
    uint32_t back;
    size_t used;
    BOOL defaulted = FALSE;
    switch (side->form) {
    case FORM_UTF8:
        if (code < 0x80) {
            out[0] = (unsigned char)code;
            return 1;
        }
        if (code < 0x800) {
            out[0] = (unsigned char)(0xC0 | (code >> 6));
            out[1] = (unsigned char)(0x80 | (code & 0x3F));
            return 2;
        }
        if (code < 0x10000) {
            out[0] = (unsigned char)(0xE0 | (code >> 12));
            out[1] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
            out[2] = (unsigned char)(0x80 | (code & 0x3F));
            return 3;
        }
        out[0] = (unsigned char)(0xF0 | (code >> 18));
        out[1] = (unsigned char)(0x80 | ((code >> 12) & 0x3F));
        out[2] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        out[3] = (unsigned char)(0x80 | (code & 0x3F));
        return 4;
    case FORM_UTF16LE:
        return write_utf16(code, 0, out);
    case FORM_UTF16BE:
        return write_utf16(code, 1, out);
    case FORM_GBK:
    case FORM_CODEPAGE:
        break;
    }
    if (code < 0x80 && side->form == FORM_GBK) {
        out[0] = (unsigned char)code;
        return 1;
    }
    if (code >= 0x10000) {
        wide[0] = (WCHAR)(0xD800 + ((code - 0x10000) >> 10));
        wide[1] = (WCHAR)(0xDC00 + ((code - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = (WCHAR)code;
    }
    made = WideCharToMultiByte(side->codepage, WC_NO_BEST_FIT_CHARS, wide, units, (LPSTR)out, 8, NULL, &defaulted);
    if (made == 0 && GetLastError() == ERROR_INVALID_FLAGS)
        made = WideCharToMultiByte(side->codepage, 0, wide, units, (LPSTR)out, 8, NULL, NULL);
    if (made <= 0 || defaulted)
        return 0;
    if (read_one(side, out, (size_t)made, &back, &used) != 0 || back != code || used != (size_t)made)
        return 0;
    return (size_t)made;
}

size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft)
{
    struct converter *c = (struct converter *)cd;
    if (!c || cd == (iconv_t)-1) {
        errno = EBADF;
        return (size_t)-1;
    }
    /* No conversion here keeps a state between calls: resetting has nothing to write. */
    if (!inbuf || !*inbuf)
        return 0;
    while (*inbytesleft > 0) {
        const unsigned char *in = (const unsigned char *)*inbuf;
        unsigned char bytes[8];
        uint32_t code = 0;
        size_t used = 0, made;
        int error = read_one(&c->from, in, *inbytesleft, &code, &used);
        if (error != 0) {
            errno = error;
            return (size_t)-1;
        }
        made = write_one(&c->to, code, bytes);
        if (made == 0) {
            errno = EILSEQ;
            return (size_t)-1;
        }
        if (!outbuf || !*outbuf || !outbytesleft || made > *outbytesleft) {
            errno = E2BIG;
            return (size_t)-1;
        }
        memcpy(*outbuf, bytes, made);
        *outbuf += made;
        *outbytesleft -= made;
        *inbuf += used;
        *inbytesleft -= used;
    }
    return 0;
}
