// The quick search's trigram index: the key statement finds exactly the rows the plain LIKE
// statement lists, on random data full of wildcards, case pairs and Chinese text, also after
// the triggers have followed inserts, updates and deletes, and after an older register got its
// index at first open.
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;

namespace {

const QStringList kAlphabet{"a", "A", "b", "B", "%", "_", "华", "为", "技", "术", "中", "x", "Ä", "ä", " ", "1", "'"};
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
              QStringList{"", "", "", "", "技术'", ""}, QStringList{"", "", "", "", "", "%%%"}}) {
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
    }
};

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "test_search_index.moc"
