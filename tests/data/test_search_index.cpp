// The quick search's trigram index: the key statement finds exactly the rows the plain LIKE
// statement lists, on random data full of wildcards, case pairs and Chinese text, also after
// the triggers have followed inserts, updates and deletes, and after an older register got its
// index at first open.
#include "data/PinyinInitials.h"
#include "data/RegisterUpgrade.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/SortKeys.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <numeric>
#include <optional>

using namespace lianbu;

namespace {

const QStringList kAlphabet{"a",  "A",  "b", "B", "%", "_", "华", "为", "技",
                            "术", "中", "x", "Ä", "ä", " ", "1",  "'",  "\""};
const char *const kColumns[] = {"a", "b", "g", "c", "i", "j"};

QString randomText(QRandomGenerator &random, int maxLength)
{
    QString text;
    const int length = int(random.bounded(maxLength + 1));
    for (int n = 0; n < length; ++n)
        text += kAlphabet[random.bounded(kAlphabet.size())];
    return text;
}

QVariant randomValue(QRandomGenerator &random)
{
    if (random.bounded(10) == 0)
        return QVariant(QMetaType::fromType<QString>()); // NULL
    const QString text = randomText(random, 8);
    return text.isEmpty() ? QVariant(QString::fromLatin1("")) : QVariant(text);
}

void insertRandomRows(db::Connection &connection, QRandomGenerator &random, int rows)
{
    QSqlDatabase database = connection.database();
    database.transaction();
    QSqlQuery query(database);
    query.prepare(QStringLiteral("insert into data (a,b,g,c,i,j,d) values (?,?,?,?,?,?,'x')"));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 6; ++c)
            query.addBindValue(randomValue(random));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    database.commit();
}

// The plain statement's rows, by their hidden key.
std::vector<qint64> plainKeys(db::Connection &connection, const QStringList &fields)
{
    std::vector<qint64> keys;
    QSqlQuery query(connection.database());
    if (!query.exec(sql::search(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5])))
        qFatal("%s", qPrintable(query.lastError().text()));
    while (query.next())
        keys.push_back(query.value(QStringLiteral("rid")).toLongLong());
    return keys;
}

std::vector<qint64> indexedKeys(db::Connection &connection, const QStringList &fields)
{
    return db::engine::readKeys(db::engine::nativeHandle(connection.database()),
                                sql::searchKeys(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]));
}

QStringList randomFields(QRandomGenerator &random)
{
    QStringList fields;
    for (int f = 0; f < 6; ++f)
        fields << (random.bounded(3) == 0 ? randomText(random, 5) : QString());
    return fields;
}

// Runs random searches; returns how many found at least one row (so the data is not trivial).
int compareRandomSearches(db::Connection &connection, QRandomGenerator &random, int searches)
{
    int nonEmpty = 0;
    for (int s = 0; s < searches; ++s) {
        const QStringList fields = randomFields(random);
        const std::vector<qint64> expected = plainKeys(connection, fields);
        const std::vector<qint64> found = indexedKeys(connection, fields);
        if (found != expected)
            qFatal("search %s: %zu rows instead of %zu", qPrintable(fields.join(QLatin1Char('|'))), found.size(),
                   expected.size());
        nonEmpty += expected.empty() ? 0 : 1;
    }
    return nonEmpty;
}

// The keys of a bound statement's rows, in its order.
std::vector<qint64> boundKeys(db::Connection &connection, const sql::BoundStatement &statement)
{
    QSqlQuery query(connection.database());
    query.prepare(statement.text);
    for (const QVariant &value : statement.values)
        query.addBindValue(value);
    if (!query.exec())
        qFatal("%s: %s", qPrintable(statement.text), qPrintable(query.lastError().text()));
    std::vector<qint64> keys;
    while (query.next())
        keys.push_back(query.value(0).toLongLong());
    return keys;
}

// The rows a bound search lists, read without the indexes: every row tested in C++.
std::vector<qint64> expectedKeys(db::Connection &connection, const QStringList &fields)
{
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("select rowid, a, b, g, c, i, j, f from data order by rowid")))
        qFatal("%s", qPrintable(query.lastError().text()));
    // SQLite's LIKE: ASCII case folded, % and _ wildcards.
    const auto like = [](const QString &value, const QString &text) {
        QString pattern;
        for (const QChar ch : text)
            pattern += ch == QLatin1Char('%')   ? QStringLiteral(".*")
                       : ch == QLatin1Char('_') ? QStringLiteral(".")
                                                : QRegularExpression::escape(QString(ch));
        QString folded = value;
        for (QChar &ch : folded)
            if (ch.unicode() < 0x80)
                ch = ch.toLower();
        QString foldedPattern = pattern;
        for (QChar &ch : foldedPattern)
            if (ch.unicode() < 0x80)
                ch = ch.toLower();
        return QRegularExpression(QStringLiteral(".*") + foldedPattern + QStringLiteral(".*"),
                                  QRegularExpression::DotMatchesEverythingOption)
            .match(folded)
            .hasMatch();
    };
    std::vector<qint64> keys;
    while (query.next()) {
        const QString b = query.value(2).toString();
        if (query.value(2).isNull() || b.isEmpty())
            continue;
        bool all = true;
        for (int f = 0; f < 6 && all; ++f) {
            if (fields[f].isEmpty())
                continue;
            const QVariant value = query.value(f + 1);
            bool hit = !value.isNull() && like(value.toString(), fields[f]);
            if (f == 2) // 电话: the mobile number too
                hit = hit || (!query.value(7).isNull() && like(query.value(7).toString(), fields[f]));
            if ((f == 1 || f == 3) && isPinyinQuery(fields[f])) // 客户简称, 姓名: the initials too
                hit = hit || (!value.isNull() && pinyinInitials(value.toString()).contains(fields[f].toLower()));
            all = hit;
        }
        if (all)
            keys.push_back(query.value(0).toLongLong());
    }
    return keys;
}

} // namespace

class TestSearchIndex : public QObject
{
    Q_OBJECT

private slots:
    void indexedSearchEqualsThePlainStatement()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QVERIFY(hasSearchIndex(connection));
        QRandomGenerator random(17);
        insertRandomRows(connection, random, 600);
        QVERIFY(compareRandomSearches(connection, random, 400) > 100);

        // Terms of three characters and more, with and without wildcards, where the index
        // narrows: case folding is ASCII only (Ä is no ä), % and _ stay wildcards.
        for (const QStringList &fields :
             {QStringList{"", "华为技", "", "", "", ""}, QStringList{"aAb", "", "", "", "", ""},
              QStringList{"", "", "Ä a", "", "", ""}, QStringList{"", "", "", "a_b%1", "", ""},
              QStringList{"", "", "", "", "技术'", ""}, QStringList{"", "", "", "", "", "%%%"},
              QStringList{"", "a\"b", "", "", "", ""}, QStringList{"", "", "", "", "", "\"x\" AND"}}) {
            QCOMPARE(indexedKeys(connection, fields), plainKeys(connection, fields));
        }
    }

    void triggersKeepTheIndexRightThroughEveryChange()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QRandomGenerator random(1815);
        insertRandomRows(connection, random, 300);
        QSqlQuery query(connection.database());
        for (int n = 0; n < 120; ++n) {
            const QString column = QLatin1String(kColumns[random.bounded(6)]);
            query.prepare(QStringLiteral("update data set %1=? where rid=?").arg(column));
            query.addBindValue(randomValue(random));
            query.addBindValue(qint64(random.bounded(1, 300)));
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
        // A change of a column the index does not hold leaves it alone.
        QVERIFY(query.exec(QStringLiteral("update data set z='note' where rid%3=0")));
        QVERIFY(query.exec(QStringLiteral("delete from data where rid%7=0")));
        insertRandomRows(connection, random, 50);
        QVERIFY(compareRandomSearches(connection, random, 300) > 50);
        QVERIFY(query.exec(
            QStringLiteral("insert into %1(%1) values('integrity-check')").arg(QLatin1String(kSearchIndexTable))));
    }

    void anOlderRegisterGetsItsIndexOnce()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QRandomGenerator random(2010);
        // A register written before the index existed.
        QSqlQuery query(connection.database());
        for (const char *drop : {"drop trigger data_fts_insert", "drop trigger data_fts_update",
                                 "drop trigger data_fts_delete", "drop table data_fts", "drop index data_a"})
            QVERIFY(query.exec(QLatin1String(drop)));
        insertRandomRows(connection, random, 45000);
        QVERIFY(!hasSearchIndex(connection));

        std::vector<std::pair<qint64, qint64>> steps;
        createSearchIndex(connection, [&](qint64 done, qint64 total) { steps.emplace_back(done, total); });
        QVERIFY(hasSearchIndex(connection));
        QVERIFY(steps.size() >= 3); // the progress window moves while a large register is indexed
        QCOMPARE(steps.back().first, steps.back().second);
        QVERIFY(std::is_sorted(steps.begin(), steps.end()));
        QVERIFY(compareRandomSearches(connection, random, 60) > 10);
        // Indexing twice is refused and changes nothing.
        QVERIFY_THROWS_EXCEPTION(lianbu::Error, createSearchIndex(connection, {}));
        QVERIFY(hasSearchIndex(connection));
        compareRandomSearches(connection, random, 20);
    }

    void initialsAreTheFirstLettersOfTheReadings()
    {
        QCOMPARE(pinyinInitials(QStringLiteral("华为科技")), QStringLiteral("hwkj"));
        QCOMPARE(pinyinInitials(QStringLiteral("张三丰")), QStringLiteral("zsf"));
        QCOMPARE(pinyinInitials(QStringLiteral("联簿宝 ABC-1")), QStringLiteral("lbb abc-1"));
        QCOMPARE(pinyinInitials(QStringLiteral("㐀")), QStringLiteral("q"));        // Extension A
        QCOMPARE(pinyinInitials(QStringLiteral("𠀀é、")), QStringLiteral("𠀀é、")); // no reading: kept
        QCOMPARE(pinyinInitials(QString()), QString());
        QVERIFY(isPinyinQuery(QStringLiteral("hwKJ")));
        for (const char *other : {"", "h w", "hw1", "h%", "华", "é"})
            QVERIFY2(!isPinyinQuery(QString::fromUtf8(other)), other);
    }

    void mobileAndInitialsSearchesEqualTheirMeaningThroughEveryChange()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QVERIFY(hasSearchExtra(connection));
        QRandomGenerator random(2026);
        const QStringList names{"华为科技", "张三", "中兴", "HW", "hw商行", "王五", "", "Zhang", "联簿宝", "行"};
        QSqlQuery query(connection.database());
        query.prepare(QStringLiteral("insert into data (a,b,c,f,g) values ('x',?,?,?,?)"));
        for (int r = 0; r < 400; ++r) {
            query.addBindValue(names[random.bounded(names.size())] + names[random.bounded(names.size())]);
            query.addBindValue(names[random.bounded(names.size())]);
            query.addBindValue(QString::number(13800000000LL + random.bounded(1000000)));
            query.addBindValue(QString::number(5710000 + random.bounded(10000)));
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
        const QStringList texts{"hw",   "HWKJ",  "zs",   "z", "kj",    "hwsh", "lbb",   "h%",    "华为", "138",
                                "5710", "13800", "0001", "x", "zhang", "ws",   "13%00", "1\"38", "5_10*"};
        const auto compareAll = [&] {
            QVERIFY(refreshSearchExtra(connection));
            int nonEmpty = 0;
            for (int n = 0; n < 120; ++n) {
                QStringList fields(6);
                const int field = int(random.bounded(4));
                fields[field == 0 ? 1 : field == 1 ? 3 : 2] = texts[random.bounded(texts.size())];
                if (random.bounded(3) == 0)
                    fields[1] = texts[random.bounded(texts.size())];
                const std::vector<qint64> expected = expectedKeys(connection, fields);
                for (const bool indexed : {false, true}) {
                    const sql::BoundStatement statement =
                        sql::boundSearchKeys(db::sqliteEngine(), fields[0], fields[1], fields[2], fields[3], fields[4],
                                             fields[5], indexed, true);
                    QVERIFY2(boundKeys(connection, statement) == expected,
                             qPrintable(fields.join(QLatin1Char('|')) + QLatin1Char(' ') + statement.text));
                }
                nonEmpty += expected.empty() ? 0 : 1;
            }
            QVERIFY(nonEmpty > 30);
        };
        compareAll();
        // Changes by any writer: updates of the watched columns and of others, deletes, inserts.
        for (int n = 0; n < 80; ++n) {
            QSqlQuery change(connection.database());
            change.prepare(
                QStringLiteral("update data set %1=? where rid=?").arg(QLatin1String(random.bounded(2) ? "b" : "c")));
            change.addBindValue(names[random.bounded(names.size())]);
            change.addBindValue(qint64(random.bounded(1, 400)));
            QVERIFY(change.exec());
        }
        QVERIFY(query.exec(QStringLiteral("update data set f='13999999999' where rid%5=0")));
        QVERIFY(query.exec(QStringLiteral("delete from data where rid%7=0")));
        QVERIFY(query.exec(QStringLiteral("insert into data (a,b,c,f) values ('x','中兴通讯','李四','13812345678')")));
        QVERIFY(query.exec(QStringLiteral("select count(*) from data_search_stale")));
        QVERIFY(query.next() && query.value(0).toInt() > 50);
        compareAll();
        QVERIFY(query.exec(QStringLiteral("select count(*) from data_search_stale")));
        QVERIFY(query.next() && query.value(0).toInt() == 0);
    }

    void anOlderRegisterGetsItsInitialsOnce()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QSqlQuery query(connection.database());
        for (const char *drop :
             {"drop trigger data_search_stale_insert", "drop trigger data_search_stale_update",
              "drop trigger data_search_stale_delete", "drop table data_search_stale", "drop table data_search_extra"})
            QVERIFY2(query.exec(QLatin1String(drop)), drop);
        QVERIFY(!hasSearchExtra(connection));
        for (int r = 0; r < 12000; ++r)
            QVERIFY(query.exec(QStringLiteral("insert into data (a,b,c) values ('x','华为%1','张三')").arg(r)));
        std::vector<std::pair<qint64, qint64>> steps;
        createSearchExtra(connection, [&](qint64 done, qint64 total) { steps.emplace_back(done, total); });
        QVERIFY(hasSearchExtra(connection));
        QVERIFY(steps.size() >= 2);
        QCOMPARE(steps.back(), std::make_pair(qint64(12000), qint64(12000)));
        const sql::BoundStatement hw = sql::boundSearchKeys(db::sqliteEngine(), {}, QStringLiteral("hw"), {},
                                                            QStringLiteral("zs"), {}, {}, true, true);
        QCOMPARE(boundKeys(connection, hw).size(), size_t(12000));
        QVERIFY_THROWS_EXCEPTION(lianbu::Error, createSearchExtra(connection, {}));
        QVERIFY(hasSearchExtra(connection));
    }

    void writersWithAConflictPolicyOfTheirOwnKeepSearchAndOrderTruthful_data()
    {
        QTest::addColumn<bool>("upgraded");
        QTest::newRow("new register") << false;
        QTest::newRow("register of the former triggers, upgraded") << true;
    }

    void writersWithAConflictPolicyOfTheirOwnKeepSearchAndOrderTruthful()
    {
        QFETCH(bool, upgraded);
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QVERIFY(hasSearchExtra(connection));
        QSqlQuery query(connection.database());
        for (int r = 1; r <= 40; ++r)
            QVERIFY(query.exec(
                QStringLiteral("insert into data (rid,a,b,c,f,g,d) values (%1,'x','商行%1','张三','1390000%1',"
                               "'571%1','x')")
                    .arg(r)));
        if (upgraded) {
            // The former triggers, with a conflict clause of their own: a second UPDATE OR FAIL of
            // a listed customer failed.
            const QString former = QStringLiteral("INSERT OR IGNORE INTO data_search_stale VALUES (%1.rowid);");
            for (const QString &statement :
                 {QStringLiteral("DROP TRIGGER data_search_stale_insert"),
                  QStringLiteral("DROP TRIGGER data_search_stale_update"),
                  QStringLiteral("DROP TRIGGER data_search_stale_delete"),
                  QStringLiteral("CREATE TRIGGER data_search_stale_insert AFTER INSERT ON data BEGIN %1 END")
                      .arg(former.arg(u"new")),
                  QStringLiteral(
                      "CREATE TRIGGER data_search_stale_update AFTER UPDATE OF b, c, f ON data BEGIN %1 %2 END")
                      .arg(former.arg(u"old"), former.arg(u"new")),
                  QStringLiteral("CREATE TRIGGER data_search_stale_delete AFTER DELETE ON data BEGIN %1 END")
                      .arg(former.arg(u"old")),
                  QStringLiteral("UPDATE register_version SET version=11")})
                QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
            QVERIFY(!query.exec(QStringLiteral("update or fail data set b='旧' where rid=3")));
            QVERIFY(!data::registerIsCurrent(connection));
            data::upgradeRegister(connection);
            QVERIFY(data::registerIsCurrent(connection));
        }
        QVERIFY(refreshSearchExtra(connection));
        // Each writer changes customer 7 twice without the program refreshing in between, so the
        // second write finds its row already marked as stale.
        const QStringList writers{
            QStringLiteral("update or fail data set b='%1', c='%2', f='%3' where rid=7"),
            QStringLiteral("update or abort data set b='%1', c='%2', f='%3' where rid=7"),
            QStringLiteral("update or rollback data set b='%1', c='%2', f='%3' where rid=7"),
            QStringLiteral("update or replace data set b='%1', c='%2', f='%3' where rid=7"),
            QStringLiteral("insert or replace into data (rid,a,b,c,f,g,d) values (7,'x','%1','%2','%3','5710','x')"),
        };
        const QStringList names{"华为科技", "中兴通讯", "联簿宝", "阿里", "百度在线"};
        int round = 0;
        for (const QString &writer : writers) {
            for (int again = 0; again < 2; ++again, ++round) {
                const QString name = names[round % names.size()] + QString::number(round);
                const QString person = names[(round + 2) % names.size()];
                const QString mobile = QStringLiteral("1860000%1").arg(round, 4, 10, QLatin1Char('0'));
                const QString statement = writer.arg(name, person, mobile);
                QVERIFY2(query.exec(statement), qPrintable(statement + QLatin1String(": ") + query.lastError().text()));
                QCOMPARE(query.numRowsAffected(), 1);
            }
            const QString context = writer.left(22);
            QVERIFY2(refreshSearchExtra(connection), qPrintable(context));
            QVERIFY(query.exec(QStringLiteral("select b, c, f from data where rid=7")) && query.next());
            const QString b = query.value(0).toString(), c = query.value(1).toString(), f = query.value(2).toString();
            query.finish();
            // The full-text index, the initials and the mobile find the customer by what he is now
            // and no longer by what he was.
            const std::vector<qint64> seven{7};
            QVERIFY2(indexedKeys(connection, {"", b, "", "", "", ""}) == seven, qPrintable(context));
            QVERIFY2(indexedKeys(connection, {"", "", "", c, "", ""}) == plainKeys(connection, {"", "", "", c, "", ""}),
                     qPrintable(context));
            const QStringList queries[] = {
                {"", pinyinInitials(b), "", "", "", ""},
                {"", "", f, "", "", ""},
                {"", pinyinInitials(b), "", pinyinInitials(c), "", ""},
                {"", "", "186", "", "", ""},
                {"", names[(round - 2) % names.size()], "", "", "", ""},
            };
            for (const QStringList &fields : queries) {
                const std::vector<qint64> expected = expectedKeys(connection, fields);
                const sql::BoundStatement indexed = sql::boundSearchKeys(
                    db::sqliteEngine(), fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], true, true);
                QVERIFY2(boundKeys(connection, indexed) == expected,
                         qPrintable(context + QLatin1Char(' ') + fields.join(QLatin1Char('|'))));
            }
            const std::vector<qint64> byMobile = expectedKeys(connection, queries[1]);
            QVERIFY2(std::count(byMobile.begin(), byMobile.end(), 7) == 1, qPrintable(context));
            QVERIFY(query.exec(
                QStringLiteral("insert into %1(%1) values('integrity-check')").arg(QLatin1String(kSearchIndexTable))));
            // The stored order puts him where sorting the names in memory does.
            std::vector<qint64> keys;
            std::vector<std::optional<QString>> values;
            QVERIFY(query.exec(QStringLiteral("select rid, b from data order by rid")));
            while (query.next()) {
                keys.push_back(query.value(0).toLongLong());
                values.push_back(query.value(1).isNull() ? std::nullopt
                                                         : std::optional<QString>(query.value(1).toString()));
            }
            query.finish();
            std::vector<int> expected(keys.size());
            std::iota(expected.begin(), expected.end(), 0);
            std::stable_sort(expected.begin(), expected.end(),
                             [&](int x, int y) { return db::sortsBefore(values[x], values[y], false); });
            std::vector<int> order;
            QVERIFY(
                db::orderByStoredKeys(connection, QStringLiteral("data"), QStringLiteral("b"), false, keys, &order));
            QVERIFY2(order == expected, qPrintable(context));
        }
    }

    void longTermsAreAnsweredFromTheIndex()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        QCOMPARE(sql::longestLiteralRun(QStringLiteral("ab%cde_f")), 3);
        QCOMPARE(sql::longestLiteralRun(QStringLiteral("𠀀𠀀")), 2); // characters, not UTF-16 units
        QSqlQuery plan(connection.database());
        const auto usesIndex = [&](const QStringList &fields) {
            plan.exec(QStringLiteral("explain query plan ")
                      + sql::searchKeys(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]));
            QString details;
            while (plan.next())
                details += plan.value(3).toString() + QLatin1Char('\n');
            return details.contains(QLatin1String("VIRTUAL TABLE"));
        };
        QVERIFY(usesIndex({"", "", "0571", "", "", ""}));
        QVERIFY(usesIndex({"a", "华为技术", "", "", "", ""}));
        QVERIFY(!usesIndex({"", "华为", "", "", "", ""}));
        QVERIFY(!usesIndex({"", "", "05%71", "", "", ""}));

        // Initials of three letters and more, and telephone texts, are looked up in the second
        // table's index as well.
        const auto usesBothIndexes = [&](const QStringList &fields) {
            const sql::BoundStatement statement = sql::boundSearchKeys(
                db::sqliteEngine(), fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], true, true);
            plan.prepare(QStringLiteral("explain query plan ") + statement.text);
            for (const QVariant &value : statement.values)
                plan.addBindValue(value);
            plan.exec();
            QString details;
            while (plan.next())
                details += plan.value(3).toString() + QLatin1Char('\n');
            const QRegularExpression wholeTable(QStringLiteral("^SCAN data( |$)"), QRegularExpression::MultilineOption);
            return details.count(QLatin1String("VIRTUAL TABLE")) >= 2 && !details.contains(wholeTable) ? QString()
                                                                                                       : details;
        };
        QCOMPARE(usesBothIndexes({"", "hwk", "", "", "", ""}), QString());
        QCOMPARE(usesBothIndexes({"", "", "1381", "", "", ""}), QString());
        QCOMPARE(usesBothIndexes({"", "", "", "zsf", "", ""}), QString());
    }
};

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "test_search_index.moc"
