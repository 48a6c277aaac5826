// The telnet session: the command/response link to a board over telnet. Opening it connects to
// the board's own IP address on port 23 and logs in at the board's "PASSWORD:" prompt; then the
// configuration procedures send command lines and wait for the answers through it. It has no
// window of its own: the telnet test command shows one around it, whose every close runs
// Disconnect.
//
// Receive buffer: the first 16000 bytes since the last ClearReceived; the rest is dropped.
//
// Thread rules: GUI thread only. The client's read thread hands received data over
// synchronously, so OnDataAvailable runs on the GUI thread, inside the waits (which
// process events); the receive buffer needs no lock. Destroying the session destroys its client
// first, which joins the read thread, so no hand-over reaches a released session.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

#include "board/boardlink.h"
#include "core/replytimer.h"

class TLogPane;
class TTelnetClient;
struct TBoardParams;

class TTelnetSession : public QObject, public TReceivingLink {
    Q_OBJECT

  public:
    static constexpr int kPort = 23;
    static constexpr int kReceiveCapacity = 16000;

    // Opens the session: connects to params.OwnIpText() port 23, logs "Connect" and
    // "Connected", waits for "PASSWORD:" and answers it with params.TelnetPass. A connect
    // failure logs a line naming the address, the port and the cause, and throws the client's
    // error (ETelnetConnectError "server not responding"); a missing prompt is logged as a
    // time-out and leaves the session connected without a login. `log` may be null (nothing is
    // logged). `owner` (may be null) owns the session as its QObject parent. Every wait runs on
    // `clock`.
    TTelnetSession(QObject* owner, TLogPane* log, const TBoardParams& params,
                   TClock* clock = &SystemClock());
    ~TTelnetSession() override;

    // TBoardLink
    const TLinkStyle& Style() const override { return kTelnetStyle; }
    const TCommandLook& Look() const override { return kTelnetLook; }
    // "<address>:23".
    QString Description() const override;
    // The target a session opened with `params` connects to, named as Description names it.
    static QString TargetOf(const TBoardParams& params);
    // Sends the bytes by the client's CR rule in one write, then logs "TX:" and the bytes in
    // hexadecimal. A send error stops the sending silently.
    void SendText(const QByteArray& text) override;
    // WaitReply(2, ">"). The procedures pause 100 ms after the wake line themselves.
    bool WaitPrompt() override { return WaitReply(2, ">"); }
    bool WaitOk(int lineLength) override { return WaitReply(lineLength, ">OK"); }
    // The MAC address reply must begin with "0": ReadZeroReplyLine(lineLength).
    bool ReadMacReplyLine(int lineLength) override { return ReadZeroReplyLine(lineLength); }

    // True when the first ">" at or after `start` begins `expected`; false on a different
    // answer (no log line) or after 2000 ms (time-out line).
    bool WaitReply(int start, const QByteArray& expected) {
        return Await(TReplyMatcher::AtMark(start, '>', expected));
    }
    // ReplyLine := the text from the "0" of the first ">" directly followed by "0", up to CR;
    // searched only once at least `minimum` bytes have arrived.
    bool ReadZeroReplyLine(int minimum) { return ReadLine(TReplyMatcher::ZeroReplyLine(minimum)); }

    // The client's is-connected query.
    bool Connected() override;
    // Disconnects when connected; an error of the disconnect is ignored.
    void Disconnect();

    // The logging flag: one value for the whole process, set by the most recently opened
    // session from fDispRecInfo.
    static int DispRecInfo() { return dispRecInfo_; }

  private:
    void OnDataAvailable(const QByteArray& buffer);

    static int dispRecInfo_;

    std::unique_ptr<TTelnetClient> client_;
};
