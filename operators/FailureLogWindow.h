#pragma once

#include "platform/PagedTableWindow.h"

namespace lianbu::db {
class Connection;
}

namespace lianbu::operators {

inline constexpr int kFailuresPerPage = 20;

// Reads page `page` of the failed password attempts, newest first: time (local), name, where
// (the page moved into the pages there are). A name is shown at most as long as an operator
// name can be; a name that matched no operator shows as "（不存在的用户名）".
TablePage readFailurePage(db::Connection &connection, int page);

// "失败记录": the failed attempts one page at a time, for the super administrator.
class FailureLogWindow : public PagedTableWindow
{
    Q_OBJECT

public:
    FailureLogWindow(db::Connection &connection, QWidget *parent);

protected:
    PageJob pageJob(int page) override;

private:
    db::Connection &m_connection;
};

} // namespace lianbu::operators
