#include "operators/FailureLogWindow.h"

#include "data/AttemptLog.h"
#include "operators/AttemptLimiter.h"

#include <QTableWidget>

namespace lianbu::operators {

TablePage readFailurePage(db::Connection &connection, int page)
{
    const data::AttemptLog log(connection);
    TablePage result = pageFrame(log.failureCount(), page, kFailuresPerPage);
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
    : PagedTableWindow({QStringLiteral("时间"), QStringLiteral("用户名"), QStringLiteral("位置")}, parent)
    , m_connection(connection)
{
    setObjectName(QStringLiteral("failureLogWindow"));
    setWindowTitle(QStringLiteral("失败记录"));
    resize(460, 420);
    showPage(0);
}

PagedTableWindow::PageJob FailureLogWindow::pageJob(int page)
{
    return [this, page] { return readFailurePage(m_connection, page); };
}

} // namespace lianbu::operators
