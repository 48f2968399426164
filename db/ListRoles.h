#pragma once

// The roles a list model answers beyond Qt's own, shared by the models in data/, the grid,
// printing and export, so none of them needs to include another.
//
// Cells: Qt::DisplayRole is the text the grid shows, Qt::EditRole the typed value (a number for
// a numeric column, an invalid QVariant for null), Qt::TextAlignmentRole the column's alignment.
// Rows: ListRole::Key on any cell of a row gives the row's key (the table's rowid, qint64).
// Horizontal header: Qt::DisplayRole is the title; ListRole::FieldName the name grid columns bind
// to; ListRole::FieldWidth the declared width in characters (0: none); ListRole::FieldType the
// value's type (int of db::Field::DataType).

#include <Qt>

namespace lianbu::db::ListRole {

enum : int {
    Key = Qt::UserRole + 1,
    FieldName,
    FieldWidth,
    FieldType,
};

} // namespace lianbu::db::ListRole
