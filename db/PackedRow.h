#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

#include <optional>
#include <vector>

namespace lianbu::db {

class ResultRow;

// The cells of one row live in one string: first two UTF-16 units per field holding the end
// offset of that field's text (bit 31 marks null), then the texts back to back. A dataset read
// completely keeps one such string per row; a keyset keeps them only for the rows read lately.
inline constexpr quint32 kNullBit = 0x80000000u;

inline quint32 readEnd(const char16_t *p, int field)
{
    return quint32(p[2 * field]) | (quint32(p[2 * field + 1]) << 16);
}

inline QStringView cellView(const QString &packed, int fieldCount, int field, bool *isNull)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(packed.utf16());
    const quint32 end = readEnd(p, field);
    *isNull = (end & kNullBit) != 0;
    const quint32 start = field == 0 ? 0 : (readEnd(p, field - 1) & ~kNullBit);
    return QStringView(p + 2 * fieldCount + start, qsizetype((end & ~kNullBit) - start));
}

// Builds packed rows, one field after the other.
class Packer
{
public:
    void begin(int fieldCount)
    {
        m_fieldCount = fieldCount;
        m_buffer.resize(2 * fieldCount);
        m_field = 0;
    }
    void close(bool isNull)
    {
        const quint32 end = quint32(m_buffer.size() - 2 * m_fieldCount) | (isNull ? kNullBit : 0);
        m_buffer[2 * m_field] = char16_t(end & 0xffff);
        m_buffer[2 * m_field + 1] = char16_t(end >> 16);
        ++m_field;
    }
    // Text as the engine stores it (UTF-8), decoded straight into the row: no string per cell.
    void addUtf8(const unsigned char *p, qsizetype n)
    {
        const unsigned char *end = p + n;
        while (p < end) {
            const unsigned char b = *p;
            if (b < 0x80) {
                m_buffer.append(char16_t(b));
                ++p;
                continue;
            }
            const int extra = b >= 0xf0 ? 3 : b >= 0xe0 ? 2 : b >= 0xc0 ? 1 : -1;
            char32_t c = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0f : b & 0x1f;
            bool valid = extra > 0 && end - p > extra;
            for (int k = 1; valid && k <= extra; ++k) {
                valid = (p[k] & 0xc0) == 0x80;
                c = (c << 6) | (p[k] & 0x3f);
            }
            if (!valid) {
                m_buffer.append(char16_t(0xfffd));
                ++p;
                continue;
            }
            p += extra + 1;
            if (c >= 0x10000) {
                m_buffer.append(QChar::highSurrogate(c));
                m_buffer.append(QChar::lowSurrogate(c));
            } else {
                m_buffer.append(char16_t(c));
            }
        }
        close(false);
    }
    void add(QStringView text, bool isNull)
    {
        m_buffer.append(reinterpret_cast<const char16_t *>(text.utf16()), text.size());
        close(isNull);
    }
    QString finish() const { return QString(reinterpret_cast<const QChar *>(m_buffer.constData()), m_buffer.size()); }

private:
    QVarLengthArray<char16_t, 1024> m_buffer;
    int m_fieldCount = 0;
    int m_field = 0;
};

// The stored fields' cells of a row, in the field order (`columnOf`: result column per field).
void packCells(Packer &packer, const ResultRow &row, const std::vector<int> &columnOf, QString *scratch);
// A row of the given values (by stored column), or of nulls only.
QString packValues(const std::vector<std::optional<QString>> &values);
QString packNulls(int fieldCount);

} // namespace lianbu::db
