// The dataset layer against real SQLite files: snapshot, navigation, editing, sort, bookmarks,
// data source notifications.
#include "db/Connection.h"
#include "db/DataSource.h"
#include "db/Query.h"
#include "db/SortKeys.h"
#include "db/Table.h"
#include "platform/Error.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestDatabase.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::db;

namespace {

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &error) {
        return error.message();
    }
    return QString();
}

// Rows of data through a plain query, "b|c" per row in rowid order.
QStringList dataRows(Connection &connection, const QString &columns = QStringLiteral("b, c"))
{
    QStringList rows;
    QSqlQuery query(connection.database());
    query.exec(QStringLiteral("select %1 from data order by rid").arg(columns));
    while (query.next()) {
        QStringList cells;
        for (int i = 0; i < query.record().count(); ++i)
            cells << (query.value(i).isNull() ? QStringLiteral("<null>") : query.value(i).toString());
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

void insertData(Connection &connection, const QString &b, const QString &c = QString())
{
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("insert into data (a, b, c) values ('cat', ?, ?)"));
    query.addBindValue(b.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(b));
    query.addBindValue(c.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(c));
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

QStringList columnOf(DataSet &dataSet, const QString &name)
{
    QStringList values;
    const int f = dataSet.fieldByName(name).index();
    for (int r = 0; r < dataSet.recordCount(); ++r)
        values << (dataSet.cellIsNull(r, f) ? QStringLiteral("<null>") : dataSet.cellText(r, f));
    return values;
}

} // namespace

class TestDbDataSet : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TestDatabase> m_db;
    std::unique_ptr<Connection> m_connection;

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

    void selectStarFromDataShowsExactlyTheProgramColumns()
    {
        insertData(*m_connection, QStringLiteral("b1"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        QStringList names;
        for (int i = 0; i < query.fieldCount(); ++i)
            names << query.field(i).fieldName();
        QCOMPARE(names, QStringList({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "z", "day1"}));
        QVERIFY(query.canModify());
        QCOMPARE(query.fieldByName("a").size(), 50);
        QCOMPARE(query.fieldByName("A").fieldName(), QStringLiteral("a")); // names ignore case
        QCOMPARE(query.fieldByName("b").dataType(), Field::DataType::String);
        QCOMPARE(query.fieldByName("b").displayLabel(), QStringLiteral("b"));
        QVERIFY(query.fieldByName("b").visible());
        // The search statements are updatable too, also when a value holds SQL words.
        query.close();
        query.setSql(QStringLiteral("select * from data where b<>'' and a like '%x group by y, z from q%'"));
        query.open();
        QCOMPARE(query.fieldCount(), 15);
        QVERIFY(query.canModify());
    }

    void statementsThatAreNotOneTableAreReadOnly()
    {
        insertData(*m_connection, QStringLiteral("x"));
        insertData(*m_connection, QStringLiteral("x"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select b, count(*) as n from data group by b"));
        query.open();
        QVERIFY(!query.canModify());
        QCOMPARE(query.recordCount(), 1);
        QCOMPARE(query.fieldByName("n").asInteger(), 2);
        QCOMPARE(query.fieldByName("n").dataType(), Field::DataType::Integer);
        QCOMPARE(errorOf([&] { query.edit(); }), QStringLiteral("Cannot modify a read-only dataset"));
        query.setSql(QStringLiteral("select max(rid) as maxid from data"));
        query.open();
        QVERIFY(!query.canModify());
        QCOMPARE(query.fieldByName("maxid").asInteger(), 2);
    }

    void navigationAndCounts()
    {
        for (const char *b : {"r1", "r2", "r3"})
            insertData(*m_connection, QString::fromLatin1(b));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data "));
        query.open();
        QCOMPARE(query.state(), DataSetState::Browse);
        QCOMPARE(query.recordCount(), 3);
        QVERIFY(query.bof());
        QVERIFY(!query.eof());
        QCOMPARE(query.recNo(), 1);
        query.next();
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r2"));
        QVERIFY(!query.bof());
        query.next();
        QVERIFY(!query.eof()); // on the last row, not past it
        query.next();
        QVERIFY(query.eof());
        QCOMPARE(query.recNo(), 3);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r3"));
        query.prior();
        query.prior();
        query.prior();
        QVERIFY(query.bof());
        QCOMPARE(query.recNo(), 1);
        query.last();
        QVERIFY(query.eof());
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r3"));
        query.first();
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r1"));
        query.setRecNo(2);
        QCOMPARE(query.currentRow(), 1);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r2"));
        QCOMPARE(errorOf([&] { query.fieldByName("nope"); }), QStringLiteral("Field 'nope' not found"));

        query.setSql(QStringLiteral("select * from data where b='none'"));
        query.open();
        QCOMPARE(query.recordCount(), 0);
        QVERIFY(query.eof() && query.bof());
        QCOMPARE(query.recNo(), 0);
        QCOMPARE(query.fieldByName("b").asString(), QString());
        query.next();
        QVERIFY(query.eof());
        query.close();
        QVERIFY(!query.active());
        QCOMPARE(errorOf([&] { query.first(); }), QStringLiteral("Cannot perform this operation on a closed dataset"));
    }

    void nullReadsAsEmptyText()
    {
        insertData(*m_connection, QStringLiteral("b"), QString());
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        QVERIFY(query.fieldByName("c").isNull());
        QCOMPARE(query.fieldByName("c").asString(), QString());
        QVERIFY(!query.fieldByName("b").isNull());
    }

    void editPostWritesExactlyTheCurrentRow()
    {
        // Three identical rows: only the hidden key tells them apart.
        for (int i = 0; i < 3; ++i)
            insertData(*m_connection, QStringLiteral("same"), QStringLiteral("same"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data "));
        query.open();
        query.setRecNo(2);
        query.edit();
        QCOMPARE(query.state(), DataSetState::Edit);
        query.fieldByName("b").setAsString(QStringLiteral("O'Neil \"张三\""));
        query.fieldByName("c").setAsString(QString());
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("O'Neil \"张三\""));
        query.post();
        QCOMPARE(query.state(), DataSetState::Browse);
        QCOMPARE(dataRows(*m_connection), QStringList({"same|same", "O'Neil \"张三\"|", "same|same"}));
        QCOMPARE(query.cellText(1, query.fieldByName("b").index()), QStringLiteral("O'Neil \"张三\""));
        QVERIFY(!query.fieldByName("c").isNull()); // empty text is written as empty text, not null
        // The change is committed: another connection sees it at once.
        Connection other(m_db->path());
        other.open();
        QCOMPARE(dataRows(other)[1], QStringLiteral("O'Neil \"张三\"|"));
    }

    void deleteRemovesExactlyTheCurrentRow()
    {
        for (const char *c : {"1", "2", "3"})
            insertData(*m_connection, QStringLiteral("same"), QString::fromLatin1(c));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data "));
        query.open();
        query.setRecNo(2);
        query.deleteRecord();
        QCOMPARE(dataRows(*m_connection), QStringList({"same|1", "same|3"}));
        QCOMPARE(query.recordCount(), 2);
        QCOMPARE(query.fieldByName("c").asString(), QStringLiteral("3")); // the next row moves up
        query.deleteRecord();
        QCOMPARE(query.fieldByName("c").asString(), QStringLiteral("1")); // the last went: previous
        query.deleteRecord();
        QCOMPARE(query.recordCount(), 0);
        QCOMPARE(dataRows(*m_connection), QStringList());
        QCOMPARE(errorOf([&] { query.deleteRecord(); }),
                 QStringLiteral("Cannot perform this operation on an empty dataset"));
        QCOMPARE(errorOf([&] { query.edit(); }), QStringLiteral("Cannot perform this operation on an empty dataset"));
        QCOMPARE(query.state(), DataSetState::Browse);
    }

    void textIsCutToTheDeclaredWidth()
    {
        Table table(m_connection.get());
        table.setTableName(QStringLiteral("data"));
        table.open();
        table.append();
        const QString sixty = QString(60, QChar(u'字'));
        table.fieldByName("a").setAsString(sixty);
        table.fieldByName("d").setAsString(QStringLiteral("0123456789ABC"));
        table.fieldByName("z").setAsString(QStringLiteral("short"));
        QCOMPARE(table.fieldByName("a").asString(), QString(50, QChar(u'字')));
        table.post();
        QCOMPARE(dataRows(*m_connection, QStringLiteral("a, d, z")),
                 QStringList({QString(50, QChar(u'字')) + QStringLiteral("|0123456789|short")}));
    }

    void tableAppendPostAndCancel()
    {
        insertData(*m_connection, QStringLiteral("old"));
        Table table(m_connection.get());
        table.setTableName(QStringLiteral("data"));
        table.open();
        QCOMPARE(table.fieldCount(), 15);
        table.append();
        QCOMPARE(table.state(), DataSetState::Insert);
        QCOMPARE(table.recordCount(), 2);
        table.fieldByName("b").setAsString(QStringLiteral("new"));
        table.fieldByName("day1").setAsString(QStringLiteral("2010-08-15"));
        table.post();
        QCOMPARE(table.state(), DataSetState::Browse);
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b, day1")), QStringList({"old|<null>", "new|2010-08-15"}));
        QCOMPARE(table.fieldByName("day1").asString(), QStringLiteral("2010-08-15"));

        // A posted new row can be edited again: it knows its key.
        table.edit();
        table.fieldByName("b").setAsString(QStringLiteral("newer"));
        table.post();
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b")), QStringList({"old", "newer"}));

        table.append();
        table.fieldByName("b").setAsString(QStringLiteral("dropped"));
        table.cancel();
        QCOMPARE(table.recordCount(), 2);
        QCOMPARE(table.fieldByName("b").asString(), QStringLiteral("newer"));
        table.first();
        table.edit();
        table.fieldByName("b").setAsString(QStringLiteral("dropped"));
        table.cancel();
        QCOMPARE(table.fieldByName("b").asString(), QStringLiteral("old"));
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b")), QStringList({"old", "newer"}));
        QCOMPARE(errorOf([&] { table.fieldByName("b").setAsString("x"); }),
                 QStringLiteral("Dataset not in edit or insert mode"));
    }

    void movingPostsAPendingEdit()
    {
        insertData(*m_connection, QStringLiteral("one"));
        insertData(*m_connection, QStringLiteral("two"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        query.edit();
        query.fieldByName("b").setAsString(QStringLiteral("ONE"));
        query.next();
        QCOMPARE(query.state(), DataSetState::Browse);
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b")), QStringList({"ONE", "two"}));
    }

    void refusedPostAndDeleteLeaveTheDataSetUsable()
    {
        insertData(*m_connection, QStringLiteral("keep"), QStringLiteral("c"));
        if (m_db->isServer()) {
            m_connection->execute(QStringLiteral(
                "create function refuse() returns trigger language plpgsql as $$ begin "
                "if tg_op = 'UPDATE' and new.b = 'bad' then raise exception 'refused by the rules'; end if; "
                "if tg_op = 'INSERT' and new.b = 'bad' then raise exception 'no bad rows'; end if; "
                "if tg_op = 'DELETE' and old.b = 'keep' then raise exception 'keep stays'; end if; "
                "if tg_op = 'DELETE' then return old; end if; return new; end $$"));
            m_connection->execute(QStringLiteral("create trigger refuse before insert or update or delete on data for "
                                                 "each row execute function refuse()"));
        } else {
            m_connection->execute(QStringLiteral("create trigger refuse_update before update on data when new.b='bad' "
                                                 "begin select raise(abort, 'refused by the rules'); end"));
            m_connection->execute(QStringLiteral("create trigger refuse_insert before insert on data when new.b='bad' "
                                                 "begin select raise(abort, 'no bad rows'); end"));
            m_connection->execute(QStringLiteral("create trigger refuse_delete before delete on data when old.b='keep' "
                                                 "begin select raise(abort, 'keep stays'); end"));
        }
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();

        query.edit();
        query.fieldByName("b").setAsString(QStringLiteral("bad"));
        query.fieldByName("c").setAsString(QStringLiteral("changed"));
        QCOMPARE(errorOf([&] { query.post(); }), QStringLiteral("refused by the rules"));
        QCOMPARE(query.state(), DataSetState::Browse);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("keep"));
        QCOMPARE(query.fieldByName("c").asString(), QStringLiteral("c"));
        QCOMPARE(dataRows(*m_connection), QStringList({"keep|c"})); // nothing half-written

        query.append();
        query.fieldByName("b").setAsString(QStringLiteral("bad"));
        QCOMPARE(errorOf([&] { query.post(); }), QStringLiteral("no bad rows"));
        QCOMPARE(query.state(), DataSetState::Browse);
        QCOMPARE(query.recordCount(), 1);

        QCOMPARE(errorOf([&] { query.deleteRecord(); }), QStringLiteral("keep stays"));
        QCOMPARE(query.recordCount(), 1);

        // Still usable.
        query.edit();
        query.fieldByName("c").setAsString(QStringLiteral("fine"));
        query.post();
        query.append();
        query.fieldByName("b").setAsString(QStringLiteral("good"));
        query.post();
        QCOMPARE(dataRows(*m_connection), QStringList({"keep|fine", "good|<null>"}));
    }

    void failedOpenStaysClosed()
    {
        insertData(*m_connection, QStringLiteral("x"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        QCOMPARE(query.recordCount(), 1);
        query.setSql(QStringLiteral("select * from nothere"));
        QCOMPARE(errorOf([&] { query.open(); }), m_db->isServer()
                                                     ? QStringLiteral("relation \"nothere\" does not exist")
                                                     : QStringLiteral("no such table: nothere"));
        QVERIFY(!query.active());
        QCOMPARE(query.recordCount(), 0);
        QCOMPARE(query.fieldCount(), 0);
        query.setSql(QStringLiteral("selec * from data"));
        QVERIFY(errorOf([&] { query.open(); }).contains(QStringLiteral("syntax error")));
        QVERIFY(!query.active());
    }

    void executeRunsAndStaysClosed()
    {
        Query query(m_connection.get());
        query.setSql(QStringLiteral("insert into data (b) values ('e1'), ('e2')"));
        QCOMPARE(query.execute(), 2);
        QVERIFY(!query.active());
        query.setSql(QStringLiteral("insert into nothere values (1)"));
        QCOMPARE(errorOf([&] { query.execute(); }), m_db->isServer()
                                                        ? QStringLiteral("relation \"nothere\" does not exist")
                                                        : QStringLiteral("no such table: nothere"));
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b")), QStringList({"e1", "e2"}));
    }

    void sortTextChineseAndNulls()
    {
        // b values with a tag in c to check stability
        const QList<QPair<QString, QString>> rows = {
            {QStringLiteral("张三"), "1"},
            {QStringLiteral("李四"), "2"},
            {QStringLiteral("abc"), "3"},
            {QString(), "4"},
            {QStringLiteral("ABD"), "5"},
            {QStringLiteral("李四"), "6"},
            {QStringLiteral(""), "7"},
            {QStringLiteral("张三"), "8"},
            {QString(), "9"},
        };
        for (const auto &row : rows)
            insertData(*m_connection, row.first, row.second);
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        query.setRecNo(3); // "abc", tag 3
        query.setSort(QStringLiteral("b"));
        QCOMPARE(query.sort(), QStringLiteral("b"));
        QCOMPARE(columnOf(query, "c"), QStringList({"4", "9", "7", "3", "5", "2", "6", "1", "8"}));
        QCOMPARE(query.fieldByName("c").asString(), QStringLiteral("3")); // same record current
        query.setSort(QStringLiteral("b DESC"));
        QCOMPARE(columnOf(query, "c"), QStringList({"1", "8", "2", "6", "5", "3", "7", "4", "9"}));
        QCOMPARE(query.fieldByName("c").asString(), QStringLiteral("3"));
        QCOMPARE(errorOf([&] { query.setSort(QStringLiteral("nope")); }), QStringLiteral("Field 'nope' not found"));

        // Sorted rows still edit and delete the right records.
        query.first(); // 张三 tag 1
        query.edit();
        query.fieldByName("z").setAsString(QStringLiteral("first"));
        query.post();
        QCOMPARE(dataRows(*m_connection, QStringLiteral("c, z"))[0], QStringLiteral("1|first"));

        // The sort belongs to the open result.
        query.close();
        query.open();
        QCOMPARE(query.sort(), QString());
        QCOMPARE(columnOf(query, "c"), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
        query.setSort(QStringLiteral("b"));
        query.setSort(QString());
        QCOMPARE(columnOf(query, "c"), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
        query.close();
        QCOMPARE(errorOf([&] { query.setSort(QStringLiteral("b")); }),
                 QStringLiteral("Cannot perform this operation on a closed dataset"));
    }

    void sortNumbersByValue()
    {
        m_connection->execute(QStringLiteral("create table t (n INTEGER, s TEXT)"));
        m_connection->execute(QStringLiteral("insert into t values (10,'a'), (9,'b'), (null,'c'), (100,'d'), (9,'e')"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from t"));
        query.open();
        query.setSort(QStringLiteral("n"));
        QCOMPARE(columnOf(query, "s"), QStringList({"c", "b", "e", "a", "d"}));
        query.setSort(QStringLiteral("n  desc"));
        QCOMPARE(columnOf(query, "s"), QStringList({"d", "a", "b", "e", "c"}));
    }

    void bookmarks()
    {
        for (const char *b : {"c", "a", "b"})
            insertData(*m_connection, QString::fromLatin1(b));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        query.setRecNo(1);
        const Bookmark mark = query.bookmark();
        QVERIFY(query.bookmarkValid(mark));
        query.setSort(QStringLiteral("b"));
        query.first();
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("a"));
        query.gotoBookmark(mark);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("c"));
        QCOMPARE(query.recNo(), 3);
        query.deleteRecord();
        QVERIFY(!query.bookmarkValid(mark));
        QVERIFY(!errorOf([&] { query.gotoBookmark(mark); }).isEmpty());
        const Bookmark other = query.bookmark();
        query.close();
        query.open();
        QVERIFY(!query.bookmarkValid(other)); // bookmarks belong to one open result
    }

    void dataSourceNotifies()
    {
        insertData(*m_connection, QStringLiteral("one"));
        insertData(*m_connection, QStringLiteral("two"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        DataSource source;
        source.setDataSet(&query);
        QSignalSpy reset(&source, &DataSource::dataSetChanged);
        QSignalSpy record(&source, &DataSource::recordChanged);
        QSignalSpy current(&source, &DataSource::currentRowChanged);
        QSignalSpy state(&source, &DataSource::stateChanged);
        QSignalSpy aboutToInsert(&source, &DataSource::rowAboutToBeInserted);
        QSignalSpy inserted(&source, &DataSource::rowInserted);
        QSignalSpy aboutToRemove(&source, &DataSource::rowAboutToBeRemoved);
        QSignalSpy removed(&source, &DataSource::rowRemoved);

        query.open();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(state.takeLast().at(0).value<DataSetState>(), DataSetState::Browse);
        QCOMPARE(current.takeLast().at(0).toInt(), 0);
        query.next();
        QCOMPARE(current.takeLast().at(0).toInt(), 1);
        query.edit();
        QCOMPARE(state.takeLast().at(0).value<DataSetState>(), DataSetState::Edit);
        query.fieldByName("b").setAsString(QStringLiteral("TWO"));
        QCOMPARE(record.takeLast().at(0).toInt(), 1);
        query.post();
        QCOMPARE(record.takeLast().at(0).toInt(), 1);
        QCOMPARE(state.takeLast().at(0).value<DataSetState>(), DataSetState::Browse);

        query.append();
        QCOMPARE(aboutToInsert.takeLast().at(0).toInt(), 2);
        QCOMPARE(inserted.takeLast().at(0).toInt(), 2);
        QCOMPARE(current.takeLast().at(0).toInt(), 2);
        query.cancel();
        QCOMPARE(aboutToRemove.takeLast().at(0).toInt(), 2);
        QCOMPARE(removed.takeLast().at(0).toInt(), 2);
        QCOMPARE(query.currentRow(), 1); // back on the row current before append

        query.first();
        current.clear();
        query.deleteRecord();
        QCOMPARE(removed.takeLast().at(0).toInt(), 0);
        QCOMPARE(current.takeLast().at(0).toInt(), 0);

        query.setSort(QStringLiteral("b DESC"));
        QCOMPARE(reset.count(), 2);

        // Nothing while disabled, one reset when enabled again.
        reset.clear();
        record.clear();
        query.disableControls();
        query.disableControls();
        query.edit();
        query.fieldByName("b").setAsString(QStringLiteral("x"));
        query.post();
        query.enableControls();
        QCOMPARE(reset.count(), 0);
        QCOMPARE(record.count(), 0);
        query.enableControls();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(record.count(), 0);
        QVERIFY(!query.controlsDisabled());

        query.close();
        QCOMPARE(state.takeLast().at(0).value<DataSetState>(), DataSetState::Inactive);
        QCOMPARE(current.takeLast().at(0).toInt(), -1);
    }

    void movedFieldsKeepTheirValuesThroughEditAndSort()
    {
        insertData(*m_connection, QStringLiteral("bee"), QStringLiteral("sea"));
        insertData(*m_connection, QStringLiteral("ant"), QStringLiteral("cow"));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        query.fieldByName("c").setIndex(0);
        QCOMPARE(query.field(0).fieldName(), QStringLiteral("c"));
        QCOMPARE(query.field(1).fieldName(), QStringLiteral("a"));
        QCOMPARE(query.fieldByName("b").index(), 2);
        QCOMPARE(query.cellText(0, 0), QStringLiteral("sea"));
        QCOMPARE(query.cellText(0, 2), QStringLiteral("bee"));
        query.edit();
        query.fieldByName("c").setAsString(QStringLiteral("SEA"));
        query.fieldByName("b").setAsString(QStringLiteral("BEE"));
        QCOMPARE(query.cellText(0, 0), QStringLiteral("SEA"));
        query.post();
        QCOMPARE(dataRows(*m_connection), QStringList({"BEE|SEA", "ant|cow"}));
        QCOMPARE(query.cellText(0, 0), QStringLiteral("SEA"));
        QCOMPARE(query.cellText(0, 2), QStringLiteral("BEE"));
        query.setSort(QStringLiteral("b"));
        QCOMPARE(columnOf(query, "c"), QStringList({"cow", "SEA"}));
        query.append();
        query.fieldByName("c").setAsString(QStringLiteral("new"));
        query.post();
        QCOMPARE(dataRows(*m_connection).last(), QStringLiteral("<null>|new"));
    }

    void largeSnapshotKeepsEveryValue()
    {
        // Values of many lengths, also empty and long ones, survive the packed row storage.
        QSqlDatabase db = m_connection->database();
        db.transaction();
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("insert into data (a, b, z) values (?, ?, ?)"));
        for (int i = 0; i < 2000; ++i) {
            insert.addBindValue(QString::number(i));
            insert.addBindValue(QString(i % 37, QChar(u'名')));
            insert.addBindValue(i % 5 == 0 ? QVariant(QMetaType::fromType<QString>())
                                           : QVariant(QString(i % 200, QChar('x'))));
            QVERIFY(insert.exec());
        }
        db.commit();
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data"));
        query.open();
        QCOMPARE(query.recordCount(), 2000);
        const int b = query.fieldByName("b").index();
        const int z = query.fieldByName("z").index();
        for (int i = 0; i < 2000; ++i) {
            QCOMPARE(query.cellText(i, 0), QString::number(i));
            QCOMPARE(query.cellText(i, b), QString(i % 37, QChar(u'名')));
            QCOMPARE(query.cellIsNull(i, z), i % 5 == 0);
            if (i % 5)
                QCOMPARE(query.cellText(i, z), QString(i % 200, QChar('x')));
        }
    }

    void aLongListReadsItsRowsByKeyAsTheyAreShown()
    {
        QSqlQuery insert(m_connection->database());
        QVERIFY(insert.exec(QStringLiteral("begin")));
        for (int n = 0; n < 6000; ++n)
            QVERIFY(insert.exec(QStringLiteral("insert into data (a, b, c) values ('cat', 'r%1', %2)")
                                    .arg(n)
                                    .arg(n % 3 == 0 ? QStringLiteral("null") : QStringLiteral("'c%1'").arg(n))));
        QVERIFY(insert.exec(QStringLiteral("commit")));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data where rid%2=0 order by rid desc"));
        query.open();
        QCOMPARE(query.recordCount(), 3000);
        QCOMPARE(query.keys().front(), 6000);
        const int b = query.fieldByName("b").index();
        const int c = query.fieldByName("c").index();
        auto expectedB = [](int row) { return QStringLiteral("r%1").arg(5999 - 2 * row); };
        // Front to back, back to front and jumping: far more rows than the cache holds.
        for (int row = 0; row < 3000; ++row) {
            if (query.cellText(row, b) != expectedB(row))
                QFAIL(qPrintable(QStringLiteral("row %1: %2").arg(row).arg(query.cellText(row, b))));
            QCOMPARE(query.cellIsNull(row, c), (5999 - 2 * row) % 3 == 0);
        }
        for (int row = 2999; row >= 0; row -= 7)
            QCOMPARE(query.cellText(row, b), expectedB(row));
        QRandomGenerator random(5);
        for (int n = 0; n < 300; ++n) {
            const int row = int(random.bounded(3000));
            QCOMPARE(query.cellText(row, b), expectedB(row));
        }
        // Navigation and editing work on the keyset as on a snapshot.
        query.last();
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("r1"));
        query.setRecNo(1500);
        query.edit();
        query.fieldByName("b").setAsString(QStringLiteral("changed"));
        query.post();
        QCOMPARE(query.cellText(1499, b), QStringLiteral("changed"));
        QCOMPARE(dataRows(*m_connection, QStringLiteral("b")).at(5999 - 2 * 1499), QStringLiteral("changed"));
        query.deleteRecord();
        QCOMPARE(query.recordCount(), 2999);
        QCOMPARE(query.cellText(1499, b), expectedB(1500));
        QCOMPARE(query.rowOfKey(query.keys().at(10)), 10);
        QCOMPARE(query.rowOfKey(999999), -1);
    }

    void aListSortsAsAStatementReadCompletely()
    {
        // The same rows once as a keyset (one table) and once read completely (grouped):
        // every sort puts them in the same order, nulls, duplicates, Chinese and digits included.
        const QStringList values{"张三", "李四", "",       "Zed", "abc", "10",  "9",
                                 "李四", "王五", "<null>", "阿",  "2x",  "张三"};
        QSqlQuery insert(m_connection->database());
        for (int n = 0; n < 200; ++n) {
            const QString b = values[(n * 7) % values.size()];
            const QString c = values[(n * 5 + 3) % values.size()];
            insert.prepare(QStringLiteral("insert into data (a, b, c, k) values (?, ?, ?, ?)"));
            insert.addBindValue(QStringLiteral("cat%1").arg(n % 4));
            insert.addBindValue(b == QLatin1String("<null>") ? QVariant(QMetaType::fromType<QString>()) : QVariant(b));
            insert.addBindValue(c == QLatin1String("<null>") ? QVariant(QMetaType::fromType<QString>()) : QVariant(c));
            insert.addBindValue(n % 9 == 0 ? QVariant(QMetaType::fromType<QString>())
                                           : QVariant(QString::number(n % 13)));
            QVERIFY(insert.exec());
        }
        Query keyset(m_connection.get());
        keyset.setSql(QStringLiteral("select * from data where rid%5<>1"));
        keyset.open();
        Query complete(m_connection.get());
        complete.setSql(QStringLiteral("select * from data where rid%5<>1 group by rid order by rid"));
        complete.open();
        QVERIFY(keyset.canModify());
        QVERIFY(!complete.canModify());
        QCOMPARE(keyset.recordCount(), 160);
        for (const char *sort : {"b", "b DESC", "c", "c DESC", "k", "k DESC", "a DESC", ""}) {
            keyset.setSort(QLatin1String(sort));
            complete.setSort(QLatin1String(sort));
            QCOMPARE(columnOf(keyset, "b") + columnOf(keyset, "c") + columnOf(keyset, "k"),
                     columnOf(complete, "b") + columnOf(complete, "c") + columnOf(complete, "k"));
        }
        // A written row takes its new place at the next sort.
        keyset.setSort(QStringLiteral("b"));
        keyset.last();
        keyset.edit();
        keyset.fieldByName("b").setAsString(QStringLiteral("000"));
        keyset.post();
        keyset.setSort(QStringLiteral("b DESC"));
        keyset.setSort(QStringLiteral("b"));
        QCOMPARE(columnOf(keyset, "b").at(0), QStringLiteral("<null>"));
        QCOMPARE(columnOf(keyset, "b").last(), QStringLiteral("张三"));
        QVERIFY(columnOf(keyset, "b").indexOf(QStringLiteral("000"))
                < columnOf(keyset, "b").indexOf(QStringLiteral("10")));
        QCOMPARE(keyset.fieldByName("b").asString(), QStringLiteral("000")); // still current
    }

    void storedSortKeysOrderExactlyAsTheRowsCollatedInMemory()
    {
        if (m_db->isServer())
            QSKIP("a server register has no stored sort keys: its lists sort in memory "
                  "(aListSortsAsAStatementReadCompletely)");
        // Random texts of Chinese, Latin of both cases, digits, punctuation, empty texts and
        // nulls: the order read from data's stored keys (a keyset) equals the order of the same
        // rows collated in memory (a statement read completely), for a long list (read from the
        // index), a short one (keys read by rowid), through successive sorts, and after rows
        // written behind the program's back by plain SQL.
        QRandomGenerator random(17);
        const QString alphabet = QStringLiteral("张章李王汪阿啊中重长AaBbZz019-_ .,（）");
        auto randomText = [&]() -> QVariant {
            if (random.bounded(8) == 0)
                return QVariant(QMetaType::fromType<QString>());
            if (random.bounded(10) == 0)
                return QVariant(QString::fromLatin1(""));
            QString text;
            for (int i = int(random.bounded(4)); i >= 0; --i)
                text += alphabet.at(int(random.bounded(alphabet.size())));
            return text;
        };
        auto insertRandom = [&](int count) {
            QSqlQuery insert(m_connection->database());
            insert.prepare(QStringLiteral("insert into data (b, c, d) values (?, ?, ?)"));
            for (int n = 0; n < count; ++n) {
                insert.addBindValue(randomText());
                insert.addBindValue(randomText());
                insert.addBindValue(randomText());
                QVERIFY(insert.exec());
            }
        };
        insertRandom(700);
        auto compareAll = [&] {
            for (const char *where : {"rid%7<>3", "rid%97=0"}) {
                Query keyset(m_connection.get());
                keyset.setSql(QStringLiteral("select * from data where %1").arg(QLatin1String(where)));
                keyset.open();
                Query complete(m_connection.get());
                complete.setSql(
                    QStringLiteral("select * from data where %1 group by rid order by rid").arg(QLatin1String(where)));
                complete.open();
                for (const char *sort : {"b", "c DESC", "b DESC", "d", "c", "", "d DESC"}) {
                    keyset.setSort(QLatin1String(sort));
                    complete.setSort(QLatin1String(sort));
                    QCOMPARE(columnOf(keyset, "b") + columnOf(keyset, "c") + columnOf(keyset, "d"),
                             columnOf(complete, "b") + columnOf(complete, "c") + columnOf(complete, "d"));
                }
            }
        };
        compareAll();
        m_connection->execute(QStringLiteral("update data set b=c, c='阿' where rid%11=0"));
        m_connection->execute(QStringLiteral("delete from data where rid%13=0"));
        insertRandom(50);
        QVERIFY(dataRows(*m_connection, QStringLiteral("(select count(*) from data_sortorder_stale)")).first() != "0");
        compareAll();
        // The labels of b, c and d (bits 1, 2, 3) were brought up to date and read, not bypassed.
        QCOMPARE(
            dataRows(*m_connection, QStringLiteral("(select count(*) from data_sortorder_stale where done & 14 <> 14)"))
                .first(),
            QStringLiteral("0"));
        std::vector<qint64> keys{3, 1, 2};
        std::vector<int> order;
        QVERIFY(orderByStoredKeys(*m_connection, QStringLiteral("data"), QStringLiteral("B"), false, keys, &order));
        QCOMPARE(order.size(), size_t(3));
    }

    void storedSortKeysOrderLongListsWithLongRunsOfEqualValues()
    {
        if (m_db->isServer())
            QSKIP("a server register has no stored sort keys");
        // Thousands of rows holding a few values (and nulls), every seventh left out of the list:
        // runs of equal keys far longer than one reading of the index, the list's order kept
        // within each run, ascending and descending.
        const QVariant values[] = {QStringLiteral("王"), QVariant(QMetaType::fromType<QString>()), QStringLiteral("a"),
                                   QStringLiteral("阿"), QStringLiteral("")};
        m_connection->execute(QStringLiteral("begin"));
        QSqlQuery insert(m_connection->database());
        insert.prepare(QStringLiteral("insert into data (b, c) values (?, ?)"));
        for (int n = 0; n < 12000; ++n) {
            insert.addBindValue(values[(n * 7 + n / 1000) % 5]);
            insert.addBindValue(QString::number(n));
            QVERIFY(insert.exec());
        }
        m_connection->execute(QStringLiteral("commit"));
        Query keyset(m_connection.get());
        keyset.setSql(QStringLiteral("select * from data where rid%7<>3"));
        keyset.open();
        Query complete(m_connection.get());
        complete.setSql(QStringLiteral("select * from data where rid%7<>3 group by rid order by rid"));
        complete.open();
        QVERIFY(keyset.recordCount() > 10000);
        for (const char *sort : {"b", "b DESC", "c", "b"}) {
            keyset.setSort(QLatin1String(sort));
            complete.setSort(QLatin1String(sort));
            QCOMPARE(columnOf(keyset, "c"), columnOf(complete, "c"));
        }
    }

    void openingGivenKeysShowsThoseRows()
    {
        for (const char *b : {"r1", "r2", "r3", "r4"})
            insertData(*m_connection, QString::fromLatin1(b));
        Query query(m_connection.get());
        query.setSql(QStringLiteral("select * from data where b<>''"));
        query.openKeys({3, 1, 4});
        QCOMPARE(columnOf(query, "b"), QStringList({"r3", "r1", "r4"}));
        QCOMPARE(query.recNo(), 1);
        query.next();
        query.edit();
        query.fieldByName("c").setAsString(QStringLiteral("seen"));
        query.post();
        QCOMPARE(dataRows(*m_connection).at(0), QStringLiteral("r1|seen"));
        query.setSql(QStringLiteral("select b, count(*) from data group by b"));
        QVERIFY(!errorOf([&] { query.openKeys({1}); }).isEmpty());
        QVERIFY(!query.active());
    }

    void anEditCheckedAgainstAnotherRecordIsRefused()
    {
        for (const char *b : {"r1", "r2", "r3"})
            insertData(*m_connection, QString::fromLatin1(b));
        Query list(m_connection.get());
        list.setSql(QStringLiteral("select * from data "));
        list.open();
        const DataSet::RecordAsRead first = list.currentRecordAsRead();
        QVERIFY(first.key != 0);
        list.setRecNo(3);
        // A record read from the first row never becomes the third row's condition.
        QVERIFY(!errorOf([&] { list.edit(first); }).isEmpty());
        QCOMPARE(list.state(), DataSetState::Browse);
        QVERIFY(!errorOf([&] { list.edit(DataSet::RecordAsRead{}); }).isEmpty());
        DataSet::RecordAsRead shortRecord = list.currentRecordAsRead();
        shortRecord.values.pop_back();
        QVERIFY(!errorOf([&] { list.edit(shortRecord); }).isEmpty());
        QCOMPARE(list.state(), DataSetState::Browse);
        QCOMPARE(dataRows(*m_connection), QStringList({"r1|<null>", "r2|<null>", "r3|<null>"}));

        // The record's own row, opened by its key, takes the edit; checked against the record.
        Query one(m_connection.get());
        one.setSql(QStringLiteral("select * from data "));
        one.openKeys({first.key});
        QVERIFY(one.tableHoldsRow(first.key));
        one.edit(first);
        one.fieldByName("c").setAsString(QStringLiteral("own"));
        one.post();
        QCOMPARE(dataRows(*m_connection), QStringList({"r1|own", "r2|<null>", "r3|<null>"}));
        // Once that changed, the record read before no longer matches: refused in Chinese.
        one.edit(first);
        one.fieldByName("b").setAsString(QStringLiteral("again"));
        Error refusal(QString{});
        try {
            one.post();
        } catch (const Error &error) {
            refusal = error;
        }
        QVERIFY(refusal.operatorText().contains(QStringLiteral("已被其他操作员修改")));
        QCOMPARE(dataRows(*m_connection).at(0), QStringLiteral("r1|own"));
        QVERIFY(m_connection->execute(QStringLiteral("delete from data where b='r1'")) == 1);
        QVERIFY(!one.tableHoldsRow(first.key));
    }
};

QTEST_GUILESS_MAIN(TestDbDataSet)
#include "test_db_dataset.moc"
