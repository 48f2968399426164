#pragma once

// The fields of one customer record as files outside the program carry them: the column of the
// register that holds each field, the title it goes out under, and the width the register
// allows. Every exchange format (.xlsx, CSV, vCard, and the .xls reader) speaks in these terms.

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>

namespace lianbu::exchange {

enum class CustomerField {
    Category,
    ShortName,
    Name,
    Sex,
    Position,
    Mobile,
    Phone,
    Fax,
    Address,
    Company,
    Postcode,
    Email,
    Website,
    Notes,
    RegistrationDate,
};
inline constexpr std::size_t kCustomerFieldCount = 15;

struct CustomerFieldInfo
{
    const char *column; // column of the register's data table
    const char *title;  // title in exported files (the grid's, blanks included)
    int width;          // characters the column holds
};

const CustomerFieldInfo &fieldInfo(CustomerField field);
inline QString fieldTitle(CustomerField field)
{
    return QString::fromUtf8(fieldInfo(field).title);
}
inline QString fieldColumn(CustomerField field)
{
    return QString::fromLatin1(fieldInfo(field).column);
}
// The field stored in the register column `column` ("a", "day1"), or false.
bool fieldForColumn(const QString &column, CustomerField *field);

// One customer, indexed by CustomerField.
struct CustomerRecord
{
    std::array<QString, kCustomerFieldCount> values;

    QString &operator[](CustomerField field) { return values[std::size_t(field)]; }
    const QString &operator[](CustomerField field) const { return values[std::size_t(field)]; }
    bool isBlank() const;
    friend bool operator==(const CustomerRecord &, const CustomerRecord &) = default;
};

// A title as written by people: blanks (also ideographic and non-breaking ones) removed, so
// "姓  名", "姓名" and " 姓 名 " compare equal.
QString compactTitle(const QString &title);
// The field whose title `title` is, blanks inside ignored; false for any other title.
bool fieldForTitle(const QString &title, CustomerField *field);

// A field whose text is longer than the register's column allows.
struct OverWidth
{
    CustomerField field;
    int length; // characters in the value
};
std::vector<OverWidth> overWidthFields(const CustomerRecord &record);

} // namespace lianbu::exchange
