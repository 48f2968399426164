#include "data/CustomerColumns.h"
#include "customers/EntryPanel.h"

#include "app/MainWindow.h"
#include "customers/CustomerSearch.h"
#include "data/Database.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include <utility>
#include <vector>

namespace lianbu::customers {

namespace {

const char kKeptDateText[] = "lianbuKeptDateText";

} // namespace

std::optional<QDate> registrationDateOf(const QString &stored)
{
    const QString text = trimInput(stored).section(QLatin1Char(' '), 0, 0);
    if (text.isEmpty())
        return std::nullopt;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-M-d"));
    if (!date.isValid())
        return std::nullopt;
    return date;
}

void prepareRegistrationDateEditor(QDateEdit *editor)
{
    // The smallest date stands for "no date" and shows as a blank.
    editor->setMinimumDate(QDate(1752, 9, 14));
    editor->setSpecialValueText(QStringLiteral(" "));
    // Once the operator (or the program) sets a date, a kept text no longer applies.
    QObject::connect(editor, &QDateEdit::dateChanged, editor,
                     [editor] { editor->setProperty(kKeptDateText, QVariant()); });
}

void setRegistrationDateText(QDateEdit *editor, const QString &stored)
{
    const std::optional<QDate> date = registrationDateOf(stored);
    // The minimum as a whole (date and time): only that shows as the blank.
    if (date)
        editor->setDate(*date);
    else
        editor->setDateTime(editor->minimumDateTime());
    // Set after the date: a changed date clears what was kept.
    editor->setProperty(kKeptDateText, date ? QVariant() : QVariant(trimInput(stored)));
}

std::optional<QString> registrationDateValue(const QDateEdit *editor)
{
    if (editor->date() == editor->minimumDate()) {
        const QString kept = editor->property(kKeptDateText).toString();
        if (!kept.isEmpty())
            return kept;
        return std::nullopt;
    }
    return dateText(editor->date());
}

namespace {

// Enter-key chain, the drag of the panel's background and the close picture.
class EntryPanelEvents final : public QObject
{
public:
    EntryPanelEvents(MainWindow *form, Ui::MainWindow *ui)
        : QObject(form)
        , m_form(form)
        , m_ui(ui)
    {
    }

    void watchField(QWidget *field, QWidget *receiver)
    {
        m_fields.emplace_back(receiver, field);
        receiver->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Ui::MainWindow *ui = m_ui;
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            for (const auto &[receiver, field] : m_fields) {
                if (receiver != watched)
                    continue;
                if (field == ui->registrationDateEdit && emptiesDate(key))
                    return true;
                return m_form->handleEntryFieldKey(field, key);
            }
            return false;
        }
        if (watched == ui->closeEntryPanelIcon) {
            if (event->type() == QEvent::MouseButtonRelease) {
                auto *mouse = static_cast<QMouseEvent *>(event);
                if (mouse->button() == Qt::LeftButton && ui->closeEntryPanelIcon->rect().contains(mouse->position().toPoint()))
                    m_form->closeEntryPanel();
                return true;
            }
            return event->type() == QEvent::MouseButtonPress;
        }
        if (watched == ui->entryPanel)
            return panelMouse(event);
        return false;
    }

private:
    // delete or Backspace over the whole selected date empties the editor: the record then
    // has no registration date.
    bool emptiesDate(QKeyEvent *key)
    {
        if (key->key() != Qt::Key_Delete && key->key() != Qt::Key_Backspace)
            return false;
        QDateEdit *editor = m_ui->registrationDateEdit;
        const QLineEdit *inner = editor->findChild<QLineEdit *>();
        if (!inner || !inner->hasSelectedText() || inner->selectedText() != inner->text())
            return false;
        editor->setDateTime(editor->minimumDateTime());
        return true;
    }

    // Only the left button on the panel's own background moves it, and only within the main
    // window's client area.
    bool panelMouse(QEvent *event)
    {
        QWidget *panel = m_ui->entryPanel;
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() != Qt::LeftButton || panel->childAt(mouse->position().toPoint()))
                return false;
            m_dragging = true;
            m_grabOffset = mouse->globalPosition().toPoint() - panel->pos();
            return true;
        }
        case QEvent::MouseMove: {
            if (!m_dragging)
                return false;
            auto *mouse = static_cast<QMouseEvent *>(event);
            const QWidget *area = panel->parentWidget();
            QPoint to = mouse->globalPosition().toPoint() - m_grabOffset;
            to.setX(qBound(0, to.x(), qMax(0, area->width() - panel->width())));
            to.setY(qBound(0, to.y(), qMax(0, area->height() - panel->height())));
            panel->move(to);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_dragging) {
                m_dragging = false;
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    MainWindow *m_form;
    Ui::MainWindow *m_ui;
    std::vector<std::pair<QObject *, QWidget *>> m_fields; // receiver of the keys, field
    bool m_dragging = false;
    QPoint m_grabOffset;
};

} // namespace

} // namespace lianbu::customers

// ---- the main window's entry panel ---------------------------------------------------------

namespace {

// The thirteen edits of the panel with their columns, in Enter-chain order (the sex combo box
// and the date editor are handled on their own).
struct EntryEdit
{
    const char *column;
    QLineEdit *Ui::MainWindow::*edit;
};
const EntryEdit kEntryEdits[13] = {
    {lianbu::col::Category, &Ui::MainWindow::categoryEdit}, {lianbu::col::ShortName, &Ui::MainWindow::shortNameEdit}, {lianbu::col::Name, &Ui::MainWindow::nameEdit},
    {lianbu::col::Position, &Ui::MainWindow::positionEdit}, {lianbu::col::Mobile, &Ui::MainWindow::mobileEdit},  {lianbu::col::Phone, &Ui::MainWindow::phoneEdit},
    {lianbu::col::Fax, &Ui::MainWindow::faxEdit}, {lianbu::col::Address, &Ui::MainWindow::addressEdit}, {lianbu::col::Company, &Ui::MainWindow::companyEdit},
    {lianbu::col::Postcode, &Ui::MainWindow::postcodeEdit}, {lianbu::col::Email, &Ui::MainWindow::emailEdit}, {lianbu::col::Website, &Ui::MainWindow::websiteEdit},
    {lianbu::col::Notes, &Ui::MainWindow::notesEdit},
};

// Sets the fifteen columns of the current row of `target` (in edit or insert state) from the
// panel. A failure drops the pending change, so the dataset is never left half edited.
void writePanelInto(Ui::MainWindow *ui, lianbu::db::DataSet *target)
{
    using namespace lianbu::customers;
    try {
        for (const EntryEdit &e : kEntryEdits)
            target->fieldByName(QLatin1String(e.column)).setAsString(trimInput((ui->*e.edit)->text()));
        target->fieldByName(QLatin1String(lianbu::col::Sex)).setAsString(trimInput(ui->sexCombo->currentText()));
        lianbu::db::Field &day = target->fieldByName(QLatin1String(lianbu::col::RegistrationDate));
        if (const std::optional<QString> value = registrationDateValue(ui->registrationDateEdit))
            day.setAsString(*value);
        else
            day.clear();
        target->post();
    } catch (...) {
        target->cancel();
        throw;
    }
}

} // namespace

void MainWindow::connectEntryPanel()
{
    using lianbu::customers::EntryPanelEvents;
    QFont font = ui->entryPanel->font();
    font.setPixelSize(14);
    ui->entryPanel->setFont(font);
    // Only the background shows the move cursor.
    for (QWidget *child : ui->entryPanel->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->testAttribute(Qt::WA_SetCursor))
            child->setCursor(Qt::ArrowCursor);
    }
    lianbu::customers::prepareRegistrationDateEditor(ui->registrationDateEdit);

    auto *events = new EntryPanelEvents(this, ui);
    const QList<QWidget *> chain{ui->categoryEdit, ui->shortNameEdit, ui->nameEdit, ui->sexCombo, ui->positionEdit, ui->mobileEdit,
                                 ui->phoneEdit, ui->faxEdit, ui->addressEdit, ui->companyEdit, ui->postcodeEdit, ui->emailEdit,
                                 ui->websiteEdit,  ui->notesEdit, ui->registrationDateEdit};
    for (QWidget *field : chain) {
        events->watchField(field, field);
        // Keys typed into a combo box or a date editor arrive at its inner edit.
        if (QLineEdit *inner = field->findChild<QLineEdit *>())
            events->watchField(field, inner);
    }
    events->watchField(ui->searchCategory, ui->searchCategory);
    events->watchField(ui->searchCategory, ui->searchCategory->lineEdit());
    ui->entryPanel->installEventFilter(events);
    ui->closeEntryPanelIcon->installEventFilter(events);

    QWidget *previous = nullptr;
    for (QWidget *w : chain + QList<QWidget *>{ui->addButton, ui->modifyButton}) {
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    ui->modifyButton->setEnabled(false);
    connect(ui->newButton, &QToolButton::clicked, this, &MainWindow::startNewCustomer);
    connect(ui->deleteButton, &QToolButton::clicked, this, &MainWindow::deleteSelectedCustomer);
    connect(ui->addButton, &QPushButton::clicked, this, &MainWindow::addCustomer);
    connect(ui->modifyButton, &QPushButton::clicked, this, &MainWindow::saveCustomerChanges);
    connect(this, &MainWindow::recordLoadRequested, this, &MainWindow::loadRecordIntoPanel);
}

bool MainWindow::handleEntryFieldKey(QWidget *field, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    QWidget *next = nullptr;
    if (field == ui->categoryEdit) next = ui->shortNameEdit;
    else if (field == ui->shortNameEdit) next = ui->nameEdit;
    else if (field == ui->nameEdit) next = ui->sexCombo;
    else if (field == ui->sexCombo) next = ui->positionEdit;
    else if (field == ui->searchCategory) next = ui->entryPanel->isVisible() ? ui->positionEdit : nullptr;
    else if (field == ui->positionEdit) next = ui->mobileEdit;
    else if (field == ui->mobileEdit) next = ui->phoneEdit;
    else if (field == ui->phoneEdit) next = ui->faxEdit;
    else if (field == ui->faxEdit) next = ui->addressEdit;
    else if (field == ui->addressEdit) next = ui->companyEdit;
    else if (field == ui->companyEdit) next = ui->postcodeEdit;
    else if (field == ui->postcodeEdit) next = ui->emailEdit;
    else if (field == ui->emailEdit) next = ui->websiteEdit;
    else if (field == ui->websiteEdit) next = ui->notesEdit;
    else if (field == ui->notesEdit) next = ui->registrationDateEdit;
    else if (field == ui->registrationDateEdit) next = ui->addButton;
    // The Enter itself goes no further: the edits would ignore it, and the combo boxes would
    // take a typed text into their lists. With the panel hidden, Enter in the search category
    // field leaves the focus where it is.
    if (next)
        next->setFocus(Qt::OtherFocusReason);
    return true;
}

void MainWindow::clearEntryPanel()
{
    for (const EntryEdit &e : kEntryEdits)
        (ui->*e.edit)->clear();
}

void MainWindow::startNewCustomer()
{
    ui->entryPanel->show();
    ui->entryPanel->raise();
    clearEntryPanel();
    m_panelRecord = {};
    ui->modifyButton->setEnabled(false);
    ui->categoryEdit->setFocus();
}

void MainWindow::loadRecordIntoPanel()
{
    ui->entryPanel->show();
    ui->entryPanel->raise();
    ui->modifyButton->setEnabled(true);
    lianbu::db::DataSet *list = m_database.customerList;
    m_panelRecord = list->currentRecordAsRead();
    for (const EntryEdit &e : kEntryEdits) {
        QLineEdit *edit = ui->*e.edit;
        edit->setText(list->fieldByName(QLatin1String(e.column)).asString());
        edit->setCursorPosition(0); // a text wider than its edit shows its beginning
    }
    ui->sexCombo->setCurrentText(list->fieldByName(QLatin1String(lianbu::col::Sex)).asString());
    lianbu::customers::setRegistrationDateText(ui->registrationDateEdit,
                                               list->fieldByName(QLatin1String(lianbu::col::RegistrationDate)).asString());
}

void MainWindow::addCustomer()
{
    if (!requireEditText(ui->categoryEdit, QStringLiteral("客户类型必须输入！")))
        return;
    if (!requireEditText(ui->shortNameEdit, QStringLiteral("客户简称必须输入！")))
        return;
    // The new record is appended through the list: no dataset over the whole table is needed.
    lianbu::db::Query *list = m_database.customerList;
    if (!list->active())
        openStatement(list, lianbu::sql::allRecords());
    list->append();
    writePanelInto(ui, list);
    customerSearch().customerAdded(list->keys().at(size_t(list->currentRow())),
                                   list->fieldByName(QLatin1String(lianbu::col::ShortName)).asString());
    const QString category = list->fieldByName(QLatin1String(lianbu::col::Category)).asString();
    lianbu::showInformation(QStringLiteral("增加数据成功！"), this);
    clearEntryPanel();
    showAllRecordsAfterChange(category);
    ui->deleteButton->setEnabled(false);
    ui->modifyButton->setEnabled(false);
}

void MainWindow::saveCustomerChanges()
{
    lianbu::db::DataSet *list = m_database.customerList;
    // A list emptied or closed since the record was loaded has no row to write into.
    if (!list->active() || list->isEmpty()) {
        lianbu::showInformation(QStringLiteral("列表中没有选中的资料，未作修改！"), this);
        return;
    }
    if (!lianbu::confirmListChange(QStringLiteral("你确实要修改选中资料吗？"), this))
        return;
    if (!requireEditText(ui->categoryEdit, QStringLiteral("客户类型必须输入！")))
        return;
    if (!requireEditText(ui->shortNameEdit, QStringLiteral("客户简称必须输入！")))
        return;
    list->edit(m_panelRecord);
    writePanelInto(ui, list);
    const QString category = list->fieldByName(QLatin1String(lianbu::col::Category)).asString();
    clearEntryPanel();
    showAllRecordsAfterChange(category);
    ui->entryPanel->hide();
    lianbu::showInformation(QStringLiteral("修改数据成功！"), this);
    ui->deleteButton->setEnabled(false);
    ui->modifyButton->setEnabled(false);
}

void MainWindow::deleteSelectedCustomer()
{
    if (!lianbu::confirmListChange(QStringLiteral("你真的要删除选中资料吗？"), this))
        return;
    lianbu::db::Query *list = m_database.customerList;
    const qint64 key = list->active() && list->currentRow() >= 0 ? list->keys().at(size_t(list->currentRow())) : 0;
    list->deleteRecord();
    customerSearch().customerDeleted(key);
    lianbu::showInformation(QStringLiteral("删除数据成功！"), this);
    ui->deleteButton->setEnabled(false);
}

void MainWindow::closeEntryPanel()
{
    m_panelRecord = {};
    ui->entryPanel->hide();
    clearEntryPanel();
    ui->modifyButton->setEnabled(false);
}
