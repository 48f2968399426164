#include "platform/PagedTableWindow.h"

#include "platform/Error.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace lianbu {

TablePage pageFrame(qint64 total, int page, int perPage)
{
    TablePage frame;
    frame.total = std::max<qint64>(0, total);
    frame.pages = int(std::max<qint64>(1, (frame.total + perPage - 1) / perPage));
    frame.page = std::clamp(page, 0, frame.pages - 1);
    return frame;
}

PagedTableWindow::PagedTableWindow(const QStringList &titles, QWidget *parent)
    : QDialog(parent)
    , m_table(new QTableWidget(0, int(titles.size()), this))
    , m_pageLabel(new QLabel(this))
    , m_previous(new QPushButton(QStringLiteral("上一页"), this))
    , m_next(new QPushButton(QStringLiteral("下一页"), this))
    , m_close(new QPushButton(QStringLiteral("关闭"), this))
    , m_buttons(new QHBoxLayout)
    , m_layout(new QVBoxLayout(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_table->setHorizontalHeaderLabels(titles);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_buttons->addWidget(m_pageLabel);
    m_buttons->addStretch();
    m_buttons->addWidget(m_previous);
    m_buttons->addWidget(m_next);
    m_buttons->addWidget(m_close);
    m_layout->addWidget(m_table);
    m_layout->addLayout(m_buttons);
    m_previous->setEnabled(false);
    m_next->setEnabled(false);
    connect(m_previous, &QPushButton::clicked, this, [this] { showPage(m_shown.page - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showPage(m_shown.page + 1); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
}

PagedTableWindow::~PagedTableWindow() = default;

void PagedTableWindow::addButton(QPushButton *button)
{
    m_buttons->insertWidget(m_buttons->indexOf(m_close), button);
}

void PagedTableWindow::addAboveTable(QBoxLayout *layout)
{
    m_layout->insertLayout(0, layout);
}

qint64 PagedTableWindow::chosenKey() const
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= int(m_shown.keys.size()) || !m_table->selectionModel()->isRowSelected(row, {}))
        return 0;
    return m_shown.keys[size_t(row)];
}

void PagedTableWindow::showPage(int page)
{
    PageJob job = pageJob(page);
    const quint64 ticket = ++m_asked;
    if (!m_background) {
        TablePage read;
        QString failure;
        try {
            read = job();
        } catch (const Error &error) {
            failure = error.operatorText();
        }
        m_answered = ticket;
        present(page, read, failure);
        return;
    }
    m_previous->setEnabled(false);
    m_next->setEnabled(false);
    m_pageLabel->setText(QStringLiteral("正在读取…"));
    // The worker owns its result until it ends; the window may close first.
    struct Answer
    {
        TablePage page;
        QString failure;
    };
    auto answer = std::make_shared<Answer>();
    QThread *worker = QThread::create([job = std::move(job), answer] {
        try {
            answer->page = job();
        } catch (const Error &error) {
            answer->failure = error.operatorText();
        } catch (const std::exception &error) {
            answer->failure = QString::fromLocal8Bit(error.what());
        }
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, ticket, page, answer] {
        if (ticket != m_asked)
            return; // a newer page was asked for meanwhile
        m_answered = ticket;
        present(page, answer->page, answer->failure);
    });
    worker->start();
}

void PagedTableWindow::present(int requested, const TablePage &page, const QString &failure)
{
    if (!failure.isEmpty()) {
        m_pageLabel->setText(QStringLiteral("读取失败：%1").arg(failure));
        m_previous->setEnabled(m_shown.page > 0);
        m_next->setEnabled(m_shown.page + 1 < m_shown.pages);
        emit pageShown();
        return;
    }
    m_shown = page;
    m_table->clearContents();
    m_table->setRowCount(int(page.rows.size()));
    for (int row = 0; row < int(page.rows.size()); ++row) {
        const QStringList &cells = page.rows[size_t(row)];
        for (int column = 0; column < m_table->columnCount(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells.value(column)));
        // The last column fills what is left and cuts a long text short; the whole text is in its tooltip.
        if (QTableWidgetItem *last = m_table->item(row, m_table->columnCount() - 1))
            last->setToolTip(last->text());
    }
    // Sized to its contents, the last column would push its title and the rest of the text out of sight.
    for (int column = 0; column + 1 < m_table->columnCount(); ++column)
        m_table->resizeColumnToContents(column);
    m_pageLabel->setText(QStringLiteral("共%1条，第%2/%3页").arg(page.total).arg(page.page + 1).arg(page.pages));
    m_previous->setEnabled(page.page > 0);
    m_next->setEnabled(page.page + 1 < page.pages);
    pageArrived(requested);
    emit pageShown();
}

} // namespace lianbu
