#pragma once

#include "db/Field.h"

#include <QMetaType>
#include <QString>

namespace lianbu::db {

// What the dataset layer reads from the text of a select statement it is given to open.

// "name" with embedded quotes doubled.
QString quoteIdentifier(const QString &name);

// A select from one table (no join, grouping, aggregate, DISTINCT, compound): gives the table
// name and where the select list starts and ends.
bool singleTableSelect(const QString &sql, QString *table, qsizetype *listStart, qsizetype *listEnd);

// The statement that lists the keys of the statement's rows in the statement's order.
QString keyStatement(const QString &sql, qsizetype listStart, qsizetype listEnd, const QString &keyColumn);

// The statement ordered by the key when it has no order of its own (before any LIMIT/OFFSET).
QString withKeyOrder(const QString &sql, const QString &key);

// A field's type and width from a declared column type ("VARCHAR(50)"), or from the type the
// driver gives an expression.
Field::DataType typeFromDeclaration(const QString &declared);
int widthFromDeclaration(const QString &declared);
Field::DataType typeFromMeta(QMetaType type);

} // namespace lianbu::db
