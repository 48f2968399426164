#include "db/DataSet.h"
#include "db/Engine.h"

#include "db/Connection.h"
#include "db/DataSource.h"
#include "db/EngineErrors.h"
#include "db/EngineMessage.h"
#include "db/SortKeys.h"
#include "db/SqliteEngine.h"
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
#include <limits>
#include <map>
#include <numeric>

namespace lianbu::db {

// The cells of one row live in one string: first two UTF-16 units per field holding the end
// offset of that field's text (bit 31 marks null), then the texts back to back. A statement read
// completely keeps one such string per row; a keyset keeps them only for the rows read lately.
struct DataSet::RowCache
{
    QHash<qint64, QString> rows;
};

// Sort ranks per stored column, computed at the first sort by that column and kept until a row
// is written (a deleted row only leaves an unused rank behind).
struct DataSet::SortRanks
{
    std::map<int, std::vector<int>> byColumn;
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

// A keyset reads rows around the one asked for: a little behind (scrolling up) and a few
// screens ahead; the cache is emptied when it would hold more than a few thousand rows.
constexpr int kFetchBehind = 64;
constexpr int kFetchAhead = 448;
constexpr int kCacheCapacity = 4096;

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
    void close(bool isNull)
    {
        const quint32 end = quint32(m_buffer.size() - 2 * m_fieldCount) | (isNull ? kNullBit : 0);
        m_buffer[2 * m_field] = char16_t(end & 0xffff);
        m_buffer[2 * m_field + 1] = char16_t(end >> 16);
        ++m_field;
    }
    // Text as the engine stores it (UTF-8), decoded straight into the row: no string per cell.
    void addUtf8(const unsigned char *p, qsizetype n)
    {
        const unsigned char *end = p + n;
        while (p < end) {
            const unsigned char b = *p;
            if (b < 0x80) {
                m_buffer.append(char16_t(b));
                ++p;
                continue;
            }
            const int extra = b >= 0xf0 ? 3 : b >= 0xe0 ? 2 : b >= 0xc0 ? 1 : -1;
            char32_t c = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0f : b & 0x1f;
            bool valid = extra > 0 && end - p > extra;
            for (int k = 1; valid && k <= extra; ++k) {
                valid = (p[k] & 0xc0) == 0x80;
                c = (c << 6) | (p[k] & 0x3f);
            }
            if (!valid) {
                m_buffer.append(char16_t(0xfffd));
                ++p;
                continue;
            }
            p += extra + 1;
            if (c >= 0x10000) {
                m_buffer.append(QChar::highSurrogate(c));
                m_buffer.append(QChar::lowSurrogate(c));
            } else {
                m_buffer.append(char16_t(c));
            }
        }
        close(false);
    }
    void add(QStringView text, bool isNull)
    {
        m_buffer.append(reinterpret_cast<const char16_t *>(text.utf16()), text.size());
        close(isNull);
    }
    QString finish() const { return QString(reinterpret_cast<const QChar *>(m_buffer.constData()), m_buffer.size()); }

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

// The stored fields' cells of a row, in the field order (`columnOf`: result column per field).
void packCells(Packer &packer, const ResultRow &row, const std::vector<int> &columnOf, QString *scratch)
{
    for (const int c : columnOf) {
        const unsigned char *utf8 = nullptr;
        qsizetype bytes = 0;
        if (row.utf8(c, &utf8, &bytes)) {
            packer.addUtf8(utf8, bytes);
        } else {
            const bool isNull = row.isNull(c);
            packer.add(isNull ? QStringView() : row.text(c, scratch), isNull);
        }
    }
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
    // The first screens are read with the keys: what the list shows first is the result as of
    // the open, like a statement read completely.
    if (m_keyset && !m_keys.empty())
        fetchAround(0);
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

namespace {

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

} // namespace

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

void DataSet::storeFetched(qint64 key, QString packed) const
{
    m_cache->rows.insert(key, std::move(packed));
}

void DataSet::fetchAround(int row) const
{
    const int count = int(m_keys.size());
    const int from = std::max(0, row - kFetchBehind);
    const int to = std::min(count, row + kFetchAhead);
    if (m_cache->rows.size() + (to - from) > kCacheCapacity)
        m_cache->rows.clear();
    const int fieldCount = int(m_fields.size());
    try {
        std::vector<qint64> wanted;
        for (int r = from; r < to; ++r) {
            const qint64 key = m_keys[size_t(r)];
            if (key != 0 && !m_cache->rows.contains(key))
                wanted.push_back(key);
        }
        if (wanted.empty())
            return;
        const QSqlDatabase db = m_connection->database();
        const std::unique_ptr<KeyedRows> fetch = engineOf(db).keyedRows(db, m_fetchStatement, m_fetchKey);
        Packer packer;
        QString scratch;
        fetch->read(wanted, 0, int(wanted.size()), [&](int index, const ResultRow *row) {
            packer.begin(fieldCount);
            if (row) {
                packCells(packer, *row, m_columnOf, &scratch);
            } else {
                // Deleted by another program since the list was opened: shown empty.
                for (int f = 0; f < fieldCount; ++f)
                    packer.add(QStringView(), true);
            }
            storeFetched(wanted[size_t(index)], packer.finish());
        });
    } catch (const Error &) {
        // The rows stay unread; a later paint asks again.
    }
}

const QString *DataSet::packedRow(int row) const
{
    if (!m_keyset)
        return &m_packed[size_t(row)];
    const qint64 key = m_keys[size_t(row)];
    auto it = m_cache->rows.constFind(key);
    if (it == m_cache->rows.constEnd()) {
        fetchAround(row);
        it = m_cache->rows.constFind(key);
        if (it == m_cache->rows.constEnd())
            return nullptr;
    }
    return &it.value();
}

QStringView DataSet::RowCells::text(int fieldIndex) const
{
    bool isNull = false;
    const int column = (*m_fields)[size_t(fieldIndex)]->m_column;
    return cellView(*m_packed, int(m_fields->size()), column, &isNull);
}

bool DataSet::RowCells::isNull(int fieldIndex) const
{
    bool isNull = false;
    const int column = (*m_fields)[size_t(fieldIndex)]->m_column;
    cellView(*m_packed, int(m_fields->size()), column, &isNull);
    return isNull;
}

void DataSet::readRows(int from, int to, const std::function<void(int row, const RowCells &cells)> &visit) const
{
    from = std::max(from, 0);
    to = std::min(to, int(m_keys.size()));
    const int fieldCount = int(m_fields.size());
    RowCells cells;
    cells.m_fields = &m_fields;
    Packer packer;
    auto packEdit = [&]() {
        packer.begin(fieldCount);
        for (int c = 0; c < fieldCount; ++c) {
            const std::optional<QString> &value = m_edit->values[size_t(c)];
            packer.add(value ? QStringView(*value) : QStringView(), !value);
        }
        return packer.finish();
    };
    if (!m_keyset) {
        for (int row = from; row < to; ++row) {
            QString edited;
            if (m_edit && m_edit->row == row) {
                edited = packEdit();
                cells.m_packed = &edited;
            } else {
                cells.m_packed = &m_packed[size_t(row)];
            }
            visit(row, cells);
        }
        return;
    }
    const QSqlDatabase db = m_connection->database();
    const std::unique_ptr<KeyedRows> reader = engineOf(db).keyedRows(db, m_fetchStatement, m_fetchKey);
    QString scratch;
    QString emptyRow;
    packer.begin(fieldCount);
    for (int f = 0; f < fieldCount; ++f)
        packer.add(QStringView(), true);
    emptyRow = packer.finish();
    // In batches through one prepared statement (a range scan where the keys ascend closely).
    constexpr int kBatch = 4096;
    for (int start = from; start < to; start += kBatch) {
        const int end = std::min(to, start + kBatch);
        reader->read(m_keys, start, end, [&](int row, const ResultRow *found) {
            QString packed;
            if (m_edit && m_edit->row == row) {
                packed = packEdit();
            } else if (found) {
                packer.begin(fieldCount);
                packCells(packer, *found, m_columnOf, &scratch);
                packed = packer.finish();
            } else {
                packed = emptyRow; // deleted since the list was read
            }
            cells.m_packed = &packed;
            visit(row, cells);
        });
    }
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

DataSet::RecordAsRead DataSet::currentRecordAsRead() const
{
    RecordAsRead record;
    if (!active() || m_current < 0)
        return record;
    record.key = m_keys[size_t(m_current)];
    record.values.resize(size_t(fieldCount()));
    for (int f = 0; f < fieldCount(); ++f)
        record.values[size_t(m_fields[size_t(f)]->m_column)] = valueOf(m_current, f);
    return record;
}

bool DataSet::tableHoldsRow(qint64 key) const
{
    checkActive();
    checkModifiable();
    return rowExists(key);
}

void DataSet::refreshKey(qint64 key)
{
    const int row = active() ? rowOfKey(key) : -1;
    if (row < 0 || (m_edit && m_edit->row == row))
        return;
    forgetSortRanks();
    if (m_keyset)
        m_cache->rows.remove(key); // read again when shown
    else
        refreshRowFromDatabase(row);
    notifyRecordChanged(row);
}

void DataSet::edit(const RecordAsRead &asRead)
{
    checkActive();
    if (m_state == DataSetState::Insert)
        throw Error(QStringLiteral("Dataset is inserting a new row, not editing a read one"));
    checkModifiable();
    checkNotEmpty();
    const int row = m_edit ? m_edit->row : m_current;
    if (asRead.key == 0 || asRead.key != m_keys[size_t(row)])
        throw Error(QStringLiteral("Record to edit (key %1) is not the current row (key %2)")
                        .arg(asRead.key)
                        .arg(m_keys[size_t(row)]),
                    QStringLiteral("要修改的资料不是列表中的当前资料，没有修改。请重新读入这条资料。"));
    if (asRead.values.size() != size_t(fieldCount()))
        throw Error(QStringLiteral("Record to edit has %1 values, the dataset %2 fields")
                        .arg(asRead.values.size())
                        .arg(fieldCount()));
    edit();
    m_edit->asRead = asRead.values;
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
    const int row = int(m_keys.size());
    Packer packer;
    packer.begin(fieldCount());
    for (int f = 0; f < fieldCount(); ++f)
        packer.add(QStringView(), true);

    auto buffer = std::make_unique<EditBuffer>();
    buffer->row = row;
    buffer->inserting = true;
    buffer->previousCurrent = m_current;
    buffer->values.assign(size_t(fieldCount()), std::nullopt);
    buffer->modified.assign(size_t(fieldCount()), false);

    notifyRowAboutToBeInserted(row);
    m_keys.push_back(0);
    m_serials.push_back(m_nextSerial++);
    if (!m_keyset)
        m_packed.push_back(packer.finish());
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

void DataSet::refreshRowFromDatabase(int rowIndex)
{
    const qint64 key = m_keys[size_t(rowIndex)];
    if (m_keyset) {
        m_cache->rows.remove(key);
        const int fieldCount = int(m_fields.size());
        Packer packer;
        packer.begin(fieldCount);
        bool read = false;
        try {
            const QSqlDatabase db = m_connection->database();
            const std::unique_ptr<KeyedRows> fetch = engineOf(db).keyedRows(db, m_fetchStatement, m_fetchKey);
            QString scratch;
            fetch->read(m_keys, rowIndex, rowIndex + 1, [&](int, const ResultRow *row) {
                if (!row)
                    return;
                packCells(packer, *row, m_columnOf, &scratch);
                read = true;
            });
        } catch (const Error &) {
        }
        if (!read) {
            // The row is no longer readable (a trigger moved it): show what was written.
            packer.begin(fieldCount);
            for (int f = 0; f < fieldCount; ++f) {
                const std::optional<QString> &value = m_edit->values[size_t(f)];
                packer.add(value ? QStringView(*value) : QStringView(), !value);
            }
        }
        storeFetched(key, packer.finish());
        return;
    }
    QStringList names;
    for (const Field *field : fieldsByColumn())
        names << quoteIdentifier(field->fieldName());
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    const QString keyColumn = engineOf(m_connection->database()).rowKey(quoteIdentifier(m_updateTable));
    query.prepare(QStringLiteral("select %1 from %2 where %3=?")
                      .arg(names.isEmpty() ? keyColumn : names.join(QLatin1Char(',')), quoteIdentifier(m_updateTable),
                           keyColumn));
    query.addBindValue(key);
    Packer packer;
    packer.begin(fieldCount());
    if (query.exec() && query.next() && !names.isEmpty()) {
        for (int f = 0; f < fieldCount(); ++f) {
            const QVariant value = query.value(f);
            packer.add(value.isNull() ? QString() : value.toString(), value.isNull());
        }
    } else if (!m_edit) {
        return; // nothing was written here: the row shows what it showed
    } else {
        // The row is no longer readable (a trigger moved it): show what was written.
        for (int f = 0; f < fieldCount(); ++f) {
            const std::optional<QString> &value = m_edit->values[size_t(f)];
            packer.add(value ? QStringView(*value) : QStringView(), !value);
        }
    }
    m_packed[size_t(rowIndex)] = packer.finish();
}

void DataSet::post()
{
    checkActive();
    if (!m_edit)
        throw Error(QStringLiteral("Dataset not in edit or insert mode"));
    EditBuffer &buffer = *m_edit;

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
        values << m_keys[size_t(buffer.row)];
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
        m_keys[size_t(buffer.row)] = engine.insertedKey(query);
    } else if (query.numRowsAffected() == 0) {
        query.finish();
        const bool gone = !rowExists(m_keys[size_t(buffer.row)]);
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
    forgetSortRanks();
    refreshRowFromDatabase(buffer.row);
    const int changed = buffer.row;
    m_edit.reset();
    notifyRecordChanged(changed);
    setState(DataSetState::Browse);
}

void DataSet::removeRowAt(int row, int newCurrent)
{
    notifyRowAboutToBeRemoved(row);
    if (m_keyset)
        m_cache->rows.remove(m_keys[size_t(row)]);
    else
        m_packed.erase(m_packed.begin() + row);
    m_keys.erase(m_keys.begin() + row);
    m_serials.erase(m_serials.begin() + row);
    m_current = m_keys.empty() ? -1 : std::clamp(newCurrent, 0, int(m_keys.size()) - 1);
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
    QVariantList values{m_keys[size_t(row)]};
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
        if (rowExists(m_keys[size_t(row)])) {
            // Changed since it was read: the operator decided on values that are no longer there.
            throw Error(QStringLiteral("Row cannot be located for deleting. Some values may have been "
                                       "changed since it was last read."),
                        QStringLiteral("这条资料在你读取之后已被其他操作员修改，没有删除。"
                                       "请重新查询列表，核对后再删除。"));
        }
        // Another operator deleted it already: it leaves the list, and the operator is told.
        removeRowAt(row, row);
        m_eof = m_bof = m_keys.empty();
        throw Error(QStringLiteral("Row cannot be located for deleting. It was deleted since it was last read."),
                    QStringLiteral("这条资料已被其他操作员删除。请重新查询列表。"));
    }
    removeRowAt(row, row);
    m_eof = m_bof = m_keys.empty();
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
        condition +=
            QLatin1String(" and ") + engineOf(m_connection->database()).sameAs(quoteIdentifier(field->fieldName()));
        *values << bindValue(asRead[c]);
    }
    return condition;
}

bool DataSet::rowExists(qint64 key) const
{
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("select 1 from %1 where %2=?")
                      .arg(quoteIdentifier(m_updateTable),
                           engineOf(m_connection->database()).rowKey(quoteIdentifier(m_updateTable))));
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

    const quint32 currentSerial = m_current >= 0 ? m_serials[size_t(m_current)] : 0;
    const size_t n = m_keys.size();
    std::vector<int> order(n);
    if (parts.isEmpty()) {
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [this](int x, int y) { return m_serials[size_t(x)] < m_serials[size_t(y)]; });
    } else {
        const Field &field = fieldByName(parts[0]);
        const bool descending = parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
        // A table with stored collation keys gives the order from an index; otherwise the
        // values are ranked here.
        std::vector<int> stored;
        // (A server register has none: its sort is the ranking below, as for any other table.)
        if (m_keyset && !m_updateTable.isEmpty() && field.dataType() == Field::DataType::String
            && engineOf(m_connection->database()).kind() == Engine::Kind::Sqlite
            && orderByStoredKeys(*m_connection, m_updateTable, field.fieldName(), descending, m_keys, &stored)
            && stored.size() == n) {
            order = std::move(stored);
        } else {
            const std::vector<int> &ranks = sortRanks(field.m_column, field.dataType());
            // Ranks are small integers: a counting sort, stable in both directions.
            int maxRank = 0;
            for (size_t r = 0; r < n; ++r)
                maxRank = std::max(maxRank, ranks[m_serials[r]]);
            std::vector<int> start(size_t(maxRank) + 2, 0);
            for (size_t r = 0; r < n; ++r) {
                const int rank = ranks[m_serials[r]];
                ++start[size_t(descending ? maxRank - rank : rank) + 1];
            }
            for (size_t b = 1; b < start.size(); ++b)
                start[b] += start[b - 1];
            for (size_t r = 0; r < n; ++r) {
                const int rank = ranks[m_serials[r]];
                order[size_t(start[size_t(descending ? maxRank - rank : rank)]++)] = int(r);
            }
        }
    }

    int newCurrent = -1;
    std::vector<qint64> keys(n);
    std::vector<quint32> serials(n);
    for (size_t i = 0; i < n; ++i) {
        keys[i] = m_keys[size_t(order[i])];
        serials[i] = m_serials[size_t(order[i])];
        if (m_current >= 0 && serials[i] == currentSerial)
            newCurrent = int(i);
    }
    if (!m_keyset) {
        std::vector<QString> packed(n);
        for (size_t i = 0; i < n; ++i)
            packed[i] = std::move(m_packed[size_t(order[i])]);
        m_packed = std::move(packed);
    }
    m_keys = std::move(keys);
    m_serials = std::move(serials);
    m_sort = parts.isEmpty() ? QString() : sort.simplified();
    m_current = newCurrent;
    notifyDataSetChanged();
    notifyCurrentRowChanged();
}

void DataSet::forgetSortRanks()
{
    m_ranks.reset();
}

const std::vector<int> &DataSet::sortRanks(int column, Field::DataType type) const
{
    if (!m_ranks)
        m_ranks = std::make_unique<SortRanks>();
    auto found = m_ranks->byColumn.find(column);
    if (found != m_ranks->byColumn.end())
        return found->second;

    // Every value of the column with the reading position of its row.
    std::vector<quint32> serialOf; // per value
    std::vector<QString> texts;    // per value; null values are left out
    std::vector<quint32> nullSerials;
    auto take = [&](quint32 serial, QStringView value, bool isNull) {
        if (isNull) {
            nullSerials.push_back(serial);
        } else {
            serialOf.push_back(serial);
            texts.push_back(value.toString());
        }
    };
    const size_t n = m_keys.size();
    if (!m_keyset) {
        for (size_t r = 0; r < n; ++r) {
            bool isNull = false;
            const QStringView v = cellView(m_packed[r], fieldCount(), column, &isNull);
            take(m_serials[r], v, isNull);
        }
    } else {
        // One pass over the table in rowid order, matched against the list's keys in key order,
        // instead of reading the rows one by one.
        std::vector<std::pair<qint64, quint32>> byKey(n);
        for (size_t r = 0; r < n; ++r)
            byKey[r] = {m_keys[r], m_serials[r]};
        if (!std::is_sorted(byKey.begin(), byKey.end()))
            std::sort(byKey.begin(), byKey.end());
        const Field *field = fieldsByColumn()[size_t(column)];
        const bool tableColumn = !m_updateTable.isEmpty();
        const QString table = quoteIdentifier(m_updateTable.isEmpty() ? QString() : m_updateTable);
        QString scan = m_fetchStatement;
        int valueColumn = m_columnOf[size_t(column)];
        if (tableColumn) {
            scan = QStringLiteral("select %1, %2 from %3").arg(m_fetchKey, quoteIdentifier(field->fieldName()), table);
            valueColumn = 1;
        }
        // Only the stretch of keys the list holds.
        const auto firstKey = std::upper_bound(byKey.begin(), byKey.end(), std::pair<qint64, quint32>(0, ~0u));
        const qint64 low = firstKey == byKey.end() ? 0 : firstKey->first;
        const qint64 high = byKey.empty() ? 0 : byKey.back().first;
        scan += QLatin1String(" where ") + m_fetchKey + QLatin1String(">=? and ") + m_fetchKey
                + QLatin1String("<=? order by 1");
        size_t next = 0;
        QString scratch;
        const QSqlDatabase db = m_connection->database();
        engineOf(db).readResult(db, scan, {low, high}, [&](const ResultRow &row) {
            const qint64 key = row.integer(0);
            while (next < byKey.size() && byKey[next].first < key) {
                take(byKey[next].second, QStringView(), true); // gone since the open
                ++next;
            }
            while (next < byKey.size() && byKey[next].first == key) {
                const bool isNull = row.isNull(valueColumn);
                take(byKey[next].second, isNull ? QStringView() : row.text(valueColumn, &scratch), isNull);
                ++next;
            }
        });
        for (; next < byKey.size(); ++next)
            if (byKey[next].first != 0)
                take(byKey[next].second, QStringView(), true);
    }

    std::vector<int> ranks(m_nextSerial, 0); // 0: null
    const bool numeric = type == Field::DataType::Integer || type == Field::DataType::Float;
    if (numeric) {
        // 1: text that is no number; 2 and up: numbers by value, equal values equal ranks
        std::vector<std::pair<double, quint32>> numbers;
        for (size_t v = 0; v < texts.size(); ++v) {
            bool ok = false;
            const double d = QStringView(texts[v]).toDouble(&ok);
            if (ok)
                numbers.emplace_back(d, serialOf[v]);
            else
                ranks[serialOf[v]] = 1;
        }
        std::sort(numbers.begin(), numbers.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
        int rank = 1;
        for (size_t i = 0; i < numbers.size(); ++i) {
            if (i == 0 || numbers[i - 1].first < numbers[i].first)
                rank = 2 + int(i);
            ranks[numbers[i].second] = rank;
        }
    } else {
        // Collation keys are made once per distinct value (lists repeat categories, dates,
        // sexes a lot); rows are then ordered by small integers.
        QHash<QStringView, int> ids;
        ids.reserve(qsizetype(texts.size()));
        std::vector<QStringView> distinct;
        std::vector<int> valueId(texts.size());
        for (size_t v = 0; v < texts.size(); ++v) {
            const QStringView text(texts[v]);
            auto it = ids.constFind(text);
            if (it == ids.constEnd()) {
                it = ids.insert(text, int(distinct.size()));
                distinct.push_back(text);
            }
            valueId[v] = it.value();
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
        std::vector<int> byCollation(distinct.size());
        std::iota(byCollation.begin(), byCollation.end(), 0);
        std::sort(byCollation.begin(), byCollation.end(), [&](int x, int y) {
            if (han[size_t(x)] != han[size_t(y)])
                return han[size_t(x)] < han[size_t(y)];
            return keys[size_t(x)].compare(keys[size_t(y)]) < 0;
        });
        // Values that collate equal share a rank, so their rows keep their order.
        std::vector<int> position(distinct.size());
        for (size_t p = 0; p < byCollation.size(); ++p) {
            const int d = byCollation[p];
            const bool same = p > 0 && han[size_t(byCollation[p - 1])] == han[size_t(d)]
                              && keys[size_t(byCollation[p - 1])].compare(keys[size_t(d)]) == 0;
            position[size_t(d)] = same ? position[size_t(byCollation[p - 1])] : int(p) + 1;
        }
        for (size_t v = 0; v < texts.size(); ++v)
            ranks[serialOf[v]] = position[size_t(valueId[v])];
    }
    return m_ranks->byColumn.emplace(column, std::move(ranks)).first->second;
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

void DataSet::attach(DataSource *source)
{
    m_sources.push_back(source);
}

void DataSet::detach(DataSource *source)
{
    m_sources.erase(std::remove(m_sources.begin(), m_sources.end(), source), m_sources.end());
}

#define LIANBU_NOTIFY(call)                 \
    do {                                    \
        if (m_disableCount > 0) {           \
            m_pendingReset = true;          \
            return;                         \
        }                                   \
        const auto sources = m_sources;     \
        for (DataSource * source : sources) \
            emit source->call;              \
    } while (false)

void DataSet::notifyDataSetChanged()
{
    LIANBU_NOTIFY(dataSetChanged());
}
void DataSet::notifyRecordChanged(int row)
{
    LIANBU_NOTIFY(recordChanged(row));
}
void DataSet::notifyRowAboutToBeInserted(int row)
{
    LIANBU_NOTIFY(rowAboutToBeInserted(row));
}
void DataSet::notifyRowInserted(int row)
{
    LIANBU_NOTIFY(rowInserted(row));
}
void DataSet::notifyRowAboutToBeRemoved(int row)
{
    LIANBU_NOTIFY(rowAboutToBeRemoved(row));
}
void DataSet::notifyRowRemoved(int row)
{
    LIANBU_NOTIFY(rowRemoved(row));
}
void DataSet::notifyCurrentRowChanged()
{
    LIANBU_NOTIFY(currentRowChanged(m_current));
}
void DataSet::notifyStateChanged()
{
    LIANBU_NOTIFY(stateChanged(m_state));
}

#undef LIANBU_NOTIFY

} // namespace lianbu::db
