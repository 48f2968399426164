#include "customers/CustomerSearch.h"

#include "data/CustomerListModel.h"
#include "data/FollowUpStore.h"
#include "data/PinyinInitials.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/Engine.h"

#include <algorithm>

namespace lianbu::customers {

bool SearchFields::isEmpty() const
{
    return category.isEmpty() && shortName.isEmpty() && phone.isEmpty() && name.isEmpty() && address.isEmpty()
           && company.isEmpty();
}

std::optional<QString> followUpSearchWord(const QString &shortName)
{
    for (const QString &prefix : {QStringLiteral("跟进:"), QStringLiteral("跟进：")})
        if (shortName.startsWith(prefix))
            return shortName.mid(prefix.size());
    return std::nullopt;
}

CustomerSearch::CustomerSearch(data::CustomerListModel *list, db::Connection &connection, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_connection(connection)
    , m_worker(connection.address())
{
    // A register whose index could not be built is searched by the plain statement.
    m_indexed = hasSearchIndex(connection);
    m_extra = hasSearchExtra(connection);
    connect(&m_worker, &db::BackgroundSearch::finished, this, &CustomerSearch::finished);
    connect(&m_worker, &db::BackgroundSearch::failed, this, [this](quint64, const QString &message) {
        m_pending = Pending::Nothing;
        emit searchFailed(message);
    });
}

void CustomerSearch::search(const SearchFields &typed)
{
    // A look into the follow-ups: a word of theirs instead of a 客户简称.
    SearchFields f = typed;
    const std::optional<QString> word = followUpSearchWord(typed.shortName);
    if (word)
        f.shortName.clear();
    const QString followUpWord = word.value_or(QString());
    // The list of every record still being read is older than this search: it is not shown.
    m_list->overtakeLoad();
    const db::Engine &engine = db::engineOf(m_connection.database());
    // The table of initials and mobile numbers catches up with the rows written since its last
    // search (usually none or the few the operator just saved).
    if (m_extra && (!f.phone.isEmpty() || isPinyinQuery(f.shortName) || isPinyinQuery(f.name)))
        refreshSearchExtra(m_connection);
    sql::BoundStatement statement =
        sql::boundSearch(engine, f.category, f.shortName, f.phone, f.name, f.address, f.company, m_extra);
    if (!followUpWord.isEmpty())
        data::addFollowUpCondition(engine, statement.text, statement.values, followUpWord);
    m_pendingStatement = statement;
    m_pendingIsEmpty = f.isEmpty() && followUpWord.isEmpty();
    std::optional<std::vector<qint64>> kept = m_pendingIsEmpty ? m_list->keptEmptySearchResult() : std::nullopt;
    if (kept) {
        // At once from the kept result; then a look for rows other programs changed meanwhile.
        show(statement, std::move(*kept), false);
        m_pending = Pending::ShowIfChanged;
    } else {
        m_pending = Pending::Show;
    }
    sql::BoundStatement keys = sql::boundSearchKeys(engine, f.category, f.shortName, f.phone, f.name, f.address,
                                                    f.company, m_indexed, m_extra);
    if (!followUpWord.isEmpty())
        data::addFollowUpCondition(engine, keys.text, keys.values, followUpWord);
    m_worker.start(keys.text, keys.values);
}

void CustomerSearch::prepareEmptySearch()
{
    m_pending = Pending::Nothing;
    m_pendingIsEmpty = true;
    const db::Engine &engine = db::engineOf(m_connection.database());
    const sql::BoundStatement keys = sql::boundSearchKeys(engine, {}, {}, {}, {}, {}, {}, m_indexed);
    m_worker.start(keys.text, keys.values);
}

void CustomerSearch::cancel()
{
    m_pending = Pending::Nothing;
    m_worker.cancel();
}

void CustomerSearch::finished(quint64, const std::vector<qint64> &keys)
{
    const Pending pending = std::exchange(m_pending, Pending::Nothing);
    if (m_pendingIsEmpty)
        m_list->keepEmptySearchResult(keys);
    if (pending == Pending::Show)
        show(m_pendingStatement, m_worker.takeKeys(), false);
    else if (pending == Pending::ShowIfChanged && m_list->shows(m_pendingStatement)) {
        // The operator may have sorted the kept result meanwhile: compare the rows, not the order.
        bool same = m_list->keys() == keys;
        if (!same && !m_list->sortText().isEmpty() && m_list->keys().size() == keys.size()) {
            std::vector<qint64> shown = m_list->keys();
            std::sort(shown.begin(), shown.end());
            same = shown == keys;
        }
        if (!same)
            show(m_pendingStatement, m_worker.takeKeys(), true);
    }
}

void CustomerSearch::show(const sql::BoundStatement &statement, std::vector<qint64> keys, bool keepCurrent)
{
    const qint64 current = keepCurrent && m_currentKey ? m_currentKey() : 0;
    m_list->showResult(statement, std::move(keys));
    emit listReplaced(current);
}

} // namespace lianbu::customers
