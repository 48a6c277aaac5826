#include "ledger/statementwatchdog.h"

#include <sys/socket.h>

TStatementWatchdog::~TStatementWatchdog() {
    {
        std::lock_guard<std::mutex> lk(lock_);
        quit_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void TStatementWatchdog::Arm(int fd, int limitMs) {
    {
        std::lock_guard<std::mutex> lk(lock_);
        armed_ = true;
        fired_ = false;
        fd_ = fd;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
}

bool TStatementWatchdog::Disarm() {
    std::lock_guard<std::mutex> lk(lock_);
    armed_ = false;
    fd_ = -1;
    return fired_;
}

void TStatementWatchdog::Run() {
    std::unique_lock<std::mutex> lk(lock_);
    while (!quit_) {
        // Nothing to watch, or the call was cut off already: wait for the next Arm.
        if (!armed_ || fired_) {
            wake_.wait(lk);
            continue;
        }
        // Re-armed or disarmed meanwhile: the loop looks again with the new deadline.
        const std::chrono::steady_clock::time_point deadline = deadline_;
        if (wake_.wait_until(lk, deadline) == std::cv_status::timeout && armed_ && !fired_ &&
            std::chrono::steady_clock::now() >= deadline_.load()) {
            // Both directions: the driver's wait for an answer and any write it has pending
            // end at once with an error.
            ::shutdown(fd_, SHUT_RDWR);
            fired_ = true;
        }
    }
}
