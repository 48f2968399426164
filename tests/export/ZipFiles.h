#pragma once

// Zip archives made by hand for the readers' tests: .xlsx workbooks with what the program's own
// writer never writes (dates, styles, hostile cell references) and zip bombs.

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <utility>
#include <vector>

namespace lianbu::test {

struct ZipMember
{
    QString name;
    QByteArray deflated; // raw deflate data
    quint32 crc = 0;
    quint64 size = 0;         // size once unpacked
    quint32 declaredSize = 0; // what the archive says it is (a liar says less)
};

inline QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline ZipMember member(const QString &name, const QByteArray &data)
{
    ZipMember m;
    m.name = name;
    m.deflated = rawDeflate(data);
    m.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    m.size = quint64(data.size());
    m.declaredSize = quint32(data.size());
    return m;
}

// `megabytes` MB of zeros as deflate makes them, without ever holding them: the same flushed
// block over and over.
inline ZipMember zeroBomb(const QString &name, int megabytes)
{
    const QByteArray zeros(1024 * 1024, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    auto run = [&](int flush, const QByteArray &input) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
        stream.avail_in = uInt(input.size());
        stream.next_out = reinterpret_cast<Bytef *>(block.data());
        stream.avail_out = uInt(block.size());
        deflate(&stream, flush);
        return block.left(block.size() - qsizetype(stream.avail_out));
    };
    const QByteArray first = run(Z_FULL_FLUSH, zeros);
    const QByteArray again = run(Z_FULL_FLUSH, zeros);
    ZipMember m;
    m.name = name;
    m.deflated = first;
    for (int k = 1; k < megabytes; ++k)
        m.deflated += again;
    m.deflated += run(Z_FINISH, QByteArray());
    deflateEnd(&stream);
    const uLong one = crc32(0, reinterpret_cast<const Bytef *>(zeros.constData()), uInt(zeros.size()));
    uLong crc = one;
    for (int k = 1; k < megabytes; ++k)
        crc = crc32_combine(crc, one, z_off_t(zeros.size()));
    m.crc = quint32(crc);
    m.size = quint64(megabytes) * 1024 * 1024;
    m.declaredSize = quint32(std::min<quint64>(m.size, 0xFFFFFFFFu));
    return m;
}

inline QByteArray zipOf(const std::vector<ZipMember> &members)
{
    auto u16 = [](QByteArray &b, quint16 v) {
        char buffer[2];
        qToLittleEndian(v, buffer);
        b.append(buffer, 2);
    };
    auto u32 = [](QByteArray &b, quint32 v) {
        char buffer[4];
        qToLittleEndian(v, buffer);
        b.append(buffer, 4);
    };
    QByteArray out;
    QByteArray directory;
    for (const ZipMember &m : members) {
        const QByteArray name = m.name.toUtf8();
        const quint32 offset = quint32(out.size());
        u32(out, 0x04034b50);
        u16(out, 20);
        u16(out, 0);
        u16(out, 8);
        u32(out, 0);
        u32(out, m.crc);
        u32(out, quint32(m.deflated.size()));
        u32(out, m.declaredSize);
        u16(out, quint16(name.size()));
        u16(out, 0);
        out += name;
        out += m.deflated;

        u32(directory, 0x02014b50);
        u16(directory, 20);
        u16(directory, 20);
        u16(directory, 0);
        u16(directory, 8);
        u32(directory, 0);
        u32(directory, m.crc);
        u32(directory, quint32(m.deflated.size()));
        u32(directory, m.declaredSize);
        u16(directory, quint16(name.size()));
        u16(directory, 0);
        u16(directory, 0);
        u16(directory, 0);
        u16(directory, 0);
        u32(directory, 0);
        u32(directory, offset);
        directory += name;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    u32(out, 0x06054b50);
    u16(out, 0);
    u16(out, 0);
    u16(out, quint16(members.size()));
    u16(out, quint16(members.size()));
    u32(out, quint32(directory.size()));
    u32(out, directoryOffset);
    u16(out, 0);
    return out;
}

// A workbook of one sheet from its sheet XML (the <sheetData> rows), with optional styles and
// shared strings.
inline QByteArray xlsxOf(const QByteArray &rows, const QByteArray &styles = {}, const QByteArray &sharedStrings = {},
                         bool date1904 = false)
{
    std::vector<ZipMember> members;
    members.push_back(
        member(QStringLiteral("xl/workbook.xml"),
               QByteArray("<?xml version=\"1.0\"?><workbook "
                          "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">")
                   + (date1904 ? "<workbookPr date1904=\"1\"/>" : "<workbookPr/>")
                   + "<sheets><sheet name=\"a\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"));
    members.push_back(member(QStringLiteral("xl/_rels/workbook.xml.rels"),
                             "<?xml version=\"1.0\"?><Relationships "
                             "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                             "Id=\"rId1\" Type=\"worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"));
    members.push_back(member(QStringLiteral("xl/worksheets/sheet1.xml"),
                             "<?xml version=\"1.0\"?><worksheet "
                             "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
                                 + rows + "</sheetData></worksheet>"));
    if (!styles.isEmpty())
        members.push_back(member(QStringLiteral("xl/styles.xml"),
                                 "<?xml version=\"1.0\"?><styleSheet "
                                 "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                                     + styles + "</styleSheet>"));
    if (!sharedStrings.isEmpty())
        members.push_back(member(QStringLiteral("xl/sharedStrings.xml"),
                                 "<?xml version=\"1.0\"?><sst "
                                 "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                                     + sharedStrings + "</sst>"));
    return zipOf(members);
}

} // namespace lianbu::test
