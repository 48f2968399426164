// Renders the import window (both pages) and the 查重 window to PNG files, to look at them.
//
//   QT_QPA_PLATFORM=offscreen build/dev/tools/lianbu-import-screenshots <folder>
#include "customers/DuplicatesWindow.h"
#include "customers/ImportWindow.h"
#include "data/Schema.h"
#include "db/Connection.h"
#include "export/RegisterAccess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStackedWidget>
#include <QTemporaryDir>

using namespace lianbu;
using namespace lianbu::exchange;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(path);
    db::Connection connection(path);
    connection.open();
    ImportRow zhang;
    zhang.record[CustomerField::Name] = QStringLiteral("张三");
    zhang.record[CustomerField::ShortName] = QStringLiteral("华联");
    zhang.record[CustomerField::Mobile] = QStringLiteral("13900000001");
    applyImport(connection.database(), {{zhang, ImportAction::Add, 0}, {zhang, ImportAction::Add, 0}},
                QStringLiteral("2024-01-01"));

    const QString csv = dir.filePath(QStringLiteral("客户.csv"));
    QFile file(csv);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("\xFEFF客户类别,客户简称,姓名,手机,地址,备注\r\n"
                              "老客户,华联,张三,139 0000 0001,北京市朝阳区,同一手机\r\n"
                              "新客户,百货,李四,13700000000,\"上海市\n浦东新区\",\r\n"
                              "新客户,百货,王五,13600000000,杭州市,%1\r\n"
                              "坏,\"引号\"没完,,,\r\n")
                   .arg(QString(210, QChar(0x5907)))
                   .toUtf8());
    file.close();

    customers::ImportWindow window(connection.database());
    window.loadFile(csv);
    window.show();
    window.grab().save(out.filePath(QStringLiteral("import-preview.png")));
    window.findDuplicates();
    window.findChild<QStackedWidget *>()->setCurrentIndex(1);
    window.grab().save(out.filePath(QStringLiteral("import-duplicates.png")));

    customers::DuplicatesWindow duplicates(connection.database());
    duplicates.refresh();
    duplicates.show();
    duplicates.grab().save(out.filePath(QStringLiteral("duplicates.png")));
    return 0;
}
