#include "followups/FollowUpEditor.h"

#include "platform/Clock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace lianbu::followups {

FollowUpEditor::FollowUpEditor(QWidget *parent)
    : QWidget(parent)
    , m_way(new QComboBox(this))
    , m_content(new QPlainTextEdit(this))
    , m_result(new QLineEdit(this))
    , m_hasNextDate(new QCheckBox(QStringLiteral("下次联系"), this))
    , m_nextDate(new QDateEdit(this))
{
    m_way->setObjectName(QStringLiteral("wayBox"));
    m_content->setObjectName(QStringLiteral("contentEdit"));
    m_result->setObjectName(QStringLiteral("resultEdit"));
    m_hasNextDate->setObjectName(QStringLiteral("nextDateBox"));
    m_nextDate->setObjectName(QStringLiteral("nextDateEdit"));
    m_content->setTabChangesFocus(true);
    m_content->setPlaceholderText(QStringLiteral("跟进内容：谈了什么、答应了什么"));
    m_content->document()->setMaximumBlockCount(200);
    m_result->setMaxLength(data::kFollowUpResultWidth);
    m_nextDate->setCalendarPopup(true);
    m_nextDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_nextDate->setDate(lianbu::today().addDays(1));
    m_nextDate->setEnabled(false);
    connect(m_hasNextDate, &QCheckBox::toggled, m_nextDate, &QWidget::setEnabled);
    m_content->installEventFilter(this);
    m_result->installEventFilter(this);

    auto *next = new QHBoxLayout;
    next->addWidget(m_hasNextDate);
    next->addWidget(m_nextDate);
    next->addStretch();
    auto *form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(QStringLiteral("方式"), m_way);
    form->addRow(QStringLiteral("内容"), m_content);
    form->addRow(QStringLiteral("结果"), m_result);
    form->addRow(QString(), next);
}

bool FollowUpEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ControlModifier)) {
            emit submitRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FollowUpEditor::setWays(const QStringList &ways)
{
    const QString chosen = m_way->currentText();
    m_way->clear();
    m_way->addItems(ways);
    if (!chosen.isEmpty())
        m_way->setCurrentText(chosen);
}

data::FollowUpFields FollowUpEditor::fields() const
{
    return {m_way->currentText(), m_content->toPlainText(), m_result->text(),
            m_hasNextDate->isChecked() ? m_nextDate->date() : QDate()};
}

void FollowUpEditor::setFields(const data::FollowUpFields &fields)
{
    // A way no longer offered is still shown as it was stored.
    if (m_way->findText(fields.way) < 0 && !fields.way.isEmpty())
        m_way->addItem(fields.way);
    m_way->setCurrentText(fields.way);
    m_content->setPlainText(fields.content);
    m_result->setText(fields.result);
    m_hasNextDate->setChecked(fields.nextDate.isValid());
    m_nextDate->setDate(fields.nextDate.isValid() ? fields.nextDate : lianbu::today().addDays(1));
}

void FollowUpEditor::clearTyped()
{
    m_content->clear();
    m_result->clear();
    m_hasNextDate->setChecked(false);
    m_nextDate->setDate(lianbu::today().addDays(1));
}

} // namespace lianbu::followups
