#pragma once

#include <QDate>
#include <QString>

#include <optional>

class QDateEdit;

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
