// What the configuration procedures need of a link to a board. The serial session and the
// telnet session both provide it, so that a procedure whose steps are the same on both links
// is written once; where the two links' procedures differ, the link says how (TLinkStyle for
// what goes on the wire, TCommandLook for what the operator sees), and the procedure asks.
//
// The board's answers are recognised by TReplyMatcher, which does no I/O, and awaited by
// TReceivingLink, the base of both sessions; the links differ in the matchers they wait with,
// the size of their receive buffer and the line limit of their log.
//
// Thread rules: GUI thread only. Every wait processes GUI events until its answer is complete
// or its 2000 ms have passed; a wait that runs out logs "レスポンス待ち　タイムオーバー".
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "core/replytimer.h"

class TLogPane;

// The points where a procedure's steps over the serial link differ from its telnet twin.
struct TLinkStyle {
    // Plain sleep after the wake line of a write (the check-and-set reading always pauses).
    int writeWakePauseMs;
    // "exit" follows a successful "save".
    bool sendsExit;
    // The check-and-set stores the own IP address and port into the record as soon as they are
    // read, since the next session connects to that address.
    bool storesOwnAddressAtOnce;
};

// How a command over the link shows itself in the log and to the operator.
struct TCommandLook {
    // Where a successful write logs the "madr=" line: right after "SAVE　OK!!" with the address
    // sent, before the MAC address is counted on; or after the write command's banner with the
    // address counted on (a check-and-set write then logs none).
    enum class MacLine { AfterSave, AfterBanner } macLine;
    // A "madr" reply of exactly "0" shows the "NULL" box before it is parsed.
    bool nullBoxForZeroMac;
};

inline constexpr TLinkStyle kSerialStyle{/*writeWakePauseMs=*/0, /*sendsExit=*/true,
                                         /*storesOwnAddressAtOnce=*/false};
inline constexpr TLinkStyle kTelnetStyle{/*writeWakePauseMs=*/100, /*sendsExit=*/false,
                                         /*storesOwnAddressAtOnce=*/true};
inline constexpr TCommandLook kSerialLook{TCommandLook::MacLine::AfterSave,
                                          /*nullBoxForZeroMac=*/true};
inline constexpr TCommandLook kTelnetLook{TCommandLook::MacLine::AfterBanner,
                                          /*nullBoxForZeroMac=*/false};

class TBoardLink {
  public:
    virtual ~TBoardLink() = default;

    virtual const TLinkStyle& Style() const = 0;
    virtual const TCommandLook& Look() const = 0;
    // The link as the production record names it: "COM4 /dev/ttyUSB0", "127.0.0.5:23".
    virtual QString Description() const { return {}; }

    // Forgets the bytes received so far; the next answer is collected from the start.
    virtual void ClearReceived() = 0;
    // Sends one whole command line, terminator included. A failure shows as the missing answer.
    virtual void SendText(const QByteArray& line) = 0;
    // After the wake line: true when the board's prompt ">" answered it.
    virtual bool WaitPrompt() = 0;
    // After a setting, action or mode line of `lineLength` bytes (terminator included): true
    // when the board accepted it with "OK" after its prompt.
    virtual bool WaitOk(int lineLength) = 0;
    // After a query line: true when a reply line (the text after the prompt up to the carriage
    // return) was read; it is then in ReplyLine().
    virtual bool ReadReplyLine() = 0;
    // After the "madr" query line of `lineLength` bytes: the reply line as this link reads a MAC
    // address (over telnet it must begin with "0").
    virtual bool ReadMacReplyLine(int lineLength) { return (void)lineLength, ReadReplyLine(); }
    virtual QString ReplyLine() const = 0;
    // Appends a line to the log pane by the link's own line limit.
    virtual void LogLine(const QString& text) = 0;
    // A plain sleep of the GUI thread: received data waits for the next wait.
    virtual void Pause(int ms);
    // False once a connection-based link has lost its peer.
    virtual bool Connected() { return true; }
    // After a write that ended with "exit": waits until the board has said what it says
    // unasked after leaving its command mode, so that a read-back that follows is not taken
    // for those bytes. A link whose board says nothing more returns at once.
    virtual void SettleAfterExit() {}
};

inline constexpr const char* kTimeoutLine = "レスポンス待ち　タイムオーバー";
// How long a link waits for each answer.
inline constexpr uint32_t kReplyLimitMs = 2000;

// Recognises the board's answer in the bytes received since the command line was sent. Each
// Step is one pass of the wait over all the bytes received so far; the matcher keeps where it
// has got to, so that a pass looks only at what is new.
class TReplyMatcher {
  public:
    // `expected` right after the first `skip` bytes (the serial echo and prompt).
    static TReplyMatcher At(int skip, const QByteArray& expected);
    // `expected`, `mark` included, at the first `mark` at or after index `start`; only that
    // first mark is compared. Finding it is a pass of its own.
    static TReplyMatcher AtMark(int start, char mark, const QByteArray& expected);
    // The reply line: the text after the first ">" up to a carriage return (left out),
    // collected from the pass after the one that found the ">".
    static TReplyMatcher ReplyLine();
    // As ReplyLine(), from the "0" of the first ">" directly followed by "0" (a ">" that is the
    // last byte so far is examined again later); looked for only in passes in which at least
    // `minimum` bytes are in.
    static TReplyMatcher ZeroReplyLine(int minimum);

    // One pass over the `count` bytes at `bytes` (never fewer than at the pass before): Done
    // once a compared answer is complete, DoneUnlessLate once a line is, Progressed when the
    // place of the answer was found, else Pending.
    TPass Step(const char* bytes, int count);
    // The answer, once a pass ended the wait: true for the expected text or a whole line.
    bool Matched() const { return matched_; }
    const QString& Line() const { return line_; }

  private:
    enum class Kind { At, AtMark, Line, ZeroLine };
    TReplyMatcher(Kind kind, int pos, char mark, const QByteArray& expected, int minimum);
    TPass Compare(const char* bytes, int count);
    bool FindLineStart(const char* bytes, int count);

    Kind kind_;
    int pos_;  // where the answer starts, or where the search goes on
    char mark_;
    QByteArray expected_;
    int minimum_;
    bool found_ = false;
    bool matched_ = false;
    QString line_;
};

// A link whose board's bytes collect in a bounded receive buffer, where its waits look at them.
class TReceivingLink : public TBoardLink {
  public:
    void ClearReceived() override { count_ = 0; }
    bool ReadReplyLine() override { return ReadLine(TReplyMatcher::ReplyLine()); }
    QString ReplyLine() const override { return replyLine_; }
    // Appends a line to the log pane (none: dropped), emptying it first at the link's limit.
    void LogLine(const QString& text) override;

    int ReceivedCount() const { return count_; }
    // The bytes received since the last ClearReceived.
    QByteArray Received() const { return QByteArray(buffer_.data(), count_); }
    // The clock every wait of the link runs on.
    void SetClock(TClock* clock) { timer_.SetClock(clock); }
    // Waits, silently and 2000 ms at most, until the board has echoed a line that went out last
    // with no wait for its answer ("exit"). A link whose port closes after a command takes that
    // echo first, or it reaches whoever opens the port next, ahead of that one's answers.
    void TakeOwedEcho();

  protected:
    TReceivingLink(TLogPane* log, int logLimit, int capacity, TClock* clock);
    // Received bytes go to End(), at most Room() of them, and are counted by Stored(); what
    // does not fit is dropped (the callers clear the buffer before every command line).
    int Room() const { return static_cast<int>(buffer_.size()) - count_; }
    char* End() { return buffer_.data() + count_; }
    void Stored(int n) { count_ += n; }
    // A line of `length` bytes has gone out; the board owes its echo until a wait takes it.
    void Sent(int length) { owed_ = length; }
    // Waits until `matcher` ends on the received bytes or kReplyLimitMs have passed, the
    // time-out logged; true when the answer matched.
    bool Await(TReplyMatcher matcher) { return Wait(matcher); }
    // Await, putting the matcher's line into ReplyLine() whatever the outcome.
    bool ReadLine(TReplyMatcher matcher);

    TLogPane* log_;
    TReplyTimer timer_;

  private:
    bool Wait(TReplyMatcher& matcher);

    int logLimit_;
    std::vector<char> buffer_;
    int count_ = 0;
    int owed_ = 0;  // bytes of echo of the last line sent that no wait has taken
    QString replyLine_;
};
