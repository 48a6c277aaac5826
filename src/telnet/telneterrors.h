// Errors of the TCP connection and the telnet client, with their exact messages.
#pragma once

#include "core/exceptions.h"

// A failing socket call: "Socket Error # <code>\r\n<short text>".
class ESocketError : public Exception {
  public:
    ESocketError(int code, const QString& text);
    // From errno and its standard text.
    static ESocketError FromErrno(int err);
    int Code() const { return code_; }

  private:
    int code_;
};

// Any socket error while the telnet client connects.
class ETelnetConnectError : public Exception {
  public:
    ETelnetConnectError() : Exception(QStringLiteral("server not responding")) {}
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
