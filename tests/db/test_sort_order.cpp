// The stored sort order of data (db/SortKeys): labels placed for rows written since, spread out
// again when two labels leave no room, made from an older register's keys in one transaction,
// and kept truthful by writers with conflict clauses of their own.
#include "data/SearchIndex.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "db/SortKeys.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::db;

namespace {

QStringList columnOf(DataSet &dataSet, const char *name)
{
    QStringList values;
    const int f = dataSet.fieldByName(QLatin1String(name)).index();
    for (int r = 0; r < dataSet.recordCount(); ++r)
        values << (dataSet.cellIsNull(r, f) ? QStringLiteral("<null>") : dataSet.cellText(r, f));
    return values;
}

// The order of the stored labels (a keyset of data) against the same rows collated in memory (a
// statement read completely), for each sort.
void compareSorts(Connection &connection, const QStringList &sorts)
{
    Query keyset(&connection);
    keyset.setSql(QStringLiteral("select * from data"));
    keyset.open();
    Query complete(&connection);
    complete.setSql(QStringLiteral("select * from data group by rid order by rid"));
    complete.open();
    for (const QString &sort : sorts) {
        keyset.setSort(sort);
        complete.setSort(sort);
        QCOMPARE(columnOf(keyset, "b") + columnOf(keyset, "c") + columnOf(keyset, "d"),
                 columnOf(complete, "b") + columnOf(complete, "c") + columnOf(complete, "d"));
    }
}

QString one(Connection &connection, const QString &sql)
{
    QSqlQuery query(connection.database());
    if (!query.exec(sql) || !query.next())
        return QStringLiteral("<%1>").arg(query.lastError().text());
    return query.value(0).toString();
}

void run(Connection &connection, const QString &sql)
{
    QSqlQuery query(connection.database());
    QVERIFY2(query.exec(sql), qPrintable(sql + QLatin1String(": ") + query.lastError().text()));
}

QVariant randomText(QRandomGenerator &random)
{
    static const QString alphabet = QStringLiteral("张章李王汪阿啊中重长AaBbZz019-_ .,（）");
    if (random.bounded(8) == 0)
        return QVariant(QMetaType::fromType<QString>());
    QString text;
    for (int i = int(random.bounded(4)); i >= 0; --i)
        text += alphabet.at(int(random.bounded(alphabet.size())));
    return text;
}

void insertRandom(Connection &connection, QRandomGenerator &random, int count)
{
    QSqlQuery insert(connection.database());
    insert.prepare(QStringLiteral("insert into data (b, c, d) values (?, ?, ?)"));
    for (int n = 0; n < count; ++n) {
        insert.addBindValue(randomText(random));
        insert.addBindValue(randomText(random));
        insert.addBindValue(randomText(random));
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
    }
}

// The former layout: one key per row and column (b and c only), an index per column, triggers
// that mark a written row's keys stale.
QStringList formerKeyStatements()
{
    return {
        QStringLiteral("CREATE TABLE data_sortkeys (rid INTEGER PRIMARY KEY, fresh INTEGER NOT NULL DEFAULT 0, "
                       "\"b\" BLOB, \"c\" BLOB)"),
        QStringLiteral("CREATE INDEX data_sortkeys_b ON data_sortkeys (\"b\")"),
        QStringLiteral("CREATE INDEX data_sortkeys_c ON data_sortkeys (\"c\")"),
        QStringLiteral("CREATE INDEX data_sortkeys_stale ON data_sortkeys (rid) WHERE fresh=0"),
        QStringLiteral("CREATE TRIGGER data_sortkeys_insert AFTER INSERT ON data BEGIN "
                       "INSERT OR REPLACE INTO data_sortkeys (rid, fresh) VALUES (new.rowid, 0); END"),
        QStringLiteral("CREATE TRIGGER data_sortkeys_update AFTER UPDATE OF b, c ON data BEGIN "
                       "INSERT OR REPLACE INTO data_sortkeys (rid, fresh) VALUES (new.rowid, 0); END"),
        QStringLiteral("CREATE TRIGGER data_sortkeys_delete AFTER DELETE ON data BEGIN "
                       "DELETE FROM data_sortkeys WHERE rid=old.rowid; END"),
    };
}

QStringList dropOrderStatements()
{
    return {QStringLiteral("DROP TRIGGER data_sortorder_insert"), QStringLiteral("DROP TRIGGER data_sortorder_update"),
            QStringLiteral("DROP TRIGGER data_sortorder_delete"), QStringLiteral("DROP TABLE data_sortorder"),
            QStringLiteral("DROP TABLE data_sortorder_columns"),  QStringLiteral("DROP TABLE data_sortorder_stale")};
}

} // namespace

class TestSortOrder : public QObject
{
    Q_OBJECT

private slots:
    void newValuesArePlacedBetweenTheLabelsAndSpreadOutWhenNoRoomIsLeft()
    {
        test::TestDatabase db(false);
        Connection connection(db.path());
        connection.open();
        QRandomGenerator random(23);
        insertRandom(connection, random, 300);
        compareSorts(connection, {QStringLiteral("b"), QStringLiteral("c DESC"), QStringLiteral("d")});
        // Row 1's label of b (bytes 5 to 8 of chunk 0) moves only when labels are spread out.
        const QString labelOfFirst = QStringLiteral("select hex(substr(labels, 5, 4)) from data_sortorder "
                                                    "where bit=1 and chunk=0");
        const QString first = one(connection, labelOfFirst);
        bool spread = false;
        // Each value sorts just before the one of the round before: the room between two labels
        // halves every round until none is left.
        for (int round = 1; round <= 40; ++round) {
            const QString value = QLatin1Char('a') + QString(round, QLatin1Char('0')) + QLatin1Char('1');
            run(connection, QStringLiteral("insert into data (b, c) values ('%1', '%2')").arg(value).arg(round));
            if (round % 5 == 0) {
                // Several values in one gap at once, one equal to a value already there, an edit and
                // a deletion.
                run(connection,
                    QStringLiteral("insert into data (b) values ('%1x'), ('%1y'), ('%1z'), ('张')").arg(value));
                run(connection, QStringLiteral("update data set b=c, c=b where rid=%1").arg(round * 7));
                run(connection, QStringLiteral("delete from data where rid=%1").arg(round * 3));
            }
            compareSorts(connection, {QStringLiteral("b"), QStringLiteral("b DESC")});
            if (QTest::currentTestFailed())
                return;
            spread = spread || one(connection, labelOfFirst) != first;
        }
        QVERIFY(spread);
        compareSorts(connection, {QStringLiteral("c"), QStringLiteral("d DESC")});
        // Every sorted column is up to date; the rows stay listed for the columns not sorted yet.
        QCOMPARE(one(connection, QStringLiteral("select count(*) from data_sortorder_stale where done & 14 <> 14")),
                 QStringLiteral("0"));
        updateSortKeys(connection, QStringLiteral("data"));
        QCOMPARE(one(connection, QStringLiteral("select count(*) from data_sortorder_stale")), QStringLiteral("0"));
    }

    void anOlderRegistersKeysBecomeTheOrderInOneTransaction()
    {
        test::TestDatabase db(false);
        Connection connection(db.path());
        connection.open();
        for (const QString &statement : dropOrderStatements() + formerKeyStatements())
            run(connection, statement);
        QRandomGenerator random(5);
        run(connection, QStringLiteral("begin"));
        insertRandom(connection, random, 600);
        run(connection, QStringLiteral("commit"));
        // The former keys as the former program stored them, except: rows it had not caught up
        // with hold another row's keys (fresh=0), and one row has no key row at all.
        {
            QSqlQuery rows(connection.database());
            QVERIFY(rows.exec(QStringLiteral("select rid, b, c from data")));
            QSqlQuery write(connection.database());
            write.prepare(QStringLiteral("update data_sortkeys set fresh=?, b=?, c=? where rid=?"));
            while (rows.next()) {
                const qint64 rid = rows.value(0).toLongLong();
                const bool stale = rid % 9 == 0;
                auto key = [&](int column) {
                    const QVariant value = stale ? QVariant(QStringLiteral("张")) : rows.value(column);
                    return value.isNull() ? QVariant(QMetaType::fromType<QByteArray>())
                                          : QVariant(collationKey(value.toString()));
                };
                write.addBindValue(stale ? 0 : 1);
                write.addBindValue(key(1));
                write.addBindValue(key(2));
                write.addBindValue(rid);
                QVERIFY2(write.exec(), qPrintable(write.lastError().text()));
            }
        }
        run(connection, QStringLiteral("delete from data_sortkeys where rid=10"));
        QVERIFY(!hasSortKeys(connection, QStringLiteral("data")));

        // Stopped half-way (the progress window's owner throws), the register is as it was.
        QVERIFY_THROWS_EXCEPTION(
            Error, createSortKeys(connection, QStringLiteral("data"), sortKeyColumns(), [](qint64 done, qint64 total) {
                if (done * 2 > total)
                    throw Error(QStringLiteral("stopped"));
            }));
        QCOMPARE(
            one(connection, QStringLiteral("select count(*) from sqlite_master where name like 'data_sortorder%'")),
            QStringLiteral("0"));
        QCOMPARE(one(connection, QStringLiteral("select count(*) from data_sortkeys")), QStringLiteral("599"));

        qint64 reached = -1;
        bool forward = true;
        createSortKeys(connection, QStringLiteral("data"), sortKeyColumns(), [&](qint64 done, qint64 total) {
            forward = forward && done >= reached && done <= total;
            reached = done == total ? -2 : done;
        });
        QVERIFY(forward);
        QCOMPARE(reached, qint64(-2)); // ended at the whole
        QVERIFY(hasSortKeys(connection, QStringLiteral("data")));
        // The former table, its indexes and triggers are gone.
        QCOMPARE(one(connection, QStringLiteral("select count(*) from sqlite_master where name like 'data_sortkeys%'")),
                 QStringLiteral("0"));
        // b and c from the former keys (the rows it had not caught up with made again), d collated.
        compareSorts(connection,
                     {QStringLiteral("b"), QStringLiteral("c DESC"), QStringLiteral("d"), QStringLiteral("b DESC")});
        run(connection, QStringLiteral("insert into data (b, c, d) values ('阿', '0', 'z')"));
        run(connection, QStringLiteral("update data set b='啊' where rid=20"));
        compareSorts(connection, {QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d DESC")});
    }

    void writersWithConflictClausesOfTheirOwnStillMarkTheirRows()
    {
        test::TestDatabase db(false);
        Connection connection(db.path());
        connection.open();
        QRandomGenerator random(41);
        insertRandom(connection, random, 120);
        // b and c sorted: the rows stay listed, with b and c done, for the other columns.
        compareSorts(connection, {QStringLiteral("b"), QStringLiteral("c")});
        QVERIFY(one(connection, QStringLiteral("select count(*) from data_sortorder_stale where done=6")).toInt()
                > 100);
        // A row already listed is marked again by writers whose conflict clause would otherwise
        // turn the trigger's own into theirs.
        run(connection, QStringLiteral("update or ignore data set b='0000' where rid=50"));
        run(connection, QStringLiteral("update or replace data set c='ZZZ', b='zzz' where rid=51"));
        run(connection, QStringLiteral("insert or replace into data (rid, b) values (52, '00')"));
        run(connection, QStringLiteral("insert or ignore into data (rid, b) values (53, '000'), (500, '阿')"));
        compareSorts(connection, {QStringLiteral("b"), QStringLiteral("c DESC"), QStringLiteral("b DESC")});
        // A short list of a long table: '00' before '0000' (shorter first), Latin before Chinese.
        const std::vector<qint64> keys{50, 51, 52, 500};
        std::vector<int> order;
        QVERIFY(orderByStoredKeys(connection, QStringLiteral("data"), QStringLiteral("B"), false, keys, &order));
        QCOMPARE(order, (std::vector<int>{2, 0, 1, 3}));
    }
};

QTEST_GUILESS_MAIN(TestSortOrder)
#include "test_sort_order.moc"
