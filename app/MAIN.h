#pragma once

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QWindow;
class TColumnEh;
class TSkinData;
class TSkinStore;
namespace lianbu {
class TauAutoUpgrader;
}

namespace Ui {
class TMainForm;
}

// The main window: customer grid, entry panel, quick search, toolbar and status bar.
// Its customer commands are defined in customers/; this file holds the frame: start-up steps,
// activation, closing, resizing and the opening of secondary windows.
class TMainForm : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // The session id: 0 while no session is open, else the id of the session's rz row.
    int Tag = 0;

    Ui::TMainForm *ui;

    // Status bar panels 0..3.
    QLabel *StatusPanel(int index) const;

    // The settings drop-down of "设 置" and its items.
    QMenu *PopupMenu1 = nullptr;
    QAction *N15 = nullptr; // 修改密码
    QAction *N13 = nullptr; // 用户管理
    QAction *N1 = nullptr;  // separator
    QAction *N19 = nullptr; // 黑色经典(皮肤)
    QAction *N26 = nullptr; // 蓝色幻想(皮肤)
    QAction *N32 = nullptr; // 梦幻天空(皮肤)
    QAction *N42 = nullptr; // 黑色遐想(皮肤)
    QAction *N52 = nullptr; // 梦想成真(皮肤)
    // Invoked by the program only, never offered to the operator.
    QAction *N18 = nullptr; // 检查升级
    // upgrade/UpgradeCommand.cpp: the upgrade component that N18 runs.
    lianbu::TauAutoUpgrader *auAutoUpgrader1 = nullptr;

    // appearance/SkinCommands.cpp: the skin component, its store and the help commands
    // (PopupMenu2; offered at the end of the "设 置" drop-down).
    TSkinData *SkinData1 = nullptr;
    TSkinStore *SkinStore1 = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *N14 = nullptr; // 帮助主题
    QAction *N24 = nullptr; // 官方主页
    QAction *N25 = nullptr; // 关于

    // The grid's context menu and its items, in menu order.
    QMenu *PopupMenu3 = nullptr;
    QAction *N20 = nullptr; // 保存当前列状态
    QAction *N16 = nullptr; // separator
    QList<QAction *> HideItems; // N2, N3, N5, N4, N6, N7, N8, N9, N12, N10, N11
    // The grid column position each hide item addresses, parallel to HideItems.
    static const int HideItemColumn[11];

    // The login dialog shown modally while no session is open (set at start-up).
    QPointer<QDialog> LoginDialog;

    // Shows an open window whose class is exactly T, restored and in front, or creates one
    // owned by `owner`; `ref` receives the window.
    template <class T>
    void ShowOrCreateForm(T *&ref, QWidget *owner);

public slots:
    void FormShow();
    void FormActivate();
    void FormClose();
    void FormResize();

    // customers/CustomerGrid.cpp
    void DBGridEh1TitleBtnClick(int columnIndex, TColumnEh *column);
    void DBGridEh1CellClick(TColumnEh *column);
    void DBGridEh1DblClick();
    void HideItemClick(int itemIndex);
    void N20Click();

    // customers/QuickSearch.cpp
    void Button2Click();
    void Button12Click();

    // customers/EntryPanel.cpp
    void ToolButton7Click();    // 新 建
    void LoadRecordIntoPanel(); // the load of a double-clicked record (recordLoadRequested)
    void Button1Click();        // 新 增
    void Button3Click();        // 修 改
    void ToolButton19Click();   // 删 除
    void Button9Click();        // 清空
    void Image1Click();         // the panel's close picture
    // Enter in an entry field (or in the search category field) moves the focus along the
    // chain; true when the key was handled.
    bool EntryFieldKeyPress(QWidget *field, QKeyEvent *event);
    void ToolButton22Click(); // customers/PrintCommand.cpp
    void ToolButton17Click(); // customers/ExportCommand.cpp

    void N18Click();

    // appearance/SkinCommands.cpp
    void N19Click();
    void N26Click();
    void N32Click();
    void N42Click();
    void N52Click();
    void RestoreSkin(); // FormShow: the remembered skin
    void ToolButton1Click();
    void N14Click();
    void N24Click();
    void N25Click();
    void N15Click(); // operators/OperatorCommands.cpp
    void N13Click(); // operators/OperatorCommands.cpp

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
    void connectEntryPanel();     // customers/EntryPanel.cpp
    void buildAppearance();       // appearance/SkinCommands.cpp
    void chooseSkin(int index);   // appearance/SkinCommands.cpp
    void onFocusWindowChanged(QWindow *window);
    void activateIfNoFocusCame();

    QLabel *m_panels[4] = {};
    bool m_shown = false;
    QWindow *m_lastFocusWindow = nullptr;
};

// Used by ShowOrCreateForm: the program's windows whose class is exactly `meta`, in the
// application's window order.
QWidget *findWindowOfExactClass(const QMetaObject &meta);
// Brings an existing window forward as ShowOrCreateForm does.
void showExistingForm(QWidget *window);

template <class T>
void TMainForm::ShowOrCreateForm(T *&ref, QWidget *owner)
{
    if (QWidget *existing = findWindowOfExactClass(T::staticMetaObject)) {
        showExistingForm(existing);
        ref = static_cast<T *>(existing);
        return;
    }
    ref = new T(owner);
}

// The main window of the running program (nullptr before it exists).
extern TMainForm *MainForm;
