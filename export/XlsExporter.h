#pragma once

// XlsExporter writes a list into an .xls file: a bare stream of BIFF records (BOF, CODEPAGE,
// cells, EOF) with one worksheet and no workbook records. From top to bottom the sheet holds the
// title block, the column titles (one row per title level), one row per row of the list in the
// order shown and the footer texts. Text cells are GBK bytes, which spreadsheet programs read as
// code page 936. It reads the list through its column description and a row reader only, so an
// export leaves the list exactly as shown.
//
// Records go to the file cell by cell as they are produced; only the title table is held in
// memory, so the export's memory does not grow with the number of records.

#include "db/ListRows.h"
#include "export/BiffRecords.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QIODevice;

// column titles split at "|" into levels: [column][level].
using TitleCells = std::vector<std::vector<QString>>;

// The title table of the sheet: one entry per written column, each as many levels as the list's
// deepest title (hidden columns count too); levels a title does not reach stay empty.
TitleCells titleCells(const lianbu::db::ListColumns &list);

// The text the operator is shown when an export could not be written: the file and the reason.
QString exportFailureText(const QString &fileName, const QString &reason);

// The lines above the titles.
struct XlsHeading
{
    QString titleName;
    QString beginDate; // left out when blank
    QString endDate;
    QString userName;
};

// Writes the sheet of `list` into `path`, replacing a file there only when complete; `progress`
// hears the number of records written now and then. Returns the number of cells holding
// characters GBK cannot hold (written as "?"). Throws lianbu::Error when the file cannot be
// written; the old file then stays.
int writeXlsFile(const QString &path, const XlsHeading &heading, const lianbu::db::ListColumns &list,
                 const lianbu::db::RowReader &rows, const std::function<void(int records)> &progress = {});

class XlsExporter : public QObject
{
    Q_OBJECT

public:
    explicit XlsExporter(QObject *owner = nullptr);
    ~XlsExporter() override;

    // ---- properties ----------------------------------------------------------------------
    // The list written: its columns (the shown ones, then the values written under their own
    // titles) and its rows. Both must outlive the export.
    void setList(const lianbu::db::ListColumns *columns, const lianbu::db::RowReader *rows);
    const lianbu::db::ListColumns *columns() const { return m_columns; }
    bool showProgress() const { return m_showProgress; }
    void setShowProgress(bool show) { m_showProgress = show; }
    QString titleName() const { return m_titleName; }
    void setTitleName(const QString &text) { m_titleName = text; }
    QString beginDate() const { return m_beginDate; }
    void setBeginDate(const QString &text) { m_beginDate = text; }
    QString endDate() const { return m_endDate; }
    void setEndDate(const QString &text) { m_endDate = text; }
    QString userName() const { return m_userName; }
    void setUserName(const QString &text) { m_userName = text; }
    QString fileName() const { return m_fileName; }
    void setFileName(const QString &path) { m_fileName = path; }

    // ---- the export ------------------------------------------------------------------------
    // The export command's steps (exchange::exportListFile) for this list into fileName():
    // asks before replacing an existing file, shows the progress window, writes the file and
    // opens it with the desktop's program for .xls files. Nothing happens for an empty list or
    // a blank file name. A list too long for the format is refused with an information box
    // before anything is written. A failure is shown to the operator (which file, why); the
    // file is then neither replaced nor opened. A column whose field the list lacks throws
    // "Field '%s' not found" before anything happens.
    void exportFile();
    // Writes the complete record stream to `stream`. Throws lianbu::Error when writing fails.
    void saveStream(QIODevice *stream);
    // Builds and shows the progress window (once).
    void showProgressWindow(QWidget *owner = nullptr);

    // ---- record writers (at the current row and column of the current stream) ------------
    void writeBof();
    void writeEof();
    void writeLabelCell(const QString &text, bool advance);
    void writeLabelCell(QStringView text, bool advance);
    void writeNumberCell(double value, bool advance);
    void writeRkCell(qint32 value, bool advance);
    void writeBlankCell();
    void nextCell();

    // ---- the four sections ----------------------------------------------------------------
    void writeTitleBlock();
    void writeColumnTitles();
    void writeRecords();
    void writeFooters();

    // ---- state, for the sections and for tests ---------------------------------------------
    int col() const { return m_col; }
    void setCol(int col) { m_col = col; }
    int row() const { return m_row; }
    void setRow(int row) { m_row = row; }
    QWidget *progressWindow() const { return m_progressWindow; }
    QProgressBar *progressGauge() const { return m_gauge; }
    void destroyProgressWindow();

    // The number of sheet rows an export of the list takes (title block, title rows, records,
    // footers).
    qint64 sheetRowCount() const;
    // Cells of this export holding characters GBK cannot hold.
    int unencodableCells() const { return m_unencodableCells; }
    // Heard with the number of records written, every 256 records and at the last.
    void setProgress(std::function<void(int records)> progress) { m_progress = std::move(progress); }

private:
    void write(const QByteArray &record);
    // Records collect here and go to the stream in large writes.
    void flushPending();
    void writeValueCell(const lianbu::db::ListColumn &column, QStringView text, bool isNull, bool withheld);
    int recordCount() const;

    const lianbu::db::ListColumns *m_columns = nullptr;
    const lianbu::db::RowReader *m_rows = nullptr;
    std::function<void(int records)> m_progress;
    bool m_showProgress = true;
    QString m_titleName;
    QString m_beginDate;
    QString m_endDate;
    QString m_userName;
    QString m_fileName;

    int m_col = 0;
    int m_row = 0;
    int m_recordWidth = 0;      // cells per record row; 0 = the number of columns
    int m_unencodableCells = 0; // cells of this export holding characters GBK cannot hold
    QIODevice *m_stream = nullptr;
    QByteArray m_pending;
    QPointer<QWidget> m_progressWindow;
    QPointer<QProgressBar> m_gauge;
};
