#pragma once

#include "db/DataSet.h"
#include "operators/LoginDialog.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace lianbu::customers { class CustomerSearch; }

class QAction;
class Database;

class QKeyEvent;
class QLabel;
class QMenu;
class QWindow;
class GridColumn;
class SkinController;
class SkinCatalog;
namespace lianbu::upgrade {
class Upgrader;
}

namespace Ui {
class MainWindow;
}

// The main window: customer grid, entry panel, quick search, toolbar and status bar.
// Its customer commands are defined in customers/; this file holds the frame: start-up steps,
// activation, closing, resizing and the opening of secondary windows.
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

    // The settings drop-down of "设 置" and its items.
    QMenu *settingsMenu = nullptr;
    QAction *changePasswordAction = nullptr; // 修改密码
    QAction *manageOperatorsAction = nullptr; // 用户管理
    QAction *backUpDataAction = nullptr; // 备份数据…
    QAction *restoreDataAction = nullptr; // 恢复数据…
    QAction *serverConnectionAction = nullptr; // 数据库连接…
    QAction *settingsSeparator = nullptr;  // separator
    QAction *blackClassicSkinAction = nullptr; // 黑色经典(皮肤)
    QAction *blueFantasySkinAction = nullptr; // 蓝色幻想(皮肤)
    QAction *dreamSkySkinAction = nullptr; // 梦幻天空(皮肤)
    QAction *blackReverieSkinAction = nullptr; // 黑色遐想(皮肤)
    QAction *dreamComeTrueSkinAction = nullptr; // 梦想成真(皮肤)
    // Invoked by the program only, never offered to the operator.
    QAction *checkForUpgradeAction = nullptr; // 检查升级
    // upgrade/UpgradeCommand.cpp: the upgrade component that checkForUpgradeAction runs.
    lianbu::upgrade::Upgrader *upgrader = nullptr;

    // appearance/SkinCommands.cpp: the skin component, its store and the help commands
    // (helpMenu; offered at the end of the "设 置" drop-down).
    SkinController *skinController = nullptr;
    SkinCatalog *skinCatalog = nullptr;
    QMenu *helpMenu = nullptr;
    QAction *helpAction = nullptr; // 帮助主题
    QAction *homePageAction = nullptr; // 官方主页
    QAction *aboutAction = nullptr; // 关于

    // The grid's context menu and its items, in menu order.
    QMenu *gridContextMenu = nullptr;
    QAction *saveColumnLayoutAction = nullptr; // 保存当前列状态
    QAction *gridMenuSeparator = nullptr; // separator
    QList<QAction *> hideColumnActions;
    // The grid column position each hide item addresses, parallel to hideColumnActions.
    static const int hideColumnPositions[11];

    // The login dialog, shown modally while no session is open (set at start-up). Its outcome
    // opens the session or ends the program.
    void setLoginDialog(LoginDialog *dialog);
    // Only the outcome: a dialog shown by someone else opens the session or ends the program.
    void followLogin(LoginDialog *dialog);
    LoginDialog *loginDialog() const { return m_loginDialog; }

    // Shows an open window whose class is exactly T, restored and in front, or creates one
    // owned by `owner` over this window's register.
    template <class T>
    T *showOrCreateWindow(QWidget *owner);

public slots:
    void onFirstShow();
    void onActivated();
    void endSession();
    void layoutGridAndLowerArea();

    // customers/CustomerGrid.cpp
    void sortByColumn(int columnIndex, GridColumn *column);
    void onRowClicked(GridColumn *column);
    void onRowDoubleClicked();
    void toggleColumnFromMenu(int itemIndex);
    void saveColumnLayout();

    // customers/QuickSearch.cpp
    void runQuickSearch();
    void showAllRecords();
    // The quick search of the customer list (made at the first search).
    lianbu::customers::CustomerSearch &customerSearch();

    // customers/EntryPanel.cpp
    void startNewCustomer();    // 新 建
    void loadRecordIntoPanel(); // the load of a double-clicked record (recordLoadRequested)
    void addCustomer();        // 新 增
    void saveCustomerChanges();        // 修 改
    void deleteSelectedCustomer();   // 删 除
    void clearEntryPanel();        // 清空
    void closeEntryPanel();         // the panel's close picture
    // Enter in an entry field (or in the search category field) moves the focus along the
    // chain; true when the key was handled.
    bool handleEntryFieldKey(QWidget *field, QKeyEvent *event);
    void printCustomerList(); // customers/PrintCommand.cpp
    void exportCustomerList(); // customers/ExportCommand.cpp

    void checkForUpgrade();

    // appearance/SkinCommands.cpp
    void restoreSkin(); // onFirstShow: the remembered skin
    void openSupportPage();
    void openHelp();
    void openHomePage();
    void showAbout();
    void openChangePassword(); // operators/OperatorCommands.cpp
    void openOperatorAdmin(); // operators/OperatorCommands.cpp
    void backUpData();   // app/BackupCommands.cpp
    void restoreData();  // app/BackupCommands.cpp
    void openServerConnection(); // app/BackupCommands.cpp

signals:
    // A record was double-clicked whose first-column value is not empty: the entry panel loads it.
    void recordLoadRequested();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildStatusBar();
    void buildMenus();
    void configureCustomerGrid(); // customers/CustomerGrid.cpp
    void connectQuickSearch();    // customers/QuickSearch.cpp
    // After the operator added or changed a record: every record listed, the current one last,
    // the category list holding `category`, without reading the whole list again when it is
    // already the list of every record.
    void showAllRecordsAfterChange(const QString &category); // customers/QuickSearch.cpp
    void connectEntryPanel();     // customers/EntryPanel.cpp
    void buildAppearance();       // appearance/SkinCommands.cpp
    void chooseSkin(int index);   // appearance/SkinCommands.cpp
    void onFocusWindowChanged(QWindow *window);
    void activateIfNoFocusCame();
    std::unique_ptr<lianbu::customers::CustomerSearch> m_customerSearch;

    Ui::MainWindow *ui;
    Database &m_database;
    std::optional<int> m_sessionId;
    QPointer<LoginDialog> m_loginDialog;
    QLabel *m_panels[4] = {};
    QLabel *m_registerPanel = nullptr; // which register is open
    // The record the entry panel shows, as it was read when it was loaded: a save is checked
    // against it, whatever the list has read since.
    lianbu::db::DataSet::RecordAsRead m_panelRecord;
    bool m_shown = false;
    QWindow *m_lastFocusWindow = nullptr;
};

// Used by showOrCreateWindow: the program's windows whose class is exactly `meta`, in the
// application's window order.
QWidget *findWindowOfExactClass(const QMetaObject &meta);
// Brings an existing window forward as showOrCreateWindow does.
void showExistingForm(QWidget *window);

template <class T>
T *MainWindow::showOrCreateWindow(QWidget *owner)
{
    if (QWidget *existing = findWindowOfExactClass(T::staticMetaObject)) {
        showExistingForm(existing);
        return static_cast<T *>(existing);
    }
    return new T(m_database, owner);
}

