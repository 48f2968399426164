#include "export/ImportPlan.h"

#include <QHash>
#include <QStringList>

#include <algorithm>

namespace lianbu::exchange {

int sharedKeyFields(const CustomerRecord &record, const CustomerRecord &customer)
{
    const auto same = [](const QString &a, const QString &b) { return !a.isEmpty() && a == b; };
    int shared = 0;
    shared += same(mobileKey(record[CustomerField::Mobile]), mobileKey(customer[CustomerField::Mobile])) ? 1 : 0;
    shared +=
        same(compactTitle(record[CustomerField::ShortName]), compactTitle(customer[CustomerField::ShortName])) ? 1 : 0;
    shared += same(compactTitle(record[CustomerField::Name]), compactTitle(customer[CustomerField::Name])) ? 1 : 0;
    return shared;
}

std::vector<MatchedCustomer> rankMatches(const CustomerRecord &record, const std::vector<qint64> &ids,
                                         const QHash<qint64, CustomerRecord> &customers)
{
    std::vector<MatchedCustomer> ranked;
    ranked.reserve(ids.size());
    for (const qint64 id : ids)
        ranked.push_back({id, sharedKeyFields(record, customers.value(id))});
    std::sort(ranked.begin(), ranked.end(), [](const MatchedCustomer &a, const MatchedCustomer &b) {
        return a.sharedFields != b.sharedFields ? a.sharedFields > b.sharedFields : a.id < b.id;
    });
    return ranked;
}

qint64 bestMatch(const std::vector<MatchedCustomer> &ranked)
{
    if (ranked.empty())
        return 0;
    if (ranked.size() > 1 && ranked[1].sharedFields == ranked[0].sharedFields)
        return 0;
    return ranked[0].id;
}

ImportPlan planImport(const std::vector<ImportRow> &records, const std::vector<DuplicateDecision> &decisions)
{
    ImportPlan plan;
    plan.rows.reserve(records.size());
    for (const ImportRow &row : records)
        plan.rows.push_back({row, ImportAction::Add, 0});
    std::vector<const DuplicateDecision *> ordered;
    for (const DuplicateDecision &decision : decisions)
        if (decision.record < records.size())
            ordered.push_back(&decision);
    // Earlier rows of the file keep the customer they update.
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const DuplicateDecision *a, const DuplicateDecision *b) { return a->record < b->record; });
    QHash<qint64, int> updatedBy; // customer -> line of the row updating it
    for (const DuplicateDecision *decision : ordered) {
        PlannedRow &planned = plan.rows[decision->record];
        planned.action = decision->action;
        if (decision->action != ImportAction::Update)
            continue;
        const int line = planned.row.line;
        const bool matched = std::any_of(decision->matches.begin(), decision->matches.end(),
                                         [&](const MatchedCustomer &m) { return m.id == decision->target; });
        if (decision->target == 0 || !matched) {
            plan.unsettled.push_back({line, UnsettledRow::Reason::NoCustomerChosen, 0});
            continue;
        }
        const auto earlier = updatedBy.constFind(decision->target);
        if (earlier != updatedBy.constEnd()) {
            plan.unsettled.push_back({line, UnsettledRow::Reason::AlreadyUpdated, *earlier});
            continue;
        }
        updatedBy.insert(decision->target, line);
        planned.updateId = decision->target;
    }
    return plan;
}

QString unsettledText(const std::vector<UnsettledRow> &unsettled)
{
    QStringList sentences;
    for (const UnsettledRow &row : unsettled) {
        if (row.reason == UnsettledRow::Reason::AlreadyUpdated)
            sentences << QStringLiteral("第 %1 行要更新的客户已由第 %2 行更新，请为它另选客户，或改为跳过或追加。")
                             .arg(row.line)
                             .arg(row.earlierLine);
        else
            sentences << QStringLiteral("第 %1 行与几个客户同样相符，请在“登记簿中相同的客户”一栏选择要更新哪一个。")
                             .arg(row.line);
    }
    if (sentences.size() > 10) {
        const qsizetype more = sentences.size() - 10;
        sentences = sentences.mid(0, 10);
        sentences << QStringLiteral("另有 %1 行也是如此。").arg(more);
    }
    return QStringLiteral("还不能导入：\n") + sentences.join(QLatin1Char('\n'));
}

} // namespace lianbu::exchange
