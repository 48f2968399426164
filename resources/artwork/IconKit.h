// The drawing kit of the program's pictures: palette, canvas and the shapes more than one picture
// uses, so every icon set (resources/, printing/) keeps one style. Header-only; the drawing
// programs are not part of the build.
#pragma once

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace iconkit {

inline const QColor kInk(0x2b, 0x3a, 0x4a);
inline const QColor kTeal(0x1f, 0x8a, 0x8a);
inline const QColor kBlue(0x2f, 0x6f, 0xb8);
inline const QColor kRed(0xd2, 0x3f, 0x31);
inline const QColor kGreen(0x2e, 0x9d, 0x4f);
inline const QColor kPaper(0xfb, 0xfb, 0xf8);

inline QImage canvas(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// Pictures are drawn on a 32 × 32 grid and scaled to the wanted size.
inline void begin(QPainter &p, QImage &img, int size)
{
    p.begin(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
}

inline QPen pen(const QColor &c, qreal w)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The printer of "打 印" and of the preview's print button.
inline QImage drawPrint(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    p.setPen(pen(kInk, 1.4));
    p.setBrush(kPaper);
    p.drawRect(QRectF(9.5, 3.5, 13, 9));
    QLinearGradient g(0, 11, 0, 24);
    g.setColorAt(0, QColor(0x8a, 0x9b, 0xad));
    g.setColorAt(1, QColor(0x55, 0x66, 0x78));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3.5, 11.5, 25, 12), 2.5, 2.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(9.5, 19.5, 13, 9));
    p.setPen(pen(QColor(0xa0, 0xaa, 0xb4), 1.1));
    p.drawLine(QPointF(12, 23), QPointF(20, 23));
    p.drawLine(QPointF(12, 26), QPointF(18, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7c, 0xe0, 0x8a));
    p.drawEllipse(QPointF(24.5, 15.5), 1.3, 1.3);
    return img;
}

// A grey gear around `c`, with the given tooth count, outer and inner radius, hole and outline.
inline void drawGear(QPainter &p, const QPointF &c, int teeth, qreal outer, qreal inner, qreal hole, qreal glow,
                     qreal outline)
{
    QPainterPath gear;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i * M_PI) / teeth - M_PI / (teeth * 2.6);
        const qreal a1 = (i * M_PI) / teeth + M_PI / (teeth * 2.6);
        const qreal r = (i % 2 == 0) ? outer : inner;
        const QPointF p0 = c + QPointF(r * qCos(a0), r * qSin(a0));
        const QPointF p1 = c + QPointF(r * qCos(a1), r * qSin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    QPainterPath holePath;
    holePath.addEllipse(c, hole, hole);
    gear = gear.subtracted(holePath);
    QRadialGradient g(c, glow);
    g.setColorAt(0, QColor(0x9c, 0xb0, 0xc4));
    g.setColorAt(1, QColor(0x5a, 0x70, 0x86));
    p.setPen(pen(kInk, outline));
    p.setBrush(g);
    p.drawPath(gear);
}

} // namespace iconkit
