// The spreadsheet exports byte for byte: a fixed list written to .xls (through the export
// command's writer and through the list export) and to .xlsx gives exactly the files kept in
// bytes/, so a faster writer cannot change what other programs read.
// LIANBU_WRITE_EXPORT_BYTES=<folder> writes the files there instead.

#include "export/ExchangeFormats.h"
#include "tests/export/ExportTestData.h"

#include <QDir>
#include <QTest>

using namespace lianbu;
using exporttest::Register;

namespace {

// Texts of every kind a cell holds: Chinese, Latin, digits, empty, quotes and markup characters,
// characters outside GBK, a long text, a line break.
QStringList mixedRecords()
{
    QStringList fill;
    for (int i = 1; i <= 700; ++i) {
        const QString name = i % 4 == 0 ? QStringLiteral("王小明%1").arg(i) : QStringLiteral("Name %1").arg(i);
        QString note;
        if (i % 5 == 0)
            note = QStringLiteral("备注 <b>&amp;\"引号\"</b> %1").arg(i);
        else if (i % 13 == 0)
            note = QStringLiteral("😀 emoji and 𠀀 outside GBK");
        else if (i % 17 == 0)
            note = QStringLiteral("第一行\n第二行");
        else if (i % 19 == 0)
            note = QString(300, QChar(0x6c49));
        fill << QStringLiteral("insert into t (x, y, w, n) values ('%1', '%2', '%3', '%4')")
                    .arg(name, QStringLiteral("0571-%1").arg(80000 + i),
                         i % 3 == 0 ? QString() : QString::number(i * 7), note);
    }
    return fill;
}

void describeGrid(Register &r)
{
    r.addColumn(QStringLiteral("x"), QStringLiteral("客户|姓名"));
    r.addColumn(QStringLiteral("y"), QStringLiteral("客户|电话"));
    r.addColumn(QStringLiteral("w"), QStringLiteral("金额"));
    r.addColumn(QStringLiteral("n"), QStringLiteral("备注"));
    r.grid->setFooterRowCount(1);
    r.grid->columns()->items(0)->footer()->setValue(QStringLiteral("总计"));
    r.describe();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestExportBytes : public QObject
{
    Q_OBJECT

private slots:
    void spreadsheetsAsBefore()
    {
        Register r(QStringLiteral("create table t (x text, y text, w text, n text)"), mixedRecords());
        describeGrid(r);
        const QDir work(r.env.path());

        // the export command's .xls
        r.writer.setFileName(work.filePath(QStringLiteral("command.xls")));
        r.writer.setShowProgress(false);
        r.exportFile();
        // the list export's .xls and .xlsx
        const exchange::ListSheet sheet{QStringLiteral("客户统计报表"),
                                        QStringLiteral("2010-01-01"),
                                        QString(),
                                        QStringLiteral("联簿宝"),
                                        r.columns,
                                        *r.rows,
                                        {}};
        exchange::exportList(sheet, exchange::ExportFormat::Xls, work.filePath(QStringLiteral("list.xls")));
        exchange::exportList(sheet, exchange::ExportFormat::Xlsx, work.filePath(QStringLiteral("list.xlsx")));

        const QStringList names{QStringLiteral("command.xls"), QStringLiteral("list.xls"), QStringLiteral("list.xlsx")};
        const QString writeTo = qEnvironmentVariable("LIANBU_WRITE_EXPORT_BYTES");
        if (!writeTo.isEmpty()) {
            QDir().mkpath(writeTo);
            for (const QString &name : names) {
                QFile::remove(QDir(writeTo).filePath(name));
                QVERIFY(QFile::copy(work.filePath(name), QDir(writeTo).filePath(name)));
            }
            QSKIP("files written");
        }
        const QDir stored(QStringLiteral(LIANBU_EXPORT_BYTES));
        for (const QString &name : names) {
            const QByteArray expected = fileBytes(stored.filePath(name));
            const QByteArray actual = fileBytes(work.filePath(name));
            QVERIFY2(!expected.isEmpty(), qPrintable(name));
            qsizetype at = 0;
            while (at < std::min(actual.size(), expected.size()) && actual[at] == expected[at])
                ++at;
            QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1: %2 bytes against %3, first difference at %4")
                                                        .arg(name)
                                                        .arg(actual.size())
                                                        .arg(expected.size())
                                                        .arg(at)));
        }
    }
};

QTEST_MAIN(TestExportBytes)
#include "test_export_bytes.moc"
