#pragma once

#include "data/OperatorRights.h"
#include "operators/LoginDialog.h"

#include <QMainWindow>
#include <QPointer>

#include <optional>

namespace lianbu::data {
class SessionOperator;
}

class Database;
class QAction;
class QLabel;
class QMenu;
class QShortcut;
class QWindow;
class SkinController;
class SkinCatalog;
namespace lianbu::customers {
class CustomerList;
class EntryPanel;
class QuickSearchBar;
} // namespace lianbu::customers
namespace lianbu::upgrade {
class Upgrader;
}
namespace lianbu::followups {
class FollowUpCommands;
}

namespace Ui {
class MainWindow;
}

// The main window's frame: the toolbar, the "设 置" menu, the status bar, the session gate, the
// start-up, activation and closing. It places the customer list, the quick-search bar and the
// entry panel and wires them to each other and to the commands of the other folders.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(Database &database, QWidget *parent = nullptr);
    ~MainWindow() override;

    Database &database() const { return m_database; }

    // The id of the open session's rz row; none while no operator is logged in.
    std::optional<int> sessionId() const { return m_sessionId; }
    // The operator's session is open: the status bar names the operator.
    void openSession(const QString &operatorName, int sessionId);

    // Status bar panels 0..3.
    QLabel *statusPanel(int index) const;

    lianbu::customers::CustomerList *customerList() const { return m_customerList; }
    lianbu::customers::QuickSearchBar *quickSearchBar() const { return m_quickSearchBar; }
    lianbu::customers::EntryPanel *entryPanel() const { return m_entryPanel; }
    // 跟进记录 and 待办提醒 (app/FollowUpHooks.cpp).
    lianbu::followups::FollowUpCommands *followUpCommands() const;

    // The settings drop-down of "设 置" and its items.
    QMenu *settingsMenu = nullptr;
    QAction *changePasswordAction = nullptr;    // 修改密码
    QAction *manageOperatorsAction = nullptr;   // 用户管理
    QAction *backUpDataAction = nullptr;        // 备份数据…
    QAction *restoreDataAction = nullptr;       // 恢复数据…
    QAction *serverConnectionAction = nullptr;  // 数据库连接…
    QAction *settingsSeparator = nullptr;       // separator
    QAction *blackClassicSkinAction = nullptr;  // 黑色经典(皮肤)
    QAction *blueFantasySkinAction = nullptr;   // 蓝色幻想(皮肤)
    QAction *dreamSkySkinAction = nullptr;      // 梦幻天空(皮肤)
    QAction *blackReverieSkinAction = nullptr;  // 黑色遐想(皮肤)
    QAction *dreamComeTrueSkinAction = nullptr; // 梦想成真(皮肤)
    // Invoked by the program only, never offered to the operator.
    QAction *checkForUpgradeAction = nullptr; // 检查升级
    // The upgrade component that checkForUpgradeAction runs.
    lianbu::upgrade::Upgrader *upgrader = nullptr;

    // The skin component, its store and the help commands (helpMenu; offered at the end of the
    // "设 置" drop-down).
    SkinController *skinController = nullptr;
    SkinCatalog *skinCatalog = nullptr;
    QMenu *helpMenu = nullptr;
    QAction *helpAction = nullptr;     // 帮助主题
    QAction *homePageAction = nullptr; // 官方主页
    QAction *aboutAction = nullptr;    // 关于

    // The login dialog, shown modally while no session is open (set at start-up). Its outcome
    // opens the session or ends the program.
    void setLoginDialog(LoginDialog *dialog);
    // Only the outcome: a dialog shown by someone else opens the session or ends the program.
    void followLogin(LoginDialog *dialog);
    LoginDialog *loginDialog() const { return m_loginDialog; }

public slots:
    void onFirstShow();
    void onActivated();
    void endSession();
    void layoutGridAndLowerArea();
    // "全部记录": every customer listed (the login runs it once the password is confirmed).
    void showAllRecords();
    void deleteSelectedCustomer(); // 删 除
    void printCustomerList();      // 打 印
    void exportCustomerList();     // 导 出
    void checkForUpgrade();        // app/UpgradeCommand.cpp
    void backUpData();             // app/BackupCommands.cpp
    void restoreData();            // app/BackupCommands.cpp
    // Damage found while the program runs: 恢复数据… offered at once, with or without a login.
    void offerRestoreOfDamage(const QString &problem); // app/BackupCommands.cpp
    void openServerConnection();                       // app/BackupCommands.cpp
    // What the operator of the session may do: a command he may not use is disabled and its
    // tooltip says why (app/SessionRights.cpp). Until a session opens nothing is restricted.
    void applyRights(const lianbu::data::Rights &rights);
    const lianbu::data::Rights &rights() const { return m_rights; }

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The customer the 查重 list opened (m_chooseWhenListed), if the list shows it.
    void chooseListedCustomer();
    // The writes of others were too many to follow row by row: the list is read again in the
    // background, its current customer kept.
    void reloadOutdatedList();
    void restoreRegisterOfThisWindow(const QString &damage); // app/BackupCommands.cpp
    void buildStatusBar();
    void buildMenus();
    void buildCustomerParts();
    void buildAppearance();
    void buildKeys();
    QSize minimumClientSize() const;
    // The design size where the screen has room for it, centred, the title bar on the screen.
    void placeOnScreen(const QRect &available);
    // The entry panel stays reachable when the window becomes smaller.
    void keepEntryPanelInside();
    void onFocusWindowChanged(QWindow *window);
    void activateIfNoFocusCame();
    // The day's backup, started once the first list is on screen.
    void backUpOnceListed();

    Ui::MainWindow *ui;
    Database &m_database;
    lianbu::customers::CustomerList *m_customerList = nullptr;
    // The customer the 查重 list opened, made current and chosen once the list shows it.
    qint64 m_chooseWhenListed = 0;
    // The customer current when the list was read again for the writes of others.
    qint64 m_keepAfterReload = 0;
    lianbu::customers::QuickSearchBar *m_quickSearchBar = nullptr;
    lianbu::customers::EntryPanel *m_entryPanel = nullptr;
    std::optional<int> m_sessionId;
    QPointer<LoginDialog> m_loginDialog;
    QLabel *m_panels[4] = {};
    QLabel *m_registerPanel = nullptr; // which register is open
    bool m_shown = false;
    QWindow *m_lastFocusWindow = nullptr;
    QShortcut *m_closePanelShortcut = nullptr;
    QAction *m_importAction = nullptr;
    QAction *m_recycleBinAction = nullptr; // 回收站…
    void openRecycleBin();
    QAction *m_operationLogAction = nullptr; // 操作日志…
    void openOperationLog();
    QAction *m_statisticsAction = nullptr; // 客户统计… (a build with Qt Charts)
    void openStatistics();
    void buildFollowUps(); // app/FollowUpHooks.cpp
    lianbu::followups::FollowUpCommands *m_followUps = nullptr;
    lianbu::data::Rights m_rights{lianbu::data::Role::Administrator, 0, true};
    // True when the operator may use `right`; otherwise the refusal is shown (app/SessionRights.cpp).
    bool mayUse(lianbu::data::Right right);
    // The operator of the session on this window's register, for the services that check rights.
    lianbu::data::SessionOperator sessionOperator() const;
};

// The window's client size on a screen with `available` room, given the frame the desktop adds:
// `preferred` where it fits, never below `minimum`.
QSize fittedClientSize(QSize preferred, QSize minimum, QSize available, QSize frame);
