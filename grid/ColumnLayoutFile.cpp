#include "grid/ColumnLayoutFile.h"

#include "grid/GridColumns.h"

#include "platform/Decimal.h"
#include "platform/Error.h"
#include "platform/Gbk.h"
#include "platform/Profile.h"

#include <limits>
#include <vector>

namespace lianbu::gridlayout {

QList<QByteArray> splitWords(const QByteArray &gbkValue)
{
    QList<QByteArray> words;
    QByteArray word;
    const qsizetype n = gbkValue.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = gbkValue.at(i);
        if (c == ',' || c == ' ') {
            if (!word.isEmpty())
                words.append(word);
            word.clear();
            continue;
        }
        word.append(c);
        // A lead byte takes its trail byte with it, whatever that byte is.
        if (gbk::isLeadByte(static_cast<unsigned char>(c)) && i + 1 < n)
            word.append(gbkValue.at(++i));
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

namespace {

class Words
{
public:
    explicit Words(const QString &value)
        : m_words(splitWords(gbk::encode(value)))
    {}

    // Word n (1-based) when it is a valid integer.
    bool get(int n, int *result) const
    {
        if (n < 1 || n > m_words.size())
            return false;
        const std::optional<int> value = parseInt32(m_words.at(n - 1));
        if (value)
            *result = *value;
        return value.has_value();
    }
    int value(int n, int defaultValue) const
    {
        int v = 0;
        return get(n, &v) ? v : defaultValue;
    }

private:
    QList<QByteArray> m_words;
};

QString columnKey(const QString &gridName, const GridColumn *column)
{
    return QStringLiteral("%1.%2").arg(gridName, column->fieldName());
}

[[noreturn]] void unableToWrite(const QString &fileName)
{
    throw Error(QStringLiteral("Unable to write to %1").arg(fileName));
}

struct WorkRecord
{
    GridColumn *column;
    int wantedPosition;
    int wantedSortIndex;
};

} // namespace

int wordAsInt(const QString &value, int n, int defaultValue)
{
    return Words(value).value(n, defaultValue);
}

} // namespace lianbu::gridlayout

using namespace lianbu::gridlayout;

ColumnLayoutFile::ColumnLayoutFile(QString fileName, QString section, QString gridKey)
    : m_fileName(std::move(fileName))
    , m_section(std::move(section))
    , m_gridKey(std::move(gridKey))
{}

void ColumnLayoutFile::save(const GridColumns &columns, int rowHeight, int rowLines, bool eraseSection) const
{
    const QString &fileName = m_fileName;
    const QString &section = m_section;
    if (eraseSection && !lianbu::eraseProfileSection(fileName, section))
        unableToWrite(fileName);
    const QString &gridName = m_gridKey;
    for (int i = 0; i < columns.count(); ++i) {
        const GridColumn *column = columns.items(i);
        const QString value = QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                                  .arg(i)
                                  .arg(column->width())
                                  .arg(int(column->title()->sortMarker()))
                                  .arg(column->visible() ? 1 : 0)
                                  .arg(column->title()->sortIndex())
                                  .arg(column->dropDownRows())
                                  .arg(column->dropDownWidth());
        if (!lianbu::writeProfileString(fileName, section, columnKey(gridName, column), value))
            unableToWrite(fileName);
    }
    const QString gridValue = QStringLiteral("%1,%2").arg(rowHeight).arg(rowLines);
    if (!lianbu::writeProfileString(fileName, section, QString::fromLatin1(GridEntryKey), gridValue))
        unableToWrite(fileName);
}

namespace {

// Steps that touch the columns: read every entry, apply the chosen properties, settle sort
// indexes, then the order.
void restoreColumns(GridColumns *columns, const QString &gridName, const QString &fileName, const QString &section,
                    LayoutRestoreOptions options)
{
    std::vector<WorkRecord> records;
    records.reserve(size_t(columns->count()));
    for (int i = 0; i < columns->count(); ++i)
        records.push_back({columns->items(i), i, 0});

    for (WorkRecord &record : records) {
        GridColumn *column = record.column;
        const QString value = lianbu::profileString(fileName, section, columnKey(gridName, column));
        if (value.isEmpty())
            continue;
        const Words words(value);
        int v = 0;
        record.wantedPosition = words.value(1, record.wantedPosition);
        // A missing or damaged word leaves the property as it is. Values that are never
        // written (negative widths, unknown markers, visibility other than 0 or 1) count as
        // damaged too.
        if (options.testFlag(RestoreColumnWidths) && words.get(2, &v) && v >= 0)
            column->setWidth(v);
        if (options.testFlag(RestoreSortMarkers) && words.get(3, &v) && v >= int(SortMarker::None)
            && v <= int(SortMarker::Up))
            column->title()->setSortMarker(SortMarker(v));
        if (options.testFlag(RestoreColumnVisibility) && words.get(4, &v) && (v == 0 || v == 1))
            column->setVisible(v == 1);
        if (options.testFlag(RestoreSortMarkers))
            record.wantedSortIndex = words.value(5, 0);
        if (options.testFlag(RestoreDropDownRows) && words.get(6, &v) && v >= 0)
            column->setDropDownRows(v);
        if (options.testFlag(RestoreDropDownWidth) && words.get(7, &v) && v >= 0)
            column->setDropDownWidth(v);
    }

    if (options.testFlag(RestoreSortMarkers)) {
        // A marked column takes its stored rank only by exchanging it with the column that
        // holds that rank now; with one sorted column this changes nothing.
        for (const WorkRecord &record : records) {
            ColumnTitle *title = record.column->title();
            const int wanted = qMax(0, record.wantedSortIndex);
            if (title->sortMarker() == SortMarker::None || wanted == 0 || wanted == title->sortIndex())
                continue;
            for (int i = 0; i < columns->count(); ++i) {
                ColumnTitle *other = columns->items(i)->title();
                if (other != title && other->sortIndex() == wanted) {
                    other->setSortIndex(title->sortIndex());
                    title->setSortIndex(wanted);
                    break;
                }
            }
        }
    }

    if (options.testFlag(RestoreColumnOrder)) {
        // Position by position, the first record (in the order before the restore) that wants
        // it; so of two claims on one position the earlier column wins, and positions outside
        // the list never move a column.
        const int count = columns->count();
        for (int i = 0; i < count; ++i) {
            for (const WorkRecord &record : records) {
                if (record.wantedPosition == i) {
                    record.column->setIndex(i);
                    break;
                }
            }
        }
    }
}

} // namespace

void ColumnLayoutFile::restoreColumns(GridColumns &columns, LayoutRestoreOptions options) const
{
    ::restoreColumns(&columns, m_gridKey, m_fileName, m_section, options);
}

int ColumnLayoutFile::storedRowHeight() const
{
    return qMax(0, Words(lianbu::profileString(m_fileName, m_section, QString::fromLatin1(GridEntryKey))).value(1, 0));
}

int ColumnLayoutFile::storedRowLines() const
{
    return qMax(0, Words(lianbu::profileString(m_fileName, m_section, QString::fromLatin1(GridEntryKey))).value(2, 0));
}
