// A bound on every wait for the shared ledger's server. A server whose processes have stopped
// (or whose machine hangs) keeps its TCP connection up and answers nothing; the driver's call
// would wait for ever. While a statement runs, the watchdog holds its deadline; once it passes,
// the watchdog shuts the connection's socket down, so that the driver's call returns with an
// error at once and the caller can tell the operator and go on.
//
// Thread rules: Arm and Disarm on the connection's thread, always in pairs around one call. The
// watchdog's own thread only shuts the socket down, under the lock, while the call is armed, so
// it never touches a descriptor that Disarm has returned from.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class TStatementWatchdog {
  public:
    TStatementWatchdog() = default;
    ~TStatementWatchdog();
    TStatementWatchdog(const TStatementWatchdog&) = delete;
    TStatementWatchdog& operator=(const TStatementWatchdog&) = delete;

    // Watches the call about to run on socket `fd` for `limitMs`. The thread starts on the first
    // use.
    void Arm(int fd, int limitMs);
    // The call has returned: true when the watchdog had to cut it off.
    bool Disarm();

  private:
    void Run();

    // The state is changed under the lock; it is also atomic, so that every read of it by the
    // other thread is ordered whatever the lock's waits do.
    std::mutex lock_;
    std::condition_variable wake_;
    std::thread thread_;
    std::atomic<bool> armed_{false};
    std::atomic<bool> fired_{false};
    std::atomic<bool> quit_{false};
    std::atomic<int> fd_{-1};
    std::atomic<std::chrono::steady_clock::time_point> deadline_{};
};
