// The customer list's two columns of follow-up dates.
#include "data/CustomerListModel.h"

#include "db/Connection.h"
#include "db/ListRoles.h"
#include "platform/Clock.h"
#include "platform/Error.h"

#include <algorithm>

namespace lianbu::data {

namespace {

constexpr int kDateColumns = 2;
// Rows read around the one asked for: a screen above and two below, as the list scrolls down.
constexpr int kBefore = 50;
constexpr int kAfter = 150;
// Beyond this many customers the dates seen are forgotten and read again as needed.
constexpr size_t kKeptDates = 20000;

QString lastText(const FollowUpDates &dates)
{
    return dates.last.isValid() ? dateText(dates.last.toLocalTime().date()) : QString();
}

QString nextText(const FollowUpDates &dates)
{
    return dates.next.isValid() ? dateText(dates.next) : QString();
}

// The list's rows with the two date texts after the fields.
class RowsWithDates final : public db::RowReader
{
public:
    RowsWithDates(std::unique_ptr<db::RowReader> fields, const db::DataSet &list)
        : m_fields(std::move(fields))
        , m_list(list)
    {}

    int rowCount() const override { return m_fields->rowCount(); }
    int currentRow() const override { return m_fields->currentRow(); }
    bool stale() const override { return m_fields->stale(); }

    void readRows(int from, int to, const Visit &visit) const override
    {
        constexpr int kBatch = 1000;
        const std::vector<qint64> &keys = m_list.keys();
        to = std::min(to, int(keys.size()));
        for (int start = from; start < to; start += kBatch) {
            const int end = std::min(to, start + kBatch);
            const std::unordered_map<qint64, FollowUpDates> dates =
                readFollowUpDates(*m_list.connection(), std::vector<qint64>(keys.begin() + start, keys.begin() + end));
            Cells cells(m_list.fieldCount());
            m_fields->readRows(start, end, [&](int row, const db::RowCells &fields) {
                const auto found = row < int(keys.size()) ? dates.find(keys[size_t(row)]) : dates.end();
                cells.set(fields, found == dates.end() ? FollowUpDates() : found->second);
                visit(row, cells);
            });
        }
    }

private:
    class Cells final : public db::RowCells
    {
    public:
        explicit Cells(int fieldCount)
            : m_fieldCount(fieldCount)
        {}
        void set(const db::RowCells &fields, const FollowUpDates &dates)
        {
            m_fields = &fields;
            m_last = lastText(dates);
            m_next = nextText(dates);
        }
        QStringView text(int index) const override
        {
            if (index < m_fieldCount)
                return m_fields->text(index);
            return index == m_fieldCount ? QStringView(m_last) : QStringView(m_next);
        }
        bool isNull(int index) const override
        {
            return index < m_fieldCount ? m_fields->isNull(index) : text(index).isEmpty();
        }

    private:
        int m_fieldCount;
        const db::RowCells *m_fields = nullptr;
        QString m_last;
        QString m_next;
    };

    std::unique_ptr<db::RowReader> m_fields;
    const db::DataSet &m_list;
};

} // namespace

void CustomerListModel::followUpColumnsInit()
{
    m_list.setOutsideSort([this](const QString &name, bool descending,
                                 const std::vector<qint64> &keys) -> std::optional<std::vector<int>> {
        const bool last = name.compare(QLatin1String(kLastFollowUpField), Qt::CaseInsensitive) == 0;
        if (!last && name.compare(QLatin1String(kNextContactField), Qt::CaseInsensitive) != 0)
            return std::nullopt;
        return orderByFollowUpDate(*m_list.connection(), last ? FollowUpDate::Last : FollowUpDate::Next, descending,
                                   keys);
    });
    // Another list, or the same one read again, may follow other writes: its dates are read afresh.
    connect(this, &QAbstractItemModel::modelReset, this, [this] { m_followUpDates.clear(); });
    connect(&m_store, &CustomerStore::customerChanged, this, [this](qint64 key) { m_followUpDates.erase(key); });
}

int CustomerListModel::columnCount(const QModelIndex &parent) const
{
    const int fields = db::DataSetModel::columnCount(parent);
    return fields > 0 ? fields + kDateColumns : 0;
}

QVariant CustomerListModel::data(const QModelIndex &index, int role) const
{
    const int fields = db::DataSetModel::columnCount();
    if (!index.isValid() || index.column() < fields || index.column() >= fields + kDateColumns)
        return db::DataSetModel::data(index, role);
    if (index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const FollowUpDates &dates = followUpDatesAt(index.row());
        const QString text = index.column() == fields ? lastText(dates) : nextText(dates);
        return role == Qt::EditRole && text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case db::ListRole::Key:
        return keyAt(index.row());
    default:
        return {};
    }
}

QVariant CustomerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const int fields = db::DataSetModel::columnCount();
    if (orientation != Qt::Horizontal || fields == 0 || section < fields || section >= fields + kDateColumns)
        return db::DataSetModel::headerData(section, orientation, role);
    const bool last = section == fields;
    switch (role) {
    case Qt::DisplayRole:
        return last ? QStringLiteral("最近跟进") : QStringLiteral("下次联系");
    case db::ListRole::FieldName:
        return QString::fromLatin1(last ? kLastFollowUpField : kNextContactField);
    case db::ListRole::FieldWidth:
        return 10;
    case db::ListRole::FieldType:
        return int(db::Field::DataType::String);
    default:
        return {};
    }
}

std::unique_ptr<db::RowReader> CustomerListModel::rowReader(int currentRow) const
{
    std::unique_ptr<db::RowReader> fields = db::DataSetModel::rowReader(currentRow);
    if (!fields)
        return nullptr;
    return std::make_unique<RowsWithDates>(std::move(fields), m_list);
}

const FollowUpDates &CustomerListModel::followUpDatesAt(int row) const
{
    const qint64 key = keyAt(row);
    const auto known = m_followUpDates.find(key);
    if (known != m_followUpDates.end())
        return known->second;
    if (m_followUpDates.size() > kKeptDates)
        m_followUpDates.clear();
    const std::vector<qint64> &keys = m_list.keys();
    const size_t from = size_t(std::max(0, row - kBefore));
    const size_t to = std::min(keys.size(), size_t(row) + kAfter);
    std::vector<qint64> wanted;
    for (size_t r = from; r < to; ++r)
        if (keys[r] > 0 && !m_followUpDates.contains(keys[r]))
            wanted.push_back(keys[r]);
    std::unordered_map<qint64, FollowUpDates> read;
    try {
        read = readFollowUpDates(*m_list.connection(), wanted);
    } catch (const Error &) {
        // Painting cannot report; the dates stay empty until the list is read again.
    }
    for (const qint64 k : wanted)
        m_followUpDates.emplace(k, FollowUpDates());
    for (auto &[k, dates] : read)
        m_followUpDates[k] = dates;
    return m_followUpDates[key];
}

void CustomerListModel::followUpsChanged(qint64 customer)
{
    const int fields = db::DataSetModel::columnCount();
    if (customer == 0) {
        m_followUpDates.clear();
        if (fields > 0 && rowCount() > 0)
            emit dataChanged(index(0, fields), index(rowCount() - 1, fields + kDateColumns - 1));
        return;
    }
    m_followUpDates.erase(customer);
    const int row = rowOfKey(customer);
    if (row >= 0 && fields > 0)
        emit dataChanged(index(row, fields), index(row, fields + kDateColumns - 1));
}

} // namespace lianbu::data
