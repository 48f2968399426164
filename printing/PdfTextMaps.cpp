#include "printing/PdfTextMaps.h"

#include "printing/PrintLayout.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QRawFont>
#include <QtEndian>

#include <map>
#include <vector>

namespace lianbu::printing {

namespace {

constexpr char16_t kFirstRadical = 0x2E80; // CJK Radicals Supplement, then Kangxi Radicals
constexpr char16_t kLastRadical = 0x2FDF;

bool isRadical(char16_t code)
{
    return code >= kFirstRadical && code <= kLastRadical;
}

std::vector<quint32> glyphsOf(const QRawFont &font, char16_t first, char16_t last)
{
    std::vector<QChar> chars;
    for (char32_t c = first; c <= last; ++c)
        chars.push_back(QChar(char16_t(c)));
    std::vector<quint32> glyphs(chars.size(), 0);
    int count = int(glyphs.size());
    if (!font.glyphIndexesForChars(chars.data(), int(chars.size()), glyphs.data(), &count))
        return {};
    glyphs.resize(size_t(count));
    return glyphs;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One <hex> code of a character map: where its digits start and how many there are.
struct Code
{
    qsizetype digits = -1;
    qsizetype length = 0;
};

// Reads the tokens of a bfchar or bfrange section: codes, "[" and "]".
class CMapTokens
{
public:
    CMapTokens(const QByteArray &bytes, qsizetype from, qsizetype to)
        : m_bytes(bytes)
        , m_at(from)
        , m_end(to)
    {}
    // '<' for a code (in *code), '[' or ']', or 0 at the end of the section.
    char next(Code *code)
    {
        while (m_at < m_end) {
            const char c = m_bytes.at(m_at);
            if (c == '[' || c == ']') {
                ++m_at;
                return c;
            }
            if (c == '<') {
                const qsizetype close = m_bytes.indexOf('>', m_at);
                if (close < 0 || close > m_end)
                    return 0;
                code->digits = m_at + 1;
                code->length = close - m_at - 1;
                m_at = close + 1;
                return '<';
            }
            ++m_at;
        }
        return 0;
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_at;
    qsizetype m_end;
};

int valueOf(const QByteArray &bytes, const Code &code)
{
    if (code.length != 4)
        return -1;
    int value = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        const int digit = hexDigit(bytes.at(code.digits + i));
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// Replaces the code when it is a radical the map knows; true when it did.
bool mendCode(QByteArray *pdf, const Code &code, const std::function<const QHash<char16_t, char16_t> &()> &map)
{
    const int value = valueOf(*pdf, code);
    if (value < 0 || !isRadical(char16_t(value)))
        return false;
    const auto found = map().constFind(char16_t(value));
    if (found == map().constEnd())
        return false;
    static const char digits[] = "0123456789ABCDEF";
    char *out = pdf->data() + code.digits;
    for (int i = 0; i < 4; ++i)
        out[i] = digits[(found.value() >> (12 - 4 * i)) & 0xF];
    return true;
}

// Mends the destination codes of the bfchar and bfrange sections of one character map.
int mendCMap(QByteArray *pdf, qsizetype from, qsizetype to,
             const std::function<const QHash<char16_t, char16_t> &()> &map)
{
    int mended = 0;
    for (const QByteArray &section : {QByteArrayLiteral("bfchar"), QByteArrayLiteral("bfrange")}) {
        const bool ranges = section == "bfrange";
        qsizetype at = from;
        for (;;) {
            const qsizetype begin = pdf->indexOf("begin" + section, at);
            if (begin < 0 || begin >= to)
                break;
            const qsizetype end = pdf->indexOf("end" + section, begin);
            if (end < 0 || end > to)
                break;
            at = end;
            CMapTokens tokens(*pdf, begin + 5 + section.size(), end);
            Code code;
            for (;;) {
                // bfchar: source, destination; bfrange: low, high, then a destination or [list]
                if (tokens.next(&code) != '<')
                    break;
                const int low = valueOf(*pdf, code);
                if (ranges) {
                    if (tokens.next(&code) != '<')
                        break;
                    const int high = valueOf(*pdf, code);
                    const char kind = tokens.next(&code);
                    if (kind == '[') {
                        while (tokens.next(&code) == '<')
                            mended += mendCode(pdf, code, map) ? 1 : 0;
                        continue;
                    }
                    if (kind != '<')
                        break;
                    // a destination that counts up over several sources cannot be mended alone
                    if (low >= 0 && low == high)
                        mended += mendCode(pdf, code, map) ? 1 : 0;
                } else {
                    if (tokens.next(&code) != '<')
                        break;
                    mended += mendCode(pdf, code, map) ? 1 : 0;
                }
            }
        }
    }
    return mended;
}

// The font's PostScript name from its naming table, or empty.
QByteArray postScriptName(const QRawFont &font)
{
    const QByteArray table = font.fontTable("name");
    if (table.size() < 6)
        return {};
    const auto *bytes = reinterpret_cast<const uchar *>(table.constData());
    const int count = qFromBigEndian<quint16>(bytes + 2);
    const int strings = qFromBigEndian<quint16>(bytes + 4);
    for (int i = 0; i < count && 6 + 12 * (i + 1) <= table.size(); ++i) {
        const uchar *record = bytes + 6 + 12 * i;
        const int platform = qFromBigEndian<quint16>(record);
        const int nameId = qFromBigEndian<quint16>(record + 6);
        const int length = qFromBigEndian<quint16>(record + 8);
        const int offset = qFromBigEndian<quint16>(record + 10);
        if (nameId != 6 || strings + offset + length > table.size())
            continue;
        const QByteArray raw = table.mid(strings + offset, length);
        if (platform == 1)
            return raw;
        if (platform == 3 || platform == 0) {
            QString name;
            for (qsizetype k = 0; k + 1 < raw.size(); k += 2)
                name += QChar(char16_t(uchar(raw.at(k)) << 8 | uchar(raw.at(k + 1))));
            return name.toLatin1();
        }
    }
    return {};
}

// The family part of a PostScript name: "NotoSansCJKsc-Bold" → "NotoSansCJKsc".
QByteArray familyPart(const QByteArray &postScriptName)
{
    const qsizetype dash = postScriptName.indexOf('-');
    return dash < 0 ? postScriptName : postScriptName.left(dash);
}

// The radical maps of the installed faces that draw Chinese, Japanese or Korean, found by the
// family part of their PostScript names; the printing's own Chinese face answers for the rest.
class InstalledFaces
{
public:
    const QHash<char16_t, char16_t> &mapFor(const QByteArray &postScriptName)
    {
        const QByteArray family = familyPart(postScriptName);
        if (auto it = m_maps.find(family); it != m_maps.end())
            return it->second;
        if (m_names.empty())
            listFaces();
        QString face = chineseFallbackFamily();
        if (auto it = m_names.find(family); it != m_names.end())
            face = it->second;
        QHash<char16_t, char16_t> map;
        if (!face.isEmpty())
            map = radicalIdeographs(QRawFont::fromFont(QFont(face)));
        return m_maps.emplace(family, std::move(map)).first->second;
    }

private:
    void listFaces()
    {
        QStringList families;
        for (const auto system : {QFontDatabase::SimplifiedChinese, QFontDatabase::TraditionalChinese,
                                  QFontDatabase::Japanese, QFontDatabase::Korean})
            for (const QString &family : QFontDatabase::families(system))
                if (!families.contains(family))
                    families << family;
        for (const QString &family : families) {
            const QByteArray name = familyPart(postScriptName(QRawFont::fromFont(QFont(family))));
            if (!name.isEmpty())
                m_names.emplace(name, family);
        }
        m_names.emplace(QByteArray(), QString()); // listed, even when nothing was found
    }

    std::map<QByteArray, QString> m_names;
    std::map<QByteArray, QHash<char16_t, char16_t>> m_maps;
};

} // namespace

QHash<char16_t, char16_t> radicalIdeographs(const QRawFont &font)
{
    QHash<char16_t, char16_t> map;
    if (!font.isValid())
        return map;
    const std::vector<quint32> radicals = glyphsOf(font, kFirstRadical, kLastRadical);
    if (radicals.empty())
        return map;
    // Ideographs in the order of preference: the unified block, then extension A.
    QHash<quint32, char16_t> ideographOfGlyph;
    for (const auto &[first, last] : {std::pair<char16_t, char16_t>{0x4E00, 0x9FFF}, {0x3400, 0x4DBF}}) {
        const std::vector<quint32> glyphs = glyphsOf(font, first, last);
        for (size_t i = 0; i < glyphs.size(); ++i)
            if (glyphs[i] != 0 && !ideographOfGlyph.contains(glyphs[i]))
                ideographOfGlyph.insert(glyphs[i], char16_t(first + i));
    }
    for (size_t i = 0; i < radicals.size(); ++i) {
        if (radicals[i] == 0)
            continue;
        const auto found = ideographOfGlyph.constFind(radicals[i]);
        if (found != ideographOfGlyph.constEnd())
            map.insert(char16_t(kFirstRadical + i), found.value());
    }
    return map;
}

int mendTextMaps(QByteArray *pdf, const RadicalMapFor &mapFor)
{
    int mended = 0;
    static const QByteArray toUnicode = QByteArrayLiteral("/ToUnicode ");
    for (qsizetype at = pdf->indexOf(toUnicode); at >= 0; at = pdf->indexOf(toUnicode, at + 1)) {
        // "/ToUnicode 15 0 R" inside the font's dictionary, which names the font before it
        const qsizetype numberStart = at + toUnicode.size();
        qsizetype numberEnd = numberStart;
        while (numberEnd < pdf->size() && pdf->at(numberEnd) >= '0' && pdf->at(numberEnd) <= '9')
            ++numberEnd;
        if (numberEnd == numberStart)
            continue;
        const QByteArray object = pdf->mid(numberStart, numberEnd - numberStart);
        const qsizetype dictionary = pdf->lastIndexOf(" obj", at);
        const qsizetype baseFont = pdf->lastIndexOf("/BaseFont /", at);
        QByteArray name;
        if (baseFont > dictionary) {
            qsizetype end = baseFont + 11;
            while (end < pdf->size() && !QByteArrayView(" \r\n/<>[]").contains(pdf->at(end)))
                ++end;
            name = pdf->mid(baseFont + 11, end - baseFont - 11);
        }
        // the map's object, as written: "\n15 0 obj\n<< /Length 560 >>\nstream\n/CIDInit ..."
        const qsizetype start = pdf->indexOf("\n" + object + " 0 obj");
        if (start < 0)
            continue;
        const qsizetype stream = pdf->indexOf("stream", start);
        const qsizetype end = stream < 0 ? -1 : pdf->indexOf("endstream", stream);
        const qsizetype next = pdf->indexOf("endobj", start);
        const qsizetype filter = pdf->indexOf("/Filter", start);
        if (end < 0 || next < end || (filter >= 0 && filter < stream))
            continue; // a compressed map is left as it is
        const QHash<char16_t, char16_t> *map = nullptr;
        mended += mendCMap(pdf, stream, end, [&]() -> const QHash<char16_t, char16_t> & {
            if (!map)
                map = &mapFor(name);
            return *map;
        });
    }
    return mended;
}

int mendTextMapsWithInstalledFaces(QByteArray *pdf)
{
    if (!pdf->contains("/ToUnicode "))
        return 0;
    static InstalledFaces faces;
    return mendTextMaps(pdf,
                        [](const QByteArray &name) -> const QHash<char16_t, char16_t> & { return faces.mapFor(name); });
}

bool mendTextMapsOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray written = file.readAll();
    QByteArray mended = written;
    if (mendTextMapsWithInstalledFaces(&mended) == 0)
        return true;
    // Only the changed codes go back; everything else of the file stays where it is.
    for (qsizetype i = 0; i < written.size(); ++i) {
        if (written.at(i) == mended.at(i))
            continue;
        qsizetype j = i;
        while (j < written.size() && written.at(j) != mended.at(j))
            ++j;
        if (!file.seek(i) || file.write(mended.constData() + i, j - i) != j - i)
            return false;
        i = j;
    }
    return file.flush();
}

} // namespace lianbu::printing
