// The serial session: the link through which the configuration procedures talk to a board over
// a COM port. It owns the port driver, collects every byte the board sends into its receive
// buffer, sends command lines, waits for an expected answer or reads a one-line answer after
// the board's prompt, each within 2000 ms, and writes its own lines (time-outs, transmit dumps)
// to the log pane. It shows nothing itself: a port that does not open is logged with its device
// and the cause, and reported to the caller, which decides how to tell the operator.
//
// Receive buffer: the first 16387 bytes since the last ClearReceived (the k-th byte is at
// position k, 1 to 16387, of a 16388-byte buffer). Bytes that arrive when it is full are dropped.
//
// Thread rules: GUI thread only. The driver's notifications run on the GUI thread, in practice
// inside the waits, which process GUI events; so the handler and the waits never run at once
// and the buffer needs no lock. Because the waits process events, another command may run
// inside a wait and share the buffer and the reply timer.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

#include "board/boardlink.h"
#include "core/exceptions.h"
#include "core/replytimer.h"

class TSerialPort;
class TSerialDriver;
class TLogPane;

// A port that cannot be opened. Message() is the text the operator is shown (OpenErrorText);
// Cause() is the driver's own error text with the failing call and its system error.
class EPortOpenError : public Exception {
  public:
    EPortOpenError(int portNo, const QString& cause);
    int PortNo() const { return portNo_; }
    const QString& Cause() const { return cause_; }

  private:
    int portNo_;
    QString cause_;
};

class TSerialSession : public QObject, public TReceivingLink {
    Q_OBJECT

  public:
    static constexpr int kReceiveCapacity = 16387;

    // `log` may be null: the session's own lines are then dropped.
    explicit TSerialSession(TLogPane* log, QObject* parent = nullptr);
    ~TSerialSession() override;

    TSerialPort* Port() const { return port_; }

    // (Re)opens the port at `portNo`. A failure leaves it closed, logs a line naming the port,
    // its device and the cause, and throws EPortOpenError.
    void OpenPort(int portNo);
    // Closes the port once the board has echoed what it still owes (TakeOwedEcho).
    void ClosePort();

    const TLinkStyle& Style() const override { return kSerialStyle; }
    const TCommandLook& Look() const override { return kSerialLook; }
    // "COM<n> <device>", or the device alone when it was given by its path.
    QString Description() const override;
    // Hands the bytes to the driver (which refuses them while the port is closed); the board
    // owes their echo until a wait takes it. With the
    // transmit dump on, logs "TX:" and each byte as two uppercase hex digits and a blank.
    void SendText(const QByteArray& text) override;
    // True when the `expected.size()` bytes after the first `skip` received bytes equal
    // `expected`; false at once when they differ, or after 2000 ms (with the time-out line).
    bool WaitReply(int skip, const QByteArray& expected) {
        return Await(TReplyMatcher::At(skip, expected));
    }
    // The wake line's prompt: WaitReply(2, ">").
    bool WaitPrompt() override { return WaitReply(2, ">"); }
    // "OK" after the echo of the line and the prompt: WaitReply(lineLength + 1, "OK").
    bool WaitOk(int lineLength) override { return WaitReply(lineLength + 1, "OK"); }

    // Waits until the line has been quiet for `quietMs` since its last byte, at most `limitMs`
    // (until the first byte only the limit counts): for the bytes a board sends unasked.
    void WaitUntilQuiet(uint32_t quietMs, uint32_t limitMs);
    // The echo of "exit" (and whatever follows): quiet for 300 ms, 2 s at most.
    void SettleAfterExit() override { WaitUntilQuiet(300, 2000); }

    // Non-zero: SendText logs a "TX:" line. Off unless set.
    int TransmitDump() const { return transmitDump_; }
    void SetTransmitDump(int value) { transmitDump_ = value; }

    // The driver's notifications.
    void OnPortReceive(TSerialDriver* Sender, int ReceiveSize);
    void OnLineError(TSerialDriver* Sender, int ErrorState);
    void OnLineLost(TSerialDriver* Sender);

    // "COM<n>がオープン出来ません!!" with the advice line: what the operator is told when the
    // port does not open.
    static QString OpenErrorText(int portNo);
    // The log line written when the port's device vanishes.
    static QString LineLostText(int portNo);

  private:
    TSerialPort* port_;
    int transmitDump_ = 0;
};
