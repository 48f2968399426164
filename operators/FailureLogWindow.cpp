#include "operators/FailureLogWindow.h"

#include "data/AttemptLog.h"
#include "operators/AttemptLimiter.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lianbu::operators {

FailurePage readFailurePage(db::Connection &connection, int page)
{
    const data::AttemptLog log(connection);
    FailurePage result;
    result.total = log.failureCount();
    result.pages = std::max(1, (result.total + kFailuresPerPage - 1) / kFailuresPerPage);
    result.page = std::clamp(page, 0, result.pages - 1);
    for (const data::Attempt &attempt : log.lastFailures(kFailuresPerPage, result.page * kFailuresPerPage)) {
        QString name = attempt.name;
        if (name.isEmpty())
            name = QStringLiteral("（不存在的用户名）");
        else if (name.size() > kOperatorNameLength)
            name = name.left(kOperatorNameLength) + QStringLiteral("…"); // written by an older version
        result.rows.push_back({attempt.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), name,
                               data::attemptKindText(attempt.kind)});
    }
    return result;
}

FailureLogWindow::FailureLogWindow(db::Connection &connection, QWidget *parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_table(new QTableWidget(0, 3, this))
    , m_pageLabel(new QLabel(this))
    , m_previous(new QPushButton(QStringLiteral("上一页"), this))
    , m_next(new QPushButton(QStringLiteral("下一页"), this))
{
    setObjectName(QStringLiteral("failureLogWindow"));
    setWindowTitle(QStringLiteral("失败记录"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_table->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("用户名"), QStringLiteral("位置")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pageLabel);
    buttons->addStretch();
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(460, 420);
    connect(m_previous, &QPushButton::clicked, this, [this] { showPage(m_page.page - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showPage(m_page.page + 1); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    showPage(0);
}

void FailureLogWindow::showPage(int page)
{
    m_page = readFailurePage(m_connection, page);
    m_table->setRowCount(int(m_page.rows.size()));
    for (int row = 0; row < int(m_page.rows.size()); ++row)
        for (int column = 0; column < 3; ++column)
            m_table->setItem(row, column, new QTableWidgetItem(m_page.rows[size_t(row)].value(column)));
    m_table->resizeColumnsToContents();
    m_pageLabel->setText(QStringLiteral("共%1条，第%2/%3页").arg(m_page.total).arg(m_page.page + 1).arg(m_page.pages));
    m_previous->setEnabled(m_page.page > 0);
    m_next->setEnabled(m_page.page + 1 < m_page.pages);
}

} // namespace lianbu::operators
