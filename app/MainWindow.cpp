#include "app/MainWindow.h"
#include "customers/ExchangeCommands.h"

#include "platform/AppInfo.h"
#include "app/HintPause.h"
#include "platform/VendorAddresses.h"
#include "customers/CustomerSearch.h"
#include "customers/CustomerGrid.h"
#include "grid/DataGrid.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"
#include "data/SessionLog.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "operators/LoginDialog.h"
#include "upgrade/Upgrader.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QDialog>
#include <QGuiApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QTimer>
#include <QWindow>

namespace {

// Client size of the window at design and the height of the lower area below the grid.
constexpr int kClientWidth = 973;
constexpr int kClientHeight = 629;

} // namespace

MainWindow::MainWindow(Database &database, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_database(database)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("mainWindow"));
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
    upgrader = lianbu::upgrade::createMainUpgrader(this);

    connect(checkForUpgradeAction, &QAction::triggered, this, &MainWindow::checkForUpgrade);
    connect(changePasswordAction, &QAction::triggered, this, &MainWindow::openChangePassword);
    connect(manageOperatorsAction, &QAction::triggered, this, &MainWindow::openOperatorAdmin);
    connect(backUpDataAction, &QAction::triggered, this, &MainWindow::backUpData);
    connect(restoreDataAction, &QAction::triggered, this, &MainWindow::restoreData);
    connect(serverConnectionAction, &QAction::triggered, this, &MainWindow::openServerConnection);
    connect(ui->printButton, &QToolButton::clicked, this, &MainWindow::printCustomerList);
    connect(ui->exportButton, &QToolButton::clicked, this, &MainWindow::exportCustomerList);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &MainWindow::onFocusWindowChanged);
}

MainWindow::~MainWindow()
{
    // The controls send events to the window's filters while they are destroyed; destroy them
    // while the window (and its form) is still whole.
    delete centralWidget();
    delete ui;
}

QLabel *MainWindow::statusPanel(int index) const { return m_panels[index]; }

void MainWindow::openSession(const QString &operatorName, int sessionId)
{
    m_panels[1]->setText(operatorName);
    m_sessionId = sessionId;
}

void MainWindow::setLoginDialog(LoginDialog *dialog)
{
    m_loginDialog = dialog;
    followLogin(dialog);
}

void MainWindow::followLogin(LoginDialog *dialog)
{
    // The list is read while the password is confirmed, before the dialog closes; the session
    // row exists once it has closed.
    connect(dialog, &LoginDialog::passwordAccepted, this, &MainWindow::showAllRecords);
    connect(dialog, &LoginDialog::sessionOpened, this, [this](const QString &name, int id) {
        activateWindow();
        openSession(name, id);
    });
    connect(dialog, &LoginDialog::loginAbandoned, this, &QWidget::close);
}

void MainWindow::buildStatusBar()
{
    const int widths[4] = {250, 100, 120, 300};
    const Qt::Alignment alignments[4] = {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter,
                                         Qt::AlignCenter, Qt::AlignRight | Qt::AlignVCenter};
    QStatusBar *bar = ui->statusBar;
    bar->setFixedHeight(19);
    for (int i = 0; i < 4; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("statusPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setAlignment(alignments[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
    m_panels[1]->setText(QStringLiteral("操作员："));
    m_panels[3]->setText(lianbu::vendorWebAddress());
    // Which register this window works on: with several PCs on one server, and a local file
    // still possible, the operator must be able to see which one he is changing.
    m_registerPanel = new QLabel(bar);
    m_registerPanel->setObjectName(QStringLiteral("registerPanel"));
    m_registerPanel->setFrameShape(QFrame::Panel);
    m_registerPanel->setFrameShadow(QFrame::Sunken);
    const lianbu::db::RegisterAddress &address = m_database.connection->address();
    lianbu::db::RegisterAddress shown = address;
    if (!shown.isServer())
        shown.file = QFileInfo(address.file).absoluteFilePath();
    const QString text = lianbu::db::describeRegister(shown);
    m_registerPanel->setToolTip(text);
    // What is left of the fixed-width window after the four panels (the whole text is its tip).
    m_registerPanel->setText(m_registerPanel->fontMetrics().elidedText(text, Qt::ElideMiddle, 150));
    bar->addWidget(m_registerPanel, 1);
}

void MainWindow::buildMenus()
{
    settingsMenu = new QMenu(this);
    settingsMenu->setObjectName(QStringLiteral("settingsMenu"));
    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    changePasswordAction = item(settingsMenu, "changePasswordAction", QStringLiteral("修改密码"));
    manageOperatorsAction = item(settingsMenu, "manageOperatorsAction", QStringLiteral("用户管理"));
    backUpDataAction = item(settingsMenu, "backUpDataAction", QStringLiteral("备份数据…"));
    restoreDataAction = item(settingsMenu, "restoreDataAction", QStringLiteral("恢复数据…"));
    serverConnectionAction = item(settingsMenu, "serverConnectionAction", QStringLiteral("数据库连接…"));
    settingsSeparator = settingsMenu->addSeparator();
    settingsSeparator->setObjectName(QStringLiteral("settingsSeparator"));
    blackClassicSkinAction = item(settingsMenu, "blackClassicSkinAction", QStringLiteral("黑色经典(皮肤)"));
    blueFantasySkinAction = item(settingsMenu, "blueFantasySkinAction", QStringLiteral("蓝色幻想(皮肤)"));
    dreamSkySkinAction = item(settingsMenu, "dreamSkySkinAction", QStringLiteral("梦幻天空(皮肤)"));
    blackReverieSkinAction = item(settingsMenu, "blackReverieSkinAction", QStringLiteral("黑色遐想(皮肤)"));
    dreamComeTrueSkinAction = item(settingsMenu, "dreamComeTrueSkinAction", QStringLiteral("梦想成真(皮肤)"));
    ui->settingsButton->setMenu(settingsMenu);
    ui->settingsButton->setPopupMode(QToolButton::InstantPopup);

    // Customers in from files, and the likely duplicates among them. A customer the 查重 list
    // opens is looked up in the current list, else in all records, and made current.
    lianbu::customers::addExchangeCommands(
        settingsMenu, this, [this] { return m_database.connection->database(); }, [this] { showAllRecords(); },
        [this](qint64 id) {
            lianbu::db::Query *list = m_database.customerList;
            int row = list->active() ? list->rowOfKey(id) : -1;
            if (row < 0) {
                showAllRecords();
                row = list->rowOfKey(id);
            }
            if (row >= 0)
                list->moveToRow(row);
        });

    // Never offered to the operator: onActivated triggers it.
    checkForUpgradeAction = new QAction(QStringLiteral("检查升级"), this);
    checkForUpgradeAction->setObjectName(QStringLiteral("checkForUpgradeAction"));

    gridContextMenu = new QMenu(this);
    gridContextMenu->setObjectName(QStringLiteral("gridContextMenu"));
    saveColumnLayoutAction = item(gridContextMenu, "saveColumnLayoutAction", QStringLiteral("保存当前列状态"));
    gridMenuSeparator = gridContextMenu->addSeparator();
    gridMenuSeparator->setObjectName(QStringLiteral("gridMenuSeparator"));
    const struct { const char *name; const char *caption; } hides[11] = {
        {"hideCategoryAction", "隐藏客户类别"}, {"hideShortNameAction", "隐藏客户简称"},
        {"hideSexAction", "隐藏性别"},          {"hidePositionAction", "隐藏职务"},
        {"hideFaxAction", "隐藏传真"},          {"hideAddressAction", "隐藏地址"},
        {"hideCompanyAction", "隐藏单位"},      {"hidePostcodeAction", "隐藏邮编"},
        {"hideEmailAction", "隐藏电子邮件"},    {"hideNotesAction", "隐藏备注"},
        {"hideRegistrationDateAction", "隐藏登记日期"},
    };
    for (int i = 0; i < 11; ++i) {
        QAction *action = item(gridContextMenu, hides[i].name, QString::fromUtf8(hides[i].caption));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, i] { toggleColumnFromMenu(i); });
        hideColumnActions.append(action);
    }
    connect(saveColumnLayoutAction, &QAction::triggered, this, &MainWindow::saveColumnLayout);
}

bool MainWindow::event(QEvent *event)
{
    // The long hint of the control under the pointer goes to the first panel only.
    if (event->type() == QEvent::StatusTip) {
        m_panels[0]->setText(static_cast<QStatusTipEvent *>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    try {
        onFirstShow();
    } catch (...) {
        lianbu::reportCurrentException();
    }
    activateWindow();
    QTimer::singleShot(0, this, &MainWindow::activateIfNoFocusCame);
}

void MainWindow::activateIfNoFocusCame()
{
    // Some desktops (and a display without a window manager) never give a new window the
    // focus; the first activation, which puts the login in front of all work, must happen all
    // the same. A focus that comes later then finds this window already active.
    if (!m_lastFocusWindow && isVisible())
        onFocusWindowChanged(windowHandle());
}

void MainWindow::onFirstShow()
{
    ui->customerGrid->restoreLayoutFromIni(lianbu::paths::settingsFilePath(),
                                        QLatin1String(lianbu::customers::kLayoutSection),
                                        LayoutRestoreOptions(AllRestoreOptions));
    // The data module exists from here on: the grid can be bound to the customer list.
    ui->customerGrid->setDataSource(m_database.customerListSource);
    // Nothing reads the customers here: new records are appended through the list itself.
    ui->entryPanel->hide();
    lianbu::setHintPause(0);
    ui->registrationDateEdit->setDateTime(lianbu::now());
    restoreSkin();
    // Dates become text as yyyy-MM-dd everywhere through the clock's date texts.
    m_panels[2]->setText(QStringLiteral("今天：") + lianbu::dateText(lianbu::today()));
}

void MainWindow::onFocusWindowChanged(QWindow *window)
{
    // Activation counts when the focus comes to this window from none of ours or from another
    // of our windows; leaving the application and coming back leaves the last window unchanged.
    if (!window)
        return;
    QWindow *previous = m_lastFocusWindow;
    m_lastFocusWindow = window;
    if (window == windowHandle() && previous != window) {
        try {
            onActivated();
        } catch (...) {
            lianbu::reportCurrentException();
        }
    }
}

void MainWindow::onActivated()
{
    checkForUpgradeAction->trigger();
    if (!m_sessionId && m_loginDialog) {
        m_loginDialog->exec();
        // The first login of a day leaves a copy of the register behind.
        // A server register is backed up on the server.
        if (m_sessionId && !m_database.connection->isServer())
            lianbu::backUpRegisterDaily(this, m_database.connection->fileName());
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    try {
        endSession();
    } catch (...) {
        lianbu::reportCurrentException();
    }
    event->accept();
}

void MainWindow::endSession()
{
    if (m_sessionId)
        lianbu::data::endSession(*m_database.connection, *m_sessionId, lianbu::now());
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layoutGridAndLowerArea();
}

void MainWindow::layoutGridAndLowerArea()
{
    // The lower area keeps its height; the grid absorbs every change of the window's height.
    QWidget *client = centralWidget();
    const int lower = ui->lowerArea->height();
    const int gridHeight = qMax(0, client->height() - lower);
    ui->customerGrid->setGeometry(0, 0, client->width(), gridHeight);
    ui->lowerArea->setGeometry(0, gridHeight, client->width(), lower);
}

void MainWindow::changeEvent(QEvent *event)
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
