#include "export/ExportProgressWindow.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace lianbu::exchange {

ExportProgressWindow::ExportProgressWindow(int maximum, QWidget *owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("ExportProgressWindow"));
    setWindowTitle(QStringLiteral("导出"));
    setFixedSize(300, 100);
    // The window's own colour shows as a one-pixel black frame around the panel.
    setAutoFillBackground(true);
    QPalette framePalette = palette();
    framePalette.setColor(QPalette::Window, Qt::black);
    setPalette(framePalette);
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(9);
    setFont(font);
    if (const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(150, 50));

    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel"));
    panel->setGeometry(1, 1, 298, 98);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    QPalette panelPalette = panel->palette();
    panelPalette.setColor(QPalette::Window, QColor(212, 208, 200));
    panelPalette.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(panelPalette);

    auto *label = new QLabel(QStringLiteral("正在导出数据，请稍候......"), panel);
    label->setObjectName(QStringLiteral("Label"));
    QFont bold = font;
    bold.setBold(true);
    label->setFont(bold);
    label->move(25 - 1, 25 - 1); // positions inside the window; the panel starts at (1, 1)
    label->adjustSize();

    auto *bar = new QProgressBar(panel);
    m_gauge = bar;
    bar->setObjectName(QStringLiteral("Gauge"));
    bar->setOrientation(Qt::Horizontal);
    bar->setGeometry(20 - 1, 50 - 1, 260, 13);
    bar->setTextVisible(false);
    bar->setMinimum(0);
    bar->setMaximum(std::max(maximum, 1));
    bar->setValue(0);
    bar->setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid #808080; background: white; }"
                                      "QProgressBar::chunk { background-color: #0000FF; }"));

    show();
    raise();
    // The window system maps the new window only when its events are read; user input stays
    // queued, so nothing the operator does runs in the middle of the export.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
}

void ExportProgressWindow::setValue(int value)
{
    if (m_gauge)
        m_gauge->setValue(value);
}

} // namespace lianbu::exchange
