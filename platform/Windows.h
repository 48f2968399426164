#pragma once

#include <QWidget>

#include <utility>

namespace lianbu {

// The program's windows whose class is exactly `meta`, in the application's window order.
QWidget *findWindowOfExactClass(const QMetaObject &meta);
// Brings an existing window forward: restored, shown, raised, active, with the focus.
void showExistingForm(QWidget *window);

// Shows an open window whose class is exactly T, brought forward, or creates one from `args`
// followed by `owner`.
template <class T, class... Args>
T *showOrCreateWindow(QWidget *owner, Args &&...args)
{
    if (QWidget *existing = findWindowOfExactClass(T::staticMetaObject)) {
        showExistingForm(existing);
        return static_cast<T *>(existing);
    }
    return new T(std::forward<Args>(args)..., owner);
}

} // namespace lianbu
