#include "data/OperatorRights.h"

#include "data/Schema.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Error.h"

#include <QStringList>

namespace lianbu::data {

namespace {

// Stored words; never change them.
struct RoleWord
{
    Role role;
    const char *word;
};
constexpr RoleWord kRoleWords[] = {
    {Role::Administrator, "administrator"}, {Role::Clerk, "clerk"}, {Role::Viewer, "viewer"}};

struct RightWord
{
    Right right;
    const char *word;
};
constexpr RightWord kRightWords[] = {{Right::Delete, "delete"},
                                     {Right::Import, "import"},
                                     {Right::Export, "export"},
                                     {Right::Print, "print"},
                                     {Right::BackupRestore, "backup"}};

unsigned bit(Right right)
{
    return static_cast<unsigned>(right);
}

unsigned grantableBits()
{
    unsigned bits = 0;
    for (Right right : kGrantableRights)
        bits |= bit(right);
    return bits;
}

QString grantsWords(unsigned grants)
{
    QStringList words;
    for (const RightWord &entry : kRightWords)
        if (grants & bit(entry.right))
            words << QLatin1String(entry.word);
    return words.join(QLatin1Char(','));
}

unsigned grantsOf(const QString &text)
{
    unsigned grants = 0;
    const QStringList words = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &word : words)
        for (const RightWord &entry : kRightWords)
            if (word.trimmed() == QLatin1String(entry.word))
                grants |= bit(entry.right);
    return grants;
}

} // namespace

bool Rights::allows(Right right) const
{
    if (superAdministrator)
        return true;
    if (right == Right::ManageOperators)
        return false;
    switch (role) {
    case Role::Administrator:
        return true;
    case Role::Clerk:
        if (right == Right::Edit || right == Right::Print)
            return true;
        break;
    case Role::Viewer:
        break;
    }
    return (grants & grantableBits() & bit(right)) != 0;
}

Rights formerRights()
{
    return {Role::Administrator, 0, false};
}

Rights newOperatorRights()
{
    return {Role::Clerk, 0, false};
}

QString roleText(Role role)
{
    switch (role) {
    case Role::Administrator:
        return QStringLiteral("管理员");
    case Role::Clerk:
        return QStringLiteral("业务员");
    case Role::Viewer:
        return QStringLiteral("查询员");
    }
    return {};
}

QString rightText(Right right)
{
    switch (right) {
    case Right::Edit:
        return QStringLiteral("增加和修改");
    case Right::Delete:
        return QStringLiteral("删除");
    case Right::Import:
        return QStringLiteral("导入");
    case Right::Export:
        return QStringLiteral("导出");
    case Right::Print:
        return QStringLiteral("打印");
    case Right::BackupRestore:
        return QStringLiteral("备份恢复");
    case Right::ViewLog:
        return QStringLiteral("操作日志");
    case Right::ManageOperators:
        return QStringLiteral("用户管理");
    }
    return {};
}

QString refusalText(Right right)
{
    switch (right) {
    case Right::Edit:
        return QStringLiteral("你没有增加和修改客户资料的权限，请与超级管理员联系。");
    case Right::Delete:
        return QStringLiteral("你没有删除客户资料的权限，请与超级管理员联系。");
    case Right::Import:
        return QStringLiteral("你没有导入客户资料的权限，请与超级管理员联系。");
    case Right::Export:
        return QStringLiteral("你没有导出客户资料的权限，请与超级管理员联系。");
    case Right::Print:
        return QStringLiteral("你没有打印客户资料的权限，请与超级管理员联系。");
    case Right::BackupRestore:
        return QStringLiteral("你没有备份和恢复数据的权限，请与超级管理员联系。");
    case Right::ViewLog:
        return QStringLiteral("只有超级管理员和管理员可以查看操作日志。");
    case Right::ManageOperators:
        return QStringLiteral("只有超级管理员可以管理用户。");
    }
    return {};
}

QString rightsTableStatement(const db::Engine &)
{
    return QStringLiteral("CREATE TABLE %1 (username VARCHAR(50) PRIMARY KEY, role VARCHAR(20), grants VARCHAR(100))")
        .arg(QLatin1String(kRightsTable));
}

QStringList serverRightsTextStatements()
{
    // Built from the same words and texts as rightsOf and roleText, so both engines log alike.
    QStringList roles;
    for (const RoleWord &entry : kRoleWords)
        if (entry.role != Role::Viewer)
            roles << QStringLiteral("WHEN %1 THEN %2")
                         .arg(sql::sqlLiteral(QLatin1String(entry.word)), sql::sqlLiteral(roleText(entry.role)));
    QStringList rights;
    int position = 0;
    for (Right right : kGrantableRights)
        for (const RightWord &entry : kRightWords)
            if (entry.right == right)
                rights << QStringLiteral("(%1, %2, %3)")
                              .arg(++position)
                              .arg(sql::sqlLiteral(QLatin1String(entry.word)), sql::sqlLiteral(rightText(right)));
    return {
        QStringLiteral("CREATE OR REPLACE FUNCTION change_log_role_text(word text) RETURNS text LANGUAGE sql "
                       "IMMUTABLE AS $body$ SELECT CASE word %1 ELSE %2 END $body$")
            .arg(roles.join(QLatin1Char(' ')), sql::sqlLiteral(roleText(Role::Viewer))),
        QStringLiteral("CREATE OR REPLACE FUNCTION change_log_grants_text(words text) RETURNS text LANGUAGE sql "
                       "IMMUTABLE AS $body$ SELECT coalesce(string_agg(t.name, %1 ORDER BY t.pos), '') "
                       "FROM (VALUES %2) AS t(pos, word, name) WHERE t.word IN "
                       "(SELECT btrim(w) FROM unnest(string_to_array(coalesce(words, ''), ',')) AS w) $body$")
            .arg(sql::sqlLiteral(QStringLiteral("、")), rights.join(QLatin1Char(','))),
    };
}

Rights rightsOf(db::Connection &connection, const QString &name)
{
    if (name == superAdministratorName())
        return {Role::Administrator, grantableBits(), true};
    QSqlQuery query = db::runBound(
        connection, QStringLiteral("select role, grants from %1 where username=?").arg(QLatin1String(kRightsTable)),
        {name});
    Rights rights; // no row: read and search only
    if (!query.next())
        return rights;
    const QString word = query.value(0).toString();
    for (const RoleWord &entry : kRoleWords)
        if (word == QLatin1String(entry.word))
            rights.role = entry.role;
    rights.grants = grantsOf(query.value(1).toString());
    return rights;
}

void storeRights(db::Connection &connection, const QString &name, const Rights &rights)
{
    if (name == superAdministratorName() || rights.superAdministrator)
        throw Error(QStringLiteral("The super administrator's rights are not stored"),
                    QStringLiteral("超级管理员的权限不能更改。"));
    QString role;
    for (const RoleWord &entry : kRoleWords)
        if (entry.role == rights.role)
            role = QLatin1String(entry.word);
    // One statement, so the server's trigger sees one change from the old rights to the new.
    db::runBound(connection,
                 QStringLiteral("insert into %1 (username,role,grants) values (?,?,?) on conflict (username) do "
                                "update set role = excluded.role, grants = excluded.grants")
                     .arg(QLatin1String(kRightsTable)),
                 {name, role, grantsWords(rights.grants)});
}

void forgetRights(db::Connection &connection, const QString &name)
{
    db::runBound(connection, QStringLiteral("delete from %1 where username=?").arg(QLatin1String(kRightsTable)),
                 {name});
}

void requireRight(db::Connection &connection, const QString &operatorName, Right right)
{
    if (operatorName.isEmpty())
        return;
    if (!rightsOf(connection, operatorName).allows(right))
        throw Error(QStringLiteral("The operator %1 lacks the right to %2").arg(operatorName, rightText(right)),
                    refusalText(right));
}

} // namespace lianbu::data
