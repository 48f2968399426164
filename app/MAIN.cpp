#include "app/MAIN.h"

#include "app/AppInfo.h"
#include "app/HintPause.h"
#include "app/VendorAddresses.h"
#include "grid/DBGridEh.h"
#include "data/dm.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "upgrade/auAutoUpgrader.h"
#include "ui_MAIN.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QTimer>
#include <QWindow>

TMainForm *MainForm = nullptr;

namespace {

// Client size of the window at design and the height of the lower area below the grid.
constexpr int kClientWidth = 973;
constexpr int kClientHeight = 629;

} // namespace

TMainForm::TMainForm(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::TMainForm)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(lianbu::applicationTitle());
    // A fixed single border: the operator cannot drag the size, but may minimise and maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    buildStatusBar();
    buildMenus();
    configureCustomerGrid();
    connectQuickSearch();
    connectEntryPanel();
    buildAppearance();
    auAutoUpgrader1 = lianbu::createMainUpgrader(this);

    connect(N18, &QAction::triggered, this, &TMainForm::N18Click);
    connect(N15, &QAction::triggered, this, &TMainForm::N15Click);
    connect(N13, &QAction::triggered, this, &TMainForm::N13Click);
    connect(ui->ToolButton22, &QToolButton::clicked, this, &TMainForm::ToolButton22Click);
    connect(ui->ToolButton17, &QToolButton::clicked, this, &TMainForm::ToolButton17Click);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &TMainForm::onFocusWindowChanged);

    if (!MainForm)
        MainForm = this;
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
    // The controls send events to the window's filters while they are destroyed; destroy them
    // while the window (and its form) is still whole.
    delete centralWidget();
    delete ui;
}

QLabel *TMainForm::StatusPanel(int index) const { return m_panels[index]; }

void TMainForm::buildStatusBar()
{
    const int widths[4] = {250, 100, 120, 300};
    const Qt::Alignment alignments[4] = {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter,
                                         Qt::AlignCenter, Qt::AlignRight | Qt::AlignVCenter};
    QStatusBar *bar = ui->StatusBar;
    bar->setFixedHeight(19);
    for (int i = 0; i < 4; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setAlignment(alignments[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
    m_panels[1]->setText(QStringLiteral("操作员："));
    m_panels[3]->setText(lianbu::vendorWebAddress());
}

void TMainForm::buildMenus()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    N15 = item(PopupMenu1, "N15", QStringLiteral("修改密码"));
    N13 = item(PopupMenu1, "N13", QStringLiteral("用户管理"));
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    N19 = item(PopupMenu1, "N19", QStringLiteral("黑色经典(皮肤)"));
    N26 = item(PopupMenu1, "N26", QStringLiteral("蓝色幻想(皮肤)"));
    N32 = item(PopupMenu1, "N32", QStringLiteral("梦幻天空(皮肤)"));
    N42 = item(PopupMenu1, "N42", QStringLiteral("黑色遐想(皮肤)"));
    N52 = item(PopupMenu1, "N52", QStringLiteral("梦想成真(皮肤)"));
    ui->ToolButton18->setMenu(PopupMenu1);
    ui->ToolButton18->setPopupMode(QToolButton::InstantPopup);

    // Never offered to the operator: FormActivate triggers it.
    N18 = new QAction(QStringLiteral("检查升级"), this);
    N18->setObjectName(QStringLiteral("N18"));

    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    N20 = item(PopupMenu3, "N20", QStringLiteral("保存当前列状态"));
    N16 = PopupMenu3->addSeparator();
    N16->setObjectName(QStringLiteral("N16"));
    const struct { const char *name; const char *caption; } hides[11] = {
        {"N2", "隐藏客户类别"}, {"N3", "隐藏客户简称"}, {"N5", "隐藏性别"}, {"N4", "隐藏职务"},
        {"N6", "隐藏传真"},     {"N7", "隐藏地址"},     {"N8", "隐藏单位"}, {"N9", "隐藏邮编"},
        {"N12", "隐藏电子邮件"}, {"N10", "隐藏备注"},   {"N11", "隐藏登记日期"},
    };
    for (int i = 0; i < 11; ++i) {
        QAction *action = item(PopupMenu3, hides[i].name, QString::fromUtf8(hides[i].caption));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, i] { HideItemClick(i); });
        HideItems.append(action);
    }
    connect(N20, &QAction::triggered, this, &TMainForm::N20Click);
}

bool TMainForm::event(QEvent *event)
{
    // The long hint of the control under the pointer goes to the first panel only.
    if (event->type() == QEvent::StatusTip) {
        m_panels[0]->setText(static_cast<QStatusTipEvent *>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    try {
        FormShow();
    } catch (...) {
        lianbu::reportCurrentException();
    }
    activateWindow();
    QTimer::singleShot(0, this, &TMainForm::activateIfNoFocusCame);
}

void TMainForm::activateIfNoFocusCame()
{
    // Some desktops (and a display without a window manager) never give a new window the
    // focus; the first activation, which puts the login in front of all work, must happen all
    // the same. A focus that comes later then finds this window already active.
    if (!m_lastFocusWindow && isVisible())
        onFocusWindowChanged(windowHandle());
}

void TMainForm::FormShow()
{
    ui->DBGridEh1->RestoreLayoutFromIni(lianbu::paths::settingsFilePath(),
                                        QStringLiteral("lianbugrid"),
                                        TDBGridEhRestoreOptions(AllRestoreOptions));
    // The data module exists from here on: the grid can be bound to the customer list.
    ui->DBGridEh1->setDataSource(dmfm->DataSource15);
    dmfm->ADOTable5->open();
    ui->Panel3->hide();
    lianbu::setHintPause(0);
    ui->DBDateTimeEditEh1->setDateTime(lianbu::now());
    RestoreSkin();
    // Dates become text as yyyy-MM-dd everywhere through the clock's date texts.
    m_panels[2]->setText(QStringLiteral("今天：") + lianbu::dateText(lianbu::today()));
}

void TMainForm::onFocusWindowChanged(QWindow *window)
{
    // Activation counts when the focus comes to this window from none of ours or from another
    // of our windows; leaving the application and coming back leaves the last window unchanged.
    if (!window)
        return;
    QWindow *previous = m_lastFocusWindow;
    m_lastFocusWindow = window;
    if (window == windowHandle() && previous != window) {
        try {
            FormActivate();
        } catch (...) {
            lianbu::reportCurrentException();
        }
    }
}

void TMainForm::FormActivate()
{
    N18->trigger();
    if (Tag == 0 && LoginDialog)
        LoginDialog->exec();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    try {
        FormClose();
    } catch (...) {
        lianbu::reportCurrentException();
    }
    event->accept();
}

void TMainForm::FormClose()
{
    const QString statement = lianbu::sql::sessionEnd(lianbu::dateTimeText(lianbu::now()), Tag);
    if (QString::number(Tag) != QLatin1String("0"))
        ExecStatement(dmfm->ADOQuery1, statement);
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize()
{
    // The lower area keeps its height; the grid absorbs every change of the window's height.
    QWidget *client = centralWidget();
    const int lower = ui->Panel1->height();
    const int gridHeight = qMax(0, client->height() - lower);
    ui->DBGridEh1->setGeometry(0, 0, client->width(), gridHeight);
    ui->Panel1->setGeometry(0, gridHeight, client->width(), lower);
}

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // The border is fixed in the normal state only; maximised, the window takes the screen.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else if (!(windowState() & Qt::WindowMinimized)) {
        setFixedSize(kClientWidth, kClientHeight);
    }
}

QWidget *findWindowOfExactClass(const QMetaObject &meta)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->metaObject() == &meta)
            return window;
    }
    return nullptr;
}

void showExistingForm(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    else if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
    window->setFocus();
}
