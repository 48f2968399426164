#include "customers/ImportWindow.h"

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
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

QString shown(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\n'), QStringLiteral(" ⏎ "));
    return text;
}

} // namespace

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
    exchange::ImportFile file;
    try {
        readOffThread(this, [&](exchange::ReadBudget &budget) { file = exchange::readImportFile(path, budget); });
    } catch (const exchange::ReadCancelled &) {
        return false;
    } catch (const Error &error) {
        showError(error.message(), this);
        m_file = {};
        m_records.clear();
        return false;
    }
    m_file = std::move(file);
    m_choice = exchange::matchColumns(m_file.sheet());
    rebuildRecords();

    m_fileLabel->setText(QStringLiteral("文件：%1").arg(QFileInfo(path).fileName()));
    const bool csv = format().kind == exchange::FormatKind::Csv;
    m_encodingLabel->setVisible(csv);
    m_encodingCombo->setVisible(csv);
    m_encodingLabel->setText(m_file.encodingCertain
                                 ? QStringLiteral("文字编码：")
                                 : QStringLiteral("文字编码（无法确定，请看预览中的文字是否正确）："));
    m_filling = true;
    m_encodingCombo->setCurrentIndex(encoding() == exchange::TextEncoding::Gbk ? 1 : 0);
    m_filling = false;
    fillPreview();
    m_pages->setCurrentIndex(0);
    return true;
}

void ImportWindow::setEncoding(exchange::TextEncoding encoding)
{
    if (format().kind != exchange::FormatKind::Csv || encoding == this->encoding())
        return;
    exchange::ImportFile file;
    try {
        readOffThread(
            this, [&](exchange::ReadBudget &budget) { file = exchange::rereadImportFile(m_file, encoding, budget); });
    } catch (const exchange::ReadCancelled &) {
        file = m_file;
        file.format = exchange::formatOf(exchange::FormatKind::Csv, encoding).id;
        file.imported = {};
    } catch (const Error &error) {
        showError(error.message(), this);
        file = m_file;
        file.format = exchange::formatOf(exchange::FormatKind::Csv, encoding).id;
        file.imported = {};
    }
    m_file = std::move(file);
    // The titles may only now be readable: match again, keeping nothing of the old choice.
    m_choice = exchange::matchColumns(m_file.sheet());
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
    m_records = exchange::recordsOf(m_file.sheet(), m_choice);
    m_duplicates.clear();
}

void ImportWindow::fillPreview()
{
    m_filling = true;
    // Source columns, named by their title when the file has a title row.
    int width = 0;
    const exchange::SheetData &sheet = m_file.sheet();
    for (const exchange::SheetRow &row : sheet.rows)
        width = std::max(width, int(row.cells.size()));
    const QStringList titles =
        m_choice.titleRow >= 0 ? sheet.rows[std::size_t(m_choice.titleRow)].cells : QStringList();

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
    if (!sheet.unreadableLines.empty())
        text += QStringLiteral("无法读取的行：第 %1 行。").arg(exchange::linesText(sheet.unreadableLines));
    if (!m_file.imported.repairs.empty())
        text += exchange::repairsText(m_file.imported.repairs);
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
    m_duplicates = exchange::findDuplicates(m_records, exchange::loadCustomers(m_database));
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
        if (duplicate.matches.size() > 1) {
            // Several customers: the operator sees how well each matches and picks the one to update.
            auto *target = new QComboBox(m_duplicateTable);
            target->setObjectName(QStringLiteral("targetCombo"));
            if (duplicate.target == 0)
                target->addItem(QStringLiteral("（请选择要更新的客户）"), qint64(0));
            for (const exchange::MatchedCustomer &match : duplicate.matches)
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
                                      new QTableWidgetItem(duplicate.withinFile || duplicate.matches.empty()
                                                               ? QStringLiteral("（文件中前面的记录）")
                                                               : names.value(duplicate.matches.front().id)));
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
    exchange::chooseAction(entry, action);
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
    exchange::chooseTarget(entry, customer);
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
    const exchange::ImportPlan planned = exchange::planImport(m_records, m_duplicates);
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
        m_summary = exchange::applyImport(
            m_database, plan, dateText(now().date()),
            [&](int permille) {
                progress.setValue(permille);
                return !progress.wasCanceled();
            },
            m_by, QDir::toNativeSeparators(m_file.path));
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

QString ImportWindow::summaryText() const
{
    return m_summary ? exchange::summaryText(*m_summary, m_file.sheet().unreadableLines, m_file.imported.repairs)
                     : QString();
}

} // namespace lianbu::customers
