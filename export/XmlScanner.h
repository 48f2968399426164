#pragma once

// A forward-only reader of the XML members of an .xlsx file, several times faster than
// QXmlStreamReader over the millions of small elements of a large sheet: it works on the UTF-8
// bytes as they unpack and makes text only of the values asked for. It knows what the format
// uses: elements and their attributes (namespace prefixes dropped), text with the predefined
// entities and character references, CDATA sections; comments and processing instructions are
// passed over. A document type declaration is refused, and so is any token longer than the
// bound it was given, so no input makes it hold more than that.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

class QIODevice;

namespace lianbu::exchange {

class XmlScanner
{
public:
    enum class Token { StartElement, EndElement, Text, End, Invalid };

    // Reads from `device`; a token (a tag, or a run of text) over `maxTokenBytes` is an error.
    XmlScanner(QIODevice *device, qint64 maxTokenBytes);

    Token next();
    Token token() const { return m_token; }
    bool atEnd() const { return m_token == Token::End || m_token == Token::Invalid; }
    bool hasError() const { return m_token == Token::Invalid; }
    QString errorString() const { return m_error; }
    // The error is a tag or text over the bound.
    bool tooLong() const { return m_tooLong; }

    // Start and end elements: the local name. The views stay valid until the next call.
    QByteArrayView name() const { return m_name; }
    bool isStartElement(QByteArrayView localName) const
    {
        return m_token == Token::StartElement && m_name == localName;
    }
    bool isEndElement(QByteArrayView localName) const { return m_token == Token::EndElement && m_name == localName; }
    // A start element's attribute as written (entities not replaced); empty when missing.
    QByteArrayView rawAttribute(QByteArrayView localName) const;
    // The same with entities replaced.
    QString attribute(QByteArrayView localName) const;
    // A text token's text.
    QString text() const;

    // After a start element: the text inside it, child elements' text included, up to its end
    // element, which becomes the current token.
    QString readElementText();
    // After a start element: everything up to its end element, which becomes the current token.
    void skipCurrentElement();

private:
    struct Attribute
    {
        QByteArrayView name;
        QByteArrayView value;
    };
    // Makes sure `count` bytes from m_pos are in the buffer (fewer at the end of the input).
    bool fill(qsizetype count);
    // Position of `c` at or after m_pos + from, reading more as needed; -1 at the end of input.
    qsizetype find(char c, qsizetype from);
    qsizetype find(QByteArrayView what, qsizetype from);
    Token fail(const QString &error);
    Token readTag();

    QIODevice *m_device;
    qint64 m_maxToken;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_inputDone = false;
    Token m_token = Token::Text;
    QString m_error;
    QByteArrayView m_name;
    QByteArrayView m_text;
    bool m_textIsRaw = false; // CDATA: no entities
    std::vector<Attribute> m_attributes;
    bool m_pendingEnd = false; // <x/>: the end element comes next
    int m_depth = 0;
    bool m_seenRoot = false;
    bool m_tooLong = false;
};

// Text with the predefined entities and character references replaced; `ok` is cleared by
// an unknown or broken reference (which is then kept as written).
QString xmlUnescape(QByteArrayView raw, bool *ok = nullptr);

} // namespace lianbu::exchange
