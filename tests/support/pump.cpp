#include "support/pump.h"

#include <time.h>

#include "core/replytimer.h"

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    TReplyTimer t;
    t.Start();
    const auto limit = static_cast<uint32_t>(timeoutMs);
    while (!done()) {
        if (t.Elapsed(limit))
            return false;
        WaitForEvents(t.RemainingMs(limit) < 5 ? t.RemainingMs(limit) : 5);
    }
    return true;
}

void PumpFor(int ms) {
    TReplyTimer t;
    t.Start();
    const auto limit = static_cast<uint32_t>(ms);
    while (!t.Elapsed(limit))
        WaitForEvents(t.RemainingMs(limit));
}

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}
