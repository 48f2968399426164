// The row reader over a dataset, as export and printing read a list: the shown order (sorted,
// keyset or read completely), batches, the current row left alone, staleness, and the footer
// texts computed over a reader.
#include "db/Connection.h"
#include "db/ListRows.h"
#include "db/Query.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestDatabase.h"

#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::db;

namespace {

// Every row the reader hands over, "b|c" with <null> for a null value.
QStringList readAll(const RowReader &rows, int b, int c, int from = 0, int to = -1)
{
    QStringList out;
    int expected = from;
    rows.readRows(from, to < 0 ? rows.rowCount() : to, [&](int row, const RowCells &cells) {
        if (row != expected++)
            out << QStringLiteral("row %1 out of turn").arg(row);
        auto text = [&](int i) { return cells.isNull(i) ? QStringLiteral("<null>") : cells.text(i).toString(); };
        out << text(b) + QLatin1Char('|') + text(c);
    });
    return out;
}

QStringList shownRows(const DataSet &dataSet, int b, int c)
{
    QStringList out;
    for (int row = 0; row < dataSet.recordCount(); ++row) {
        auto text = [&](int i) {
            return dataSet.cellIsNull(row, i) ? QStringLiteral("<null>") : dataSet.cellText(row, i);
        };
        out << text(b) + QLatin1Char('|') + text(c);
    }
    return out;
}

} // namespace

class TestListRows : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TestDatabase> m_db;
    std::unique_ptr<Connection> m_connection;

    void fill(int count)
    {
        QSqlQuery insert(m_connection->database());
        QVERIFY(insert.exec(QStringLiteral("begin")));
        // b repeats (a stable sort keeps the reading order among equals), c is null every fifth row
        const QStringList names{"张三", "李四", "abc", "王五", "", "Zed", "10", "9"};
        for (int n = 0; n < count; ++n)
            QVERIFY(insert.exec(QStringLiteral("insert into data (a, b, c) values ('cat', '%1', %2)")
                                    .arg(names.at(n % names.size()))
                                    .arg(n % 5 == 0 ? QStringLiteral("null") : QString::number(n))));
        QVERIFY(insert.exec(QStringLiteral("commit")));
    }

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void init()
    {
        m_db = std::make_unique<test::TestDatabase>(false);
        m_connection = std::make_unique<Connection>(m_db->path());
        m_connection->open();
    }
    void cleanup()
    {
        m_connection.reset();
        m_db.reset();
    }

    void readsASortedListInTheShownOrderWithoutMovingIt()
    {
        fill(9000); // more rows than one batch of a keyed read
        for (const QString &sql : {QStringLiteral("select * from data"),
                                   QStringLiteral("select b, c, count(*) as n from data group by rid, b, c")}) {
            Query query(m_connection.get());
            query.setSql(sql);
            query.open();
            const int b = query.fieldByName("b").index();
            const int c = query.fieldByName("c").index();
            for (const QString &sort : {QStringLiteral("b"), QStringLiteral("c DESC"), QString()}) {
                query.setSort(sort);
                query.setRecNo(4321);
                const QString currentB = query.fieldByName("b").asString();
                const DataSetRows rows(query);
                QCOMPARE(rows.rowCount(), 9000);
                const QStringList expected = shownRows(query, b, c);
                QCOMPARE(readAll(rows, b, c), expected);
                // a range from the middle, across a batch boundary
                QCOMPARE(readAll(rows, b, c, 4000, 8200), expected.mid(4000, 4200));
                // ranges past the ends are cut to the list
                QCOMPARE(readAll(rows, b, c, 8998, 12000), expected.mid(8998));
                QCOMPARE(query.recNo(), 4321);
                QCOMPARE(rows.currentRow(), 4320);
                QCOMPARE(query.fieldByName("b").asString(), currentB);
                QCOMPARE(query.sort(), sort);
                QVERIFY(!rows.stale());
            }
        }
    }

    void aReaderKnowsWhenTheListChangedUnderIt()
    {
        fill(20);
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        const DataSetRows rows(query);
        query.setRecNo(5); // moving is no change of the list
        QVERIFY(!rows.stale());
        query.setSort(QStringLiteral("b"));
        QVERIFY(rows.stale());
        const DataSetRows sorted(query);
        QVERIFY(!sorted.stale());
        query.deleteRecord();
        QVERIFY(sorted.stale());
        const DataSetRows shorter(query);
        query.close();
        QVERIFY(shorter.stale());
        QCOMPARE(shorter.rowCount(), 0);
        QCOMPARE(shorter.currentRow(), -1);
        QCOMPARE(readAll(shorter, 0, 1), QStringList());
    }

    void footerTextsOverAReader()
    {
        QSqlQuery insert(m_connection->database());
        for (const char *values : {"'a','10'", "'b',' 2.5 '", "'c',null", "'d','x'", "'e',''", "'f','-3'"})
            QVERIFY(insert.exec(
                QStringLiteral("insert into data (a, b, c) values ('cat', %1)").arg(QLatin1String(values))));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select b, c from data"));
        query.open();
        query.setRecNo(2);
        const DataSetRows rows(query);
        ListColumn column;
        column.valueIndex = 1;
        auto text = [&](FooterKind kind, int valueIndex = -1) {
            return footerText(ListFooter{kind, QStringLiteral("总计"), valueIndex}, column, rows);
        };
        QCOMPARE(text(FooterKind::None), QString());
        QCOMPARE(text(FooterKind::Text), QStringLiteral("总计"));
        QCOMPARE(text(FooterKind::Count), QStringLiteral("6"));
        // Values that are no numbers (text, blank, null) neither add nor count.
        QCOMPARE(text(FooterKind::Sum), QStringLiteral("9.5"));
        QCOMPARE(text(FooterKind::Average), QString::number(9.5 / 3, 'g', 15));
        QCOMPARE(text(FooterKind::CurrentValue), QStringLiteral(" 2.5 "));
        QCOMPARE(text(FooterKind::CurrentValue, 0), QStringLiteral("b"));
        // Sums that are whole numbers show no decimal point.
        query.setRecNo(1);
        query.edit();
        query.fieldByName("c").setAsString(QStringLiteral("10.5"));
        query.post();
        QCOMPARE(text(FooterKind::Sum), QStringLiteral("10"));
        QCOMPARE(text(FooterKind::Average, 0), QString()); // no value of b is a number
        column.valueIndex = -1;
        QCOMPARE(text(FooterKind::Sum), QString());
        QCOMPARE(query.recNo(), 1);
    }
};

QTEST_MAIN(TestListRows)
#include "test_list_rows.moc"
