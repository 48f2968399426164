#pragma once

#include "data/ChangeFeed.h"
#include "data/CustomerStore.h"

#include <QDate>
#include <QFrame>
#include <QPoint>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class QDateEdit;
class QLabel;
class QPushButton;

namespace lianbu::customers {

// The date a stored registration date stands for: "yyyy-MM-dd" (also with single-digit month
// or day, and with a time of day after a blank). nullopt for empty or other text.
std::optional<QDate> registrationDateOf(const QString &stored);

// The registration date editor holds either a date or nothing. "Nothing" is its minimum date,
// shown as a blank; when a loaded record's date was text the editor cannot show, that text is
// kept and written back unchanged until the operator picks a date.
void prepareRegistrationDateEditor(QDateEdit *editor);
void setRegistrationDateText(QDateEdit *editor, const QString &stored);
// What the editor writes into day1: its date as yyyy-MM-dd, the kept text, or nullopt (NULL).
std::optional<QString> registrationDateValue(const QDateEdit *editor);

} // namespace lianbu::customers

class Database;
class QKeyEvent;

namespace Ui {
class EntryPanel;
}

namespace lianbu::customers {

// The entry panel over the customer list: the fields of one customer, "新 增" and "修 改", the
// close picture. Enter moves along the fields; the panel's background drags it within its
// parent. It adds and changes customers through the register's customer store.
class EntryPanel : public QFrame
{
    Q_OBJECT

public:
    EntryPanel(Database &database, QWidget *parent);
    ~EntryPanel() override;

    // Enter in an entry field moves the focus along the chain; true when the key was handled.
    bool handleEntryFieldKey(QWidget *field, QKeyEvent *event);

    // The customer the panel loaded, as it was shown then; nullopt when none is loaded.
    std::optional<lianbu::data::CustomerRecord> loadedCustomer() const;

    // Whether the operator of the session may add and change customers: without it 新增 and
    // 修改 stay disabled, their tooltip saying why (empty while allowed).
    void setEditAllowed(bool allowed, const QString &why);

public slots:
    void startNewCustomer(); // 新 建
    // The customer of the list's current row, double-clicked, as the list shows it.
    void loadRecordIntoPanel(const lianbu::data::CustomerRecord &record);
    void addCustomer();         // 新 增
    void saveCustomerChanges(); // 修 改
    void clearEntryPanel();     // 清空
    void closeEntryPanel();     // the close picture
    // Enter in the search category field: on to the position field when the panel shows.
    void continueFromSearchCategory();
    // The registration date editor shows this moment.
    void showTodayAsRegistrationDate();
    // The customer `key` was deleted: when it is the loaded one, there is nothing to change.
    void customerDeleted(qint64 key);
    // Writes of others from the change feed: when the loaded customer was changed or deleted
    // elsewhere, a bar over the fields says so and by whom, with 重新载入 for a changed one; what
    // the operator typed stays until he chooses.
    void changedElsewhere(const std::vector<lianbu::data::FeedEntry> &entries);
    // 重新载入: the loaded customer as stored now, the bar gone.
    void reloadStoredRecord();

signals:
    // A customer was appended to the list (emitted before the operator is told).
    void customerAdded(qint64 key, const QString &shortName);
    // The customer `key` was added or changed: the list shows every record again, `category`
    // among the categories, that customer current.
    void customerSaved(const QString &category, qint64 key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchField(QWidget *field, QObject *receiver);
    bool emptiesDate(QKeyEvent *key);
    bool panelMouse(QEvent *event);

    // The panel's texts as a save compares them: the thirteen edits, the sex, the date's value.
    struct PanelTexts
    {
        std::vector<QString> edits;
        QString sex;
        std::optional<QString> day;
    };
    PanelTexts panelTexts() const;
    void showRecord(const lianbu::data::CustomerRecord &record);
    // The fields the operator changed since the record was shown; the others keep their stored
    // text exactly.
    lianbu::data::CustomerValues panelChanges() const;
    // After a save refused because another operator changed the record: on request, the stored
    // record becomes what the panel started from, keeping what the operator changed.
    void offerStoredRecord(const lianbu::data::CustomerRecord &stored);

    void hideElsewhereBar();
    Ui::EntryPanel *ui;
    QFrame *m_elsewhereBar = nullptr;
    QLabel *m_elsewhereText = nullptr;
    QPushButton *m_reloadButton = nullptr;
    Database &m_database;
    // The record the panel shows, as it was read when it was loaded: a save writes that table row
    // (whatever row of the list is current) and is checked against these values.
    lianbu::data::CustomerRecord m_panelRecord;
    // The texts as the panel showed them then: only the fields that differ now are written.
    PanelTexts m_shownTexts;
    std::vector<std::pair<QObject *, QWidget *>> m_fields; // receiver of the keys, field
    bool m_dragging = false;
    bool m_editAllowed = true;
    QPoint m_grabOffset;
};

} // namespace lianbu::customers
