#pragma once

#include <QSqlError>
#include <QString>

namespace lianbu::db::detail {

// The database engine's own text of a failed statement (without Qt's driver remarks).
inline QString engineMessage(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

} // namespace lianbu::db::detail
