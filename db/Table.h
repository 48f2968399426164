#pragma once

#include "db/DataSet.h"

namespace lianbu::db {

// A dataset over a whole table: open() reads every row ("select * from <table>").
class Table : public DataSet
{
public:
    explicit Table(Connection *connection = nullptr);

    void setTableName(const QString &name) { m_tableName = name; }
    const QString &tableName() const { return m_tableName; }

protected:
    QString selectStatement() const override;

private:
    QString m_tableName;
};

} // namespace lianbu::db
