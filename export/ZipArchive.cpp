#include "export/ZipArchive.h"

#include "platform/Error.h"

#include <QtEndian>

#include <zlib.h>

#include <cstring>

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

const ZipArchive::Entry &ZipArchive::locate(const QString &name, qint64 *data) const
{
    const auto found = m_entries.constFind(name);
    if (found == m_entries.constEnd())
        throw Error(QStringLiteral("文件中缺少 %1").arg(name));
    const Entry &entry = *found;
    const QString damaged = QStringLiteral("文件已损坏（%1）").arg(name);
    const qint64 header = entry.localOffset;
    if (header + 30 > m_bytes.size() || u32(m_bytes, header) != kLocalHeader)
        throw Error(damaged);
    *data = header + 30 + u16(m_bytes, header + 26) + u16(m_bytes, header + 28);
    if (*data + qint64(entry.compressedSize) > m_bytes.size())
        throw Error(damaged);
    if (entry.method != 0 && entry.method != 8)
        throw Error(QStringLiteral("不支持的压缩方式（%1）").arg(name));
    if (entry.method == 0 && entry.compressedSize != entry.size)
        throw Error(damaged);
    return entry;
}

QByteArray ZipArchive::read(const QString &name, const ReadBudget *budget) const
{
    qint64 data = 0;
    const Entry &entry = locate(name, &data);
    if (budget)
        budget->checkUnpacked(name, entry.size);
    const QString damaged = QStringLiteral("文件已损坏（%1）").arg(name);
    const char *source = m_bytes.constData() + data;
    if (entry.method == 0)
        return QByteArray(source, entry.size);

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

std::unique_ptr<ZipMemberReader> ZipArchive::stream(const QString &name, const ReadBudget *budget) const
{
    qint64 data = 0;
    const Entry &entry = locate(name, &data);
    if (budget)
        budget->checkUnpacked(name, entry.size);
    auto reader =
        std::make_unique<ZipMemberReader>(m_bytes.constData() + data, entry.compressedSize, entry.size, entry.method);
    if (reader->failed() || !reader->open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("文件已损坏（%1）").arg(name));
    return reader;
}

struct ZipMemberReader::Inflater
{
    z_stream stream{};
};

ZipMemberReader::ZipMemberReader(const char *source, qint64 compressedSize, qint64 size, int method)
    : m_source(source)
    , m_compressedSize(compressedSize)
    , m_size(size)
    , m_method(method)
{
    if (method == 8) {
        m_inflater = std::make_unique<Inflater>();
        if (inflateInit2(&m_inflater->stream, -MAX_WBITS) != Z_OK) {
            m_inflater.reset();
            m_failed = true;
            return;
        }
        m_inflater->stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(source));
        m_inflater->stream.avail_in = uInt(compressedSize);
    }
}

ZipMemberReader::~ZipMemberReader()
{
    if (m_inflater)
        inflateEnd(&m_inflater->stream);
}

qint64 ZipMemberReader::readData(char *data, qint64 maxSize)
{
    if (m_finished || m_failed)
        return -1;
    if (maxSize <= 0)
        return 0;
    if (m_method == 0) {
        const qint64 n = std::min(maxSize, m_size - m_produced);
        std::memcpy(data, m_source + m_produced, std::size_t(n));
        m_produced += n;
        m_finished = m_produced == m_size;
        return n;
    }
    z_stream &stream = m_inflater->stream;
    stream.next_out = reinterpret_cast<Bytef *>(data);
    stream.avail_out = uInt(std::min<qint64>(maxSize, 1 << 30));
    const uInt room = stream.avail_out;
    int result = Z_OK;
    do // a block header alone unpacks to nothing
        result = inflate(&stream, Z_NO_FLUSH);
    while (result == Z_OK && stream.avail_out == room && stream.avail_in > 0);
    const qint64 produced = qint64(room - stream.avail_out);
    m_produced += produced;
    // Never more than the archive said: a member that lies about its size is damaged. So is
    // one whose data end before its stream does.
    if (m_produced > m_size || (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
        || (result == Z_STREAM_END && m_produced != m_size) || (produced == 0 && result != Z_STREAM_END)) {
        m_failed = true;
        return -1;
    }
    m_finished = result == Z_STREAM_END;
    return produced;
}

} // namespace lianbu::exchange
