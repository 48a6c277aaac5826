// Reply timer on a 32-bit millisecond tick count, and the deadline wait that every wait of the
// GUI thread is built from (the links' reply waits, connect waits and the driver's read).
//
// Both run on a TClock: the system clock reads the monotonic clock and blocks in the GUI event
// loop; a test puts its own clock in its place, so that a wait's time-out comes in microseconds
// and what the wait sees at each moment does not depend on the machine's load.
//
// Thread rules: the waits and WaitForEvents run on the GUI thread. A timer belongs to the thread
// that uses it; the system clock's Now() may be read on any thread (a worker's own timing).
#pragma once

#include <cstdint>
#include <functional>

class TClock {
  public:
    virtual ~TClock() = default;
    // Milliseconds since an arbitrary start, wrapping to 0 after 2^32 - 1.
    virtual uint32_t Now() = 0;
    // One pass of a wait: processes the pending GUI events; when none is pending, blocks until
    // one arrives or `maxWaitMs` have passed (0: never blocks).
    virtual void WaitForEvents(uint32_t maxWaitMs) = 0;
};

// The monotonic clock truncated to 32 bits, with the GUI event loop.
TClock& SystemClock();
uint32_t SystemTickCount();
// SystemClock().WaitForEvents(maxWaitMs).
void WaitForEvents(uint32_t maxWaitMs);

class TReplyTimer {
  public:
    explicit TReplyTimer(TClock* clock = &SystemClock()) : clock_(clock) {}

    void Start() { start_ = clock_->Now(); }
    // True when at least `limitMs` have passed since Start(), counted modulo 2^32 so that a
    // wait across the wrap of the tick lasts as long as any other.
    bool Elapsed(uint32_t limitMs) const { return ElapsedMs() >= limitMs; }
    uint32_t ElapsedMs() const { return clock_->Now() - start_; }
    // Milliseconds left until `limitMs` has passed (0 once it has).
    uint32_t RemainingMs(uint32_t limitMs) const {
        const uint32_t e = ElapsedMs();
        return e >= limitMs ? 0 : limitMs - e;
    }
    TClock& Clock() const { return *clock_; }
    void SetClock(TClock* clock) { clock_ = clock; }

  private:
    TClock* clock_;
    uint32_t start_ = 0;
};

// What one pass of a deadline wait found.
enum class TPass {
    Pending,         // nothing new: the next pass may sleep until an event or the deadline
    Progressed,      // a step was made; the next pass runs at once (the rest may be here)
    Done,            // the wait ends, without a time-out test
    DoneUnlessLate,  // the wait ends, unless the time ran out in this very pass
};

// A limit that never runs out.
inline constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

// Starts `timer` and runs `pass` until it ends the wait (true) or `limitMs` have passed since
// the start (false). Before every pass the GUI events are processed: the first pass takes only
// those already pending, and a pass after a Pending one sleeps until an event arrives, the
// deadline, or `sleepCapMs()` if given, whichever comes first. So the wait gives the results of
// a loop that polls continuously, its timing included, without spinning.
bool WaitDeadline(TReplyTimer& timer, uint32_t limitMs, const std::function<TPass()>& pass,
                  const std::function<uint32_t()>& sleepCapMs = {});
