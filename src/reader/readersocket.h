// The reader link's TCP connection: one non-blocking IPv4 socket driven by the event loop of the
// thread that owns it, with a bounded receive buffer.
//
// It stands on POSIX sockets and two QSocketNotifiers rather than on QtNetwork, whose library
// and its Kerberos and proxy libraries would load at every start of both programs for this one
// connection.
//
// Events, each a handler the owner sets (all optional):
// - Connected: the connect has completed;
// - Error(errno): the connect failed, or the connection failed other than by the peer's close;
//   the socket is then closed (and Disconnected follows when it had been connected);
// - ReadyRead: new bytes are in the receive buffer;
// - Disconnected: the peer closed or reset the connection; the bytes received before stay
//   readable until the next Connect or Abort.
//
// Bounds: the receive buffer holds at most `bufferSize` bytes. While it is full the socket is
// not read, so TCP holds the peer back; Read() makes room and reading goes on. Bytes the socket
// cannot take at once wait in a send queue of at most `bufferSize` bytes; a write beyond it
// fails.
//
// Thread rules: one thread (the GUI thread in the programs); handlers run from its event loop,
// never from inside a call of the owner.
#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>

#include "core/posixio.h"

class QSocketNotifier;

class TReaderSocket : public QObject {
  public:
    enum class TState { Unconnected, Connecting, Connected };

    TReaderSocket(int bufferSize, QObject* parent);
    ~TReaderSocket() override;

    // Starts connecting to `ip` (host order) and `port`, closing any connection first. The
    // outcome comes as Connected or Error, also when the system refuses at once.
    void Connect(uint32_t ip, uint16_t port);
    // Closes at once without any handler; received and queued bytes are dropped.
    void Abort();

    TState State() const { return state_; }
    int BytesAvailable() const { return static_cast<int>(received_.size()); }
    // Takes up to `max` received bytes; returns how many.
    int Read(char* bytes, int max);
    // Sends `n` bytes, queueing what the socket cannot take now. Returns `n`, or -1 when not
    // connected, when the connection failed, or when the queue would pass its bound.
    int Write(const char* bytes, int n);

    std::function<void()> Connected;
    std::function<void(int err)> Error;
    std::function<void()> ReadyRead;
    std::function<void()> Disconnected;

  private:
    void OnWritable();
    void OnReadable();
    // Closes and reports `err` (0: the peer's close) to the handlers.
    void Fail(int err);
    void Close();
    // A notifier on the socket, and its end: notifiers go with deleteLater, since a handler
    // may close the socket from inside a notifier's own signal.
    QSocketNotifier* Watch(int type, void (TReaderSocket::*handler)());
    static void Unwatch(QSocketNotifier** notifier);

    const int bufferSize_;
    TUniqueFd fd_;
    TState state_ = TState::Unconnected;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    unsigned generation_ = 0;  // counts Connect and Abort calls, so a handler's own call ends
                               // the events of the connection that was
    QByteArray received_;
    QByteArray queued_;
};
