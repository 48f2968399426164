#include "export/ListExport.h"

#include "export/BiffRecords.h"
#include "export/CustomerFields.h"
#include "export/ExportProgressWindow.h"
#include "export/VCardFormat.h"
#include "export/XlsExporter.h"
#include "export/XlsxFormat.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Shell.h"

#include <QFileInfo>
#include <QStringList>

#include <array>
#include <memory>

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

std::vector<int> valueIndexes(const ListSheet &sheet)
{
    std::vector<int> indexes;
    indexes.reserve(sheet.columns.columns.size());
    for (const db::ListColumn &column : sheet.columns.columns)
        indexes.push_back(column.valueIndex);
    return indexes;
}

void appendCells(QStringList &cells, const db::RowCells &row, const std::vector<int> &indexes)
{
    for (const int k : indexes)
        cells.append(k >= 0 ? row.text(k).toString() : QString());
}

ExportOutcome writeCsvSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress,
                            TextEncoding encoding)
{
    ExportOutcome outcome;
    const int rows = sheet.rows.rowCount();
    outcome.records = rows;
    ProgressSteps steps(progress, rows);
    AtomicFileWriter file(path);
    if (!file.open())
        throw Error(file.failureText());
    const std::vector<int> indexes = valueIndexes(sheet);
    CsvWriter writer(&file, encoding);
    QStringList titles;
    for (const auto &levels : layoutOf(sheet).titleCells) {
        QStringList parts(levels.begin(), levels.end());
        while (parts.size() > 1 && parts.back().isEmpty())
            parts.removeLast();
        titles.append(parts.join(QLatin1Char('|')));
    }
    writer.writeRow(titles);
    QStringList cells;
    sheet.rows.readRows(0, rows, [&](int row, const db::RowCells &values) {
        cells.clear();
        appendCells(cells, values, indexes);
        writer.writeRow(cells);
        steps.done(row + 1);
    });
    outcome.lostCharacters = writer.lostCharacters();
    if (!file.commit())
        throw Error(file.failureText());
    return outcome;
}

} // namespace

SheetLayout layoutOf(const ListSheet &sheet)
{
    SheetLayout layout;
    layout.titleName = sheet.titleName;
    layout.beginDate = sheet.beginDate;
    layout.endDate = sheet.endDate;
    layout.userName = sheet.userName;
    layout.madeAt = dateTimeText(now());
    const bool footer = sheet.columns.footerRows > 0;
    for (const db::ListColumn &column : sheet.columns.columns) {
        const QStringList levels = db::titleLevels(column.title);
        if (column.shown)
            layout.titleCells.emplace_back(levels.begin(), levels.end());
        else
            layout.titleCells.push_back({column.title});
        layout.columnWidths.push_back(column.shown ? column.width : 0);
        layout.footers.push_back(footer && column.shown && !column.footers.empty() ? column.footers.front().text
                                                                                   : QString());
    }
    if (!footer)
        layout.footers.clear();
    return layout;
}

ExportOutcome writeXlsSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress)
{
    ExportOutcome outcome;
    outcome.records = sheet.rows.rowCount();
    ProgressSteps steps(progress, outcome.records);
    try {
        outcome.unencodableCells = writeXlsFile(path, {sheet.titleName, sheet.beginDate, sheet.endDate, sheet.userName},
                                                sheet.columns, sheet.rows, [&](int records) { steps.done(records); });
    } catch (...) {
        // The file and the reason, the common reasons in Chinese.
        throw Error(exportFailureText(path, exceptionText(std::current_exception())));
    }
    return outcome;
}

ExportOutcome writeXlsxSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress)
{
    ExportOutcome outcome;
    const int rows = sheet.rows.rowCount();
    outcome.records = rows;
    const std::vector<int> indexes = valueIndexes(sheet);
    // The writer pulls one row at a time; the list is read in batches meanwhile.
    constexpr int kBatch = 4096;
    std::vector<QStringList> batch;
    std::size_t next = 0;
    int read = 0;
    writeXlsx(
        path, layoutOf(sheet),
        [&](QStringList &cells) {
            if (next == batch.size()) {
                if (read >= rows)
                    return false;
                batch.clear();
                next = 0;
                const int to = std::min(rows, read + kBatch);
                sheet.rows.readRows(read, to, [&](int, const db::RowCells &values) {
                    QStringList row;
                    row.reserve(qsizetype(indexes.size()));
                    appendCells(row, values, indexes);
                    batch.push_back(std::move(row));
                });
                read = to;
                if (batch.empty())
                    return false;
            }
            cells.append(batch[next]);
            batch[next].clear();
            ++next;
            return true;
        },
        rows, progress);
    return outcome;
}

ExportOutcome writeUtf8CsvSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress)
{
    return writeCsvSheet(sheet, path, progress, TextEncoding::Utf8);
}

ExportOutcome writeGbkCsvSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress)
{
    return writeCsvSheet(sheet, path, progress, TextEncoding::Gbk);
}

ExportOutcome writeVCardSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress)
{
    ExportOutcome outcome;
    const int rows = sheet.rows.rowCount();
    outcome.records = rows;
    ProgressSteps steps(progress, rows);
    AtomicFileWriter file(path);
    if (!file.open())
        throw Error(file.failureText());
    // Every customer field the list has, whatever the columns show.
    std::array<int, kCustomerFieldCount> indexes;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
        indexes[f] = -1;
        for (qsizetype k = 0; k < sheet.valueNames.size() && indexes[f] < 0; ++k)
            if (sheet.valueNames[k].compare(fieldColumn(CustomerField(f)), Qt::CaseInsensitive) == 0)
                indexes[f] = int(k);
    }
    sheet.rows.readRows(0, rows, [&](int row, const db::RowCells &values) {
        CustomerRecord record;
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            if (indexes[f] >= 0)
                record.values[f] = values.text(indexes[f]).toString();
        const QByteArray card = vCardFor(record);
        if (file.write(card) != card.size())
            throw Error(file.failureText());
        steps.done(row + 1);
    });
    if (!file.commit())
        throw Error(file.failureText());
    return outcome;
}

QString xlsTooLong(const ListSheet &sheet)
{
    // Rows past the last one the format addresses would wrap onto the top of the sheet.
    XlsExporter writer;
    writer.setList(&sheet.columns, &sheet.rows);
    writer.setBeginDate(sheet.beginDate);
    writer.setEndDate(sheet.endDate);
    const qint64 rows = writer.sheetRowCount();
    if (rows <= qint64(xls::kMaxRow) + 1)
        return {};
    return QStringLiteral("列表共有 %1 条记录，连同标题和表尾需要 %2 行，而一个 .xls 文件最多只能有 %3 行。"
                          "没有导出任何数据。")
        .arg(sheet.rows.rowCount())
        .arg(rows)
        .arg(xls::kMaxRow + 1);
}

QString xlsxTooLong(const ListSheet &sheet)
{
    const SheetLayout layout = layoutOf(sheet);
    const qint64 records = sheet.rows.rowCount();
    const qint64 rows = layout.headerRows() + records + (layout.footers.empty() ? 0 : 1);
    if (rows <= kXlsxMaxRows)
        return {};
    return QStringLiteral("列表共有 %1 条记录，连同标题和表尾需要 %2 行，而一个 .xlsx 文件最多只能有 %3 行。")
        .arg(records)
        .arg(rows)
        .arg(kXlsxMaxRows);
}

QString fitsAnyLength(const ListSheet &)
{
    return {};
}

QString lossText(const ExportOutcome &outcome, const QString &path)
{
    if (outcome.unencodableCells > 0)
        // The file is complete; the format holds GBK text only, so the operator must know.
        return QStringLiteral("文件“%1”已导出，但其中 %2 个单元格含有 .xls 文件无法保存的字符"
                              "（如生僻字或表情符号），这些字符已替换为“?”。")
            .arg(path)
            .arg(outcome.unencodableCells);
    if (outcome.lostCharacters > 0)
        return QStringLiteral("有 %1 个字符无法用 GBK 编码保存，已写成“?”。需要保留全部文字时，"
                              "请导出为 UTF-8 的 CSV 文件或 .xlsx 文件。")
            .arg(outcome.lostCharacters);
    return {};
}

bool exportListFile(const ListSheet &sheet, ExportFormat format, const QString &path, QWidget *parent,
                    bool showProgress)
{
    const int count = sheet.rows.rowCount();
    if (count == 0 || path.trimmed().isEmpty())
        return false;
    for (const db::ListColumn &column : sheet.columns.columns)
        if (column.valueIndex < 0)
            throw Error(QStringLiteral("Field '%1' not found").arg(column.fieldName));
    const FileFormat &entry = fileFormat(format);
    if (const QString refusal = entry.tooLong(sheet); !refusal.isEmpty()) {
        showInformation(refusal, parent);
        return false;
    }

    ExportOutcome outcome;
    {
        BusyCursor busy;
        if (!mayOverwrite(path, parent)) // No: the file stays as it was
            return false;
        std::unique_ptr<ExportProgressWindow> window;
        if (showProgress)
            window = std::make_unique<ExportProgressWindow>(count, nullptr);
        try {
            outcome = entry.write(sheet, path, [&](int permille) {
                if (window)
                    window->setValue(int(qint64(count) * permille / 1000));
                return true;
            });
        } catch (const Error &error) {
            window.reset();
            showError(error.message(), parent);
            return false;
        }
    }
    if (const QString lost = lossText(outcome, path); !lost.isEmpty())
        showInformation(lost, parent);
    openFile(path);
    return true;
}

ExportTarget exportTargetOf(const QString &path, const QString &chosenFilter, const std::vector<ExportFormat> &offered)
{
    if (offered.empty())
        throw Error(QStringLiteral("No export format offered"));
    ExportFormat chosen = offered.front();
    for (ExportFormat format : offered)
        if (formatFilter(format) == chosenFilter)
            chosen = format;
    const QString typed = QFileInfo(path).suffix().toLower();
    if (typed == formatSuffix(chosen))
        return {path, chosen};
    for (ExportFormat format : offered)
        if (typed == formatSuffix(format))
            return {path, format};
    // Anything else is part of the name: "报表.2026" or "日志.txt" still get a file the format's
    // programs open.
    QString named = path;
    if (!named.endsWith(QLatin1Char('.')))
        named += QLatin1Char('.');
    return {named + formatSuffix(chosen), chosen};
}

std::optional<ExportTarget> askExportTarget(QWidget *parent, const QString &caption, const QString &fileName,
                                            const std::vector<ExportFormat> &offered)
{
    QStringList filters;
    for (ExportFormat format : offered)
        filters << formatFilter(format);
    QString chosenFilter;
    SaveFileRequest request;
    request.caption = caption;
    request.fileName = fileName;
    request.filter = filters.join(QStringLiteral(";;"));
    request.selectedFilter = filters.value(0);
    request.chosenFilter = &chosenFilter;
    const QString path = dialogs().saveFileName(parent, request);
    if (path.trimmed().isEmpty())
        return std::nullopt;
    return exportTargetOf(path, chosenFilter, offered);
}

} // namespace lianbu::exchange
