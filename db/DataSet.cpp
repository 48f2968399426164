#include "db/DataSet.h"
#include "db/Engine.h"

#include "db/Connection.h"
#include "db/DataSource.h"
#include "db/EngineErrors.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVarLengthArray>

#include <algorithm>
#include <numeric>

namespace lianbu::db {

// One record of the snapshot. All cells live in one string: first two UTF-16 units per field
// holding the end offset of that field's text (bit 31 marks null), then the texts back to back.
// One allocation per row keeps 100,000 rows of fifteen columns well under 80 MB.
struct DataSet::Row
{
    qint64 key = 0;       // rowid in the update table (0 for a row not yet posted)
    quint32 serial = 0;   // order of reading; the bookmark of the row
    QString packed;
};

// The values of the row being edited or inserted.
struct DataSet::EditBuffer
{
    int row = -1;
    bool inserting = false;
    int previousCurrent = -1;
    std::vector<std::optional<QString>> values;
    std::vector<bool> modified;
    // The row's values when the edit began (by stored column): the save only goes through while
    // the database still holds them.
    std::vector<std::optional<QString>> asRead;
};

namespace {

constexpr quint32 kNullBit = 0x80000000u;

quint32 readEnd(const char16_t *p, int field)
{
    return quint32(p[2 * field]) | (quint32(p[2 * field + 1]) << 16);
}

QStringView cellView(const QString &packed, int fieldCount, int field, bool *isNull)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(packed.utf16());
    const quint32 end = readEnd(p, field);
    *isNull = (end & kNullBit) != 0;
    const quint32 start = field == 0 ? 0 : (readEnd(p, field - 1) & ~kNullBit);
    return QStringView(p + 2 * fieldCount + start, qsizetype((end & ~kNullBit) - start));
}

class Packer
{
public:
    void begin(int fieldCount)
    {
        m_fieldCount = fieldCount;
        m_buffer.resize(2 * fieldCount);
        m_field = 0;
    }
    void add(QStringView text, bool isNull)
    {
        m_buffer.append(reinterpret_cast<const char16_t *>(text.utf16()), text.size());
        const quint32 end = quint32(m_buffer.size() - 2 * m_fieldCount) | (isNull ? kNullBit : 0);
        m_buffer[2 * m_field] = char16_t(end & 0xffff);
        m_buffer[2 * m_field + 1] = char16_t(end >> 16);
        ++m_field;
    }
    QString finish() const
    {
        return QString(reinterpret_cast<const QChar *>(m_buffer.constData()), m_buffer.size());
    }

private:
    QVarLengthArray<char16_t, 1024> m_buffer;
    int m_fieldCount = 0;
    int m_field = 0;
};

// Text is cut to the declared width without splitting a surrogate pair.
QString cutToWidth(const QString &text, int width)
{
    if (width <= 0 || text.size() <= width)
        return text;
    qsizetype n = width;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

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

// A select from one table (no join, grouping, aggregate, DISTINCT, compound): returns the table
// name and the position where the select list starts.
bool singleTableSelect(const QString &sql, QString *table, qsizetype *listStart)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*select\\s+(.+?)\\s+from\\s+([A-Za-z_][A-Za-z0-9_]*)((\\s+(where|order)\\b.*)?)\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression distinct(QStringLiteral("^(distinct|all)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression compound(
        QStringLiteral("\\b(group|union|intersect|except|having|window)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const QString masked = maskLiterals(sql);
    const QRegularExpressionMatch m = shape.match(masked);
    if (!m.hasMatch())
        return false;
    const QString list = m.captured(1);
    if (list.contains(QLatin1Char('(')) || distinct.match(list).hasMatch()
        || compound.match(m.captured(3)).hasMatch())
        return false;
    *table = m.captured(2);
    *listStart = m.capturedStart(1);
    return true;
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

bool startsWithHan(QStringView text)
{
    if (text.isEmpty())
        return false;
    char32_t first = text.at(0).unicode();
    if (text.size() > 1 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate())
        first = QChar::surrogateToUcs4(text.at(0), text.at(1));
    return QChar::script(first) == QChar::Script_Han;
}

// Null is NULL; empty text is written as empty text (Qt binds a null QString as NULL).
QVariant bindValue(const std::optional<QString> &value)
{
    if (!value)
        return QVariant(QMetaType::fromType<QString>());
    if (value->isEmpty())
        return QVariant(QString::fromLatin1(""));
    return QVariant(*value);
}

[[noreturn]] void throwEngine(const QSqlQuery &query)
{
    throw engineError(query.lastError(), databaseFile(query.driver()));
}

} // namespace

// ---- Field ------------------------------------------------------------------------------------

Field::Field(DataSet *dataSet, int index, const QString &name, DataType type, int size)
    : m_dataSet(dataSet), m_index(index), m_column(index), m_name(name), m_type(type), m_size(size),
      m_displayLabel(name)
{
}

void Field::setIndex(int index)
{
    m_dataSet->moveField(m_index, index);
}

void Field::setDisplayLabel(const QString &label)
{
    m_displayLabel = label;
    m_dataSet->notifyDataSetChanged();
}

void Field::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    m_dataSet->notifyDataSetChanged();
}

QString Field::asString() const
{
    return m_dataSet->valueOf(m_dataSet->m_current, m_index).value_or(QString());
}

bool Field::isNull() const
{
    return !m_dataSet->valueOf(m_dataSet->m_current, m_index).has_value();
}

qint64 Field::asInteger() const
{
    const QString text = asString().trimmed();
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok)
        return value;
    const double d = text.toDouble(&ok);
    return ok ? qint64(d) : 0;
}

void Field::setAsString(const QString &text)
{
    m_dataSet->setFieldValue(m_index, cutToWidth(text, m_size));
}

void Field::clear()
{
    m_dataSet->setFieldValue(m_index, std::nullopt);
}

// ---- DataSet: open / close --------------------------------------------------------------------

DataSet::DataSet(Connection *connection)
    : m_connection(connection)
{
}

DataSet::~DataSet()
{
    for (DataSource *source : m_sources) {
        source->m_dataSet = nullptr;
        emit source->dataSetChanged();
    }
}

void DataSet::setConnection(Connection *connection)
{
    if (connection == m_connection)
        return;
    close();
    m_connection = connection;
}

void DataSet::open()
{
    if (!m_connection)
        throw Error(QStringLiteral("Missing connection"));
    if (active())
        close();
    try {
        loadRows(selectStatement());
    } catch (...) {
        resetAfterClose();
        notifyDataSetChanged();
        throw;
    }
    ++m_generation;
    m_state = DataSetState::Browse;
    m_current = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    notifyDataSetChanged();
    notifyStateChanged();
    notifyCurrentRowChanged();
}

void DataSet::close()
{
    if (!active())
        return;
    resetAfterClose();
    notifyDataSetChanged();
    notifyStateChanged();
    notifyCurrentRowChanged();
}

void DataSet::resetAfterClose()
{
    m_edit.reset();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_fields.clear();
    m_updateTable.clear();
    m_sort.clear();
    m_state = DataSetState::Inactive;
    m_current = -1;
    m_eof = m_bof = true;
}

namespace {

// The statement ordered by the key when it has no order of its own (before any LIMIT/OFFSET).
QString withKeyOrder(const QString &sql, const QString &key)
{
    static const QRegularExpression orderBy(QStringLiteral("\\border\\s+by\\b"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression limit(QStringLiteral("\\b(limit|offset)\\b"), QRegularExpression::CaseInsensitiveOption);
    if (orderBy.match(sql).hasMatch())
        return sql;
    const QRegularExpressionMatch tail = limit.match(sql);
    const qsizetype at = tail.hasMatch() ? tail.capturedStart() : sql.size();
    QString ordered = sql;
    ordered.insert(at, QLatin1String(" order by ") + key + QLatin1Char(' '));
    return ordered;
}

} // namespace

void DataSet::loadRows(const QString &sql)
{
    QSqlDatabase db = m_connection->database();
    if (!db.isOpen())
        throw Error(QStringLiteral("Connection is not open."));

    // Work out whether the rows can be written back, and the declared types of that table.
    QString table;
    qsizetype listStart = 0;
    struct ColumnInfo { QString name; QString declared; };
    std::vector<ColumnInfo> columns;
    QString hiddenKey;
    const Engine &engine = engineOf(db);
    if (singleTableSelect(sql, &table, &listStart)) {
        if (const std::optional<TableInfo> info = engine.keyedTable(db, table)) {
            table = info->name;
            for (const TableInfo::Column &column : info->columns)
                columns.push_back({column.name, column.declared});
            hiddenKey = info->hiddenKeyColumn;
        } else {
            table.clear();
        }
    } else {
        table.clear();
    }

    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QVariantList values = selectValues();
    auto run = [&values](QSqlQuery &query, const QString &text) {
        if (values.isEmpty())
            return query.exec(text);
        if (!query.prepare(text))
            return false;
        for (const QVariant &value : values)
            query.addBindValue(value);
        return query.exec();
    };
    bool keyed = false;
    if (!table.isEmpty()) {
        QString keyedSql = sql;
        keyedSql.insert(listStart, engine.rowKey(quoteIdentifier(table)) + QLatin1String(", "));
        if (engine.needsKeyOrder())
            keyedSql = withKeyOrder(keyedSql, engine.rowKey(quoteIdentifier(table)));
        keyed = run(query, keyedSql);
    }
    if (!keyed) {
        table.clear();
        query = QSqlQuery(db);
        query.setForwardOnly(true);
        if (!run(query, sql))
            throwEngine(query);
    }

    // Fields: every result column except the key.
    const QSqlRecord record = query.record();
    std::vector<int> columnOf;
    bool allColumnsOfTable = true;
    for (int c = keyed ? 1 : 0; c < record.count(); ++c) {
        const QString name = record.fieldName(c);
        if (keyed && !hiddenKey.isEmpty() && name.compare(hiddenKey, Qt::CaseInsensitive) == 0)
            continue;
        Field::DataType type = typeFromMeta(record.field(c).metaType());
        int width = 0;
        bool known = false;
        for (const ColumnInfo &column : columns) {
            if (column.name.compare(name, Qt::CaseInsensitive) == 0) {
                type = typeFromDeclaration(column.declared);
                if (type == Field::DataType::String)
                    width = widthFromDeclaration(column.declared);
                known = true;
                break;
            }
        }
        allColumnsOfTable = allColumnsOfTable && known;
        const int index = int(m_fields.size());
        m_fields.push_back(std::unique_ptr<Field>(new Field(this, index, name, type, width)));
        columnOf.push_back(c);
    }
    if (keyed && allColumnsOfTable)
        m_updateTable = table;

    // Rows: every value as text, packed per row.
    const int fieldCount = int(m_fields.size());
    Packer packer;
    m_nextSerial = 0;
    while (query.next()) {
        Row row;
        if (keyed)
            row.key = query.value(0).toLongLong();
        packer.begin(fieldCount);
        for (int f = 0; f < fieldCount; ++f) {
            const QVariant value = query.value(columnOf[size_t(f)]);
            if (value.isNull())
                packer.add(QStringView(), true);
            else
                packer.add(value.toString(), false);
        }
        row.serial = m_nextSerial++;
        row.packed = packer.finish();
        m_rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        throwEngine(query);
}

// ---- reading ----------------------------------------------------------------------------------

int DataSet::recordCount() const
{
    return int(m_rows.size());
}

Field *DataSet::findField(const QString &name) const
{
    for (const auto &field : m_fields)
        if (field->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    return nullptr;
}

Field &DataSet::fieldByName(const QString &name) const
{
    if (Field *field = findField(name))
        return *field;
    throw Error(QStringLiteral("Field '%1' not found").arg(name));
}

std::optional<QString> DataSet::valueOf(int row, int fieldIndex) const
{
    if (row < 0 || row >= int(m_rows.size()) || fieldIndex < 0 || fieldIndex >= fieldCount())
        return std::nullopt;
    const int column = m_fields[size_t(fieldIndex)]->m_column;
    if (m_edit && m_edit->row == row)
        return m_edit->values[size_t(column)];
    bool isNull = false;
    const QStringView view = cellView(m_rows[size_t(row)].packed, fieldCount(), column, &isNull);
    if (isNull)
        return std::nullopt;
    return view.toString();
}

void DataSet::moveField(int from, int to)
{
    const int count = fieldCount();
    if (from < 0 || from >= count)
        return;
    to = std::clamp(to, 0, count - 1);
    if (from == to)
        return;
    std::unique_ptr<Field> moving = std::move(m_fields[size_t(from)]);
    m_fields.erase(m_fields.begin() + from);
    m_fields.insert(m_fields.begin() + to, std::move(moving));
    for (int f = 0; f < count; ++f)
        m_fields[size_t(f)]->m_index = f;
    notifyDataSetChanged();
}

std::vector<const Field *> DataSet::fieldsByColumn() const
{
    std::vector<const Field *> byColumn(m_fields.size(), nullptr);
    for (const auto &field : m_fields)
        byColumn[size_t(field->m_column)] = field.get();
    return byColumn;
}

QString DataSet::cellText(int row, int fieldIndex) const
{
    return valueOf(row, fieldIndex).value_or(QString());
}

bool DataSet::cellIsNull(int row, int fieldIndex) const
{
    return !valueOf(row, fieldIndex).has_value();
}

// ---- navigation -------------------------------------------------------------------------------

void DataSet::checkActive() const
{
    if (!active())
        throw Error(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void DataSet::checkNotEmpty() const
{
    if (m_rows.empty())
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
}

void DataSet::checkModifiable() const
{
    if (m_updateTable.isEmpty())
        throw Error(QStringLiteral("Cannot modify a read-only dataset"));
}

void DataSet::setCurrent(int row)
{
    if (row == m_current)
        return;
    m_current = row;
    notifyCurrentRowChanged();
}

void DataSet::first()
{
    checkActive();
    checkBrowseMode();
    setCurrent(m_rows.empty() ? -1 : 0);
    m_bof = true;
    m_eof = m_rows.empty();
}

void DataSet::last()
{
    checkActive();
    checkBrowseMode();
    setCurrent(int(m_rows.size()) - 1);
    m_eof = true;
    m_bof = m_rows.empty();
}

void DataSet::next()
{
    checkActive();
    checkBrowseMode();
    m_bof = m_rows.empty();
    if (m_current >= int(m_rows.size()) - 1) {
        m_eof = true;
        return;
    }
    m_eof = false;
    setCurrent(m_current + 1);
}

void DataSet::prior()
{
    checkActive();
    checkBrowseMode();
    m_eof = m_rows.empty();
    if (m_current <= 0) {
        m_bof = true;
        return;
    }
    m_bof = false;
    setCurrent(m_current - 1);
}

void DataSet::moveToRow(int row)
{
    checkActive();
    if (m_rows.empty())
        return;
    row = std::clamp(row, 0, int(m_rows.size()) - 1);
    if (row != m_current)
        checkBrowseMode();
    m_eof = m_bof = false;
    setCurrent(row);
}

// ---- editing ----------------------------------------------------------------------------------

void DataSet::setState(DataSetState state)
{
    if (state == m_state)
        return;
    m_state = state;
    notifyStateChanged();
}

void DataSet::checkBrowseMode()
{
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        post();
}

void DataSet::edit()
{
    checkActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    checkModifiable();
    checkNotEmpty();
    auto buffer = std::make_unique<EditBuffer>();
    buffer->row = m_current;
    buffer->values.resize(size_t(fieldCount()));
    for (int f = 0; f < fieldCount(); ++f)
        buffer->values[size_t(m_fields[size_t(f)]->m_column)] = valueOf(m_current, f);
    buffer->modified.assign(size_t(fieldCount()), false);
    buffer->asRead = buffer->values;
    m_edit = std::move(buffer);
    setState(DataSetState::Edit);
}

void DataSet::append()
{
    checkActive();
    checkModifiable();
    checkBrowseMode();
    const int row = int(m_rows.size());
    Row placeholder;
    placeholder.serial = m_nextSerial++;
    Packer packer;
    packer.begin(fieldCount());
    for (int f = 0; f < fieldCount(); ++f)
        packer.add(QStringView(), true);
    placeholder.packed = packer.finish();

    auto buffer = std::make_unique<EditBuffer>();
    buffer->row = row;
    buffer->inserting = true;
    buffer->previousCurrent = m_current;
    buffer->values.assign(size_t(fieldCount()), std::nullopt);
    buffer->modified.assign(size_t(fieldCount()), false);

    notifyRowAboutToBeInserted(row);
    m_rows.push_back(std::move(placeholder));
    m_edit = std::move(buffer);
    notifyRowInserted(row);
    m_eof = m_bof = false;
    setCurrent(row);
    setState(DataSetState::Insert);
}

void DataSet::setFieldValue(int fieldIndex, const std::optional<QString> &value)
{
    if (!m_edit)
        throw Error(QStringLiteral("Dataset not in edit or insert mode"));
    const size_t column = size_t(m_fields[size_t(fieldIndex)]->m_column);
    m_edit->values[column] = value;
    m_edit->modified[column] = true;
    notifyRecordChanged(m_edit->row);
}

void DataSet::cancel()
{
    if (!m_edit)
        return;
    std::unique_ptr<EditBuffer> buffer = std::move(m_edit);
    if (buffer->inserting) {
        removeRowAt(buffer->row, buffer->previousCurrent < 0 ? 0 : buffer->previousCurrent);
    } else {
        notifyRecordChanged(buffer->row);
    }
    setState(DataSetState::Browse);
}

void DataSet::refreshRowFromDatabase(Row &row)
{
    QStringList names;
    for (const Field *field : fieldsByColumn())
        names << quoteIdentifier(field->fieldName());
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    const QString key = engineOf(m_connection->database()).rowKey(quoteIdentifier(m_updateTable));
    query.prepare(QStringLiteral("select %1 from %2 where %3=?")
                      .arg(names.isEmpty() ? key : names.join(QLatin1Char(',')), quoteIdentifier(m_updateTable), key));
    query.addBindValue(row.key);
    Packer packer;
    packer.begin(fieldCount());
    if (query.exec() && query.next() && !names.isEmpty()) {
        for (int f = 0; f < fieldCount(); ++f) {
            const QVariant value = query.value(f);
            packer.add(value.isNull() ? QString() : value.toString(), value.isNull());
        }
    } else {
        // The row is no longer readable (a trigger moved it): show what was written.
        for (int f = 0; f < fieldCount(); ++f) {
            const std::optional<QString> &value = m_edit->values[size_t(f)];
            packer.add(value ? QStringView(*value) : QStringView(), !value);
        }
    }
    row.packed = packer.finish();
}

void DataSet::post()
{
    checkActive();
    if (!m_edit)
        throw Error(QStringLiteral("Dataset not in edit or insert mode"));
    EditBuffer &buffer = *m_edit;
    Row &row = m_rows[size_t(buffer.row)];

    QStringList assignments, columns, marks;
    QVariantList values;
    const std::vector<const Field *> byColumn = fieldsByColumn();
    for (int f = 0; f < fieldCount(); ++f) {
        if (!buffer.modified[size_t(f)])
            continue;
        const QString column = quoteIdentifier(byColumn[size_t(f)]->fieldName());
        assignments << column + QLatin1String("=?");
        columns << column;
        marks << QStringLiteral("?");
        values << bindValue(buffer.values[size_t(f)]);
    }

    QSqlQuery query(m_connection->database());
    const QString table = quoteIdentifier(m_updateTable);
    const Engine &engine = engineOf(m_connection->database());
    if (buffer.inserting) {
        // The new row's key comes back with the insert itself.
        const QString keyBack = engine.insertKeySuffix(engine.rowKey(table));
        if (columns.isEmpty())
            query.prepare(QStringLiteral("insert into %1 default values%2").arg(table, keyBack));
        else
            query.prepare(QStringLiteral("insert into %1 (%2) values (%3)%4")
                              .arg(table, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')), keyBack));
    } else {
        if (assignments.isEmpty()) {
            // Nothing changed: nothing to write.
            m_edit.reset();
            setState(DataSetState::Browse);
            return;
        }
        // Only while the row still holds what was read: another operator's change is never
        // overwritten from a stale list.
        values << row.key;
        const QString unchanged = unchangedCondition(buffer.asRead, &values);
        query.prepare(QStringLiteral("update %1 set %2 where %3=?%4")
                          .arg(table, assignments.join(QLatin1Char(',')), engine.rowKey(table), unchanged));
    }
    for (const QVariant &value : std::as_const(values))
        query.addBindValue(value);

    if (!execRetrying(query, m_connection->busyTimeout())) {
        const Error error = engineError(query.lastError(), databaseFile(m_connection->database()));
        cancel();
        throw error;
    }
    if (buffer.inserting) {
        row.key = engine.insertedKey(query);
    } else if (query.numRowsAffected() == 0) {
        query.finish();
        const bool gone = !rowExists(row.key);
        cancel();
        throw Error(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                   "changed since it was last read."),
                    gone ? QStringLiteral("这条资料已被其他操作员删除，你的修改没有保存。"
                                          "请重新查询列表；你输入的内容仍保留在录入框中。")
                         : QStringLiteral("这条资料在你读取之后已被其他操作员修改，你的修改没有保存，"
                                          "以免覆盖别人的修改。请重新查询列表，核对后再修改；"
                                          "你输入的内容仍保留在录入框中。"));
    }
    query.finish();
    refreshRowFromDatabase(row);
    const int changed = buffer.row;
    m_edit.reset();
    notifyRecordChanged(changed);
    setState(DataSetState::Browse);
}

void DataSet::removeRowAt(int row, int newCurrent)
{
    notifyRowAboutToBeRemoved(row);
    m_rows.erase(m_rows.begin() + row);
    m_current = m_rows.empty() ? -1 : std::clamp(newCurrent, 0, int(m_rows.size()) - 1);
    notifyRowRemoved(row);
    notifyCurrentRowChanged(); // always: another record is current now
}

void DataSet::deleteRecord()
{
    checkActive();
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    checkModifiable();
    checkNotEmpty();
    if (m_state == DataSetState::Edit)
        cancel();
    const int row = m_current;
    QSqlQuery query(m_connection->database());
    QVariantList values{m_rows[size_t(row)].key};
    std::vector<std::optional<QString>> shown(static_cast<size_t>(fieldCount()));
    for (int f = 0; f < fieldCount(); ++f)
        shown[size_t(m_fields[size_t(f)]->m_column)] = valueOf(row, f);
    const QString unchanged = unchangedCondition(shown, &values);
    query.prepare(QStringLiteral("delete from %1 where %2=?%3")
                      .arg(quoteIdentifier(m_updateTable),
                           engineOf(m_connection->database()).rowKey(quoteIdentifier(m_updateTable)), unchanged));
    for (const QVariant &value : std::as_const(values))
        query.addBindValue(value);
    if (!execRetrying(query, m_connection->busyTimeout()))
        throw engineError(query.lastError(), databaseFile(m_connection->database()));
    const bool deleted = query.numRowsAffected() > 0;
    query.finish();
    if (!deleted) {
        if (rowExists(m_rows[size_t(row)].key)) {
            // Changed since it was read: the operator decided on values that are no longer there.
            throw Error(QStringLiteral("Row cannot be located for deleting. Some values may have been "
                                       "changed since it was last read."),
                        QStringLiteral("这条资料在你读取之后已被其他操作员修改，没有删除。"
                                       "请重新查询列表，核对后再删除。"));
        }
        // Another operator deleted it already: it leaves the list, and the operator is told.
        removeRowAt(row, row);
        m_eof = m_bof = m_rows.empty();
        throw Error(QStringLiteral("Row cannot be located for deleting. It was deleted since it was last read."),
                    QStringLiteral("这条资料已被其他操作员删除。请重新查询列表。"));
    }
    removeRowAt(row, row);
    m_eof = m_bof = m_rows.empty();
}

QString DataSet::unchangedCondition(const std::vector<std::optional<QString>> &asRead, QVariantList *values) const
{
    // Every stored column is compared with the value as read ("is" also matches nulls). Blobs
    // are read as text only for display, so they cannot be compared and are left out.
    QString condition;
    const std::vector<const Field *> byColumn = fieldsByColumn();
    for (size_t c = 0; c < byColumn.size() && c < asRead.size(); ++c) {
        const Field *field = byColumn[c];
        if (field->dataType() == Field::DataType::Blob)
            continue;
        condition += QLatin1String(" and ") + engineOf(m_connection->database()).sameAs(quoteIdentifier(field->fieldName()));
        *values << bindValue(asRead[c]);
    }
    return condition;
}

bool DataSet::rowExists(qint64 key) const
{
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("select 1 from %1 where %2=?")
                      .arg(quoteIdentifier(m_updateTable), engineOf(m_connection->database()).rowKey(quoteIdentifier(m_updateTable))));
    query.addBindValue(key);
    // When it cannot be read, say "changed" rather than "deleted": the operator reloads either way.
    return !execRetrying(query, m_connection->busyTimeout()) || query.next();
}

// ---- sort -------------------------------------------------------------------------------------

void DataSet::setSort(const QString &sort)
{
    checkActive();
    checkBrowseMode();
    const QStringList parts = sort.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() > 2
        || (parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) != 0
            && parts[1].compare(QLatin1String("ASC"), Qt::CaseInsensitive) != 0))
        throw Error(QStringLiteral("Invalid sort order '%1'").arg(sort));

    const quint32 currentSerial = m_current >= 0 ? m_rows[size_t(m_current)].serial : 0;
    const size_t n = m_rows.size();
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);

    if (parts.isEmpty()) {
        std::sort(order.begin(), order.end(),
                  [this](int x, int y) { return m_rows[size_t(x)].serial < m_rows[size_t(y)].serial; });
    } else {
        const Field &field = fieldByName(parts[0]);
        const bool descending = parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
        const int f = field.m_column;
        const int fc = fieldCount();
        // rank: 0 null, 1 text that is no number in a numeric column, 2 and up a value
        std::vector<quint8> rank(n, 2);
        auto lessRank = [&](int x, int y, auto &&lessValue) {
            if (rank[size_t(x)] != rank[size_t(y)])
                return rank[size_t(x)] < rank[size_t(y)];
            return rank[size_t(x)] >= 2 && lessValue(x, y);
        };
        const bool numeric = field.dataType() == Field::DataType::Integer || field.dataType() == Field::DataType::Float;
        if (numeric) {
            std::vector<double> values(n, 0.0);
            for (size_t r = 0; r < n; ++r) {
                bool isNull = false;
                const QStringView v = cellView(m_rows[r].packed, fc, f, &isNull);
                bool ok = false;
                values[r] = isNull ? 0.0 : v.toDouble(&ok);
                rank[r] = isNull ? 0 : (ok ? 2 : 1);
            }
            auto lessValue = [&](int x, int y) { return values[size_t(x)] < values[size_t(y)]; };
            if (descending)
                std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return lessRank(y, x, lessValue); });
            else
                std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return lessRank(x, y, lessValue); });
        } else {
            // Collation keys are made once per distinct value (lists repeat categories, dates,
            // sexes a lot); rows are then ordered by small integers.
            QHash<QStringView, int> ids;
            ids.reserve(qsizetype(n));
            std::vector<QStringView> distinct;
            std::vector<int> valueId(n, -1);
            for (size_t r = 0; r < n; ++r) {
                bool isNull = false;
                const QStringView v = cellView(m_rows[r].packed, fc, f, &isNull);
                if (isNull) {
                    rank[r] = 0;
                    continue;
                }
                auto it = ids.constFind(v);
                if (it == ids.constEnd()) {
                    it = ids.insert(v, int(distinct.size()));
                    distinct.push_back(v);
                }
                valueId[r] = it.value();
            }
            QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
            std::vector<QCollatorSortKey> keys;
            keys.reserve(distinct.size());
            // The zh collation puts Chinese ahead of Latin letters; the register lists digits and
            // Latin first, then Chinese by pinyin (as Chinese Windows sorts).
            std::vector<quint8> han(distinct.size());
            for (size_t d = 0; d < distinct.size(); ++d) {
                keys.push_back(collator.sortKey(distinct[d].toString()));
                han[d] = startsWithHan(distinct[d]) ? 1 : 0;
            }
            std::vector<int> byKey(distinct.size());
            std::iota(byKey.begin(), byKey.end(), 0);
            std::sort(byKey.begin(), byKey.end(), [&](int x, int y) {
                if (han[size_t(x)] != han[size_t(y)])
                    return han[size_t(x)] < han[size_t(y)];
                return keys[size_t(x)].compare(keys[size_t(y)]) < 0;
            });
            // Values that collate equal share a position, so their rows keep their order.
            std::vector<int> position(distinct.size());
            for (size_t p = 0; p < byKey.size(); ++p) {
                const int d = byKey[p];
                const bool same = p > 0 && han[size_t(byKey[p - 1])] == han[size_t(d)]
                    && keys[size_t(byKey[p - 1])].compare(keys[size_t(d)]) == 0;
                position[size_t(d)] = same ? position[size_t(byKey[p - 1])] : int(p);
            }
            std::vector<int> sortValue(n, -1);
            for (size_t r = 0; r < n; ++r)
                if (valueId[r] >= 0)
                    sortValue[r] = position[size_t(valueId[r])];
            // nulls (-1) first ascending, last descending
            if (descending)
                std::stable_sort(order.begin(), order.end(),
                                 [&](int x, int y) { return sortValue[size_t(y)] < sortValue[size_t(x)]; });
            else
                std::stable_sort(order.begin(), order.end(),
                                 [&](int x, int y) { return sortValue[size_t(x)] < sortValue[size_t(y)]; });
        }
    }

    std::vector<Row> sorted;
    sorted.reserve(n);
    int newCurrent = -1;
    for (size_t i = 0; i < n; ++i) {
        Row &row = m_rows[size_t(order[i])];
        if (m_current >= 0 && row.serial == currentSerial)
            newCurrent = int(i);
        sorted.push_back(std::move(row));
    }
    m_rows = std::move(sorted);
    m_sort = parts.isEmpty() ? QString() : sort.simplified();
    m_current = newCurrent;
    notifyDataSetChanged();
    notifyCurrentRowChanged();
}

// ---- bookmarks --------------------------------------------------------------------------------

Bookmark DataSet::bookmark() const
{
    if (!active() || m_current < 0)
        return {};
    return {m_rows[size_t(m_current)].serial, m_generation};
}

int DataSet::rowOfKey(qint64 key) const
{
    if (key == 0)
        return -1;
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].key == key)
            return int(i);
    return -1;
}

int DataSet::rowOfBookmark(const Bookmark &bookmark) const
{
    if (!active() || !bookmark.isValid() || bookmark.generation != m_generation)
        return -1;
    for (size_t r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].serial == bookmark.serial)
            return int(r);
    return -1;
}

bool DataSet::bookmarkValid(const Bookmark &bookmark) const
{
    return rowOfBookmark(bookmark) >= 0;
}

void DataSet::gotoBookmark(const Bookmark &bookmark)
{
    const int row = rowOfBookmark(bookmark);
    if (row < 0)
        throw Error(QStringLiteral("Record not found"));
    moveToRow(row);
}

// ---- bound controls ---------------------------------------------------------------------------

void DataSet::disableControls()
{
    ++m_disableCount;
}

void DataSet::enableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0 && m_pendingReset) {
        m_pendingReset = false;
        notifyDataSetChanged();
        notifyStateChanged();
        notifyCurrentRowChanged();
    }
}

void DataSet::attach(DataSource *source)
{
    m_sources.push_back(source);
}

void DataSet::detach(DataSource *source)
{
    m_sources.erase(std::remove(m_sources.begin(), m_sources.end(), source), m_sources.end());
}

#define LIANBU_NOTIFY(call)                \
    do {                                   \
        if (m_disableCount > 0) {          \
            m_pendingReset = true;         \
            return;                        \
        }                                  \
        const auto sources = m_sources;    \
        for (DataSource *source : sources) \
            emit source->call;             \
    } while (false)

void DataSet::notifyDataSetChanged() { LIANBU_NOTIFY(dataSetChanged()); }
void DataSet::notifyRecordChanged(int row) { LIANBU_NOTIFY(recordChanged(row)); }
void DataSet::notifyRowAboutToBeInserted(int row) { LIANBU_NOTIFY(rowAboutToBeInserted(row)); }
void DataSet::notifyRowInserted(int row) { LIANBU_NOTIFY(rowInserted(row)); }
void DataSet::notifyRowAboutToBeRemoved(int row) { LIANBU_NOTIFY(rowAboutToBeRemoved(row)); }
void DataSet::notifyRowRemoved(int row) { LIANBU_NOTIFY(rowRemoved(row)); }
void DataSet::notifyCurrentRowChanged() { LIANBU_NOTIFY(currentRowChanged(m_current)); }
void DataSet::notifyStateChanged() { LIANBU_NOTIFY(stateChanged(m_state)); }

#undef LIANBU_NOTIFY

} // namespace lianbu::db
