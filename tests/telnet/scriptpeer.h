// A scripted TCP peer on a loopback address for the telnet tests: it listens, accepts one
// connection, and sends and reads bytes exactly as a test says. On the GUI thread its waits
// process GUI events, so the client's hand-overs keep flowing; on a script thread they only wait.
#pragma once

#include "support/pump.h"

#include <sys/types.h>
#include <QByteArray>
#include <atomic>
#include <functional>
#include <thread>

class ScriptPeer {
  public:
    // Listens on `address`:`port` (0: a free port) with the given backlog.
    explicit ScriptPeer(const char* address, int port = 0, int backlog = 4);
    ~ScriptPeer();
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    bool Listening() const { return listenFd_ >= 0; }
    int Port() const { return port_; }
    // Accepts the next connection (processing events while waiting).
    bool Accept(int timeoutMs = 5000);
    bool Send(const QByteArray& bytes);
    // Reads until `n` bytes have come or `timeoutMs` passed; returns what came.
    QByteArray Read(int n, int timeoutMs = 3000);
    // The bytes of one receive, once any have come within `timeoutMs` (empty if none).
    QByteArray ReadOnce(int timeoutMs = 3000);
    // Reads until a quiet period of `quietMs` (or `timeoutMs` in all).
    QByteArray ReadUntilQuiet(int quietMs = 200, int timeoutMs = 3000);
    // True when the peer has seen the connection's end (EOF) within `timeoutMs`.
    bool WaitEof(int timeoutMs = 3000);
    void CloseConnection();
    // Ends the connection in both directions without releasing the descriptor, so that a script
    // thread still using it fails cleanly.
    void ShutdownConnection();
    int ConnectionFd() const { return connFd_; }

    // Runs `script` on a thread of its own (joined by the destructor or JoinScript()).
    void RunScript(std::function<void(ScriptPeer&)> script);
    void JoinScript();

  private:
    // One receive once the connection is readable within `timeoutMs` (processing events as the
    // waits do); -2 when it did not become readable.
    ssize_t ReceiveWithin(char* buf, size_t size, int timeoutMs);

    int listenFd_ = -1;
    int connFd_ = -1;
    int port_ = 0;
    std::thread script_;
};
