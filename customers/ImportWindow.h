#pragma once

// "导入…": customers from a CSV, .xlsx, .xls or vCard file into the register. The window shows
// the first records as they will be stored, lets the operator confirm the text encoding of a
// CSV file and choose the column of each field, then lists the records that look like
// customers the register already has (same 手机, or same 客户简称 and 姓名) with skip, update
// or add-anyway for each or for all, and writes everything in one transaction.

#include "export/CustomerImport.h"
#include "export/ImportFile.h"
#include "export/ImportPlan.h"
#include "export/RegisterAccess.h"

#include <QDialog>
#include <QSqlDatabase>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::customers {

class ImportWindow : public QDialog
{
    Q_OBJECT

public:
    // Shown in the preview and used for the duplicate list.
    static constexpr int kPreviewRows = 20;

    explicit ImportWindow(QSqlDatabase database, QWidget *parent = nullptr);

    // Reads the file on a thread of its own (a box with 取消 shows while it takes) and fills the
    // preview. A file that cannot be read or passes the import's limits gets an error box and
    // false, a cancelled read false; the window then has nothing to import.
    bool loadFile(const QString &path);
    // The session's operator: the import is refused unless he may import, and logged.
    void setSessionOperator(const data::SessionOperator *by) { m_by = by; }

    const exchange::FileFormat &format() const { return m_file.entry(); }
    exchange::TextEncoding encoding() const { return m_file.entry().encoding; }
    // CSV only: reads the file again in the other encoding.
    void setEncoding(exchange::TextEncoding encoding);
    const exchange::ColumnChoice &columnChoice() const { return m_choice; }
    // The source column (-1: not imported) of a field.
    void setColumn(exchange::CustomerField field, int sourceColumn);
    // The records as they will be stored (before duplicates are settled).
    const std::vector<exchange::ImportRow> &records() const { return m_records; }
    const std::vector<int> &unreadableLines() const { return m_file.sheet().unreadableLines; }

    // Second step: finds the duplicates. True when there are any (the list page then shows).
    bool findDuplicates();
    using Duplicate = exchange::DuplicateDecision;
    const std::vector<Duplicate> &duplicates() const { return m_duplicates; }
    void setAction(std::size_t duplicate, exchange::ImportAction action);
    void setAllActions(exchange::ImportAction action);
    // Picks which of the matching customers the row updates.
    void setTarget(std::size_t duplicate, qint64 customer);

    // Writes the import in one transaction, shows the summary and closes the window. False
    // after a failure or cancel (the register is unchanged; the error was shown), and when a row
    // to update has no customer of its own yet (the operator is told which).
    bool runImport();
    const std::optional<exchange::ImportSummary> &summary() const { return m_summary; }
    // The summary box's text.
    QString summaryText() const;

signals:
    // Customers were added or changed: lists showing the register are out of date.
    void registerChanged();

private:
    void buildPreviewPage();
    void buildDuplicatesPage();
    void rebuildRecords();
    void fillPreview();
    void fillDuplicates();
    void goNext();

    QSqlDatabase m_database;
    const data::SessionOperator *m_by = nullptr;
    exchange::ImportFile m_file;
    exchange::ColumnChoice m_choice;
    std::vector<exchange::ImportRow> m_records;
    std::vector<Duplicate> m_duplicates;
    std::optional<exchange::ImportSummary> m_summary;
    bool m_filling = false;

    QStackedWidget *m_pages = nullptr;
    QLabel *m_fileLabel = nullptr;
    QLabel *m_encodingLabel = nullptr;
    QComboBox *m_encodingCombo = nullptr;
    QLabel *m_countLabel = nullptr;
    QTableWidget *m_preview = nullptr;
    std::vector<QComboBox *> m_columnCombos;
    QPushButton *m_nextButton = nullptr;
    QLabel *m_duplicatesLabel = nullptr;
    QTableWidget *m_duplicateTable = nullptr;
};

} // namespace lianbu::customers
