#include "export/CustomerImport.h"

#include <algorithm>
#include <numeric>

namespace lianbu::exchange {

int ColumnChoice::matched() const
{
    return int(std::count_if(column.begin(), column.end(), [](int c) { return c >= 0; }));
}

namespace {

constexpr int kTitleSearchRows = 20;

QString trimmedValue(const QString &value)
{
    // Blanks that spreadsheets pad cells with go; line breaks inside the value stay.
    qsizetype begin = 0;
    qsizetype end = value.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QChar(0x3000); };
    while (begin < end && blank(value.at(begin)))
        ++begin;
    while (end > begin && blank(value.at(end - 1)))
        --end;
    return value.mid(begin, end - begin);
}

} // namespace

ColumnChoice matchColumns(const SheetData &sheet)
{
    ColumnChoice best;
    const int searched = std::min<int>(kTitleSearchRows, int(sheet.rows.size()));
    for (int r = 0; r < searched; ++r) {
        ColumnChoice choice;
        choice.titleRow = r;
        const QStringList &cells = sheet.rows[std::size_t(r)].cells;
        for (qsizetype c = 0; c < cells.size(); ++c) {
            CustomerField field;
            if (fieldForTitle(cells.at(c), &field) && choice.column[std::size_t(field)] < 0)
                choice.column[std::size_t(field)] = int(c);
        }
        if (choice.matched() > best.matched())
            best = choice;
    }
    if (best.titleRow < 0)
        return best;

    std::size_t website = std::size_t(CustomerField::Website);
    if (best.column[website] < 0) {
        const QStringList &titles = sheet.rows[std::size_t(best.titleRow)].cells;
        int last = -1;
        for (qsizetype c = 0; c < titles.size(); ++c)
            if (!titles.at(c).trimmed().isEmpty())
                last = int(c);
        const int untitled = last + 1;
        bool values = false;
        for (std::size_t r = std::size_t(best.titleRow) + 1; r < sheet.rows.size() && !values; ++r)
            values = !sheet.rows[r].cells.value(untitled).trimmed().isEmpty();
        if (last >= 0 && values && best.matched() >= 2)
            best.column[website] = untitled;
    }
    return best;
}

std::vector<ImportRow> recordsOf(const SheetData &sheet, const ColumnChoice &choice)
{
    std::vector<ImportRow> out;
    const std::size_t first = choice.titleRow < 0 ? 0 : std::size_t(choice.titleRow) + 1;
    out.reserve(sheet.rows.size() > first ? sheet.rows.size() - first : 0);
    for (std::size_t r = first; r < sheet.rows.size(); ++r) {
        const SheetRow &row = sheet.rows[r];
        ImportRow imported{row.line, {}};
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            if (choice.column[f] >= 0)
                imported.record.values[f] = trimmedValue(row.cells.value(choice.column[f]));
        if (imported.record.isBlank())
            continue;
        // The footer of an exported list: "总计" under the first title and nothing else.
        if (r + 1 == sheet.rows.size()) {
            int filled = 0;
            for (const QString &cell : row.cells)
                filled += cell.trimmed().isEmpty() ? 0 : 1;
            if (filled == 1 && row.cells.value(0).trimmed() == QStringLiteral("总计"))
                continue;
        }
        out.push_back(std::move(imported));
    }
    return out;
}

// ---- duplicates ------------------------------------------------------------------------------

QString mobileKey(const QString &mobile)
{
    QString digits;
    digits.reserve(mobile.size());
    for (const QChar c : mobile)
        if (c.isDigit())
            digits.append(QChar(QLatin1Char(char('0' + c.digitValue()))));
    if (digits.size() == 13 && digits.startsWith(QLatin1String("86")))
        digits.remove(0, 2);
    return digits;
}

QString nameKey(const CustomerRecord &record)
{
    const QString name = compactTitle(record[CustomerField::Name]);
    if (name.isEmpty())
        return {};
    return compactTitle(record[CustomerField::ShortName]) + QChar(0x1F) + name;
}

void DuplicateIndex::add(qint64 id, const CustomerRecord &record)
{
    const QString mobile = mobileKey(record[CustomerField::Mobile]);
    if (!mobile.isEmpty())
        m_byMobile[mobile].push_back(id);
    const QString name = nameKey(record);
    if (!name.isEmpty())
        m_byName[name].push_back(id);
}

std::vector<qint64> DuplicateIndex::matches(const CustomerRecord &record) const
{
    std::vector<qint64> out;
    auto take = [&](const QHash<QString, std::vector<qint64>> &index, const QString &key) {
        if (key.isEmpty())
            return;
        const auto found = index.constFind(key);
        if (found == index.constEnd())
            return;
        for (const qint64 id : *found)
            if (std::find(out.begin(), out.end(), id) == out.end())
                out.push_back(id);
    };
    take(m_byMobile, mobileKey(record[CustomerField::Mobile]));
    take(m_byName, nameKey(record));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::vector<qint64>> duplicateGroups(const std::vector<IdentifiedCustomer> &customers)
{
    const std::size_t n = customers.size();
    std::vector<std::size_t> parent(n);
    std::iota(parent.begin(), parent.end(), std::size_t(0));
    auto find = [&](std::size_t x) {
        while (parent[x] != x)
            x = parent[x] = parent[parent[x]];
        return x;
    };
    QHash<QString, std::size_t> firstByMobile;
    QHash<QString, std::size_t> firstByName;
    auto join = [&](QHash<QString, std::size_t> &first, const QString &key, std::size_t i) {
        if (key.isEmpty())
            return;
        const auto found = first.constFind(key);
        if (found == first.constEnd())
            first.insert(key, i);
        else
            parent[find(i)] = find(*found);
    };
    for (std::size_t i = 0; i < n; ++i) {
        join(firstByMobile, mobileKey(customers[i].record[CustomerField::Mobile]), i);
        join(firstByName, nameKey(customers[i].record), i);
    }
    QHash<std::size_t, std::vector<qint64>> byRoot;
    for (std::size_t i = 0; i < n; ++i)
        byRoot[find(i)].push_back(customers[i].id);
    std::vector<std::vector<qint64>> groups;
    for (auto &ids : byRoot)
        if (ids.size() >= 2) {
            std::sort(ids.begin(), ids.end());
            groups.push_back(ids);
        }
    std::sort(groups.begin(), groups.end(), [](const auto &a, const auto &b) { return a.front() < b.front(); });
    return groups;
}

} // namespace lianbu::exchange
