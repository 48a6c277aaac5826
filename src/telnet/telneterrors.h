// Errors of the TCP connection and the telnet client, with their exact messages.
#pragma once

#include "core/exceptions.h"

// A failing socket call: "Socket Error # <code>\r\n<short text>".
class ESocketError : public Exception {
  public:
    ESocketError(int code, const QString& text);
    // From errno and its standard text.
    static ESocketError FromErrno(int err);
    // The short text alone ("Connection refused").
    const QString& Text() const { return text_; }

  private:
    QString text_;
};

// Any socket error while the telnet client connects. The message stays the same whatever the
// cause; Cause() is the socket error's short text.
class ETelnetConnectError : public Exception {
  public:
    explicit ETelnetConnectError(const QString& cause = {})
        : Exception(QStringLiteral("server not responding")), cause_(cause) {}
    const QString& Cause() const { return cause_; }

  private:
    QString cause_;
};

class EAlreadyConnected : public Exception {
  public:
    EAlreadyConnected() : Exception(QStringLiteral("Already connected.")) {}
};

// A write, or a read-thread pass, after the connection has been closed.
class EConnClosedGracefully : public Exception {
  public:
    EConnClosedGracefully() : Exception(QStringLiteral("Connection Closed Gracefully.")) {}
};

class EOnDataAvailableIsNil : public Exception {
  public:
    EOnDataAvailableIsNil() : Exception(QStringLiteral("OnDataAvailable event is nil.")) {}
};
