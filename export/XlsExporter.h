#pragma once

// XlsExporter writes what a data grid lists into an .xls file: a bare stream of BIFF
// records (BOF, CODEPAGE, cells, EOF) with one worksheet and no workbook records. From top to bottom the
// sheet holds the title block, the column titles (one row per title level), one row per record
// of the grid's dataset and the grid's footer texts. Text cells are GBK bytes, which
// spreadsheet programs read as code page 936.
//
// Records go to the file cell by cell as they are produced; only the title table is held in
// memory, so the export's memory does not grow with the number of records.

#include "export/BiffRecords.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QWidget>

#include <vector>

class QIODevice;
class DataGrid;

namespace lianbu::db {
class DataSet;
class Field;
} // namespace lianbu::db

// column titles split at "|" into levels: [visible column][level].
using TitleCells = std::vector<std::vector<QString>>;

// Splits the grid's column titles into title rows.
class TitleRows
{
public:
    DataGrid *grid = nullptr;

    // grid columns whose Visible is true.
    int GetVisibleColumnCount() const;
    // The most levels any column's title has (hidden columns count too); at least 1.
    int GetTitleRowCount() const;
    // Stores both counts, sizes `cells` to visible columns x levels and fills it; levels a
    // title does not reach stay empty.
    void titleCells(TitleCells &cells);

    int VisibleColumnCount() const { return m_visibleColumnCount; }
    int TitleRowCount() const { return m_titleRowCount; }

private:
    int m_visibleColumnCount = 0;
    int m_titleRowCount = 1;
};

// The text the operator is shown when an export could not be written: the file and the reason.
QString exportFailureText(const QString &fileName, const QString &reason);

class XlsExporter : public QObject
{
    Q_OBJECT

public:
    explicit XlsExporter(QObject *owner = nullptr);
    ~XlsExporter() override;

    // ---- properties ----------------------------------------------------------------------
    DataGrid *grid() const { return m_grid; }
    void setGrid(DataGrid *grid) { m_grid = grid; }
    bool ShowProgress() const { return m_showProgress; }
    void setShowProgress(bool show) { m_showProgress = show; }
    QString TitleName() const { return m_titleName; }
    void setTitleName(const QString &text) { m_titleName = text; }
    QString BeginDate() const { return m_beginDate; }
    void setBeginDate(const QString &text) { m_beginDate = text; }
    QString EndDate() const { return m_endDate; }
    void setEndDate(const QString &text) { m_endDate = text; }
    QString UserName() const { return m_userName; }
    void setUserName(const QString &text) { m_userName = text; }
    QString FileName() const { return m_fileName; }
    void setFileName(const QString &path) { m_fileName = path; }
    // Titles for dataset fields that no grid column shows, by field name (case-insensitive).
    // Such a field is written after the visible columns, under its title here; a field that
    // no column shows and that has no title here is left out, so no column is ever untitled.
    QHash<QString, QString> ExtraFieldTitles() const { return m_extraFieldTitles; }
    void setExtraFieldTitles(const QHash<QString, QString> &titles);

    // ---- the export ------------------------------------------------------------------------
    // Asks before replacing an existing file, shows the progress window, writes the file and
    // opens it with the desktop's program for .xls files. Nothing happens for an empty or
    // closed list or a blank file name. A list too long for the format is refused with an
    // information box before anything is written. Failures while writing are not reported;
    // the file is then neither replaced nor opened.
    void ExportToExcel();
    // Writes the complete record stream to `stream`. Throws lianbu::Error when writing fails.
    void SaveStream(QIODevice *stream);
    // Aligns the dataset's fields with the grid's columns: order, display label, visibility.
    // Throws "Field '%s' not found" for a column whose field the dataset lacks.
    void PrepareFields();
    // Builds and shows the progress window (once).
    void ShowProgressWindow(QWidget *owner = nullptr);

    // ---- record writers (at the current row and column of the current stream) ------------
    void WriteBof();
    void WriteEof();
    void WriteLabelCell(const QString &text, bool advance);
    void WriteLabelCell(QStringView text, bool advance);
    void WriteNumberCell(double value, bool advance);
    void WriteRkCell(qint32 value, bool advance);
    void WriteBlankCell();
    void NextCell();

    // ---- the four sections ----------------------------------------------------------------
    void WriteTitleBlock();
    void WriteColumnTitles();
    void WriteRecords();
    void WriteFooters();

    // ---- state, for the sections and for tests ---------------------------------------------
    int Col() const { return m_col; }
    void setCol(int col) { m_col = col; }
    int Row() const { return m_row; }
    void setRow(int row) { m_row = row; }
    QWidget *ProgressWindow() const { return m_progressWindow; }
    QProgressBar *ProgressGauge() const { return m_gauge; }
    void DestroyProgressWindow();

    // The number of sheet rows an export of the grid's list takes (title block, title rows,
    // records, footers).
    qint64 SheetRowCount() const;
    // Indices of the dataset fields the record walk writes, in order: the fields of the visible
    // columns, then the fields no column shows that have a title in ExtraFieldTitles. The
    // fields of hidden columns are left out: their cells would stand under no title.
    std::vector<int> RecordFields() const;

private:
    lianbu::db::DataSet *dataSet() const;
    void writeFile();
    void write(const QByteArray &record);
    // Records collect here and go to the stream in large writes.
    void flushPending();
    void writeFieldCell(const lianbu::db::Field &field, QStringView text, bool isNull);

    DataGrid *m_grid = nullptr;
    bool m_showProgress = true;
    QString m_titleName;
    QString m_beginDate;
    QString m_endDate;
    QString m_userName;
    QString m_fileName;
    QHash<QString, QString> m_extraFieldTitles; // keys in lower case

    int m_col = 0;
    int m_row = 0;
    int m_recordWidth = 0;      // cells per record row; 0 = the dataset's field count
    int m_unencodableCells = 0; // cells of this export holding characters GBK cannot hold
    QIODevice *m_stream = nullptr;
    QByteArray m_pending;
    QPointer<QWidget> m_progressWindow;
    QPointer<QProgressBar> m_gauge;
};
