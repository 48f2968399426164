#include "db/PackedRow.h"

#include "db/Engine.h"

namespace lianbu::db {

void packCells(Packer &packer, const ResultRow &row, const std::vector<int> &columnOf, QString *scratch)
{
    for (const int c : columnOf) {
        const unsigned char *utf8 = nullptr;
        qsizetype bytes = 0;
        if (row.utf8(c, &utf8, &bytes)) {
            packer.addUtf8(utf8, bytes);
        } else {
            const bool isNull = row.isNull(c);
            packer.add(isNull ? QStringView() : row.text(c, scratch), isNull);
        }
    }
}

QString packValues(const std::vector<std::optional<QString>> &values)
{
    Packer packer;
    packer.begin(int(values.size()));
    for (const std::optional<QString> &value : values)
        packer.add(value ? QStringView(*value) : QStringView(), !value);
    return packer.finish();
}

QString packNulls(int fieldCount)
{
    Packer packer;
    packer.begin(fieldCount);
    for (int f = 0; f < fieldCount; ++f)
        packer.add(QStringView(), true);
    return packer.finish();
}

} // namespace lianbu::db
