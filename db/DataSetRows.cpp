#include "db/DataSet.h"

#include "db/Connection.h"
#include "db/DataSetParts.h"
#include "db/Engine.h"
#include "db/PackedRow.h"
#include "db/RowCache.h"
#include "platform/Error.h"

#include <algorithm>

// The rows of a keyset: read by key around the one shown, kept in a small cache, and read in
// batches for a long export or printout.

namespace lianbu::db {

void DataSet::storeFetched(qint64 key, QString packed) const
{
    m_cache->store(key, std::move(packed));
}

void DataSet::fetchAround(int row, int ahead) const
{
    const int fieldCount = int(m_fields.size());
    try {
        const std::vector<qint64> wanted = m_cache->missingAround(m_keys, row, ahead);
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
    const QString *held = m_cache->find(key);
    if (!held) {
        fetchAround(row);
        held = m_cache->find(key);
    }
    return held;
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

} // namespace lianbu::db
