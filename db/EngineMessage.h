#pragma once

#include <QSqlError>
#include <QString>

namespace lianbu::db::detail {

// The database engine's own text of a failed statement (without Qt's driver remarks).
inline QString engineMessage(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    // The server's text starts with its severity and may go on with the statement's position
    // ("LINE 1: ..."): the first line without the severity is the message.
    for (const QLatin1String severity : {QLatin1String("ERROR:  "), QLatin1String("FATAL:  ")}) {
        if (text.startsWith(severity)) {
            text = text.mid(severity.size());
            text = text.left(text.indexOf(QLatin1Char('\n'))).trimmed();
            break;
        }
    }
    return text;
}

} // namespace lianbu::db::detail
