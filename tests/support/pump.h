// Event-loop helpers for tests that wait for what the code under test does.
#pragma once

#include <functional>

// Processes GUI events until `done()` holds (true) or `timeoutMs` pass (false). A condition
// set by another thread comes without an event, so it is looked at again every 5 ms.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Processes GUI events for `ms` milliseconds, as a procedure's wait does.
void PumpFor(int ms);
