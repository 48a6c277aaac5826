#include "core/replytimer.h"

#include <time.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

uint32_t SystemTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void WaitForEvents(uint32_t maxWaitMs) {
    // The timer guarantees that the blocking call below returns by the deadline; it is a
    // precise timer so that a 2000 ms wait does not overrun by the coarse timer's slack.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    if (maxWaitMs > 0) {
        wake.start(static_cast<int>(maxWaitMs > 0x7FFFFFFFu ? 0x7FFFFFFFu : maxWaitMs));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}
