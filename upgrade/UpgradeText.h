#pragma once

// Small helpers of the upgrader: address parts, the HTTP date reader, message formatting and
// the progress arithmetic shared by the transfer client and the download window.

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <initializer_list>

namespace lianbu::upgrade {

// The parts of an address. An address without "://" is read as "http://" + address.
// Escape sequences in the parts are decoded. A malformed address gives empty parts.
struct UrlParts
{
    QString scheme; // lower case: "http", "https", "file", ...
    QString host;
    QString userName;
    QString password;
    QString path;  // decoded; "/" when the address names none
    QString extra; // "?query" and/or "#fragment" as written
    int port = 0;  // the scheme's default when the address names none (80, 443; 0 otherwise)
};
UrlParts splitUrl(const QString &address);

// The host part of an address (empty when it has none).
QString urlToHostName(const QString &address);
// Every "/" becomes "\", then the text after the last "\" or ":" is taken:
// "http://x/a/b.exe" -> "b.exe". Used for local file names and in messages.
QString urlToFileName(const QString &address);

// Reads an HTTP date header (the fixed form "Sun, 06 Nov 1994 08:49:37 GMT", the older form
// "Sunday, 06-Nov-94 08:49:37 GMT", the asctime form "Sun Nov  6 08:49:37 1994", numeric zones
// "+0100") into a local date-time. Two-digit years below 80 are 20xx, 80-99 are 19xx. An empty
// or unreadable text gives an invalid QDateTime ("0", no date).
QDateTime httpDateToDateTime(const QString &text);

// printf-like formatting of the message table's place-holders: %s, %d, %.Nd (at least N
// digits, zero-filled), %.Nf (N decimals) and %% . Arguments are taken in order; a missing
// argument leaves its place-holder empty.
QString formatText(const QString &format, const QVariantList &args);

// Progress figures of a transfer, as shown after every block.
struct TransferFigures
{
    int percent = 0;      // 0-100; 0 while the announced size is 0
    unsigned elapsed = 0; // whole seconds since the transfer started
    int secondsLeft = 0;  // estimate, may be negative when the size is unknown
    float rate = 0;       // kilobytes per second (kilobytes so far in the first second)
};
TransferFigures computeTransferFigures(quint32 announcedSize, quint32 bytesRead, qint64 elapsedMs);

// Percent of a whole run of `count` files while file `index` (from 0) is at `percent`:
// percent div count + round(index * 100 / count); 0 parts for no files.
int totalPercent(int percent, int index, int count);

// Hours, minutes and seconds of a time left in seconds (3725 -> 1, 2, 5).
struct HoursMinutesSeconds
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
};
HoursMinutesSeconds splitSeconds(int seconds);

} // namespace lianbu::upgrade
