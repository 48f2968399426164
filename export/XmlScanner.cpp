#include "export/XmlScanner.h"

#include <QIODevice>

#include <cstring>

namespace lianbu::exchange {

namespace {

constexpr qsizetype kChunk = 256 * 1024;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

QByteArrayView localName(QByteArrayView name)
{
    const qsizetype colon = name.lastIndexOf(':');
    return colon >= 0 ? name.sliced(colon + 1) : name;
}

// Appends UTF-8 bytes as text; line ends become \n as XML wants when `lineEnds` is set.
void appendUtf8(QString &out, QByteArrayView bytes, bool lineEnds)
{
    if (bytes.isEmpty())
        return;
    if (!lineEnds || !bytes.contains('\r')) {
        out.append(QString::fromUtf8(bytes));
        return;
    }
    QByteArray copy;
    copy.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            copy.append('\n');
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            copy.append(bytes[i]);
        }
    }
    out.append(QString::fromUtf8(copy));
}

QString unescape(QByteArrayView raw, bool lineEnds, bool *ok)
{
    if (ok)
        *ok = true;
    qsizetype amp = raw.indexOf('&');
    if (amp < 0 && !(lineEnds && raw.contains('\r')))
        return QString::fromUtf8(raw);
    QString out;
    out.reserve(raw.size());
    qsizetype from = 0;
    while (amp >= 0) {
        appendUtf8(out, raw.sliced(from, amp - from), lineEnds);
        const qsizetype semicolon = raw.indexOf(';', amp);
        const QByteArrayView name =
            semicolon > amp && semicolon - amp <= 12 ? raw.sliced(amp + 1, semicolon - amp - 1) : QByteArrayView();
        char32_t code = 0;
        if (name == "lt")
            code = '<';
        else if (name == "gt")
            code = '>';
        else if (name == "amp")
            code = '&';
        else if (name == "quot")
            code = '"';
        else if (name == "apos")
            code = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            bool number = false;
            const uint value = name[1] == 'x' ? name.sliced(2).toUInt(&number, 16) : name.sliced(1).toUInt(&number, 10);
            if (number && value > 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF))
                code = char32_t(value);
        }
        if (code == 0) {
            // Kept as written: the value is read, not lost.
            if (ok)
                *ok = false;
            out.append(QLatin1Char('&'));
            from = amp + 1;
        } else {
            const char32_t codes[1] = {code};
            out.append(QString::fromUcs4(codes, 1));
            from = semicolon + 1;
        }
        amp = raw.indexOf('&', from);
    }
    appendUtf8(out, raw.sliced(from), lineEnds);
    return out;
}

} // namespace

QString xmlUnescape(QByteArrayView raw, bool *ok)
{
    return unescape(raw, false, ok);
}

XmlScanner::XmlScanner(QIODevice *device, qint64 maxTokenBytes)
    : m_device(device)
    , m_maxToken(maxTokenBytes)
{
    m_attributes.reserve(8);
    // A UTF-8 byte order mark is passed over; UTF-16 members are read whole and turned into UTF-8.
    fill(4);
    if (m_buffer.startsWith("\xEF\xBB\xBF")) {
        m_pos = 3;
    } else if (m_buffer.startsWith("\xFF\xFE") || m_buffer.startsWith("\xFE\xFF")) {
        while (m_buffer.size() <= m_maxToken && fill(m_buffer.size() + kChunk)) {
        }
        if (!m_inputDone) {
            fail(QStringLiteral("Document too large."));
            return;
        }
        const bool little = m_buffer.startsWith("\xFF\xFE");
        QString text(m_buffer.size() / 2 - 1, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const uchar a = uchar(m_buffer[2 + 2 * i]), b = uchar(m_buffer[3 + 2 * i]);
            text[i] = QChar(little ? char16_t(a | (b << 8)) : char16_t(b | (a << 8)));
        }
        m_buffer = text.toUtf8();
        m_pos = 0;
    }
}

bool XmlScanner::fill(qsizetype count)
{
    while (m_buffer.size() - m_pos < count) {
        if (m_inputDone)
            return false;
        if (m_pos > 0) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
        const qsizetype old = m_buffer.size();
        m_buffer.resize(old + kChunk);
        const qint64 got = m_device ? m_device->read(m_buffer.data() + old, kChunk) : -1;
        m_buffer.resize(old + std::max<qint64>(got, 0));
        if (got <= 0)
            m_inputDone = true;
    }
    return true;
}

qsizetype XmlScanner::find(char c, qsizetype from)
{
    for (;;) {
        const qsizetype available = m_buffer.size() - m_pos;
        if (from < available) {
            const void *hit = std::memchr(m_buffer.constData() + m_pos + from, c, std::size_t(available - from));
            if (hit)
                return static_cast<const char *>(hit) - (m_buffer.constData() + m_pos);
            from = available;
        }
        if (available > m_maxToken)
            return -2;
        if (!fill(available + 1))
            return -1;
    }
}

qsizetype XmlScanner::find(QByteArrayView what, qsizetype from)
{
    for (;;) {
        const qsizetype at = find(what[0], from);
        if (at < 0)
            return at;
        if (!fill(at + what.size()))
            return -1;
        if (QByteArrayView(m_buffer.constData() + m_pos + at, what.size()) == what)
            return at;
        from = at + 1;
    }
}

XmlScanner::Token XmlScanner::fail(const QString &error)
{
    if (m_error.isEmpty())
        m_error = error;
    m_token = Token::Invalid;
    return m_token;
}

QByteArrayView XmlScanner::rawAttribute(QByteArrayView name) const
{
    for (const Attribute &attribute : m_attributes)
        if (attribute.name == name)
            return attribute.value;
    return {};
}

QString XmlScanner::attribute(QByteArrayView name) const
{
    return xmlUnescape(rawAttribute(name));
}

QString XmlScanner::text() const
{
    return m_textIsRaw ? QString::fromUtf8(m_text) : unescape(m_text, true, nullptr);
}

XmlScanner::Token XmlScanner::next()
{
    if (atEnd())
        return m_token;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_attributes.clear();
        --m_depth;
        m_token = Token::EndElement;
        return m_token;
    }
    for (;;) {
        if (!fill(1)) {
            if (m_depth > 0 || !m_seenRoot)
                return fail(QStringLiteral("Premature end of document."));
            m_token = Token::End;
            return m_token;
        }
        const char c = m_buffer[m_pos];
        if (c != '<') {
            if (m_depth == 0) {
                // Outside the root only blanks may stand.
                if (!isSpace(c))
                    return fail(QStringLiteral("Start tag expected."));
                ++m_pos;
                continue;
            }
            qsizetype end = find('<', 0);
            if (end == -2) {
                m_tooLong = true;
                return fail(QStringLiteral("Text too long."));
            }
            if (end < 0)
                end = m_buffer.size() - m_pos;
            m_text = QByteArrayView(m_buffer.constData() + m_pos, end);
            m_textIsRaw = false;
            m_pos += end;
            m_token = Token::Text;
            return m_token;
        }
        if (!fill(2))
            return fail(QStringLiteral("Premature end of document."));
        const char second = m_buffer[m_pos + 1];
        if (second == '?') {
            const qsizetype end = find(QByteArrayView("?>"), 2);
            if (end < 0)
                return fail(QStringLiteral("Unterminated processing instruction."));
            m_pos += end + 2;
            continue;
        }
        if (second == '!') {
            fill(9);
            const QByteArrayView head(m_buffer.constData() + m_pos, std::min<qsizetype>(9, m_buffer.size() - m_pos));
            if (head.startsWith("<!--")) {
                const qsizetype end = find(QByteArrayView("-->"), 4);
                if (end < 0)
                    return fail(QStringLiteral("Unterminated comment."));
                m_pos += end + 3;
                continue;
            }
            if (head == "<![CDATA[" && m_depth > 0) {
                const qsizetype end = find(QByteArrayView("]]>"), 9);
                if (end < 0)
                    return fail(QStringLiteral("Unterminated CDATA section."));
                m_text = QByteArrayView(m_buffer.constData() + m_pos + 9, end - 9);
                m_textIsRaw = true;
                m_pos += end + 3;
                m_token = Token::Text;
                return m_token;
            }
            // A document type may declare entities that expand without end: never read.
            return fail(QStringLiteral("Document type declarations are not read."));
        }
        return readTag();
    }
}

XmlScanner::Token XmlScanner::readTag()
{
    // The closing '>', past quoted attribute values that may hold one.
    qsizetype end = 1;
    char quote = 0;
    for (;; ++end) {
        if (end >= m_buffer.size() - m_pos) {
            if (end > m_maxToken) {
                m_tooLong = true;
                return fail(QStringLiteral("Tag too long."));
            }
            if (!fill(end + 1))
                return fail(QStringLiteral("Premature end of document."));
        }
        const char c = m_buffer[m_pos + end];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    const char *tag = m_buffer.constData() + m_pos + 1;
    qsizetype length = end - 1;
    m_pos += end + 1;
    m_attributes.clear();

    if (length > 0 && tag[0] == '/') {
        qsizetype n = 1;
        while (n < length && !isSpace(tag[n]))
            ++n;
        m_name = localName(QByteArrayView(tag + 1, n - 1));
        if (m_depth <= 0)
            return fail(QStringLiteral("Unexpected end element."));
        --m_depth;
        m_token = Token::EndElement;
        return m_token;
    }
    const bool empty = length > 0 && tag[length - 1] == '/';
    if (empty)
        --length;
    qsizetype i = 0;
    while (i < length && !isSpace(tag[i]))
        ++i;
    if (i == 0)
        return fail(QStringLiteral("Invalid element name."));
    m_name = localName(QByteArrayView(tag, i));
    while (i < length) {
        while (i < length && isSpace(tag[i]))
            ++i;
        if (i >= length)
            break;
        const qsizetype nameStart = i;
        while (i < length && tag[i] != '=' && !isSpace(tag[i]))
            ++i;
        const QByteArrayView name(tag + nameStart, i - nameStart);
        while (i < length && isSpace(tag[i]))
            ++i;
        if (i >= length || tag[i] != '=')
            return fail(QStringLiteral("Expected '=' after an attribute name."));
        ++i;
        while (i < length && isSpace(tag[i]))
            ++i;
        if (i >= length || (tag[i] != '"' && tag[i] != '\''))
            return fail(QStringLiteral("Expected a quoted attribute value."));
        const char q = tag[i++];
        const qsizetype valueStart = i;
        while (i < length && tag[i] != q)
            ++i;
        if (i >= length)
            return fail(QStringLiteral("Unterminated attribute value."));
        m_attributes.push_back({localName(name), QByteArrayView(tag + valueStart, i - valueStart)});
        ++i;
    }
    if (m_depth == 0 && m_seenRoot)
        return fail(QStringLiteral("Extra content at end of document."));
    m_seenRoot = true;
    ++m_depth;
    m_pendingEnd = empty;
    m_token = Token::StartElement;
    return m_token;
}

QString XmlScanner::readElementText()
{
    QString out;
    int level = 1;
    while (level > 0) {
        switch (next()) {
        case Token::Text:
            if (out.isEmpty())
                out = text();
            else
                out += text();
            break;
        case Token::StartElement:
            ++level;
            break;
        case Token::EndElement:
            --level;
            break;
        case Token::End:
        case Token::Invalid:
            return out;
        }
    }
    return out;
}

void XmlScanner::skipCurrentElement()
{
    int level = 1;
    while (level > 0) {
        switch (next()) {
        case Token::StartElement:
            ++level;
            break;
        case Token::EndElement:
            --level;
            break;
        case Token::Text:
            break;
        case Token::End:
        case Token::Invalid:
            return;
        }
    }
}

} // namespace lianbu::exchange
