#include "platform/Windows.h"

#include <QApplication>

namespace lianbu {

QWidget *findWindowOfExactClass(const QMetaObject &meta)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->metaObject() == &meta)
            return window;
    }
    return nullptr;
}

void showExistingForm(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    else if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
    window->setFocus();
}

} // namespace lianbu
