#include "customers/ImportWindow.h"

#include "export/VCardFormat.h"
#include "export/XlsReader.h"
#include "export/XlsxFormat.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <exception>

namespace lianbu::customers {

using exchange::CustomerField;
using exchange::ImportAction;
using exchange::kCustomerFieldCount;

namespace {

constexpr int kNotImported = -1;
const QColor kCutColour(255, 210, 210);

QString actionText(ImportAction action)
{
    switch (action) {
    case ImportAction::Skip:
        return QStringLiteral("跳过");
    case ImportAction::Update:
        return QStringLiteral("更新");
    case ImportAction::Add:
        return QStringLiteral("仍然添加");
    }
    return {};
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

// Runs `read` on a thread of its own while the window's thread shows a box with 取消, so a slow
// or hostile file never freezes the program. Rethrows what the read threw (ReadCancelled when
// the operator cancelled).
void readOffThread(QWidget *parent, const std::function<void(exchange::ReadBudget &)> &read)
{
    std::atomic<bool> cancel{false};
    std::exception_ptr failure;
    QThread *thread = QThread::create([&] {
        try {
            exchange::ReadBudget budget({}, &cancel);
            read(budget);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    {
        QProgressDialog progress(QStringLiteral("正在读取文件，请稍候......"), QStringLiteral("取消"), 0, 0, parent);
        progress.setWindowTitle(QStringLiteral("导入"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        progress.setValue(0);
        QEventLoop loop;
        // Queued from the reading thread, so a read that ends at once still ends the loop.
        QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
        QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&cancel] { cancel = true; });
        thread->start();
        loop.exec();
        thread->wait();
    }
    delete thread;
    if (failure)
        std::rethrow_exception(failure);
}

// A vCard file as a sheet: one title row with the fields' titles, one row per card.
exchange::SheetData sheetOfCards(const exchange::VCardData &cards)
{
    exchange::SheetData sheet;
    QStringList titles;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        titles.append(exchange::fieldTitle(CustomerField(f)));
    sheet.rows.push_back({0, titles});
    for (const exchange::VCardCard &card : cards.cards) {
        QStringList cells;
        for (const QString &value : card.record.values)
            cells.append(value);
        sheet.rows.push_back({card.line, cells});
    }
    sheet.unreadableLines = cards.unreadableLines;
    return sheet;
}

QString shown(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\n'), QStringLiteral(" ⏎ "));
    return text;
}

} // namespace

ImportFileKind importFileKind(const QString &path, const QByteArray &head)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return ImportFileKind::Xlsx;
    if (suffix == QLatin1String("xls"))
        return ImportFileKind::Xls;
    if (suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard"))
        return ImportFileKind::VCard;
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt"))
        return ImportFileKind::Csv;
    if (head.startsWith("PK\x03\x04"))
        return ImportFileKind::Xlsx;
    if (head.startsWith("\xD0\xCF\x11\xE0") || head.startsWith("\x09\x08"))
        return ImportFileKind::Xls;
    if (head.trimmed().toUpper().startsWith("BEGIN:VCARD"))
        return ImportFileKind::VCard;
    return ImportFileKind::Csv;
}

QString importFileFilter()
{
    return QStringLiteral("客户文件 (*.csv *.xlsx *.xls *.vcf);;CSV 文件 (*.csv *.txt);;Excel 工作簿 (*.xlsx *.xls);;"
                          "vCard 名片 (*.vcf);;所有文件 (*)");
}

ImportWindow::ImportWindow(QSqlDatabase database, QWidget *parent)
    : QDialog(parent)
    , m_database(std::move(database))
{
    setObjectName(QStringLiteral("ImportWindow"));
    setWindowTitle(QStringLiteral("导入客户"));
    resize(900, 560);
    auto *layout = new QVBoxLayout(this);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages);
    buildPreviewPage();
    buildDuplicatesPage();
}

void ImportWindow::buildPreviewPage()
{
    auto *page = new QWidget(m_pages);
    auto *layout = new QVBoxLayout(page);
    m_fileLabel = new QLabel(page);
    layout->addWidget(m_fileLabel);

    auto *encodingRow = new QHBoxLayout;
    m_encodingLabel = new QLabel(QStringLiteral("文字编码："), page);
    m_encodingCombo = new QComboBox(page);
    m_encodingCombo->setObjectName(QStringLiteral("encodingCombo"));
    m_encodingCombo->addItem(QStringLiteral("UTF-8"));
    m_encodingCombo->addItem(QStringLiteral("GBK（简体中文）"));
    encodingRow->addWidget(m_encodingLabel);
    encodingRow->addWidget(m_encodingCombo);
    encodingRow->addStretch();
    layout->addLayout(encodingRow);
    connect(m_encodingCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_filling)
            setEncoding(index == 1 ? exchange::TextEncoding::Gbk : exchange::TextEncoding::Utf8);
    });

    auto *hint = new QLabel(QStringLiteral("下表第一行选择每一项取自文件的哪一列；其下是前 %1 条记录导入后的样子，"
                                           "红色的内容超出了该项的长度，导入时将被截短。")
                                .arg(kPreviewRows),
                            page);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    m_preview = new QTableWidget(page);
    m_preview->setObjectName(QStringLiteral("previewTable"));
    m_preview->setColumnCount(int(kCustomerFieldCount));
    QStringList headers;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        headers.append(exchange::fieldTitle(CustomerField(f)));
    m_preview->setHorizontalHeaderLabels(headers);
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_preview, 1);

    m_countLabel = new QLabel(page);
    m_countLabel->setWordWrap(true);
    layout->addWidget(m_countLabel);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    m_nextButton = new QPushButton(QStringLiteral("下一步"), page);
    m_nextButton->setObjectName(QStringLiteral("nextButton"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), page);
    buttons->addWidget(m_nextButton);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_nextButton, &QPushButton::clicked, this, &ImportWindow::goNext);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_pages->addWidget(page);
}

void ImportWindow::buildDuplicatesPage()
{
    auto *page = new QWidget(m_pages);
    auto *layout = new QVBoxLayout(page);
    m_duplicatesLabel = new QLabel(page);
    m_duplicatesLabel->setWordWrap(true);
    layout->addWidget(m_duplicatesLabel);
    m_duplicateTable = new QTableWidget(page);
    m_duplicateTable->setObjectName(QStringLiteral("duplicateTable"));
    m_duplicateTable->setColumnCount(6);
    m_duplicateTable->setHorizontalHeaderLabels({QStringLiteral("行"), QStringLiteral("客户简称"),
                                                 QStringLiteral("姓名"), QStringLiteral("手机"),
                                                 QStringLiteral("登记簿中相同的客户"), QStringLiteral("处理")});
    m_duplicateTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_duplicateTable->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    layout->addWidget(m_duplicateTable, 1);

    auto *buttons = new QHBoxLayout;
    for (const ImportAction action : {ImportAction::Skip, ImportAction::Update, ImportAction::Add}) {
        auto *all = new QPushButton(QStringLiteral("全部") + actionText(action), page);
        connect(all, &QPushButton::clicked, this, [this, action] { setAllActions(action); });
        buttons->addWidget(all);
    }
    buttons->addStretch();
    auto *back = new QPushButton(QStringLiteral("上一步"), page);
    auto *import = new QPushButton(QStringLiteral("导入"), page);
    import->setObjectName(QStringLiteral("importButton"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), page);
    buttons->addWidget(back);
    buttons->addWidget(import);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(back, &QPushButton::clicked, this, [this] { m_pages->setCurrentIndex(0); });
    connect(import, &QPushButton::clicked, this, &ImportWindow::runImport);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_pages->addWidget(page);
}

bool ImportWindow::loadFile(const QString &path)
{
    QByteArray bytes;
    ImportFileKind kind = ImportFileKind::Csv;
    exchange::TextEncoding encoding = exchange::TextEncoding::Utf8;
    bool certain = true;
    exchange::SheetData sheet;
    std::vector<exchange::VCardRepair> repairs;
    try {
        readOffThread(this, [&](exchange::ReadBudget &budget) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                throw Error(QStringLiteral("无法打开文件“%1”：%2").arg(QFileInfo(path).fileName(), file.errorString()));
            budget.checkFileSize(file.size());
            kind = importFileKind(path, file.peek(16));
            // FreeXL reads the .xls itself.
            if (kind != ImportFileKind::Xls)
                bytes = file.read(budget.limits().fileBytes + 1);
            if (kind == ImportFileKind::Csv)
                encoding = exchange::detectEncoding(bytes, &certain);
            sheet = readSheetOf(kind, path, bytes, encoding, budget, &repairs);
        });
    } catch (const exchange::ReadCancelled &) {
        return false;
    } catch (const Error &error) {
        showError(error.message(), this);
        m_sheet = {};
        m_records.clear();
        return false;
    }
    m_path = path;
    m_bytes = std::move(bytes);
    m_kind = kind;
    m_encoding = encoding;
    m_sheet = std::move(sheet);
    m_repairs = std::move(repairs);
    m_choice = exchange::matchColumns(m_sheet);
    rebuildRecords();

    m_fileLabel->setText(QStringLiteral("文件：%1").arg(QFileInfo(path).fileName()));
    const bool csv = m_kind == ImportFileKind::Csv;
    m_encodingLabel->setVisible(csv);
    m_encodingCombo->setVisible(csv);
    m_encodingLabel->setText(certain ? QStringLiteral("文字编码：")
                                     : QStringLiteral("文字编码（无法确定，请看预览中的文字是否正确）："));
    m_filling = true;
    m_encodingCombo->setCurrentIndex(m_encoding == exchange::TextEncoding::Gbk ? 1 : 0);
    m_filling = false;
    fillPreview();
    m_pages->setCurrentIndex(0);
    return true;
}

exchange::SheetData ImportWindow::readSheetOf(ImportFileKind kind, const QString &path, const QByteArray &bytes,
                                              exchange::TextEncoding encoding, exchange::ReadBudget &budget,
                                              std::vector<exchange::VCardRepair> *repairs)
{
    switch (kind) {
    case ImportFileKind::Csv:
        return exchange::parseCsv(bytes, encoding, &budget);
    case ImportFileKind::Xlsx:
        return exchange::readXlsx(bytes, &budget);
    case ImportFileKind::Xls:
        return exchange::readXls(path, &budget);
    case ImportFileKind::VCard: {
        exchange::VCardData cards = exchange::parseVCards(bytes, &budget);
        if (repairs)
            *repairs = cards.repairs;
        return sheetOfCards(cards);
    }
    }
    return {};
}

void ImportWindow::setEncoding(exchange::TextEncoding encoding)
{
    if (m_kind != ImportFileKind::Csv || encoding == m_encoding)
        return;
    exchange::SheetData sheet;
    try {
        readOffThread(this, [&](exchange::ReadBudget &budget) {
            sheet = readSheetOf(m_kind, m_path, m_bytes, encoding, budget, nullptr);
        });
    } catch (const exchange::ReadCancelled &) {
        sheet = {};
    } catch (const Error &error) {
        showError(error.message(), this);
        sheet = {};
    }
    m_encoding = encoding;
    m_sheet = std::move(sheet);
    // The titles may only now be readable: match again, keeping nothing of the old choice.
    m_choice = exchange::matchColumns(m_sheet);
    rebuildRecords();
    m_filling = true;
    m_encodingCombo->setCurrentIndex(encoding == exchange::TextEncoding::Gbk ? 1 : 0);
    m_filling = false;
    fillPreview();
}

void ImportWindow::setColumn(CustomerField field, int sourceColumn)
{
    m_choice.column[std::size_t(field)] = sourceColumn;
    rebuildRecords();
    fillPreview();
}

void ImportWindow::rebuildRecords()
{
    m_records = exchange::recordsOf(m_sheet, m_choice);
    m_duplicates.clear();
}

void ImportWindow::fillPreview()
{
    m_filling = true;
    // Source columns, named by their title when the file has a title row.
    int width = 0;
    for (const exchange::SheetRow &row : m_sheet.rows)
        width = std::max(width, int(row.cells.size()));
    const QStringList titles =
        m_choice.titleRow >= 0 ? m_sheet.rows[std::size_t(m_choice.titleRow)].cells : QStringList();

    const int shownRows = std::min<int>(kPreviewRows, int(m_records.size()));
    m_preview->clearContents();
    m_preview->setRowCount(1 + shownRows);
    m_columnCombos.clear();
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
        auto *combo = new QComboBox(m_preview);
        combo->addItem(QStringLiteral("（不导入）"), kNotImported);
        for (int c = 0; c < width; ++c) {
            const QString title = titles.value(c).trimmed();
            combo->addItem(title.isEmpty() ? QStringLiteral("第 %1 列").arg(c + 1)
                                           : QStringLiteral("第 %1 列：%2").arg(c + 1).arg(title),
                           c);
        }
        combo->setCurrentIndex(std::max(0, combo->findData(m_choice.column[f])));
        const CustomerField field = CustomerField(f);
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, field] {
            if (!m_filling)
                setColumn(field, combo->currentData().toInt());
        });
        m_preview->setCellWidget(0, int(f), combo);
        m_columnCombos.push_back(combo);
    }
    QStringList rowLabels{QStringLiteral("取自")};
    for (int r = 0; r < shownRows; ++r) {
        const exchange::ImportRow &row = m_records[std::size_t(r)];
        rowLabels.append(QString::number(row.line));
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
            const QString &value = row.record.values[f];
            const int limit = exchange::fieldInfo(CustomerField(f)).width;
            auto *item = new QTableWidgetItem(shown(limit > 0 ? value.left(limit) : value));
            if (limit > 0 && value.size() > limit) {
                item->setBackground(kCutColour);
                item->setToolTip(
                    QStringLiteral("共 %1 字，此项最多 %2 字：%3").arg(value.size()).arg(limit).arg(value));
            }
            m_preview->setItem(r + 1, int(f), item);
        }
    }
    m_preview->setVerticalHeaderLabels(rowLabels);
    m_preview->resizeColumnsToContents();

    int cut = 0;
    for (const exchange::ImportRow &row : m_records)
        cut += exchange::overWidthFields(row.record).empty() ? 0 : 1;
    QString text = QStringLiteral("共有 %1 条记录可以导入。").arg(m_records.size());
    if (!m_sheet.unreadableLines.empty())
        text += QStringLiteral("无法读取的行：第 %1 行。").arg(linesText(m_sheet.unreadableLines));
    if (!m_repairs.empty())
        text += repairsText();
    if (cut > 0)
        text += QStringLiteral("其中 %1 条记录有内容超出长度，导入时将被截短。").arg(cut);
    if (m_choice.matched() == 0)
        text += QStringLiteral("文件的列没有能对应的标题，请在第一行为各项选择列。");
    m_countLabel->setText(text);
    m_nextButton->setEnabled(!m_records.empty() && m_choice.matched() > 0);
    m_filling = false;
}

bool ImportWindow::findDuplicates()
{
    m_duplicates.clear();
    exchange::DuplicateIndex existing;
    QHash<qint64, exchange::CustomerRecord> customers;
    for (const exchange::IdentifiedCustomer &customer : exchange::loadCustomers(m_database)) {
        existing.add(customer.id, customer.record);
        customers.insert(customer.id, customer.record);
    }
    // Records of the file match earlier records of the file too; those carry negative ids.
    exchange::DuplicateIndex earlier;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        const exchange::CustomerRecord &record = m_records[i].record;
        std::vector<exchange::MatchedCustomer> matches =
            exchange::rankMatches(record, existing.matches(record), customers);
        const bool withinFile = matches.empty() && !earlier.matches(record).empty();
        if (!matches.empty() || withinFile) {
            const qint64 best = exchange::bestMatch(matches);
            m_duplicates.push_back({i, std::move(matches), withinFile, ImportAction::Skip, best});
        }
        earlier.add(-qint64(i) - 1, record);
    }
    fillDuplicates();
    return !m_duplicates.empty();
}

void ImportWindow::fillDuplicates()
{
    // Names of the register's customers that the list mentions.
    QHash<qint64, QString> names;
    for (const exchange::IdentifiedCustomer &customer : exchange::loadCustomers(m_database)) {
        const exchange::CustomerRecord &r = customer.record;
        names.insert(customer.id,
                     QStringLiteral("%1 %2 %3")
                         .arg(r[CustomerField::ShortName], r[CustomerField::Name], r[CustomerField::Mobile])
                         .simplified());
    }
    m_filling = true;
    m_duplicatesLabel->setText(QStringLiteral("文件中有 %1 条记录与登记簿中的客户或文件中前面的记录相同"
                                              "（手机相同，或客户简称和姓名都相同）。请选择如何处理：")
                                   .arg(m_duplicates.size()));
    m_duplicateTable->clearContents();
    m_duplicateTable->setRowCount(int(m_duplicates.size()));
    for (std::size_t d = 0; d < m_duplicates.size(); ++d) {
        const Duplicate &duplicate = m_duplicates[d];
        const exchange::ImportRow &row = m_records[duplicate.record];
        const int r = int(d);
        m_duplicateTable->setItem(r, 0, new QTableWidgetItem(QString::number(row.line)));
        m_duplicateTable->setItem(r, 1, new QTableWidgetItem(row.record[CustomerField::ShortName]));
        m_duplicateTable->setItem(r, 2, new QTableWidgetItem(row.record[CustomerField::Name]));
        m_duplicateTable->setItem(r, 3, new QTableWidgetItem(row.record[CustomerField::Mobile]));
        if (duplicate.existing.size() > 1) {
            // Several customers: the operator sees how well each matches and picks the one to update.
            auto *target = new QComboBox(m_duplicateTable);
            target->setObjectName(QStringLiteral("targetCombo"));
            if (duplicate.target == 0)
                target->addItem(QStringLiteral("（请选择要更新的客户）"), qint64(0));
            for (const exchange::MatchedCustomer &match : duplicate.existing)
                target->addItem(QStringLiteral("%1（%2 项相同）").arg(names.value(match.id)).arg(match.sharedFields),
                                match.id);
            target->setCurrentIndex(std::max(0, target->findData(duplicate.target)));
            connect(target, &QComboBox::currentIndexChanged, this, [this, target, d] {
                if (!m_filling)
                    setTarget(d, target->currentData().toLongLong());
            });
            m_duplicateTable->setCellWidget(r, 4, target);
        } else {
            m_duplicateTable->setItem(r, 4,
                                      new QTableWidgetItem(duplicate.withinFile || duplicate.existing.empty()
                                                               ? QStringLiteral("（文件中前面的记录）")
                                                               : names.value(duplicate.existing.front().id)));
        }
        auto *combo = new QComboBox(m_duplicateTable);
        for (const ImportAction action : {ImportAction::Skip, ImportAction::Update, ImportAction::Add})
            if (!(action == ImportAction::Update && duplicate.withinFile))
                combo->addItem(actionText(action), int(action));
        combo->setCurrentIndex(combo->findData(int(duplicate.action)));
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, d] {
            if (!m_filling)
                setAction(d, ImportAction(combo->currentData().toInt()));
        });
        m_duplicateTable->setCellWidget(r, 5, combo);
    }
    m_duplicateTable->resizeColumnsToContents();
    m_filling = false;
}

void ImportWindow::setAction(std::size_t duplicate, ImportAction action)
{
    if (duplicate >= m_duplicates.size())
        return;
    Duplicate &entry = m_duplicates[duplicate];
    // A record that only repeats an earlier one of the file has nothing in the register to update.
    entry.action = action == ImportAction::Update && entry.withinFile ? ImportAction::Skip : action;
    if (auto *combo = qobject_cast<QComboBox *>(m_duplicateTable->cellWidget(int(duplicate), 5))) {
        m_filling = true;
        combo->setCurrentIndex(combo->findData(int(entry.action)));
        m_filling = false;
    }
}

void ImportWindow::setTarget(std::size_t duplicate, qint64 customer)
{
    if (duplicate >= m_duplicates.size())
        return;
    Duplicate &entry = m_duplicates[duplicate];
    const bool matches = std::any_of(entry.existing.begin(), entry.existing.end(),
                                     [&](const exchange::MatchedCustomer &m) { return m.id == customer; });
    entry.target = matches ? customer : 0;
    if (auto *combo = qobject_cast<QComboBox *>(m_duplicateTable->cellWidget(int(duplicate), 4))) {
        m_filling = true;
        combo->setCurrentIndex(std::max(0, combo->findData(entry.target)));
        m_filling = false;
    }
}

void ImportWindow::setAllActions(ImportAction action)
{
    for (std::size_t d = 0; d < m_duplicates.size(); ++d)
        setAction(d, action);
}

void ImportWindow::goNext()
{
    try {
        if (findDuplicates())
            m_pages->setCurrentIndex(1);
        else
            runImport();
    } catch (const Error &error) {
        showError(error.message(), this);
    }
}

bool ImportWindow::runImport()
{
    std::vector<exchange::DuplicateDecision> decisions;
    decisions.reserve(m_duplicates.size());
    for (const Duplicate &duplicate : m_duplicates)
        decisions.push_back({duplicate.record, duplicate.existing, duplicate.action, duplicate.target});
    const exchange::ImportPlan planned = exchange::planImport(m_records, decisions);
    if (!planned.ready()) {
        showWarning(exchange::unsettledText(planned.unsettled), this);
        return false;
    }
    const std::vector<exchange::PlannedRow> &plan = planned.rows;

    QProgressDialog progress(QStringLiteral("正在导入客户，请稍候......"), QStringLiteral("取消"), 0, 1000, this);
    progress.setWindowTitle(QStringLiteral("导入"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    try {
        m_summary = exchange::applyImport(m_database, plan, dateText(now().date()), [&](int permille) {
            progress.setValue(permille);
            return !progress.wasCanceled();
        });
    } catch (const Error &error) {
        progress.close();
        showError(error.message(), this);
        return false;
    }
    progress.close();
    if (m_summary->added + m_summary->updated > 0)
        emit registerChanged();
    showInformation(summaryText(), this);
    accept();
    return true;
}

QString ImportWindow::repairsText() const
{
    QStringList parts;
    for (std::size_t i = 0; i < m_repairs.size() && i < 20; ++i)
        parts.append(QStringLiteral("第 %1 行%2").arg(m_repairs[i].line).arg(m_repairs[i].what));
    QString text = QStringLiteral("以下内容已修正后读入：%1").arg(parts.join(QStringLiteral("；")));
    if (m_repairs.size() > 20)
        text += QStringLiteral(" 等 %1 处").arg(m_repairs.size());
    return text + QStringLiteral("。");
}

QString ImportWindow::summaryText() const
{
    if (!m_summary)
        return {};
    const exchange::ImportSummary &s = *m_summary;
    QString text =
        QStringLiteral("导入完成：新增 %1 条，更新 %2 条，跳过 %3 条。").arg(s.added).arg(s.updated).arg(s.skipped);
    if (!s.addedForDeleted.empty())
        text += QStringLiteral("\n第 %1 行要更新的客户已被其他操作员删除，没有可更新的资料；"
                               "为不丢失文件中的客户，已作为新客户加入（计入新增）。")
                    .arg(linesText(s.addedForDeleted));
    if (!m_sheet.unreadableLines.empty())
        text += QStringLiteral("\n无法读取的行（没有导入）：第 %1 行。").arg(linesText(m_sheet.unreadableLines));
    if (!m_repairs.empty())
        text += QLatin1Char('\n') + repairsText();
    if (!s.cut.empty()) {
        QStringList cuts;
        for (std::size_t i = 0; i < s.cut.size() && i < 20; ++i)
            cuts.append(QStringLiteral("第 %1 行的“%2”（%3 字，最多 %4 字）")
                            .arg(s.cut[i].line)
                            .arg(exchange::compactTitle(exchange::fieldTitle(s.cut[i].field)))
                            .arg(s.cut[i].length)
                            .arg(exchange::fieldInfo(s.cut[i].field).width));
        text += QStringLiteral("\n以下内容超出长度，已截短：%1").arg(cuts.join(QStringLiteral("；")));
        if (s.cut.size() > 20)
            text += QStringLiteral(" 等 %1 处").arg(s.cut.size());
        text += QStringLiteral("。");
    }
    return text;
}

} // namespace lianbu::customers
