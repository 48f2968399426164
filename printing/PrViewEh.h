#pragma once

// The page store of printed reports (TPrinterPreview) and the scrolling page view
// (TPreviewBox) that shows one of its pages.
//
// Pages are vector drawings (QPicture) in the pixels of the printer they were laid out for,
// relative to the printable area's top-left corner; the store remembers those metrics so a page
// can be shown at any zoom and printed on any printer.

#include "printing/PrintLayout.h"
#include "printing/PrnDbgeh.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QObject>
#include <QPicture>
#include <QPointer>

#include <functional>
#include <memory>

class QPainter;
class QPrinter;

class TPrinterPreview : public QObject
{
    Q_OBJECT

public:
    explicit TPrinterPreview(QObject *parent = nullptr);
    ~TPrinterPreview() override;

    // ---- the printer the pages are laid out for ----------------------------------------
    // Initially the system's default printer.
    QPrinter *Printer() const { return m_printer.get(); }
    // True when pages can be printed: a printer is installed, or the printer writes to a file.
    // The list of installed printers is read once (asking the print system is slow).
    bool PrinterInstalled() const;
    // The metrics of the next document: the printer's, or the virtual 600-dpi page when
    // nothing can be printed.
    lianbu::printing::PrinterMetrics CurrentMetrics() const;
    // The metrics of the recorded pages.
    const lianbu::printing::PrinterMetrics &Metrics() const { return m_metrics; }

    // ---- generation ----------------------------------------------------------------------
    // Discards the pages, opens page 1, sets generating and clears the stop request.
    void BeginDoc();
    // Closes the current page and opens the next.
    void NewPage();
    // Closes the last page and clears generating.
    void EndDoc();
    // The drawing surface of the current page (nullptr when not generating).
    QPainter *Canvas() const { return m_painter.get(); }
    // 1-based number of the page being generated (or of the last page after the end).
    int PageNumber() const { return m_pageNumber; }
    bool Printing() const { return m_generating; }
    bool StopRequested() const { return m_stopRequested; }
    void RequestStop();

    QString Title() const { return m_title; }
    void setTitle(const QString &title);

    // ---- recorded pages -------------------------------------------------------------------
    int PageCount() const { return int(m_pages.size()); } // completed pages while generating
    // The page's picture (0-based). Pages are kept compressed (a page of cells compresses about
    // twentyfold), so a long document stays small; the last page asked for is kept unpacked.
    QPicture Page(int index) const;

    // The component that produced the pages and its settings operation; the preview's setup
    // command is offered only when both are set.
    TPrintDBGridEh *PrintComponent() const { return m_component; }
    void setPrintComponent(TPrintDBGridEh *component) { m_component = component; }

    // Prints pages fromPage..toPage (1-based, inclusive, clamped) on `printer`, scaled from the
    // recorded resolution to the printer's. Returns the number of pages printed.
    int PrintPages(QPrinter *printer, int fromPage, int toPage) const;
    // Draws one page (0-based) at the recorded size onto a painter set up by the caller.
    void DrawPage(QPainter *painter, int index) const;

signals:
    void documentBegun();
    void pageStarted(int pageNumber); // a further page was started (2, 3, ...)
    void documentEnded();
    void titleChanged(const QString &title);
    void stopRequestedChanged();

private:
    void closePage();

    std::unique_ptr<QPrinter> m_printer;
    bool m_hasPrinters = false;
    lianbu::printing::PrinterMetrics m_metrics;
    QList<QByteArray> m_pages; // compressed picture data
    mutable int m_cachedIndex = -1;
    mutable QPicture m_cached;
    QPicture m_current;
    std::unique_ptr<QPainter> m_painter;
    int m_pageNumber = 0;
    bool m_generating = false;
    bool m_stopRequested = false;
    QString m_title;
    QPointer<TPrintDBGridEh> m_component;
};

// The ten zoom modes of the preview, in menu order.
enum class TZoomModeEh { z500, z200, z150, z100, z75, z50, z25, z10, PageWidth, FullPage };

// How large a page is shown on screen.
struct TPageViewGeometryEh
{
    // The shown page size in screen pixels for a paper of `paperInches` and a viewport of
    // `viewport` pixels (scroll-bar width `scrollBarWidth`) at `screenDpi`.
    static QSizeF pageSize(TZoomModeEh mode, QSizeF paperInches, QSize viewport, int screenDpi,
                           int scrollBarWidth);
    // The zoom factor (physical size = 1) of the fixed modes; 0 for the fitted ones.
    static double fixedZoom(TZoomModeEh mode);
};

class TPreviewBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TPreviewBox(QWidget *parent = nullptr);

    void setStore(TPrinterPreview *store);
    TPrinterPreview *Store() const { return m_store; }

    int PageIndex() const { return m_page; } // 1-based, 0 when nothing is shown
    void setPageIndex(int page);
    TZoomModeEh ZoomMode() const { return m_mode; }
    void setZoomMode(TZoomModeEh mode);
    int ZoomPercent() const { return m_zoomPercent; }
    // The page rectangle in viewport coordinates.
    QRectF PageRect() const;
    // Scroll helpers used by the keyboard rules.
    void scrollByPixels(int dx, int dy);
    int scrollStep() const { return 20; }
    // Re-reads the page count and refreshes the view (pages added or replaced).
    void refresh();

signals:
    void pageChanged(int page);
    void zoomChanged(TZoomModeEh mode);

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

    QPointer<TPrinterPreview> m_store;
    int m_page = 0;
    TZoomModeEh m_mode = TZoomModeEh::FullPage;
    int m_zoomPercent = 100;
    bool m_pressed = false;
    bool m_dragged = false;
    QPoint m_pressPos;
    QPoint m_pressScroll;
};
