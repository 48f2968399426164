#include "data/OperatorStore.h"

#include "data/AttemptLog.h"
#include "data/ChangeLog.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"

#include <QStringList>

namespace lianbu::data {

namespace {

QStringList storedPasswords(db::Connection &connection, const QString &name)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("select passwd from userdb where username=?"), {name});
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

void logOperator(db::Connection &connection, LogKind kind, const QString &name, const QString &changedBy,
                 std::vector<FieldChange> fields = {})
{
    LogEntry entry;
    entry.operatorName = changedBy;
    entry.kind = kind;
    entry.subject = name;
    entry.fields = std::move(fields);
    logRowWrite(connection, entry);
}

QString grantsText(const Rights &rights)
{
    QStringList names;
    for (Right right : kGrantableRights)
        if (rights.grants & unsigned(right))
            names << rightText(right);
    return names.join(QStringLiteral("、"));
}

} // namespace

OperatorStore::OperatorStore(db::Connection &connection)
    : m_connection(connection)
{}

bool OperatorStore::checkPassword(const QString &name, const QString &password)
{
    const QStringList stored = storedPasswords(m_connection, name);
    const QString *match = nullptr;
    int matches = 0;
    for (const QString &value : stored) {
        if (verifyPassword(value, password)) {
            match = &value;
            ++matches;
        }
    }
    if (matches != 1)
        return false;
    if (isPasswordHash(*match) && needsRehash(*match)) {
        // Compared with the value just read, so a password another program set in between is
        // kept. The server's log says the same password was stored anew, by its operator.
        runLogged(m_connection, name, [&] {
            if (m_connection.isServer())
                db::runBound(m_connection, QStringLiteral("select set_config('lianbu.rehash', 'on', true)"));
            db::runBound(m_connection, QStringLiteral("update userdb set passwd=? where username=? and passwd=?"),
                         {hashPassword(password), name, *match});
        });
    }
    return true;
}

namespace {

int storePassword(db::Connection &connection, const QString &name, const QString &password)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("update userdb set passwd=? where username=?"),
                                   {hashPassword(password), name});
    return query.numRowsAffected();
}

} // namespace

void OperatorStore::logChange(const QString &name, const QString &changedBy, const QString &kind)
{
    db::runBound(m_connection,
                 QStringLiteral("insert into %1 (username,changed_by,change_time,kind) values (?,?,?,?)")
                     .arg(QLatin1String(kPasswordChangeTable)),
                 {name, changedBy, attemptTimeText(AttemptLog(m_connection).clockNow()), kind});
}

int OperatorStore::setPassword(const QString &name, const QString &newPassword, const QString &changedBy)
{
    int changed = 0;
    runLogged(m_connection, changedBy, [&] {
        changed = storePassword(m_connection, name, newPassword);
        if (changed > 0) {
            logChange(name, changedBy, QStringLiteral("change"));
            // Never the password itself, nor its hash.
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy,
                        {{QStringLiteral("密码"), std::nullopt, QStringLiteral("（已修改）")}});
        }
    });
    return changed;
}

int OperatorStore::resetPassword(const QString &name, const QString &changedBy)
{
    int changed = 0;
    runLogged(m_connection, changedBy, [&] {
        changed = storePassword(m_connection, name, sql::defaultPassword());
        if (changed > 0) {
            logChange(name, changedBy, QStringLiteral("reset"));
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy,
                        {{QStringLiteral("密码"), std::nullopt, QStringLiteral("（初始化）")}});
        }
    });
    return changed;
}

void OperatorStore::addOperator(const QString &name, const QString &changedBy)
{
    runLogged(m_connection, changedBy, [&] {
        // Rights first: the server's log of the new row names his role.
        storeRights(m_connection, name, newOperatorRights());
        db::runBound(m_connection, QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
                     {name, hashPassword(sql::defaultPassword())});
        logChange(name, changedBy, QStringLiteral("add"));
        logOperator(m_connection, LogKind::OperatorAdded, name, changedBy,
                    {{QStringLiteral("角色"), std::nullopt, roleText(newOperatorRights().role)}});
    });
}

int OperatorStore::removeOperator(const QString &name, const QString &changedBy)
{
    int removed = 0;
    runLogged(m_connection, changedBy, [&] {
        QSqlQuery query = db::runBound(m_connection, QStringLiteral("delete from userdb where username=?"), {name});
        removed = query.numRowsAffected();
        forgetRights(m_connection, name);
        if (removed > 0)
            logOperator(m_connection, LogKind::OperatorDeleted, name, changedBy);
    });
    return removed;
}

bool OperatorStore::setRights(const QString &name, const Rights &rights, const QString &changedBy)
{
    if (!exists(name))
        return false;
    runLogged(m_connection, changedBy, [&] {
        const Rights before = rightsOf(m_connection, name);
        storeRights(m_connection, name, rights);
        std::vector<FieldChange> fields;
        if (before.role != rights.role)
            fields.push_back({QStringLiteral("角色"), roleText(before.role), roleText(rights.role)});
        if (grantsText(before) != grantsText(rights))
            fields.push_back({QStringLiteral("单项权限"), grantsText(before), grantsText(rights)});
        if (!fields.empty())
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy, std::move(fields));
    });
    return true;
}

bool OperatorStore::exists(const QString &name)
{
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select count(*) from userdb where username=?"), {name});
    return query.next() && query.value(0).toInt() > 0;
}

std::vector<OperatorStore::Change> OperatorStore::changes()
{
    std::vector<Change> result;
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select username, changed_by, change_time, kind from %1 "
                                                  "order by id")
                                       .arg(QLatin1String(kPasswordChangeTable)));
    while (query.next())
        result.push_back({query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                          query.value(3).toString()});
    return result;
}

bool OperatorStore::hasDefaultPassword(const QString &name)
{
    const QStringList stored = storedPasswords(m_connection, name);
    for (const QString &value : stored)
        if (verifyPassword(value, sql::defaultPassword()))
            return true;
    return false;
}

QStringList serverOperatorLogStatements()
{
    // An operator's rows are written a statement at a time (all rows of one name at once), so
    // changes and removals are logged per name and statement: one entry however many rows.
    const QString added = QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_operator_added() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  role_word text;
  grant_words text;
  fields jsonb := '[]'::jsonb;
BEGIN
  IF NEW.username IS DISTINCT FROM %1 THEN
    SELECT role, grants INTO role_word, grant_words FROM operator_rights WHERE username = NEW.username;
    fields := jsonb_build_array(jsonb_build_object('f', '角色', 'o', NULL, 'n', change_log_role_text(role_word)));
    IF change_log_grants_text(grant_words) <> '' THEN
      fields := fields || jsonb_build_array(jsonb_build_object('f', '单项权限', 'o', NULL,
                                                               'n', change_log_grants_text(grant_words)));
    END IF;
  END IF;
  PERFORM change_log_write('operator_add', 0, NEW.username, fields);
  RETURN NULL;
END $body$)")
                              .arg(sql::sqlLiteral(superAdministratorName()));
    const QString changed = QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_operator_changed() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  r record;
  fields jsonb;
  stored text := CASE WHEN current_setting('lianbu.rehash', true) = 'on' THEN '（重新加密，密码未变）'
                      ELSE '（已修改）' END;
BEGIN
  FOR r IN SELECT o.username AS before_name, n.username AS after_name,
                  bool_or(o.passwd IS DISTINCT FROM n.passwd) AS new_password
           FROM gone o JOIN kept n ON n.rid = o.rid GROUP BY o.username, n.username ORDER BY 2, 1 LOOP
    fields := '[]'::jsonb;
    IF r.before_name IS DISTINCT FROM r.after_name THEN
      fields := fields || jsonb_build_array(jsonb_build_object('f', '用户名', 'o', r.before_name, 'n', r.after_name));
    END IF;
    IF r.new_password THEN
      fields := fields || jsonb_build_array(jsonb_build_object('f', '密码', 'o', NULL, 'n', stored));
    END IF;
    IF jsonb_array_length(fields) > 0 THEN
      PERFORM change_log_write('operator_change', 0, r.after_name, fields);
    END IF;
  END LOOP;
  RETURN NULL;
END $body$)");
    const QString removed = QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_operator_removed() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  who text;
BEGIN
  FOR who IN SELECT DISTINCT username FROM gone ORDER BY 1 LOOP
    PERFORM change_log_write('operator_delete', 0, who, NULL);
  END LOOP;
  RETURN NULL;
END $body$)");
    // Rights of a name without an operator row are nobody's yet (an add writes them first) or any
    // more (a removal deletes them last).
    const QString rights = QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_operator_rights() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  before_role text;
  before_grants text;
  after_role text;
  after_grants text;
  who text;
  fields jsonb := '[]'::jsonb;
BEGIN
  IF TG_OP = 'DELETE' THEN who := OLD.username; ELSE who := NEW.username; END IF;
  IF TG_OP <> 'UPDATE' AND NOT EXISTS (SELECT 1 FROM userdb WHERE username = who) THEN
    RETURN NULL;
  END IF;
  IF TG_OP <> 'INSERT' THEN before_role := OLD.role; before_grants := OLD.grants; END IF;
  IF TG_OP <> 'DELETE' THEN after_role := NEW.role; after_grants := NEW.grants; END IF;
  IF TG_OP = 'UPDATE' AND OLD.username IS DISTINCT FROM NEW.username THEN
    fields := fields || jsonb_build_array(jsonb_build_object('f', '用户名', 'o', OLD.username, 'n', NEW.username));
  END IF;
  IF change_log_role_text(before_role) <> change_log_role_text(after_role) THEN
    fields := fields || jsonb_build_array(jsonb_build_object('f', '角色', 'o', change_log_role_text(before_role),
                                                             'n', change_log_role_text(after_role)));
  END IF;
  IF change_log_grants_text(before_grants) <> change_log_grants_text(after_grants) THEN
    fields := fields || jsonb_build_array(jsonb_build_object('f', '单项权限', 'o', change_log_grants_text(before_grants),
                                                             'n', change_log_grants_text(after_grants)));
  END IF;
  IF jsonb_array_length(fields) > 0 THEN
    PERFORM change_log_write('operator_change', 0, who, fields);
  END IF;
  RETURN NULL;
END $body$)");
    return serverRightsTextStatements()
           + QStringList{
               added,
               changed,
               removed,
               rights,
               QStringLiteral("DROP TRIGGER IF EXISTS change_log_operator_added ON userdb"),
               QStringLiteral("CREATE TRIGGER change_log_operator_added AFTER INSERT ON userdb "
                              "FOR EACH ROW EXECUTE FUNCTION change_log_operator_added()"),
               QStringLiteral("DROP TRIGGER IF EXISTS change_log_operator_changed ON userdb"),
               QStringLiteral("CREATE TRIGGER change_log_operator_changed AFTER UPDATE ON userdb "
                              "REFERENCING OLD TABLE AS gone NEW TABLE AS kept "
                              "FOR EACH STATEMENT EXECUTE FUNCTION change_log_operator_changed()"),
               QStringLiteral("DROP TRIGGER IF EXISTS change_log_operator_removed ON userdb"),
               QStringLiteral("CREATE TRIGGER change_log_operator_removed AFTER DELETE ON userdb "
                              "REFERENCING OLD TABLE AS gone "
                              "FOR EACH STATEMENT EXECUTE FUNCTION change_log_operator_removed()"),
               QStringLiteral("DROP TRIGGER IF EXISTS change_log_operator_rights ON operator_rights"),
               QStringLiteral("CREATE TRIGGER change_log_operator_rights AFTER INSERT OR UPDATE OR DELETE "
                              "ON operator_rights FOR EACH ROW EXECUTE FUNCTION change_log_operator_rights()"),
           };
}

} // namespace lianbu::data
