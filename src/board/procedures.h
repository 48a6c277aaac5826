// The configuration procedures: the sequences of command lines that write a board's settings,
// rewrite its MAC address and read its settings back, with their log lines, banners and record
// updates. They are written once and run over either link; what differs between the serial and
// the telnet procedures is asked of the link (TLinkStyle, TCommandLook). No dialog or window is
// touched here: the main window shows the dialogs and hands the procedures the confirmed record.
//
// Thread rules: GUI thread only (the links' waits process GUI events).
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "board/boardlink.h"
#include "board/settingtable.h"

struct TBoardParams;

// What a procedure needs of its caller besides the link and the record.
struct TProcedureHooks {
    // Appends one of the procedure's own lines to the log pane (the link logs its own lines).
    std::function<void(const QString&)> log;
    // Shows the "NULL" box and returns when the operator has closed it.
    std::function<void()> nullBox;
    // Called just before "save" is sent: from then on the board may keep what it was sent.
    std::function<void()> saveSending;
    // Called with each query's reply line before it is parsed; false when the reading does not
    // take it as the board's value: its query is then logged NG, and the reading goes on.
    // Unset: every reply line is taken.
    std::function<bool(const TBoardSetting&, const QString& reply)> takeReply;
};

// The result of a procedure: OK, or the keyword of the first line that failed ("wake", "madr",
// "l_ip", ..., "save", "qelmoT4").
struct TOutcome {
    bool ok = false;
    QByteArray failed;
};

// Sends a full configuration: the wake line, with the MAC address the "madr=" line, the ten
// setting lines and "save", each answered before the next is sent, then "exit" where the link
// sends it. Logs one outcome line per setting line; on success also the "madr=" line where
// the link logs it there. The procedures count nothing: the MAC counter is the ledger's, which
// moves it on once the command's outcome is recorded.
TOutcome WriteBoardSettings(TBoardLink& link, TBoardParams* params, bool withMac,
                            const TProcedureHooks& hooks);

// A write command after its dialog was confirmed: WriteBoardSettings, the banner, and where the
// link logs it there, the "madr=" line after the banner, with the address the next board gets.
TOutcome RunWriteCommand(TBoardLink& link, TBoardParams* params, bool withMac,
                         const TProcedureHooks& hooks);

// The write of a confirmed check-and-set: WriteBoardSettings without the MAC address and the
// banner; no "madr=" line after it.
TOutcome RunCheckAndSetWrite(TBoardLink& link, TBoardParams* params, const TProcedureHooks& hooks);

// The MAC address rewrite after its dialog was confirmed and the entered bytes were stored: the
// wake line, the mode line "qelmoT4" (its failure does not stop the rewrite), "madr=", "save"
// and "exit"; then the banner and, on success, the "madr=" line.
TOutcome RewriteMacAddress(TBoardLink& link, TBoardParams* params, const TProcedureHooks& hooks);

// A board's settings as read back: per row of kBoardSettings, in its order, the numbers of its
// reply, present once its query was answered.
struct TBoardReadback {
    std::array<std::optional<TReplyValues>, kBoardSettingCount> values;
    // The reply lines as they came, present once a query got one (also where it was not taken).
    std::array<std::optional<QString>, kBoardSettingCount> replies;

    // The numbers read for a setting's keyword; empty when it was not read.
    const std::optional<TReplyValues>& Of(const char* keyword) const;
    // The reply line of a setting that was answered but not taken as its value; empty otherwise.
    std::optional<QString> NotTaken(const TBoardSetting& s) const;
    // True when the setting's query got a reply line in its value's whole form (CheckReply).
    bool WholeReply(const TBoardSetting& s) const;
    // True when the query of `keyword` got a reply line, taken or not.
    bool Answered(const char* keyword) const;
};

// The check-and-set reading: wakes the board (with a 100 ms pause), then sends the eleven
// queries in order, each answered before the next, logging one outcome line per query and
// stopping at the first that gets no reply line. A reply that is not a decimal integer where
// one is expected throws EConvertError, unless hooks.takeReply refuses it first: the outcome is
// then NG at the first refused query, once every query was answered. Where the link says so,
// the own IP address and port are stored into the record as soon as they are read.
TOutcome ReadBoardSettings(TBoardLink& link, TBoardParams* params, TBoardReadback* out,
                           const TProcedureHooks& hooks);
