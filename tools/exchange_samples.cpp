// Writes the program's export formats for a handful of awkward customers into a folder, with
// expected.csv (UTF-8) holding the titles and records every file must show. check-libreoffice.sh
// has LibreOffice convert each file to CSV and compares.
//
//   lianbu-exchange-samples <folder>
#include "export/CsvFormat.h"
#include "export/CustomerFields.h"
#include "export/BiffRecords.h"
#include "export/XlsxFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

using namespace lianbu;
using namespace lianbu::exchange;

namespace {

std::vector<QStringList> records()
{
    std::vector<QStringList> rows;
    const QStringList names{QStringLiteral("张三"), QStringLiteral("李\"四\""), QStringLiteral("王五, 经理"),
                            QStringLiteral("赵六\n第二行"), QString(), QStringLiteral("Émile Zola")};
    for (int i = 0; i < names.size(); ++i) {
        QStringList cells;
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            cells.append(QString());
        cells[int(CustomerField::Category)] = QStringLiteral("老客户");
        cells[int(CustomerField::Name)] = names.at(i);
        cells[int(CustomerField::Mobile)] = QStringLiteral("0139%1").arg(i);
        cells[int(CustomerField::Address)] = QStringLiteral("北京市朝阳区；%1号").arg(i);
        rows.push_back(cells);
    }
    return rows;
}

QStringList titles()
{
    QStringList out;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        out.append(fieldTitle(CustomerField(f)));
    return out;
}

void writeCsv(const QString &path, TextEncoding encoding)
{
    QSaveFile file(path);
    file.open(QIODevice::WriteOnly);
    CsvWriter writer(&file, encoding);
    writer.writeRow(titles());
    for (const QStringList &row : records())
        writer.writeRow(row);
    file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lianbu-exchange-samples <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    writeCsv(folder.filePath(QStringLiteral("expected.csv")), TextEncoding::Utf8);
    writeCsv(folder.filePath(QStringLiteral("customers-utf8.csv")), TextEncoding::Utf8);
    writeCsv(folder.filePath(QStringLiteral("customers-gbk.csv")), TextEncoding::Gbk);

    SheetLayout layout;
    layout.titleName = QStringLiteral("客户统计报表");
    layout.userName = QStringLiteral("联簿宝");
    layout.madeAt = QStringLiteral("2025-01-01 9:00:00");
    for (const QString &title : titles())
        layout.titleCells.push_back({title});
    const std::vector<QStringList> rows = records();
    std::size_t next = 0;
    writeXlsx(folder.filePath(QStringLiteral("customers.xlsx")), layout,
              [&](QStringList &cells) {
                  if (next >= rows.size())
                      return false;
                  cells = rows[next++];
                  return true;
              },
              qint64(rows.size()));

    // The legacy record stream, as the .xls export writes it (its GBK text needs the code page).
    QByteArray xls = xls::bofRecord() + xls::codepageRecord();
    xls += xls::labelRecord(0, 3, xls::labelText(layout.titleName));
    xls += xls::labelRecord(1, 0, xls::labelText(QStringLiteral("制表人：联簿宝")));
    const QStringList heads = titles();
    for (int c = 0; c < heads.size(); ++c)
        xls += xls::labelRecord(2, c, xls::labelText(heads.at(c)));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            xls += rows[r].at(c).isEmpty() ? xls::blankRecord(int(r) + 3, c)
                                           : xls::labelRecord(int(r) + 3, c, xls::labelText(rows[r].at(c)));
    xls += xls::eofRecord();
    QSaveFile file(folder.filePath(QStringLiteral("customers.xls")));
    file.open(QIODevice::WriteOnly);
    file.write(xls);
    file.commit();
    return 0;
}
