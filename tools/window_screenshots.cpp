// Renders the program's windows to PNG files for a person to look at (not a test):
//   QT_QPA_PLATFORM=offscreen build/dev/tools/lianbu-screenshots OUTDIR
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "appearance/AboutDialog.h"
#include "app/ServerConnectionDialog.h"
#include "appearance/Skins.h"
#include "grid/DataGrid.h"

#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QToolTip>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QHeaderView>

#if __has_include("operators/OperatorAdminDialog.h") && __has_include("operators/ChangePasswordDialog.h")
#include "operators/ChangePasswordDialog.h"
#include "operators/OperatorAdminDialog.h"
#define LIANBU_HAVE_OPERATOR_WINDOWS 1
#endif
#if __has_include("printing/PrintPreviewWindow.h")
#include "printing/PrintPreviewWindow.h"
#define LIANBU_HAVE_PREVIEW 1
#endif
#if __has_include("operators/LoginDialog.h")
#include "operators/LoginDialog.h"
#define LIANBU_HAVE_LOGIN 1
#endif

namespace {

// A dialog holding one of every kind of control the program's windows use, to judge a skin.
QDialog *controlGallery()
{
    auto *dialog = new QDialog;
    dialog->setWindowTitle(QStringLiteral("控件"));
    dialog->resize(520, 300);
    auto *group = new QGroupBox(QStringLiteral("打印设置"), dialog);
    group->setGeometry(10, 8, 250, 150);
    auto *check = new QCheckBox(QStringLiteral("打印标题"), group);
    check->setGeometry(12, 22, 110, 20);
    check->setChecked(true);
    auto *check2 = new QCheckBox(QStringLiteral("打印页脚"), group);
    check2->setGeometry(12, 44, 110, 20);
    auto *radio = new QRadioButton(QStringLiteral("纵向"), group);
    radio->setGeometry(130, 22, 100, 20);
    radio->setChecked(true);
    auto *radio2 = new QRadioButton(QStringLiteral("横向"), group);
    radio2->setGeometry(130, 44, 100, 20);
    auto *combo = new QComboBox(group);
    combo->addItems({QStringLiteral("VIP客户"), QStringLiteral("普通")});
    combo->setGeometry(12, 72, 110, 21);
    auto *date = new QDateEdit(QDate(2010, 8, 15), group);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    date->setCalendarPopup(true);
    date->setGeometry(130, 72, 108, 21);
    auto *edit = new QLineEdit(QStringLiteral("可以编辑"), group);
    edit->setGeometry(12, 100, 110, 21);
    auto *disabled = new QLineEdit(QStringLiteral("不可用"), group);
    disabled->setEnabled(false);
    disabled->setGeometry(130, 100, 108, 21);
    auto *ok = new QPushButton(QStringLiteral("确  定"), dialog);
    ok->setGeometry(10, 170, 75, 25);
    ok->setDefault(true);
    auto *off = new QPushButton(QStringLiteral("取  消"), dialog);
    off->setGeometry(95, 170, 75, 25);
    off->setEnabled(false);
    auto *progress = new QProgressBar(dialog);
    progress->setGeometry(10, 206, 250, 20);
    progress->setValue(62);
    auto *tabs = new QTabWidget(dialog);
    tabs->setGeometry(270, 8, 240, 150);
    auto *table = new QTableWidget(6, 2);
    table->setHorizontalHeaderLabels({QStringLiteral("操作员"), QStringLiteral("登录时间")});
    for (int r = 0; r < 6; ++r) {
        table->setItem(r, 0, new QTableWidgetItem(QStringLiteral("操作员%1").arg(r + 1)));
        table->setItem(r, 1, new QTableWidgetItem(QStringLiteral("2010-08-15 9:3%1:00").arg(r)));
    }
    table->selectRow(1);
    tabs->addTab(table, QStringLiteral("用户"));
    tabs->addTab(new QWidget, QStringLiteral("日志"));
    auto *panel = new QFrame(dialog);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(270, 170, 240, 60);
    auto *label = new QLabel(QStringLiteral("面板里的文字"), panel);
    label->setGeometry(10, 8, 200, 20);
    auto *bar = new QScrollBar(Qt::Horizontal, panel);
    bar->setGeometry(10, 34, 220, 14);
    bar->setRange(0, 100);
    bar->setPageStep(30);
    auto *tip = new QLabel(QStringLiteral("提示文字"), dialog);
    tip->setObjectName(QStringLiteral("gallerytip"));
    tip->setGeometry(10, 240, 120, 22);
    return dialog;
}

void saveMenu(QMenu *menu, const QString &path)
{
    menu->ensurePolished();
    menu->adjustSize();
    menu->grab().save(path);
}

} // namespace

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
    h.form->showAllRecords();
    widgets(h.form)->customerGrid->clickTitle(1);
    h.form->grab().save(out + QStringLiteral("/main-rows.png"));

    // Every skin: the main window with rows (and its entry panel), its menus, the about box,
    // the login dialog and a gallery of the other controls.
    QDialog *gallery = controlGallery();
    AboutDialog about(h.form.get());
    {
        // "数据库连接…" as an office fills it in.
        lianbu::db::RegisterAddress office;
        office.kind = lianbu::db::RegisterAddress::Kind::Server;
        office.host = QStringLiteral("192.168.1.10");
        office.database = QStringLiteral("lianbu");
        office.user = QStringLiteral("lianbu");
        office.password = QStringLiteral("secret");
        ServerConnectionDialog server(office, h.form.get());
        server.show();
        QApplication::processEvents();
        server.grab().save(out + QStringLiteral("/server-connection.png"));
    }
#ifdef LIANBU_HAVE_LOGIN
    LoginDialog login(*h.data, nullptr);
#endif
    // All skins' lower areas and about boxes side by side, for comparing them at one glance.
    QImage lowers(973, 6 * 130, QImage::Format_RGB32);
    QImage abouts(6 * 340, 2 * 216, QImage::Format_RGB32);
    QImage galleries(3 * 520, 2 * 300, QImage::Format_RGB32);
    QImage logins(3 * 380, 2 * 170, QImage::Format_RGB32);
    galleries.fill(Qt::white);
    logins.fill(Qt::white);
    QPainter galleryPainter(&galleries);
    QPainter loginPainter(&logins);
    lowers.fill(Qt::white);
    abouts.fill(Qt::white);
    QPainter lowerPainter(&lowers);
    h.form->customerList()->hideColumnActions().at(2)->setChecked(true); // a checked item, to see its mark
    QPainter aboutPainter(&abouts);
#ifdef LIANBU_HAVE_PREVIEW
    h.form->printCustomerList(); // the print preview of the list
#endif
#ifdef LIANBU_HAVE_OPERATOR_WINDOWS
    auto *changepass = new ChangePasswordDialog(*h.data, h.form.get());
    auto *usergl = new OperatorAdminDialog(*h.data, h.form.get());
#endif
    for (int skin = -1; skin < h.form->skinCatalog->count(); ++skin) {
        if (skin < 0) {
            QBuffer own;
            own.setData(h.form->skinController->skinStream());
            h.form->skinController->loadFromStream(own);
        } else {
            ApplyStoreSkin(h.form->skinController, h.form->skinCatalog, skin);
        }
        const QString name = skin < 0 ? QStringLiteral("own") : QStringLiteral("skin%1").arg(skin);
        QApplication::processEvents();
        widgets(h.form)->entryPanel->hide();
        h.form->grab().save(out + QStringLiteral("/main-%1.png").arg(name));
        lowerPainter.drawPixmap(0, (skin + 1) * 130, h.form->grab(QRect(0, 500, 973, 129)));
        aboutPainter.drawPixmap((skin + 1) * 340, 0, about.grab());
        {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), QStringLiteral("客户类别不能为空！"),
                            QMessageBox::Ok, h.form.get());
            box.grab().save(out + QStringLiteral("/box-%1.png").arg(name));
            QToolTip::showText(h.form->mapToGlobal(QPoint(40, 40)), widgets(h.form)->customerGrid->toolTip(),
                               h.form.get());
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->inherits("QTipLabel") && w->isVisible())
                    w->grab().save(out + QStringLiteral("/tip-%1.png").arg(name));
            QToolTip::hideText();
        }
#ifdef LIANBU_HAVE_PREVIEW
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *preview = qobject_cast<PrintPreviewWindow *>(window))
                preview->grab().save(out + QStringLiteral("/preview-%1.png").arg(name));
#endif
#ifdef LIANBU_HAVE_OPERATOR_WINDOWS
        changepass->grab().save(out + QStringLiteral("/changepass-%1.png").arg(name));
        usergl->grab().save(out + QStringLiteral("/usergl-%1.png").arg(name));
#endif
        widgets(h.form)->entryPanel->show();
        widgets(h.form)->entryPanel->raise();
        h.form->grab().save(out + QStringLiteral("/main-panel-%1.png").arg(name));
        widgets(h.form)->entryPanel->hide();
        saveMenu(h.form->settingsMenu, out + QStringLiteral("/menu-%1.png").arg(name));
        saveMenu(h.form->customerList()->contextMenu(), out + QStringLiteral("/gridmenu-%1.png").arg(name));
        about.grab().save(out + QStringLiteral("/about-%1.png").arg(name));
        gallery->grab().save(out + QStringLiteral("/gallery-%1.png").arg(name));
        galleryPainter.drawPixmap(((skin + 1) % 3) * 520, ((skin + 1) / 3) * 300, gallery->grab());
#ifdef LIANBU_HAVE_LOGIN
        login.grab().save(out + QStringLiteral("/login-%1.png").arg(name));
        loginPainter.drawPixmap(((skin + 1) % 3) * 380, ((skin + 1) / 3) * 170, login.grab());
#endif
        h.form->settingsMenu->setActiveAction(h.form->dreamSkySkinAction);
        aboutPainter.drawPixmap((skin + 1) * 340, 216, h.form->settingsMenu->grab());
        aboutPainter.drawPixmap((skin + 1) * 340 + 150, 216, h.form->customerList()->contextMenu()->grab());
    }
    lowers.save(out + QStringLiteral("/all-lower.png"));
    abouts.save(out + QStringLiteral("/all-about-menu.png"));
    galleries.save(out + QStringLiteral("/all-gallery.png"));
    logins.save(out + QStringLiteral("/all-login.png"));
    delete gallery;
    return 0;
}
