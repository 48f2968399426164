#pragma once

// Reads back what a recorded page says: the page's picture is replayed on a paint device that
// records every text item with its position, and the items are joined into lines (same
// baseline), with "|" between items that are apart (different cells).

#include <QPicture>
#include <QPointF>
#include <QString>
#include <QStringList>

class PageStore;

namespace lianbu::test {

struct PageTextItem
{
    QPointF pos; // baseline start in page pixels
    double width = 0;
    QString text;
};

class PageText
{
public:
    explicit PageText(const QPicture &page);
    PageText(const PageStore &store, int index);

    const QList<PageTextItem> &items() const & { return m_items; }
    // A temporary's items are handed over, so a loop over PageText(...).items() stays valid.
    QList<PageTextItem> items() && { return std::move(m_items); }
    // The lines top to bottom.
    QStringList lines() const;
    // All lines joined with '\n'.
    QString text() const;
    bool contains(const QString &s) const { return text().contains(s); }
    // The y of the first line containing s, or -1.
    double yOf(const QString &s) const;

private:
    QList<PageTextItem> m_items;
};

} // namespace lianbu::test
