// A relay between the telnet client and a real telnet server that records the wire: it
// listens on port 23 of one loopback address, and for the one connection it accepts connects
// to port 23 of the server's address and passes the bytes both ways until either side closes.
// What the client sent is kept chunk by chunk, as each receive delivered it, so a test can
// tell how the client's writes were cut into segments.
//
// Thread rules: the relay runs on a thread of its own; the records are read after Join().
#pragma once

#include <QByteArray>
#include <atomic>
#include <thread>
#include <vector>

class WireTap {
  public:
    WireTap(const char* front, const char* server);
    ~WireTap();
    WireTap(const WireTap&) = delete;
    WireTap& operator=(const WireTap&) = delete;

    bool Listening() const { return listenFd_ >= 0; }
    // Waits until the relayed connection has ended (at most `timeoutMs`); false if it has not.
    bool Join(int timeoutMs = 10000);

    const std::vector<QByteArray>& ClientChunks() const { return clientChunks_; }
    const QByteArray& ServerBytes() const { return serverBytes_; }

  private:
    void Relay();

    int listenFd_ = -1;
    int wakeFd_ = -1;
    QByteArray server_;
    std::atomic<bool> done_{false};
    std::thread thread_;
    std::vector<QByteArray> clientChunks_;
    QByteArray serverBytes_;
};

// A telnet byte stream taken apart: its commands (IAC with what follows; a sub-negotiation
// whole, from IAC SB to IAC SE) and its data (IAC IAC as one 255).
struct TelnetStream {
    std::vector<QByteArray> commands;
    QByteArray data;
};
TelnetStream SplitTelnet(const QByteArray& bytes);
