#include "customers/EntryPanel.h"

#include "app/MAIN.h"
#include "data/dm.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "ui_MAIN.h"

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
    const QString text = TrimInput(stored).section(QLatin1Char(' '), 0, 0);
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
    editor->setProperty(kKeptDateText, date ? QVariant() : QVariant(TrimInput(stored)));
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
    explicit EntryPanelEvents(TMainForm *form)
        : QObject(form)
        , m_form(form)
    {
    }

    void watchField(QWidget *field, QWidget *receiver)
    {
        m_fields.emplace_back(receiver, field);
        receiver->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Ui::TMainForm *ui = m_form->ui;
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            for (const auto &[receiver, field] : m_fields) {
                if (receiver != watched)
                    continue;
                if (field == ui->DBDateTimeEditEh1 && emptiesDate(key))
                    return true;
                return m_form->EntryFieldKeyPress(field, key);
            }
            return false;
        }
        if (watched == ui->Image1) {
            if (event->type() == QEvent::MouseButtonRelease) {
                auto *mouse = static_cast<QMouseEvent *>(event);
                if (mouse->button() == Qt::LeftButton && ui->Image1->rect().contains(mouse->position().toPoint()))
                    m_form->Image1Click();
                return true;
            }
            return event->type() == QEvent::MouseButtonPress;
        }
        if (watched == ui->Panel3)
            return panelMouse(event);
        return false;
    }

private:
    // Delete or Backspace over the whole selected date empties the editor: the record then
    // has no registration date.
    bool emptiesDate(QKeyEvent *key)
    {
        if (key->key() != Qt::Key_Delete && key->key() != Qt::Key_Backspace)
            return false;
        QDateEdit *editor = m_form->ui->DBDateTimeEditEh1;
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
        QWidget *panel = m_form->ui->Panel3;
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

    TMainForm *m_form;
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
    QLineEdit *Ui::TMainForm::*edit;
};
const EntryEdit kEntryEdits[13] = {
    {"a", &Ui::TMainForm::Edit12}, {"b", &Ui::TMainForm::Edit13}, {"c", &Ui::TMainForm::Edit10},
    {"e", &Ui::TMainForm::Edit15}, {"f", &Ui::TMainForm::Edit9},  {"g", &Ui::TMainForm::Edit21},
    {"h", &Ui::TMainForm::Edit16}, {"i", &Ui::TMainForm::Edit27}, {"j", &Ui::TMainForm::Edit17},
    {"k", &Ui::TMainForm::Edit28}, {"l", &Ui::TMainForm::Edit11}, {"m", &Ui::TMainForm::Edit8},
    {"z", &Ui::TMainForm::Edit22},
};

// Sets the fifteen columns of the current row of `target` (in edit or insert state) from the
// panel. A failure drops the pending change, so the dataset is never left half edited.
void writePanelInto(Ui::TMainForm *ui, lianbu::db::DataSet *target)
{
    using namespace lianbu::customers;
    try {
        for (const EntryEdit &e : kEntryEdits)
            target->fieldByName(QLatin1String(e.column)).setAsString(TrimInput((ui->*e.edit)->text()));
        target->fieldByName(QStringLiteral("d")).setAsString(TrimInput(ui->ComboBox1->currentText()));
        lianbu::db::Field &day = target->fieldByName(QStringLiteral("day1"));
        if (const std::optional<QString> value = registrationDateValue(ui->DBDateTimeEditEh1))
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

void TMainForm::connectEntryPanel()
{
    using lianbu::customers::EntryPanelEvents;
    QFont font = ui->Panel3->font();
    font.setPixelSize(14);
    ui->Panel3->setFont(font);
    // Only the background shows the move cursor.
    for (QWidget *child : ui->Panel3->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->testAttribute(Qt::WA_SetCursor))
            child->setCursor(Qt::ArrowCursor);
    }
    lianbu::customers::prepareRegistrationDateEditor(ui->DBDateTimeEditEh1);

    auto *events = new EntryPanelEvents(this);
    const QList<QWidget *> chain{ui->Edit12, ui->Edit13, ui->Edit10, ui->ComboBox1, ui->Edit15, ui->Edit9,
                                 ui->Edit21, ui->Edit16, ui->Edit27, ui->Edit17, ui->Edit28, ui->Edit11,
                                 ui->Edit8,  ui->Edit22, ui->DBDateTimeEditEh1};
    for (QWidget *field : chain) {
        events->watchField(field, field);
        // Keys typed into a combo box or a date editor arrive at its inner edit.
        if (QLineEdit *inner = field->findChild<QLineEdit *>())
            events->watchField(field, inner);
    }
    events->watchField(ui->ComboBox2, ui->ComboBox2);
    events->watchField(ui->ComboBox2, ui->ComboBox2->lineEdit());
    ui->Panel3->installEventFilter(events);
    ui->Image1->installEventFilter(events);

    QWidget *previous = nullptr;
    for (QWidget *w : chain + QList<QWidget *>{ui->Button1, ui->Button3}) {
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    ui->Button3->setEnabled(false);
    connect(ui->ToolButton7, &QToolButton::clicked, this, &TMainForm::ToolButton7Click);
    connect(ui->ToolButton19, &QToolButton::clicked, this, &TMainForm::ToolButton19Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TMainForm::Button3Click);
    connect(ui->Button9, &QPushButton::clicked, this, &TMainForm::Button9Click);
    connect(this, &TMainForm::recordLoadRequested, this, &TMainForm::LoadRecordIntoPanel);
}

bool TMainForm::EntryFieldKeyPress(QWidget *field, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    QWidget *next = nullptr;
    if (field == ui->Edit12) next = ui->Edit13;
    else if (field == ui->Edit13) next = ui->Edit10;
    else if (field == ui->Edit10) next = ui->ComboBox1;
    else if (field == ui->ComboBox1) next = ui->Edit15;
    else if (field == ui->ComboBox2) next = ui->Panel3->isVisible() ? ui->Edit15 : nullptr;
    else if (field == ui->Edit15) next = ui->Edit9;
    else if (field == ui->Edit9) next = ui->Edit21;
    else if (field == ui->Edit21) next = ui->Edit16;
    else if (field == ui->Edit16) next = ui->Edit27;
    else if (field == ui->Edit27) next = ui->Edit17;
    else if (field == ui->Edit17) next = ui->Edit28;
    else if (field == ui->Edit28) next = ui->Edit11;
    else if (field == ui->Edit11) next = ui->Edit8;
    else if (field == ui->Edit8) next = ui->Edit22;
    else if (field == ui->Edit22) next = ui->DBDateTimeEditEh1;
    else if (field == ui->DBDateTimeEditEh1) next = ui->Button1;
    // The Enter itself goes no further: the edits would ignore it, and the combo boxes would
    // take a typed text into their lists. With the panel hidden, Enter in the search category
    // field leaves the focus where it is.
    if (next)
        next->setFocus(Qt::OtherFocusReason);
    return true;
}

void TMainForm::Button9Click()
{
    for (const EntryEdit &e : kEntryEdits)
        (ui->*e.edit)->clear();
}

void TMainForm::ToolButton7Click()
{
    ui->Panel3->show();
    ui->Panel3->raise();
    Button9Click();
    ui->Button3->setEnabled(false);
    ui->Edit12->setFocus();
}

void TMainForm::LoadRecordIntoPanel()
{
    ui->Panel3->show();
    ui->Panel3->raise();
    ui->Button3->setEnabled(true);
    lianbu::db::DataSet *list = dmfm->ADOQuery15;
    for (const EntryEdit &e : kEntryEdits) {
        QLineEdit *edit = ui->*e.edit;
        edit->setText(list->fieldByName(QLatin1String(e.column)).asString());
        edit->setCursorPosition(0); // a text wider than its edit shows its beginning
    }
    ui->ComboBox1->setCurrentText(list->fieldByName(QStringLiteral("d")).asString());
    lianbu::customers::setRegistrationDateText(ui->DBDateTimeEditEh1,
                                               list->fieldByName(QStringLiteral("day1")).asString());
}

void TMainForm::Button1Click()
{
    if (!RequireEditText(ui->Edit12, QStringLiteral("客户类型必须输入！")))
        return;
    if (!RequireEditText(ui->Edit13, QStringLiteral("客户简称必须输入！")))
        return;
    lianbu::db::Table *table = dmfm->ADOTable5;
    table->append();
    writePanelInto(ui, table);
    lianbu::showInformation(QStringLiteral("增加数据成功！"), this);
    Button9Click();
    ui->Button12->click();
    ui->ToolButton19->setEnabled(false);
    ui->Button3->setEnabled(false);
}

void TMainForm::Button3Click()
{
    lianbu::db::DataSet *list = dmfm->ADOQuery15;
    // A list emptied or closed since the record was loaded has no row to write into.
    if (!list->active() || list->isEmpty()) {
        lianbu::showInformation(QStringLiteral("列表中没有选中的资料，未作修改！"), this);
        return;
    }
    if (!lianbu::confirmListChange(QStringLiteral("你确实要修改选中资料吗？"), this))
        return;
    if (!RequireEditText(ui->Edit12, QStringLiteral("客户类型必须输入！")))
        return;
    if (!RequireEditText(ui->Edit13, QStringLiteral("客户简称必须输入！")))
        return;
    list->edit();
    writePanelInto(ui, list);
    Button9Click();
    ui->Button12->click();
    ui->Panel3->hide();
    lianbu::showInformation(QStringLiteral("修改数据成功！"), this);
    ui->ToolButton19->setEnabled(false);
    ui->Button3->setEnabled(false);
}

void TMainForm::ToolButton19Click()
{
    if (!lianbu::confirmListChange(QStringLiteral("你真的要删除选中资料吗？"), this))
        return;
    dmfm->ADOQuery15->deleteRecord();
    lianbu::showInformation(QStringLiteral("删除数据成功！"), this);
    ui->ToolButton19->setEnabled(false);
}

void TMainForm::Image1Click()
{
    ui->Panel3->hide();
    Button9Click();
    ui->Button3->setEnabled(false);
}
