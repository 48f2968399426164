#include "app/MainWindow.h"

#include "app/HintPause.h"
#include "appearance/SkinCommands.h"
#include "customers/CustomerExport.h"
#include "customers/CustomerList.h"
#include "customers/CustomerSearch.h"
#include "customers/EntryPanel.h"
#include "customers/ExchangeCommands.h"
#include "customers/PrintCommand.h"
#include "customers/QuickSearchBar.h"
#include "data/ChangeLog.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"
#include "data/SessionLog.h"
#include "db/Connection.h"
#include "followups/FollowUpCommands.h"
#include "grid/DataGrid.h"
#include "operators/LoginDialog.h"
#include "operators/OperatorCommands.h"
#include "platform/AppInfo.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/VendorAddresses.h"
#include "upgrade/Upgrader.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QPointer>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <memory>

namespace {

// Client size of the window at design, and the smallest it may become: the lower area's
// controls whole and a few rows of the grid.
constexpr int kClientWidth = 973;
constexpr int kClientHeight = 629;
constexpr int kMinimumGridHeight = 120;
// Where the quick-search bar sits in the lower area and the entry panel over the grid.
constexpr QPoint kQuickSearchBarPlace(18, 13);
constexpr QPoint kEntryPanelPlace(192, 281);

} // namespace

MainWindow::MainWindow(Database &database, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_database(database)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(lianbu::applicationTitle());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    resize(kClientWidth, kClientHeight);

    buildStatusBar();
    buildCustomerParts();
    buildMenus();
    buildFollowUps();
    buildAppearance();
    buildKeys();
    upgrader = lianbu::upgrade::createMainUpgrader(this);
    // The design size is the preferred one; below the minimum the lower area's controls would
    // be cut.
    setMinimumSize(minimumClientSize());

    connect(checkForUpgradeAction, &QAction::triggered, this, &MainWindow::checkForUpgrade);
    connect(changePasswordAction, &QAction::triggered, this,
            [this] { lianbu::operators::openChangePassword(m_database, this); });
    connect(manageOperatorsAction, &QAction::triggered, this,
            [this] { lianbu::operators::openOperatorAdmin(m_database, this); });
    connect(backUpDataAction, &QAction::triggered, this, &MainWindow::backUpData);
    connect(restoreDataAction, &QAction::triggered, this, &MainWindow::restoreData);
    connect(serverConnectionAction, &QAction::triggered, this, &MainWindow::openServerConnection);
    connect(ui->printButton, &QToolButton::clicked, this, &MainWindow::printCustomerList);
    connect(ui->exportButton, &QToolButton::clicked, this, &MainWindow::exportCustomerList);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &MainWindow::onFocusWindowChanged);
    // A server connection the server dropped is opened again by the next action; the operator
    // learns it happened, briefly.
    QPointer<QStatusBar> bar = ui->statusBar;
    lianbu::db::setReconnectionNotice([bar](const QString &) {
        if (bar)
            bar->showMessage(QStringLiteral("与数据库服务器的连接中断过，已重新连接。"), 8000);
    });
}

MainWindow::~MainWindow()
{
    // The controls send events to the window's filters while they are destroyed; destroy them
    // while the window (and its form) is still whole.
    delete centralWidget();
    delete ui;
}

QLabel *MainWindow::statusPanel(int index) const
{
    return m_panels[index];
}

void MainWindow::openSession(const QString &operatorName, int sessionId)
{
    m_panels[1]->setText(operatorName);
    m_sessionId = sessionId;
    // Who changes passwords and customers from now on.
    m_database.sessionOperator = operatorName;
    m_database.customerStore->setOperator(operatorName);
    applyRights(lianbu::data::rightsOf(*m_database.connection, operatorName));
    m_followUps->remindAtLogin();
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
    const Qt::Alignment alignments[4] = {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter, Qt::AlignCenter,
                                         Qt::AlignRight | Qt::AlignVCenter};
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
    m_registerPanel->setToolTip(lianbu::db::describeRegister(shown));
    // What is left of the fixed-width window after the four panels (the whole text is its tip).
    m_registerPanel->setText(
        m_registerPanel->fontMetrics().elidedText(lianbu::db::describeRegisterBriefly(shown), Qt::ElideMiddle, 150));
    bar->addWidget(m_registerPanel, 1);
}

void MainWindow::buildCustomerParts()
{
    using namespace lianbu::customers;
    m_customerList = new CustomerList(ui->customerGrid, m_database, this);
    ui->deleteButton->setEnabled(false);
    m_quickSearchBar = new QuickSearchBar(m_database, ui->lowerArea);
    m_quickSearchBar->move(kQuickSearchBarPlace);
    m_entryPanel = new EntryPanel(m_database, centralWidget());
    m_entryPanel->move(kEntryPanelPlace);
    // The parts are made after the form: the search bar goes back under the toolbar, and Tab
    // reaches the toolbar's buttons after "搜索" and before the entry panel, as the controls
    // stand in the window. The panel, made last, lies above the grid and the lower area.
    m_quickSearchBar->stackUnder(ui->toolBar);
    QWidget *previous = m_quickSearchBar->lastTabStop();
    for (QToolButton *button :
         {ui->newButton, ui->deleteButton, ui->printButton, ui->exportButton, ui->settingsButton, ui->supportButton}) {
        setTabOrder(previous, button);
        previous = button;
    }

    connect(m_customerList, &CustomerList::rowClicked, ui->deleteButton,
            [this] { ui->deleteButton->setEnabled(m_rights.allows(lianbu::data::Right::Delete)); });
    connect(m_customerList, &CustomerList::recordLoadRequested, m_entryPanel, &EntryPanel::loadRecordIntoPanel);
    m_quickSearchBar->setCurrentKeySource([this] { return m_customerList->currentCustomer().key; });
    connect(m_quickSearchBar, &QuickSearchBar::resultShown, this, [this](qint64 key) {
        m_chooseWhenListed = 0; // a search came in between
        if (key != 0)
            m_customerList->makeCustomerCurrent(key);
    });
    connect(m_quickSearchBar, &QuickSearchBar::allRecordsShown, this, [this] {
        m_customerList->makeLastRowCurrent();
        if (const qint64 kept = std::exchange(m_keepAfterReload, 0))
            m_customerList->makeCustomerCurrent(kept);
        chooseListedCustomer();
    });
    lianbu::data::ChangeWatcher *watcher = m_database.changeWatcher;
    connect(watcher, &lianbu::data::ChangeWatcher::changed, m_database.customerList,
            &lianbu::data::CustomerListModel::applyChanges);
    connect(watcher, &lianbu::data::ChangeWatcher::changed, m_entryPanel, &EntryPanel::changedElsewhere);
    connect(watcher, &lianbu::data::ChangeWatcher::fellBehind, this, &MainWindow::reloadOutdatedList);
    connect(m_database.customerList, &lianbu::data::CustomerListModel::listOutdated, this,
            &MainWindow::reloadOutdatedList);
    connect(m_quickSearchBar, &QuickSearchBar::customerToShow, m_customerList, &CustomerList::makeCustomerCurrent);
    connect(m_customerList, &CustomerList::customerDeleted, m_entryPanel, &EntryPanel::customerDeleted);
    connect(m_quickSearchBar, &QuickSearchBar::categoryEntered, m_entryPanel, &EntryPanel::continueFromSearchCategory);
    connect(m_entryPanel, &EntryPanel::customerSaved, this, [this](const QString &category, qint64 key) {
        m_quickSearchBar->showAllRecordsAfterChange(category, key);
        ui->deleteButton->setEnabled(false);
    });
    connect(ui->newButton, &QToolButton::clicked, m_entryPanel, &EntryPanel::startNewCustomer);
    connect(ui->deleteButton, &QToolButton::clicked, this, &MainWindow::deleteSelectedCustomer);
}

void MainWindow::showAllRecords()
{
    m_quickSearchBar->showAllRecords();
}

void MainWindow::reloadOutdatedList()
{
    lianbu::data::CustomerListModel *list = m_database.customerList;
    if (list->statement() == lianbu::sql::allRecords() && list->statementValues().isEmpty()) {
        m_keepAfterReload = m_customerList->currentCustomer().key;
        list->loadEveryRecord();
    } else {
        m_quickSearchBar->runQuickSearch(); // keeps the current customer
    }
}

void MainWindow::chooseListedCustomer()
{
    const qint64 key = std::exchange(m_chooseWhenListed, 0);
    const int row = key != 0 ? m_database.customerList->rowOfKey(key) : -1;
    // Shown to be changed or deleted: 删除 takes it, not the row clicked before.
    if (row >= 0) {
        ui->customerGrid->setCurrentRow(row);
        m_customerList->chooseCurrentRow();
    }
}

void MainWindow::deleteSelectedCustomer()
{
    // The customer loaded in the entry panel, else the one clicked last, whatever row is current.
    const std::optional<lianbu::data::CustomerRecord> loaded = m_entryPanel->loadedCustomer();
    if (m_customerList->deleteCustomer(loaded ? *loaded : m_customerList->clickedCustomer()))
        ui->deleteButton->setEnabled(false);
}

void MainWindow::printCustomerList()
{
    if (!mayUse(lianbu::data::Right::Print))
        return;
    const lianbu::data::SessionOperator by = sessionOperator();
    lianbu::customers::printCustomerList(ui->customerGrid, this, &by);
}

void MainWindow::exportCustomerList()
{
    if (!mayUse(lianbu::data::Right::Export))
        return;
    const lianbu::data::SessionOperator by = sessionOperator();
    lianbu::customers::exportCustomerList(ui->customerGrid, this, &by);
}

void MainWindow::buildAppearance()
{
    using namespace lianbu::skins;
    skinCatalog = createSkinCatalog(this);
    // The main window's own skin governs every window; it takes over in onFirstShow, before the
    // first paint, once the window's controls are fully set up.
    skinController = createSkinController(this);
    const QList<QAction *> skins{blackClassicSkinAction, blueFantasySkinAction, dreamSkySkinAction,
                                 blackReverieSkinAction, dreamComeTrueSkinAction};
    for (int i = 0; i < skins.size(); ++i)
        connect(skins[i], &QAction::triggered, this, [this, i] { chooseSkin(skinController, skinCatalog, i); });
    connect(ui->supportButton, &QToolButton::clicked, this, &openSupportPage);

    // The help commands have no button of their own; the operator finds them at the end of
    // the "设 置" drop-down, where the other program-wide commands are.
    helpMenu = new QMenu(this);
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpAction = helpMenu->addAction(QStringLiteral("帮助主题"));
    helpAction->setObjectName(QStringLiteral("helpAction"));
    homePageAction = helpMenu->addAction(QStringLiteral("官方主页"));
    homePageAction->setObjectName(QStringLiteral("homePageAction"));
    aboutAction = helpMenu->addAction(QStringLiteral("关于"));
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    QAction *separator = settingsMenu->addSeparator();
    separator->setObjectName(QStringLiteral("helpSeparator"));
    settingsMenu->addActions({helpAction, homePageAction, aboutAction});
    connect(helpAction, &QAction::triggered, this, [this] { openHelp(this); });
    connect(homePageAction, &QAction::triggered, this, &openHomePage);
    connect(aboutAction, &QAction::triggered, this, [this] { showAbout(this); });
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
    m_importAction =
        lianbu::customers::addExchangeCommands(
            settingsMenu, this, [this] { return m_database.connection->database(); }, [this] { showAllRecords(); },
            [this](qint64 id) {
                m_chooseWhenListed = id;
                if (m_database.customerList->rowOfKey(id) >= 0)
                    chooseListedCustomer();
                else
                    showAllRecords(); // chosen when every record is there
            },
            [this] { return sessionOperator(); })
            .importAction;
    // Deleted customers, for looking at, putting back or removing for good.
    m_recycleBinAction = settingsMenu->addAction(QStringLiteral("回收站…"));
    m_recycleBinAction->setObjectName(QStringLiteral("recycleBinAction"));
    connect(m_recycleBinAction, &QAction::triggered, this, &MainWindow::openRecycleBin);
    // Who did what: for the super administrator and 管理员.
    m_operationLogAction = settingsMenu->addAction(QStringLiteral("操作日志…"));
    m_operationLogAction->setObjectName(QStringLiteral("operationLogAction"));
    connect(m_operationLogAction, &QAction::triggered, this, &MainWindow::openOperationLog);
#ifdef LIANBU_STATISTICS
    // The register as charts; a click on one shows those customers in the list.
    m_statisticsAction = settingsMenu->addAction(QStringLiteral("客户统计…"));
    m_statisticsAction->setObjectName(QStringLiteral("statisticsAction"));
    m_statisticsAction->setShortcut(QKeySequence(Qt::Key_F9));
    addAction(m_statisticsAction); // the key works while the menu is closed
    connect(m_statisticsAction, &QAction::triggered, this, &MainWindow::openStatistics);
#endif

    // Never offered to the operator: onActivated triggers it.
    checkForUpgradeAction = new QAction(QStringLiteral("检查升级"), this);
    checkForUpgradeAction->setObjectName(QStringLiteral("checkForUpgradeAction"));
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
        placeOnScreen(screen->availableGeometry());
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
    m_customerList->restoreLayoutAndShowList();
    // Nothing reads the customers here: new records are appended through the list itself.
    m_entryPanel->hide();
    // From now on the list follows what other instances write.
    try {
        m_database.changeWatcher->start();
    } catch (const lianbu::Error &) {
        // A register the feed cannot be read from still works: the list follows its own writes.
    }
    lianbu::setHintPause(0);
    m_entryPanel->showTodayAsRegistrationDate();
    lianbu::skins::restoreSkin(skinController, skinCatalog);
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
        // While the password is typed the list's worker gets ready for the first list.
        m_database.customerList->prepareEveryRecord();
        m_loginDialog->exec();
        // The first login of a day leaves a copy of the register behind.
        // A server register is backed up on the server.
        if (m_sessionId && !m_database.connection->isServer())
            backUpOnceListed();
    }
}

void MainWindow::backUpOnceListed()
{
    // The copy reads the whole file: beside the first list it would slow it down.
    auto start = [this, who = m_database.sessionOperator] {
        lianbu::backUpRegisterDaily(this, m_database.connection->fileName(), who);
    };
    lianbu::data::CustomerListModel *list = m_database.customerList;
    if (!list->loading()) {
        start();
        return;
    }
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(list, &lianbu::data::CustomerListModel::loadEnded, this, [once, start] {
        QObject::disconnect(*once);
        start();
    });
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
    keepEntryPanelInside();
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

QSize MainWindow::minimumClientSize() const
{
    const QWidget *lower = ui->lowerArea;
    int right = 0;
    for (const QWidget *child : lower->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        right = qMax(right, child->geometry().right() + 1);
    return {right + kQuickSearchBarPlace.x(), kMinimumGridHeight + lower->height() + ui->statusBar->height()};
}

QSize fittedClientSize(QSize preferred, QSize minimum, QSize available, QSize frame)
{
    const QSize room = (available - frame).expandedTo(QSize(0, 0));
    return preferred.boundedTo(room).expandedTo(minimum);
}

void MainWindow::placeOnScreen(const QRect &available)
{
    // The design size where it fits (at 200 % a 1920×1080 screen offers 960×540); the frame
    // the desktop adds is not known before the first showing, so a typical one is allowed for.
    QSize frame = frameGeometry().size() - size();
    if (frame.width() <= 0 && frame.height() <= 0)
        frame = QSize(16, 40);
    resize(fittedClientSize(QSize(kClientWidth, kClientHeight), minimumSize(), available.size(), frame));
    const QSize outer = size() + frame;
    QPoint topLeft = available.center() - QPoint(outer.width() / 2, outer.height() / 2);
    // The title bar never leaves the screen at the top or the left.
    topLeft.setX(qMax(available.left(), topLeft.x()));
    topLeft.setY(qMax(available.top(), topLeft.y()));
    move(topLeft);
}

void MainWindow::keepEntryPanelInside()
{
    QWidget *area = centralWidget();
    const QPoint at = m_entryPanel->pos();
    const QPoint inside(qBound(0, at.x(), qMax(0, area->width() - m_entryPanel->width())),
                        qBound(0, at.y(), qMax(0, area->height() - m_entryPanel->height())));
    if (inside != at)
        m_entryPanel->move(inside);
}

void MainWindow::buildKeys()
{
    // Esc leaves the entry panel as its close picture does; the key is taken only while the
    // panel shows, so dialogs and drop-downs keep their own Esc.
    auto *closePanel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    closePanel->setObjectName(QStringLiteral("closeEntryPanelShortcut"));
    closePanel->setContext(Qt::WindowShortcut);
    closePanel->setEnabled(false);
    m_entryPanel->installEventFilter(this);
    connect(closePanel, &QShortcut::activated, m_entryPanel, [this] {
        const bool hadFocus = m_entryPanel->isAncestorOf(QApplication::focusWidget());
        m_entryPanel->closeEntryPanel();
        if (hadFocus)
            ui->customerGrid->view()->setFocus(Qt::ShortcutFocusReason);
    });
    m_closePanelShortcut = closePanel;

    auto *find = new QShortcut(QKeySequence::Find, this);
    find->setObjectName(QStringLiteral("quickSearchShortcut"));
    connect(find, &QShortcut::activated, m_quickSearchBar, &lianbu::customers::QuickSearchBar::focusSearch);

    helpAction->setShortcut(QKeySequence::HelpContents);
    helpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(helpAction);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_entryPanel && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        m_closePanelShortcut->setEnabled(event->type() == QEvent::Show);
        if (event->type() == QEvent::Show)
            keepEntryPanelInside();
    }
    return QMainWindow::eventFilter(watched, event);
}
