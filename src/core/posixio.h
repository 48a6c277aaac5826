// The descriptor calls that the links, the INI file and netboard-sim share: one owner per
// descriptor, the wake-up counter of the threads' polls, the write that goes on until every byte
// is out, and the system's text of an error number.
//
// Thread rules: a TUniqueFd belongs to one owner, who alone resets or closes it. TEventFd's
// Signal() and Drain() may be called from any thread while its owner keeps it.
#pragma once

#include <QString>
#include <cstddef>

// A descriptor with one owner: closed when the owner goes or resets it.
class TUniqueFd {
  public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& o) noexcept : fd_(o.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& o) noexcept;
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);
    // Closes now and tells whether the close succeeded (a delayed write error shows only here).
    bool Close();

  private:
    int fd_ = -1;
};

// A counter descriptor (eventfd) that wakes a poll(): it reads as ready from Signal() until
// Drain(). Non-blocking and closed on exec.
class TEventFd {
  public:
    TEventFd();
    // False when the system refused one; Error() tells why.
    bool Valid() const { return fd_.Valid(); }
    // The errno of the refused creation (kept, since later calls overwrite errno); 0 when valid.
    int Error() const { return error_; }
    int Fd() const { return fd_.Get(); }
    // A non-zero counter is all a waiter needs, and it cannot overflow in practice.
    void Signal() const;
    void Drain() const;

  private:
    TUniqueFd fd_;
    int error_ = 0;
};

// Writes all `n` bytes to `fd`, going on after interruptions and partial writes. False when a
// write fails (errno tells why; a write that takes nothing gives ENOSPC).
bool WriteAll(int fd, const void* bytes, size_t n);

// The system's text of error number `err` ("Permission denied").
QString ErrnoText(int err);
