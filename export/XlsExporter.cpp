#include "export/XlsExporter.h"

#include "db/DataSet.h"
#include "db/Field.h"
#include "export/ExportProgressWindow.h"
#include "grid/DataGrid.h"
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

using lianbu::db::DataSet;
using lianbu::db::Field;

// ---- TitleRows -------------------------------------------------------------------------

int TitleRows::GetVisibleColumnCount() const
{
    return grid ? int(grid->visibleColumns().size()) : 0;
}

int TitleRows::GetTitleRowCount() const
{
    int rows = 1;
    if (!grid)
        return rows;
    const GridColumns *columns = grid->columns();
    for (int i = 0; i < columns->count(); ++i)
        rows = std::max(rows, 1 + int(columns->items(i)->title()->caption().count(QLatin1Char('|'))));
    return rows;
}

void TitleRows::titleCells(TitleCells &cells)
{
    m_visibleColumnCount = GetVisibleColumnCount();
    m_titleRowCount = GetTitleRowCount();
    cells.assign(size_t(m_visibleColumnCount), std::vector<QString>(size_t(m_titleRowCount)));
    if (!grid)
        return;
    const QList<GridColumn *> visible = grid->visibleColumns();
    for (int v = 0; v < m_visibleColumnCount; ++v) {
        std::vector<QString> &levels = cells[size_t(v)];
        QString caption = visible.at(v)->title()->caption();
        size_t level = 0;
        qsizetype bar;
        while ((bar = caption.indexOf(QLatin1Char('|'))) >= 0) {
            levels[level++] = caption.left(bar);
            caption = caption.mid(bar + 1);
        }
        levels[level] = caption;
    }
}

// ---- XlsExporter -----------------------------------------------------------------------

namespace {

using lianbu::BusyCursor;

// Field changes each notify the bound controls; one notification at the end is enough.
class ControlsDisabled
{
public:
    explicit ControlsDisabled(DataSet *dataSet)
        : m_dataSet(dataSet)
    {
        m_dataSet->disableControls();
    }
    ~ControlsDisabled() { m_dataSet->enableControls(); }
    ControlsDisabled(const ControlsDisabled &) = delete;
    ControlsDisabled &operator=(const ControlsDisabled &) = delete;

private:
    DataSet *m_dataSet;
};

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

void XlsExporter::setExtraFieldTitles(const QHash<QString, QString> &titles)
{
    m_extraFieldTitles.clear();
    for (auto it = titles.cbegin(); it != titles.cend(); ++it)
        m_extraFieldTitles.insert(it.key().toLower(), it.value());
}

XlsExporter::~XlsExporter()
{
    DestroyProgressWindow();
}

DataSet *XlsExporter::dataSet() const
{
    return m_grid ? m_grid->dataSet() : nullptr;
}

void XlsExporter::ExportToExcel()
{
    DataSet *ds = dataSet();
    if (!ds || !ds->active() || ds->isEmpty())
        return;
    if (m_fileName.trimmed().isEmpty())
        return;

    PrepareFields(); // a column without its field reaches the caller

    // Rows past the last one the format addresses would wrap onto the top of the sheet.
    const qint64 rows = SheetRowCount();
    if (rows > qint64(lianbu::xls::kMaxRow) + 1) {
        lianbu::showInformation(
            QStringLiteral("列表共有 %1 条记录，连同标题和表尾需要 %2 行，而一个 .xls 文件最多只能有 %3 行。"
                           "没有导出任何数据。")
                .arg(ds->recordCount())
                .arg(rows)
                .arg(lianbu::xls::kMaxRow + 1));
        return;
    }

    BusyCursor busy;
    try {
        if (lianbu::mayOverwrite(m_fileName)) // No: the file stays as it was
            writeFile();
    } catch (...) {
        // The file is neither replaced nor opened; the operator learns which file and why.
        const std::exception_ptr failure = std::current_exception();
        if (m_showProgress)
            DestroyProgressWindow();
        lianbu::showError(exportFailureText(m_fileName, lianbu::exceptionText(failure)));
        return;
    }
    if (m_showProgress)
        DestroyProgressWindow();
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

void XlsExporter::writeFile()
{
    if (m_showProgress)
        ShowProgressWindow(nullptr);

    // The new file is written beside the old one and renamed over it only when complete, so
    // a failure never leaves a half-written file or loses the file it was to replace.
    lianbu::AtomicFileWriter file(m_fileName);
    if (!file.open())
        throw lianbu::Error(writeFailure(m_fileName, file.errorString()), lianbu::fileWriteReason(file.systemError()));
    m_unencodableCells = 0;
    try {
        SaveStream(&file);
    } catch (const lianbu::Error &error) {
        if (file.systemError() != 0)
            throw lianbu::Error(error.message(), lianbu::fileWriteReason(file.systemError()));
        throw;
    }
    if (!file.commit())
        throw lianbu::Error(writeFailure(m_fileName, file.errorString()), lianbu::fileWriteReason(file.systemError()));
    if (m_unencodableCells > 0) {
        // The file is complete; the format holds GBK text only, so the operator must know.
        lianbu::showInformation(QStringLiteral("文件“%1”已导出，但其中 %2 个单元格含有 .xls 文件无法保存的字符"
                                               "（如生僻字或表情符号），这些字符已替换为“?”。")
                                    .arg(m_fileName)
                                    .arg(m_unencodableCells));
    }

    lianbu::openFile(m_fileName);
}

void XlsExporter::SaveStream(QIODevice *stream)
{
    m_col = 0;
    m_row = 0;
    m_recordWidth = 0;
    m_stream = stream;
    try {
        WriteBof();
        WriteTitleBlock();
        WriteColumnTitles();
        // The head of the sheet goes out before the records, which then go in large writes.
        flushPending();
        WriteRecords();
        WriteFooters();
        WriteEof();
        flushPending();
    } catch (...) {
        m_pending.clear();
        m_stream = nullptr;
        throw;
    }
    m_stream = nullptr;
}

void XlsExporter::PrepareFields()
{
    DataSet *ds = dataSet();
    if (!ds || !ds->active())
        return;
    ControlsDisabled quiet(ds);
    const GridColumns *columns = m_grid->columns();
    for (int i = 0; i < columns->count(); ++i) {
        const GridColumn *column = columns->items(i);
        Field &field = ds->fieldByName(column->fieldName());
        field.setIndex(i);
        field.setDisplayLabel(column->title()->caption());
        field.setVisible(column->visible());
    }
    for (int k = 0; k < ds->fieldCount(); ++k) {
        Field &field = ds->field(k);
        if (field.displayLabel().contains(QLatin1String("*****")))
            field.setVisible(false);
    }
}

void XlsExporter::ShowProgressWindow(QWidget *owner)
{
    if (m_progressWindow)
        return;
    try {
        const DataSet *ds = dataSet();
        auto *window = new lianbu::exchange::ExportProgressWindow(ds && ds->active() ? ds->recordCount() : 1, owner);
        m_progressWindow = window;
        m_gauge = window->gauge();
    } catch (...) {
        // The window shows as far as it was built.
    }
}

void XlsExporter::DestroyProgressWindow()
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

void XlsExporter::WriteBof()
{
    write(lianbu::xls::bofRecord());
    // Without it, readers outside a Chinese locale take the GBK texts for their own code page.
    write(lianbu::xls::codepageRecord());
}

void XlsExporter::WriteEof()
{
    write(lianbu::xls::eofRecord());
}

void XlsExporter::WriteLabelCell(const QString &text, bool advance)
{
    WriteLabelCell(QStringView(text), advance);
}

void XlsExporter::WriteLabelCell(QStringView text, bool advance)
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
        NextCell();
}

void XlsExporter::WriteNumberCell(double value, bool advance)
{
    write(lianbu::xls::numberRecord(m_row, m_col, value));
    if (advance)
        NextCell();
}

void XlsExporter::WriteRkCell(qint32 value, bool advance)
{
    if (value < lianbu::xls::kMinRkInteger || value > lianbu::xls::kMaxRkInteger)
        write(lianbu::xls::numberRecord(m_row, m_col, double(value)));
    else
        write(lianbu::xls::rkRecord(m_row, m_col, value));
    if (advance)
        NextCell();
}

void XlsExporter::WriteBlankCell()
{
    write(lianbu::xls::blankRecord(m_row, m_col));
    NextCell();
}

void XlsExporter::NextCell()
{
    int width = m_recordWidth;
    if (width <= 0) {
        const DataSet *ds = dataSet();
        width = ds ? ds->fieldCount() : 0;
    }
    if (m_col >= width - 1) {
        ++m_row;
        m_col = 0;
    } else {
        ++m_col;
    }
}

// ---- sections -------------------------------------------------------------------------------

void XlsExporter::WriteTitleBlock()
{
    m_col = 3;
    m_row = 0;
    WriteLabelCell(m_titleName, false);
    m_row = 1;
    bool dates = false;
    if (!m_beginDate.trimmed().isEmpty()) {
        m_col = 0;
        WriteLabelCell(m_beginDate, false);
        dates = true;
    }
    if (!m_endDate.trimmed().isEmpty()) {
        m_col = 5;
        WriteLabelCell(m_endDate, false);
        dates = true;
    }
    if (dates)
        ++m_row;
    m_col = 0;
    WriteLabelCell(QStringLiteral("制表人：") + m_userName, false);
    m_col = 5;
    WriteLabelCell(QStringLiteral("制表时间：") + lianbu::dateTimeText(lianbu::now()), false);
    ++m_row;
    m_col = 0;
}

void XlsExporter::WriteColumnTitles()
{
    TitleRows title;
    title.grid = m_grid;
    TitleCells cells;
    title.titleCells(cells);
    // A failed write stops the export here like anywhere else: going on would open a file
    // whose titles are missing as if it were complete.
    // The fields no column shows that go out, under their own titles, after the visible columns.
    QStringList extraTitles;
    if (const DataSet *ds = dataSet(); ds && ds->active()) {
        const std::vector<int> fields = RecordFields();
        for (size_t k = size_t(title.VisibleColumnCount()); k < fields.size(); ++k)
            extraTitles.append(m_extraFieldTitles.value(ds->field(fields[k]).fieldName().toLower()));
    }
    for (int level = 0; level < title.TitleRowCount(); ++level) {
        for (int v = 0; v < title.VisibleColumnCount(); ++v) {
            m_col = v;
            WriteLabelCell(cells[size_t(v)][size_t(level)], false);
        }
        for (int k = 0; k < extraTitles.size(); ++k) {
            m_col = title.VisibleColumnCount() + k;
            WriteLabelCell(level == 0 ? extraTitles.at(k) : QString(), false);
        }
        ++m_row;
    }
    m_col = 0;
}

std::vector<int> XlsExporter::RecordFields() const
{
    std::vector<int> fields;
    const DataSet *ds = dataSet();
    if (!ds || !ds->active())
        return fields;
    std::vector<bool> taken(size_t(ds->fieldCount()), false);
    std::vector<bool> shown(size_t(ds->fieldCount()), false); // named by some column
    if (m_grid) {
        const GridColumns *columns = m_grid->columns();
        for (int i = 0; i < columns->count(); ++i) {
            const GridColumn *column = columns->items(i);
            const Field *field = ds->findField(column->fieldName());
            if (!field)
                continue;
            shown[size_t(field->index())] = true;
            if (column->visible() && !taken[size_t(field->index())]) {
                taken[size_t(field->index())] = true;
                fields.push_back(field->index());
            }
        }
    }
    for (int k = 0; k < ds->fieldCount(); ++k)
        if (!shown[size_t(k)] && m_extraFieldTitles.contains(ds->field(k).fieldName().toLower()))
            fields.push_back(k);
    return fields;
}

void XlsExporter::writeFieldCell(const Field &field, QStringView text, bool isNull)
{
    if (isNull || !field.visible()) {
        WriteBlankCell();
        return;
    }
    // SQLite keeps whatever a column was given; a value that is no number in a numeric column
    // goes out as its text rather than as a wrong number.
    switch (field.dataType()) {
    case Field::DataType::Integer: {
        const QStringView trimmed = text.trimmed();
        bool ok = false;
        const qint64 value = trimmed.toLongLong(&ok);
        if (ok) {
            if (value >= lianbu::xls::kMinRkInteger && value <= lianbu::xls::kMaxRkInteger)
                WriteRkCell(qint32(value), true);
            else
                WriteNumberCell(double(value), true);
            return;
        }
        const double number = trimmed.toDouble(&ok);
        if (ok && std::isfinite(number))
            WriteNumberCell(number, true);
        else
            WriteLabelCell(text, true);
        return;
    }
    case Field::DataType::Float: {
        bool ok = false;
        const double number = text.trimmed().toDouble(&ok);
        if (ok && std::isfinite(number))
            WriteNumberCell(number, true);
        else
            WriteLabelCell(text, true);
        return;
    }
    case Field::DataType::Blob:
        WriteLabelCell(QString(), true);
        return;
    case Field::DataType::String:
    case Field::DataType::Unknown:
        WriteLabelCell(text, true);
        return;
    }
}

void XlsExporter::WriteRecords()
{
    DataSet *ds = dataSet();
    if (!ds || !ds->active())
        return;
    ds->checkBrowseMode();
    const std::vector<int> fields = RecordFields();
    m_recordWidth = int(fields.size());
    std::vector<const Field *> byIndex;
    for (const int k : fields)
        byIndex.push_back(&ds->field(k));
    try {
        // Read in large batches straight from the list, not row by row through the current
        // record: the current row and what the grid shows stay as they are.
        ds->readRows(0, ds->recordCount(), [&](int row, const DataSet::RowCells &cells) {
            for (size_t i = 0; i < fields.size(); ++i)
                writeFieldCell(*byIndex[i], cells.text(fields[i]), cells.isNull(fields[i]));
            // QProgressBar repaints at once whenever the bar visibly changes.
            if (m_showProgress && m_gauge && (row % 256 == 255 || row + 1 == ds->recordCount()))
                m_gauge->setValue(row + 1);
        });
    } catch (...) {
        m_recordWidth = 0;
        throw;
    }
    m_recordWidth = 0;
}

void XlsExporter::WriteFooters()
{
    if (!m_grid || m_grid->footerRowCount() == 0)
        return;
    m_col = 0;
    const QList<GridColumn *> visible = m_grid->visibleColumns();
    if (m_grid->footerRowCount() == 1) {
        for (const GridColumn *column : visible) {
            WriteLabelCell(column->footer()->value(), false);
            ++m_col;
        }
    } else {
        for (const GridColumn *column : visible) {
            const ColumnFooters *footers = column->footers();
            for (int k = 0; k < footers->count(); ++k) {
                WriteLabelCell(footers->items(k)->value(), false);
                ++m_row;
            }
            ++m_col;
            m_row -= footers->count();
        }
    }
    m_col = 0;
}

qint64 XlsExporter::SheetRowCount() const
{
    const DataSet *ds = dataSet();
    qint64 rows = 2;
    if (!m_beginDate.trimmed().isEmpty() || !m_endDate.trimmed().isEmpty())
        ++rows;
    TitleRows title;
    title.grid = m_grid;
    rows += title.GetTitleRowCount();
    rows += ds && ds->active() ? ds->recordCount() : 0;
    if (m_grid && m_grid->footerRowCount() == 1) {
        rows += 1;
    } else if (m_grid && m_grid->footerRowCount() > 1) {
        int deepest = 0;
        for (const GridColumn *column : m_grid->visibleColumns())
            deepest = std::max(deepest, column->footers()->count());
        rows += deepest;
    }
    return rows;
}
