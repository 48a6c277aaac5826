#include "support/pump.h"

#include "core/replytimer.h"

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    TReplyTimer t;
    return WaitDeadline(
        t, static_cast<uint32_t>(timeoutMs), [&] { return done() ? TPass::Done : TPass::Pending; },
        [] { return 5u; });
}

void PumpFor(int ms) {
    TReplyTimer t;
    WaitDeadline(t, static_cast<uint32_t>(ms), [] { return TPass::Pending; });
}
