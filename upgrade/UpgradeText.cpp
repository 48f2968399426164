#include "upgrade/UpgradeText.h"

#include <QTimeZone>
#include <QUrl>

#include <cmath>

namespace lianbu::upgrade {

UrlParts splitUrl(const QString &address)
{
    UrlParts parts;
    QString text = address.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid())
        return parts;
    parts.scheme = url.scheme().toLower();
    parts.host = url.host(QUrl::FullyDecoded);
    parts.userName = url.userName(QUrl::FullyDecoded);
    parts.password = url.password(QUrl::FullyDecoded);
    parts.path = url.path(QUrl::FullyDecoded);
    if (parts.path.isEmpty() && parts.scheme != QLatin1String("file"))
        parts.path = QStringLiteral("/");
    if (url.hasQuery())
        parts.extra = QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    if (url.hasFragment())
        parts.extra += QLatin1Char('#') + url.fragment(QUrl::FullyEncoded);
    int defaultPort = 0;
    if (parts.scheme == QLatin1String("http"))
        defaultPort = 80;
    else if (parts.scheme == QLatin1String("https"))
        defaultPort = 443;
    parts.port = url.port(defaultPort);
    return parts;
}

QString urlToHostName(const QString &address)
{
    return splitUrl(address).host;
}

QString urlToFileName(const QString &address)
{
    QString text = address;
    text.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const qsizetype cut = std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char(':')));
    return text.mid(cut + 1);
}

// ---------------------------------------------------------------------------------------------
// HTTP dates

namespace {

const char *const dayNames[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
const char *const monthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

void dropLeadingBlanks(QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    text.remove(0, i);
}

// Takes the text up to the next separator (all of it when there is none) and drops the
// leading blanks of the rest.
QString takeItem(QString &rest, QChar separator)
{
    const qsizetype at = rest.indexOf(separator);
    QString item;
    if (at < 0) {
        item = rest;
        rest.clear();
    } else {
        item = rest.left(at);
        rest.remove(0, at + 1);
    }
    dropLeadingBlanks(rest);
    return item;
}

int monthNumber(const QString &name)
{
    const QString upper = name.trimmed().toUpper();
    for (int i = 0; i < 12; ++i) {
        if (upper == QLatin1String(monthNames[i]))
            return i + 1;
    }
    return 0;
}

int numberOr(const QString &text, int fallback, bool *ok = nullptr)
{
    bool good = false;
    const int value = text.trimmed().toInt(&good);
    if (ok)
        *ok = good;
    return good ? value : fallback;
}

// "+HHMM" / "-HHMM" as seconds east of Greenwich; 0 for names such as GMT and for anything else.
int zoneOffsetSeconds(const QString &zone)
{
    if (zone.size() < 5)
        return 0;
    const QChar sign = zone.at(0);
    if (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
        return 0;
    for (int i = 1; i < 5; ++i) {
        if (!zone.at(i).isDigit())
            return 0;
    }
    const int hours = zone.mid(1, 2).toInt();
    const int minutes = zone.mid(3, 2).toInt();
    if (hours > 23 || minutes > 59)
        return 0;
    const int seconds = hours * 3600 + minutes * 60;
    return sign == QLatin1Char('-') ? -seconds : seconds;
}

} // namespace

QDateTime httpDateToDateTime(const QString &input)
{
    QString rest = input.trimmed();
    if (rest.isEmpty())
        return {};

    // Weekday name: dropped with everything up to the first blank.
    const QString head = rest.left(3).toUpper();
    for (const char *day : dayNames) {
        if (head == QLatin1String(day)) {
            const qsizetype blank = rest.indexOf(QLatin1Char(' '));
            rest = blank < 0 ? QString() : rest.mid(blank + 1);
            dropLeadingBlanks(rest);
            break;
        }
    }

    // "06-Nov-94" uses "-" between its parts, the other forms a blank.
    const qsizetype firstDash = rest.indexOf(QLatin1Char('-'));
    const qsizetype firstBlank = rest.indexOf(QLatin1Char(' '));
    const QChar separator =
        (firstDash > 0 && (firstBlank < 0 || firstDash < firstBlank)) ? QLatin1Char('-') : QLatin1Char(' ');

    int day = 1;
    int month = 0;
    const qsizetype separatorAt = rest.indexOf(separator);
    const QString first = separatorAt < 0 ? rest : rest.left(separatorAt);
    if (monthNumber(first) != 0) {
        month = monthNumber(takeItem(rest, separator));
        day = numberOr(takeItem(rest, separator), 1);
    } else {
        day = numberOr(takeItem(rest, separator), 1);
        month = monthNumber(takeItem(rest, separator));
    }

    // Year; in the asctime form the time stands before it.
    QString yearText = takeItem(rest, QLatin1Char(' '));
    bool numeric = false;
    int year = numberOr(yearText, 0, &numeric);
    if (!numeric) {
        year = numberOr(rest, 1900);
        rest = yearText;
    }
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};

    QTime time(0, 0, 0);
    if (rest.contains(QLatin1Char(':'))) {
        QString clock = takeItem(rest, QLatin1Char(' '));
        const int hours = numberOr(takeItem(clock, QLatin1Char(':')), 0);
        const int minutes = numberOr(takeItem(clock, QLatin1Char(':')), 0);
        const int seconds = numberOr(takeItem(clock, QLatin1Char(' ')), 0);
        time = QTime(hours, minutes, seconds);
        if (!time.isValid())
            return {};
    }
    dropLeadingBlanks(rest);

    const QDateTime greenwich = QDateTime(date, time, QTimeZone::utc()).addSecs(-zoneOffsetSeconds(rest));
    return greenwich.toLocalTime();
}

// ---------------------------------------------------------------------------------------------
// Formatting

QString formatText(const QString &format, const QVariantList &args)
{
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        if (j < format.size() && format.at(j) == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i = j;
            continue;
        }
        bool leftAlign = false;
        if (j < format.size() && format.at(j) == QLatin1Char('-')) {
            leftAlign = true;
            ++j;
        }
        int width = 0;
        while (j < format.size() && format.at(j).isDigit())
            width = width * 10 + format.at(j++).digitValue();
        int precision = -1;
        if (j < format.size() && format.at(j) == QLatin1Char('.')) {
            ++j;
            precision = 0;
            while (j < format.size() && format.at(j).isDigit())
                precision = precision * 10 + format.at(j++).digitValue();
        }
        if (j >= format.size()) { // a lone "%" at the end stays as written
            out += format.mid(i);
            break;
        }
        const QChar kind = format.at(j).toLower();
        const bool known = kind == QLatin1Char('d') || kind == QLatin1Char('f') || kind == QLatin1Char('s');
        if (known && next >= args.size()) { // no argument left: the place stays empty
            i = j;
            continue;
        }
        const QVariant arg = next < args.size() ? args.at(next) : QVariant();
        QString piece;
        if (kind == QLatin1Char('d')) {
            const qlonglong value = arg.toLongLong();
            piece = QString::number(qAbs(value));
            if (precision > 0 && piece.size() < precision)
                piece = QString(precision - piece.size(), QLatin1Char('0')) + piece;
            if (value < 0)
                piece.prepend(QLatin1Char('-'));
        } else if (kind == QLatin1Char('f')) {
            piece = QString::number(arg.toDouble(), 'f', precision < 0 ? 2 : precision);
        } else if (kind == QLatin1Char('s')) {
            piece = arg.toString();
            if (precision >= 0)
                piece.truncate(precision);
        } else { // unknown place-holder: keep it as written
            out += format.mid(i, j - i + 1);
            i = j;
            continue;
        }
        ++next;
        if (piece.size() < width) {
            const QString pad(width - piece.size(), QLatin1Char(' '));
            piece = leftAlign ? piece + pad : pad + piece;
        }
        out += piece;
        i = j;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Progress arithmetic

TransferFigures computeTransferFigures(quint32 announcedSize, quint32 bytesRead, qint64 elapsedMs)
{
    TransferFigures f;
    if (announcedSize != 0)
        f.percent = int(std::lround(double(bytesRead) * 100.0 / double(announcedSize)));
    f.elapsed = elapsedMs > 0 ? unsigned(elapsedMs / 1000) : 0;
    if (bytesRead != 0)
        f.secondsLeft =
            int(std::lround(double(announcedSize) / double(bytesRead) * double(f.elapsed))) - int(f.elapsed);
    f.rate = float(double(bytesRead) / 1024.0);
    if (f.elapsed != 0)
        f.rate = float(double(bytesRead) / 1024.0 / double(f.elapsed));
    return f;
}

int totalPercent(int percent, int index, int count)
{
    if (count <= 0)
        return percent;
    return percent / count + int(std::lround(double(index) * 100.0 / double(count)));
}

HoursMinutesSeconds splitSeconds(int seconds)
{
    HoursMinutesSeconds hms;
    hms.hours = (seconds / 60) / 60;
    hms.minutes = (seconds / 60) % 60;
    hms.seconds = seconds % 60;
    return hms;
}

} // namespace lianbu::upgrade
