#pragma once

#include "platform/PagedTableWindow.h"

namespace lianbu::data {
class CustomerStore;
struct BinEntry;
struct Rights;
} // namespace lianbu::data

namespace lianbu::customers {

// "回收站": the deleted customers one page at a time, newest deletion first, with who deleted
// each and when. 还原 puts the chosen one back; 彻底删除 and 清空回收站 ask first and need the
// right to delete (the store refuses them too).
class RecycleBinWindow : public PagedTableWindow
{
    Q_OBJECT

public:
    static constexpr int kPerPage = 100;

    RecycleBinWindow(data::CustomerStore &store, const data::Rights &rights, QWidget *parent);

    QPushButton *restoreButton() const { return m_restore; }
    QPushButton *purgeButton() const { return m_purge; }
    QPushButton *emptyButton() const { return m_empty; }
public slots:
    void restoreChosen(); // 还原
    void purgeChosen();   // 彻底删除
    void emptyBin();      // 清空回收站

signals:
    // A customer came back: the lists show it again.
    void customerRestored(qint64 key);

protected:
    PageJob pageJob(int page) override;

private:
    data::CustomerStore &m_store;
    QPushButton *m_restore;
    QPushButton *m_purge;
    QPushButton *m_empty;
};

} // namespace lianbu::customers
