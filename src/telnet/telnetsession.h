// The telnet session: the command/response link to a board over telnet. Opening it connects to
// the board's own IP address on port 23 and logs in at the board's "PASSWORD:" prompt; then the
// configuration procedures send command lines and wait for the answers through it. It has no
// window of its own: the telnet test command shows one around it, whose every close runs
// FormClose.
//
// Thread rules: GUI thread only. The client's read thread hands received data over
// synchronously, so Telnet1DataAvailable runs on the GUI thread, inside the waits (which
// process events); the receive buffer needs no lock. Destroying the session destroys its client
// first, which joins the read thread, so no hand-over reaches a released session.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

#include "board/boardlink.h"
#include "core/replytimer.h"

class TLogPane;
class TTelnetClient;
struct TBoardParams;

class TTelNetCont1Dlg : public QObject, public TBoardLink {
    Q_OBJECT

  public:
    static constexpr int kPort = 23;
    static constexpr int kReceiveCapacity = 16000;
    static constexpr uint32_t kReplyLimitMs = 2000;

    // Opens the session: connects to params.OwnIpText() port 23, logs "Connect" and
    // "Connected", waits for "PASSWORD:" and answers it with params.TelnetPass. A connect
    // failure throws the client's error (ETelnetConnectError "server not responding"); a
    // missing prompt is logged as a time-out and leaves the session connected without a login.
    // `log` may be null (nothing is logged). `owner` (may be null) owns the session as its
    // QObject parent.
    TTelNetCont1Dlg(QObject* owner, TLogPane* log, const TBoardParams& params);
    ~TTelNetCont1Dlg() override;

    // TBoardLink
    const TLinkStyle& Style() const override { return kTelnetStyle; }
    // "<address>:23".
    QString Description() const override;
    void ClearReceived() override { count_ = 0; }
    // Sends the bytes by the client's CR rule in one write, then logs "TX:" and the bytes in
    // hexadecimal. A send error stops the sending silently. Always true.
    bool SendText(const QByteArray& text) override;
    // WaitReply(2, ">"). The procedures pause 100 ms after the wake line themselves.
    bool WaitPrompt() override { return WaitReply(2, ">"); }
    bool WaitOk(int lineLength) override { return WaitReply(lineLength, ">OK"); }
    // ReplyLine := the text after the first ">" up to CR.
    bool ReadReplyLine() override;
    // The MAC address reply must begin with "0": ReadZeroReplyLine(lineLength).
    bool ReadMacReplyLine(int lineLength) override { return ReadZeroReplyLine(lineLength); }
    QString ReplyLine() const override { return replyLine_; }
    // Appends a line to the log pane, emptying it first when it holds 250 lines.
    void LogLine(const QString& text) override;

    // True when the first ">" at or after `start` begins `expected`; false on a different
    // answer (no log line) or after 2000 ms (time-out line).
    bool WaitReply(int start, const QByteArray& expected);
    // ReplyLine := the text from the "0" of the first ">" directly followed by "0", up to CR;
    // searched only once at least `minimum` bytes have arrived.
    bool ReadZeroReplyLine(int minimum);

    // The client's is-connected query.
    bool Connected() override;
    // Disconnects when connected; an error of the disconnect is ignored.
    void FormClose();

    TTelnetClient* Telnet1() const { return telnet1_.get(); }
    int ReceivedCount() const { return count_; }
    QByteArray Received() const { return QByteArray(buffer_.data(), count_); }
    // For tests: the tick the session timer reads.
    void SetTickSource(TickSource tick) { timer_.SetTickSource(std::move(tick)); }

    // The logging flag: one value for the whole process, set by the most recently opened
    // session from fDispRecInfo.
    static int DispRecInfo() { return dispRecInfo_; }

  private:
    void Telnet1Connect();
    void Telnet1Connected();
    void Telnet1DataAvailable(const QByteArray& buffer);
    bool WaitPassword();
    // Waits until the first `mark` at or after `start` has arrived with as many bytes as
    // `expected` holds, and compares them with it (the mark included).
    bool WaitMarked(int start, char mark, const QByteArray& expected);
    // Reads ReplyLine: `findStart` looks for the line's start from *pos on, advancing *pos, and
    // returns true with *pos on the line's first byte; then bytes are taken up to the CR.
    bool ReadLine(const std::function<bool(int* pos)>& findStart);
    // One pass's event wait: none right after a pass that made progress (what it found may
    // already be complete), else until an event arrives or the time limit is reached.
    void WaitPass(bool progressed);
    // First index of `c` in the received bytes from `from` on, or -1.
    int Find(char c, int from) const;

    static int dispRecInfo_;

    std::unique_ptr<TTelnetClient> telnet1_;
    TLogPane* log_ = nullptr;
    std::array<char, kReceiveCapacity> buffer_{};
    int count_ = 0;
    QString replyLine_;
    TReplyTimer timer_;
};
