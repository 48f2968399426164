#include "export/ListExport.h"

#include "db/DataSet.h"
#include "db/Field.h"
#include "export/CustomerFields.h"
#include "export/VCardFormat.h"
#include "export/XlsxFormat.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"

namespace lianbu::exchange {

namespace {

// Calls the progress function when the share done changes; throws on cancel.
class ProgressSteps
{
public:
    ProgressSteps(const ProgressFunction &progress, qint64 total)
        : m_progress(progress)
        , m_total(total)
    {}
    void done(qint64 count)
    {
        if (!m_progress || m_total <= 0)
            return;
        const int permille = int(count * 1000 / m_total);
        if (permille == m_last)
            return;
        m_last = permille;
        if (!m_progress(permille))
            throw Error(QStringLiteral("导出已取消，没有写入任何文件。"));
    }

private:
    const ProgressFunction &m_progress;
    qint64 m_total;
    int m_last = -1;
};

std::vector<int> fieldIndexes(const db::DataSet &dataSet, const std::vector<QString> &names)
{
    std::vector<int> indexes;
    indexes.reserve(names.size());
    for (const QString &name : names)
        indexes.push_back(dataSet.fieldByName(name).index());
    return indexes;
}

} // namespace

ExportOutcome exportList(const db::DataSet &dataSet, const ListExport &list, ExportFormat format, const QString &path,
                         const ProgressFunction &progress)
{
    if (format == ExportFormat::Xls)
        throw Error(QStringLiteral("The .xls format is written by the .xls exporter"));
    ExportOutcome outcome;
    const int rows = dataSet.active() ? dataSet.recordCount() : 0;
    outcome.records = rows;
    ProgressSteps steps(progress, rows);

    if (format == ExportFormat::Xlsx) {
        const std::vector<int> indexes = fieldIndexes(dataSet, list.fieldNames);
        int row = 0;
        writeXlsx(
            path, list.layout,
            [&](QStringList &cells) {
                if (row >= rows)
                    return false;
                for (const int k : indexes)
                    cells.append(dataSet.cellText(row, k));
                ++row;
                return true;
            },
            rows, progress);
        return outcome;
    }

    AtomicFileWriter file(path);
    if (!file.open())
        throw Error(file.failureText());

    if (format == ExportFormat::VCard) {
        // Every customer field the dataset has, whatever the grid shows.
        std::array<int, kCustomerFieldCount> indexes;
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
            const db::Field *field = dataSet.findField(fieldColumn(CustomerField(f)));
            indexes[f] = field ? field->index() : -1;
        }
        for (int row = 0; row < rows; ++row) {
            CustomerRecord record;
            for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
                if (indexes[f] >= 0)
                    record.values[f] = dataSet.cellText(row, indexes[f]);
            const QByteArray card = vCardFor(record);
            if (file.write(card) != card.size())
                throw Error(file.failureText());
            steps.done(row + 1);
        }
    } else {
        const std::vector<int> indexes = fieldIndexes(dataSet, list.fieldNames);
        CsvWriter writer(&file, format == ExportFormat::CsvGbk ? TextEncoding::Gbk : TextEncoding::Utf8);
        QStringList titles;
        for (const auto &levels : list.layout.titleCells) {
            QStringList parts(levels.begin(), levels.end());
            while (parts.size() > 1 && parts.back().isEmpty())
                parts.removeLast();
            titles.append(parts.join(QLatin1Char('|')));
        }
        writer.writeRow(titles);
        QStringList cells;
        for (int row = 0; row < rows; ++row) {
            cells.clear();
            for (const int k : indexes)
                cells.append(dataSet.cellText(row, k));
            writer.writeRow(cells);
            steps.done(row + 1);
        }
        outcome.lostCharacters = writer.lostCharacters();
    }
    if (!file.commit())
        throw Error(file.failureText());
    return outcome;
}

} // namespace lianbu::exchange
