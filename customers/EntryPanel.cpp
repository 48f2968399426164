#include "customers/EntryPanel.h"

#include "data/CustomerColumns.h"
#include "data/Database.h"
#include "export/CustomerFields.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "ui_EntryPanel.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include <iterator>
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

// The thirteen edits of the panel with their columns, in Enter-chain order (the sex combo box
// and the date editor are handled on their own).
struct EntryEdit
{
    const char *column;
    QLineEdit *Ui::EntryPanel::*edit;
};
const EntryEdit kEntryEdits[13] = {
    {col::Category, &Ui::EntryPanel::categoryEdit}, {col::ShortName, &Ui::EntryPanel::shortNameEdit},
    {col::Name, &Ui::EntryPanel::nameEdit},         {col::Position, &Ui::EntryPanel::positionEdit},
    {col::Mobile, &Ui::EntryPanel::mobileEdit},     {col::Phone, &Ui::EntryPanel::phoneEdit},
    {col::Fax, &Ui::EntryPanel::faxEdit},           {col::Address, &Ui::EntryPanel::addressEdit},
    {col::Company, &Ui::EntryPanel::companyEdit},   {col::Postcode, &Ui::EntryPanel::postcodeEdit},
    {col::Email, &Ui::EntryPanel::emailEdit},       {col::Website, &Ui::EntryPanel::websiteEdit},
    {col::Notes, &Ui::EntryPanel::notesEdit},
};

// False, with the warning box naming the field and the part beyond the width selected, when a
// value (as stored: trimmed) is longer than its column holds. The dataset would cut it quietly.
// With `shown`, a text left as shown is not written and is not checked.
bool valuesFitColumns(const Ui::EntryPanel &ui, const lianbu::data::CustomerStore &store,
                      const std::vector<QString> *shown = nullptr)
{
    for (size_t i = 0; i < std::size(kEntryEdits); ++i) {
        const EntryEdit &e = kEntryEdits[i];
        QLineEdit *edit = ui.*e.edit;
        if (shown && edit->text() == shown->at(i))
            continue;
        const QString column = QLatin1String(e.column);
        const QString value = trimInput(edit->text());
        const int width = store.columnWidth(column);
        if (width <= 0 || value.size() <= width)
            continue;
        QString title = column;
        for (std::size_t f = 0; f < exchange::kCustomerFieldCount; ++f)
            if (exchange::fieldColumn(exchange::CustomerField(f)) == column)
                title = exchange::compactTitle(exchange::fieldTitle(exchange::CustomerField(f)));
        lianbu::showWarning(QStringLiteral("“%1”最多能存 %2 个字，现在有 %3 个字。请改短后再保存。")
                                .arg(title)
                                .arg(width)
                                .arg(value.size()),
                            edit->window());
        edit->setFocus();
        edit->setSelection(int(edit->text().indexOf(value) + width), int(value.size() - width));
        return false;
    }
    return true;
}

} // namespace

EntryPanel::EntryPanel(Database &database, QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::EntryPanel)
    , m_database(database)
{
    ui->setupUi(this);
    QFont font = this->font();
    font.setPixelSize(14);
    setFont(font);
    // Only the background shows the move cursor.
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->testAttribute(Qt::WA_SetCursor))
            child->setCursor(Qt::ArrowCursor);
    }
    prepareRegistrationDateEditor(ui->registrationDateEdit);

    const QList<QWidget *> chain{
        ui->categoryEdit, ui->shortNameEdit, ui->nameEdit,    ui->sexCombo,    ui->positionEdit,
        ui->mobileEdit,   ui->phoneEdit,     ui->faxEdit,     ui->addressEdit, ui->companyEdit,
        ui->postcodeEdit, ui->emailEdit,     ui->websiteEdit, ui->notesEdit,   ui->registrationDateEdit};
    for (QWidget *field : chain) {
        watchField(field, field);
        // Keys typed into a combo box or a date editor arrive at its inner edit.
        if (QLineEdit *inner = field->findChild<QLineEdit *>())
            watchField(field, inner);
    }
    installEventFilter(this);
    ui->closeEntryPanelIcon->installEventFilter(this);

    QWidget *previous = nullptr;
    for (QWidget *w : chain + QList<QWidget *>{ui->addButton, ui->modifyButton}) {
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    ui->modifyButton->setEnabled(false);
    connect(ui->addButton, &QPushButton::clicked, this, &EntryPanel::addCustomer);
    connect(ui->modifyButton, &QPushButton::clicked, this, &EntryPanel::saveCustomerChanges);

    // Over the strip above the fields: what another operator did to the loaded customer.
    m_elsewhereBar = new QFrame(this);
    m_elsewhereBar->setObjectName(QStringLiteral("changedElsewhereBar"));
    m_elsewhereBar->setGeometry(2, 0, width() - 26, 21);
    // The strip is 21 pixels high and the fields begin below it: the bar's text and button are
    // sized in pixels to fit it (a line of 12-pixel text in a one-pixel frame, under the panel's
    // own top edge), whatever the skin's or the desktop's button size, so neither is clipped nor
    // covers a field.
    m_elsewhereBar->setStyleSheet(QStringLiteral(
        "#changedElsewhereBar { background: #fff3c4; border: 1px solid #e0c060; border-top: 0px; }"
        "#changedElsewhereBar QLabel { color: #5a4300; font-size: 12px; }"
        "#changedElsewhereBar QPushButton { color: #5a4300; font-size: 12px; padding: 0px 8px; margin: 0px; "
        "border: 1px solid #c9a227; border-radius: 2px; background: #fffdf4; }"
        "#changedElsewhereBar QPushButton:hover { background: #ffffff; }"
        "#changedElsewhereBar QPushButton:pressed { background: #f0e2a8; }"
        "#changedElsewhereBar QPushButton:focus { border-color: #5a4300; }"));
    auto *layout = new QHBoxLayout(m_elsewhereBar);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->setSpacing(4);
    m_elsewhereText = new QLabel(m_elsewhereBar);
    m_reloadButton = new QPushButton(QStringLiteral("重新载入"), m_elsewhereBar);
    m_reloadButton->setCursor(Qt::ArrowCursor);
    m_elsewhereText->setCursor(Qt::ArrowCursor);
    layout->addWidget(m_elsewhereText, 1);
    layout->addWidget(m_reloadButton);
    connect(m_reloadButton, &QPushButton::clicked, this, &EntryPanel::reloadStoredRecord);
    m_elsewhereBar->hide();
}

void EntryPanel::hideElsewhereBar()
{
    m_elsewhereBar->hide();
}

void EntryPanel::changedElsewhere(const std::vector<lianbu::data::FeedEntry> &entries)
{
    const qint64 key = m_panelRecord.key;
    if (key == 0)
        return;
    const lianbu::data::FeedEntry *last = nullptr;
    for (const lianbu::data::FeedEntry &entry : entries)
        if (entry.customer == key && entry.kind != lianbu::data::FeedKind::FollowUps)
            last = &entry;
    if (!last)
        return;
    const std::optional<lianbu::data::CustomerRecord> stored = m_database.customerStore->read(key);
    // This program's own save, or a write that left the values as the panel read them.
    if (stored && lianbu::data::sameStoredValues(*stored, m_panelRecord))
        return;
    const QString who =
        last->operatorName.isEmpty() ? QStringLiteral("其他操作员") : QStringLiteral("“%1”").arg(last->operatorName);
    if (stored) {
        m_elsewhereText->setText(QStringLiteral("这条资料已被%1修改，你输入的内容还在。").arg(who));
        m_reloadButton->show();
    } else {
        m_elsewhereText->setText(QStringLiteral("这条资料已被%1删除，不能再修改；你输入的内容还在。").arg(who));
        m_reloadButton->hide();
        customerDeleted(key);
    }
    m_elsewhereBar->show();
    m_elsewhereBar->raise();
}

void EntryPanel::reloadStoredRecord()
{
    const std::optional<lianbu::data::CustomerRecord> stored =
        m_panelRecord.key != 0 ? m_database.customerStore->read(m_panelRecord.key) : std::nullopt;
    hideElsewhereBar();
    if (!stored) {
        customerDeleted(m_panelRecord.key);
        return;
    }
    m_panelRecord = *stored;
    showRecord(m_panelRecord);
    m_shownTexts = panelTexts();
}

EntryPanel::~EntryPanel()
{
    delete ui;
}

void EntryPanel::watchField(QWidget *field, QObject *receiver)
{
    m_fields.emplace_back(receiver, field);
    receiver->installEventFilter(this);
}

bool EntryPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        for (const auto &[receiver, field] : m_fields) {
            if (receiver != watched)
                continue;
            if (field == ui->registrationDateEdit && emptiesDate(key))
                return true;
            return handleEntryFieldKey(field, key);
        }
        return false;
    }
    if (watched == ui->closeEntryPanelIcon) {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton
                && ui->closeEntryPanelIcon->rect().contains(mouse->position().toPoint()))
                closeEntryPanel();
            return true;
        }
        return event->type() == QEvent::MouseButtonPress;
    }
    if (watched == this)
        return panelMouse(event);
    return false;
}

// delete or Backspace over the whole selected date empties the editor: the record then has no
// registration date.
bool EntryPanel::emptiesDate(QKeyEvent *key)
{
    if (key->key() != Qt::Key_Delete && key->key() != Qt::Key_Backspace)
        return false;
    QDateEdit *editor = ui->registrationDateEdit;
    const QLineEdit *inner = editor->findChild<QLineEdit *>();
    if (!inner || !inner->hasSelectedText() || inner->selectedText() != inner->text())
        return false;
    editor->setDateTime(editor->minimumDateTime());
    return true;
}

// Only the left button on the panel's own background moves it, and only within its parent.
bool EntryPanel::panelMouse(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || childAt(mouse->position().toPoint()))
            return false;
        m_dragging = true;
        m_grabOffset = mouse->globalPosition().toPoint() - pos();
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_dragging)
            return false;
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QWidget *area = parentWidget();
        QPoint to = mouse->globalPosition().toPoint() - m_grabOffset;
        to.setX(qBound(0, to.x(), qMax(0, area->width() - width())));
        to.setY(qBound(0, to.y(), qMax(0, area->height() - height())));
        move(to);
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

bool EntryPanel::handleEntryFieldKey(QWidget *field, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    QWidget *next = nullptr;
    if (field == ui->categoryEdit)
        next = ui->shortNameEdit;
    else if (field == ui->shortNameEdit)
        next = ui->nameEdit;
    else if (field == ui->nameEdit)
        next = ui->sexCombo;
    else if (field == ui->sexCombo)
        next = ui->positionEdit;
    else if (field == ui->positionEdit)
        next = ui->mobileEdit;
    else if (field == ui->mobileEdit)
        next = ui->phoneEdit;
    else if (field == ui->phoneEdit)
        next = ui->faxEdit;
    else if (field == ui->faxEdit)
        next = ui->addressEdit;
    else if (field == ui->addressEdit)
        next = ui->companyEdit;
    else if (field == ui->companyEdit)
        next = ui->postcodeEdit;
    else if (field == ui->postcodeEdit)
        next = ui->emailEdit;
    else if (field == ui->emailEdit)
        next = ui->websiteEdit;
    else if (field == ui->websiteEdit)
        next = ui->notesEdit;
    else if (field == ui->notesEdit)
        next = ui->registrationDateEdit;
    else if (field == ui->registrationDateEdit)
        next = ui->addButton;
    // The Enter itself goes no further: the edits would ignore it, and the combo boxes would
    // take a typed text into their lists.
    if (next)
        next->setFocus(Qt::OtherFocusReason);
    return true;
}

void EntryPanel::continueFromSearchCategory()
{
    // With the panel hidden the focus stays where it is.
    if (isVisible())
        ui->positionEdit->setFocus(Qt::OtherFocusReason);
}

void EntryPanel::showTodayAsRegistrationDate()
{
    ui->registrationDateEdit->setDateTime(lianbu::now());
}

void EntryPanel::clearEntryPanel()
{
    for (const EntryEdit &e : kEntryEdits)
        (ui->*e.edit)->clear();
}

void EntryPanel::startNewCustomer()
{
    show();
    raise();
    clearEntryPanel();
    m_panelRecord = {};
    hideElsewhereBar();
    ui->modifyButton->setEnabled(false);
    ui->categoryEdit->setFocus();
}

EntryPanel::PanelTexts EntryPanel::panelTexts() const
{
    PanelTexts texts;
    for (const EntryEdit &e : kEntryEdits)
        texts.edits.push_back((ui->*e.edit)->text());
    texts.sex = ui->sexCombo->currentText();
    texts.day = registrationDateValue(ui->registrationDateEdit);
    return texts;
}

void EntryPanel::showRecord(const lianbu::data::CustomerRecord &record)
{
    auto text = [&record](const char *column) { return record.value(QLatin1String(column)).value_or(QString()); };
    for (const EntryEdit &e : kEntryEdits) {
        QLineEdit *edit = ui->*e.edit;
        edit->setText(text(e.column));
        edit->setCursorPosition(0); // a text wider than its edit shows its beginning
    }
    ui->sexCombo->setCurrentText(text(col::Sex));
    setRegistrationDateText(ui->registrationDateEdit, text(col::RegistrationDate));
}

void EntryPanel::setEditAllowed(bool allowed, const QString &why)
{
    m_editAllowed = allowed;
    ui->addButton->setEnabled(allowed);
    ui->addButton->setToolTip(why);
    ui->modifyButton->setToolTip(why);
    if (!allowed)
        ui->modifyButton->setEnabled(false);
}

void EntryPanel::loadRecordIntoPanel(const lianbu::data::CustomerRecord &record)
{
    show();
    raise();
    ui->modifyButton->setEnabled(m_editAllowed);
    hideElsewhereBar();
    m_panelRecord = record;
    showRecord(m_panelRecord);
    m_shownTexts = panelTexts();
}

std::optional<lianbu::data::CustomerRecord> EntryPanel::loadedCustomer() const
{
    if (m_panelRecord.key == 0)
        return std::nullopt;
    return m_panelRecord;
}

void EntryPanel::customerDeleted(qint64 key)
{
    if (key == 0 || m_panelRecord.key != key)
        return;
    m_panelRecord = {};
    ui->modifyButton->setEnabled(false);
}

void EntryPanel::addCustomer()
{
    if (!requireEditText(ui->categoryEdit, QStringLiteral("客户类型必须输入！")))
        return;
    if (!requireEditText(ui->shortNameEdit, QStringLiteral("客户简称必须输入！")))
        return;
    lianbu::data::CustomerStore &store = *m_database.customerStore;
    if (!valuesFitColumns(*ui, store))
        return;
    lianbu::data::CustomerValues values;
    for (const EntryEdit &e : kEntryEdits)
        values.emplace_back(QLatin1String(e.column), trimInput((ui->*e.edit)->text()));
    values.emplace_back(QLatin1String(col::Sex), trimInput(ui->sexCombo->currentText()));
    // An empty date editor stores NULL, not an empty text.
    values.emplace_back(QLatin1String(col::RegistrationDate), registrationDateValue(ui->registrationDateEdit));
    const qint64 key = store.add(values);
    const lianbu::data::CustomerRecord added = store.read(key).value_or(lianbu::data::CustomerRecord());
    emit customerAdded(key, added.value(QLatin1String(col::ShortName)).value_or(QString()));
    const QString category = added.value(QLatin1String(col::Category)).value_or(QString());
    lianbu::showInformation(QStringLiteral("增加数据成功！"), window());
    clearEntryPanel();
    emit customerSaved(category, key);
    ui->modifyButton->setEnabled(false);
}

lianbu::data::CustomerValues EntryPanel::panelChanges() const
{
    // A field left as shown keeps its stored text: no trimming, no cutting to the column's
    // width, no NULL turned into an empty text, no date written in another form.
    const PanelTexts now = panelTexts();
    lianbu::data::CustomerValues changes;
    for (size_t i = 0; i < std::size(kEntryEdits); ++i) {
        if (now.edits[i] != m_shownTexts.edits.at(i))
            changes.emplace_back(QLatin1String(kEntryEdits[i].column), trimInput(now.edits[i]));
    }
    if (now.sex != m_shownTexts.sex)
        changes.emplace_back(QLatin1String(col::Sex), trimInput(now.sex));
    if (now.day != m_shownTexts.day)
        changes.emplace_back(QLatin1String(col::RegistrationDate), now.day);
    return changes;
}

void EntryPanel::offerStoredRecord(const lianbu::data::CustomerRecord &stored)
{
    if (!lianbu::askYesNo(QStringLiteral("资料已被修改"),
                          QStringLiteral("这条资料在你读取之后已被其他操作员修改，你的修改没有保存，"
                                         "以免覆盖别人的修改。\n\n"
                                         "要以现在保存的资料为准吗？选“是”：你改动过的栏目保留你输入的内容，"
                                         "其余栏目换成现在保存的内容，核对后再按“修 改”保存。\n"
                                         "选“否”：录入框保持不变，不作修改。"),
                          window()))
        return;
    const PanelTexts typed = panelTexts();
    const PanelTexts shownBefore = m_shownTexts;
    showRecord(stored);
    m_panelRecord = stored;
    m_shownTexts = panelTexts();
    // What the operator changed goes back over the stored record and stays a change.
    for (size_t i = 0; i < std::size(kEntryEdits); ++i) {
        if (typed.edits[i] != shownBefore.edits.at(i))
            (ui->*kEntryEdits[i].edit)->setText(typed.edits[i]);
    }
    if (typed.sex != shownBefore.sex)
        ui->sexCombo->setCurrentText(typed.sex);
    if (typed.day != shownBefore.day)
        setRegistrationDateText(ui->registrationDateEdit, typed.day.value_or(QString()));
}

void EntryPanel::saveCustomerChanges()
{
    const qint64 key = m_panelRecord.key;
    if (key == 0) {
        lianbu::showInformation(QStringLiteral("录入框中没有读入的资料，未作修改！"), window());
        return;
    }
    if (!lianbu::confirmListChange(QStringLiteral("你确实要修改选中资料吗？"), window()))
        return;
    if (!requireEditText(ui->categoryEdit, QStringLiteral("客户类型必须输入！")))
        return;
    if (!requireEditText(ui->shortNameEdit, QStringLiteral("客户简称必须输入！")))
        return;
    // The customer the panel loaded, read now by its key: the list may show other rows by now
    // (a click, a search, a new query), and none of them is written.
    lianbu::data::CustomerStore &store = *m_database.customerStore;
    const QString goneText = QStringLiteral("这条资料已被其他操作员删除，你的修改没有保存。"
                                            "你输入的内容仍保留在录入框中；要保留它，请按“新 增”把它作为新资料加入。");
    std::optional<lianbu::data::CustomerRecord> stored = store.read(key);
    if (!stored) {
        lianbu::showError(goneText, window());
        return;
    }
    if (!valuesFitColumns(*ui, store, &m_shownTexts.edits))
        return;
    if (!sameStoredValues(*stored, m_panelRecord)) {
        offerStoredRecord(*stored);
        return;
    }
    switch (store.modify(m_panelRecord, panelChanges())) {
    case lianbu::data::CustomerStore::Outcome::Done:
        break;
    case lianbu::data::CustomerStore::Outcome::Changed:
        // Changed between the reading above and the write.
        if ((stored = store.read(key)))
            offerStoredRecord(*stored);
        else
            lianbu::showError(goneText, window());
        return;
    case lianbu::data::CustomerStore::Outcome::Gone:
        lianbu::showError(goneText, window());
        return;
    }
    const QString category = store.read(key)
                                 .value_or(lianbu::data::CustomerRecord())
                                 .value(QLatin1String(col::Category))
                                 .value_or(QString());
    m_panelRecord = {};
    hideElsewhereBar();
    clearEntryPanel();
    emit customerSaved(category, key);
    hide();
    lianbu::showInformation(QStringLiteral("修改数据成功！"), window());
    ui->modifyButton->setEnabled(false);
}

void EntryPanel::closeEntryPanel()
{
    m_panelRecord = {};
    hideElsewhereBar();
    hide();
    clearEntryPanel();
    ui->modifyButton->setEnabled(false);
}

} // namespace lianbu::customers
