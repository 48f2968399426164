#include "db/DataSet.h"

#include "db/Connection.h"
#include "db/DataSetParts.h"
#include "db/RowCache.h"
#include "db/Engine.h"
#include "db/EngineErrors.h"
#include "db/PackedRow.h"
#include "db/SelectShape.h"
#include "db/TableStatement.h"
#include "platform/Error.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <unordered_map>

namespace lianbu::db {

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
        m_cache->forget(key); // read again when shown
    else
        refreshRowFromDatabase(row);
    notifyRecordChanged(row);
}

void DataSet::appendKey(qint64 key)
{
    if (!active() || !m_keyset || key == 0 || rowOfKey(key) >= 0)
        return;
    const int row = int(m_keys.size());
    notifyRowAboutToBeInserted(row);
    m_keys.push_back(key);
    m_serials.push_back(m_nextSerial++);
    forgetSortRanks();
    notifyRowInserted(row);
    if (m_current < 0) {
        m_eof = m_bof = false;
        setCurrent(0);
    }
}

void DataSet::insertKey(int row, qint64 key)
{
    if (!active() || !m_keyset || key == 0)
        return;
    row = std::clamp(row, 0, int(m_keys.size()));
    notifyRowAboutToBeInserted(row);
    m_keys.insert(m_keys.begin() + row, key);
    m_serials.insert(m_serials.begin() + row, m_nextSerial++);
    forgetSortRanks();
    if (m_edit && m_edit->row >= row)
        ++m_edit->row;
    if (m_current >= row)
        ++m_current;
    notifyRowInserted(row);
    if (m_current < 0) {
        m_eof = m_bof = false;
        setCurrent(0);
    }
}

std::vector<int> DataSet::rowsOfKeys(const std::vector<qint64> &keys) const
{
    std::vector<int> rows(keys.size(), -1);
    if (keys.empty())
        return rows;
    std::unordered_map<qint64, size_t> wanted;
    wanted.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] != 0)
            wanted.emplace(keys[i], i);
    size_t found = 0;
    for (size_t r = 0; r < m_keys.size() && found < wanted.size(); ++r) {
        const auto at = wanted.find(m_keys[r]);
        if (at != wanted.end() && rows[at->second] < 0) {
            rows[at->second] = int(r);
            ++found;
        }
    }
    // A key given twice has the row of its first place.
    for (size_t i = 0; i < keys.size(); ++i)
        if (rows[i] < 0 && keys[i] != 0)
            rows[i] = rows[wanted.at(keys[i])];
    return rows;
}

void DataSet::refreshKeys(const std::vector<qint64> &keys)
{
    if (!active())
        return;
    const std::vector<int> rows = rowsOfKeys(keys);
    forgetSortRanks();
    for (size_t i = 0; i < keys.size(); ++i) {
        const int row = rows[i];
        if (row < 0 || (m_edit && m_edit->row == row))
            continue;
        if (m_keyset)
            m_cache->forget(keys[i]);
        else
            refreshRowFromDatabase(row);
        notifyRecordChanged(row);
    }
}

void DataSet::forgetKey(qint64 key)
{
    const int row = active() ? rowOfKey(key) : -1;
    if (row < 0 || (m_edit && m_edit->row == row))
        return;
    if (m_edit && m_edit->row > row)
        --m_edit->row;
    const int current = m_current > row ? m_current - 1 : m_current;
    removeRowAt(row, current);
    m_eof = m_bof = m_keys.empty();
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
        m_cache->forget(key);
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
    TableStatement select;
    select.table = m_updateTable;
    for (const Field *field : fieldsByColumn())
        select.columns << field->fieldName();
    select.withRowKey = select.columns.isEmpty();
    select.conditions = {Condition::rowKey(key)};
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    Packer packer;
    packer.begin(fieldCount());
    if (runStatement(*m_connection, query, buildSelect(engineOf(m_connection->database()), select)) && query.next()
        && !select.withRowKey) {
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

    TableStatement statement;
    statement.table = m_updateTable;
    const std::vector<const Field *> byColumn = fieldsByColumn();
    for (int f = 0; f < fieldCount(); ++f) {
        if (!buffer.modified[size_t(f)])
            continue;
        statement.columns << byColumn[size_t(f)]->fieldName();
        statement.values << boundValue(buffer.values[size_t(f)]);
    }

    QSqlQuery query(m_connection->database());
    const Engine &engine = engineOf(m_connection->database());
    BuiltStatement built;
    if (buffer.inserting) {
        // The new row's key comes back with the insert itself.
        statement.withRowKey = true;
        built = buildInsert(engine, statement);
    } else {
        if (statement.columns.isEmpty()) {
            // Nothing changed: nothing to write.
            m_edit.reset();
            setState(DataSetState::Browse);
            return;
        }
        // Only while the row still holds what was read: another operator's change is never
        // overwritten from a stale list.
        statement.conditions.push_back(Condition::rowKey(m_keys[size_t(buffer.row)]));
        addUnchangedConditions(buffer.asRead, &statement.conditions);
        built = buildUpdate(engine, statement);
    }

    if (!runStatement(*m_connection, query, built)) {
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
        m_cache->forget(m_keys[size_t(row)]);
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
    std::vector<std::optional<QString>> shown(static_cast<size_t>(fieldCount()));
    for (int f = 0; f < fieldCount(); ++f)
        shown[size_t(m_fields[size_t(f)]->m_column)] = valueOf(row, f);
    TableStatement statement;
    statement.table = m_updateTable;
    statement.conditions.push_back(Condition::rowKey(m_keys[size_t(row)]));
    addUnchangedConditions(shown, &statement.conditions);
    if (!runStatement(*m_connection, query, buildDelete(engineOf(m_connection->database()), statement)))
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

void DataSet::addUnchangedConditions(const std::vector<std::optional<QString>> &asRead,
                                     std::vector<Condition> *conditions) const
{
    // Every stored column is compared with the value as read (also matching nulls). Blobs are
    // read as text only for display, so they cannot be compared and are left out.
    const std::vector<const Field *> byColumn = fieldsByColumn();
    for (size_t c = 0; c < byColumn.size() && c < asRead.size(); ++c) {
        const Field *field = byColumn[c];
        if (field->dataType() != Field::DataType::Blob)
            conditions->push_back(Condition::sameAs(field->fieldName(), boundValue(asRead[c])));
    }
}

bool DataSet::rowExists(qint64 key) const
{
    TableStatement select;
    select.table = m_updateTable;
    select.withRowKey = true;
    select.conditions = {Condition::rowKey(key)};
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    // When it cannot be read, say "changed" rather than "deleted": the operator reloads either way.
    return !runStatement(*m_connection, query, buildSelect(engineOf(m_connection->database()), select)) || query.next();
}

} // namespace lianbu::db
