// A blocking IPv4 TCP client connection on POSIX sockets: the base of the telnet client.
//
// Thread rules:
// - The owner's thread (the GUI thread) creates, connects, closes and destroys the connection.
// - One reader thread may be attached while connected: it waits, receives and takes the input
//   buffer (WaitReadable, ReceiveOnce, TakeInput) and may close the connection; no other thread
//   uses those three.
// - Write() may be called from both threads; writes are serialised by one mutex, so the bytes
//   of one write never interleave with another's.
// - Closing is two steps: the connection is shut down and marked closed at once (is-connected
//   answers false, writes are refused), but the descriptor itself is released only when no
//   reader is attached, so a reader blocked on it never meets a closed or reused descriptor.
//   The owner detaches the reader after joining it (DetachReader) and the descriptor goes then.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/posixio.h"

class TTcpConnection {
  public:
    static constexpr int RecvBufferSize = 32768;

    TTcpConnection();
    virtual ~TTcpConnection();
    TTcpConnection(const TTcpConnection&) = delete;
    TTcpConnection& operator=(const TTcpConnection&) = delete;

    // After the socket has been closed, on the owner's thread (see the telnet client).
    std::function<void(TTcpConnection* sender)> OnDisconnected;

    // A connected socket is held.
    bool SocketOpen() const;
    bool ClosedByPeer() const { return closedByPeer_.load(); }

    // Sends all bytes at once (no buffering); empty does nothing. Throws EConnClosedGracefully
    // when the connection is closed (or the peer accepts nothing), ESocketError when a send
    // fails (the connection is then closed if the socket was shut down or reset).
    void Write(const QByteArray& bytes);

  protected:
    // Owner thread, before the reader starts and after it has been joined.
    void ResetConnection();
    void AttachReader() { readerAttached_ = true; }
    void DetachReader();

    // Shuts the sending direction down and marks the connection closed; the descriptor goes
    // too unless a reader is attached. True when this call closed it (it was open).
    bool CloseSocket();
    // True once per connection, for the first caller after the socket was closed: that caller
    // raises OnDisconnected.
    bool TakeDisconnectNotice();

    // Reader thread. Blocks until the socket is readable (or fails) or WakeReader() is called.
    enum class WaitResult { Readable, Woken, Failed };
    WaitResult WaitReadable();
    // One receive of up to RecvBufferSize bytes appended to the input buffer. 0 means the peer
    // closed the connection. Throws ESocketError on failure.
    int ReceiveOnce();
    QByteArray TakeInput();
    bool InputEmpty() const { return input_.isEmpty(); }

    // Any thread: releases a reader blocked in WaitReadable(), now and in every later wait until
    // ResetConnection().
    void WakeReader();
    // Owner thread: shuts the sending direction down without waiting for the write lock, so that
    // a reader blocked in a send to a peer that takes nothing fails at once instead of holding
    // the lock until the send time-out.
    void InterruptSending();

    // Owner thread: takes a socket just connected.
    void Adopt(int fd);

  private:
    bool CloseLocked();

    mutable std::mutex m_;  // guards allocated_, the descriptor's release and writes
    TUniqueFd socket_;
    bool allocated_ = false;  // a connected socket is held (logically open)
    std::atomic<bool> closedByPeer_{false};
    std::atomic<bool> readerAttached_{false};
    bool disconnectNoticed_ = true;  // guarded by m_
    TEventFd wake_;
    // Received bytes not yet taken: at most one receive (RecvBufferSize), since each read pass
    // takes it whole. Reader thread only (the owner only while no reader runs).
    QByteArray input_;
};

class TTcpClient : public TTcpConnection {
  public:
    QString Host;
    int Port = 0;
    // False: a Host that is not a dotted IPv4 address fails the connect with an ESocketError
    // instead of being looked up by name.
    bool ResolveNames = true;
    // A peer that never answers the connect fails after this long.
    uint32_t ConnectTimeoutMs = 5000;
    // Longest a blocked send may wait for the peer to take bytes before it fails, so that a peer
    // that stops reading does not hang the caller for ever (0: no limit).
    int SendTimeoutMs = 5000;

    // After a successful TCP connect, on the owner's thread.
    std::function<void(TTcpConnection* sender)> OnConnected;

    // Connects from any local address and port, blocking the calling thread for at most
    // ConnectTimeoutMs (plus name resolution when Host is not a dotted address and ResolveNames
    // is set). Throws
    // EAlreadyConnected when a socket is open, ESocketError when a step fails (the socket is then
    // closed).
    virtual void Connect();
};
