#pragma once

// A small SQLite file with one table for the grid tests, and a query over it shown by a list
// model.

#include "db/Connection.h"
#include "db/DataSetModel.h"
#include "db/Query.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace gridtest {

// Table t: a VARCHAR(20) category, b VARCHAR(50) name, n INTEGER amount.
struct GridData
{
    QTemporaryDir dir;
    std::unique_ptr<lianbu::db::Connection> connection;
    std::unique_ptr<lianbu::db::Query> query;
    lianbu::db::DataSetModel model;

    // rows: each "a,b,n"
    explicit GridData(const QStringList &rows)
    {
        const QString path = dir.filePath(QStringLiteral("grid.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("gridtest-setup"));
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("create table t (a VARCHAR(20), b VARCHAR(50), n INTEGER)"));
            db.transaction();
            q.prepare(QStringLiteral("insert into t (a, b, n) values (?, ?, ?)"));
            for (const QString &row : rows) {
                const QStringList parts = row.split(QLatin1Char(','));
                q.addBindValue(parts.value(0));
                q.addBindValue(parts.value(1));
                q.addBindValue(parts.value(2).toInt());
                q.exec();
            }
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("gridtest-setup"));
        connection = std::make_unique<lianbu::db::Connection>(path);
        connection->open();
        query = std::make_unique<lianbu::db::Query>(connection.get());
        query->setSql(QStringLiteral("select * from t"));
        model.setDataSet(query.get());
    }

    void reopen(const QString &sql)
    {
        query->close();
        query->setSql(sql);
        query->open();
    }
};

} // namespace gridtest
