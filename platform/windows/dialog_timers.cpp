// The dialog's timers by id, each expiry sent to the window as WM_TIMER.
#include <QTimer>
#include <algorithm>

#include "platform/windows/dialog.h"

UINT TimerElapse(UINT elapseMs)
{
    return std::clamp<UINT>(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
}

UINT CDialogEx::SetTimer(UINT id, UINT elapseMs)
{
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { SendMessage(WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(TimerElapse(elapseMs)));
    return id;
}

BOOL CDialogEx::KillTimer(UINT id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end() || !it->second->isActive())
        return FALSE;
    it->second->stop();
    return TRUE;
}

bool CDialogEx::IsTimerPending(UINT id) const
{
    const auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}
