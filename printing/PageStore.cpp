#include "printing/PageStore.h"

#include <QApplication>
#include <QBitmap>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

using lianbu::printing::PrinterMetrics;

// ---- PagePacker -----------------------------------------------------------------------

namespace lianbu::printing {

struct PagePacker::Private
{
    struct Page
    {
        QByteArray bytes;
        bool packed = false;
    };

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Page> pages;
    std::deque<int> queue;  // indices of pages waiting to be packed
    quint64 generation = 0; // counts clear(): packing of a dropped page is not stored
    bool busy = false;      // the thread is packing a page outside the lock
    bool stop = false;
    std::thread thread;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stop || !queue.empty(); });
            if (stop)
                return;
            const int index = queue.front();
            queue.pop_front();
            const QByteArray unpacked = pages[size_t(index)].bytes;
            const quint64 started = generation;
            busy = true;
            lock.unlock();
            QByteArray packed = qCompress(unpacked, 1);
            // qCompress keeps the worst-case buffer it wrote into; without this every stored
            // page would hold as much memory as the unpacked picture.
            packed.squeeze();
            lock.lock();
            busy = false;
            if (generation == started && size_t(index) < pages.size()) {
                pages[size_t(index)].bytes = std::move(packed);
                pages[size_t(index)].packed = true;
            }
            changed.notify_all();
        }
    }
};

PagePacker::PagePacker()
    : d(std::make_unique<Private>())
{}

PagePacker::~PagePacker()
{
    {
        const std::lock_guard lock(d->mutex);
        d->stop = true;
    }
    d->changed.notify_all();
    if (d->thread.joinable())
        d->thread.join();
}

void PagePacker::append(QByteArray unpacked)
{
    {
        const std::lock_guard lock(d->mutex);
        d->pages.push_back({std::move(unpacked), false});
        d->queue.push_back(int(d->pages.size()) - 1);
        if (!d->thread.joinable())
            d->thread = std::thread([this] { d->run(); });
    }
    d->changed.notify_all();
}

void PagePacker::clear()
{
    const std::lock_guard lock(d->mutex);
    d->pages.clear();
    d->queue.clear();
    ++d->generation;
}

int PagePacker::size() const
{
    const std::lock_guard lock(d->mutex);
    return int(d->pages.size());
}

QByteArray PagePacker::bytes(int index, bool *packed) const
{
    const std::lock_guard lock(d->mutex);
    if (index < 0 || size_t(index) >= d->pages.size()) {
        *packed = false;
        return QByteArray();
    }
    const Private::Page &page = d->pages[size_t(index)];
    *packed = page.packed;
    return page.bytes;
}

void PagePacker::waitUntilPacked() const
{
    std::unique_lock lock(d->mutex);
    d->changed.wait(lock, [this] { return d->queue.empty() && !d->busy; });
}

} // namespace lianbu::printing

using lianbu::printing::PagePacker;

// ---- PageStore ----------------------------------------------------------------------

PageStore::PageStore(QObject *parent)
    : QObject(parent)
    , m_pages(std::make_unique<PagePacker>())
{
    m_hasPrinters = !QPrinterInfo::availablePrinters().isEmpty();
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    m_printer = info.isNull() ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                              : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    m_metrics = currentMetrics();
    updatePictureDpi();
}

void PageStore::updatePictureDpi() const
{
    // The resolution a picture replays at (the toolkit's default, from the screen), asked of a
    // picture whose bounds are set so that it has nothing to check.
    QPicture picture;
    picture.setBoundingRect(QRect(0, 0, 1, 1));
    m_pictureDpiX = picture.logicalDpiX();
    m_pictureDpiY = picture.logicalDpiY();
}

PageStore::~PageStore()
{
    if (m_painter && m_painter->isActive())
        m_painter->end();
}

bool PageStore::printerInstalled() const
{
    return m_hasPrinters || !m_printer->outputFileName().isEmpty();
}

PrinterMetrics PageStore::currentMetrics() const
{
    if (!printerInstalled())
        return lianbu::printing::virtualPageMetrics();
    return lianbu::printing::printerMetrics(*m_printer);
}

void PageStore::beginDoc()
{
    if (m_painter && m_painter->isActive())
        m_painter->end();
    m_pages->clear();
    m_cachedIndex = -1;
    m_cached = QPicture();
    m_metrics = currentMetrics();
    m_generating = true;
    m_stopRequested = false;
    m_pageNumber = 1;
    m_current = QPicture();
    m_painter = std::make_unique<QPainter>(&m_current);
    emit documentBegun();
}

void PageStore::closePage()
{
    if (m_painter && m_painter->isActive()) {
        m_painter->end();
        // The picture's bounding rectangle is the paper, whatever was drawn on it.
        m_current.setBoundingRect(QRect(0, 0, m_metrics.printableWidth, m_metrics.printableHeight));
        m_pages->append(QByteArray(m_current.data(), int(m_current.size())));
        m_current = QPicture();
    }
}

void PageStore::newPage()
{
    if (!m_generating)
        return;
    closePage();
    ++m_pageNumber;
    m_painter = std::make_unique<QPainter>(&m_current);
    emit pageStarted(m_pageNumber);
}

void PageStore::endDoc()
{
    if (!m_generating)
        return;
    closePage();
    m_painter.reset();
    m_generating = false;
    emit documentEnded();
}

void PageStore::requestStop()
{
    if (!m_generating || m_stopRequested)
        return;
    m_stopRequested = true;
    emit stopRequestedChanged();
}

void PageStore::setTitle(const QString &title)
{
    if (m_title == title)
        return;
    m_title = title;
    emit titleChanged(title);
}

QByteArray PageStore::pictureBytes(int index) const
{
    bool packed = false;
    const QByteArray bytes = m_pages->bytes(index, &packed);
    return packed ? qUncompress(bytes) : bytes;
}

QPicture PageStore::unpackedPage(int index) const
{
    if (index < 0 || index >= pageCount())
        return QPicture();
    const QByteArray data = pictureBytes(index);
    QPicture picture;
    picture.setData(data.constData(), uint(data.size()));
    // Asking for the recorded bounds checks the picture's format and checksum (a pass over all
    // of it) now, so replaying it later does not.
    picture.boundingRect();
    picture.setBoundingRect(QRect(0, 0, m_metrics.printableWidth, m_metrics.printableHeight));
    return picture;
}

QPicture PageStore::page(int index) const
{
    if (index < 0 || index >= pageCount())
        return QPicture();
    if (index != m_cachedIndex) {
        m_cached = unpackedPage(index);
        m_cachedIndex = index;
    }
    return m_cached;
}

void PageStore::drawPage(QPainter *painter, int index) const
{
    if (index < 0 || index >= pageCount())
        return;
    drawPicture(painter, page(index));
}

void PageStore::drawPicture(QPainter *painter, const QPicture &picture) const
{
    painter->save();
    painter->setClipRect(QRect(0, 0, m_metrics.printableWidth, m_metrics.printableHeight), Qt::IntersectClip);
    // Replaying a picture enlarges it by the device's resolution over the one the picture
    // reports (the toolkit's default). The pages are in printer pixels already: undo that.
    const QPaintDevice *device = painter->device();
    if (device && device->logicalDpiX() > 0 && device->logicalDpiY() > 0)
        painter->scale(double(picture.logicalDpiX()) / device->logicalDpiX(),
                       double(picture.logicalDpiY()) / device->logicalDpiY());
    painter->drawPicture(0, 0, picture);
    painter->restore();
}

namespace {

// Unpacks the pages to print on a second thread, a few ahead of the printer, and reads each into
// its painter calls there: parsing a recorded page costs about as much as the printer's own
// drawing of it, and the printer's work cannot be split.
class PageUnpacker
{
public:
    PageUnpacker(const PageStore &store, int from, int to)
        : m_thread([this, &store, from, to] { run(store, from, to); })
    {}
    ~PageUnpacker()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    // The next page in order; waits until it is unpacked.
    PageStore::ReadPage next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty(); });
        PageStore::ReadPage page = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
        return page;
    }

private:
    static constexpr size_t kAhead = 4;

    void run(const PageStore &store, int from, int to)
    {
        for (int index = from; index <= to; ++index) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kAhead; });
                if (m_stop)
                    return;
            }
            PageStore::ReadPage page = store.readPage(index);
            {
                const std::lock_guard lock(m_mutex);
                m_ready.push_back(std::move(page));
            }
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<PageStore::ReadPage> m_ready;
    bool m_stop = false;
    std::thread m_thread; // last: starts once the rest is ready
};

} // namespace

PageStore::ReadPage PageStore::readPage(int index) const
{
    ReadPage page;
    if (index < 0 || index >= pageCount())
        return page;
    // The bytes are this store's own recording: they need no checksum before they are read.
    page.ops = lianbu::printing::PageOps::decode(pictureBytes(index), m_pictureDpiX, m_pictureDpiY);
    if (!page.ops.isValid())
        page.picture = unpackedPage(index);
    return page;
}

void PageStore::drawReadPage(QPainter *painter, const ReadPage &page) const
{
    if (!page.ops.isValid()) {
        drawPicture(painter, page.picture);
        return;
    }
    painter->save();
    painter->setClipRect(QRect(0, 0, m_metrics.printableWidth, m_metrics.printableHeight), Qt::IntersectClip);
    // As for a picture (drawPicture): the pages are in printer pixels already.
    const QPaintDevice *device = painter->device();
    if (device && device->logicalDpiX() > 0 && device->logicalDpiY() > 0)
        painter->scale(double(m_pictureDpiX) / device->logicalDpiX(), double(m_pictureDpiY) / device->logicalDpiY());
    page.ops.draw(painter);
    painter->restore();
}

int PageStore::printPages(QPrinter *printer, int fromPage, int toPage) const
{
    const int count = pageCount();
    if (!printer || count == 0)
        return 0;
    fromPage = std::clamp(fromPage, 1, count);
    toPage = std::clamp(toPage, fromPage, count);
    QPainter painter;
    if (!painter.begin(printer))
        return 0;
    // From the recorded printer's pixels to this printer's, with the pages kept where they were
    // on the paper: the painter starts at this printer's printable corner, which may lie
    // elsewhere than the recorded one.
    const double kx = double(printer->resolution()) / m_metrics.dpiX;
    const double ky = double(printer->resolution()) / m_metrics.dpiY;
    const PrinterMetrics target = lianbu::printing::printerMetrics(*printer);
    const QPointF corner(m_metrics.offsetX * kx - target.offsetX, m_metrics.offsetY * ky - target.offsetY);
    int printed = 0;
    // As a picture replaying now would; the pages are read on the unpacking thread.
    updatePictureDpi();
    PageUnpacker pages(*this, fromPage - 1, toPage - 1);
    for (int page = fromPage; page <= toPage; ++page) {
        if (page > fromPage && !printer->newPage())
            break;
        painter.save();
        painter.translate(corner);
        painter.scale(kx, ky);
        drawReadPage(&painter, pages.next());
        painter.restore();
        ++printed;
    }
    painter.end();
    return printed;
}

// ---- page view geometry -------------------------------------------------------------------

double PageViewGeometry::fixedZoom(ZoomMode mode)
{
    switch (mode) {
    case ZoomMode::z500:
        return 5.0;
    case ZoomMode::z200:
        return 2.0;
    case ZoomMode::z150:
        return 1.5;
    case ZoomMode::z100:
        return 1.0;
    case ZoomMode::z75:
        return 0.75;
    case ZoomMode::z50:
        return 0.5;
    case ZoomMode::z25:
        return 0.25;
    case ZoomMode::z10:
        return 0.1;
    default:
        return 0.0;
    }
}

QSizeF PageViewGeometry::pageSize(ZoomMode mode, QSizeF paper, QSize viewport, int screenDpi, int scrollBarWidth)
{
    if (paper.width() <= 0 || paper.height() <= 0)
        return QSizeF();
    const double zoom = fixedZoom(mode);
    if (zoom > 0)
        return paper * screenDpi * zoom;
    if (mode == ZoomMode::PageWidth) {
        const double w = std::max(1, viewport.width() - scrollBarWidth - 20);
        return QSizeF(w, w * paper.height() / paper.width());
    }
    const double availW = std::max(1, viewport.width() - 16);
    const double availH = std::max(1, viewport.height() - 16);
    const double k = std::min(availW / paper.width(), availH / paper.height());
    return paper * k;
}

// ---- PageView --------------------------------------------------------------------------

namespace {

QCursor magnifierCursor()
{
    static QCursor cursor = [] {
        QPixmap pm(32, 32);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 17), QPointF(27, 27));
        p.drawEllipse(QPointF(11, 11), 8, 8);
        p.setPen(QPen(QColor(0x2b, 0x3a, 0x4a), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawLine(QPointF(17, 17), QPointF(27, 27));
        p.drawEllipse(QPointF(11, 11), 8, 8);
        p.end();
        return QCursor(pm, 11, 11);
    }();
    return cursor;
}

} // namespace

PageView::PageView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("PreviewBox"));
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    horizontalScrollBar()->setSingleStep(scrollStep());
    verticalScrollBar()->setSingleStep(scrollStep());
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, QColor(64, 64, 64));
    viewport()->setPalette(pal);
    viewport()->setAutoFillBackground(true);
}

void PageView::setStore(PageStore *store)
{
    m_store = store;
    refresh();
}

QSizeF PageView::paperInches() const
{
    if (!m_store)
        return QSizeF(8.27, 11.69);
    const PrinterMetrics &m = m_store->metrics();
    return QSizeF(double(m.paperWidth()) / m.dpiX, double(m.paperHeight()) / m.dpiY);
}

QSizeF PageView::shownPageSize() const
{
    return PageViewGeometry::pageSize(m_mode, paperInches(), size(), logicalDpiX(),
                                      style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

QRectF PageView::pageRect() const
{
    const QSizeF s = shownPageSize();
    const QSize v = viewport()->size();
    double x = s.width() + 16 <= v.width() ? (v.width() - s.width()) / 2.0 : 8 - horizontalScrollBar()->value();
    double y = s.height() + 16 <= v.height() ? (v.height() - s.height()) / 2.0 : 8 - verticalScrollBar()->value();
    return QRectF(QPointF(x, y), s);
}

void PageView::updateScrollBars()
{
    const QSizeF s = shownPageSize();
    const QSize v = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, int(std::ceil(s.width())) + 16 - v.width()));
    horizontalScrollBar()->setPageStep(v.width());
    verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(s.height())) + 16 - v.height()));
    verticalScrollBar()->setPageStep(v.height());
}

void PageView::refresh()
{
    const int count = m_store ? m_store->pageCount() : 0;
    if (count == 0)
        m_page = m_store && m_store->printing() ? 1 : 0;
    else
        m_page = std::clamp(m_page, 1, count);
    updateScrollBars();
    viewport()->update();
}

void PageView::setPageIndex(int page)
{
    // while generating, page 1 exists before it is complete
    const int count = m_store ? std::max(m_store->pageCount(), m_store->printing() ? 1 : 0) : 0;
    page = count > 0 ? std::clamp(page, 1, count) : 0;
    if (page == m_page)
        return;
    m_page = page;
    viewport()->update();
    emit pageChanged(m_page);
}

void PageView::setZoomMode(ZoomMode mode)
{
    const double zoom = PageViewGeometry::fixedZoom(mode);
    if (zoom > 0)
        m_zoomPercent = int(std::lround(zoom * 100));
    const bool changed = mode != m_mode;
    m_mode = mode;
    updateScrollBars();
    if (mode == ZoomMode::PageWidth)
        verticalScrollBar()->setValue(0);
    viewport()->update();
    if (changed)
        emit zoomChanged(mode);
}

void PageView::scrollByPixels(int dx, int dy)
{
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
}

void PageView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), QColor(64, 64, 64));
    if (!m_store || m_page < 1)
        return;
    const QRectF page = pageRect();
    p.fillRect(page.translated(3, 3), QColor(30, 30, 30));
    p.fillRect(page, Qt::white);
    if (m_page > m_store->pageCount())
        return;
    const PrinterMetrics &m = m_store->metrics();
    const double k = page.width() / m.paperWidth();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(page);
    p.translate(page.left() + m.offsetX * k, page.top() + m.offsetY * k);
    p.scale(k, page.height() / m.paperHeight());
    m_store->drawPage(&p, m_page - 1);
    p.restore();
}

void PageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PageView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    if (shownPageSize().height() <= viewport()->height()) {
        setPageIndex(m_page + (delta < 0 ? 1 : -1));
    } else {
        const int lines = QApplication::wheelScrollLines();
        const int step = scrollStep() * lines * m_zoomPercent / 100;
        scrollByPixels(0, delta < 0 ? step : -step);
    }
    event->accept();
}

void PageView::updateCursor(const QPoint &pos)
{
    if (m_pressed && m_dragged)
        viewport()->setCursor(Qt::ClosedHandCursor);
    else if (pageRect().contains(pos))
        viewport()->setCursor(magnifierCursor());
    else
        viewport()->unsetCursor();
}

void PageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_dragged = false;
    m_pressPos = event->position().toPoint();
    m_pressScroll = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void PageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_pressed) {
        const QPoint d = pos - m_pressPos;
        if (!m_dragged && d.manhattanLength() >= QApplication::startDragDistance())
            m_dragged = true;
        if (m_dragged) {
            horizontalScrollBar()->setValue(m_pressScroll.x() - d.x());
            verticalScrollBar()->setValue(m_pressScroll.y() - d.y());
        }
    }
    updateCursor(pos);
}

void PageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    const QPoint pos = event->position().toPoint();
    if (!m_dragged) {
        const QRectF page = pageRect();
        if (page.contains(pos)) {
            if (m_mode == ZoomMode::FullPage) {
                // Keep the clicked point of the paper under the pointer.
                const QPointF frac((pos.x() - page.left()) / page.width(), (pos.y() - page.top()) / page.height());
                setZoomMode(ZoomMode::z150);
                const QSizeF s = shownPageSize();
                horizontalScrollBar()->setValue(int(std::lround(8 + frac.x() * s.width() - pos.x())));
                verticalScrollBar()->setValue(int(std::lround(8 + frac.y() * s.height() - pos.y())));
            } else {
                setZoomMode(ZoomMode::FullPage);
            }
        }
    }
    m_dragged = false;
    updateCursor(pos);
}

void PageView::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    QScrollBar *h = horizontalScrollBar();
    QScrollBar *v = verticalScrollBar();
    const int vh = viewport()->height();
    const int vw = viewport()->width();
    switch (event->key()) {
    case Qt::Key_PageUp:
        ctrl ? v->setValue(v->minimum()) : scrollByPixels(0, -(vh - scrollStep()));
        break;
    case Qt::Key_PageDown:
        ctrl ? v->setValue(v->maximum()) : scrollByPixels(0, vh - scrollStep());
        break;
    case Qt::Key_Up:
        scrollByPixels(0, ctrl ? -vh : -scrollStep());
        break;
    case Qt::Key_Down:
        scrollByPixels(0, ctrl ? vh : scrollStep());
        break;
    case Qt::Key_Left:
        scrollByPixels(ctrl ? -vw : -scrollStep(), 0);
        break;
    case Qt::Key_Right:
        scrollByPixels(ctrl ? vw : scrollStep(), 0);
        break;
    case Qt::Key_Home:
        h->setValue(h->minimum());
        if (ctrl)
            v->setValue(v->minimum());
        break;
    case Qt::Key_End:
        h->setValue(h->maximum());
        if (ctrl)
            v->setValue(v->maximum());
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}
