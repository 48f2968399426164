// Renders the login dialog and the main window with its entry panel open to PNG files for a
// person to look at (not a test):
//   QT_QPA_PLATFORM=offscreen build/dev/tools/lianbu-login-screenshots OUTDIR
#include "tests/support/FormWidgets.h"
#include "tests/operators/LoginHarness.h"

#include "grid/DataGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QTest>

using namespace lianbu::test;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QDir().mkpath(out);
    LoginHarness h;
    QImage(QStringLiteral(":/images/login.jpg")).save(out + QStringLiteral("/login-background.png"));

    h.addOperator(QStringLiteral("张三"), QStringLiteral("123"));
    h.showDialog();
    QTest::keyClicks(widgets(h.dialog)->passwordEdit, QStringLiteral("888"));
    h.dialog->grab().save(out + QStringLiteral("/login.png"));
    // The dialog over the main window, where it is centred.
    QPixmap both = h.form->grab();
    {
        QPainter painter(&both);
        painter.drawPixmap(h.dialog->geometry().topLeft() - h.form->geometry().topLeft(), h.dialog->grab());
    }
    both.save(out + QStringLiteral("/login-over-main.png"));
    widgets(h.dialog)->operatorCombo->setCurrentText(QStringLiteral("超级管理员"));
    h.dialog->tryLogin();

    QList<CustomerRow> rows;
    for (int i = 0; i < 30; ++i)
        rows << customer(i % 2 ? QStringLiteral("VIP客户") : QStringLiteral("普通"),
                         QStringLiteral("客户%1").arg(i + 1), QStringLiteral("0571-8%1").arg(1000 + i),
                         i % 3 ? QStringLiteral("张三") : QStringLiteral("O'Neil"));
    h.insertCustomers(rows);
    h.form->showAllRecords();
    widgets(h.form)->customerGrid->setCurrentRow(3);
    h.form->customerList()->onRowDoubleClicked();
    h.form->grab().save(out + QStringLiteral("/main-entry-panel.png"));
    widgets(h.form)->entryPanel->grab().save(out + QStringLiteral("/entry-panel.png"));
    return 0;
}
