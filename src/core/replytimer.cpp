#include "core/replytimer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

class TSystemClock : public TClock {
  public:
    uint32_t Now() override { return SystemTickCount(); }

    void WaitForEvents(uint32_t maxWaitMs) override {
        if (maxWaitMs == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        // The timer guarantees that the blocking call below returns by the deadline; it is a
        // precise timer so that a 2000 ms wait does not overrun by the coarse timer's slack.
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(static_cast<int>(std::min<uint32_t>(maxWaitMs, 0x7FFFFFFFu)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
};

}  // namespace

TClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}

uint32_t SystemTickCount() {
    // The steady clock is the monotonic one.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void WaitForEvents(uint32_t maxWaitMs) {
    SystemClock().WaitForEvents(maxWaitMs);
}

bool WaitDeadline(TReplyTimer& timer, uint32_t limitMs, const std::function<TPass()>& pass,
                  const std::function<uint32_t()>& sleepCapMs) {
    timer.Start();
    bool sleep = false;
    for (;;) {
        uint32_t wait = 0;
        if (sleep) {
            wait = limitMs == kNoLimit ? kNoLimit : timer.RemainingMs(limitMs);
            if (sleepCapMs)
                wait = std::min(wait, sleepCapMs());
        }
        timer.Clock().WaitForEvents(wait);
        const TPass p = pass();
        if (p == TPass::Done)
            return true;
        if (limitMs != kNoLimit && timer.Elapsed(limitMs))
            return false;
        if (p == TPass::DoneUnlessLate)
            return true;
        sleep = p == TPass::Pending;
    }
}
