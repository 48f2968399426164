#include "tests/printing/PageText.h"

#include "printing/PageStore.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QTextItem>

#include <algorithm>
#include <cmath>

namespace lianbu::test {

namespace {

class RecordingEngine : public QPaintEngine
{
public:
    RecordingEngine()
        : QPaintEngine(QPaintEngine::AllFeatures)
    {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyTransform)
            transform = state.transform();
    }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF &p, const QTextItem &item) override
    {
        const QPointF at = transform.map(p);
        items->append(PageTextItem{at, item.width() * transform.m11(), item.text()});
    }
    Type type() const override { return QPaintEngine::User; }

    QTransform transform;
    QList<PageTextItem> *items = nullptr;
};

class RecordingDevice : public QPaintDevice
{
public:
    explicit RecordingDevice(QList<PageTextItem> *items) { engine.items = items; }
    QPaintEngine *paintEngine() const override { return const_cast<RecordingEngine *>(&engine); }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
            return 20000;
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

private:
    RecordingEngine engine;
};

} // namespace

PageText::PageText(const QPicture &page)
{
    RecordingDevice device(&m_items);
    QPainter painter(&device);
    // Replay enlarges a picture by the device's resolution over the picture's own; undone so
    // the positions are the page's pixels.
    painter.scale(double(page.logicalDpiX()) / device.logicalDpiX(), double(page.logicalDpiY()) / device.logicalDpiY());
    painter.drawPicture(0, 0, page);
    painter.end();
    // lines: items whose baselines lie within a few pixels, each line left to right
    std::stable_sort(m_items.begin(), m_items.end(),
                     [](const PageTextItem &a, const PageTextItem &b) { return a.pos.y() < b.pos.y(); });
    auto lineStart = m_items.begin();
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (it->pos.y() - lineStart->pos.y() > 3) {
            std::stable_sort(lineStart, it,
                             [](const PageTextItem &a, const PageTextItem &b) { return a.pos.x() < b.pos.x(); });
            lineStart = it;
        }
    }
    std::stable_sort(lineStart, m_items.end(),
                     [](const PageTextItem &a, const PageTextItem &b) { return a.pos.x() < b.pos.x(); });
}

PageText::PageText(const PageStore &store, int index)
    : PageText(store.page(index))
{}

QStringList PageText::lines() const
{
    QStringList out;
    double lineY = -1e9;
    double end = 0;
    for (const PageTextItem &item : m_items) {
        if (item.text.isEmpty())
            continue;
        if (item.pos.y() - lineY > 3) {
            out << item.text;
            lineY = item.pos.y();
        } else {
            if (item.pos.x() > end + 4)
                out.back() += QLatin1Char('|');
            out.back() += item.text;
        }
        end = item.pos.x() + item.width;
    }
    return out;
}

QString PageText::text() const
{
    return lines().join(QLatin1Char('\n'));
}

double PageText::yOf(const QString &s) const
{
    for (const PageTextItem &item : m_items)
        if (item.text.contains(s))
            return item.pos.y();
    return -1;
}

} // namespace lianbu::test
