#include "export/VCardFormat.h"

#include "export/CsvFormat.h"
#include "platform/Gbk.h"

#include <QStringDecoder>
#include <QStringList>

#include <array>

namespace lianbu::exchange {

namespace {

using F = CustomerField;

const QByteArray kCrLf("\r\n");

void addLine(QByteArray &out, const QString &line)
{
    out.append(foldVCardLine(line.toUtf8()));
    out.append(kCrLf);
}

void addProperty(QByteArray &out, const char *name, const QString &value)
{
    if (value.isEmpty())
        return;
    addLine(out, QLatin1String(name) + QLatin1Char(':') + escapeVCardText(value));
}

// Splits at separators not preceded by a backslash; the parts stay escaped.
QStringList splitUnescaped(const QString &value, QChar separator)
{
    QStringList parts;
    QString part;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            part.append(c);
            part.append(value.at(++i));
        } else if (c == separator) {
            parts.append(part);
            part.clear();
        } else {
            part.append(c);
        }
    }
    parts.append(part);
    return parts;
}

QString unescape(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar e = value.at(++i);
            out.append(e == QLatin1Char('n') || e == QLatin1Char('N') ? QChar(QLatin1Char('\n')) : e);
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray decodeQuotedPrintable(const QByteArray &in)
{
    auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in.at(i) == '=' && i + 2 < in.size()) {
            const int high = hex(in.at(i + 1));
            const int low = hex(in.at(i + 2));
            if (high >= 0 && low >= 0) {
                out.append(char(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.append(in.at(i));
    }
    return out;
}

struct ContentLine
{
    int line = 0;
    QString name;       // upper case, group removed
    QStringList params; // upper case, as written ("TYPE=CELL", "CELL", "CHARSET=UTF-8")
    QByteArray rawValue;
};

bool hasType(const QStringList &params, const char *type)
{
    const QString wanted = QLatin1String(type);
    for (const QString &param : params) {
        QString p = param;
        if (p.startsWith(QLatin1String("TYPE=")))
            p = p.mid(5);
        for (const QString &t : p.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (t.trimmed().remove(QLatin1Char('"')) == wanted)
                return true;
    }
    return false;
}

QString paramValue(const QStringList &params, const char *key)
{
    const QString prefix = QLatin1String(key) + QLatin1Char('=');
    for (const QString &p : params)
        if (p.startsWith(prefix))
            return p.mid(prefix.size());
    return {};
}

// How the file's values are read: what a card without CHARSET is in, and what had to be
// mended on the way.
struct Reading
{
    bool gbkByDefault = false; // the file is no UTF-8 but reads as GBK
    VCardData *data = nullptr;
};

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

void noteRepair(Reading &reading, int line, const QString &what)
{
    if (reading.data)
        reading.data->repairs.push_back({line, what});
}

QString valueText(const ContentLine &line, Reading &reading)
{
    QByteArray raw = line.rawValue;
    if (paramValue(line.params, "ENCODING") == QLatin1String("QUOTED-PRINTABLE")
        || line.params.contains(QLatin1String("QUOTED-PRINTABLE")))
        raw = decodeQuotedPrintable(raw);
    if (raw.contains('\0')) {
        // A NUL ends the value for C strings and for whatever shows it: drop it, keep the rest.
        raw.replace(QByteArray(1, '\0'), QByteArray());
        noteRepair(reading, line.line, QStringLiteral("去掉了空字符（NUL）"));
    }
    const QString charset = paramValue(line.params, "CHARSET");
    const bool gbkNamed =
        charset == QLatin1String("GBK") || charset == QLatin1String("GB2312") || charset == QLatin1String("GB18030");
    if (gbkNamed || (charset.isEmpty() && reading.gbkByDefault))
        return gbk::decode(raw);
    if (isUtf8(raw))
        return QString::fromUtf8(raw);
    // Older phones write their own code page without saying so.
    const QString asGbk = gbk::decode(raw);
    if (charset.isEmpty() && !asGbk.contains(QChar::ReplacementCharacter))
        return asGbk;
    noteRepair(reading, line.line, QStringLiteral("无法识别的字节已换成“\uFFFD”"));
    return QString::fromUtf8(raw);
}

QString uriNumber(const QString &value)
{
    // vCard 4.0 writes numbers as tel: URIs, possibly with parameters (;ext=12).
    if (!value.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
        return value;
    const QString number = value.mid(4);
    const qsizetype parameters = number.indexOf(QLatin1Char(';'));
    return parameters < 0 ? number : number.left(parameters);
}

// Lines of the file with their first line number, unfolded: a line starting with a blank or a
// tab continues the previous one; a QUOTED-PRINTABLE value ending in '=' continues too.
std::vector<std::pair<int, QByteArray>> unfold(const QByteArray &bytes, ReadBudget *budget)
{
    std::vector<std::pair<int, QByteArray>> lines;
    bool softBreak = false;
    bool quotedPrintable = false; // of the line being built, decided from its name and parameters
    qsizetype start = 0;
    int k = 0;
    while (start < bytes.size() || (start == bytes.size() && k == 0)) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QByteArray text = bytes.mid(start, end - start);
        start = end + 1;
        ++k;
        if (text.endsWith('\r'))
            text.chop(1);
        if (!lines.empty() && !text.isEmpty() && (text.at(0) == ' ' || text.at(0) == '\t')) {
            lines.back().second.append(text.constData() + 1, text.size() - 1);
        } else if (softBreak && !lines.empty()) {
            lines.back().second.append(text);
        } else {
            const qsizetype colon = text.indexOf(':');
            quotedPrintable = colon > 0 && text.left(colon).toUpper().contains("QUOTED-PRINTABLE");
            lines.push_back({k, text});
        }
        QByteArray &current = lines.back().second;
        if (budget) {
            budget->checkLine(lines.back().first, current.size());
            if ((k & 0xFFF) == 0)
                budget->checkCancel();
        }
        softBreak = quotedPrintable && current.endsWith('=');
        if (softBreak)
            current.chop(1);
    }
    return lines;
}

bool parseLine(int number, const QByteArray &text, ContentLine *out)
{
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0)
        return false;
    const QString head = QString::fromUtf8(text.left(colon)).toUpper();
    QStringList parts = head.split(QLatin1Char(';'));
    QString name = parts.takeFirst().trimmed();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name = name.mid(dot + 1);
    out->line = number;
    out->name = name;
    out->params = parts;
    out->rawValue = text.mid(colon + 1);
    return !name.isEmpty();
}

// FN and N as read; the name is settled when the card ends.
struct Names
{
    QString formatted;
    bool hasStructured = false;
    QString family;
    QString given;

    // N says what the name is (an empty N: the card has no person's name; FN then only
    // labels the card); FN keeps its spelling when it agrees with N apart from blanks.
    QString name() const
    {
        if (!hasStructured)
            return formatted;
        const QString joined = family + given;
        if (compactTitle(formatted) == compactTitle(joined) && !joined.isEmpty())
            return formatted;
        // Latin names: given name first, as FN would write them.
        bool latin = false;
        for (const QChar c : joined)
            latin = latin || (c.unicode() < 0x80 && c.isLetter());
        if (latin && !family.isEmpty() && !given.isEmpty())
            return given + QLatin1Char(' ') + family;
        return joined;
    }
};

// Numbers and addresses for which the card has no field left; they go to 备注.
struct Extras
{
    QStringList lines;
};

QString telLabel(const QStringList &params)
{
    if (hasType(params, "FAX"))
        return QStringLiteral("传真");
    if (hasType(params, "CELL"))
        return QStringLiteral("手机");
    if (hasType(params, "HOME"))
        return QStringLiteral("住宅电话");
    return QStringLiteral("电话");
}

void applyLine(const ContentLine &line, CustomerRecord &record, Names &names, Extras &extras, Reading &reading,
               ReadBudget *budget)
{
    const QString value = valueText(line, reading);
    if (budget)
        budget->checkField(line.line, value.size());
    const QString &name = line.name;
    if (name == QLatin1String("FN")) {
        names.formatted = unescape(value);
    } else if (name == QLatin1String("N")) {
        const QStringList parts = splitUnescaped(value, QLatin1Char(';'));
        names.hasStructured = true;
        names.family = unescape(parts.value(0));
        names.given = unescape(parts.value(1));
    } else if (name == QLatin1String("ORG")) {
        record[F::Company] = unescape(splitUnescaped(value, QLatin1Char(';')).value(0));
    } else if (name == QLatin1String("TITLE")) {
        record[F::Position] = unescape(value);
    } else if (name == QLatin1String("TEL")) {
        const QString number = uriNumber(unescape(value)).trimmed();
        if (number.isEmpty())
            return;
        F target = F::Phone;
        if (hasType(line.params, "FAX"))
            target = F::Fax;
        else if (hasType(line.params, "CELL"))
            target = F::Mobile;
        else if (!hasType(line.params, "WORK") && !hasType(line.params, "HOME") && !hasType(line.params, "VOICE"))
            target = record[F::Mobile].isEmpty() ? F::Mobile : F::Phone;
        if (record[target].isEmpty())
            record[target] = number;
        else if (record[target] != number)
            extras.lines.append(telLabel(line.params) + QStringLiteral("：") + number);
    } else if (name == QLatin1String("ADR")) {
        if (record[F::Address].isEmpty()) {
            const QStringList parts = splitUnescaped(value, QLatin1Char(';'));
            // PO box; extended; street; locality; region; postal code; country
            // Chinese addresses run from the country down to the street, others the other way.
            bool latin = false;
            for (const QChar c : value)
                latin = latin || (c.unicode() < 0x80 && c.isLetter());
            QStringList address;
            static constexpr std::array<int, 6> latinOrder{0, 1, 2, 3, 4, 6};
            static constexpr std::array<int, 6> chineseOrder{6, 4, 3, 2, 1, 0};
            for (const int k : latin ? latinOrder : chineseOrder) {
                const QString part = unescape(parts.value(k));
                if (!part.isEmpty())
                    address.append(part);
            }
            record[F::Address] = address.join(latin ? QStringLiteral(", ") : QString());
            record[F::Postcode] = unescape(parts.value(5));
        }
    } else if (name == QLatin1String("EMAIL")) {
        const QString email = unescape(value).trimmed();
        if (record[F::Email].isEmpty())
            record[F::Email] = email;
        else if (!email.isEmpty() && record[F::Email] != email)
            extras.lines.append(QStringLiteral("电子邮件：") + email);
    } else if (name == QLatin1String("URL")) {
        if (record[F::Website].isEmpty())
            record[F::Website] = unescape(value);
    } else if (name == QLatin1String("NOTE")) {
        record[F::Notes] = unescape(value);
    } else if (name == QLatin1String("CATEGORIES")) {
        // One category per customer: a list is kept as it was written, commas included.
        record[F::Category] = unescape(value);
    } else if (name == QLatin1String("X-LIANBU-SHORTNAME")) {
        record[F::ShortName] = unescape(value);
    } else if (name == QLatin1String("X-LIANBU-SEX") || name == QLatin1String("GENDER")) {
        const QString sex = unescape(splitUnescaped(value, QLatin1Char(';')).value(0));
        record[F::Sex] = sex == QLatin1String("M")   ? QStringLiteral("男")
                         : sex == QLatin1String("F") ? QStringLiteral("女")
                                                     : sex;
    } else if (name == QLatin1String("X-LIANBU-REGISTERED")) {
        record[F::RegistrationDate] = unescape(value);
    }
}

} // namespace

QString escapeVCardText(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') || c == QLatin1Char(',') || c == QLatin1Char(';')) {
            out.append(QLatin1Char('\\'));
            out.append(c);
        } else if (c == QLatin1Char('\r') && i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\n')) {
            out.append(QLatin1String("\\n"));
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            out.append(QLatin1String("\\n"));
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray foldVCardLine(const QByteArray &line)
{
    constexpr int kLimit = 75;
    if (line.size() <= kLimit)
        return line;
    QByteArray out;
    out.reserve(line.size() + line.size() / 24);
    qsizetype start = 0;
    int limit = kLimit; // continuation lines start with a blank, which counts
    while (line.size() - start > limit) {
        qsizetype end = start + limit;
        // Never split a UTF-8 sequence: back up to the start of the character.
        while (end > start && (uchar(line.at(end)) & 0xC0) == 0x80)
            --end;
        out.append(line.constData() + start, end - start);
        out.append("\r\n ");
        start = end;
        limit = kLimit - 1;
    }
    out.append(line.constData() + start, line.size() - start);
    return out;
}

QByteArray vCardFor(const CustomerRecord &r)
{
    QByteArray out;
    out.append("BEGIN:VCARD\r\nVERSION:3.0\r\n");
    QString fn = r[F::Name];
    if (fn.isEmpty())
        fn = !r[F::ShortName].isEmpty() ? r[F::ShortName] : r[F::Company];
    addLine(out, QStringLiteral("FN:") + escapeVCardText(fn));
    addLine(out, QStringLiteral("N:") + escapeVCardText(r[F::Name]) + QStringLiteral(";;;;"));
    addProperty(out, "ORG", r[F::Company]);
    addProperty(out, "TITLE", r[F::Position]);
    addProperty(out, "TEL;TYPE=CELL", r[F::Mobile]);
    addProperty(out, "TEL;TYPE=WORK,VOICE", r[F::Phone]);
    addProperty(out, "TEL;TYPE=WORK,FAX", r[F::Fax]);
    if (!r[F::Address].isEmpty() || !r[F::Postcode].isEmpty())
        addLine(out, QStringLiteral("ADR;TYPE=WORK:;;") + escapeVCardText(r[F::Address]) + QStringLiteral(";;;")
                         + escapeVCardText(r[F::Postcode]) + QLatin1Char(';'));
    addProperty(out, "EMAIL;TYPE=INTERNET", r[F::Email]);
    addProperty(out, "URL", r[F::Website]);
    addProperty(out, "NOTE", r[F::Notes]);
    addProperty(out, "CATEGORIES", r[F::Category]);
    addProperty(out, "X-LIANBU-SHORTNAME", r[F::ShortName]);
    addProperty(out, "X-LIANBU-SEX", r[F::Sex]);
    addProperty(out, "X-LIANBU-REGISTERED", r[F::RegistrationDate]);
    out.append("END:VCARD\r\n");
    return out;
}

VCardData parseVCards(const QByteArray &bytes, ReadBudget *budget)
{
    if (budget)
        budget->checkFileSize(bytes.size());
    VCardData data;
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body = body.mid(3);
    Reading reading;
    reading.data = &data;
    if (!isUtf8(body)) {
        bool certain = false;
        reading.gbkByDefault = detectEncoding(body, &certain) == TextEncoding::Gbk && certain;
    }
    bool inCard = false;
    VCardCard card;
    Names names;
    Extras extras;
    auto finish = [&] {
        card.record[F::Name] = names.name();
        if (!extras.lines.isEmpty()) {
            QString &notes = card.record[F::Notes];
            if (!notes.isEmpty())
                notes.append(QLatin1Char('\n'));
            notes.append(extras.lines.join(QLatin1Char('\n')));
        }
        if (budget)
            for (const QString &value : card.record.values)
                budget->addCell(card.line, 0, value.size());
        data.cards.push_back(card);
    };
    for (const auto &[number, text] : unfold(body, budget)) {
        if (text.trimmed().isEmpty())
            continue;
        ContentLine line;
        if (!parseLine(number, text, &line)) {
            if (inCard)
                continue; // a damaged line inside a card loses only itself
            data.unreadableLines.push_back(number);
            continue;
        }
        if (line.name == QLatin1String("BEGIN")) {
            if (inCard) // the previous card never ended
                data.unreadableLines.push_back(card.line);
            inCard = true;
            card = VCardCard{number, {}};
            names = Names{};
            extras = Extras{};
        } else if (line.name == QLatin1String("END")) {
            if (inCard)
                finish();
            else
                data.unreadableLines.push_back(number);
            inCard = false;
        } else if (inCard) {
            applyLine(line, card.record, names, extras, reading, budget);
        } else {
            data.unreadableLines.push_back(number);
        }
    }
    if (inCard)
        data.unreadableLines.push_back(card.line);
    return data;
}

} // namespace lianbu::exchange
