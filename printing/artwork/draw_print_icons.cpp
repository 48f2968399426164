// Draws the print preview's toolbar icons in the program's icon style (see
// resources/artwork/draw_icons.cpp). Not part of the build:
//   g++ -std=c++20 -fPIC draw_print_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_print_icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw_print_icons printing/icons
#include "../../resources/artwork/IconKit.h"

#include <QGuiApplication>

namespace {

using namespace iconkit;

QImage drawSetup(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a page with margin guides and a small gear
    QPainterPath page;
    page.moveTo(5.5, 3.5);
    page.lineTo(18, 3.5);
    page.lineTo(23.5, 9);
    page.lineTo(23.5, 28.5);
    page.lineTo(5.5, 28.5);
    page.closeSubpath();
    p.setPen(pen(kInk, 1.4));
    p.setBrush(kPaper);
    p.drawPath(page);
    p.setPen(QPen(kBlue, 1.0, Qt::DashLine));
    p.drawRect(QRectF(8.5, 7.5, 12, 17.5));
    drawGear(p, QPointF(23, 23), 7, 7.6, 5.8, 2.4, 8, 1.1);
    return img;
}

QImage drawScale(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    p.setPen(pen(kInk, 4.2));
    p.drawLine(QPointF(19.5, 19.5), QPointF(27.5, 27.5));
    QRadialGradient g(QPointF(11, 10), 11);
    g.setColorAt(0, QColor(0xf4, 0xf9, 0xff));
    g.setColorAt(1, QColor(0xc9, 0xdc, 0xf0));
    p.setPen(pen(kInk, 1.8));
    p.setBrush(g);
    p.drawEllipse(QPointF(13, 13), 9, 9);
    p.setPen(pen(kBlue, 2.0));
    p.drawLine(QPointF(9, 13), QPointF(17, 13));
    p.drawLine(QPointF(13, 9), QPointF(13, 17));
    return img;
}

QImage drawArrow(int s, bool next)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    QLinearGradient g(0, 3, 0, 29);
    g.setColorAt(0, kBlue.lighter(135));
    g.setColorAt(1, kBlue);
    p.setPen(pen(kBlue.darker(130), 1.3));
    p.setBrush(g);
    p.drawEllipse(QPointF(16, 16), 12.5, 12.5);
    p.setPen(pen(Qt::white, 3.0));
    const qreal d = next ? 1 : -1;
    p.drawLine(QPointF(16 - 6 * d, 16), QPointF(16 + 5 * d, 16));
    p.drawLine(QPointF(16 + 5 * d, 16), QPointF(16 + 0.5 * d, 11));
    p.drawLine(QPointF(16 + 5 * d, 16), QPointF(16 + 0.5 * d, 21));
    return img;
}
QImage drawPrev(int s)
{
    return drawArrow(s, false);
}
QImage drawNext(int s)
{
    return drawArrow(s, true);
}

QImage drawStop(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal a = M_PI / 8 + i * M_PI / 4;
        octagon << QPointF(16 + 13 * qCos(a), 16 + 13 * qSin(a));
    }
    QLinearGradient g(0, 3, 0, 29);
    g.setColorAt(0, QColor(0xe8, 0x6a, 0x5c));
    g.setColorAt(1, kRed);
    p.setPen(pen(QColor(0x9b, 0x2a, 0x20), 1.4));
    p.setBrush(g);
    p.drawPolygon(octagon);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(10.5, 10.5, 11, 11), 1.5, 1.5);
    return img;
}

QImage drawClose(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a door with an arrow leaving it
    QLinearGradient g(0, 3, 0, 29);
    g.setColorAt(0, QColor(0xe9, 0xee, 0xf3));
    g.setColorAt(1, QColor(0xc4, 0xcd, 0xd6));
    p.setPen(pen(kInk, 1.4));
    p.setBrush(g);
    p.drawRect(QRectF(5.5, 3.5, 14, 25));
    p.setBrush(kInk);
    p.drawEllipse(QPointF(16, 16.5), 1.0, 1.0);
    p.setPen(pen(Qt::white, 4.6));
    p.drawLine(QPointF(14, 16), QPointF(27, 16));
    p.setPen(pen(kRed, 2.6));
    p.drawLine(QPointF(14, 16), QPointF(27.5, 16));
    p.drawLine(QPointF(23, 11.5), QPointF(27.5, 16));
    p.drawLine(QPointF(23, 20.5), QPointF(27.5, 16));
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("printing/icons");
    const struct
    {
        const char *name;
        QImage (*draw)(int);
    } icons[] = {
        {"print", drawPrint}, {"setup", drawSetup}, {"scale", drawScale}, {"prev", drawPrev},
        {"next", drawNext},   {"stop", drawStop},   {"close", drawClose},
    };
    for (const auto &icon : icons) {
        icon.draw(32).save(out + QStringLiteral("/%1.png").arg(QLatin1String(icon.name)));
        icon.draw(64).save(out + QStringLiteral("/%1@2x.png").arg(QLatin1String(icon.name)));
    }
    return 0;
}
