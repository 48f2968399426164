#include "db/SelectShape.h"

#include <QRegularExpression>

namespace lianbu::db {

namespace {

// Blanks out the inside of string literals so keywords inside values do not count.
QString maskLiterals(const QString &sql)
{
    QString masked = sql;
    bool inside = false;
    for (qsizetype i = 0; i < masked.size(); ++i) {
        if (masked.at(i) == QLatin1Char('\'')) {
            inside = !inside; // a doubled quote toggles twice
            continue;
        }
        if (inside)
            masked[i] = QLatin1Char('_');
    }
    return masked;
}

} // namespace

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A select from one table (no join, grouping, aggregate, DISTINCT, compound): returns the table
// name and the position where the select list starts.
bool singleTableSelect(const QString &sql, QString *table, qsizetype *listStart, qsizetype *listEnd)
{
    static const QRegularExpression shape(
        QStringLiteral(
            "^\\s*select\\s+(.+?)\\s+from\\s+([A-Za-z_][A-Za-z0-9_]*)((\\s+(where|order)\\b.*)?)\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression distinct(QStringLiteral("^(distinct|all)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression compound(QStringLiteral("\\b(group|union|intersect|except|having|window)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QString masked = maskLiterals(sql);
    const QRegularExpressionMatch m = shape.match(masked);
    if (!m.hasMatch())
        return false;
    const QString list = m.captured(1);
    if (list.contains(QLatin1Char('(')) || distinct.match(list).hasMatch() || compound.match(m.captured(3)).hasMatch())
        return false;
    *table = m.captured(2);
    *listStart = m.capturedStart(1);
    *listEnd = m.capturedEnd(1);
    return true;
}

// The statement that lists the keys of the statement's rows in the statement's order. Without an
// ORDER BY the rows come in the order of the engine's plan, so the key statement must get the
// same plan: with a select list of its own it keeps that list (the same columns allow the same
// index); with "*" (whole rows, so no index can stand in for the table) the bare key ordered by
// itself is the table's order, also when a smaller index holding the key exists.
QString keyStatement(const QString &sql, qsizetype listStart, qsizetype listEnd, const QString &keyColumn)
{
    static const QRegularExpression orderBy(QStringLiteral("\\border\\s+by\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression end(QStringLiteral("[\\s;]*$"));
    const QString list = sql.mid(listStart, listEnd - listStart).trimmed();
    if (list != QLatin1String("*"))
        return sql.left(listStart) + keyColumn + QLatin1String(", ") + sql.mid(listStart);
    QString keys = sql.left(listStart) + keyColumn + sql.mid(listEnd);
    if (!orderBy.match(maskLiterals(sql.mid(listEnd))).hasMatch()) {
        keys.remove(end);
        keys += QLatin1String(" order by ") + keyColumn;
    }
    return keys;
}

// The statement ordered by the key when it has no order of its own (before any LIMIT/OFFSET).
QString withKeyOrder(const QString &sql, const QString &key)
{
    static const QRegularExpression orderBy(QStringLiteral("\\border\\s+by\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression limit(QStringLiteral("\\b(limit|offset)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (orderBy.match(sql).hasMatch())
        return sql;
    const QRegularExpressionMatch tail = limit.match(sql);
    const qsizetype at = tail.hasMatch() ? tail.capturedStart() : sql.size();
    QString ordered = sql;
    ordered.insert(at, QLatin1String(" order by ") + key + QLatin1Char(' '));
    return ordered;
}

Field::DataType typeFromDeclaration(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("INT")))
        return Field::DataType::Integer;
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("TEXT")))
        return Field::DataType::String;
    if (t.contains(QLatin1String("BLOB")))
        return Field::DataType::Blob;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB")))
        return Field::DataType::Float;
    if (t.isEmpty())
        return Field::DataType::Unknown;
    return Field::DataType::Float; // numeric affinity
}

int widthFromDeclaration(const QString &declared)
{
    static const QRegularExpression width(QStringLiteral("\\(\\s*(\\d+)\\s*[,)]"));
    const QRegularExpressionMatch m = width.match(declared);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

Field::DataType typeFromMeta(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::QString:
        return Field::DataType::String;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return Field::DataType::Integer;
    case QMetaType::Double:
        return Field::DataType::Float;
    case QMetaType::QByteArray:
        return Field::DataType::Blob;
    default:
        return Field::DataType::Unknown;
    }
}

} // namespace lianbu::db
