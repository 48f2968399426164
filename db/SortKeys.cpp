#include "db/SortKeys.h"

#include "db/SortKeysParts.h"

#include "db/Connection.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QLocale>

#include <sqlite3.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>

namespace lianbu::db {

using namespace sortkeys;

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

void sortkeys::appendCollationKey(QStringView text, std::string *into)
{
    thread_local const std::unique_ptr<IcuCollator> icu = std::make_unique<IcuCollator>();
    const size_t start = into->size();
    into->resize(start + size_t(text.size()) * 4 + 16);
    (*into)[start] = startsWithHan(text) ? '\x01' : '\x00';
    const auto *source = reinterpret_cast<const UChar *>(text.utf16());
    auto write = [&] {
        return ucol_getSortKey(icu->collator, source, int32_t(text.size()),
                               reinterpret_cast<uint8_t *>(into->data() + start + 1),
                               int32_t(into->size() - start - 1));
    };
    int32_t length = write();
    if (size_t(length) > into->size() - start - 1) {
        into->resize(start + 1 + size_t(length));
        length = write();
    }
    into->resize(start + 1 + size_t(length));
}

QByteArray collationKey(QStringView text)
{
    std::string key;
    sortkeys::appendCollationKey(text, &key);
    return QByteArray(key.data(), qsizetype(key.size()));
}

QStringList sortKeyStatements(const QString &table, const QStringList &columns)
{
    if (columns.size() > kMaxColumns)
        throw Error(QStringLiteral("Too many sorted columns."));
    const QString order = quoted(orderTable(table));
    const QString names = quoted(columnTable(table));
    const QString stale = quoted(staleTable(table));
    QStringList statements{
        // A column's labels, 1,000 rowids to a row.
        QStringLiteral("CREATE TABLE %1 (bit INTEGER NOT NULL, chunk INTEGER NOT NULL, labels BLOB NOT NULL, "
                       "PRIMARY KEY (bit, chunk))")
            .arg(order),
        QStringLiteral("CREATE TABLE %1 (bit INTEGER PRIMARY KEY, name TEXT NOT NULL)").arg(names),
        // done: the columns (bits) whose labels this row already has again.
        QStringLiteral("CREATE TABLE %1 (rid INTEGER PRIMARY KEY, done INTEGER NOT NULL DEFAULT 0)").arg(stale)};
    QStringList watched;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        QString literal = columns[c];
        literal.replace(QLatin1Char('\''), QLatin1String("''"));
        statements << QStringLiteral("INSERT INTO %1 (bit, name) VALUES (%2, '%3')").arg(names).arg(c).arg(literal);
        watched << quoted(columns[c]);
    }
    // Deleted and inserted again rather than replaced: a writer's own conflict clause (INSERT OR
    // IGNORE into the table) would otherwise take over the trigger's and keep an old mark.
    const QString mark =
        QStringLiteral("DELETE FROM %1 WHERE rid=%2.rowid; INSERT INTO %1 (rid, done) VALUES (%2.rowid, 0);")
            .arg(stale);
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 END")
                      .arg(quoted(orderTable(table) + QLatin1String("_insert")), quoted(table), mark.arg(u"new"));
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE OF %2 ON %3 BEGIN %4 %5 END")
                      .arg(quoted(orderTable(table) + QLatin1String("_update")), watched.join(QLatin1Char(',')),
                           quoted(table), mark.arg(u"old"), mark.arg(u"new"));
    statements << QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN %3 END")
                      .arg(quoted(orderTable(table) + QLatin1String("_delete")), quoted(table), mark.arg(u"old"));
    return statements;
}

bool hasSortKeys(Connection &connection, const QString &table)
{
    try {
        return !keyColumns(engine::nativeHandle(connection.database()), table).empty();
    } catch (const Error &) {
        return false;
    }
}

void createSortKeys(Connection &connection, const QString &table, const QStringList &columns,
                    const std::function<void(qint64, qint64)> &progress)
{
    sqlite3 *handle = engine::nativeHandle(connection.database());
    execute(handle, QStringLiteral("BEGIN IMMEDIATE"));
    bool hasFormer = false;
    try {
        for (const QString &statement : sortKeyStatements(table, columns))
            execute(handle, statement);
        const QString former = formerKeyTable(table);
        hasFormer = tableExists(handle, former);
        std::unordered_set<qint64> staleRids;
        if (hasFormer) {
            // Rows the former keys had not caught up with (and any without a key row) are
            // labelled by the first sort, as rows written since.
            execute(handle, QStringLiteral("INSERT INTO %1 (rid, done) SELECT rid, 0 FROM %2 WHERE fresh=0")
                                .arg(quoted(staleTable(table)), quoted(former)));
            // Both counts are read from small indexes; only when they differ are the rowids
            // compared (a scan of every customer).
            if (singleInteger(handle, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table)))
                != singleInteger(handle, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(former))))
                execute(handle, QStringLiteral("INSERT OR IGNORE INTO %1 (rid, done) SELECT rowid, 0 FROM %2 "
                                               "WHERE rowid NOT IN (SELECT rid FROM %3)")
                                    .arg(quoted(staleTable(table)), quoted(table), quoted(former)));
            engine::Statement read(handle, QStringLiteral("SELECT rid FROM %1").arg(quoted(staleTable(table))));
            while (read.step())
                staleRids.insert(read.integer(0));
        }
        const std::vector<KeyColumn> keys = keyColumns(handle, table);
        // In thousandths of a column, so a long column moves the bar too.
        const qint64 steps = qint64(keys.size()) * 1000;
        qint64 done = 0;
        for (const KeyColumn &column : keys) {
            if (!hasFormer || !labelsFromFormerKeys(handle, table, column, staleRids))
                rebuildColumn(handle, table, column, [&](double part) {
                    if (progress)
                        progress(done + qint64(part * 999), steps);
                });
            done += 1000;
            if (progress)
                progress(done, steps);
        }
        if (hasFormer) {
            for (const char *trigger : {"_insert", "_update", "_delete"})
                execute(handle,
                        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(quoted(former + QLatin1String(trigger))));
            // The former keys are derived from customers that stay: their pages need not be
            // overwritten with zeros (hundreds of MB through the journal).
            struct Restore
            {
                sqlite3 *handle;
                int secure;
                ~Restore()
                {
                    sqlite3_exec(handle, secure ? "PRAGMA secure_delete=1" : "PRAGMA secure_delete=0", nullptr, nullptr,
                                 nullptr);
                }
            } restore{handle, int(singleInteger(handle, QStringLiteral("PRAGMA secure_delete")))};
            execute(handle, QStringLiteral("PRAGMA secure_delete=0"));
            execute(handle, QStringLiteral("DROP TABLE %1").arg(quoted(former)));
        }
        execute(handle, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (!hasFormer)
        return;
    // The former keys took about as many pages as the customers with their indexes: the file
    // is written again without them (a second step: should it fail, the register is only
    // larger than it needs to be).
    const qint64 freePages = singleInteger(handle, QStringLiteral("PRAGMA freelist_count"));
    if (freePages * 4 <= singleInteger(handle, QStringLiteral("PRAGMA page_count")))
        return;
    struct Pump
    {
        const std::function<void(qint64, qint64)> *progress;
        static int call(void *self)
        {
            const auto *pump = static_cast<Pump *>(self);
            if (*pump->progress)
                (*pump->progress)(999, 1000); // keeps the window up and answering
            return 0;
        }
    } pump{&progress};
    sqlite3_progress_handler(handle, 1000000, &Pump::call, &pump);
    sqlite3_exec(handle, "VACUUM", nullptr, nullptr, nullptr);
    sqlite3_progress_handler(handle, 0, nullptr, nullptr);
}

namespace {

// Brings the labels of the columns (or of `only`) up to date; false when the register cannot be
// written now.
bool refreshStale(sqlite3 *handle, const QString &table, const std::vector<KeyColumn> &columns, const KeyColumn *only)
{
    qint64 wanted = 0;
    for (const KeyColumn &column : columns)
        if (!only || column.bit == only->bit)
            wanted |= qint64(1) << column.bit;
    {
        engine::Statement any(handle, QStringLiteral("SELECT 1 FROM %1 WHERE done & %2 <> %2 LIMIT 1")
                                          .arg(quoted(staleTable(table)))
                                          .arg(wanted));
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
        qint64 every = 0;
        for (const KeyColumn &column : columns)
            every |= qint64(1) << column.bit;
        for (const KeyColumn &column : columns) {
            if (!(wanted & (qint64(1) << column.bit)))
                continue;
            refreshColumn(handle, table, column);
            execute(handle, QStringLiteral("UPDATE %1 SET done = done | %2 WHERE done & %2 = 0")
                                .arg(quoted(staleTable(table)))
                                .arg(qint64(1) << column.bit));
        }
        execute(handle,
                QStringLiteral("DELETE FROM %1 WHERE done & %2 = %2").arg(quoted(staleTable(table))).arg(every));
        execute(handle, QStringLiteral("COMMIT"));
    } catch (const Error &) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

} // namespace

void updateSortKeys(Connection &connection, const QString &table)
{
    sqlite3 *handle = engine::nativeHandle(connection.database());
    if (!refreshStale(handle, table, keyColumns(handle, table), nullptr))
        throw Error(QStringLiteral("The sort keys of %1 cannot be written now.").arg(table));
}

bool orderByStoredKeys(Connection &connection, const QString &table, const QString &column, bool descending,
                       const std::vector<qint64> &keys, std::vector<int> *order)
{
    try {
        sqlite3 *handle = engine::nativeHandle(connection.database());
        const std::vector<KeyColumn> columns = keyColumns(handle, table);
        const auto found = std::find_if(columns.begin(), columns.end(), [&](const KeyColumn &c) {
            return c.name.compare(column, Qt::CaseInsensitive) == 0;
        });
        if (found == columns.end() || !refreshStale(handle, table, columns, &*found))
            return false;
        const engine::ReadTransaction transaction(handle);
        const size_t n = keys.size();
        Labels labels;
        // A short list of a long table reads only the chunks its rows are in.
        const qint64 chunks = singleInteger(
            handle,
            QStringLiteral("SELECT count(*) FROM %1 WHERE bit=%2").arg(quoted(orderTable(table))).arg(found->bit));
        labels.load(handle, table, found->bit, qint64(n) * 16 < chunks * kChunkRows ? &keys : nullptr);
        // (label, position): sorted by label, equal labels keep the list's order.
        std::vector<quint64> packed(n);
        for (size_t i = 0; i < n; ++i)
            packed[i] = (quint64(labels.at(keys[i])) << 32) | quint64(i);
        sortByUpperHalf(packed);
        order->resize(n);
        if (!descending) {
            for (size_t i = 0; i < n; ++i)
                (*order)[i] = int(packed[i] & 0xFFFFFFFFu);
            return true;
        }
        // Descending reverses the groups of equal values, not the order within them.
        size_t out = 0;
        for (size_t end = n; end > 0;) {
            size_t begin = end - 1;
            while (begin > 0 && (packed[begin - 1] >> 32) == (packed[end - 1] >> 32))
                --begin;
            for (size_t i = begin; i < end; ++i)
                (*order)[out++] = int(packed[i] & 0xFFFFFFFFu);
            end = begin;
        }
        return true;
    } catch (const Error &) {
        return false;
    }
}

} // namespace lianbu::db
