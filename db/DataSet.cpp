#include "db/DataSet.h"

#include "db/Connection.h"
#include "db/DataSetParts.h"
#include "db/RowCache.h"
#include "db/Engine.h"
#include "db/EngineErrors.h"
#include "db/PackedRow.h"
#include "db/SelectShape.h"
#include "platform/Error.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <numeric>

namespace lianbu::db {

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

namespace {

[[noreturn]] void throwEngine(const QSqlQuery &query)
{
    throw engineError(query.lastError(), databaseFile(query.driver()));
}

} // namespace

// ---- Field ------------------------------------------------------------------------------------

Field::Field(DataSet *dataSet, int index, const QString &name, DataType type, int size)
    : m_dataSet(dataSet)
    , m_index(index)
    , m_column(index)
    , m_name(name)
    , m_type(type)
    , m_size(size)
    , m_displayLabel(name)
{}

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
{}

DataSet::~DataSet()
{
    const auto observers = m_observers;
    for (DataSetObserver *observer : observers)
        observer->dataSetDestroyed();
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
    openWith(nullptr);
}

void DataSet::openKeys(std::vector<qint64> keys)
{
    openWith(&keys);
}

void DataSet::openWith(std::vector<qint64> *givenKeys)
{
    if (!m_connection)
        throw Error(QStringLiteral("Missing connection"));
    if (active())
        close();
    try {
        m_givenKeys = givenKeys;
        loadRows(selectStatement());
        m_givenKeys = nullptr;
    } catch (...) {
        m_givenKeys = nullptr;
        resetAfterClose();
        notifyDataSetChanged();
        throw;
    }
    // The first screen is read with the keys: what the list shows first is the result as of
    // the open, like a statement read completely.
    if (m_keyset && !m_keys.empty())
        fetchAround(0, RowCache::kFirstScreen);
    ++m_generation;
    m_state = DataSetState::Browse;
    m_current = m_keys.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_keys.empty();
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

std::vector<qint64> DataSet::closeTakingKeys()
{
    std::vector<qint64> keys = std::move(m_keys);
    m_keys = {};
    close();
    return keys;
}

void DataSet::resetAfterClose()
{
    m_edit.reset();
    m_keys = {};
    m_serials = {};
    m_packed = {};
    m_keyset = false;
    m_fetchStatement.clear();
    m_fetchKey.clear();
    m_columnOf.clear();
    m_cache.reset();
    m_ranks.reset();
    m_fields.clear();
    m_updateTable.clear();
    m_sort.clear();
    m_state = DataSetState::Inactive;
    m_current = -1;
    m_eof = m_bof = true;
}

void DataSet::loadRows(const QString &sql)
{
    QSqlDatabase db = m_connection->database();
    if (!db.isOpen())
        throw Error(QStringLiteral("Connection is not open."));

    // Work out whether the rows can be written back, and the declared types of that table.
    QString table;
    qsizetype listStart = 0;
    qsizetype listEnd = 0;
    struct ColumnInfo
    {
        QString name;
        QString declared;
    };
    std::vector<ColumnInfo> columns;
    QString hiddenKey;
    const Engine &engine = engineOf(db);
    if (singleTableSelect(sql, &table, &listStart, &listEnd)) {
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

    if (!table.isEmpty()) {
        std::vector<std::pair<QString, QString>> declared;
        for (const ColumnInfo &column : columns)
            declared.emplace_back(column.name, column.declared);
        if (loadKeys(sql, table, listStart, listEnd, hiddenKey, declared))
            return;
    }
    if (m_givenKeys)
        throw Error(QStringLiteral("The statement \"%1\" does not list the rows of one table").arg(sql));

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
        m_keys.push_back(keyed ? query.value(0).toLongLong() : 0);
        packer.begin(fieldCount);
        for (int f = 0; f < fieldCount; ++f) {
            const QVariant value = query.value(columnOf[size_t(f)]);
            if (value.isNull())
                packer.add(QStringView(), true);
            else
                packer.add(value.toString(), false);
        }
        m_serials.push_back(m_nextSerial++);
        m_packed.push_back(packer.finish());
    }
    if (query.lastError().isValid())
        throwEngine(query);
}

bool DataSet::loadKeys(const QString &sql, const QString &table, qsizetype listStart, qsizetype listEnd,
                       const QString &hiddenKey, const std::vector<std::pair<QString, QString>> &columns)
{
    // The statement with its select list replaced by the rowid gives the rows and their order;
    // the select list for one rowid gives a row's cells. A statement that needs its select
    // list for its order (an alias in ORDER BY) cannot be split so: it is read completely.
    const QSqlDatabase db = m_connection->database();
    const Engine &engine = engineOf(db);
    const QString keyColumn = engine.rowKey(quoteIdentifier(table));
    const QString list = sql.mid(listStart, listEnd - listStart);
    const QString fetch = QLatin1String("select ") + keyColumn + QLatin1String(", ") + list + QLatin1String(" from ")
                          + quoteIdentifier(table);
    std::vector<qint64> keys;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<int> columnOf;
    bool allColumnsOfTable = true;
    try {
        const std::unique_ptr<KeyedRows> probe = engine.keyedRows(db, fetch, keyColumn);
        if (m_givenKeys) {
            keys = std::move(*m_givenKeys);
        } else {
            QString keySql = keyStatement(sql, listStart, listEnd, keyColumn);
            if (engine.needsKeyOrder())
                keySql = withKeyOrder(keySql, keyColumn);
            keys = readKeys(engine, db, keySql, selectValues());
        }
        // An expression's type is that of its first value, as the driver types it.
        std::vector<char> firstType(size_t(probe->columnCount()), 'n');
        if (!keys.empty())
            probe->read(keys, 0, 1, [&firstType](int, const ResultRow *row) {
                for (int c = 0; row && c < row->columnCount(); ++c)
                    firstType[size_t(c)] = row->isNull(c) ? 'n' : row->isFloat(c) ? 'f' : row->isInteger(c) ? 'i' : 's';
            });
        for (int c = 1; c < probe->columnCount(); ++c) {
            const QString name = probe->columnName(c);
            if (!hiddenKey.isEmpty() && name.compare(hiddenKey, Qt::CaseInsensitive) == 0)
                continue;
            QString declaredType = probe->declaredType(c);
            bool known = false;
            for (const auto &[column, declaration] : columns) {
                if (column.compare(name, Qt::CaseInsensitive) == 0) {
                    declaredType = declaration;
                    known = true;
                    break;
                }
            }
            Field::DataType type = typeFromDeclaration(declaredType);
            if (declaredType.isEmpty() && firstType[size_t(c)] != 'n') {
                // An expression: typed by its first value, as the driver types it.
                if (firstType[size_t(c)] == 'f')
                    type = Field::DataType::Float;
                else if (firstType[size_t(c)] == 'i')
                    type = Field::DataType::Integer;
                else
                    type = Field::DataType::String;
            }
            const int width = type == Field::DataType::String && known ? widthFromDeclaration(declaredType) : 0;
            allColumnsOfTable = allColumnsOfTable && known;
            const int index = int(fields.size());
            fields.push_back(std::unique_ptr<Field>(new Field(this, index, name, type, width)));
            columnOf.push_back(c);
        }
    } catch (const Error &) {
        return false;
    }
    m_fields = std::move(fields);
    m_columnOf = std::move(columnOf);
    m_keys = std::move(keys);
    m_serials.resize(m_keys.size());
    std::iota(m_serials.begin(), m_serials.end(), 0u);
    m_nextSerial = quint32(m_keys.size());
    m_keyset = true;
    m_fetchStatement = fetch;
    m_fetchKey = keyColumn;
    m_cache = std::make_unique<RowCache>();
    if (allColumnsOfTable)
        m_updateTable = table;
    return true;
}

// ---- reading ----------------------------------------------------------------------------------

int DataSet::recordCount() const
{
    return int(m_keys.size());
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
    if (row < 0 || row >= int(m_keys.size()) || fieldIndex < 0 || fieldIndex >= fieldCount())
        return std::nullopt;
    const int column = m_fields[size_t(fieldIndex)]->m_column;
    if (m_edit && m_edit->row == row)
        return m_edit->values[size_t(column)];
    const QString *packed = packedRow(row);
    if (!packed)
        return std::nullopt;
    bool isNull = false;
    const QStringView view = cellView(*packed, fieldCount(), column, &isNull);
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
    if (m_keys.empty())
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
    setCurrent(m_keys.empty() ? -1 : 0);
    m_bof = true;
    m_eof = m_keys.empty();
}

void DataSet::last()
{
    checkActive();
    checkBrowseMode();
    setCurrent(int(m_keys.size()) - 1);
    m_eof = true;
    m_bof = m_keys.empty();
}

void DataSet::next()
{
    checkActive();
    checkBrowseMode();
    m_bof = m_keys.empty();
    if (m_current >= int(m_keys.size()) - 1) {
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
    m_eof = m_keys.empty();
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
    if (m_keys.empty())
        return;
    row = std::clamp(row, 0, int(m_keys.size()) - 1);
    if (row != m_current)
        checkBrowseMode();
    m_eof = m_bof = false;
    setCurrent(row);
}

// ---- bookmarks --------------------------------------------------------------------------------

Bookmark DataSet::bookmark() const
{
    if (!active() || m_current < 0)
        return {};
    return {m_serials[size_t(m_current)], m_generation};
}

int DataSet::rowOfBookmark(const Bookmark &bookmark) const
{
    if (!active() || !bookmark.isValid() || bookmark.generation != m_generation)
        return -1;
    const auto found = std::find(m_serials.begin(), m_serials.end(), bookmark.serial);
    return found == m_serials.end() ? -1 : int(found - m_serials.begin());
}

int DataSet::rowOfKey(qint64 key) const
{
    if (key == 0)
        return -1;
    const auto found = std::find(m_keys.begin(), m_keys.end(), key);
    return found == m_keys.end() ? -1 : int(found - m_keys.begin());
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

void DataSet::addObserver(DataSetObserver *observer)
{
    m_observers.push_back(observer);
}

void DataSet::removeObserver(DataSetObserver *observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

#define LIANBU_NOTIFY(call)                   \
    do {                                      \
        if (m_disableCount > 0) {             \
            m_pendingReset = true;            \
            return;                           \
        }                                     \
        const auto observers = m_observers;   \
        for (DataSetObserver * o : observers) \
            o->call;                          \
    } while (false)

void DataSet::notifyDataSetChanged()
{
    LIANBU_NOTIFY(resetAll());
}
void DataSet::notifyRecordChanged(int row)
{
    LIANBU_NOTIFY(rowValuesChanged(row));
}
void DataSet::notifyRowAboutToBeInserted(int row)
{
    LIANBU_NOTIFY(willInsertRow(row));
}
void DataSet::notifyRowInserted(int row)
{
    LIANBU_NOTIFY(didInsertRow(row));
}
void DataSet::notifyRowAboutToBeRemoved(int row)
{
    LIANBU_NOTIFY(willRemoveRow(row));
}
void DataSet::notifyRowRemoved(int row)
{
    LIANBU_NOTIFY(didRemoveRow(row));
}
void DataSet::notifyCurrentRowChanged()
{
    LIANBU_NOTIFY(currentRowMoved(m_current));
}
void DataSet::notifyStateChanged()
{
    LIANBU_NOTIFY(stateMoved(m_state));
}

#undef LIANBU_NOTIFY

} // namespace lianbu::db
