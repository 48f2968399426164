#include "export/ListExport.h"

#include "db/DataSet.h"
#include "db/Field.h"
#include "export/CustomerFields.h"
#include "export/VCardFormat.h"
#include "export/XlsxFormat.h"
#include "platform/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

QString formatFilter(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Xls:
        return QStringLiteral("Microsoft Excel xls文件 (*.xls)");
    case ExportFormat::Xlsx:
        return QStringLiteral("Excel 工作簿 (*.xlsx)");
    case ExportFormat::CsvUtf8:
        return QStringLiteral("CSV 文件，UTF-8 (*.csv)");
    case ExportFormat::CsvGbk:
        return QStringLiteral("CSV 文件，GBK (*.csv)");
    case ExportFormat::VCard:
        return QStringLiteral("vCard 名片 (*.vcf)");
    }
    return {};
}

QString formatSuffix(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Xls:
        return QStringLiteral("xls");
    case ExportFormat::Xlsx:
        return QStringLiteral("xlsx");
    case ExportFormat::CsvUtf8:
    case ExportFormat::CsvGbk:
        return QStringLiteral("csv");
    case ExportFormat::VCard:
        return QStringLiteral("vcf");
    }
    return {};
}

namespace {

constexpr ExportFormat kAllFormats[] = {ExportFormat::Xls, ExportFormat::Xlsx, ExportFormat::CsvUtf8,
                                        ExportFormat::CsvGbk, ExportFormat::VCard};

} // namespace

QString exportFilters()
{
    QStringList filters;
    for (const ExportFormat format : kAllFormats)
        filters.append(formatFilter(format));
    return filters.join(QStringLiteral(";;"));
}

ExportFormat formatOfChoice(const QString &filter, const QString &path)
{
    ExportFormat chosen = ExportFormat::Xls;
    bool filtered = false;
    for (const ExportFormat format : kAllFormats)
        if (filter == formatFilter(format)) {
            chosen = format;
            filtered = true;
        }
    // A typed suffix says what the operator wants, whatever type the dialog still showed;
    // writing one format under another's name makes a file nothing reads, this program included.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (filtered && suffix == formatSuffix(chosen))
        return chosen;
    for (const ExportFormat format : kAllFormats)
        if (suffix == formatSuffix(format))
            return format;
    return chosen;
}

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

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(failure(path, file.errorString()));

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
                throw Error(failure(path, file.errorString()));
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
        throw Error(failure(path, file.errorString()));
    return outcome;
}

} // namespace lianbu::exchange
