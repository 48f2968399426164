#pragma once

#include <QString>
#include <QTemporaryDir>

namespace lianbu::db {
class Connection;
}

namespace lianbu::test {

// The first value of the first row of a count (or any one-number) statement; -1 with no row.
qint64 countOf(db::Connection &connection, const QString &sql);

// Creates the delivered data.db (tables, administrator row) in `folder`; returns its path.
QString createDataDb(const QString &folder);

// Runs statements on an SQLite file (created when missing) through a connection of its own, as
// another program would; false (with a warning naming it) when one is refused. `lastValue`
// receives the first value of the last statement's first row.
bool execOnFile(const QString &path, const QStringList &statements, QString *lastValue = nullptr);

// Damages the customers of a register file as a failing disk would: many customers are written
// (so they fill pages of their own), then the header of the customer table's first page is
// overwritten. The operators and the schema stay readable. False when that could not be done.
bool damageCustomerPage(const QString &path);

// A fresh temporary folder holding a fresh delivered data.db. With makeCurrent it becomes the
// working directory (so the bare name "data.db" finds it) until the object is destroyed.
// When the tests run against the server (LIANBU_TEST_ENGINE=postgresql, see TestServer.h), the
// register is instead a fresh database on the test cluster, created as lianbu-initdb creates
// one, and path() is its address: every place that opens path() then works on the server.
class TestDatabase
{
public:
    explicit TestDatabase(bool makeCurrent = true);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    QString folder() const { return m_dir.path(); }
    QString path() const { return m_path; }
    // True when the register is on the test server.
    bool isServer() const { return m_server; }
    // Path of another file in the folder.
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_previousCurrent;
    bool m_server = false;
};

} // namespace lianbu::test
