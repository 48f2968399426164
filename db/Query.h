#pragma once

#include "db/DataSet.h"

namespace lianbu::db {

// A dataset over any statement. open() runs a select and holds its rows; execute() runs a
// statement that returns none and leaves the query closed.
class Query : public DataSet
{
public:
    explicit Query(Connection *connection = nullptr);

    // The statement, with the values of its "?" placeholders in order (bound, never pasted).
    void setSql(const QString &sql, const QVariantList &values = {})
    {
        m_sql = sql;
        m_values = values;
    }
    const QString &sql() const { return m_sql; }
    const QVariantList &values() const { return m_values; }

    // Closes the query and runs its statement; returns the number of rows changed.
    int execute();

protected:
    QString selectStatement() const override { return m_sql; }
    QVariantList selectValues() const override { return m_values; }

private:
    QString m_sql;
    QVariantList m_values;
};

} // namespace lianbu::db
