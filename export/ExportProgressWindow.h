#pragma once

// The small window every export shows while it writes: "正在导出数据，请稍候......" and a gauge,
// without border or title bar, 300 x 100 pixels with a one-pixel black frame, centred on the
// screen. It is painted at once whenever it changes, because exports run on the user-interface
// thread and no events are read meanwhile (user input stays queued).

#include <QPointer>
#include <QWidget>

class QProgressBar;

namespace lianbu::exchange {

class ExportProgressWindow : public QWidget
{
    Q_OBJECT

public:
    // Builds and shows the window; `maximum` is the number of steps (records) of the gauge.
    explicit ExportProgressWindow(int maximum, QWidget *owner = nullptr);

    QProgressBar *gauge() const { return m_gauge; }
    // Moves the gauge; it repaints at once when the bar visibly changes.
    void setValue(int value);

private:
    QPointer<QProgressBar> m_gauge;
};

} // namespace lianbu::exchange
