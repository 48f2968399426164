#include "export/CustomerFields.h"

#include "data/Schema.h"

#include <cstring>

namespace lianbu::exchange {

namespace {

// Titles as the customer grid shows them; 网站 has no grid column and keeps its own title.
constexpr const char *kTitles[kCustomerFieldCount] = {
    "客户类别", "客户简称", "姓  名", "性别",     "职  务", "手  机", "电  话",   "传  真",
    "地  址",   "单  位",   "邮  编", "电子邮件", "网站",   "备注",   "登记日期",
};
constexpr const char *kColumns[kCustomerFieldCount] = {
    "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "z", "day1",
};

// The widths come from the schema so the two can never disagree.
std::array<CustomerFieldInfo, kCustomerFieldCount> buildInfos()
{
    std::array<CustomerFieldInfo, kCustomerFieldCount> infos{};
    for (std::size_t i = 0; i < kCustomerFieldCount; ++i) {
        int width = 0;
        for (const DataColumn &column : kDataColumns)
            if (std::strcmp(column.name, kColumns[i]) == 0)
                width = column.width;
        infos[i] = {kColumns[i], kTitles[i], width};
    }
    return infos;
}

bool isBlankChar(QChar c)
{
    return c.isSpace() || c == QChar(0x3000) || c == QChar(0x00A0) || c == QChar(0xFEFF);
}

} // namespace

const CustomerFieldInfo &fieldInfo(CustomerField field)
{
    static const std::array<CustomerFieldInfo, kCustomerFieldCount> infos = buildInfos();
    return infos[std::size_t(field)];
}

bool fieldForColumn(const QString &column, CustomerField *field)
{
    for (std::size_t i = 0; i < kCustomerFieldCount; ++i)
        if (column == QLatin1String(kColumns[i])) {
            *field = CustomerField(i);
            return true;
        }
    return false;
}

bool CustomerRecord::isBlank() const
{
    for (const QString &value : values)
        if (!value.trimmed().isEmpty())
            return false;
    return true;
}

QString compactTitle(const QString &title)
{
    QString out;
    out.reserve(title.size());
    for (const QChar c : title)
        if (!isBlankChar(c))
            out.append(c);
    return out;
}

bool fieldForTitle(const QString &title, CustomerField *field)
{
    const QString wanted = compactTitle(title);
    if (wanted.isEmpty())
        return false;
    for (std::size_t i = 0; i < kCustomerFieldCount; ++i)
        if (compactTitle(QString::fromUtf8(kTitles[i])) == wanted) {
            *field = CustomerField(i);
            return true;
        }
    return false;
}

std::vector<OverWidth> overWidthFields(const CustomerRecord &record)
{
    std::vector<OverWidth> out;
    for (std::size_t i = 0; i < kCustomerFieldCount; ++i) {
        const int width = fieldInfo(CustomerField(i)).width;
        const int length = int(record.values[i].size());
        if (width > 0 && length > width)
            out.push_back({CustomerField(i), length});
    }
    return out;
}

} // namespace lianbu::exchange
