#include "operators/OperationLogWindow.h"

#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/ListRows.h"
#include "export/CustomerFields.h"
#include "export/ExchangeFormats.h"
#include "export/ListExport.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QComboBox>
#include <QDir>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QThread>

namespace lianbu::operators {

namespace {

// The date boxes show this as "不限".
const QDate kOpenDate(2000, 1, 1);

QString valueText(const std::optional<QString> &value)
{
    return value ? *value : QStringLiteral("（空）");
}

// The log's rows as an export reads them, in batches of keys going down. A read that does not
// go on from the last one starts again from the newest.
class LogRows final : public db::RowReader
{
public:
    LogRows(db::Connection &connection, const data::LogFilter &filter)
        : m_log(connection)
        , m_filter(filter)
        , m_count(int(std::min<qint64>(m_log.count(filter), std::numeric_limits<int>::max())))
    {}

    int rowCount() const override { return m_count; }
    int currentRow() const override { return -1; }
    bool stale() const override { return false; }

    void readRows(int from, int to, const Visit &visit) const override
    {
        if (from != m_next) {
            m_next = 0;
            m_below = 0;
        }
        Cells cells;
        while (m_next < to) {
            const std::vector<data::LogEntry> batch = m_log.entries(m_filter, 1000, m_below);
            if (batch.empty())
                break;
            for (const data::LogEntry &entry : batch) {
                m_below = entry.id;
                if (m_next >= from && m_next < to) {
                    cells.texts = logCells(entry);
                    visit(m_next, cells);
                }
                if (++m_next >= to)
                    break;
            }
        }
    }

private:
    struct Cells final : db::RowCells
    {
        QStringList texts;
        QStringView text(int valueIndex) const override { return QStringView(texts.at(valueIndex)); }
        bool isNull(int) const override { return false; }
    };

    const data::ChangeLog m_log;
    const data::LogFilter m_filter;
    const int m_count;
    mutable int m_next = 0;
    mutable qint64 m_below = 0;
};

} // namespace

QString logFieldCaption(const QString &field)
{
    exchange::CustomerField customerField;
    if (exchange::fieldForColumn(field, &customerField))
        return exchange::compactTitle(exchange::fieldTitle(customerField));
    return field;
}

QString logDetailsText(const data::LogEntry &entry)
{
    QStringList parts;
    for (const data::FieldChange &change : entry.fields) {
        const QString caption = logFieldCaption(change.field);
        if (entry.kind == data::LogKind::CustomerChanged || (change.before && change.after))
            parts << QStringLiteral("%1：%2 → %3").arg(caption, valueText(change.before), valueText(change.after));
        else if (change.after || change.before)
            parts << QStringLiteral("%1：%2").arg(caption, change.after ? *change.after : *change.before);
    }
    return parts.join(QStringLiteral("；"));
}

QStringList logCells(const data::LogEntry &entry)
{
    return {entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            entry.operatorName,
            entry.pc,
            data::logKindText(entry.kind),
            entry.customerKey > 0 ? QString::number(entry.customerKey) : QString(),
            entry.subject,
            logDetailsText(entry)};
}

QStringList logTitles()
{
    return {QStringLiteral("时间"),     QStringLiteral("操作员"), QStringLiteral("电脑"), QStringLiteral("操作"),
            QStringLiteral("客户编号"), QStringLiteral("对象"),   QStringLiteral("内容")};
}

TablePage readLogPage(db::Connection &connection, const data::LogFilter &filter, int page, qint64 below)
{
    const data::ChangeLog log(connection);
    TablePage read = pageFrame(log.count(filter), page, kLogPerPage);
    read.page = page; // the caller knows where its page starts
    for (const data::LogEntry &entry : log.entries(filter, kLogPerPage, below)) {
        read.rows.push_back(logCells(entry));
        read.keys.push_back(entry.id);
    }
    return read;
}

void exportLog(const data::SessionOperator &by, const data::LogFilter &filter, const exchange::ExportTarget &target,
               QWidget *parent)
{
    db::Connection &connection = by.connection();
    db::ListColumns columns;
    const QStringList titles = logTitles();
    for (int k = 0; k < int(titles.size()); ++k) {
        db::ListColumn column;
        column.fieldName = titles[k];
        column.valueIndex = k;
        column.title = titles[k];
        column.width = k == int(titles.size()) - 1 ? 400 : 110;
        columns.columns.push_back(column);
    }
    const LogRows rows(connection, filter);
    const exchange::ListSheet sheet{QStringLiteral("操作日志"),
                                    filter.from.isValid() ? filter.from.toString(QStringLiteral("yyyy-MM-dd"))
                                                          : QString(),
                                    filter.to.isValid() ? filter.to.toString(QStringLiteral("yyyy-MM-dd")) : QString(),
                                    by.name(),
                                    columns,
                                    rows,
                                    titles};
    if (rows.rowCount() == 0) {
        showInformation(QStringLiteral("没有符合条件的日志，没有导出任何数据。"), parent);
        return;
    }
    if (exchange::exportListFile(sheet, target.format, target.path, parent))
        by.log(data::LogKind::Exported, QDir::toNativeSeparators(target.path),
               {{QStringLiteral("记录数"), std::nullopt, QString::number(rows.rowCount())},
                {QStringLiteral("格式"), std::nullopt, exchange::formatSuffix(target.format)},
                {QStringLiteral("内容"), std::nullopt, QStringLiteral("操作日志")}});
}

OperationLogWindow::OperationLogWindow(const data::SessionOperator &by, QWidget *parent)
    : PagedTableWindow(logTitles(), parent)
    , m_by(by)
    , m_address(by.connection().address())
    , m_from(new QDateEdit(this))
    , m_to(new QDateEdit(this))
    , m_operator(new QComboBox(this))
    , m_customer(new QLineEdit(this))
    , m_kind(new QComboBox(this))
    , m_export(new QPushButton(QStringLiteral("导出"), this))
{
    setObjectName(QStringLiteral("operationLogWindow"));
    setWindowTitle(QStringLiteral("操作日志"));
    setReadInBackground(true);
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setMinimumDate(kOpenDate);
        edit->setSpecialValueText(QStringLiteral("不限"));
        edit->setDate(kOpenDate);
    }
    m_operator->setEditable(true);
    m_operator->addItem(QString());
    fillOperators();
    m_customer->setPlaceholderText(QStringLiteral("客户简称或编号"));
    m_customer->setMaxLength(100);
    m_kind->addItem(QStringLiteral("全部"));
    for (data::LogKind kind : data::kLogKinds)
        m_kind->addItem(data::logKindText(kind), data::logKindWord(kind));
    auto *searchButton = new QPushButton(QStringLiteral("查询"), this);
    searchButton->setObjectName(QStringLiteral("searchLogButton"));
    m_export->setObjectName(QStringLiteral("exportLogButton"));
    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("日期"), this));
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("至"), this));
    filters->addWidget(m_to);
    filters->addWidget(new QLabel(QStringLiteral("操作员"), this));
    filters->addWidget(m_operator, 1);
    filters->addWidget(new QLabel(QStringLiteral("客户"), this));
    filters->addWidget(m_customer, 1);
    filters->addWidget(new QLabel(QStringLiteral("操作"), this));
    filters->addWidget(m_kind);
    filters->addWidget(searchButton);
    addAboveTable(filters);
    addButton(m_export);
    resize(980, 520);
    connect(searchButton, &QPushButton::clicked, this, &OperationLogWindow::search);
    connect(m_customer, &QLineEdit::returnPressed, this, &OperationLogWindow::search);
    connect(m_export, &QPushButton::clicked, this, &OperationLogWindow::exportShown);
    search();
}

data::LogFilter OperationLogWindow::filter() const
{
    data::LogFilter filter;
    if (m_from->date() != kOpenDate)
        filter.from = m_from->date();
    if (m_to->date() != kOpenDate)
        filter.to = m_to->date();
    filter.operatorName = m_operator->currentText().trimmed();
    filter.customer = m_customer->text().trimmed();
    if (m_kind->currentIndex() > 0)
        filter.kind = data::logKindOfWord(m_kind->currentData().toString());
    return filter;
}

void OperationLogWindow::setFilter(const data::LogFilter &filter)
{
    m_from->setDate(filter.from.isValid() ? filter.from : kOpenDate);
    m_to->setDate(filter.to.isValid() ? filter.to : kOpenDate);
    m_operator->setEditText(filter.operatorName);
    m_customer->setText(filter.customer);
    m_kind->setCurrentIndex(filter.kind ? m_kind->findData(data::logKindWord(*filter.kind)) : 0);
}

void OperationLogWindow::fillOperators()
{
    auto names = std::make_shared<QStringList>();
    QThread *worker = QThread::create([address = m_address, names] {
        try {
            db::Connection connection;
            connection.setAddress(address);
            connection.setIntegrityCheck(false);
            connection.open();
            QSqlQuery query = db::runBound(connection, QStringLiteral("select distinct username from userdb "
                                                                      "where username is not null order by username"));
            while (query.next())
                names->append(query.value(0).toString());
        } catch (const Error &) {
            // The filter can still be typed.
        }
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, names] {
        const QString typed = m_operator->currentText();
        m_operator->addItems(*names);
        m_operator->setEditText(typed);
    });
    worker->start();
}

void OperationLogWindow::search()
{
    m_applied = filter();
    m_starts = {0};
    showPage(0);
}

PagedTableWindow::PageJob OperationLogWindow::pageJob(int page)
{
    // Only pages whose start is known can be read: the first, and the one after each read.
    const int known = std::clamp(page, 0, int(m_starts.size()) - 1);
    return [address = m_address, filter = m_applied, known, below = m_starts[size_t(known)]] {
        db::Connection connection;
        connection.setAddress(address);
        connection.setIntegrityCheck(false); // the session's connection read it at login
        connection.open();
        return readLogPage(connection, filter, known, below);
    };
}

void OperationLogWindow::pageArrived(int)
{
    const TablePage &page = shown();
    if (!page.keys.empty() && size_t(page.page) + 1 == m_starts.size() && page.page + 1 < page.pages)
        m_starts.push_back(page.keys.back());
}

void OperationLogWindow::exportShown()
{
    using exchange::ExportFormat;
    const std::optional<exchange::ExportTarget> target =
        exchange::askExportTarget(this, {}, {}, {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::CsvGbk});
    if (target)
        exportLog(m_by, m_applied, *target, this);
}

} // namespace lianbu::operators
