#pragma once

// A recorded page read once into the painter calls it holds. Replaying a QPicture parses its
// stream (fonts, pens, matrices) as it draws; a page printed or saved as PDF is read this way on
// the thread that unpacks the pages, so the printing thread only issues the calls.

#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <vector>

class QPainter;

namespace lianbu::printing {

class PageOps
{
public:
    // Reads the bytes of a picture recorded with QPainter. `pictureDpiX/Y` are the resolution a
    // QPicture reports (its logicalDpiX/Y). Pages holding anything else than the vector drawing
    // of our reports (images, nested pictures) or bytes it cannot read give an invalid result: the
    // caller replays the picture itself. Callable from any thread.
    static PageOps decode(const QByteArray &bytes, int pictureDpiX, int pictureDpiY);

    bool isValid() const { return m_valid; }
    // The number of recorded operations read.
    int size() const { return int(m_ops.size()); }

    // Draws the page as QPainter::drawPicture(0, 0, picture) draws its picture.
    void draw(QPainter *painter) const;

private:
    enum class Kind : quint8 {
        Save,
        Restore,
        Pen,
        Brush,
        Transform,
        Clipping,
        ClipRegion,
        ClipPath,
        RenderHints,
        Background,
        BackgroundMode,
        BrushOrigin,
        Composition,
        Opacity,
        Point,
        Line,
        Rect,
        Ellipse,
        Polyline,
        Polygon,
        Path,
        Text,
    };
    struct Op
    {
        Kind kind;
        quint8 flag;   // fill rule, clip operation, enabled, transform combine
        quint32 index; // into the table of its kind
    };
    struct Text
    {
        QRectF rect;
        int flags;
        quint32 font;
        QString text;
    };

    bool m_valid = false;
    int m_pictureDpiX = 96;
    int m_pictureDpiY = 96;
    std::vector<Op> m_ops;
    std::vector<QPen> m_pens;
    std::vector<QBrush> m_brushes;
    std::vector<QTransform> m_transforms;
    std::vector<QRegion> m_regions;
    std::vector<QPainterPath> m_paths;
    std::vector<QPolygonF> m_polygons;
    std::vector<QRectF> m_rects;
    std::vector<QLineF> m_lines;
    std::vector<QPointF> m_points;
    std::vector<double> m_numbers;
    std::vector<QColor> m_colors;
    std::vector<QFont> m_fonts;
    std::vector<Text> m_texts;
};

} // namespace lianbu::printing
