// What the configuration procedures need of a link to a board. The serial session and the
// telnet session both provide it, so that a procedure whose steps are the same on both links
// is written once; where the two links' procedures differ, the link says how (TLinkStyle and
// the few operations below), and the procedure asks.
//
// Thread rules: GUI thread only. Every wait processes GUI events until its answer is complete
// or its 2000 ms have passed; a wait that runs out logs "レスポンス待ち　タイムオーバー".
#pragma once

#include <QByteArray>
#include <QString>

// The points where a procedure over the serial link differs from its telnet twin.
struct TLinkStyle {
    // Plain sleep after the wake line of a write (the check-and-set reading always pauses).
    int writeWakePauseMs;
    // "exit" follows a successful "save".
    bool sendsExit;
    // A successful write logs the "madr=" line right after "SAVE　OK!!", before the MAC address
    // is counted on; otherwise the write command logs it after its banner, after the increment
    // (and the check-and-set does not log it at all).
    bool macLineAfterSave;
    // A "madr" reply of exactly "0" shows the "NULL" box before it is parsed.
    bool nullBoxForZeroMac;
    // The check-and-set stores the own IP address and port into the record as soon as they are
    // read, since the next session connects to that address.
    bool storesOwnAddressAtOnce;
};

inline constexpr TLinkStyle kSerialStyle{/*writeWakePauseMs=*/0, /*sendsExit=*/true,
                                         /*macLineAfterSave=*/true, /*nullBoxForZeroMac=*/true,
                                         /*storesOwnAddressAtOnce=*/false};
inline constexpr TLinkStyle kTelnetStyle{/*writeWakePauseMs=*/100, /*sendsExit=*/false,
                                         /*macLineAfterSave=*/false, /*nullBoxForZeroMac=*/false,
                                         /*storesOwnAddressAtOnce=*/true};

class TBoardLink {
  public:
    virtual ~TBoardLink() = default;

    virtual const TLinkStyle& Style() const = 0;
    // The link as the production record names it: "COM4 /dev/ttyUSB0", "127.0.0.5:23".
    virtual QString Description() const { return {}; }

    // Forgets the bytes received so far; the next answer is collected from the start.
    virtual void ClearReceived() = 0;
    // Sends one whole command line, terminator included.
    virtual bool SendText(const QByteArray& line) = 0;
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
};

inline constexpr const char* kTimeoutLine = "レスポンス待ち　タイムオーバー";
