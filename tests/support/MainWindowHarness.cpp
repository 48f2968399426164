#include "tests/support/MainWindowHarness.h"

#include "data/ServerRegister.h"
#include "db/Engine.h"
#include "tests/support/TestServer.h"
#include "customers/CustomerSearch.h"

#include "data/Statements.h"
#include "app/StartUp.h"

#include <QSqlQuery>
#include <QTest>

namespace lianbu::test {

MainWindowHarness::MainWindowHarness(bool showNow)
{
    prepareApplication();
    if (testsUseServer()) {
        // The same window on a fresh register on the test server.
        const db::RegisterAddress address = createTestServerDatabase();
        createServerRegister(address);
        data = std::make_unique<Database>(address);
    } else {
        createDataDb(env.path());
        data = std::make_unique<Database>();
    }
    form = std::make_unique<MainWindow>(*data);
    if (showNow)
        show();
}

MainWindowHarness::~MainWindowHarness()
{
    form.reset();
    data.reset();
}

void MainWindowHarness::show()
{
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void MainWindowHarness::insertCustomers(const QList<CustomerRow> &rows)
{
    for (const CustomerRow &row : rows) {
        QStringList values;
        for (const QString &value : row)
            values << sql::sqlLiteral(value);
        data->connection->execute(QStringLiteral("insert into data (a,b,c,d,e,f,g,h,i,j,k,l,m,z,day1) values (%1)")
                                      .arg(values.join(QLatin1Char(','))));
    }
}

QStringList MainWindowHarness::listColumn(const QString &field) const
{
    QStringList values;
    const lianbu::data::CustomerListModel *list = data->customerList;
    const int column = list->columnOfField(field);
    if (column < 0)
        qFatal("the list shows no field %s", qPrintable(field));
    for (int row = 0; row < list->rowCount(); ++row)
        values << list->index(row, column).data().toString();
    return values;
}

QStringList MainWindowHarness::queryColumn(const QString &sql) const
{
    QSqlQuery query(data->connection->database());
    if (!query.exec(sql))
        qFatal("statement failed: %s", qPrintable(sql));
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

void typeText(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

CustomerRow customer(const QString &a, const QString &b, const QString &g, const QString &c)
{
    return {a,
            b,
            c,
            QStringLiteral("男"),
            QStringLiteral("经理"),
            QStringLiteral("13900000000"),
            g,
            QString(),
            QStringLiteral("杭州市"),
            QStringLiteral("联簿公司"),
            QStringLiteral("310000"),
            QStringLiteral("x@example.com"),
            QString(),
            QString(),
            QStringLiteral("2010-08-15")};
}

QString MainWindowHarness::listOrder(const QString &table) const
{
    const db::Engine &engine = db::engineOf(data->connection->database());
    return engine.needsKeyOrder() ? QStringLiteral(" order by ") + engine.rowKey(table) : QString();
}

QString MainWindowHarness::rowKey(const QString &table) const
{
    return db::engineOf(data->connection->database()).rowKey(table);
}

void MainWindowHarness::waitForSearch()
{
    if (!QTest::qWaitFor([this] { return !form->quickSearchBar()->customerSearch().busy(); }, 30000))
        qWarning("the quick search did not finish");
}

} // namespace lianbu::test
