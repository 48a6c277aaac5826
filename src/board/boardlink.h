// What the configuration procedures need of a link to a board. The serial session and the
// telnet session both provide it, so that a procedure whose steps are the same on both links
// is written once.
//
// Thread rules: GUI thread only. Every wait processes GUI events until its answer is complete
// or its 2000 ms have passed; a wait that runs out logs "レスポンス待ち　タイムオーバー".
#pragma once

#include <QByteArray>
#include <QString>

class TBoardLink {
  public:
    virtual ~TBoardLink() = default;

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
    virtual QString ReplyLine() const = 0;
    // Appends a line to the log pane by the link's own line limit.
    virtual void LogLine(const QString& text) = 0;
};

inline constexpr const char* kTimeoutLine = "レスポンス待ち　タイムオーバー";
