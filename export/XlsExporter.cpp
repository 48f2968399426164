#include "export/XlsExporter.h"

#include "export/ExportProgressWindow.h"
#include "export/ListExport.h"
#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/Gbk.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <vector>

using lianbu::db::Field;
using lianbu::db::ListColumn;
using lianbu::db::ListColumns;
using lianbu::db::RowCells;

// ---- titles --------------------------------------------------------------------------------

TitleCells titleCells(const ListColumns &list)
{
    const size_t depth = size_t(std::max(1, list.titleDepth));
    TitleCells cells;
    cells.reserve(list.columns.size());
    for (const ListColumn &column : list.columns) {
        std::vector<QString> levels(depth);
        const QStringList parts = lianbu::db::titleLevels(column.title);
        for (size_t level = 0; level < depth && level < size_t(parts.size()); ++level)
            levels[level] = parts.at(qsizetype(level));
        cells.push_back(std::move(levels));
    }
    return cells;
}

// ---- XlsExporter -----------------------------------------------------------------------

namespace {

using lianbu::BusyCursor;

QString writeFailure(const QString &fileName, const QString &reason)
{
    QString text = QStringLiteral("Unable to write to %1").arg(fileName);
    if (!reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(reason);
    return text;
}

} // namespace

XlsExporter::XlsExporter(QObject *owner)
    : QObject(owner)
{}

XlsExporter::~XlsExporter()
{
    destroyProgressWindow();
}

void XlsExporter::setList(const ListColumns *columns, const lianbu::db::RowReader *rows)
{
    m_columns = columns;
    m_rows = rows;
}

int XlsExporter::recordCount() const
{
    return m_rows ? m_rows->rowCount() : 0;
}

int writeXlsFile(const QString &path, const XlsHeading &heading, const ListColumns &list,
                 const lianbu::db::RowReader &rows, const std::function<void(int records)> &progress)
{
    XlsExporter writer;
    writer.setShowProgress(false);
    writer.setTitleName(heading.titleName);
    writer.setBeginDate(heading.beginDate);
    writer.setEndDate(heading.endDate);
    writer.setUserName(heading.userName);
    writer.setFileName(path);
    writer.setList(&list, &rows);
    writer.setProgress(progress);
    lianbu::AtomicFileWriter file(path);
    if (!file.open())
        throw lianbu::Error(writeFailure(path, file.errorString()), lianbu::fileWriteReason(file.systemError()));
    try {
        writer.saveStream(&file);
    } catch (const lianbu::Error &error) {
        if (file.systemError() != 0)
            throw lianbu::Error(error.message(), lianbu::fileWriteReason(file.systemError()));
        throw;
    }
    if (!file.commit())
        throw lianbu::Error(writeFailure(path, file.errorString()), lianbu::fileWriteReason(file.systemError()));
    return writer.unencodableCells();
}

void XlsExporter::exportFile()
{
    // The export command's own steps, for this writer's list.
    if (!m_columns || !m_rows)
        return;
    const lianbu::exchange::ListSheet sheet{m_titleName, m_beginDate, m_endDate, m_userName, *m_columns, *m_rows, {}};
    lianbu::exchange::exportListFile(sheet, lianbu::exchange::ExportFormat::Xls, m_fileName, nullptr, m_showProgress);
}

QString exportFailureText(const QString &fileName, const QString &reason)
{
    // The system's reasons arrive in English; the common ones are said in Chinese.
    QString why = QStringLiteral("原因：%1").arg(reason);
    if (reason.contains(QLatin1String("No space left"), Qt::CaseInsensitive)
        || reason.contains(QLatin1String("quota exceeded"), Qt::CaseInsensitive))
        why = QStringLiteral("磁盘已满。请腾出磁盘空间后再导出。");
    else if (reason.contains(QLatin1String("Read-only file system"), Qt::CaseInsensitive))
        why = QStringLiteral("磁盘是只读的。请换一个文件夹。");
    else if (reason.contains(QLatin1String("Permission denied"), Qt::CaseInsensitive))
        why = QStringLiteral("没有写入这个文件或文件夹的权限。请换一个文件夹。");
    return QStringLiteral("导出失败，没有写出文件“%1”。%2").arg(fileName, why);
}

void XlsExporter::saveStream(QIODevice *stream)
{
    m_col = 0;
    m_row = 0;
    m_recordWidth = 0;
    m_stream = stream;
    try {
        writeBof();
        writeTitleBlock();
        writeColumnTitles();
        // The head of the sheet goes out before the records, which then go in large writes.
        flushPending();
        writeRecords();
        writeFooters();
        writeEof();
        flushPending();
    } catch (...) {
        m_pending.clear();
        m_stream = nullptr;
        throw;
    }
    m_stream = nullptr;
}

void XlsExporter::showProgressWindow(QWidget *owner)
{
    if (m_progressWindow)
        return;
    try {
        auto *window = new lianbu::exchange::ExportProgressWindow(m_rows ? m_rows->rowCount() : 1, owner);
        m_progressWindow = window;
        m_gauge = window->gauge();
    } catch (...) {
        // The window shows as far as it was built.
    }
}

void XlsExporter::destroyProgressWindow()
{
    delete m_progressWindow.data();
    m_progressWindow = nullptr;
    m_gauge = nullptr;
}

// ---- record writers -------------------------------------------------------------------------

void XlsExporter::write(const QByteArray &record)
{
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    m_pending.append(record);
    if (m_pending.size() >= 256 * 1024)
        flushPending();
}

void XlsExporter::flushPending()
{
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    const qint64 size = m_pending.size();
    const qint64 written = size == 0 ? 0 : m_stream->write(m_pending);
    m_pending.resize(0); // keeps its capacity
    if (written != size)
        throw lianbu::Error(writeFailure(m_fileName, m_stream->errorString()));
}

void XlsExporter::writeBof()
{
    write(lianbu::xls::bofRecord());
    // Without it, readers outside a Chinese locale take the GBK texts for their own code page.
    write(lianbu::xls::codepageRecord());
}

void XlsExporter::writeEof()
{
    write(lianbu::xls::eofRecord());
}

void XlsExporter::writeLabelCell(const QString &text, bool advance)
{
    writeLabelCell(QStringView(text), advance);
}

void XlsExporter::writeLabelCell(QStringView text, bool advance)
{
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    bool lossless = true;
    lianbu::xls::appendLabelRecord(&m_pending, m_row, m_col, text, &lossless);
    if (!lossless)
        ++m_unencodableCells;
    if (m_pending.size() >= 256 * 1024)
        flushPending();
    if (advance)
        nextCell();
}

void XlsExporter::writeNumberCell(double value, bool advance)
{
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    lianbu::xls::appendNumberRecord(&m_pending, m_row, m_col, value);
    if (m_pending.size() >= 256 * 1024)
        flushPending();
    if (advance)
        nextCell();
}

void XlsExporter::writeRkCell(qint32 value, bool advance)
{
    if (value < lianbu::xls::kMinRkInteger || value > lianbu::xls::kMaxRkInteger) {
        writeNumberCell(double(value), advance);
        return;
    }
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    lianbu::xls::appendRkRecord(&m_pending, m_row, m_col, value);
    if (m_pending.size() >= 256 * 1024)
        flushPending();
    if (advance)
        nextCell();
}

void XlsExporter::writeBlankCell()
{
    if (!m_stream)
        throw lianbu::Error(QStringLiteral("No output stream"));
    lianbu::xls::appendBlankRecord(&m_pending, m_row, m_col);
    if (m_pending.size() >= 256 * 1024)
        flushPending();
    nextCell();
}

void XlsExporter::nextCell()
{
    int width = m_recordWidth;
    if (width <= 0)
        width = m_columns ? int(m_columns->columns.size()) : 0;
    if (m_col >= width - 1) {
        ++m_row;
        m_col = 0;
    } else {
        ++m_col;
    }
}

// ---- sections -------------------------------------------------------------------------------

void XlsExporter::writeTitleBlock()
{
    m_col = 3;
    m_row = 0;
    writeLabelCell(m_titleName, false);
    m_row = 1;
    bool dates = false;
    if (!m_beginDate.trimmed().isEmpty()) {
        m_col = 0;
        writeLabelCell(m_beginDate, false);
        dates = true;
    }
    if (!m_endDate.trimmed().isEmpty()) {
        m_col = 5;
        writeLabelCell(m_endDate, false);
        dates = true;
    }
    if (dates)
        ++m_row;
    m_col = 0;
    writeLabelCell(QStringLiteral("制表人：") + m_userName, false);
    m_col = 5;
    writeLabelCell(QStringLiteral("制表时间：") + lianbu::dateTimeText(lianbu::now()), false);
    ++m_row;
    m_col = 0;
}

void XlsExporter::writeColumnTitles()
{
    if (!m_columns) {
        ++m_row; // one empty title row
        m_col = 0;
        return;
    }
    const TitleCells cells = titleCells(*m_columns);
    // A failed write stops the export here like anywhere else: going on would open a file
    // whose titles are missing as if it were complete.
    for (int level = 0; level < std::max(1, m_columns->titleDepth); ++level) {
        for (size_t c = 0; c < cells.size(); ++c) {
            m_col = int(c);
            // a value no column shows has its title in the top row only
            const bool shown = m_columns->columns[c].shown;
            writeLabelCell(shown || level == 0 ? cells[c][size_t(level)] : QString(), false);
        }
        ++m_row;
    }
    m_col = 0;
}

void XlsExporter::writeValueCell(const ListColumn &column, QStringView text, bool isNull, bool withheld)
{
    if (isNull || column.valueIndex < 0 || withheld) {
        writeBlankCell();
        return;
    }
    // SQLite keeps whatever a column was given; a value that is no number in a numeric column
    // goes out as its text rather than as a wrong number.
    switch (column.type) {
    case Field::DataType::Integer: {
        const QStringView trimmed = text.trimmed();
        bool ok = false;
        const qint64 value = trimmed.toLongLong(&ok);
        if (ok) {
            if (value >= lianbu::xls::kMinRkInteger && value <= lianbu::xls::kMaxRkInteger)
                writeRkCell(qint32(value), true);
            else
                writeNumberCell(double(value), true);
            return;
        }
        const double number = trimmed.toDouble(&ok);
        if (ok && std::isfinite(number))
            writeNumberCell(number, true);
        else
            writeLabelCell(text, true);
        return;
    }
    case Field::DataType::Float: {
        bool ok = false;
        const double number = text.trimmed().toDouble(&ok);
        if (ok && std::isfinite(number))
            writeNumberCell(number, true);
        else
            writeLabelCell(text, true);
        return;
    }
    case Field::DataType::Blob:
        writeLabelCell(QString(), true);
        return;
    case Field::DataType::String:
    case Field::DataType::Unknown:
        writeLabelCell(text, true);
        return;
    }
}

void XlsExporter::writeRecords()
{
    if (!m_columns || !m_rows)
        return;
    const std::vector<ListColumn> &columns = m_columns->columns;
    m_recordWidth = int(columns.size());
    const int count = m_rows->rowCount();
    // A column whose title holds "*****" is withheld: its cells stay blank.
    std::vector<char> withheld;
    for (const ListColumn &column : columns)
        withheld.push_back(column.title.contains(QLatin1String("*****")) ? 1 : 0);
    try {
        // Read in large batches straight from the list: its current row and what it shows stay
        // as they are.
        m_rows->readRows(0, count, [&](int row, const RowCells &cells) {
            for (size_t c = 0; c < columns.size(); ++c) {
                const ListColumn &column = columns[c];
                if (column.valueIndex < 0)
                    writeValueCell(column, QStringView(), true, withheld[c]);
                else
                    writeValueCell(column, cells.text(column.valueIndex), cells.isNull(column.valueIndex), withheld[c]);
            }
            if (row % 256 == 255 || row + 1 == count) {
                // QProgressBar repaints at once whenever the bar visibly changes.
                if (m_showProgress && m_gauge)
                    m_gauge->setValue(row + 1);
                if (m_progress)
                    m_progress(row + 1);
            }
        });
    } catch (...) {
        m_recordWidth = 0;
        throw;
    }
    m_recordWidth = 0;
}

void XlsExporter::writeFooters()
{
    if (!m_columns || m_columns->footerRows == 0)
        return;
    m_col = 0;
    if (m_columns->footerRows == 1) {
        for (const ListColumn &column : m_columns->columns) {
            if (!column.shown)
                continue;
            writeLabelCell(column.footers.empty() ? QString() : column.footers.front().text, false);
            ++m_col;
        }
    } else {
        for (const ListColumn &column : m_columns->columns) {
            if (!column.shown)
                continue;
            for (const lianbu::db::ListFooter &footer : column.footers) {
                writeLabelCell(footer.text, false);
                ++m_row;
            }
            ++m_col;
            m_row -= int(column.footers.size());
        }
    }
    m_col = 0;
}

qint64 XlsExporter::sheetRowCount() const
{
    qint64 rows = 2;
    if (!m_beginDate.trimmed().isEmpty() || !m_endDate.trimmed().isEmpty())
        ++rows;
    rows += m_columns ? std::max(1, m_columns->titleDepth) : 1;
    rows += recordCount();
    if (m_columns && m_columns->footerRows == 1) {
        rows += 1;
    } else if (m_columns && m_columns->footerRows > 1) {
        size_t deepest = 0;
        for (const ListColumn &column : m_columns->columns)
            if (column.shown)
                deepest = std::max(deepest, column.footers.size());
        rows += qint64(deepest);
    }
    return rows;
}
