#include "stats/Counts.h"

#include "data/AttemptLog.h"
#include "data/FollowUpDates.h"
#include "data/FollowUpStore.h"
#include "data/Schema.h"
#include "db/Engine.h"
#include "stats/AddressReader.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <map>
#include <optional>

namespace lianbu::stats {

namespace {

static_assert(kAddressPrefixLengths[0] == kAddressStartLength, "the first grouping reads the register's index");

// More bound values than this in one statement are split (SQLite allows 32766, a server 65535).
constexpr int kValuesPerStatement = 5000;

struct Group
{
    QVariant value; // null for the rows where the grouped expression is null
    qint64 count = 0;
};

std::vector<Group> readGroups(const QSqlDatabase &database, const QString &sql, const QVariantList &values = {})
{
    std::vector<Group> groups;
    db::engineOf(database).readResult(database, sql, values, [&groups](const db::ResultRow &row) {
        QString scratch;
        groups.push_back({row.isNull(0) ? QVariant() : QVariant(row.text(0, &scratch).toString()), row.integer(1)});
    });
    return groups;
}

QString placeholders(qsizetype n)
{
    QString text;
    text.reserve(n * 2);
    for (qsizetype i = 0; i < n; ++i)
        text += i ? QStringLiteral(",?") : QStringLiteral("?");
    return text;
}

// The rows where `expression` has one of `values` (or is null, with `orNull`).
class SelectionBuilder
{
public:
    void add(const QString &expression, const QVariant &value)
    {
        if (value.isNull())
            m_orNull.insert(expression);
        else
            m_values[expression] << value;
    }
    bool isEmpty() const { return m_values.isEmpty() && m_orNull.isEmpty(); }
    qsizetype size() const
    {
        qsizetype n = m_orNull.size();
        for (const QVariantList &v : m_values)
            n += v.size();
        return n;
    }
    Selection build(const QString &outer = {}) const
    {
        QStringList terms;
        Selection s;
        for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
            terms << QStringLiteral("%1 in (%2)").arg(it.key(), placeholders(it->size()));
            s.values << *it;
        }
        for (const QString &expression : m_orNull)
            terms << expression + QStringLiteral(" is null");
        const QString inner = terms.size() == 1 ? terms.first() : u'(' + terms.join(QStringLiteral(" or ")) + u')';
        s.condition = outer.isEmpty() ? inner : outer.arg(inner);
        return s;
    }

private:
    QMap<QString, QVariantList> m_values;
    QSet<QString> m_orNull;
};

bool isBlank(const QVariant &value)
{
    return value.isNull() || value.toString().trimmed().isEmpty();
}

// Rows by value, blanks together, most customers first.
std::vector<CountRow> byValue(const std::vector<Group> &groups, const QString &expression, const QString &outer = {})
{
    std::map<QString, std::pair<qint64, SelectionBuilder>> rows;
    for (const Group &g : groups) {
        auto &[count, selection] = rows[isBlank(g.value) ? emptyValueLabel() : g.value.toString()];
        count += g.count;
        selection.add(expression, g.value);
    }
    std::vector<CountRow> result;
    for (const auto &[label, row] : rows)
        result.push_back({{}, label, row.first, row.second.build(outer)});
    std::stable_sort(result.begin(), result.end(),
                     [](const CountRow &a, const CountRow &b) { return a.count > b.count; });
    return result;
}

// A month from the beginning of a stored date ("2024-03", "2024-3-", "2024/3/").
std::optional<std::pair<int, int>> monthOf(const QVariant &value)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^\s*(\d{4})[-/.年](\d{1,2})(?!\d))"));
    if (value.isNull())
        return std::nullopt;
    const auto match = pattern.match(value.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const int year = match.captured(1).toInt();
    const int month = match.captured(2).toInt();
    if (month < 1 || month > 12)
        return std::nullopt;
    return std::pair{year, month};
}

int monthIndex(int year, int month)
{
    return year * 12 + month - 1;
}

std::vector<CountRow> byMonth(const std::vector<Group> &groups, const QString &expression, const CountRequest &request,
                              const QString &outer = {})
{
    std::map<int, std::pair<qint64, SelectionBuilder>> months;
    qint64 unknownCount = 0;
    SelectionBuilder unknown;
    for (const Group &g : groups) {
        if (const auto month = monthOf(g.value)) {
            auto &[count, selection] = months[monthIndex(month->first, month->second)];
            count += g.count;
            selection.add(expression, g.value);
        } else {
            unknownCount += g.count;
            unknown.add(expression, g.value);
        }
    }
    const QDate today = request.today.isValid() ? request.today : QDate::currentDate();
    const int last = monthIndex(today.year(), today.month());
    int first = last - std::max(1, request.months) + 1;
    int end = last;
    if (request.months <= 0) {
        first = months.empty() ? last : std::min(last, months.begin()->first);
        end = months.empty() ? last : std::max(last, months.rbegin()->first);
    }
    std::vector<CountRow> result;
    for (int m = first; m <= end; ++m) {
        CountRow row{{}, monthLabel(m / 12, m % 12 + 1), 0, {}};
        if (const auto it = months.find(m); it != months.end()) {
            row.count = it->second.first;
            row.selection = it->second.second.build(outer);
        }
        result.push_back(std::move(row));
    }
    if (request.months <= 0 && unknownCount > 0)
        result.push_back({{}, unknownDateLabel(), unknownCount, unknown.build(outer)});
    return result;
}

std::vector<CountRow> byCity(const QSqlDatabase &database)
{
    const QString column = QStringLiteral("i");
    struct PlaceCount
    {
        qint64 count = 0;
        SelectionBuilder selection;
    };
    std::map<std::pair<QString, QString>, PlaceCount> places;
    QVariantList pending; // beginnings that need more characters
    const int stages = int(std::size(kAddressPrefixLengths));
    for (int stage = 0; stage < stages; ++stage) {
        const int length = kAddressPrefixLengths[stage];
        const QString prefix =
            stage == 0 ? addressStartExpression() : QStringLiteral("substr(%1,1,%2)").arg(column).arg(length);
        std::vector<Group> groups;
        if (stage == 0) {
            groups = readGroups(database, QStringLiteral("select %1, count(*) from data group by %1").arg(prefix));
        } else {
            const QString previous =
                QStringLiteral("substr(%1,1,%2)").arg(column).arg(kAddressPrefixLengths[stage - 1]);
            for (qsizetype from = 0; from < pending.size(); from += kValuesPerStatement) {
                const QVariantList part = pending.mid(from, kValuesPerStatement);
                auto more = readGroups(database,
                                       QStringLiteral("select %1, count(*) from data where %2 in (%3) group by %1")
                                           .arg(prefix, previous, placeholders(part.size())),
                                       part);
                groups.insert(groups.end(), more.begin(), more.end());
            }
        }
        pending.clear();
        const bool lastStage = stage + 1 == stages;
        for (const Group &g : groups) {
            const QString text = g.value.toString();
            const AddressReading reading = readAddress(text, g.value.isNull() || text.size() < length);
            if (reading.needsMore && !lastStage) {
                pending << g.value;
                continue;
            }
            PlaceCount &place = places[{reading.place.province, reading.place.city}];
            place.count += g.count;
            place.selection.add(prefix, g.value);
        }
        if (pending.isEmpty())
            break;
    }
    std::vector<CountRow> result;
    for (const auto &[key, place] : places) {
        const QString province = key.first.isEmpty() ? unrecognisedLabel() : key.first;
        const QString city = key.second.isEmpty() ? unrecognisedLabel() : key.second;
        result.push_back({province, city, place.count, place.selection.build()});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const CountRow &a, const CountRow &b) { return a.count > b.count; });
    return result;
}

// The provinces' totals from the cities' rows.
std::vector<CountRow> byProvince(const std::vector<CountRow> &cities)
{
    std::vector<CountRow> result;
    QHash<QString, size_t> at;
    for (const CountRow &city : cities) {
        auto it = at.find(city.group);
        if (it == at.end()) {
            it = at.insert(city.group, result.size());
            result.push_back({{}, city.group, 0, {}});
        }
        CountRow &row = result[*it];
        row.count += city.count;
        if (row.selection.isEmpty()) {
            row.selection = city.selection;
        } else {
            row.selection.condition =
                QStringLiteral("(%1 or %2)").arg(row.selection.condition, city.selection.condition);
            row.selection.values << city.selection.values;
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const CountRow &a, const CountRow &b) { return a.count > b.count; });
    return result;
}

QString followUps()
{
    return QLatin1String(data::kFollowUpTable);
}

// Read from the kept last-contact dates (one row per customer of data with a visible follow-up),
// not from the follow-ups themselves: grouping millions of follow-ups by customer took over a
// minute. The dates hold customers of data only (their triggers see to it), so the numbers come
// from that table and a count of data, with no customer looked up in the other.
std::vector<CountRow> followUpAbsence(const QSqlDatabase &database, const CountRequest &request)
{
    const QDate today = request.today.isValid() ? request.today : QDate::currentDate();
    const QString since = data::attemptTimeText(today.addDays(-std::max(0, request.days)).startOfDay());
    const QString key = db::engineOf(database).rowKey(QStringLiteral("data"));
    const QString dates = QLatin1String(data::kFollowUpDatesTable);
    // One statement, so the three numbers come from the same state of the register.
    qint64 total = 0;
    qint64 followedUp = 0;
    qint64 recently = 0;
    db::engineOf(database).readResult(database,
                                      QStringLiteral("select (select count(*) from data), (select count(*) from %1), "
                                                     "(select count(*) from %1 where last_time >= ?)")
                                          .arg(dates),
                                      {since}, [&](const db::ResultRow &row) {
                                          total = row.integer(0);
                                          followedUp = row.integer(1);
                                          recently = row.integer(2);
                                      });
    const QString anyFollowUp = QStringLiteral("%1 in (select customer from %2)").arg(key, dates);
    const QString recent = QStringLiteral("%1 in (select customer from %2 where last_time >= ?)").arg(key, dates);
    const QString days = QString::number(request.days);
    return {
        {{}, QStringLiteral("%1 天内有跟进").arg(days), recently, {recent, {since}}},
        {{},
         QStringLiteral("超过 %1 天未跟进").arg(days),
         followedUp - recently,
         {anyFollowUp + QStringLiteral(" and not ") + recent, {since}}},
        {{}, QStringLiteral("从未跟进"), total - followedUp, {QStringLiteral("not ") + anyFollowUp, {}}},
    };
}

// The months of contact of the follow-ups outside the bin, read from their index; a count of
// some recent months reads only those months' part of it.
std::vector<CountRow> followUpMonths(const QSqlDatabase &database, const CountRequest &request,
                                     const QString &ofFollowUps)
{
    const QString month = followUpMonthExpression();
    QString where = QStringLiteral("binned=0");
    QVariantList values;
    if (request.months > 0) {
        const QDate today = request.today.isValid() ? request.today : QDate::currentDate();
        const QDate first = QDate(today.year(), today.month(), 1).addMonths(1 - request.months);
        // The program writes contact times in one layout ("2026-03-04 …"), so the months'
        // texts order as the months do.
        where += QStringLiteral(" and %1 >= ? and %1 <= ?").arg(month);
        values << monthLabel(first.year(), first.month()) << monthLabel(today.year(), today.month());
    }
    return byMonth(
        readGroups(database,
                   QStringLiteral("select %1, count(*) from %2 where %3 group by %1").arg(month, followUps(), where),
                   values),
        month, request, ofFollowUps);
}

} // namespace

std::vector<CountRow> countCustomers(const QSqlDatabase &database, const CountRequest &request)
{
    const QString key = db::engineOf(database).rowKey(QStringLiteral("data"));
    const QString ofFollowUps =
        QStringLiteral("%1 in (select customer from %2 where binned=0 and %3)").arg(key, followUps());
    switch (request.view) {
    case View::Category:
        return byValue(readGroups(database, QStringLiteral("select a, count(*) from data group by a")),
                       QStringLiteral("a"));
    case View::Province:
        return byProvince(byCity(database));
    case View::City:
        return byCity(database);
    case View::AddedPerMonth:
        return byMonth(
            readGroups(database,
                       QStringLiteral("select %1, count(*) from data group by %1").arg(registrationMonthExpression())),
            registrationMonthExpression(), request);
    case View::FollowUpOperator:
        return byValue(
            readGroups(
                database,
                QStringLiteral("select username, count(*) from %1 where binned=0 group by username").arg(followUps())),
            QStringLiteral("username"), ofFollowUps);
    case View::FollowUpMonth:
        return followUpMonths(database, request, ofFollowUps);
    case View::FollowUpAbsence:
        return followUpAbsence(database, request);
    }
    return {};
}

sql::BoundStatement customersStatement(const Selection &selection)
{
    return {QStringLiteral("select * from data where ") + selection.condition, selection.values};
}

sql::BoundStatement customerKeysStatement(const QSqlDatabase &database, const Selection &selection)
{
    return customerKeysStatement(db::engineOf(database), selection);
}

sql::BoundStatement customerKeysStatement(const db::Engine &engine, const Selection &selection)
{
    return {
        QStringLiteral("select %1 from data where %2").arg(engine.rowKey(QStringLiteral("data")), selection.condition),
        selection.values};
}

QString emptyValueLabel()
{
    return QStringLiteral("（未填写）");
}

QString unknownDateLabel()
{
    return QStringLiteral("日期不详");
}

QString monthLabel(int year, int month)
{
    return QStringLiteral("%1-%2").arg(year).arg(month, 2, 10, QLatin1Char('0'));
}

} // namespace lianbu::stats
