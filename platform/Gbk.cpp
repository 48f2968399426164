#include "platform/Gbk.h"

#include <algorithm>
#include <vector>
#include <cerrno>
#include <iconv.h>

namespace lianbu::gbk {

namespace {

// One conversion descriptor per direction and thread: iconv_t is not thread-safe and
// opening one per call costs more than the conversion of a short text.
class Converter
{
public:
    Converter(const char *to, const char *from, const char *fallbackTo, const char *fallbackFrom)
    {
        m_cd = iconv_open(to, from);
        if (m_cd == invalid())
            m_cd = iconv_open(fallbackTo, fallbackFrom);
    }
    ~Converter()
    {
        if (m_cd != invalid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != invalid(); }
    iconv_t get()
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return m_cd;
    }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
    iconv_t m_cd;
};

Converter &encoder()
{
    thread_local Converter c("GBK", "UTF-8", "CP936", "UTF-8");
    return c;
}

Converter &decoder()
{
    thread_local Converter c("UTF-8", "GBK", "UTF-8", "CP936");
    return c;
}

// Length of the UTF-8 sequence that starts with byte b (the input is well-formed UTF-8).
int utf8Length(unsigned char b)
{
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0)
        return 2;
    if ((b & 0xF0) == 0xE0)
        return 3;
    if ((b & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// Runs the converter over input; onBad decides how many input bytes an unconvertible or
// invalid sequence takes and what goes out in its place.
template <typename OnBad>
QByteArray convert(Converter &converter, const QByteArray &input, OnBad onBad)
{
    QByteArray out;
    if (input.isEmpty() || !converter.valid())
        return out;
    iconv_t cd = converter.get();
    out.reserve(input.size() * 2);
    char buffer[4096];
    char *in = const_cast<char *>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ: a sequence that cannot be converted; EINVAL: a sequence cut short at the end.
        const size_t skip = std::min(onBad(out, static_cast<unsigned char>(*in), errno), inLeft);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state (none for GBK, but harmless).
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
    return out;
}

QByteArray encodeWithConverter(const QString &text)
{
    if (text.isEmpty())
        return {};
    // Lone surrogates have no character to convert: they become "?" before conversion.
    QString clean;
    clean.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            clean.append(c);
            clean.append(text.at(++i));
        } else if (c.isSurrogate()) {
            clean.append(QLatin1Char('?'));
        } else {
            clean.append(c);
        }
    }
    if (!encoder().valid()) {
        // No GBK converter on this system: keep what is plain ASCII.
        QByteArray ascii;
        for (QChar c : clean)
            ascii.append(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
        return ascii;
    }
    return convert(encoder(), clean.toUtf8(), [](QByteArray &out, unsigned char lead, int) -> size_t {
        out.append('?');
        return static_cast<size_t>(utf8Length(lead));
    });
}

// Per character of the basic plane, as the converter encodes it alone (GBK has no shift state,
// so a text's bytes are its characters' bytes back to back): bit 0 known, bit 1 survives the
// trip back, bits 2-3 the byte count (0: more than three, converted each time), then the bytes.
std::vector<quint32> &threadTable()
{
    thread_local std::vector<quint32> table(65536, 0);
    return table;
}

// This thread's table as it stands (entries still 0 are worked out by tableEntry).
const quint32 *encodingTable()
{
    return threadTable().data();
}

quint32 tableEntry(char16_t c)
{
    quint32 &entry = threadTable()[c];
    if (entry == 0) {
        const QString one(QChar{c});
        const QByteArray bytes = encodeWithConverter(one);
        entry = 1u | (decode(bytes) == one ? 2u : 0u);
        if (bytes.size() <= 3) {
            entry |= quint32(bytes.size()) << 2;
            for (qsizetype i = 0; i < bytes.size(); ++i)
                entry |= quint32(uchar(bytes[i])) << (8 * (i + 1));
        }
    }
    return entry;
}

} // namespace

void appendEncoded(QStringView text, QByteArray *out, bool *lossless)
{
    // The bytes go straight into room made for the longest outcome (three bytes a character from
    // the table); only the characters the table cannot give go through the converter.
    const qsizetype n = text.size();
    qsizetype at = out->size();
    out->resize(at + 3 * n);
    char *bytes = out->data();
    const quint32 *table = encodingTable();
    bool kept = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            bytes[at++] = char(c);
            continue;
        }
        quint32 entry = 0;
        int length = 0;
        if (!QChar::isSurrogate(c)) {
            entry = table[c] != 0 ? table[c] : tableEntry(c);
            length = int((entry >> 2) & 3);
        }
        if (length > 0) {
            for (int b = 0; b < length; ++b)
                bytes[at++] = char((entry >> (8 * (b + 1))) & 0xff);
            kept = kept && (entry & 2u) != 0;
            continue;
        }
        QByteArray converted;
        if (QChar::isSurrogate(c)) {
            // No surrogate pair is in GBK; the converter decides what becomes of it.
            const bool pair = QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate();
            const QString part = pair ? text.mid(i, 2).toString() : QString(QLatin1Char('?'));
            converted = encodeWithConverter(part);
            kept = kept && pair && decode(converted) == part;
            i += pair ? 1 : 0;
        } else {
            converted = encodeWithConverter(QString(QChar{c}));
            kept = kept && (entry & 2u) != 0;
        }
        out->resize(at);
        out->append(converted);
        at = out->size();
        out->resize(at + 3 * (n - i - 1));
        bytes = out->data();
    }
    out->resize(at);
    *lossless = *lossless && kept;
}

QByteArray encode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    bool lossless = true;
    appendEncoded(text, &out, &lossless);
    return out;
}

bool canEncode(const QString &text)
{
    QByteArray out;
    bool lossless = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c.isSurrogate()) {
            appendEncoded(text, &out, &lossless);
            return lossless;
        }
    }
    return true; // plain ASCII, the common case, without a conversion
}

QString decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    const QByteArray utf8 = convert(decoder(), bytes, [](QByteArray &out, unsigned char, int) -> size_t {
        out.append("\xEF\xBF\xBD"); // U+FFFD
        return 1;
    });
    return QString::fromUtf8(utf8);
}

bool isLeadByte(unsigned char b)
{
    return b >= 0x81 && b <= 0xFE;
}

} // namespace lianbu::gbk
