// Reply timer on a 32-bit millisecond tick count, and the event-driven wait pass that every
// link's waits are built from.
//
// Thread rules: GUI thread only.
#pragma once

#include <cstdint>
#include <functional>

// The system's millisecond tick: milliseconds since an arbitrary start, wrapping to 0 after
// 2^32 - 1. Tests replace it to put a wait across the wrap.
using TickSource = std::function<uint32_t()>;

// The monotonic clock in milliseconds, truncated to 32 bits.
uint32_t SystemTickCount();

class TReplyTimer {
  public:
    explicit TReplyTimer(TickSource tick = SystemTickCount) : tick_(std::move(tick)) {}

    void Start() { start_ = tick_(); }
    // True when at least `limitMs` have passed since Start(), counted modulo 2^32 so that a
    // wait across the wrap of the tick lasts as long as any other.
    bool Elapsed(uint32_t limitMs) const { return ElapsedMs() >= limitMs; }
    uint32_t ElapsedMs() const { return tick_() - start_; }
    // Milliseconds left until `limitMs` has passed (0 once it has).
    uint32_t RemainingMs(uint32_t limitMs) const {
        const uint32_t e = ElapsedMs();
        return e >= limitMs ? 0 : limitMs - e;
    }
    void SetTickSource(TickSource tick) { tick_ = std::move(tick); }

  private:
    TickSource tick_;
    uint32_t start_ = 0;
};

// One pass of a wait: processes the pending GUI events; when none is pending, blocks in the
// event loop until one arrives or `maxWaitMs` have passed. Never spins: a wait loop calling
// this with the time left to its deadline gives the same results as a loop that polls the
// event queue continuously, without burning the CPU in between.
void WaitForEvents(uint32_t maxWaitMs);
