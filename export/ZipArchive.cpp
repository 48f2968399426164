#include "export/ZipArchive.h"

#include "platform/Error.h"

#include <QtEndian>

#include <zlib.h>

namespace lianbu::exchange {

namespace {

quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kDirectoryEntry = 0x02014b50;
constexpr quint32 kLocalHeader = 0x04034b50;

} // namespace

bool ZipArchive::open(const QByteArray &bytes)
{
    m_bytes = bytes;
    m_entries.clear();
    if (bytes.size() < 22)
        return false;
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    qsizetype end = -1;
    const qsizetype lowest = std::max<qsizetype>(0, bytes.size() - 22 - 0xFFFF);
    for (qsizetype at = bytes.size() - 22; at >= lowest; --at)
        if (u32(bytes, at) == kEndOfDirectory) {
            end = at;
            break;
        }
    if (end < 0)
        return false;
    const quint16 count = u16(bytes, end + 10);
    const quint32 directorySize = u32(bytes, end + 12);
    const quint32 directoryOffset = u32(bytes, end + 16);
    if (qint64(directoryOffset) + directorySize > end)
        return false;
    qsizetype at = directoryOffset;
    for (int k = 0; k < count; ++k) {
        if (at + 46 > end || u32(bytes, at) != kDirectoryEntry)
            return false;
        Entry entry;
        entry.method = u16(bytes, at + 10);
        entry.compressedSize = u32(bytes, at + 20);
        entry.size = u32(bytes, at + 24);
        const quint16 nameLength = u16(bytes, at + 28);
        const quint16 extraLength = u16(bytes, at + 30);
        const quint16 commentLength = u16(bytes, at + 32);
        entry.localOffset = u32(bytes, at + 42);
        if (at + 46 + nameLength > end)
            return false;
        const QString name = QString::fromUtf8(bytes.constData() + at + 46, nameLength);
        m_entries.insert(name, entry);
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

QByteArray ZipArchive::read(const QString &name) const
{
    const auto found = m_entries.constFind(name);
    if (found == m_entries.constEnd())
        throw Error(QStringLiteral("文件中缺少 %1").arg(name));
    const Entry &entry = *found;
    const QString damaged = QStringLiteral("文件已损坏（%1）").arg(name);
    const qint64 header = entry.localOffset;
    if (header + 30 > m_bytes.size() || u32(m_bytes, header) != kLocalHeader)
        throw Error(damaged);
    const qint64 data = header + 30 + u16(m_bytes, header + 26) + u16(m_bytes, header + 28);
    if (data + qint64(entry.compressedSize) > m_bytes.size())
        throw Error(damaged);
    const char *source = m_bytes.constData() + data;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size)
            throw Error(damaged);
        return QByteArray(source, entry.size);
    }
    if (entry.method != 8)
        throw Error(QStringLiteral("不支持的压缩方式（%1）").arg(name));

    QByteArray out;
    out.resize(qsizetype(entry.size));
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        throw Error(damaged);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(source));
    stream.avail_in = entry.compressedSize;
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = entry.size;
    const int result = inflate(&stream, Z_FINISH);
    const uLong produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != entry.size)
        throw Error(damaged);
    return out;
}

} // namespace lianbu::exchange
