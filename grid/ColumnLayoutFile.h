#pragma once

// Saving and restoring a grid's column layout in a section of an initialization file
// (ColumnLayoutFile; DataGrid::saveLayoutToIni / restoreLayoutFromIni use it).
//
// One entry per column, key "<grid name>.<field name>", value
//   position,width,sort marker,visible,sort index,drop-down rows,drop-down width
// and one grid entry "(Default)" = rowHeight,rowLines.

#include <QByteArray>
#include <QFlags>
#include <QList>
#include <QString>

class GridColumns;

// What a restore applies. The stored position of every column is always read; the order is
// applied only with RestoreColumnOrder.
enum LayoutRestoreOption : unsigned {
    RestoreColumnOrder = 1,      // word 1
    RestoreColumnWidths = 2,     // word 2
    RestoreSortMarkers = 4,      // words 3 and 5
    RestoreColumnVisibility = 8, // word 4
    RestoreRowHeight = 16,       // the "(Default)" entry
    RestoreDropDownRows = 32,    // word 6
    RestoreDropDownWidth = 64,   // word 7
};
Q_DECLARE_FLAGS(LayoutRestoreOptions, LayoutRestoreOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(LayoutRestoreOptions)

inline constexpr unsigned AllRestoreOptions = 127;

// One grid's entries in one section of one file.
class ColumnLayoutFile
{
public:
    // `gridKey` is the first part of every column's entry name ("<gridKey>.<field>").
    ColumnLayoutFile(QString fileName, QString section, QString gridKey);

    // Writes one entry per column and the grid entry; with eraseSection the section is removed
    // first. Throws lianbu::Error "Unable to write to <file>" at the first entry that cannot be
    // written (earlier entries stay written).
    void save(const GridColumns &columns, int rowHeight, int rowLines, bool eraseSection) const;
    // Applies what options choose of the stored column entries (never the grid entry); missing
    // file, section or entries leave the columns as they are.
    void restoreColumns(GridColumns &columns, LayoutRestoreOptions options) const;
    // The grid entry's row height and row lines (0 for missing or damaged words).
    int storedRowHeight() const;
    int storedRowLines() const;

private:
    QString m_fileName;
    QString m_section;
    QString m_gridKey;
};

namespace lianbu::gridlayout {

// The key of the grid entry.
inline constexpr char GridEntryKey[] = "(Default)";

// The words of a stored value: maximal runs of bytes that are neither "," nor " ", taken on the
// value's GBK bytes. A byte that belongs to a double-byte character never separates, so a
// trail byte can never split a word.
QList<QByteArray> splitWords(const QByteArray &gbkValue);

// Word n (1-based) of value as a signed 32-bit decimal integer; defaultValue when the word is
// missing, not an integer or out of range.
int wordAsInt(const QString &value, int n, int defaultValue);

} // namespace lianbu::gridlayout
