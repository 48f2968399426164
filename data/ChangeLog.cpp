#include "data/ChangeLog.h"

#include "data/AttemptLog.h"
#include "data/FollowUpStore.h"
#include "data/OperatorStore.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QStringList>
#include <QSysInfo>

namespace lianbu::data {

namespace {

struct KindNames
{
    LogKind kind;
    const char *word;
    const char *text;
};
constexpr KindNames kKindNames[] = {
    {LogKind::CustomerAdded, "customer_add", "增加客户"},
    {LogKind::CustomerChanged, "customer_change", "修改客户"},
    {LogKind::CustomerDeleted, "customer_delete", "删除客户"},
    {LogKind::CustomerRestored, "customer_restore", "还原客户"},
    {LogKind::CustomerPurged, "customer_purge", "彻底删除客户"},
    {LogKind::OperatorAdded, "operator_add", "增加用户"},
    {LogKind::OperatorChanged, "operator_change", "修改用户"},
    {LogKind::OperatorDeleted, "operator_delete", "删除用户"},
    {LogKind::Imported, "import", "导入"},
    {LogKind::Exported, "export", "导出"},
    {LogKind::BackedUp, "backup", "备份数据"},
    {LogKind::Restored, "restore", "恢复数据"},
    {LogKind::LoginFailed, "login_failure", "登录失败"},
    {LogKind::FollowUpAdded, "followup_add", "增加跟进"},
    {LogKind::FollowUpChanged, "followup_change", "修改跟进"},
    {LogKind::FollowUpDeleted, "followup_delete", "删除跟进"},
    {LogKind::BackupFailed, "backup_failure", "备份失败"},
};

QString table()
{
    return QLatin1String(kChangeLogTable);
}

QJsonValue jsonOf(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::optional<QString> valueOf(const QJsonValue &value)
{
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

QString fieldsText(const std::vector<FieldChange> &fields)
{
    if (fields.empty())
        return {};
    QJsonArray array;
    for (const FieldChange &field : fields)
        array.append(QJsonObject{{QStringLiteral("f"), field.field},
                                 {QStringLiteral("o"), jsonOf(field.before)},
                                 {QStringLiteral("n"), jsonOf(field.after)}});
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::vector<FieldChange> fieldsOf(const QString &text)
{
    std::vector<FieldChange> fields;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue &item : array) {
        const QJsonObject object = item.toObject();
        fields.push_back({object.value(QStringLiteral("f")).toString(), valueOf(object.value(QStringLiteral("o"))),
                          valueOf(object.value(QStringLiteral("n")))});
    }
    return fields;
}

// The filter's conditions (after "where"), values bound.
QString conditions(const LogFilter &filter, QVariantList &values)
{
    QStringList terms{QStringLiteral("1=1")};
    if (filter.from.isValid()) {
        terms << QStringLiteral("log_time >= ?");
        values << attemptTimeText(filter.from.startOfDay());
    }
    if (filter.to.isValid()) {
        terms << QStringLiteral("log_time < ?");
        values << attemptTimeText(filter.to.addDays(1).startOfDay());
    }
    if (!filter.operatorName.isEmpty()) {
        terms << QStringLiteral("username = ?");
        values << filter.operatorName;
    }
    if (!filter.customer.isEmpty()) {
        bool number = false;
        const qint64 key = filter.customer.toLongLong(&number);
        // instr, not like: the operator's % and _ are plain characters here.
        terms << (number ? QStringLiteral("(customer_key = ? or strpos(subject, ?) > 0)")
                         : QStringLiteral("strpos(subject, ?) > 0"));
        if (number)
            values << key;
        values << filter.customer;
    }
    if (filter.kind) {
        terms << QStringLiteral("kind = ?");
        values << logKindWord(*filter.kind);
    }
    return terms.join(QStringLiteral(" and "));
}

// SQLite spells strpos instr.
QString forEngine(db::Connection &connection, QString sql)
{
    if (!connection.isServer())
        sql.replace(QStringLiteral("strpos("), QStringLiteral("instr("));
    return sql;
}

} // namespace

QString logKindWord(LogKind kind)
{
    for (const KindNames &names : kKindNames)
        if (names.kind == kind)
            return QLatin1String(names.word);
    return {};
}

std::optional<LogKind> logKindOfWord(const QString &word)
{
    for (const KindNames &names : kKindNames)
        if (word == QLatin1String(names.word))
            return names.kind;
    return std::nullopt;
}

QString logKindText(LogKind kind)
{
    for (const KindNames &names : kKindNames)
        if (names.kind == kind)
            return QString::fromUtf8(names.text);
    return {};
}

QString localPcName()
{
    return QSysInfo::machineHostName().left(100);
}

QStringList changeLogStatements(const db::Engine &engine)
{
    return {
        QStringLiteral("CREATE TABLE %1 (id %2, log_time VARCHAR(30), username VARCHAR(50), pc VARCHAR(100), "
                       "kind VARCHAR(20), customer_key BIGINT, subject VARCHAR(200), details TEXT)")
            .arg(table(), engine.growingKeyType()),
        QStringLiteral("CREATE INDEX change_log_time ON %1 (log_time)").arg(table()),
        QStringLiteral("CREATE INDEX change_log_customer ON %1 (customer_key)").arg(table()),
    };
}

QStringList serverLogStatements()
{
    // The writer runs as the owner (security definer), so a role that may only insert into
    // data still gets its rows logged.
    QStringList statements{
        QStringLiteral(
            R"(CREATE OR REPLACE FUNCTION change_log_write(what text, customer bigint, about text, fields jsonb)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  who text := current_setting('lianbu.operator', true);
  place text := nullif(current_setting('lianbu.pc', true), '');
BEGIN
  IF coalesce(who, '') = '' THEN who := %1 || session_user; END IF;
  IF place IS NULL THEN place := coalesce(host(inet_client_addr()), 'local'); END IF;
  INSERT INTO change_log (log_time, username, pc, kind, customer_key, subject, details)
  VALUES (to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS'), left(who, 50), left(place, 100),
          what, customer, left(coalesce(about, ''), 200),
          CASE WHEN fields IS NULL OR jsonb_array_length(fields) = 0 THEN '' ELSE fields::text END);
END $body$)")
            .arg(sql::sqlLiteral(unnamedSessionMarker())),
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_customer() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  before jsonb;
  after jsonb;
  fields jsonb := '[]'::jsonb;
  k text;
BEGIN
  IF TG_OP = 'INSERT' THEN
    IF EXISTS (SELECT 1 FROM customer_bin WHERE rid = NEW.rid) THEN
      PERFORM change_log_write('customer_restore', NEW.rid, NEW.b, NULL);
      RETURN NULL;
    END IF;
    after := to_jsonb(NEW) - 'rid';
    FOR k IN SELECT key FROM jsonb_each(after) ORDER BY key LOOP
      IF jsonb_typeof(after -> k) <> 'null' THEN
        fields := fields || jsonb_build_array(jsonb_build_object('f', k, 'o', NULL, 'n', after -> k));
      END IF;
    END LOOP;
    PERFORM change_log_write('customer_add', NEW.rid, NEW.b, fields);
  ELSIF TG_OP = 'UPDATE' THEN
    before := to_jsonb(OLD) - 'rid';
    after := to_jsonb(NEW) - 'rid';
    FOR k IN SELECT key FROM jsonb_each(after) ORDER BY key LOOP
      IF before -> k IS DISTINCT FROM after -> k THEN
        fields := fields || jsonb_build_array(jsonb_build_object('f', k, 'o', before -> k, 'n', after -> k));
      END IF;
    END LOOP;
    IF jsonb_array_length(fields) > 0 THEN
      PERFORM change_log_write('customer_change', NEW.rid, NEW.b, fields);
    END IF;
  ELSE
    before := to_jsonb(OLD) - 'rid';
    FOR k IN SELECT key FROM jsonb_each(before) ORDER BY key LOOP
      fields := fields || jsonb_build_array(jsonb_build_object('f', k, 'o', before -> k, 'n', NULL));
    END LOOP;
    PERFORM change_log_write('customer_delete', OLD.rid, OLD.b, fields);
  END IF;
  RETURN NULL;
END $body$)"),
        // A customer leaving the bin for data is a restore, logged above; otherwise it is gone.
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_purge() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM data WHERE rid = OLD.rid) THEN
    PERFORM change_log_write('customer_purge', OLD.rid, OLD.b, NULL);
  END IF;
  RETURN NULL;
END $body$)"),
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_kept() RETURNS trigger LANGUAGE plpgsql AS $body$
BEGIN
  RAISE EXCEPTION 'change_log rows are only ever added';
END $body$)"),
        QStringLiteral("DROP TRIGGER IF EXISTS change_log_customer ON data"),
        QStringLiteral("CREATE TRIGGER change_log_customer AFTER INSERT OR UPDATE OR DELETE ON data "
                       "FOR EACH ROW EXECUTE FUNCTION change_log_customer()"),
        QStringLiteral("DROP TRIGGER IF EXISTS change_log_purge ON customer_bin"),
        QStringLiteral("CREATE TRIGGER change_log_purge AFTER DELETE ON customer_bin "
                       "FOR EACH ROW EXECUTE FUNCTION change_log_purge()"),
        QStringLiteral("DROP TRIGGER IF EXISTS change_log_kept ON change_log"),
        QStringLiteral("CREATE TRIGGER change_log_kept BEFORE UPDATE OR DELETE ON change_log "
                       "FOR EACH ROW EXECUTE FUNCTION change_log_kept()"),
        QStringLiteral("DROP TRIGGER IF EXISTS change_log_kept_whole ON change_log"),
        QStringLiteral("CREATE TRIGGER change_log_kept_whole BEFORE TRUNCATE ON change_log "
                       "FOR EACH STATEMENT EXECUTE FUNCTION change_log_kept()"),
    };
    statements += serverOperatorLogStatements();
    statements += serverFollowUpLogStatements();
    statements << QStringLiteral("REVOKE ALL ON FUNCTION change_log_write(text, bigint, text, jsonb) FROM PUBLIC");
    return statements;
}

QString unnamedSessionMarker()
{
    return QStringLiteral("（未命名会话）");
}

void nameSessionOperator(db::Connection &connection, const QString &name)
{
    if (!connection.isServer() || !connection.isOpen())
        return;
    db::runBound(connection,
                 QStringLiteral("select set_config('lianbu.operator', ?, false), set_config('lianbu.pc', ?, false)"),
                 {name, localPcName()});
}

void logRowWrite(db::Connection &connection, const LogEntry &entry)
{
    if (!connection.isServer())
        ChangeLog(connection).write(entry);
}

ChangeLog::ChangeLog(db::Connection &connection)
    : m_connection(connection)
{}

void ChangeLog::write(LogEntry entry)
{
    if (!entry.time.isValid())
        entry.time = AttemptLog(m_connection).clockNow();
    if (entry.pc.isEmpty())
        entry.pc = localPcName();
    db::runBound(m_connection,
                 QStringLiteral("insert into %1 (log_time,username,pc,kind,customer_key,subject,details) "
                                "values (?,?,?,?,?,?,?)")
                     .arg(table()),
                 {attemptTimeText(entry.time), entry.operatorName, entry.pc, logKindWord(entry.kind), entry.customerKey,
                  entry.subject.left(200), fieldsText(entry.fields)});
}

std::vector<LogEntry> ChangeLog::entries(const LogFilter &filter, int count, qint64 before) const
{
    QVariantList values;
    QString where = conditions(filter, values);
    if (before > 0) {
        where += QStringLiteral(" and id < ?");
        values << before;
    }
    values << count;
    QSqlQuery query = db::runBound(
        m_connection,
        forEngine(m_connection,
                  QStringLiteral("select id,log_time,username,pc,kind,customer_key,subject,details from %1 where %2 "
                                 "order by id desc limit ?")
                      .arg(table(), where)),
        values);
    std::vector<LogEntry> result;
    while (query.next()) {
        LogEntry entry;
        entry.id = query.value(0).toLongLong();
        entry.time = attemptTimeOf(query.value(1).toString());
        entry.operatorName = query.value(2).toString();
        entry.pc = query.value(3).toString();
        entry.kind = logKindOfWord(query.value(4).toString()).value_or(LogKind::CustomerChanged);
        entry.customerKey = query.value(5).toLongLong();
        entry.subject = query.value(6).toString();
        entry.fields = fieldsOf(query.value(7).toString());
        result.push_back(std::move(entry));
    }
    return result;
}

qint64 ChangeLog::count(const LogFilter &filter) const
{
    QVariantList values;
    const QString where = conditions(filter, values);
    QSqlQuery query = db::runBound(
        m_connection, forEngine(m_connection, QStringLiteral("select count(*) from %1 where %2").arg(table(), where)),
        values);
    return query.next() ? query.value(0).toLongLong() : 0;
}

SessionOperator::SessionOperator(db::Connection &connection, QString name)
    : m_connection(connection)
    , m_name(std::move(name))
{}

void SessionOperator::require(Right right) const
{
    requireRight(m_connection, m_name, right);
}

void SessionOperator::log(LogKind kind, const QString &subject, std::vector<FieldChange> fields) const
{
    LogEntry entry;
    entry.operatorName = m_name;
    entry.kind = kind;
    entry.subject = subject;
    entry.fields = std::move(fields);
    ChangeLog(m_connection).write(std::move(entry));
}

bool mayDo(const SessionOperator *by, Right right, QWidget *parent)
{
    try {
        if (by)
            by->require(right);
        return true;
    } catch (const Error &error) {
        showInformation(error.operatorText(), parent);
        return false;
    }
}

void runLogged(db::Connection &connection, const std::function<void()> &write)
{
    // A savepoint nests inside the caller's transaction on SQLite; the server's writes of the
    // program are single statements outside any.
    const bool server = connection.isServer();
    db::runBound(connection, server ? QStringLiteral("begin") : QStringLiteral("savepoint logged_write"));
    try {
        write();
    } catch (...) {
        QSqlQuery undo(connection.database());
        if (server) {
            undo.exec(QStringLiteral("rollback"));
        } else {
            undo.exec(QStringLiteral("rollback to logged_write"));
            undo.exec(QStringLiteral("release logged_write"));
        }
        throw;
    }
    db::runBound(connection, server ? QStringLiteral("commit") : QStringLiteral("release logged_write"));
}

void runLogged(db::Connection &connection, const QString &operatorName, const std::function<void()> &write)
{
    runLogged(connection, [&] {
        // Local to the transaction runLogged holds on the server.
        if (connection.isServer() && !operatorName.isEmpty())
            db::runBound(connection,
                         QStringLiteral("select set_config('lianbu.operator', ?, true), "
                                        "set_config('lianbu.pc', ?, true)"),
                         {operatorName, localPcName()});
        write();
    });
}

} // namespace lianbu::data
