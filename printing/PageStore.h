#pragma once

// The page store of printed reports (PageStore) and the scrolling page view
// (PageView) that shows one of its pages.
//
// Pages are vector drawings (QPicture) in the pixels of the printer they were laid out for,
// relative to the printable area's top-left corner; the store remembers those metrics so a page
// can be shown at any zoom and printed on any printer.

#include "printing/PageOps.h"
#include "printing/PrintLayout.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QObject>
#include <QPicture>
#include <QPointer>

#include <functional>
#include <memory>

class QPainter;
class QPrinter;

namespace lianbu::printing {

// The completed pages of a document, compressed on a thread of their own: compressing a page
// costs about a tenth of drawing it, and the window thread need not wait for it. A page is
// readable at once, from its unpacked bytes until its packed ones are ready.
class PagePacker
{
public:
    PagePacker();
    ~PagePacker();
    PagePacker(const PagePacker &) = delete;
    PagePacker &operator=(const PagePacker &) = delete;

    // Adds a page's picture bytes; its packing is queued.
    void append(QByteArray unpacked);
    // Drops every page; packing still under way for them is thrown away.
    void clear();
    int size() const;
    // The page's bytes (0-based); `packed` tells whether they are compressed. Callable from
    // any thread.
    QByteArray bytes(int index, bool *packed) const;
    // Waits until every page queued so far is packed (for tests and measurements).
    void waitUntilPacked() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace lianbu::printing

class PageStore : public QObject
{
    Q_OBJECT

public:
    explicit PageStore(QObject *parent = nullptr);
    ~PageStore() override;

    // ---- the printer the pages are laid out for ----------------------------------------
    // Initially the system's default printer.
    QPrinter *printer() const { return m_printer.get(); }
    // True when pages can be printed: a printer is installed, or the printer writes to a file.
    // The list of installed printers is read once (asking the print system is slow).
    bool printerInstalled() const;
    // The metrics of the next document: the printer's, or the virtual 600-dpi page when
    // nothing can be printed.
    lianbu::printing::PrinterMetrics currentMetrics() const;
    // The metrics of the recorded pages.
    const lianbu::printing::PrinterMetrics &metrics() const { return m_metrics; }

    // ---- generation ----------------------------------------------------------------------
    // Discards the pages, opens page 1, sets generating and clears the stop request.
    void beginDoc();
    // Closes the current page and opens the next.
    void newPage();
    // Closes the last page and clears generating.
    void endDoc();
    // The drawing surface of the current page (nullptr when not generating).
    QPainter *canvas() const { return m_painter.get(); }
    // 1-based number of the page being generated (or of the last page after the end).
    int pageNumber() const { return m_pageNumber; }
    bool printing() const { return m_generating; }
    bool stopRequested() const { return m_stopRequested; }
    void requestStop();

    QString title() const { return m_title; }
    void setTitle(const QString &title);

    // ---- recorded pages -------------------------------------------------------------------
    int pageCount() const { return m_pages->size(); } // completed pages while generating
    // The page's picture (0-based). Pages are kept compressed (a page of cells compresses about
    // twentyfold), so a long document stays small; the last page asked for is kept unpacked.
    QPicture page(int index) const;

    // Prints pages fromPage..toPage (1-based, inclusive, clamped) on `printer`, scaled from the
    // recorded resolution to the printer's. Returns the number of pages printed.
    int printPages(QPrinter *printer, int fromPage, int toPage) const;
    // Draws one page (0-based) at the recorded size onto a painter set up by the caller.
    void drawPage(QPainter *painter, int index) const;
    // The page's picture unpacked and checked afresh, sharing nothing with the store's own
    // unpacked page: safe to call from another thread while nothing is being generated.
    QPicture unpackedPage(int index) const;
    // A page unpacked and read into its painter calls (or, when it holds anything else, its
    // picture), for printing it from another thread while nothing is being generated.
    struct ReadPage
    {
        lianbu::printing::PageOps ops;
        QPicture picture;
    };
    ReadPage readPage(int index) const;
    // Draws a page so read as drawPage draws it.
    void drawReadPage(QPainter *painter, const ReadPage &page) const;
    // Waits until every completed page is compressed (memory measurements).
    void waitUntilPacked() const { m_pages->waitUntilPacked(); }

signals:
    void documentBegun();
    void pageStarted(int pageNumber); // a further page was started (2, 3, ...)
    void documentEnded();
    void titleChanged(const QString &title);
    void stopRequestedChanged();

private:
    void closePage();
    void drawPicture(QPainter *painter, const QPicture &picture) const;
    // The page's picture bytes: unpacked while its packing is still under way.
    QByteArray pictureBytes(int index) const;

    std::unique_ptr<QPrinter> m_printer;
    bool m_hasPrinters = false;
    lianbu::printing::PrinterMetrics m_metrics;
    // The resolution a QPicture reports, which replaying one scales from.
    void updatePictureDpi() const;
    mutable int m_pictureDpiX = 96;
    mutable int m_pictureDpiY = 96;
    // Completed pages' data, packed beside the window thread as they come.
    std::unique_ptr<lianbu::printing::PagePacker> m_pages;
    mutable int m_cachedIndex = -1;
    mutable QPicture m_cached;
    QPicture m_current;
    std::unique_ptr<QPainter> m_painter;
    int m_pageNumber = 0;
    bool m_generating = false;
    bool m_stopRequested = false;
    QString m_title;
};

// The ten zoom modes of the preview, in menu order.
enum class ZoomMode { z500, z200, z150, z100, z75, z50, z25, z10, PageWidth, FullPage };

// How large a page is shown on screen.
struct PageViewGeometry
{
    // The shown page size in screen pixels for a paper of `paperInches` and a viewport of
    // `viewport` pixels (scroll-bar width `scrollBarWidth`) at `screenDpi`.
    static QSizeF pageSize(ZoomMode mode, QSizeF paperInches, QSize viewport, int screenDpi, int scrollBarWidth);
    // The zoom factor (physical size = 1) of the fixed modes; 0 for the fitted ones.
    static double fixedZoom(ZoomMode mode);
};

class PageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit PageView(QWidget *parent = nullptr);

    void setStore(PageStore *store);
    PageStore *store() const { return m_store; }

    int pageIndex() const { return m_page; } // 1-based, 0 when nothing is shown
    void setPageIndex(int page);
    ZoomMode zoomMode() const { return m_mode; }
    void setZoomMode(ZoomMode mode);
    int zoomPercent() const { return m_zoomPercent; }
    // The page rectangle in viewport coordinates.
    QRectF pageRect() const;
    // Scroll helpers used by the keyboard rules.
    void scrollByPixels(int dx, int dy);
    int scrollStep() const { return 20; }
    // Re-reads the page count and refreshes the view (pages added or replaced).
    void refresh();

signals:
    void pageChanged(int page);
    void zoomChanged(ZoomMode mode);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QSizeF paperInches() const;
    QSizeF shownPageSize() const;
    void updateScrollBars();
    void updateCursor(const QPoint &pos);

    QPointer<PageStore> m_store;
    int m_page = 0;
    ZoomMode m_mode = ZoomMode::FullPage;
    int m_zoomPercent = 100;
    bool m_pressed = false;
    bool m_dragged = false;
    QPoint m_pressPos;
    QPoint m_pressScroll;
};
