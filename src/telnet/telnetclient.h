// The telnet client: a TCP client with a read thread that answers the server's option
// negotiation itself and hands the remaining data to the owner's thread.
//
// Thread rules:
// - The owner's thread (the GUI thread) creates, connects, disconnects, queries, sends and
//   destroys the client. Every event (OnConnect, OnConnected, OnDataAvailable, OnDisconnected,
//   OnDisconnect) runs on that thread.
// - The read thread receives, runs the negotiation filter, writes its answers (serialised with
//   the owner's writes) and hands each data part to the owner's thread through TGuiCall,
//   waiting until the handler has returned. The filter, the input buffer and the thread's
//   hand-over state are the read thread's alone; the peer-is-telnet flag is atomic.
// - Disconnect() only asks the read thread to stop (it may be waiting for the very handler that
//   disconnects). Destroying the client refuses every pending hand-over, wakes the thread and
//   joins it before anything goes, so no hand-over reaches a released client, nor the owner if
//   the owner destroys the client before the state its handlers touch.
// - A handler may disconnect the client, and may destroy it if it touches nothing of the
//   client afterwards (the data it was given stays valid).
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "telnet/tcpclient.h"
#include "telnet/telnetfilter.h"
#include "telnet/workerthread.h"

class TGuiCall;
class TTelnetClient;

// Receives, filters and hands over, one pass per run step.
class TTelnetReadThread : public TWorkerThread {
  public:
    explicit TTelnetReadThread(TTelnetClient* client) : client_(client) {}
    ~TTelnetReadThread() override { Join(); }

  protected:
    void Run() override;

  private:
    TTelnetClient* client_;
};

class TTelnetClient : public TTcpClient {
  public:
    using TTnDataAvail = std::function<void(TTelnetClient* sender, const QByteArray& buffer)>;
    using TClientEvent = std::function<void()>;

    TTelnetClient();
    ~TTelnetClient() override;

    // The terminal type reported to the server (set before connecting; empty means "dumb").
    QByteArray Terminal = "dumb";

    TClientEvent OnConnect;        // before the TCP connect starts
    TTnDataAvail OnDataAvailable;  // each received chunk's data part, possibly empty
    TClientEvent OnDisconnect;     // after Disconnect()

    // Connects and starts the read thread. Any socket error becomes ETelnetConnectError
    // ("server not responding"); EAlreadyConnected while a socket is open.
    void Connect() override;
    // Stops the read thread (without waiting) and closes the connection.
    void Disconnect();
    // False once the connection has been closed, by either side.
    bool IsConnected();
    // Writes one character by the CR rule (see telnet::WireBytes). Throws as Write().
    void SendChar(unsigned char c) { SendChars(QByteArray(1, static_cast<char>(c))); }
    // Writes the characters of `text` by the CR rule in one write, so that a line leaves in one
    // piece: a server that takes each received segment as a unit then sees CR LF together
    // instead of a line ended twice. Throws as Write().
    void SendChars(const QByteArray& text);

    // The server has sent at least one IAC on this connection.
    bool PeerIsTelnet() const { return peerIsTelnet_.load(); }
    // For tests: the error that ended the last read thread (empty while it runs or when it was
    // stopped), and hand-overs waiting for the owner's thread now.
    QString ReadThreadError() const;
    int PendingHandOvers() const;

  private:
    friend class TTelnetReadThread;

    // Read thread: one pass (receive, filter, answer, hand over).
    void ReadPass(TTelnetReadThread* thread);
    // Read thread: waits for the socket and receives once into the input buffer; a peer that
    // closed is reported to the owner. False when the thread is to stop (a stop request, or the
    // client is being destroyed). Throws ESocketError when the receive fails.
    bool ReceiveStep();
    // Read thread: runs OnDataAvailable with `data` on the owner's thread and waits for it;
    // false when the client is being destroyed. Throws EOnDataAvailableIsNil without a handler.
    bool HandOverData(const QByteArray& data);
    // Read thread: runs `fn` on the owner's thread; false when the client is being destroyed.
    bool HandOver(std::function<void()> fn);
    // Owner thread: stops the read thread, refuses its hand-overs and joins it.
    void StopReader();
    // Owner thread: joins a read thread that has ended by itself, releasing the descriptor.
    void ReapReader();
    void RaiseDisconnected();

    TTelnetFilter filter_;
    std::atomic<bool> peerIsTelnet_{false};
    std::unique_ptr<TGuiCall> guiCall_;
    std::unique_ptr<TTelnetReadThread> reader_;
    QString lastReaderError_;
};
