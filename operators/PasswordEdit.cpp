#include "operators/PasswordEdit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QValidator>

namespace lianbu::operators {

namespace {

constexpr int kPasswordLength = 10;

// The last line of defence: whatever reaches the edit's text by a route the filter below does
// not see (an input method, a drop) loses its other characters.
class PasswordValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        QString kept;
        kept.reserve(input.size());
        int cursor = pos;
        for (qsizetype i = 0; i < input.size(); ++i) {
            if (isPasswordCharacter(input.at(i)))
                kept += input.at(i);
            else if (i < pos)
                --cursor;
        }
        if (kept.size() > kPasswordLength)
            return Invalid;
        input = kept;
        pos = cursor;
        return Acceptable;
    }
};

void pasteInto(QLineEdit *edit, QClipboard::Mode mode)
{
    if (edit->isReadOnly())
        return;
    // Filter first, then the length limit: "12-34" pasted gives "1234", not a cut "12-3".
    edit->insert(passwordCharactersOf(QGuiApplication::clipboard()->text(mode)));
}

class PasswordKeyFilter final : public QObject
{
public:
    explicit PasswordKeyFilter(QLineEdit *edit)
        : QObject(edit)
        , m_edit(edit)
    {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_edit)
            return false;
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->matches(QKeySequence::Paste)) {
                pasteInto(m_edit, QClipboard::Clipboard);
                return true;
            }
            return !passwordKeyPasses(*key);
        }
        case QEvent::MouseButtonRelease: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
                pasteInto(m_edit, QClipboard::Selection);
                return true;
            }
            return false;
        }
        case QEvent::ContextMenu: {
            auto *menuEvent = static_cast<QContextMenuEvent *>(event);
            QPointer<QMenu> menu = m_edit->createStandardContextMenu();
            for (QAction *action : menu->actions()) {
                if (action->objectName() == QLatin1String("edit-paste")) {
                    action->disconnect();
                    QPointer<QLineEdit> edit = m_edit;
                    connect(action, &QAction::triggered, action, [edit] {
                        if (edit)
                            pasteInto(edit, QClipboard::Clipboard);
                    });
                }
            }
            menu->exec(menuEvent->globalPos());
            delete menu;
            return true;
        }
        default:
            return false;
        }
    }

private:
    QLineEdit *m_edit;
};

} // namespace

bool isPasswordCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

bool passwordKeyPasses(const QKeyEvent &event)
{
    switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        break;
    }
    // A key without printable text (navigation, delete, Tab, shortcuts) inserts nothing: the
    // edit never inserts control characters, so it passes to do its own work.
    for (QChar c : event.text()) {
        if ((c.isPrint() || c.isSurrogate()) && !isPasswordCharacter(c))
            return false;
    }
    return true;
}

QString passwordCharactersOf(const QString &text)
{
    QString kept;
    for (QChar c : text) {
        if (isPasswordCharacter(c))
            kept += c;
    }
    return kept;
}

void configurePasswordEdit(QLineEdit *edit)
{
    edit->setMaxLength(kPasswordLength);
    edit->setEchoMode(QLineEdit::Password);
    // The platform's bullet would do, but the program shows "*" for every character.
    edit->setStyleSheet(edit->styleSheet() + QStringLiteral("\nQLineEdit { lineedit-password-character: 42; }"));
    edit->setValidator(new PasswordValidator(edit));
    edit->setInputMethodHints(edit->inputMethodHints() | Qt::ImhLatinOnly | Qt::ImhNoPredictiveText | Qt::ImhHiddenText
                              | Qt::ImhSensitiveData);
    // After setEchoMode, which decides this attribute afresh.
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    edit->setAcceptDrops(false);
    edit->installEventFilter(new PasswordKeyFilter(edit));
}

} // namespace lianbu::operators
