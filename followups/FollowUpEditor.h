#pragma once

#include "data/FollowUpStore.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPlainTextEdit;

namespace lianbu::followups {

// What the operator types for one follow-up: way, content (several lines), result and, when
// ticked, the next contact's date.
class FollowUpEditor : public QWidget
{
    Q_OBJECT

public:
    explicit FollowUpEditor(QWidget *parent = nullptr);

    void setWays(const QStringList &ways);
    data::FollowUpFields fields() const;
    void setFields(const data::FollowUpFields &fields);
    // Empties content, result and date; the way stays for the next note.
    void clearTyped();

    QComboBox *wayBox() const { return m_way; }
    QPlainTextEdit *contentEdit() const { return m_content; }
    QLineEdit *resultEdit() const { return m_result; }
    QCheckBox *nextDateBox() const { return m_hasNextDate; }
    QDateEdit *nextDateEdit() const { return m_nextDate; }

signals:
    // Ctrl+Enter in the content or the result: store what is typed.
    void submitRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QComboBox *m_way;
    QPlainTextEdit *m_content;
    QLineEdit *m_result;
    QCheckBox *m_hasNextDate;
    QDateEdit *m_nextDate;
};

} // namespace lianbu::followups
