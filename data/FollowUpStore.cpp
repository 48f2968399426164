#include "data/FollowUpStore.h"

#include "data/AttemptLog.h"
#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/OperatorRights.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/Field.h"
#include "platform/Error.h"

#include <QSqlQuery>

#include <algorithm>

namespace lianbu::data {

namespace {

const QString kColumns = QStringLiteral("id,customer,contact_time,username,way,content,result,next_date,settled");

QString table()
{
    return QLatin1String(kFollowUpTable);
}

QString dateText(const QDate &date)
{
    return date.toString(Qt::ISODate);
}

// An invalid date is stored as NULL (a null text would be bound as empty text).
QVariant dateValue(const QDate &date)
{
    return date.isValid() ? QVariant(dateText(date)) : QVariant();
}

FollowUpFields cut(const FollowUpFields &fields)
{
    return {db::cutToWidth(fields.way.trimmed(), kFollowUpWayWidth),
            db::cutToWidth(fields.content, kFollowUpContentWidth), db::cutToWidth(fields.result, kFollowUpResultWidth),
            fields.nextDate};
}

FollowUp followUpAt(const QSqlQuery &query, int first = 0)
{
    FollowUp followUp;
    followUp.id = query.value(first).toLongLong();
    followUp.customer = query.value(first + 1).toLongLong();
    followUp.time = attemptTimeOf(query.value(first + 2).toString());
    followUp.operatorName = query.value(first + 3).toString();
    followUp.fields.way = query.value(first + 4).toString();
    followUp.fields.content = query.value(first + 5).toString();
    followUp.fields.result = query.value(first + 6).toString();
    followUp.fields.nextDate = QDate::fromString(query.value(first + 7).toString(), Qt::ISODate);
    followUp.settled = query.value(first + 8).toInt() != 0;
    return followUp;
}

QString customerKeyColumn(db::Connection &connection)
{
    return connection.isServer() ? QStringLiteral("rid") : QStringLiteral("rowid");
}

// The customer's 客户简称; nullopt when the customer table does not hold it.
std::optional<QString> customerShortName(db::Connection &connection, qint64 customer)
{
    QSqlQuery query = db::runBound(connection,
                                   QStringLiteral("select %1 from data where %2=?")
                                       .arg(QLatin1String(col::ShortName), customerKeyColumn(connection)),
                                   {customer});
    if (!query.next())
        return std::nullopt;
    return query.value(0).toString();
}

std::vector<FieldChange> changesOf(const FollowUpFields &before, const FollowUpFields &after)
{
    std::vector<FieldChange> changes;
    auto note = [&](const char *field, const QString &from, const QString &to) {
        if (from != to)
            changes.push_back({QString::fromUtf8(field), from, to});
    };
    note("方式", before.way, after.way);
    note("内容", before.content, after.content);
    note("结果", before.result, after.result);
    note("下次联系", dateText(before.nextDate), dateText(after.nextDate));
    return changes;
}

void writeLog(db::Connection &connection, const QString &operatorName, LogKind kind, qint64 customer,
              std::vector<FieldChange> fields)
{
    LogEntry entry;
    entry.operatorName = operatorName;
    entry.kind = kind;
    entry.customerKey = customer;
    entry.subject = customerShortName(connection, customer).value_or(QString());
    entry.fields = std::move(fields);
    logRowWrite(connection, entry);
}

// "where id=? and <each field as read>": a follow-up changed or deleted meanwhile matches nothing.
QString asReadConditions(db::Connection &connection, const FollowUp &asRead, QVariantList &values)
{
    const db::Engine &engine = db::engineOf(connection.database());
    values << asRead.id << asRead.fields.way << asRead.fields.content << asRead.fields.result
           << dateValue(asRead.fields.nextDate) << (asRead.settled ? 1 : 0);
    return QStringLiteral("id=? and %1 and %2 and %3 and %4 and settled=? and binned=0")
        .arg(engine.sameAs(QStringLiteral("way")), engine.sameAs(QStringLiteral("content")),
             engine.sameAs(QStringLiteral("result")), engine.sameAs(QStringLiteral("next_date")));
}

} // namespace

QStringList followUpTableStatements(const db::Engine &engine)
{
    return {
        QStringLiteral("CREATE TABLE %1 (id %2, customer BIGINT NOT NULL, contact_time VARCHAR(30), "
                       "username VARCHAR(50), way VARCHAR(%3), content VARCHAR(%4), result VARCHAR(%5), "
                       "next_date VARCHAR(10), settled INTEGER NOT NULL DEFAULT 0, "
                       "binned INTEGER NOT NULL DEFAULT 0)")
            .arg(table(), engine.growingKeyType())
            .arg(kFollowUpWayWidth)
            .arg(kFollowUpContentWidth)
            .arg(kFollowUpResultWidth),
        QStringLiteral("CREATE INDEX followups_customer ON %1 (customer, contact_time)").arg(table()),
        // Only unkept promises: the reminder at login reads a small index however long the history.
        QStringLiteral("CREATE INDEX followups_due ON %1 (next_date) WHERE settled = 0").arg(table()),
    };
}

QStringList defaultFollowUpWays()
{
    return {QStringLiteral("电话"), QStringLiteral("微信"), QStringLiteral("上门"),
            QStringLiteral("邮件"), QStringLiteral("短信"), QStringLiteral("其他")};
}

QStringList followUpWayStatements(const db::Engine &)
{
    QStringList statements{QStringLiteral("CREATE TABLE %1 (way VARCHAR(%2) PRIMARY KEY, position INTEGER)")
                               .arg(QLatin1String(kFollowUpWayTable))
                               .arg(kFollowUpWayWidth)};
    const QStringList ways = defaultFollowUpWays();
    for (qsizetype i = 0; i < ways.size(); ++i)
        statements << QStringLiteral("INSERT INTO %1 (way, position) VALUES ('%2', %3)")
                          .arg(QLatin1String(kFollowUpWayTable), ways.at(i))
                          .arg(i + 1);
    return statements;
}

QStringList reminderOffStatements(const db::Engine &)
{
    return {QStringLiteral("CREATE TABLE %1 (username VARCHAR(50) PRIMARY KEY)").arg(QLatin1String(kReminderOffTable))};
}

FollowUpStore::FollowUpStore(db::Connection &connection, QString operatorName)
    : m_connection(connection)
    , m_operator(std::move(operatorName))
{}

std::vector<FollowUp> FollowUpStore::ofCustomer(qint64 customer) const
{
    QSqlQuery query = db::runBound(m_connection,
                                   QStringLiteral("select %1 from %2 where customer=? and binned=0 "
                                                  "order by contact_time desc, id desc")
                                       .arg(kColumns, table()),
                                   {customer});
    std::vector<FollowUp> result;
    while (query.next())
        result.push_back(followUpAt(query));
    return result;
}

std::optional<FollowUp> FollowUpStore::read(qint64 id) const
{
    QSqlQuery query = db::runBound(
        m_connection, QStringLiteral("select %1 from %2 where id=? and binned=0").arg(kColumns, table()), {id});
    if (!query.next())
        return std::nullopt;
    return followUpAt(query);
}

qint64 FollowUpStore::add(qint64 customer, const FollowUpFields &typed)
{
    requireRight(m_connection, m_operator, Right::Edit);
    qint64 id = 0;
    runLogged(m_connection, m_operator, [&] { id = insert(customer, cut(typed)); });
    return id;
}

qint64 FollowUpStore::insert(qint64 customer, const FollowUpFields &fields)
{
    if (!customerShortName(m_connection, customer))
        throw Error(QStringLiteral("The customer %1 is not in the register.").arg(customer),
                    QStringLiteral("这位客户已被删除，跟进记录没有保存。请重新查询列表；你输入的内容仍保留。"));
    const QString statement =
        QStringLiteral("insert into %1 (customer,contact_time,username,way,content,result,next_date,settled,binned) "
                       "values (?,?,?,?,?,?,?,0,0)")
            .arg(table());
    const QVariantList values{customer,
                              attemptTimeText(AttemptLog(m_connection).clockNow()),
                              m_operator,
                              fields.way,
                              fields.content,
                              fields.result,
                              dateValue(fields.nextDate)};
    qint64 id = 0;
    if (m_connection.isServer()) {
        QSqlQuery query = db::runBound(m_connection, statement + QStringLiteral(" returning id"), values);
        id = query.next() ? query.value(0).toLongLong() : 0;
    } else {
        id = db::runBound(m_connection, statement, values).lastInsertId().toLongLong();
    }
    writeLog(m_connection, m_operator, LogKind::FollowUpAdded, customer, changesOf({}, fields));
    return id;
}

FollowUpStore::Outcome FollowUpStore::modify(const FollowUp &asRead, const FollowUpFields &typed)
{
    requireRight(m_connection, m_operator, Right::Edit);
    const FollowUpFields changes = cut(typed);
    int written = 0;
    runLogged(m_connection, m_operator, [&] {
        QVariantList values{changes.way, changes.content, changes.result, dateValue(changes.nextDate)};
        const QString where = asReadConditions(m_connection, asRead, values);
        written =
            db::runBound(
                m_connection,
                QStringLiteral("update %1 set way=?, content=?, result=?, next_date=? where %2").arg(table(), where),
                values)
                .numRowsAffected();
        const std::vector<FieldChange> fields = changesOf(asRead.fields, changes);
        if (written > 0 && !fields.empty())
            writeLog(m_connection, m_operator, LogKind::FollowUpChanged, asRead.customer, fields);
    });
    if (written > 0)
        return Outcome::Done;
    return read(asRead.id) ? Outcome::Changed : Outcome::Gone;
}

FollowUpStore::Outcome FollowUpStore::remove(const FollowUp &asRead)
{
    requireRight(m_connection, m_operator, Right::Delete);
    int removed = 0;
    runLogged(m_connection, m_operator, [&] {
        QVariantList values;
        const QString where = asReadConditions(m_connection, asRead, values);
        removed = db::runBound(m_connection, QStringLiteral("delete from %1 where %2").arg(table(), where), values)
                      .numRowsAffected();
        if (removed > 0)
            writeLog(m_connection, m_operator, LogKind::FollowUpDeleted, asRead.customer, changesOf(asRead.fields, {}));
    });
    if (removed > 0)
        return Outcome::Done;
    return read(asRead.id) ? Outcome::Changed : Outcome::Gone;
}

FollowUpStore::Outcome FollowUpStore::complete(const FollowUp &asRead, const FollowUpFields &outcome, qint64 *added)
{
    requireRight(m_connection, m_operator, Right::Edit);
    int written = 0;
    runLogged(m_connection, m_operator, [&] {
        QVariantList values;
        const QString where = asReadConditions(m_connection, asRead, values);
        written =
            db::runBound(m_connection, QStringLiteral("update %1 set settled=1 where %2").arg(table(), where), values)
                .numRowsAffected();
        if (written == 0)
            return;
        writeLog(m_connection, m_operator, LogKind::FollowUpChanged, asRead.customer,
                 {{QStringLiteral("完成"), QStringLiteral("否"), QStringLiteral("是")}});
        const qint64 id = insert(asRead.customer, cut(outcome));
        if (added)
            *added = id;
    });
    if (written > 0)
        return Outcome::Done;
    return read(asRead.id) ? Outcome::Changed : Outcome::Gone;
}

FollowUpStore::Outcome FollowUpStore::reschedule(const FollowUp &asRead, const QDate &date)
{
    FollowUpFields changed = asRead.fields;
    changed.nextDate = date;
    return modify(asRead, changed);
}

QStringList serverFollowUpLogStatements()
{
    // The captions and the empty-for-none values of changesOf; 客户, 时间 and 操作员 only change
    // outside the program.
    return {
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION change_log_followup() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  fields jsonb := '[]'::jsonb;
  before text[] := ARRAY['', '', '', '', '', '', ''];
  after text[] := ARRAY['', '', '', '', '', '', ''];
  captions text[] := ARRAY['方式', '内容', '结果', '下次联系', '客户', '时间', '操作员'];
  what text;
  customer bigint;
  i int;
BEGIN
  IF TG_OP = 'UPDATE' AND OLD.binned IS DISTINCT FROM NEW.binned THEN
    RETURN NULL;
  END IF;
  IF TG_OP <> 'UPDATE' AND coalesce((CASE WHEN TG_OP = 'INSERT' THEN NEW.binned ELSE OLD.binned END), 0) <> 0 THEN
    RETURN NULL;
  END IF;
  IF TG_OP <> 'INSERT' THEN
    before := ARRAY[coalesce(OLD.way, ''), coalesce(OLD.content, ''), coalesce(OLD.result, ''),
                    coalesce(OLD.next_date, ''), OLD.customer::text, coalesce(OLD.contact_time, ''),
                    coalesce(OLD.username, '')];
    customer := OLD.customer;
  END IF;
  IF TG_OP <> 'DELETE' THEN
    after := ARRAY[coalesce(NEW.way, ''), coalesce(NEW.content, ''), coalesce(NEW.result, ''),
                   coalesce(NEW.next_date, ''), NEW.customer::text, coalesce(NEW.contact_time, ''),
                   coalesce(NEW.username, '')];
    customer := NEW.customer;
  END IF;
  FOR i IN 1 .. CASE WHEN TG_OP = 'UPDATE' THEN 7 ELSE 4 END LOOP
    IF before[i] <> after[i] THEN
      fields := fields || jsonb_build_array(jsonb_build_object('f', captions[i], 'o', before[i], 'n', after[i]));
    END IF;
  END LOOP;
  IF TG_OP = 'UPDATE' AND OLD.settled IS DISTINCT FROM NEW.settled THEN
    fields := fields || jsonb_build_array(jsonb_build_object(
      'f', '完成', 'o', CASE WHEN coalesce(OLD.settled, 0) <> 0 THEN '是' ELSE '否' END,
      'n', CASE WHEN coalesce(NEW.settled, 0) <> 0 THEN '是' ELSE '否' END));
  END IF;
  IF TG_OP = 'INSERT' THEN
    what := 'followup_add';
  ELSIF TG_OP = 'DELETE' THEN
    what := 'followup_delete';
  ELSIF jsonb_array_length(fields) > 0 THEN
    what := 'followup_change';
  ELSE
    RETURN NULL;
  END IF;
  PERFORM change_log_write(what, customer, (SELECT b FROM data WHERE rid = customer), fields);
  RETURN NULL;
END $body$)"),
        QStringLiteral("DROP TRIGGER IF EXISTS change_log_followup ON followups"),
        QStringLiteral("CREATE TRIGGER change_log_followup AFTER INSERT OR UPDATE OR DELETE ON followups "
                       "FOR EACH ROW EXECUTE FUNCTION change_log_followup()"),
    };
}

QString dueKeysStatement(bool server)
{
    // "settled = 0" spelled as the index's condition, so both engines read the small index; a
    // customer in the recycle bin is not in data, and one whose key came back is not binned.
    return QStringLiteral("select f.id from %1 f join data d on d.%2 = f.customer "
                          "where f.settled = 0 and f.next_date <= ? and f.binned = 0 "
                          "order by f.next_date, f.id limit ?")
        .arg(table(), server ? QStringLiteral("rid") : QStringLiteral("rowid"));
}

QVariantList dueKeysValues(const QDate &today, int limit)
{
    return {dateText(today), std::max(0, limit)};
}

std::vector<DueFollowUp> FollowUpStore::due(const QDate &today, int limit) const
{
    QSqlQuery query =
        db::runBound(m_connection, dueKeysStatement(m_connection.isServer()), dueKeysValues(today, limit));
    std::vector<qint64> ids;
    while (query.next())
        ids.push_back(query.value(0).toLongLong());
    return dueOf(ids);
}

std::vector<DueFollowUp> FollowUpStore::dueOf(const std::vector<qint64> &ids) const
{
    if (ids.empty())
        return {};
    QStringList columns;
    for (const QString &column : kColumns.split(QLatin1Char(',')))
        columns << QStringLiteral("f.") + column;
    QVariantList values;
    for (qint64 id : ids)
        values << id;
    QSqlQuery query = db::runBound(
        m_connection,
        QStringLiteral("select %1, d.%2, d.%3, d.%4, d.%5 from %6 f join data d on d.%7 = f.customer "
                       "where f.id in (%8)")
            .arg(columns.join(QLatin1Char(',')), QLatin1String(col::ShortName), QLatin1String(col::Name),
                 QLatin1String(col::Mobile), QLatin1String(col::Phone), table(), customerKeyColumn(m_connection),
                 QStringList(values.size(), QStringLiteral("?")).join(QLatin1Char(','))),
        values);
    std::vector<DueFollowUp> found;
    while (query.next()) {
        DueFollowUp due;
        due.followUp = followUpAt(query);
        due.customerName = query.value(9).toString();
        due.contact = query.value(10).toString();
        const QString mobile = query.value(11).toString().trimmed();
        due.phone = mobile.isEmpty() ? query.value(12).toString().trimmed() : mobile;
        found.push_back(std::move(due));
    }
    // In the order of the ids given.
    std::vector<DueFollowUp> ordered;
    for (qint64 id : ids) {
        auto it = std::find_if(found.begin(), found.end(), [id](const DueFollowUp &d) { return d.followUp.id == id; });
        if (it != found.end())
            ordered.push_back(std::move(*it));
    }
    return ordered;
}

std::vector<FollowUp> FollowUpStore::inRange(qint64 customer, const QDate &from, const QDate &to, int limit) const
{
    QStringList terms{QStringLiteral("binned=0")};
    QVariantList values;
    if (customer != 0) {
        terms << QStringLiteral("customer=?");
        values << customer;
    }
    if (from.isValid()) {
        terms << QStringLiteral("contact_time >= ?");
        values << attemptTimeText(from.startOfDay());
    }
    if (to.isValid()) {
        terms << QStringLiteral("contact_time < ?");
        values << attemptTimeText(to.addDays(1).startOfDay());
    }
    values << std::max(0, limit);
    QSqlQuery query = db::runBound(m_connection,
                                   QStringLiteral("select %1 from %2 where %3 order by contact_time, id limit ?")
                                       .arg(kColumns, table(), terms.join(QStringLiteral(" and "))),
                                   values);
    std::vector<FollowUp> result;
    while (query.next())
        result.push_back(followUpAt(query));
    return result;
}

QStringList FollowUpStore::ways() const
{
    QSqlQuery query =
        db::runBound(m_connection,
                     QStringLiteral("select way from %1 order by position, way").arg(QLatin1String(kFollowUpWayTable)));
    QStringList ways;
    while (query.next())
        ways << query.value(0).toString();
    return ways;
}

void FollowUpStore::addWay(const QString &typed)
{
    if (!m_operator.isEmpty() && !rightsOf(m_connection, m_operator).superAdministrator)
        throw Error(QStringLiteral("Only the super administrator may add a way of follow-up."),
                    QStringLiteral("只有超级管理员可以增加跟进方式。"));
    const QString way = db::cutToWidth(typed.trimmed(), kFollowUpWayWidth);
    if (way.isEmpty())
        throw Error(QStringLiteral("A way of follow-up needs a name."), QStringLiteral("请输入跟进方式的名称。"));
    if (ways().contains(way))
        return;
    db::runBound(m_connection,
                 QStringLiteral("insert into %1 (way, position) select ?, coalesce(max(position), 0) + 1 from %1")
                     .arg(QLatin1String(kFollowUpWayTable)),
                 {way});
}

bool FollowUpStore::remindsAtLogin(const QString &name) const
{
    QSqlQuery query =
        db::runBound(m_connection,
                     QStringLiteral("select 1 from %1 where username=?").arg(QLatin1String(kReminderOffTable)), {name});
    return !query.next();
}

void FollowUpStore::setRemindsAtLogin(const QString &name, bool remind)
{
    db::runBound(m_connection, QStringLiteral("delete from %1 where username=?").arg(QLatin1String(kReminderOffTable)),
                 {name});
    if (!remind)
        db::runBound(m_connection,
                     QStringLiteral("insert into %1 (username) values (?)").arg(QLatin1String(kReminderOffTable)),
                     {name});
}

void FollowUpStore::throwRefused(Outcome outcome)
{
    if (outcome == Outcome::Gone)
        throw Error(QStringLiteral("The follow-up was deleted since it was read."),
                    QStringLiteral("这条跟进记录已被其他操作员删除，你的修改没有保存。"
                                   "请刷新跟进记录；你输入的内容仍保留。"));
    throw Error(QStringLiteral("The follow-up was changed since it was read."),
                QStringLiteral("这条跟进记录在你读取之后已被其他操作员修改，你的修改没有保存，以免覆盖别人的修改。"
                               "请刷新跟进记录，核对后再修改；你输入的内容仍保留。"));
}

void hideFollowUpsOf(db::Connection &connection, qint64 customer)
{
    db::runBound(connection, QStringLiteral("update %1 set binned=1 where customer=? and binned=0").arg(table()),
                 {customer});
}

void showFollowUpsOf(db::Connection &connection, qint64 customer)
{
    db::runBound(connection, QStringLiteral("update %1 set binned=0 where customer=? and binned=1").arg(table()),
                 {customer});
}

void purgeFollowUpsOf(db::Connection &connection, qint64 customer)
{
    if (customer == 0)
        db::runBound(connection, QStringLiteral("delete from %1 where binned=1").arg(table()));
    else
        db::runBound(connection, QStringLiteral("delete from %1 where customer=? and binned=1").arg(table()),
                     {customer});
}

void addFollowUpCondition(const db::Engine &engine, QString &text, QVariantList &values, const QString &word)
{
    const QString pattern = QLatin1Char('%') + word.left(kFollowUpWordWidth) + QLatin1Char('%');
    const QString condition =
        QStringLiteral(" and %1 in (select customer from %2 where binned = 0 and (%3 or %4))")
            .arg(engine.rowKey(QStringLiteral("data")), table(), engine.likeCondition(QStringLiteral("content")),
                 engine.likeCondition(QStringLiteral("result")));
    // Its values come after those of the conditions before it, ahead of an ORDER BY (which has none).
    const qsizetype order = text.lastIndexOf(QLatin1String(" order by "));
    text.insert(order >= 0 ? order : text.size(), condition);
    values << pattern << pattern;
}

qint64 followUpCount(db::Connection &connection, qint64 customer)
{
    QSqlQuery query = db::runBound(
        connection, QStringLiteral("select count(*) from %1 where customer=? and binned=0").arg(table()), {customer});
    return query.next() ? query.value(0).toLongLong() : 0;
}

} // namespace lianbu::data
