#include "bench/PrintFloor.h"

#include "printing/PageStore.h"
#include "printing/PdfOutput.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QTextItem>

#include <climits>

namespace lianbu::bench {

namespace {

class OpEngine : public QPaintEngine
{
public:
    OpEngine()
        : QPaintEngine(QPaintEngine::AllFeatures)
    {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyTransform)
            transform = state.transform();
        if (state.state() & QPaintEngine::DirtyPen)
            pen = state.pen();
        if (state.state() & QPaintEngine::DirtyBrush)
            brush = state.brush();
    }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawPath(const QPainterPath &path) override
    {
        PageOp op{PageOp::Path, transform, pen, brush};
        op.path = path;
        ops->push_back(op);
    }
    void drawPolygon(const QPointF *points, int count, PolygonDrawMode mode) override
    {
        PageOp op{mode == PolylineMode ? PageOp::Polyline : PageOp::Polygon, transform, pen, brush};
        op.polygon = QPolygonF(QList<QPointF>(points, points + count));
        op.fill = mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill;
        ops->push_back(op);
    }
    void drawRects(const QRectF *rects, int count) override
    {
        for (int i = 0; i < count; ++i) {
            PageOp op{PageOp::Rect, transform, pen, brush};
            op.rect = rects[i];
            ops->push_back(op);
        }
    }
    void drawLines(const QLineF *lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            PageOp op{PageOp::Line, transform, pen, brush};
            op.line = lines[i];
            ops->push_back(op);
        }
    }
    void drawTextItem(const QPointF &p, const QTextItem &item) override
    {
        PageOp op{PageOp::Text, transform, pen, brush};
        op.font = item.font();
        op.at = p;
        op.text = item.text();
        ops->push_back(op);
    }
    Type type() const override { return QPaintEngine::User; }

    QTransform transform;
    QPen pen;
    QBrush brush;
    FloorPage *ops = nullptr;
};

class OpDevice : public QPaintDevice
{
public:
    QPaintEngine *paintEngine() const override { return const_cast<OpEngine *>(&engine); }
    OpEngine engine;

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
        case PdmHeight:
            return 20000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 600;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return INT_MAX;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        default:
            return 1000;
        }
    }
};

void drawOps(QPainter &painter, const FloorPage &page, const QTransform &base)
{
    // Each state is set only when it changes, as a program drawing these items itself would: a
    // painter told the same matrix again still hands it to the PDF writer again.
    const PageOp *last = nullptr;
    for (const PageOp &op : page) {
        if (!last || op.transform != last->transform)
            painter.setTransform(op.transform * base);
        if (!last || op.pen != last->pen)
            painter.setPen(op.pen);
        const bool fills = op.kind == PageOp::Rect || op.kind == PageOp::Polygon || op.kind == PageOp::Path;
        if (fills && painter.brush() != op.brush)
            painter.setBrush(op.brush);
        switch (op.kind) {
        case PageOp::Text:
            if (painter.font() != op.font)
                painter.setFont(op.font);
            painter.drawText(op.at, op.text);
            break;
        case PageOp::Rect:
            painter.drawRect(op.rect);
            break;
        case PageOp::Line:
            painter.drawLine(op.line);
            break;
        case PageOp::Polygon:
            painter.drawPolygon(op.polygon, op.fill);
            break;
        case PageOp::Polyline:
            painter.drawPolyline(op.polygon);
            break;
        case PageOp::Path:
            painter.drawPath(op.path);
            break;
        }
        last = &op;
    }
}

} // namespace

std::vector<FloorPage> pageOps(const PageStore &store)
{
    std::vector<FloorPage> pages(size_t(store.pageCount()));
    OpDevice device;
    for (int i = 0; i < store.pageCount(); ++i) {
        device.engine.ops = &pages[size_t(i)];
        QPainter painter(&device);
        store.drawPage(&painter, i);
    }
    return pages;
}

double drawIntoImageMs(const std::vector<FloorPage> &pages, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QElapsedTimer timer;
    timer.start();
    for (const FloorPage &page : pages) {
        image.fill(Qt::white);
        QPainter painter(&image);
        drawOps(painter, page, QTransform());
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double drawIntoPdfMs(const std::vector<FloorPage> &pages, const PageStore &store, const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    {
        QPdfWriter writer(path);
        writer.setResolution(store.metrics().dpiX);
        writer.setPageLayout(printing::pdfPageLayout(store.metrics()));
        QPainter painter(&writer);
        for (size_t i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            drawOps(painter, pages[i], QTransform());
        }
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace lianbu::bench
