// Draws the program's pictures (toolbar icons, the entry panel's close picture, the program icon
// and the login background) so they can be redrawn consistently. Not part of the build:
//   g++ -std=c++20 -fPIC draw_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw_icons resources
#include "IconKit.h"

#include <QDir>
#include <QGuiApplication>

namespace {

using namespace iconkit;

void page(QPainter &p)
{
    QPainterPath path;
    path.moveTo(7, 3.5);
    path.lineTo(20, 3.5);
    path.lineTo(26, 9.5);
    path.lineTo(26, 28.5);
    path.lineTo(7, 28.5);
    path.closeSubpath();
    p.setPen(pen(kInk, 1.4));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawPolyline(QPolygonF({QPointF(20, 3.5), QPointF(20, 9.5), QPointF(26, 9.5)}));
}

void badge(QPainter &p, const QColor &c)
{
    p.setPen(pen(Qt::white, 1.2));
    p.setBrush(c);
    p.drawEllipse(QPointF(23, 23), 7.5, 7.5);
}

// A page with three lines of text, under a badge in its corner.
void linedPage(QPainter &p)
{
    page(p);
    p.setPen(pen(QColor(0xa0, 0xaa, 0xb4), 1.2));
    for (int y : {13, 17, 21})
        p.drawLine(QPointF(10.5, y), QPointF(19, y));
}

QImage drawNew(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    linedPage(p);
    badge(p, kGreen);
    p.setPen(pen(Qt::white, 2.2));
    p.drawLine(QPointF(23, 19), QPointF(23, 27));
    p.drawLine(QPointF(19, 23), QPointF(27, 23));
    return img;
}

QImage drawDelete(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a waste bin
    p.setPen(pen(kInk, 1.4));
    QLinearGradient g(0, 9, 0, 29);
    g.setColorAt(0, QColor(0xe9, 0xee, 0xf3));
    g.setColorAt(1, QColor(0xc4, 0xcd, 0xd6));
    p.setBrush(g);
    QPainterPath bin;
    bin.moveTo(8.5, 10);
    bin.lineTo(23.5, 10);
    bin.lineTo(22, 28.5);
    bin.lineTo(10, 28.5);
    bin.closeSubpath();
    p.drawPath(bin);
    p.drawLine(QPointF(6, 8), QPointF(26, 8));
    p.drawLine(QPointF(13, 8), QPointF(14, 4.5));
    p.drawLine(QPointF(14, 4.5), QPointF(18, 4.5));
    p.drawLine(QPointF(18, 4.5), QPointF(19, 8));
    p.setPen(pen(QColor(0x7d, 0x8a, 0x97), 1.3));
    for (qreal x : {12.5, 16.0, 19.5})
        p.drawLine(QPointF(x, 13), QPointF(x, 25.5));
    badge(p, kRed);
    p.setPen(pen(Qt::white, 2.2));
    p.drawLine(QPointF(20.2, 20.2), QPointF(25.8, 25.8));
    p.drawLine(QPointF(25.8, 20.2), QPointF(20.2, 25.8));
    return img;
}

QImage drawExport(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a sheet with a grid of cells
    p.setPen(pen(kInk, 1.4));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(4.5, 4.5, 19, 23), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x9d, 0x4f, 60));
    p.drawRect(QRectF(5.2, 5.2, 17.6, 4.3));
    p.setPen(pen(QColor(0x7d, 0x9a, 0x86), 1.0));
    for (qreal y : {9.5, 14.0, 18.5, 23.0})
        p.drawLine(QPointF(5.2, y), QPointF(22.8, y));
    p.drawLine(QPointF(11.5, 5.2), QPointF(11.5, 26.8));
    p.drawLine(QPointF(17.5, 5.2), QPointF(17.5, 26.8));
    // the arrow leaving it
    p.setPen(pen(Qt::white, 4.2));
    p.drawLine(QPointF(17, 21), QPointF(27, 21));
    p.setPen(pen(kBlue, 2.4));
    p.drawLine(QPointF(17, 21), QPointF(27.5, 21));
    p.drawLine(QPointF(23.5, 17), QPointF(27.5, 21));
    p.drawLine(QPointF(23.5, 25), QPointF(27.5, 21));
    return img;
}

QImage drawFollowUp(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a note with a clock: what was said, and when to call again
    linedPage(p);
    badge(p, kBlue);
    p.setPen(pen(Qt::white, 1.8));
    p.drawLine(QPointF(23, 23), QPointF(23, 18.5));
    p.drawLine(QPointF(23, 23), QPointF(26.5, 25));
    return img;
}

QImage drawSettings(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    drawGear(p, QPointF(16, 16), 8, 13.0, 10.2, 4.3, 14, 1.3);
    return img;
}

QImage drawSupport(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a headset
    p.setPen(pen(kInk, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 4.5, 20, 20), 0 * 16, 180 * 16);
    p.setPen(pen(kInk, 1.3));
    QLinearGradient g(0, 13, 0, 23);
    g.setColorAt(0, kTeal.lighter(130));
    g.setColorAt(1, kTeal);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3.5, 13.5, 6, 10), 2, 2);
    p.drawRoundedRect(QRectF(22.5, 13.5, 6, 10), 2, 2);
    p.setPen(pen(kInk, 1.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath mic;
    mic.moveTo(25.5, 23.5);
    mic.cubicTo(25.5, 28, 22, 28.5, 18, 28.5);
    p.drawPath(mic);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(16.5, 28.5), 2, 1.6);
    return img;
}

QImage drawClose(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    p.setPen(pen(QColor(0x9b, 0x2a, 0x20), 1.6));
    QLinearGradient g(0, 2, 0, 30);
    g.setColorAt(0, QColor(0xe8, 0x6a, 0x5c));
    g.setColorAt(1, kRed);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
    p.setPen(pen(Qt::white, 4));
    p.drawLine(QPointF(10, 10), QPointF(22, 22));
    p.drawLine(QPointF(22, 10), QPointF(10, 22));
    return img;
}

QImage drawAppIcon(int s)
{
    QImage img = canvas(s);
    QPainter p;
    begin(p, img, s);
    // a bound register with an address card
    QLinearGradient g(0, 2, 0, 30);
    g.setColorAt(0, QColor(0x35, 0xa0, 0xa0));
    g.setColorAt(1, QColor(0x17, 0x6b, 0x6b));
    p.setPen(pen(QColor(0x10, 0x4e, 0x4e), 1.2));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(5, 2.5, 23, 27), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x4e, 0x4e));
    p.drawRect(QRectF(5, 2.5, 4, 27));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(11.5, 8, 13.5, 16), 1.5, 1.5);
    p.setBrush(kTeal);
    p.drawEllipse(QPointF(18.2, 13.2), 2.6, 2.6);
    QPainterPath body;
    body.moveTo(13.6, 21.5);
    body.cubicTo(13.6, 16.8, 22.8, 16.8, 22.8, 21.5);
    body.closeSubpath();
    p.drawPath(body);
    return img;
}

QImage drawLoginBackground()
{
    // a calm sky with soft light, under the login dialog's fields
    QImage img(400, 260, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 260);
    sky.setColorAt(0, QColor(0x9f, 0xd0, 0xf0));
    sky.setColorAt(0.6, QColor(0xd8, 0xee, 0xfb));
    sky.setColorAt(1, QColor(0xf4, 0xfa, 0xfe));
    p.fillRect(img.rect(), sky);
    QRadialGradient sun(QPointF(330, 50), 120);
    sun.setColorAt(0, QColor(255, 255, 240, 200));
    sun.setColorAt(1, QColor(255, 255, 240, 0));
    p.fillRect(img.rect(), sun);
    p.setPen(Qt::NoPen);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hills;
        const qreal base = 200 + layer * 22;
        hills.moveTo(0, 260);
        hills.lineTo(0, base);
        for (int x = 0; x <= 400; x += 8)
            hills.lineTo(x, base - 18 * qSin((x + layer * 90) / (70.0 + layer * 25)));
        hills.lineTo(400, 260);
        hills.closeSubpath();
        p.setBrush(QColor(0x4f + layer * 20, 0xa6 + layer * 15, 0xa0 + layer * 12, 150 + layer * 35));
        p.drawPath(hills);
    }
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const struct
    {
        const char *name;
        QImage (*draw)(int);
    } icons[] = {
        {"new", drawNew},       {"delete", drawDelete},     {"print", drawPrint},
        {"export", drawExport}, {"settings", drawSettings}, {"support", drawSupport},
        {"close", drawClose},   {"lianbu", drawAppIcon},    {"followup", drawFollowUp},
    };
    for (const auto &icon : icons) {
        icon.draw(32).save(out + QStringLiteral("/icons/%1.png").arg(QLatin1String(icon.name)));
        icon.draw(64).save(out + QStringLiteral("/icons/%1@2x.png").arg(QLatin1String(icon.name)));
    }
    drawAppIcon(256).save(out + QStringLiteral("/icons/lianbu-256.png"));
    // The program's icon at the sizes of the desktop's icon theme, installed by the package.
    QDir().mkpath(out + QStringLiteral("/icons/hicolor"));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        drawAppIcon(size).save(out + QStringLiteral("/icons/hicolor/lianbu-%1.png").arg(size));
    drawLoginBackground().save(out + QStringLiteral("/images/login.jpg"), "JPG", 90);
    return 0;
}
