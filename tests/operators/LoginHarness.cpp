#include "data/RegisterUpgrade.h"
#include "tests/operators/LoginHarness.h"

#include "db/Engine.h"

#include "data/Statements.h"

#include <QSqlQuery>
#include <QTest>
#include <QGuiApplication>

namespace lianbu::test {

LoginHarness::LoginHarness()
    : MainWindowHarness(false)
{
    dialog = new LoginDialog(*data, form.get());
    form->followLogin(dialog);
    show();
    // Settle the main window's activation first, so it cannot take the focus from the dialog.
    QTRY_COMPARE(QGuiApplication::focusWindow(), form->windowHandle());
}

void LoginHarness::addOperator(const QString &name, const QString &password)
{
    data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values (%1,%2)")
                                  .arg(sql::sqlLiteral(name), sql::sqlLiteral(password)));
    lianbu::data::hashPlainPasswords(*data->connection);
}

void LoginHarness::allowDuplicateNames()
{
    db::Connection *c = data->connection;
    // As an older register has it: no unique index (on the server with its hidden key and room
    // for the hash).
    const db::Engine &engine = db::engineOf(c->database());
    if (engine.kind() == db::Engine::Kind::Postgres)
        c->execute(QStringLiteral("create table userdb_copy (rid %1, username VARCHAR(50), passwd VARCHAR(128))")
                       .arg(engine.growingKeyType()));
    else
        c->execute(QStringLiteral("create table userdb_copy (username VARCHAR(50), passwd VARCHAR(50))"));
    c->execute(
        QStringLiteral("insert into userdb_copy (username, passwd) select username, passwd from userdb order by %1")
            .arg(engine.rowKey(QStringLiteral("userdb"))));
    c->execute(QStringLiteral("drop table userdb"));
    c->execute(QStringLiteral("alter table userdb_copy rename to userdb"));
}

QList<QStringList> LoginHarness::sessions() const
{
    QList<QStringList> rows;
    QSqlQuery q(data->connection->database());
    q.exec(QStringLiteral("select id, username, btime, jtime from rz order by id"));
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < 4; ++i)
            row << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
        rows << row;
    }
    return rows;
}

void LoginHarness::showDialog()
{
    dialog->show();
    // The dialog counts as active as soon as its owner is; wait for the focus itself.
    QTRY_COMPARE(QGuiApplication::focusWindow(), dialog->windowHandle());
}

} // namespace lianbu::test
