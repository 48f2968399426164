#include "followups/CustomerCard.h"

#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "followups/FollowUpWindow.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "printing/GridReport.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"

#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>

namespace lianbu::followups {

namespace {

// The fields of the card in the order of the entry panel, with their captions.
const std::pair<const char *, const char *> kCardFields[] = {
    {col::Category, "客户类别"}, {col::ShortName, "客户简称"}, {col::Name, "姓名"},
    {col::Sex, "性别"},          {col::Position, "职务"},      {col::Mobile, "手机"},
    {col::Phone, "电话"},        {col::Fax, "传真"},           {col::Address, "地址"},
    {col::Company, "单位"},      {col::Postcode, "邮编"},      {col::Email, "电子邮件"},
    {col::Website, "网址"},      {col::Notes, "备注"},         {col::RegistrationDate, "登记日期"},
};

// The history as rows of texts, in the order of followUpCells().
class HistoryRows final : public db::RowReader
{
public:
    explicit HistoryRows(const std::vector<data::FollowUp> &history)
    {
        for (const data::FollowUp &followUp : history)
            m_rows.push_back(followUpCells(followUp));
    }
    int rowCount() const override { return int(m_rows.size()); }
    void readRows(int from, int to, const Visit &visit) const override
    {
        for (int row = std::max(0, from); row < to && row < rowCount(); ++row) {
            const Cells cells(m_rows[size_t(row)]);
            visit(row, cells);
        }
    }
    int currentRow() const override { return -1; }
    bool stale() const override { return false; }

private:
    class Cells final : public db::RowCells
    {
    public:
        explicit Cells(const QStringList &texts)
            : m_texts(texts)
        {}
        QStringView text(int index) const override
        {
            return index >= 0 && index < m_texts.size() ? QStringView(m_texts[index]) : QStringView();
        }
        bool isNull(int index) const override { return text(index).isEmpty(); }

    private:
        const QStringList &m_texts;
    };
    std::vector<QStringList> m_rows;
};

QString fieldsHtml(const data::CustomerRecord &customer)
{
    QString html = QStringLiteral("<p align=\"center\" style=\"font-size:14pt; font-weight:bold\">客 户 资 料 卡</p>"
                                  "<table cellspacing=\"0\" cellpadding=\"3\" border=\"1\" width=\"100%\">");
    for (const auto &[field, caption] : kCardFields) {
        const QString value = customer.value(QLatin1String(field)).value_or(QString());
        html += QStringLiteral("<tr><td width=\"18%\"><b>%1</b></td><td>%2</td></tr>")
                    .arg(QString::fromUtf8(caption),
                         value.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
    }
    return html + QStringLiteral("</table><p style=\"font-size:11pt; font-weight:bold\">跟进记录</p>");
}

// What the owner keeps between prints: the preview (its own window), the report and the card.
class CardPrinting : public QObject
{
public:
    explicit CardPrinting(QObject *owner)
        : QObject(owner)
        , report(new GridReport(this))
    {
        setObjectName(QStringLiteral("customerCardPrinting"));
    }
    GridReport *report;
    std::unique_ptr<CustomerCard> card;
    std::unique_ptr<PrintPreviewWindow> preview;
};

} // namespace

CustomerCard::CustomerCard(data::CustomerRecord customer, std::vector<data::FollowUp> history)
    : m_customer(std::move(customer))
    , m_rows(std::make_unique<HistoryRows>(history))
{}

CustomerCard::~CustomerCard() = default;

void CustomerCard::setUp(GridReport &report) const
{
    printing::configureCustomerPrint(&report, QString());
    report.title = QStringList{QStringLiteral("联簿宝 客户资料卡")};
    report.options = PrintOptions(PrintOption::FitToPageWidth) | PrintOption::RowAutoStretch;
    report.beforeGridText()->setHtml(fieldsHtml(m_customer));
    report.afterGridText()->setPlainText(QStringLiteral("%[Today]"));
    report.setTextReplacements({{QStringLiteral("%[Today]"), dateText(today())}});

    // The history's columns, as wide as the 跟进记录 window shows them (内容 the widest).
    db::ListColumns columns;
    printing::ReportLook look;
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(13);
    look.dataFont = font;
    look.titleFont = font;
    look.fixedColor = QColor(230, 230, 230);
    const QStringList titles = followUpTitles();
    const int widths[] = {100, 40, 200, 110, 70, 30, 60};
    for (int i = 0; i < titles.size(); ++i) {
        db::ListColumn column;
        column.fieldName = QStringLiteral("c%1").arg(i);
        column.valueIndex = i;
        column.title = titles.at(i);
        column.width = i < int(std::size(widths)) ? widths[i] : 80;
        column.alignment = Qt::AlignLeft | Qt::AlignVCenter;
        columns.columns.push_back(std::move(column));
        printing::ColumnLook shown;
        shown.font = font;
        shown.color = Qt::white;
        shown.titleFont = font;
        shown.titleColor = look.fixedColor;
        look.columns.push_back(std::move(shown));
    }
    report.setList(std::move(columns), std::move(look), m_rows.get());
}

void printCustomerCard(db::Connection &connection, const data::SessionOperator &by, qint64 customer, QWidget *owner)
{
    if (!data::mayDo(&by, data::Right::Print, owner))
        return;
    const std::optional<data::CustomerRecord> record = data::CustomerStore(connection).read(customer);
    if (!record) {
        showInformation(QStringLiteral("这位客户已被删除。请重新查询列表。"), owner);
        return;
    }
    auto *printing =
        owner->findChild<CardPrinting *>(QStringLiteral("customerCardPrinting"), Qt::FindDirectChildrenOnly);
    if (!printing)
        printing = new CardPrinting(owner);
    // Pages still being made read the card they started with.
    if (printing->preview && printing->preview->store()->printing())
        return;
    if (!printing->preview)
        printing->preview = std::make_unique<PrintPreviewWindow>();
    printing->card = std::make_unique<CustomerCard>(*record, data::FollowUpStore(connection).ofCustomer(customer));
    printing->card->setUp(*printing->report);
    try {
        printing->report->generate(printing->preview->store());
    } catch (const Error &error) {
        showError(error.message(), printing->preview.get());
    }
}

} // namespace lianbu::followups
