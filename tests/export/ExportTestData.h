#pragma once

// A register of any shape for the export tests: an SQLite file in the test's working folder,
// a query over it bound to a data source and a grid showing it, and the writer reading the
// grid's list as the export command gives it.

#include "customers/ShownList.h"
#include "db/Connection.h"
#include "db/ListRows.h"
#include "db/DataSetModel.h"
#include "db/DataSource.h"
#include "db/Query.h"
#include "export/XlsExporter.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "tests/export/XlsRecords.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <memory>

namespace exporttest {

class Register
{
public:
    // `create` makes table t; every statement of `fill` runs afterwards.
    Register(const QString &create, const QStringList &fill)
    {
        // The moment the sheets are made: 2010-08-15 9:05:03.
        lianbu::setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(9, 5, 3)));
        const QString path = env.filePath(QStringLiteral("register.db"));
        const QString name = QStringLiteral("exporttest-setup");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec(create);
            db.transaction();
            for (const QString &statement : fill)
                q.exec(statement);
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        connection = std::make_unique<lianbu::db::Connection>(path);
        connection->open();
        query = std::make_unique<lianbu::db::Query>(connection.get());
        query->setSql(QStringLiteral("select * from t"));
        query->open();
        source.setDataSet(query.get());
        model.setDataSet(query.get());
        grid = std::make_unique<DataGrid>();
        grid->setListModel(&model);
        grid->resize(600, 300);
        describe();
        writer.setTitleName(QStringLiteral("客户统计报表"));
        writer.setUserName(QStringLiteral("联簿宝"));
    }

    GridColumn *addColumn(const QString &field, const QString &caption, bool visible = true)
    {
        GridColumn *column = grid->columns()->add(field, caption);
        column->setVisible(visible);
        return column;
    }

    // Gives the writer the grid's list as it is now, as the export command does.
    void describe()
    {
        columns = lianbu::customers::shownColumns(*grid, extraTitles);
        rows = std::make_unique<lianbu::db::DataSetRows>(*query);
        writer.setList(&columns, rows.get());
    }
    void exportFile()
    {
        describe();
        writer.exportFile();
    }

    // The whole record stream as saveStream writes it.
    QByteArray stream()
    {
        describe();
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writer.saveStream(&buffer);
        return buffer.data();
    }
    QList<lianbu::test::XlsRecord> records() { return lianbu::test::readXlsRecords(stream()); }
    // The records after the title block and the title rows (rows >= firstRow).
    QStringList cellsFrom(int firstRow)
    {
        QStringList out;
        for (const lianbu::test::XlsRecord &r : records())
            if (r.isCell() && r.row() >= firstRow)
                out << r.describe();
        return out;
    }

    static QByteArray fileBytes(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    lianbu::test::Environment env;
    std::unique_ptr<lianbu::db::Connection> connection;
    std::unique_ptr<lianbu::db::Query> query;
    lianbu::db::DataSource source;
    lianbu::db::DataSetModel model;
    std::unique_ptr<DataGrid> grid;
    // Titles of the fields no column shows that go out after the shown columns.
    QHash<QString, QString> extraTitles;
    lianbu::db::ListColumns columns;
    std::unique_ptr<lianbu::db::DataSetRows> rows;
    XlsExporter writer;
};

} // namespace exporttest
