/* The iconv interface on Windows, which has none: conversions between UTF-8, UTF-16 and the
 * system's code pages (936 for GBK above all), done by the Windows API. Only this folder's
 * build for Windows puts it on the include path, so `#include <iconv.h>` finds the C library's
 * own elsewhere. Errors as iconv(3): EILSEQ (a sequence that is invalid or has no counterpart in
 * the target), EINVAL (a sequence cut short at the end of the input), E2BIG (no room left);
 * on each, the input points at the sequence not converted. */
#ifndef LIANBU_WIN32_ICONV_H
#define LIANBU_WIN32_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *iconv_t;

/* Names are matched without regard to case: UTF-8, UTF-16LE, UTF-16BE, UCS-2LE, GBK (also
 * CP936, GB2312, MS936, WINDOWS-936), ASCII, LATIN1/ISO-8859-1, CPnnnn and WINDOWS-nnnn for a
 * code page the system has. A suffix such as "//TRANSLIT" is accepted and ignored. An unknown
 * name gives (iconv_t)-1 with errno EINVAL. */
iconv_t iconv_open(const char *tocode, const char *fromcode);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
