#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QAbstractButton;

namespace lianbu::operators {

// Shows an attempt wait on the button that would start the next check: the button is disabled
// and reads "等待N秒" until the wait is over, then it is enabled with its own text again. The
// wait is read again on every tick from `remaining` (the attempt limiter and the program's
// clock), so the window stays responsive and nothing sleeps.
class WaitCountdown : public QObject
{
    Q_OBJECT

public:
    using Remaining = std::function<std::chrono::milliseconds()>;

    WaitCountdown(QAbstractButton *button, Remaining remaining, QObject *parent = nullptr);

    // Reads the wait; when there is one, shows it and starts counting. True when waiting.
    bool start();
    bool waiting() const { return m_timer.isActive(); }

public slots:
    // One tick: shows the seconds left, or ends the wait.
    void update();

private:
    void finish();

    QPointer<QAbstractButton> m_button;
    Remaining m_remaining;
    QString m_buttonText;
    QTimer m_timer;
};

} // namespace lianbu::operators
