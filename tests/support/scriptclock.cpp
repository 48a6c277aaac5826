#include "support/scriptclock.h"

#include <QCoreApplication>
#include <algorithm>

void TScriptClock::WaitForEvents(uint32_t maxWaitMs) {
    QCoreApplication::processEvents();
    const uint32_t elapsed = ElapsedMs();
    if (steps_.empty() || steps_.begin()->first > elapsed + static_cast<uint64_t>(maxWaitMs)) {
        now_ += maxWaitMs;
        return;
    }
    const uint32_t at = std::max(steps_.begin()->first, elapsed);
    now_ = start_ + at;
    while (!steps_.empty() && steps_.begin()->first <= at) {
        const std::function<void()> step = std::move(steps_.begin()->second);
        steps_.erase(steps_.begin());
        step();
    }
}
