#pragma once

// The floor of the print preview and its PDF: the same texts, frames and fills the recorded pages
// hold, at the same places in the same fonts, drawn straight with QPainter (no layout, no
// recording) into one page-sized image, or into a PDF writer.

#include <QFont>
#include <QLineF>
#include <QPainterPath>
#include <QPolygonF>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <vector>

class PageStore;

namespace lianbu::bench {

struct PageOp
{
    enum Kind { Text, Rect, Line, Polygon, Polyline, Path } kind = Text;
    QTransform transform;
    QPen pen;
    QBrush brush;
    QFont font;
    QPointF at; // text baseline
    QString text;
    QRectF rect;
    QLineF line;
    // Frames and fills reach the engine as polygons or paths (a recorded rectangle replays as one).
    QPolygonF polygon;
    Qt::FillRule fill = Qt::OddEvenFill;
    QPainterPath path;
};

using FloorPage = std::vector<PageOp>;

// What each recorded page draws, in order.
std::vector<FloorPage> pageOps(const PageStore &store);
// Wall ms to draw every page into one image of the recorded page size (cleared between pages).
double drawIntoImageMs(const std::vector<FloorPage> &pages, int width, int height);
// Wall ms to write every page to a PDF file at `path` on the store's paper.
double drawIntoPdfMs(const std::vector<FloorPage> &pages, const PageStore &store, const QString &path);

} // namespace lianbu::bench
