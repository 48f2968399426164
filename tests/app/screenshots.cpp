// Renders the program's windows to PNG files for a person to look at (not a test):
//   QT_QPA_PLATFORM=offscreen build/dev/tests/app/lianbu-screenshots OUTDIR
#include "tests/app/MainWindowHarness.h"

#include "grid/DBGridEh.h"
#include "ui_MAIN.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

using namespace lianbu::test;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QDir().mkpath(out);
    MainWindowHarness h;
    h.form->grab().save(out + QStringLiteral("/main-empty.png"));

    QList<CustomerRow> rows;
    const QStringList categories{QStringLiteral("VIP客户"), QStringLiteral("普通"), QStringLiteral("代理商"),
                                 QStringLiteral("供应商")};
    const QStringList names{QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五"),
                            QStringLiteral("赵六"), QStringLiteral("Smith")};
    for (int i = 0; i < 40; ++i) {
        CustomerRow row = customer(categories[i % categories.size()], QStringLiteral("客户%1").arg(i + 1),
                                   QStringLiteral("0571-8%1").arg(1000 + i * 7), names[i % names.size()]);
        row[13] = i % 3 == 0 ? QStringLiteral("老客户，按时付款") : QString();
        rows << row;
    }
    h.insertCustomers(rows);
    h.form->Button12Click();
    h.form->ui->DBGridEh1->ClickTitle(1);
    h.form->grab().save(out + QStringLiteral("/main-rows.png"));
    return 0;
}
