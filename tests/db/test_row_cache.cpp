// The keyset's row cache on its own (which keys a batch around a row reads, the bound on what it
// holds), and the generic list model over a dataset: typed values, a row another connection
// deleted, and the rows reader it hands out.
#include "db/Connection.h"
#include "db/DataSetModel.h"
#include "db/ListRoles.h"
#include "db/Query.h"
#include "db/RowCache.h"
#include "tests/support/TestDatabase.h"

#include <QAbstractItemModelTester>
#include <QSqlQuery>
#include <QtTest>

#include <numeric>

using namespace lianbu;
using namespace lianbu::db;

namespace {

std::vector<qint64> keyRange(qint64 first, int count)
{
    std::vector<qint64> keys(static_cast<size_t>(count));
    std::iota(keys.begin(), keys.end(), first);
    return keys;
}

void storeAll(RowCache &cache, const std::vector<qint64> &keys)
{
    for (qint64 key : keys)
        cache.store(key, QString::number(key));
}

} // namespace

class TestRowCache : public QObject
{
    Q_OBJECT

private slots:
    void batchesAroundTheRowAskedFor()
    {
        RowCache cache(2, 5, 100);
        const std::vector<qint64> keys = keyRange(101, 20); // rows 0..19 hold keys 101..120
        // a little behind, more ahead, clipped at both ends
        QCOMPARE(cache.missingAround(keys, 10), (std::vector<qint64>{109, 110, 111, 112, 113, 114, 115}));
        QCOMPARE(cache.missingAround(keys, 0), (std::vector<qint64>{101, 102, 103, 104, 105}));
        QCOMPARE(cache.missingAround(keys, 19), (std::vector<qint64>{118, 119, 120}));
        QVERIFY(cache.missingAround(keys, 20).empty());
        QVERIFY(cache.missingAround(keys, -1).empty());
        // a shorter look ahead (a list just opened), never a longer one
        QCOMPARE(cache.missingAround(keys, 0, 3), (std::vector<qint64>{101, 102, 103}));
        QCOMPARE(cache.missingAround(keys, 10, 2), (std::vector<qint64>{109, 110, 111, 112}));
        QCOMPARE(cache.missingAround(keys, 0, 50), (std::vector<qint64>{101, 102, 103, 104, 105}));

        // what is held is not asked for again; rows not in the table (key 0) never are
        storeAll(cache, {109, 110, 111});
        QCOMPARE(cache.missingAround(keys, 10), (std::vector<qint64>{112, 113, 114, 115}));
        std::vector<qint64> withNew = keys;
        withNew[12] = 0;
        QCOMPARE(cache.missingAround(withNew, 10), (std::vector<qint64>{112, 114, 115}));
        QVERIFY(cache.find(110));
        QCOMPARE(*cache.find(110), QStringLiteral("110"));
        QVERIFY(!cache.find(112));

        // a row written is read again the next time it shows
        cache.forget(110);
        QCOMPARE(cache.missingAround(keys, 10).front(), qint64(110));

        // the order of the list, not of the keys, decides what is around a row
        const std::vector<qint64> reversed(keys.rbegin(), keys.rend());
        QCOMPARE(RowCache(1, 2, 100).missingAround(reversed, 5), (std::vector<qint64>{116, 115, 114}));
    }

    void neverHoldsMoreThanItsBound()
    {
        RowCache cache(10, 40, 120);
        const std::vector<qint64> keys = keyRange(1, 10000);
        int largest = 0;
        // front to back, back to front and jumping: far more rows than the bound
        for (int row : {0, 45, 90, 135, 180, 9999, 9950, 5000, 5001, 20, 7000}) {
            const std::vector<qint64> wanted = cache.missingAround(keys, row);
            storeAll(cache, wanted);
            largest = std::max(largest, cache.size());
            QVERIFY2(cache.size() <= cache.capacity(), qPrintable(QString::number(cache.size())));
            // the row asked for is always there after its batch
            QVERIFY(cache.find(keys[size_t(row)]));
        }
        QVERIFY(largest > 50); // it did keep rows between batches
        cache.clear();
        QCOMPARE(cache.size(), 0);
    }

    void modelOverADataSet()
    {
        test::TestDatabase db;
        Connection connection(db.path());
        connection.open();
        {
            QSqlQuery q(connection.database());
            QVERIFY(
                q.exec(QStringLiteral("create table t (id integer primary key, n integer, x real, s varchar(12))")));
            QVERIFY(q.exec(
                QStringLiteral("insert into t (n, x, s) values (7, 1.5, '甲'), (null, null, null), (-3, 2, '丙')")));
        }
        Query query(&connection);
        query.setSql(QStringLiteral("select n, x, s from t"));
        DataSetModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDataSet(&query);
        QCOMPARE(model.rowCount(), 0);
        query.open();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 3);

        // typed values for numbers, nothing for null; numbers to the right
        QCOMPARE(model.index(0, 0).data(Qt::EditRole).typeId(), QMetaType::LongLong);
        QCOMPARE(model.index(0, 0).data(Qt::EditRole).toLongLong(), 7);
        QCOMPARE(model.index(0, 1).data(Qt::EditRole).toDouble(), 1.5);
        QCOMPARE(model.index(0, 2).data(Qt::EditRole).toString(), QStringLiteral("甲"));
        QVERIFY(!model.index(1, 0).data(Qt::EditRole).isValid());
        QCOMPARE(model.index(1, 0).data().toString(), QString());
        QVERIFY(model.index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
        QVERIFY(model.index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);
        QCOMPARE(model.headerData(2, Qt::Horizontal, ListRole::FieldWidth).toInt(), 12);
        QCOMPARE(model.headerData(0, Qt::Horizontal, ListRole::FieldType).toInt(), int(Field::DataType::Integer));
        QCOMPARE(model.columnOfField(QStringLiteral("S")), 2);
        QCOMPARE(model.columnOfField(QStringLiteral("nosuch")), -1);
        const qint64 third = model.index(2, 0).data(ListRole::Key).toLongLong();
        QVERIFY(third > 0);
        QCOMPARE(model.rowOfKey(third), 2);

        // a numeric sort, nulls first ascending; the reader hands out the sorted rows
        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(model.index(0, 0).data().toString(), QString());
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("-3"));
        const std::unique_ptr<RowReader> rows = model.rowReader(1);
        QVERIFY(rows);
        QCOMPARE(rows->currentRow(), 1);
        QStringList read;
        rows->readRows(0, rows->rowCount(), [&](int, const RowCells &cells) { read << cells.text(2).toString(); });
        QCOMPARE(read, QStringList({QString(), QStringLiteral("丙"), QStringLiteral("甲")}));

        // a row another connection deleted before it was read shows empty, and stays a row
        Connection other(db.path());
        other.open();
        const qint64 first = model.keyAt(2); // 甲
        QCOMPARE(other.execute(QStringLiteral("delete from t where s = '丙'")), 1);
        query.close();
        query.openKeys({first, third});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("甲"));
        QCOMPARE(model.index(1, 2).data().toString(), QString());
        QVERIFY(!model.index(1, 0).data(Qt::EditRole).isValid());
        QCOMPARE(model.keyAt(1), third);

        model.setDataSet(nullptr);
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.rowReader(-1));
    }
};

QTEST_MAIN(TestRowCache)
#include "test_row_cache.moc"
