// The ROM version query: connects to the reader behind the board (the board's own IP address
// and TCP port), asks for its firmware version and hands it to the caller. Failures are told in
// the log pane only. The connection is awaited without a time limit until it comes or the
// caller cancels; the caller shows the wait and the version through the hooks.
//
// Thread rules: GUI thread only; runs to its end inside the calling command, processing GUI
// events while it waits (the hooks run on the GUI thread, inside the query).
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QObject;
class TLogPane;
struct TBoardParams;

inline constexpr char kRomVersionPrefix[] = "ROMバージョン: ";

// How the caller shows the query. Every member may be empty.
struct TRomQueryHooks {
    // The connection wait begins; `text` ("TCP/IP 接続中...") says what is awaited. The caller
    // shows it, with a way to cancel.
    std::function<void(const QString& text)> waitStarted;
    // Asked after every pass of the connection wait: true once the operator has cancelled.
    // Without it the wait lasts until the reader accepts the connection.
    std::function<bool()> cancelled;
    // The connection wait has ended, connected or cancelled.
    std::function<void()> waitEnded;
    // The reader's version, while the link is still open; returns when the caller has shown it.
    std::function<void(const QString& version)> versionReceived;
};

// What the query came to.
struct TRomQueryResult {
    enum Outcome {
        NotConnected,  // the wait was cancelled before the reader accepted the connection
        NoReply,       // no reply within the time limit, or a NACK
        NotVersion,    // an ACK that is not the version's (another sub-code)
        EmptyVersion,  // the version's ACK with no text
        Version,
    } outcome = NotConnected;
    QString version;       // with Version (and EmptyVersion): the text as the reader sent it
    QString connectCause;  // with NotConnected: why (refused, timed out, ...)
    // The "ComDebug" section could not be written at the end (the query's result stands).
    QString saveError;

    bool Ok() const { return outcome == Version; }
    // The record's keyword of a failure: "connect", "reply", "sub-code", "empty".
    const char* Failed() const;
};

// Runs the query with a reader link owned by `owner` (may be null). `log` may be null. The
// log says why a reply was not the version.
TRomQueryResult RunRomVersionQuery(QObject* owner, const TBoardParams& params, TLogPane* log,
                                   const QString& iniPath, const TRomQueryHooks& hooks);
