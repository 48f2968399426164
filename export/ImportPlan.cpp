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

std::vector<DuplicateDecision> findDuplicates(const std::vector<ImportRow> &records,
                                              const std::vector<IdentifiedCustomer> &customers)
{
    std::vector<DuplicateDecision> duplicates;
    DuplicateIndex existing;
    QHash<qint64, CustomerRecord> byId;
    for (const IdentifiedCustomer &customer : customers) {
        existing.add(customer.id, customer.record);
        byId.insert(customer.id, customer.record);
    }
    // Records of the file match earlier records of the file too; those carry negative ids.
    DuplicateIndex earlier;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const CustomerRecord &record = records[i].record;
        std::vector<MatchedCustomer> matches = rankMatches(record, existing.matches(record), byId);
        const bool withinFile = matches.empty() && !earlier.matches(record).empty();
        if (!matches.empty() || withinFile) {
            const qint64 best = bestMatch(matches);
            duplicates.push_back({i, std::move(matches), ImportAction::Skip, best, withinFile});
        }
        earlier.add(-qint64(i) - 1, record);
    }
    return duplicates;
}

void chooseAction(DuplicateDecision &decision, ImportAction action)
{
    decision.action = action == ImportAction::Update && decision.withinFile ? ImportAction::Skip : action;
}

void chooseTarget(DuplicateDecision &decision, qint64 customer)
{
    const bool matches = std::any_of(decision.matches.begin(), decision.matches.end(),
                                     [&](const MatchedCustomer &m) { return m.id == customer; });
    decision.target = matches ? customer : 0;
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

QString linesText(const std::vector<int> &lines)
{
    QStringList numbers;
    for (std::size_t i = 0; i < lines.size() && i < 50; ++i)
        numbers.append(QString::number(lines[i]));
    QString text = numbers.join(QStringLiteral("、"));
    if (lines.size() > 50)
        text += QStringLiteral(" 等 %1 行").arg(lines.size());
    return text;
}

QString repairsText(const std::vector<VCardRepair> &repairs)
{
    QStringList parts;
    for (std::size_t i = 0; i < repairs.size() && i < 20; ++i)
        parts.append(QStringLiteral("第 %1 行%2").arg(repairs[i].line).arg(repairs[i].what));
    QString text = QStringLiteral("以下内容已修正后读入：%1").arg(parts.join(QStringLiteral("；")));
    if (repairs.size() > 20)
        text += QStringLiteral(" 等 %1 处").arg(repairs.size());
    return text + QStringLiteral("。");
}

QString summaryText(const ImportSummary &s, const std::vector<int> &unreadableLines,
                    const std::vector<VCardRepair> &repairs)
{
    QString text =
        QStringLiteral("导入完成：新增 %1 条，更新 %2 条，跳过 %3 条。").arg(s.added).arg(s.updated).arg(s.skipped);
    if (!s.addedForDeleted.empty())
        text += QStringLiteral("\n第 %1 行要更新的客户已被其他操作员删除，没有可更新的资料；"
                               "为不丢失文件中的客户，已作为新客户加入（计入新增）。")
                    .arg(linesText(s.addedForDeleted));
    if (!unreadableLines.empty())
        text += QStringLiteral("\n无法读取的行（没有导入）：第 %1 行。").arg(linesText(unreadableLines));
    if (!repairs.empty())
        text += QLatin1Char('\n') + repairsText(repairs);
    if (!s.cut.empty()) {
        QStringList cuts;
        for (std::size_t i = 0; i < s.cut.size() && i < 20; ++i)
            cuts.append(QStringLiteral("第 %1 行的“%2”（%3 字，最多 %4 字）")
                            .arg(s.cut[i].line)
                            .arg(compactTitle(fieldTitle(s.cut[i].field)))
                            .arg(s.cut[i].length)
                            .arg(fieldInfo(s.cut[i].field).width));
        text += QStringLiteral("\n以下内容超出长度，已截短：%1").arg(cuts.join(QStringLiteral("；")));
        if (s.cut.size() > 20)
            text += QStringLiteral(" 等 %1 处").arg(s.cut.size());
        text += QStringLiteral("。");
    }
    return text;
}

} // namespace lianbu::exchange
