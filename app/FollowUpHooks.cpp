#include "app/MainWindow.h"
#include "customers/CustomerList.h"
#include "customers/QuickSearchBar.h"
#include "data/Database.h"
#include "followups/FollowUpCommands.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QBoxLayout>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

// Where the operator meets follow-ups in the main window: the list's context menu, a toolbar
// button and F7 for the current customer's history, 待办提醒… on the menu and after login.

void MainWindow::buildFollowUps()
{
    using lianbu::followups::FollowUpCommands;
    m_followUps = new FollowUpCommands(
        m_database, this, [this] { return m_customerList->currentCustomer(); },
        [this](qint64 key) {
            m_chooseWhenListed = key;
            if (m_database.customerList->rowOfKey(key) >= 0)
                chooseListedCustomer();
            else
                showAllRecords(); // chosen when every record is there
        });
    QMenu *menu = m_customerList->contextMenu();
    QAction *first = menu->actions().value(0);
    menu->insertAction(first, m_followUps->followUpAction());
    menu->insertAction(first, m_followUps->cardAction());
    menu->insertSeparator(first);
    settingsMenu->insertActions(m_recycleBinAction, {m_followUps->remindersAction(), m_followUps->exportAction()});

    // The toolbar's buttons keep their size: the bar grows by one button, to the left up to the
    // search bar, so the window's least width (a 200 % screen) grows as little as it can.
    auto *button = new QToolButton(ui->toolBar);
    button->setObjectName(QStringLiteral("followUpButton"));
    button->setText(QStringLiteral("跟 进"));
    button->setIcon(QIcon(QStringLiteral(":/icons/followup.png")));
    button->setIconSize(ui->newButton->iconSize());
    button->setFixedSize(ui->newButton->size());
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setToolTip(m_followUps->followUpAction()->toolTip());
    auto *bar = static_cast<QBoxLayout *>(ui->toolBar->layout());
    bar->insertWidget(bar->indexOf(ui->exportButton) + 1, button);
    const QRect place = ui->toolBar->geometry();
    const int left = std::max(m_quickSearchBar->geometry().right() + 3, place.x() - button->width());
    ui->toolBar->setGeometry(left, place.y(), place.width() + button->width(), place.height());
    setTabOrder(ui->exportButton, button);
    setTabOrder(button, ui->settingsButton);
    connect(button, &QToolButton::clicked, m_followUps, &FollowUpCommands::openFollowUps);
}

lianbu::followups::FollowUpCommands *MainWindow::followUpCommands() const
{
    return m_followUps;
}
