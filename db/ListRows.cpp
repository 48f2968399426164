#include "db/ListRows.h"

#include "db/DataSet.h"

#include <cmath>

namespace lianbu::db {

namespace {

class DataSetCells final : public RowCells
{
public:
    const DataSet::RowCells *cells = nullptr;
    QStringView text(int valueIndex) const override { return cells->text(valueIndex); }
    bool isNull(int valueIndex) const override { return cells->isNull(valueIndex); }
};

QString numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

} // namespace

DataSetRows::DataSetRows(const DataSet &dataSet)
    : m_dataSet(dataSet)
    , m_rowsAtStart(dataSet.active() ? dataSet.recordCount() : 0)
    , m_sortAtStart(dataSet.sort())
{}

DataSetRows::DataSetRows(const DataSet &dataSet, int currentRow)
    : DataSetRows(dataSet)
{
    m_ownCurrent = true;
    m_currentRow = currentRow;
}

int DataSetRows::rowCount() const
{
    return m_dataSet.active() ? m_dataSet.recordCount() : 0;
}

void DataSetRows::readRows(int from, int to, const Visit &visit) const
{
    if (!m_dataSet.active())
        return;
    DataSetCells cells;
    m_dataSet.readRows(from, to, [&](int row, const DataSet::RowCells &found) {
        cells.cells = &found;
        visit(row, cells);
    });
}

int DataSetRows::currentRow() const
{
    if (!m_dataSet.active())
        return -1;
    if (m_ownCurrent)
        return m_currentRow < m_dataSet.recordCount() ? m_currentRow : -1;
    return m_dataSet.currentRow();
}

bool DataSetRows::stale() const
{
    return !m_dataSet.active() || m_dataSet.recordCount() != m_rowsAtStart || m_dataSet.sort() != m_sortAtStart;
}

QString footerText(const ListFooter &footer, const ListColumn &column, const RowReader &rows)
{
    switch (footer.kind) {
    case FooterKind::None:
        return QString();
    case FooterKind::Text:
        return footer.text;
    case FooterKind::Count:
        return QString::number(rows.rowCount());
    case FooterKind::CurrentValue:
    case FooterKind::Sum:
    case FooterKind::Average:
        break;
    }
    const int index = footer.valueIndex >= 0 ? footer.valueIndex : column.valueIndex;
    if (index < 0)
        return QString();
    if (footer.kind == FooterKind::CurrentValue) {
        const int current = rows.currentRow();
        if (current < 0)
            return QString();
        QString text;
        rows.readRows(current, current + 1, [&](int, const RowCells &cells) { text = cells.text(index).toString(); });
        return text;
    }
    double sum = 0;
    int counted = 0;
    rows.readRows(0, rows.rowCount(), [&](int, const RowCells &cells) {
        if (cells.isNull(index))
            return;
        bool ok = false;
        const double value = cells.text(index).trimmed().toDouble(&ok);
        if (ok) {
            sum += value;
            ++counted;
        }
    });
    if (footer.kind == FooterKind::Sum)
        return numberText(sum);
    return counted > 0 ? numberText(sum / counted) : QString();
}

QStringList titleLevels(const QString &title)
{
    return title.split(QLatin1Char('|'));
}

} // namespace lianbu::db
