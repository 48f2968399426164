// The six BIFF records byte for byte, GBK text in LABELs, the limits of rows, RK integers and
// LABEL lengths.

#include "export/BiffRecords.h"
#include "export/XlsExporter.h"
#include "platform/Error.h"
#include "platform/Gbk.h"
#include "tests/export/XlsRecords.h"

#include <QTest>

using namespace lianbu;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace

class TestXlsRecords : public QObject
{
    Q_OBJECT

private slots:
    void fixedRecords()
    {
        QCOMPARE(xls::bofRecord(), hex("09 08 08 00 00 00 10 00 00 00 00 00"));
        QCOMPARE(xls::eofRecord(), hex("0A 00 00 00"));
        QCOMPARE(xls::codepageRecord(), hex("42 00 02 00 A8 03")); // 936: GBK
    }

    void cellRecords()
    {
        QCOMPARE(xls::labelRecord(1, 2, "ab"), hex("04 02 0A 00 01 00 02 00 00 00 02 00 61 62"));
        QCOMPARE(xls::rkRecord(3, 0, 5), hex("7E 02 0A 00 03 00 00 00 00 00 16 00 00 00"));
        QCOMPARE(xls::rkRecord(3, 0, -3).right(4), hex("F6 FF FF FF"));
        QCOMPARE(xls::numberRecord(0, 1, 1.5), hex("03 02 0E 00 00 00 01 00 00 00 00 00 00 00 00 00 F8 3F"));
        QCOMPARE(xls::blankRecord(2, 4), hex("01 02 06 00 02 00 04 00 00 00"));
        // An empty text is a LABEL of length 0.
        QCOMPARE(xls::labelRecord(0, 0, QByteArray()), hex("04 02 08 00 00 00 00 00 00 00 00 00"));
        // Rows and columns above 255 keep both bytes.
        QCOMPARE(xls::blankRecord(0x1234, 0x0102), hex("01 02 06 00 34 12 02 01 00 00"));
        QCOMPARE(xls::blankRecord(xls::kMaxRow, 0), hex("01 02 06 00 FF FF 00 00 00 00"));
    }

    void rkLimits()
    {
        QCOMPARE(xls::rkRecord(0, 0, 536870911).right(4), hex("FE FF FF 7F"));
        QCOMPARE(xls::rkRecord(0, 0, -536870912).right(4), hex("02 00 00 80"));
        QVERIFY_THROWS_EXCEPTION(Error, xls::rkRecord(0, 0, 536870912));
        QVERIFY_THROWS_EXCEPTION(Error, xls::rkRecord(0, 0, -536870913));
    }

    void rowsNeverWrap()
    {
        QVERIFY_THROWS_EXCEPTION(Error, xls::labelRecord(xls::kMaxRow + 1, 0, "a"));
        QVERIFY_THROWS_EXCEPTION(Error, xls::blankRecord(0, -1));
        QVERIFY_THROWS_EXCEPTION(Error, xls::numberRecord(-1, 0, 1.0));
    }

    void chineseTextIsGbk()
    {
        // 联簿宝 in code page 936.
        QCOMPARE(xls::labelText(QStringLiteral("联簿宝")), hex("C1 AA B2 BE B1 A6"));
        const QByteArray record = xls::labelRecord(0, 3, xls::labelText(QStringLiteral("客户A")));
        QCOMPARE(record, hex("04 02 0D 00 00 00 03 00 00 00 05 00 BF CD BB A7 41"));
    }

    void longTextIsCutAtACharacterBoundary()
    {
        // The limit (an odd number of bytes) falls in the middle of a double-byte character.
        const QString text(40000, QChar(0x8054)); // 联
        const QByteArray cut = xls::labelText(text);
        QCOMPARE(cut.size(), xls::kMaxLabelBytes - 1);
        QCOMPARE(gbk::decode(cut), text.left((xls::kMaxLabelBytes - 1) / 2));
        // One single-byte character first: now the characters fill it exactly.
        QCOMPARE(xls::labelText(QLatin1Char('a') + text).size(), xls::kMaxLabelBytes);
        const QByteArray record = xls::labelRecord(0, 0, cut);
        QCOMPARE(qFromLittleEndian<quint16>(record.constData() + 2), quint16(cut.size() + 8));
        // Plain letters fill the cell exactly.
        QCOMPARE(xls::labelText(QString(70000, QLatin1Char('x'))).size(), xls::kMaxLabelBytes);
        QVERIFY_THROWS_EXCEPTION(Error, xls::labelRecord(0, 0, QByteArray(xls::kMaxLabelBytes + 1, 'x')));
    }

    void writersWithoutAStreamFail()
    {
        // Outside saveStream there is no file: a cell must fail, not vanish silently.
        XlsExporter writer;
        QVERIFY_THROWS_EXCEPTION(Error, writer.writeBof());
        writer.setRow(3);
        writer.setCol(1);
        QVERIFY_THROWS_EXCEPTION(Error, writer.writeLabelCell(QStringLiteral("x"), false));
        QCOMPARE(writer.row(), 3);
        QCOMPARE(writer.col(), 1);
    }
};

QTEST_MAIN(TestXlsRecords)
#include "test_xls_records.moc"
