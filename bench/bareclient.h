// A bare telnet client for the benchmarks' floors: one blocking socket on one thread, the
// negotiation answered inline, each line in one write by the telnet CR rule; no read thread, no
// hand-over, no event loop, no log.
#pragma once

#include <QByteArray>

#include "telnet/telnetfilter.h"

class TBareTelnet {
  public:
    // Connects to `address` port 23; `noDelay` turns Nagle's algorithm off.
    TBareTelnet(const char* address, bool noDelay);
    ~TBareTelnet();
    TBareTelnet(const TBareTelnet&) = delete;
    TBareTelnet& operator=(const TBareTelnet&) = delete;

    bool Connected() const { return fd_ >= 0; }
    // Waits for "PASSWORD:" and sends the password line.
    bool Login(const QByteArray& password);
    // Sends `line` and waits for its answer: the first ">" at or after the line's length,
    // followed by as many bytes as `expected` has. The round trip in ms, or -1 on a failure.
    double Exchange(const QByteArray& line, const QByteArray& expected);

  private:
    bool Receive();
    void Send(const QByteArray& text);

    int fd_ = -1;
    TTelnetFilter filter_;
    bool telnet_ = false;
    QByteArray data_;
};
