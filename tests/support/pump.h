// Running the Qt event loop in tests until a condition holds.
#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace pump {

// Runs the event loop, a nested loop of 5 ms at a time, until done() holds or
// the deadline passes; false on the deadline.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace pump
