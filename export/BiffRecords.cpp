#include "export/BiffRecords.h"

#include "platform/Error.h"
#include "platform/Gbk.h"

#include <QtEndian>

#include <cstring>

// ---- record bytes ---------------------------------------------------------------------------

namespace lianbu::xls {

namespace {

void put16(QByteArray &out, quint32 value)
{
    char bytes[2];
    qToLittleEndian<quint16>(quint16(value), bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian<quint32>(value, bytes);
    out.append(bytes, 4);
}

// Record type, data length, then row, column and the cell format index 0.
QByteArray cellHeader(quint16 type, int dataLength, int row, int column)
{
    // A wrapped row or column would put the cell somewhere else in the sheet: refuse instead.
    if (row < 0 || row > kMaxRow || column < 0 || column > kMaxColumn)
        throw Error(QStringLiteral("Cell (%1, %2) lies outside the sheet").arg(row).arg(column));
    QByteArray out;
    out.reserve(4 + dataLength);
    put16(out, type);
    put16(out, quint32(dataLength));
    put16(out, quint32(row));
    put16(out, quint32(column));
    put16(out, 0);
    return out;
}

} // namespace

QByteArray bofRecord()
{
    QByteArray out;
    put16(out, 0x0809);
    put16(out, 8);
    put16(out, 0x0000); // version
    put16(out, 0x0010); // worksheet
    put16(out, 0x0000); // build
    put16(out, 0x0000); // year
    return out;
}

QByteArray codepageRecord()
{
    QByteArray out;
    put16(out, 0x0042);
    put16(out, 2);
    put16(out, 936);
    return out;
}

QByteArray eofRecord()
{
    QByteArray out;
    put16(out, 0x000A);
    put16(out, 0);
    return out;
}

QByteArray labelRecord(int row, int column, const QByteArray &text)
{
    if (text.size() > kMaxLabelBytes)
        throw Error(QStringLiteral("Text of %1 bytes does not fit a cell").arg(text.size()));
    QByteArray out = cellHeader(0x0204, int(text.size()) + 8, row, column);
    put16(out, quint32(text.size()));
    out.append(text);
    return out;
}

QByteArray numberRecord(int row, int column, double value)
{
    QByteArray out = cellHeader(0x0203, 14, row, column);
    quint64 bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    char bytes[8];
    qToLittleEndian<quint64>(bits, bytes);
    out.append(bytes, 8);
    return out;
}

QByteArray rkRecord(int row, int column, qint32 value)
{
    if (value < kMinRkInteger || value > kMaxRkInteger)
        throw Error(QStringLiteral("%1 has no exact RK form").arg(value));
    QByteArray out = cellHeader(0x027E, 10, row, column);
    // The integer form: the value shifted left by two bits, bit 1 set (bit 0: not times 100).
    put32(out, (quint32(value) << 2) | 2u);
    return out;
}

QByteArray blankRecord(int row, int column)
{
    return cellHeader(0x0201, 6, row, column);
}

namespace {

// The length of the longest start of GBK `bytes` (from `from`) within `maxBytes` that ends on a
// character boundary.
qsizetype cutLength(const QByteArray &bytes, qsizetype from, qsizetype maxBytes)
{
    const qsizetype size = bytes.size() - from;
    if (size <= maxBytes)
        return size;
    qsizetype end = 0;
    while (end < size) {
        const qsizetype step = gbk::isLeadByte(uchar(bytes.at(from + end))) ? 2 : 1;
        if (end + step > maxBytes)
            break;
        end += step;
    }
    return end;
}

} // namespace

QByteArray labelText(const QString &text, int maxBytes)
{
    QByteArray bytes = gbk::encode(text);
    bytes.truncate(cutLength(bytes, 0, maxBytes));
    return bytes;
}

namespace {

void checkCell(int row, int column)
{
    if (row < 0 || row > kMaxRow || column < 0 || column > kMaxColumn)
        throw Error(QStringLiteral("Cell (%1, %2) lies outside the sheet").arg(row).arg(column));
}

// The header of a cell record (type, data length, row, column, format 0) appended to `out`,
// with `extra` bytes of room after it; the record's data starts at the returned pointer.
char *appendCellHeader(QByteArray *out, quint16 type, int dataLength, int row, int column)
{
    checkCell(row, column);
    const qsizetype start = out->size();
    out->resize(start + 4 + dataLength);
    char *h = out->data() + start;
    qToLittleEndian<quint16>(type, h);
    qToLittleEndian<quint16>(quint16(dataLength), h + 2);
    qToLittleEndian<quint16>(quint16(row), h + 4);
    qToLittleEndian<quint16>(quint16(column), h + 6);
    qToLittleEndian<quint16>(0, h + 8);
    return h + 10;
}

} // namespace

void appendBlankRecord(QByteArray *out, int row, int column)
{
    appendCellHeader(out, 0x0201, 6, row, column);
}

void appendRkRecord(QByteArray *out, int row, int column, qint32 value)
{
    if (value < kMinRkInteger || value > kMaxRkInteger)
        throw Error(QStringLiteral("%1 has no exact RK form").arg(value));
    char *data = appendCellHeader(out, 0x027E, 10, row, column);
    qToLittleEndian<quint32>((quint32(value) << 2) | 2u, data);
}

void appendNumberRecord(QByteArray *out, int row, int column, double value)
{
    char *data = appendCellHeader(out, 0x0203, 14, row, column);
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint64>(bits, data);
}

void appendLabelRecord(QByteArray *out, int row, int column, QStringView text, bool *lossless)
{
    checkCell(row, column);
    // The header (type, length, row, column, format, text length) is written with room for
    // the text, which is encoded straight behind it.
    const qsizetype start = out->size();
    out->resize(start + 12);
    gbk::appendEncoded(text, out, lossless);
    const qsizetype length = cutLength(*out, start + 12, kMaxLabelBytes);
    out->truncate(start + 12 + length);
    char *h = out->data() + start;
    qToLittleEndian<quint16>(0x0204, h);
    qToLittleEndian<quint16>(quint16(length + 8), h + 2);
    qToLittleEndian<quint16>(quint16(row), h + 4);
    qToLittleEndian<quint16>(quint16(column), h + 6);
    qToLittleEndian<quint16>(0, h + 8);
    qToLittleEndian<quint16>(quint16(length), h + 10);
}

} // namespace lianbu::xls
