#include "customers/CustomerList.h"

#include "customers/CustomerGrid.h"
#include "data/Database.h"
#include "data/FollowUpDates.h"
#include "data/FollowUpStore.h"
#include "grid/DataGrid.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace lianbu::customers {

const char *const CustomerList::hideColumnFields[13] = {"a",
                                                        "b",
                                                        "d",
                                                        "e",
                                                        "h",
                                                        "i",
                                                        "j",
                                                        "k",
                                                        "l",
                                                        "z",
                                                        "day1",
                                                        lianbu::data::kLastFollowUpField,
                                                        lianbu::data::kNextContactField};

CustomerList::CustomerList(DataGrid *grid, Database &database, QObject *parent)
    : QObject(parent)
    , m_grid(grid)
    , m_database(database)
{
    configureCustomerGrid(grid);

    // The menu belongs to the grid's window, where the skins find it as before.
    m_contextMenu = new QMenu(grid->window());
    m_contextMenu->setObjectName(QStringLiteral("gridContextMenu"));
    auto item = [this](const char *name, const QString &caption) {
        QAction *action = m_contextMenu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    m_saveColumnLayoutAction = item("saveColumnLayoutAction", QStringLiteral("保存当前列状态"));
    QAction *separator = m_contextMenu->addSeparator();
    separator->setObjectName(QStringLiteral("gridMenuSeparator"));
    const struct
    {
        const char *name;
        const char *caption;
    } hides[13] = {
        {"hideCategoryAction", "隐藏客户类别"},
        {"hideShortNameAction", "隐藏客户简称"},
        {"hideSexAction", "隐藏性别"},
        {"hidePositionAction", "隐藏职务"},
        {"hideFaxAction", "隐藏传真"},
        {"hideAddressAction", "隐藏地址"},
        {"hideCompanyAction", "隐藏单位"},
        {"hidePostcodeAction", "隐藏邮编"},
        {"hideEmailAction", "隐藏电子邮件"},
        {"hideNotesAction", "隐藏备注"},
        {"hideRegistrationDateAction", "隐藏登记日期"},
        {"hideLastFollowUpAction", "隐藏最近跟进"},
        {"hideNextContactAction", "隐藏下次联系"},
    };
    for (int i = 0; i < 13; ++i) {
        QAction *action = item(hides[i].name, QString::fromUtf8(hides[i].caption));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, i] { toggleColumnFromMenu(i); });
        m_hideColumnActions.append(action);
    }
    connect(m_saveColumnLayoutAction, &QAction::triggered, this, &CustomerList::saveColumnLayout);
    // Columns change visibility by other ways too (a restored layout): the marks are read from the
    // columns whenever the menu opens.
    connect(m_contextMenu, &QMenu::aboutToShow, this, &CustomerList::syncHideMarks);

    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_contextMenu->popup(m_grid->mapToGlobal(pos)); });
    connect(grid, &DataGrid::titleClicked, this, &CustomerList::sortByColumn);
    connect(grid, &DataGrid::cellClicked, this, &CustomerList::chooseCurrentRow);
    connect(grid, &DataGrid::rowDoubleClicked, this, &CustomerList::onRowDoubleClicked);
    connect(grid, &DataGrid::rowEntered, this, &CustomerList::onRowDoubleClicked);
}

void CustomerList::restoreLayoutAndShowList()
{
    m_grid->restoreLayoutFromIni(lianbu::paths::settingsFilePath(), QLatin1String(kLayoutSection),
                                 LayoutRestoreOptions(AllRestoreOptions));
    syncHideMarks();
    // The data module exists from here on: the grid can be bound to the customer list.
    m_grid->setListModel(m_database.customerList);
}

lianbu::data::CustomerRecord CustomerList::currentCustomer() const
{
    return m_database.customerList->customerAt(m_grid->currentRow());
}

void CustomerList::makeCustomerCurrent(qint64 key)
{
    const int row = m_database.customerList->rowOfKey(key);
    if (row >= 0)
        m_grid->setCurrentRow(row);
    else
        makeLastRowCurrent();
}

void CustomerList::makeLastRowCurrent()
{
    m_grid->setCurrentRow(m_database.customerList->rowCount() - 1);
}

void CustomerList::sortByColumn(int /*columnIndex*/, GridColumn *column)
{
    m_database.customerList->setSortText(sortForTitleClick(column->fieldName(), column->title()->sortMarker()));
}

void CustomerList::chooseCurrentRow()
{
    m_clickedCustomer = currentCustomer();
    emit rowClicked();
}

void CustomerList::onRowDoubleClicked()
{
    // Any customer opens, whatever its first column holds: one imported without 客户类别 would
    // otherwise be out of reach of 修改 for good.
    const lianbu::data::CustomerRecord record = currentCustomer();
    if (record.key == 0)
        return;
    emit recordLoadRequested(record);
}

void CustomerList::toggleColumnFromMenu(int itemIndex)
{
    // The item acts on the column its caption names, wherever that column stands now.
    GridColumn *column = m_grid->columns()->findByFieldName(QLatin1String(hideColumnFields[itemIndex]));
    if (column)
        column->setVisible(!column->visible());
    syncHideMarks();
}

void CustomerList::syncHideMarks()
{
    for (int i = 0; i < m_hideColumnActions.size(); ++i) {
        const GridColumn *column = m_grid->columns()->findByFieldName(QLatin1String(hideColumnFields[i]));
        m_hideColumnActions.at(i)->setChecked(column && !column->visible());
    }
}

void CustomerList::saveColumnLayout()
{
    // A new user's settings folder does not exist yet, and the profile writer never creates
    // folders: the command makes it, so saving works from the first day. Whatever still
    // fails (no right to write, a file in the folder's place) is reported by the save.
    const QString file = lianbu::paths::settingsFilePath();
    lianbu::paths::makePrivateFolder(QFileInfo(file).absolutePath());
    try {
        m_grid->saveLayoutToIni(file, QLatin1String(kLayoutSection), false);
    } catch (...) {
        lianbu::reportCurrentException();
    }
}

bool CustomerList::deleteCustomer(const lianbu::data::CustomerRecord &customer)
{
    QWidget *window = m_grid->window();
    // Its follow-ups go into the bin with it and come back with it: nothing to choose, but the
    // operator should know they go too.
    QString question = QStringLiteral("你真的要删除选中资料吗？");
    const qint64 followUps = customer.key != 0 ? lianbu::data::followUpCount(*m_database.connection, customer.key) : 0;
    if (followUps > 0)
        question += QStringLiteral("\n\n这位客户有%1条跟进记录，将随客户一起移到回收站：还原客户时一并恢复，"
                                   "彻底删除时一并删除。")
                        .arg(followUps);
    if (!lianbu::confirmListChange(question, window))
        return false;
    if (customer.key == 0)
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const lianbu::data::CustomerStore::Outcome outcome = m_database.customerStore->remove(customer);
    if (outcome == lianbu::data::CustomerStore::Outcome::Changed)
        lianbu::data::CustomerStore::throwRemoveRefused(outcome);
    // Gone (deleted by another operator) has left the lists all the same.
    emit customerDeleted(customer.key);
    if (outcome == lianbu::data::CustomerStore::Outcome::Gone)
        lianbu::data::CustomerStore::throwRemoveRefused(outcome);
    if (m_clickedCustomer.key == customer.key)
        m_clickedCustomer = {};
    lianbu::showInformation(QStringLiteral("删除数据成功！"), window);
    return true;
}

} // namespace lianbu::customers
