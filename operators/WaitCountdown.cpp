#include "operators/WaitCountdown.h"

#include "operators/AttemptLimiter.h"

#include <QAbstractButton>

namespace lianbu::operators {

namespace {

// Often enough that the shown seconds never lag behind by more than a fraction of one.
constexpr int kTickMilliseconds = 250;

} // namespace

WaitCountdown::WaitCountdown(QAbstractButton *button, Remaining remaining, QObject *parent)
    : QObject(parent)
    , m_button(button)
    , m_remaining(std::move(remaining))
{
    m_timer.setInterval(kTickMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &WaitCountdown::update);
}

bool WaitCountdown::start()
{
    if (!m_timer.isActive() && m_button)
        m_buttonText = m_button->text();
    m_timer.start();
    update();
    return m_timer.isActive();
}

void WaitCountdown::update()
{
    if (!m_timer.isActive())
        return;
    const int seconds = waitSeconds(m_remaining());
    if (seconds <= 0) {
        finish();
        return;
    }
    if (m_button) {
        m_button->setEnabled(false);
        m_button->setText(QStringLiteral("等待%1秒").arg(seconds));
    }
}

void WaitCountdown::finish()
{
    m_timer.stop();
    if (m_button) {
        m_button->setText(m_buttonText);
        m_button->setEnabled(true);
    }
}

} // namespace lianbu::operators
