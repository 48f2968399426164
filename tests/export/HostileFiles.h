#pragma once

// The hostile files of the import tests and the benchmark, made on the spot: small files that
// used to grow to gigabytes or take minutes in the readers.

#include "tests/export/ZipFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace lianbu::test {

inline QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(LIANBU_FIXTURES "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One CSV line of 100,000 commas.
inline QByteArray hostileCsvLine()
{
    return "姓名" + QByteArray(100'000, ',') + "\r\n";
}

// A 2.1 card whose 备注 is `characters` Chinese characters of QUOTED-PRINTABLE, in soft-broken
// lines as phones write it.
inline QByteArray quotedPrintableCard(int characters)
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:x\r\nNOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
    card.reserve(card.size() + qsizetype(characters) * 10);
    for (int k = 0; k < characters; ++k) {
        card += "=E4=B8=80";
        if (k % 8 == 7)
            card += "=\r\n";
    }
    card += "\r\nEND:VCARD\r\n";
    return card;
}

// 3.7 MB of one such value.
inline QByteArray hostileVCard()
{
    return quotedPrintableCard(400'000);
}

// Rows whose second cell sits in the sheet's last column (XFD): ~300 KB that a naive reader
// pads out to 16,384 cells a row.
inline QByteArray paddedXlsx()
{
    QByteArray rows;
    for (int r = 1; r <= 40'000; ++r) {
        const QByteArray n = QByteArray::number(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>1</v></c><c r=\"XFD" + n + "\"><v>2</v></c></row>";
    }
    return xlsxOf(rows);
}

// Two million small cells in rows of 200.
inline QByteArray manyCellsXlsx()
{
    QByteArray row = "<row>";
    for (int c = 0; c < 200; ++c)
        row += "<c><v>1</v></c>";
    row += "</row>";
    QByteArray rows;
    rows.reserve(row.size() * 10'000);
    for (int r = 0; r < 10'000; ++r)
        rows += row;
    return xlsxOf(rows);
}

// A sheet that says it spans 200,000 rows of 10 columns before its few rows.
inline QByteArray claimingXlsx()
{
    std::vector<ZipMember> members;
    members.push_back(member(QStringLiteral("xl/worksheets/sheet1.xml"),
                             "<?xml version=\"1.0\"?><worksheet><dimension ref=\"A1:J200000\"/><sheetData>"
                             "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>"));
    return zipOf(members);
}

// A workbook whose sheet is 1 GB of zeros deflated to about 1 MB; `liar` says it is 1 MB.
inline QByteArray zipBombXlsx(bool liar)
{
    ZipMember bomb = zeroBomb(QStringLiteral("xl/worksheets/sheet1.xml"), 1024);
    if (liar)
        bomb.declaredSize = 1024 * 1024;
    std::vector<ZipMember> members;
    members.push_back(member(QStringLiteral("xl/workbook.xml"),
                             "<workbook xmlns:r=\"r\"><sheets><sheet r:id=\"rId1\"/></sheets></workbook>"));
    members.push_back(member(QStringLiteral("xl/_rels/workbook.xml.rels"),
                             "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
                             "</Relationships>"));
    members.push_back(std::move(bomb));
    return zipOf(members);
}

// Excel's own workbook (a compound document) whose sheet claims 65,536 rows of 256 columns:
// FreeXL sets aside room for every one of those cells as it opens the file.
inline QByteArray hugeDimensionXls()
{
    QByteArray file = fixture("biff8-customers.xls");
    const qsizetype at = file.indexOf(QByteArray("\x00\x02\x0E\x00", 4));
    if (at < 0)
        return {};
    char *data = file.data() + at + 4;
    qToLittleEndian<quint32>(0, data);
    qToLittleEndian<quint32>(65536, data + 4);
    qToLittleEndian<quint16>(0, data + 8);
    qToLittleEndian<quint16>(256, data + 10);
    return file;
}

} // namespace lianbu::test
