// A clock for the waits that runs by a script instead of the wall clock. WaitForEvents(ms)
// processes the GUI events already pending and then, instead of blocking, moves the time on: to
// the next scripted step if it is due within `ms` (the step then runs, as an event would), or by
// `ms`. A wait's time-out then comes in microseconds, and what a wait sees at each moment is set
// by the script, not by the machine's load. A step may itself wait for real events (PumpUntil)
// to tie a moment of the script to what a real peer has done.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "core/replytimer.h"

class TScriptClock : public TClock {
  public:
    explicit TScriptClock(uint32_t start = 0) : now_(start), start_(start) {}

    uint32_t Now() override { return now_; }
    void WaitForEvents(uint32_t maxWaitMs) override;

    // Runs `step` when the clock reaches `atMs` after its start.
    void At(uint32_t atMs, std::function<void()> step) { steps_.emplace(atMs, std::move(step)); }
    uint32_t ElapsedMs() const { return now_ - start_; }
    // Puts the clock at `ms` after its start, for code that reads the time without waiting.
    void SetElapsedMs(uint32_t ms) { now_ = start_ + ms; }

  private:
    uint32_t now_;
    uint32_t start_;
    std::multimap<uint32_t, std::function<void()>> steps_;  // by ms after the start
};
