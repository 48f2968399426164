#include "operators/OperatorDialogBase.h"

#include "data/Database.h"
#include "platform/Application.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

namespace lianbu::operators {

void prepareOperatorWindow(QWidget *window, const QSize &clientSize)
{
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(clientSize);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QFont font = window->font();
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC")});
    font.setPixelSize(12);
    window->setFont(font);
}

void centreOnScreen(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    window->move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

bool operatorWindowKeepsKey(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return true;
    default:
        return false;
    }
}

namespace {

class ButtonEnterFilter final : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        if (auto *button = qobject_cast<QPushButton *>(watched); button && button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void pressButtonsOnEnter(QWidget *window)
{
    auto *filter = new ButtonEnterFilter(window);
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(filter);
    }
}

void handFocusToOwner(QWidget *window)
{
    if (!window->isActiveWindow())
        return;
    if (QWidget *owner = window->parentWidget(); owner && owner->window()->isVisible())
        owner->window()->activateWindow();
}

} // namespace lianbu::operators

using namespace lianbu::operators;

OperatorDialogBase::OperatorDialogBase(Database &database, QWidget *owner, const QSize &clientSize)
    : QDialog(owner)
    , m_database(database)
{
    prepareOperatorWindow(this, clientSize);
}

void OperatorDialogBase::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Once more now that the frame is known, so the whole window sits in the middle.
    centreOnScreen(this);
    try {
        onFirstShow();
    } catch (...) {
        lianbu::reportCurrentException();
    }
}

void OperatorDialogBase::keyPressEvent(QKeyEvent *event)
{
    if (!operatorWindowKeepsKey(event))
        QDialog::keyPressEvent(event);
}

void OperatorDialogBase::closeEvent(QCloseEvent *event)
{
    try {
        endSession();
    } catch (...) {
        lianbu::reportCurrentException();
    }
    event->accept();
    handFocusToOwner(this);
}

void OperatorDialogBase::endSession()
{
    m_database.statementQuery->close();
}
