#include "printing/PageOps.h"

#include <QBuffer>
#include <QDataStream>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>

#include <cmath>

namespace lianbu::printing {

namespace {

// The command codes of the picture stream (QPicture's own format, as Qt writes it). Codes not
// named here make the page replay as a picture.
enum Command : quint8 {
    kNop = 0,
    kDrawPoint = 1,
    kDrawLine = 4,
    kDrawRect = 5,
    kDrawEllipse = 7,
    kDrawPolyline = 12,
    kDrawPolygon = 13,
    kDrawTextItem = 21,
    kDrawPath = 25,
    kBegin = 30,
    kEnd = 31,
    kSave = 32,
    kRestore = 33,
    kSetBkColor = 40,
    kSetBkMode = 41,
    kSetRop = 42,
    kSetBrushOrigin = 43,
    kSetFont = 45,
    kSetPen = 46,
    kSetBrush = 47,
    kSetWMatrix = 55,
    kSetClip = 60,
    kSetClipRegion = 61,
    kSetClipPath = 62,
    kSetRenderHint = 63,
    kSetCompositionMode = 64,
    kSetClipEnabled = 65,
    kSetOpacity = 66,
};

// The oldest stream whose text items carry their font's resolution and their justification
// width; pages are recorded by this program's own Qt, far newer.
constexpr int kOldestFormat = 9;

// A device of a given resolution, to make a text item's font as the picture replays it: the
// recorded font at the resolution it was recorded for.
class ResolutionDevice : public QPaintDevice
{
public:
    ResolutionDevice(int dpiX, int dpiY)
        : m_dpiX(dpiX)
        , m_dpiY(dpiY)
    {}
    QPaintEngine *paintEngine() const override { return nullptr; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmDpiX:
        case PdmPhysicalDpiX:
            return m_dpiX;
        case PdmDpiY:
        case PdmPhysicalDpiY:
            return m_dpiY;
        default:
            return QPaintDevice::metric(m);
        }
    }

private:
    int m_dpiX;
    int m_dpiY;
};

template <typename T>
quint32 add(std::vector<T> &table, T value)
{
    table.push_back(std::move(value));
    return quint32(table.size() - 1);
}

} // namespace

PageOps PageOps::decode(const QByteArray &bytes, int pictureDpiX, int pictureDpiY)
{
    PageOps page;
    page.m_pictureDpiX = pictureDpiX;
    page.m_pictureDpiY = pictureDpiY;
    if (bytes.size() < 10 || !bytes.startsWith("QPIC"))
        return page;
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly) || !buffer.seek(6))
        return page;
    QDataStream s(&buffer);
    quint16 major = 0;
    quint16 minor = 0;
    s >> major >> minor;
    if (major < kOldestFormat || major > QDataStream::Qt_DefaultCompiledVersion)
        return page;
    s.setVersion(major);

    quint8 c = 0;
    quint8 tinyLength = 0;
    s >> c >> tinyLength;
    if (c != kBegin)
        return page;
    qint32 bounds[4];
    s >> bounds[0] >> bounds[1] >> bounds[2] >> bounds[3];
    quint32 records = 0;
    s >> records;

    // The font of the last text item: most items share it, and a font read from the stream is
    // compared far faster than it is made again at its resolution and measured.
    QFont lastRead;
    double lastScale = 0;
    int lastAscent = 0;
    std::vector<Op> &ops = page.m_ops;
    ops.reserve(records);
    bool ended = false;
    while (records-- > 0 && !s.atEnd() && !ended) {
        qint32 length = 0;
        s >> c >> tinyLength;
        if (tinyLength == 255)
            s >> length;
        else
            length = tinyLength;
        const qint64 start = buffer.pos();
        Op op{Kind::Save, 0, 0};
        qint8 i8 = 0;
        quint32 u32 = 0;
        double real = 0;
        switch (c) {
        case kNop:
        case kSetRop:
        case kSetFont: // a text item carries its own font: the painter's is never read
            s.skipRawData(length);
            continue;
        case kEnd:
            ended = true;
            continue;
        case kSave:
            op.kind = Kind::Save;
            break;
        case kRestore:
            op.kind = Kind::Restore;
            break;
        case kSetPen: {
            QPen pen;
            s >> pen;
            op = {Kind::Pen, 0, add(page.m_pens, pen)};
            break;
        }
        case kSetBrush: {
            QBrush brush;
            s >> brush;
            op = {Kind::Brush, 0, add(page.m_brushes, brush)};
            break;
        }
        case kSetWMatrix: {
            QTransform matrix;
            s >> matrix >> i8;
            op = {Kind::Transform, quint8(i8 != 0), add(page.m_transforms, matrix)};
            break;
        }
        case kSetClip:
            s >> i8;
            op = {Kind::Clipping, quint8(i8 != 0), 0};
            break;
        case kSetClipEnabled: {
            bool enabled = false;
            s >> enabled;
            op = {Kind::Clipping, quint8(enabled), 0};
            break;
        }
        case kSetClipRegion: {
            QRegion region;
            s >> region >> i8;
            op = {Kind::ClipRegion, quint8(i8), add(page.m_regions, region)};
            break;
        }
        case kSetClipPath: {
            QPainterPath path;
            s >> path >> i8;
            op = {Kind::ClipPath, quint8(i8), add(page.m_paths, path)};
            break;
        }
        case kSetRenderHint:
            s >> u32;
            op = {Kind::RenderHints, 0, u32};
            break;
        case kSetBkColor: {
            QColor color;
            s >> color;
            op = {Kind::Background, 0, add(page.m_colors, color)};
            break;
        }
        case kSetBkMode:
            s >> i8;
            op = {Kind::BackgroundMode, quint8(i8), 0};
            break;
        case kSetBrushOrigin: {
            QPointF at;
            s >> at;
            op = {Kind::BrushOrigin, 0, add(page.m_points, at)};
            break;
        }
        case kSetCompositionMode:
            s >> u32;
            op = {Kind::Composition, 0, u32};
            break;
        case kSetOpacity:
            s >> real;
            op = {Kind::Opacity, 0, add(page.m_numbers, real)};
            break;
        case kDrawPoint: {
            QPointF at;
            s >> at;
            op = {Kind::Point, 0, add(page.m_points, at)};
            break;
        }
        case kDrawLine: {
            QPointF from, to;
            s >> from >> to;
            op = {Kind::Line, 0, add(page.m_lines, QLineF(from, to))};
            break;
        }
        case kDrawRect: {
            QRectF rect;
            s >> rect;
            op = {Kind::Rect, 0, add(page.m_rects, rect)};
            break;
        }
        case kDrawEllipse: {
            QRectF rect;
            s >> rect;
            op = {Kind::Ellipse, 0, add(page.m_rects, rect)};
            break;
        }
        case kDrawPolyline: {
            QPolygonF polygon;
            s >> polygon;
            op = {Kind::Polyline, 0, add(page.m_polygons, polygon)};
            break;
        }
        case kDrawPolygon: {
            QPolygonF polygon;
            s >> polygon >> i8;
            op = {Kind::Polygon, quint8(i8 != 0), add(page.m_polygons, polygon)};
            break;
        }
        case kDrawPath: {
            QPainterPath path;
            s >> path;
            op = {Kind::Path, 0, add(page.m_paths, path)};
            break;
        }
        case kDrawTextItem: {
            QPointF at;
            QString text;
            QFont font;
            double scale = 1;
            qreal justification = 0;
            s >> at >> text >> font >> u32 >> scale >> justification;
            if (page.m_fonts.empty() || scale != lastScale || font != lastRead) {
                // As the picture does: the font at the resolution it was recorded for, its
                // item's top at the font's whole-pixel ascent above the baseline.
                QFont made = font;
                if (scale != 1.0) {
                    const ResolutionDevice device(qRound(scale * pictureDpiX), qRound(scale * pictureDpiY));
                    made = QFont(font, &device);
                }
                // The printing painter takes the font at its own resolution: only a size in
                // pixels stays the same there.
                if (made.pixelSize() <= 0)
                    return PageOps();
                lastAscent = QFontMetrics(made).ascent();
                lastRead = font;
                lastScale = scale;
                page.m_fonts.push_back(made);
            }
            Text item{QRectF(QPointF(at.x(), at.y() - lastAscent), QSizeF(1, 1)),
                      Qt::TextSingleLine | Qt::TextDontClip | Qt::TextForceLeftToRight,
                      quint32(page.m_fonts.size() - 1), text};
            if (justification > 0) {
                item.rect.setWidth(justification);
                item.flags |= Qt::TextJustificationForced | Qt::AlignJustify;
            }
            op = {Kind::Text, 0, add(page.m_texts, std::move(item))};
            break;
        }
        default: // images, nested pictures, old text commands: not in our pages
            return PageOps();
        }
        if (s.status() != QDataStream::Ok || buffer.pos() - start != length)
            return PageOps();
        ops.push_back(op);
    }
    if (s.status() != QDataStream::Ok)
        return PageOps();
    page.m_valid = true;
    return page;
}

void PageOps::draw(QPainter *painter) const
{
    if (!m_valid)
        return;
    const QPaintDevice *device = painter->device();
    // What drawing a picture does first: its own state, and its resolution scaled to the device's.
    painter->save();
    painter->translate(QPointF(0, 0));
    QTransform world = painter->transform();
    world.scale(qreal(device->logicalDpiX()) / qreal(m_pictureDpiX),
                qreal(device->logicalDpiY()) / qreal(m_pictureDpiY));
    painter->setTransform(world);

    // The painter's font is only set when a text item's differs; a restore brings the saved one back.
    qint64 font = -1;
    std::vector<qint64> savedFonts;
    for (const Op &op : m_ops) {
        switch (op.kind) {
        case Kind::Save:
            painter->save();
            savedFonts.push_back(font);
            break;
        case Kind::Restore:
            painter->restore();
            if (!savedFonts.empty()) {
                font = savedFonts.back();
                savedFonts.pop_back();
            }
            break;
        case Kind::Pen:
            painter->setPen(m_pens[op.index]);
            break;
        case Kind::Brush:
            painter->setBrush(m_brushes[op.index]);
            break;
        case Kind::Transform:
            painter->setTransform(m_transforms[op.index] * world, op.flag != 0);
            break;
        case Kind::Clipping:
            painter->setClipping(op.flag != 0);
            break;
        case Kind::ClipRegion:
            painter->setClipRegion(m_regions[op.index], Qt::ClipOperation(op.flag));
            break;
        case Kind::ClipPath:
            painter->setClipPath(m_paths[op.index], Qt::ClipOperation(op.flag));
            break;
        case Kind::RenderHints:
            painter->setRenderHint(QPainter::Antialiasing, bool(op.index & QPainter::Antialiasing));
            painter->setRenderHint(QPainter::SmoothPixmapTransform, bool(op.index & QPainter::SmoothPixmapTransform));
            break;
        case Kind::Background:
            painter->setBackground(m_colors[op.index]);
            break;
        case Kind::BackgroundMode:
            painter->setBackgroundMode(Qt::BGMode(op.flag));
            break;
        case Kind::BrushOrigin:
            painter->setBrushOrigin(m_points[op.index]);
            break;
        case Kind::Composition:
            painter->setCompositionMode(QPainter::CompositionMode(op.index));
            break;
        case Kind::Opacity:
            painter->setOpacity(m_numbers[op.index]);
            break;
        case Kind::Point:
            painter->drawPoint(m_points[op.index]);
            break;
        case Kind::Line:
            painter->drawLine(m_lines[op.index]);
            break;
        case Kind::Rect:
            painter->drawRect(m_rects[op.index]);
            break;
        case Kind::Ellipse:
            painter->drawEllipse(m_rects[op.index]);
            break;
        case Kind::Polyline:
            painter->drawPolyline(m_polygons[op.index]);
            break;
        case Kind::Polygon:
            painter->drawPolygon(m_polygons[op.index], op.flag ? Qt::WindingFill : Qt::OddEvenFill);
            break;
        case Kind::Path:
            painter->drawPath(m_paths[op.index]);
            break;
        case Kind::Text: {
            const Text &text = m_texts[op.index];
            if (qint64(text.font) != font) {
                painter->setFont(m_fonts[text.font]);
                font = text.font;
            }
            painter->drawText(text.rect, text.flags, text.text);
            break;
        }
        }
    }
    painter->restore();
}

} // namespace lianbu::printing
