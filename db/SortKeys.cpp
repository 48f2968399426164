#include "db/SortKeys.h"

#include "db/Connection.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <sqlite3.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace lianbu::db {

namespace {

// The collation Qt's QCollator uses for QLocale(Chinese, China) on ICU, with its settings, so a
// stored key orders exactly as DataSet's own sort (the test of the sort compares the two).
struct IcuCollator
{
    UCollator *collator = nullptr;
    IcuCollator()
    {
        UErrorCode status = U_ZERO_ERROR;
        const QByteArray name = QLocale(QLocale::Chinese, QLocale::China)
                                    .bcp47Name()
                                    .replace(QLatin1Char('-'), QLatin1Char('_'))
                                    .toLatin1();
        collator = ucol_open(name.constData(), &status);
        if (U_FAILURE(status) || !collator)
            throw Error(QStringLiteral("The Chinese collation is not available (%1).").arg(int(status)));
        for (const auto &[attribute, value] :
             {std::pair{UCOL_NORMALIZATION_MODE, UCOL_ON}, std::pair{UCOL_STRENGTH, UCOL_DEFAULT_STRENGTH},
              std::pair{UCOL_NUMERIC_COLLATION, UCOL_OFF}, std::pair{UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE}}) {
            status = U_ZERO_ERROR;
            ucol_setAttribute(collator, attribute, value, &status);
        }
    }
    ~IcuCollator() { ucol_close(collator); }
};

QString quoted(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString keyTable(const QString &table)
{
    return table + QLatin1String("_sortkeys");
}

void execute(sqlite3 *handle, const QString &sql)
{
    engine::Statement statement(handle, sql);
    while (statement.step()) {
    }
}

// The key columns of the key table (every column but rid and fresh); empty when there is none.
QStringList keyColumns(sqlite3 *handle, const QString &table)
{
    QStringList columns;
    engine::Statement info(handle, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(keyTable(table))));
    while (info.step()) {
        QString scratch;
        const QString name = info.text(1, &scratch).toString();
        if (name != QLatin1String("rid") && name != QLatin1String("fresh"))
            columns << name;
    }
    return columns;
}

// Computes the keys of up to `limit` stale rows; returns how many rows it wrote. Runs inside the
// caller's write transaction.
qint64 refreshBatch(sqlite3 *handle, const QString &table, const QStringList &columns, qint64 limit)
{
    QStringList values, assignments;
    for (const QString &column : columns) {
        values << QLatin1String("d.") + quoted(column);
        assignments << quoted(column) + QLatin1String("=?");
    }
    engine::Statement read(handle, QStringLiteral("SELECT k.rid, %1 FROM %2 k LEFT JOIN %3 d ON d.rowid=k.rid "
                                                  "WHERE k.fresh=0 LIMIT %4")
                                       .arg(values.join(QLatin1Char(',')), quoted(keyTable(table)), quoted(table))
                                       .arg(limit));
    engine::Statement write(handle, QStringLiteral("UPDATE %1 SET fresh=1,%2 WHERE rid=?")
                                        .arg(quoted(keyTable(table)), assignments.join(QLatin1Char(','))));
    engine::Statement drop(handle, QStringLiteral("DELETE FROM %1 WHERE rid=?").arg(quoted(keyTable(table))));
    struct Pending
    {
        qint64 rid;
        std::vector<QByteArray> keys;
        bool gone;
    };
    std::vector<Pending> pending;
    QString scratch;
    const int n = int(columns.size());
    while (read.step()) {
        Pending row{read.integer(0), {}, true};
        row.keys.resize(size_t(n));
        for (int c = 0; c < n; ++c) {
            if (read.isNull(c + 1))
                continue;
            row.gone = false;
            row.keys[size_t(c)] = collationKey(read.text(c + 1, &scratch));
        }
        pending.push_back(std::move(row));
    }
    for (Pending &row : pending) {
        sqlite3_stmt *w = write.get();
        sqlite3_reset(w);
        for (int c = 0; c < n; ++c) {
            const QByteArray &key = row.keys[size_t(c)];
            if (key.isNull())
                sqlite3_bind_null(w, c + 1);
            else
                sqlite3_bind_blob(w, c + 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(w, n + 1, row.rid);
        if (sqlite3_step(w) != SQLITE_DONE)
            throw Error(QString::fromUtf8(sqlite3_errmsg(handle)));
    }
    // A key row whose data row is gone (and all of whose values read as null) is checked once
    // more by rowid; a row of nulls stays.
    engine::Statement exists(handle, QStringLiteral("SELECT 1 FROM %1 WHERE rowid=?").arg(quoted(table)));
    for (const Pending &row : pending) {
        if (!row.gone)
            continue;
        exists.reset();
        exists.bind(1, row.rid);
        if (!exists.step()) {
            drop.reset();
            drop.bind(1, row.rid);
            drop.step();
        }
    }
    return qint64(pending.size());
}

// Brings every stale key up to date; false when the register cannot be written now.
bool refreshStale(sqlite3 *handle, const QString &table, const QStringList &columns)
{
    {
        engine::Statement any(handle,
                              QStringLiteral("SELECT 1 FROM %1 WHERE fresh=0 LIMIT 1").arg(quoted(keyTable(table))));
        if (!any.step())
            return true;
    }
    if (!sqlite3_get_autocommit(handle))
        return false; // inside someone's transaction: not ours to commit
    try {
        execute(handle, QStringLiteral("BEGIN IMMEDIATE"));
    } catch (const Error &) {
        return false;
    }
    try {
        while (refreshBatch(handle, table, columns, 5000) > 0) {
        }
        execute(handle, QStringLiteral("COMMIT"));
    } catch (const Error &) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

bool lessBlob(const QByteArray &x, const QByteArray &y)
{
    return x.isNull() ? !y.isNull() : !y.isNull() && x < y;
}

} // namespace

bool startsWithHan(QStringView text)
{
    if (text.isEmpty())
        return false;
    char32_t first = text.at(0).unicode();
    if (text.size() > 1 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate())
        first = QChar::surrogateToUcs4(text.at(0), text.at(1));
    return QChar::script(first) == QChar::Script_Han;
}

QByteArray collationKey(QStringView text)
{
    thread_local const std::unique_ptr<IcuCollator> icu = std::make_unique<IcuCollator>();
    QByteArray key(int(text.size()) * 4 + 16, Qt::Uninitialized);
    key[0] = startsWithHan(text) ? '\x01' : '\x00';
    const auto *source = reinterpret_cast<const UChar *>(text.utf16());
    int32_t length = ucol_getSortKey(icu->collator, source, int32_t(text.size()),
                                     reinterpret_cast<uint8_t *>(key.data() + 1), int32_t(key.size() - 1));
    if (length > key.size() - 1) {
        key.resize(length + 1);
        length = ucol_getSortKey(icu->collator, source, int32_t(text.size()),
                                 reinterpret_cast<uint8_t *>(key.data() + 1), int32_t(key.size() - 1));
    }
    key.resize(length + 1);
    return key;
}

bool sortsBefore(const std::optional<QString> &a, const std::optional<QString> &b, bool numeric)
{
    if (!a || !b)
        return !a && b;
    if (numeric) {
        bool aNumber = false;
        bool bNumber = false;
        const double x = QStringView(*a).toDouble(&aNumber);
        const double y = QStringView(*b).toDouble(&bNumber);
        if (aNumber != bNumber)
            return bNumber;
        return aNumber && x < y;
    }
    return collationKey(*a) < collationKey(*b);
}

QStringList sortKeyStatements(const QString &table, const QStringList &columns)
{
    const QString keys = quoted(keyTable(table));
    QStringList definitions{QStringLiteral("rid INTEGER PRIMARY KEY"),
                            QStringLiteral("fresh INTEGER NOT NULL DEFAULT 0")};
    QStringList statements;
    for (const QString &column : columns)
        definitions << quoted(column) + QLatin1String(" BLOB");
    statements << QStringLiteral("CREATE TABLE %1 (%2)").arg(keys, definitions.join(QLatin1Char(',')));
    // Each column's index holds the rowid after the key: equal keys come in rowid order.
    for (const QString &column : columns)
        statements << QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                          .arg(quoted(keyTable(table) + QLatin1Char('_') + column), keys, quoted(column));
    statements << QStringLiteral("CREATE INDEX %1 ON %2 (rid) WHERE fresh=0")
                      .arg(quoted(keyTable(table) + QLatin1String("_stale")), keys);
    QStringList watched;
    for (const QString &column : columns)
        watched << quoted(column);
    const QString stale = QStringLiteral("INSERT OR REPLACE INTO %1 (rid, fresh) VALUES (new.rowid, 0);").arg(keys);
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 END")
                      .arg(quoted(keyTable(table) + QLatin1String("_insert")), quoted(table), stale);
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE OF %2 ON %3 BEGIN "
                                 "DELETE FROM %4 WHERE rid=old.rowid AND old.rowid<>new.rowid; %5 END")
                      .arg(quoted(keyTable(table) + QLatin1String("_update")), watched.join(QLatin1Char(',')),
                           quoted(table), keys, stale);
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN DELETE FROM %3 WHERE rid=old.rowid; END")
                      .arg(quoted(keyTable(table) + QLatin1String("_delete")), quoted(table), keys);
    return statements;
}

bool hasSortKeys(Connection &connection, const QString &table)
{
    try {
        return !keyColumns(engine::nativeHandle(connection.database()), table).isEmpty();
    } catch (const Error &) {
        return false;
    }
}

void createSortKeys(Connection &connection, const QString &table, const QStringList &columns,
                    const std::function<void(qint64, qint64)> &progress)
{
    sqlite3 *handle = engine::nativeHandle(connection.database());
    execute(handle, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        const QStringList statements = sortKeyStatements(table, columns);
        // The table first, filled, then its indexes: building an index once is faster than
        // keeping it while every row is written.
        execute(handle, statements.first());
        execute(handle, QStringLiteral("INSERT INTO %1 (rid, fresh) SELECT rowid, 0 FROM %2")
                            .arg(quoted(keyTable(table)), quoted(table)));
        qint64 total = 0;
        {
            engine::Statement count(handle, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table)));
            if (count.step())
                total = count.integer(0);
        }
        qint64 done = 0;
        for (qint64 n; (n = refreshBatch(handle, table, columns, 5000)) > 0;) {
            done += n;
            if (progress)
                progress(done, total);
        }
        for (qsizetype s = 1; s < statements.size(); ++s)
            execute(handle, statements[s]);
        execute(handle, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void updateSortKeys(Connection &connection, const QString &table)
{
    sqlite3 *handle = engine::nativeHandle(connection.database());
    if (!refreshStale(handle, table, keyColumns(handle, table)))
        throw Error(QStringLiteral("The sort keys of %1 cannot be written now.").arg(table));
}

bool orderByStoredKeys(Connection &connection, const QString &table, const QString &column, bool descending,
                       const std::vector<qint64> &keys, std::vector<int> *order)
{
    try {
        sqlite3 *handle = engine::nativeHandle(connection.database());
        const QStringList columns = keyColumns(handle, table);
        const qsizetype index =
            columns.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(column)),
                                               QRegularExpression::CaseInsensitiveOption));
        if (index < 0 || !refreshStale(handle, table, columns))
            return false;
        const QString keyColumn = columns[index];
        const engine::ReadTransaction transaction(handle);
        const size_t n = keys.size();
        order->clear();
        order->reserve(n);
        // Groups of equal keys, as ranges of `order`; rows in no group are taken as null.
        std::vector<size_t> groupStart;
        bool firstGroupNull = false;
        std::vector<bool> seen(n, false);
        qint64 tableRows = 0;
        {
            // Two lookups at the ends of the rowid tree (min and max together would scan it).
            engine::Statement count(handle,
                                    QStringLiteral("SELECT (SELECT max(rid) FROM %1) - (SELECT min(rid) FROM %1) + 1")
                                        .arg(quoted(keyTable(table))));
            if (count.step())
                tableRows = count.integer(0);
        }
        if (n * 16 < size_t(tableRows)) {
            // A short list of a long table: its own keys by rowid, sorted here.
            engine::Statement read(
                handle,
                QStringLiteral("SELECT %1 FROM %2 WHERE rid=?").arg(quoted(keyColumn), quoted(keyTable(table))));
            std::vector<QByteArray> found(n);
            for (size_t i = 0; i < n; ++i) {
                read.reset();
                read.bind(1, keys[i]);
                if (read.step() && !read.isNull(0)) {
                    const auto *blob = static_cast<const char *>(sqlite3_column_blob(read.get(), 0));
                    found[i] = QByteArray(blob ? blob : "", sqlite3_column_bytes(read.get(), 0));
                }
            }
            order->resize(n);
            for (size_t i = 0; i < n; ++i)
                (*order)[i] = int(i);
            std::stable_sort(order->begin(), order->end(),
                             [&](int x, int y) { return lessBlob(found[size_t(x)], found[size_t(y)]); });
            for (size_t i = 0; i < n; ++i)
                if (i == 0 || lessBlob(found[size_t((*order)[i - 1])], found[size_t((*order)[i])]))
                    groupStart.push_back(i);
            std::fill(seen.begin(), seen.end(), true);
            firstGroupNull = n > 0 && found[size_t(order->front())].isNull();
        } else {
            // The list's position of each rowid.
            qint64 maxKey = 0;
            for (qint64 key : keys)
                maxKey = std::max(maxKey, key);
            std::vector<int> dense;
            QHash<qint64, int> sparse;
            const bool useDense = maxKey <= qint64(n) * 4 + 65536;
            if (useDense)
                dense.assign(size_t(maxKey) + 1, -1);
            for (size_t i = 0; i < n; ++i) {
                if (keys[i] <= 0)
                    continue;
                if (useDense)
                    dense[size_t(keys[i])] = int(i);
                else
                    sparse.insert(keys[i], int(i));
            }
            auto positionOf = [&](qint64 rid) -> int {
                if (useDense)
                    return rid > 0 && rid <= maxKey ? dense[size_t(rid)] : -1;
                return sparse.value(rid, -1);
            };
            engine::Statement read(handle, QStringLiteral("SELECT rid, %1 FROM %2 INDEXED BY %3 ORDER BY %1")
                                               .arg(quoted(keyColumn), quoted(keyTable(table)),
                                                    quoted(keyTable(table) + QLatin1Char('_') + keyColumn)));
            sqlite3_stmt *s = read.get();
            // The index is read a batch at a time, and each batch's list positions are looked up
            // in a loop of their own: those lookups miss the processor's caches in any order,
            // and apart from the reading they overlap.
            constexpr size_t kBatch = 4096;
            std::vector<qint64> batchKeys;
            std::vector<int> batchPositions(kBatch);
            std::vector<quint8> batchFlags; // 1: starts a run of equal keys; 2: null key
            batchKeys.reserve(kBatch);
            batchFlags.reserve(kBatch);
            bool runBreak = true; // since the last row taken
            bool first = true;
            auto take = [&] {
                const size_t count = batchKeys.size();
                for (size_t i = 0; i < count; ++i)
                    batchPositions[i] = positionOf(batchKeys[i]);
                for (size_t i = 0; i < count; ++i) {
                    runBreak = runBreak || (batchFlags[i] & 1);
                    const int position = batchPositions[i];
                    if (position < 0 || seen[size_t(position)])
                        continue;
                    seen[size_t(position)] = true;
                    if (runBreak) {
                        if (first)
                            firstGroupNull = (batchFlags[i] & 2) != 0;
                        groupStart.push_back(order->size());
                    }
                    runBreak = false;
                    first = false;
                    order->push_back(position);
                }
                batchKeys.clear();
                batchFlags.clear();
            };
            std::string previous; // keeps its buffer from key to key
            bool previousNull = false;
            bool firstRow = true;
            while (read.step()) {
                const bool isNull = sqlite3_column_type(s, 1) == SQLITE_NULL;
                const auto *blob = static_cast<const char *>(sqlite3_column_blob(s, 1));
                const int bytes = sqlite3_column_bytes(s, 1);
                const bool same = !firstRow && isNull == previousNull
                                  && (isNull
                                      || (previous.size() == size_t(bytes)
                                          && std::memcmp(previous.data(), blob, size_t(bytes)) == 0));
                if (!same) {
                    if (isNull)
                        previous.clear();
                    else
                        previous.assign(blob, size_t(bytes));
                    previousNull = isNull;
                }
                firstRow = false;
                batchKeys.push_back(sqlite3_column_int64(s, 0));
                batchFlags.push_back(quint8((same ? 0 : 1) | (isNull ? 2 : 0)));
                if (batchKeys.size() == kBatch)
                    take();
            }
            take();
        }
        // Rows without a key (gone since the list was read) join the nulls, which lead.
        std::vector<int> missing;
        for (size_t i = 0; i < n; ++i)
            if (!seen[i])
                missing.push_back(int(i));
        if (!missing.empty()) {
            order->insert(order->begin(), missing.begin(), missing.end());
            for (size_t &start : groupStart)
                start += missing.size();
            if (firstGroupNull)
                groupStart.front() = 0;
            else
                groupStart.insert(groupStart.begin(), 0);
        }
        groupStart.push_back(order->size());
        // Equal keys keep the list's current order; descending reverses the groups, not them.
        for (size_t g = 0; g + 1 < groupStart.size(); ++g) {
            auto from = order->begin() + std::ptrdiff_t(groupStart[g]);
            auto to = order->begin() + std::ptrdiff_t(groupStart[g + 1]);
            if (!std::is_sorted(from, to))
                std::sort(from, to);
        }
        if (descending) {
            std::vector<int> reversed;
            reversed.reserve(order->size());
            for (size_t g = groupStart.size() - 1; g > 0; --g)
                reversed.insert(reversed.end(), order->begin() + std::ptrdiff_t(groupStart[g - 1]),
                                order->begin() + std::ptrdiff_t(groupStart[g]));
            *order = std::move(reversed);
        }
        return true;
    } catch (const Error &) {
        return false;
    }
}

} // namespace lianbu::db
