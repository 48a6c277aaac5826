// The configuration commands as the window and netboard-cli both run them: the link, the
// confirmation of the values, the reused-address guard and the reservation of the MAC address
// in the production ledger, the procedure, and the ledger row with the address's outcome. What
// differs between the two faces (a dialog or the command line, a question or a switch, a box or
// standard error, the log pane or standard output, how a link is opened) is asked of the
// caller through TCommandUi and TLinkSource.
//
// Nothing that gives an address is sent before its reservation is in the ledger; a ledger that
// cannot be written stops a command before its first byte.
//
// Thread rules: GUI thread only (the links' waits process events; the ledger's connection
// belongs to this thread).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "board/procedures.h"
#include "core/exceptions.h"
#include "label/labeloutcome.h"
#include "ledger/boardcheck.h"
#include "ledger/ledger.h"
#include "reader/romquery.h"

class TBoardLink;
class TLogPane;
struct TBoardParams;

// A command refused before it sent anything (the address is being written by another process
// right now, the ledger keeps changing under it).
class ECommandRefused : public Exception {
  public:
    using Exception::Exception;
};

// The link a command runs over.
enum class TLinkKind { Serial, Telnet };

// What a write sends besides the settings, and what it does after "save".
struct TWriteOptions {
    bool withMac = false;  // the "madr=" line with the next MAC address
    bool verify = false;   // read the settings back once "save" is acknowledged, and compare
    // While a site plan is open: the row of this serial number instead of the next one.
    QString serial = {};
};

// The question before an address given (or burned) before goes to a board again.
struct TReuseQuestion {
    QString mac;        // "02-5A-C3-..."
    TAddressInfo info;  // when, and by which command and station
    bool otherStation;  // it was another station's
};

// What differs between the window and netboard-cli.
class TCommandUi {
  public:
    virtual ~TCommandUi() = default;
    // The log the procedures and the links write to.
    virtual TLogPane* Log() = 0;
    // True when the operator sees and may change the address before it is sent (a dialog); the
    // command then refuses an address another process took meanwhile rather than send another.
    virtual bool ShowsAddress() const = 0;
    // The parameter dialog of a write, filled from `params`: true when confirmed, with every
    // confirmed value in `params`; on false or an error `params` is as it was.
    virtual bool ConfirmWrite(TBoardParams* params, bool withMac) = 0;
    // The MAC address dialog of the rewrite: as ConfirmWrite, for MacAddr_1..3.
    virtual bool ConfirmMacAddress(TBoardParams* params) = 0;
    // The check-and-set dialog, filled from what the board answered: true when confirmed, with
    // the dialog's values in `edited` (a copy of the record to start from).
    virtual bool ConfirmCheckAndSet(const TBoardReadback& board, TLinkKind link,
                                    TBoardParams* edited) = 0;
    // The address was given, or burned, before: true to give it again.
    virtual bool MayReuse(const TReuseQuestion& question) = 0;
    // The "NULL" box of the serial check-and-set; returns when it has been closed.
    virtual void NullBox() = 0;
    // An error that does not undo the board's part; the caller shows it when the command ends.
    virtual void ShowAfterCommand(const QString& message) = 0;
    // How the ROM version query shows its connection wait, learns of Cancel and shows the
    // version.
    virtual TRomQueryHooks RomQueryHooks() = 0;
    // The command is at work with a board (true) or waits for the operator or has ended.
    virtual void Busy(bool busy) { (void)busy; }
};

// Where a command's links come from.
class TLinkSource {
  public:
    virtual ~TLinkSource() = default;
    // The serial link with its port open, or null when it cannot be opened (the source has
    // told why); the command then sends nothing.
    virtual TBoardLink* SerialLink() = 0;
    // A telnet session to the record's own address, connected and logged in. A connect failure
    // throws.
    virtual std::unique_ptr<TBoardLink> TelnetLink(const TBoardParams& params) = 0;
    // The target of such a session as the record names it ("127.0.0.5:23").
    virtual QString TelnetTarget(const TBoardParams& params) const = 0;
};

// What a command came to.
struct TCommandResult {
    bool reached = false;  // something was sent to a board; a row was recorded (or tried)
    TOutcome outcome;
    QString link;             // the link as the row names it
    QString mac;              // the address sent or read back, "02-5A-C3-..."
    QString planRow;          // the site plan's row a write took ("site#17"), or empty
    QString recordError;      // the ledger or the counter could not be written after the board
    QStringList differences;  // the verification's differences after a write
    TBoardReadback board;     // what a read, a verification or a check-and-set read back
    // The label of the address the command gave, when [Label] names a printer: printed, or why
    // not (which never undoes the board's part).
    std::optional<TLabelOutcome> label;

    // OK in every respect: the board's part and its record.
    bool Ok() const { return reached && outcome.ok && recordError.isEmpty(); }
};

// The settings file of a station: the window's, named after its executable and beside it;
// netboard-cli beside it uses the same file.
QString DefaultIniPath();

class TCommandRunner {
  public:
    // `params` is the record the commands work on (the window's, or a copy netboard-cli loaded
    // from `iniPath`); the ledger beside `iniPath` is opened at its first use.
    TCommandRunner(TCommandUi& ui, TLinkSource& links, TBoardParams& params, QString iniPath);
    ~TCommandRunner();

    // The ledger, opened (again) when it is not open. Throws ELedgerError.
    TLedger& Ledger();
    // The ledger if it is open, without trying to open it.
    TLedger* OpenLedger() const { return ledger_.get(); }

    // A write (F2, F5 over serial; F4, F6 over telnet; netboard-cli write). While a site plan
    // is open it takes a row of the plan (the next one, or the one of options.serial), reserved
    // with the MAC address: the row's values are the record's for this write only, and the
    // operator's dialog opens with them. A serial the plan does not hold, or a row taken,
    // refuses the write before its link is opened.
    TCommandResult Write(TLinkKind link, TWriteOptions options);
    // The MAC address rewrite over serial (F3, netboard-cli mac-rewrite).
    TCommandResult MacRewrite();
    // Check-and-set (F7 over serial, F8 over telnet).
    TCommandResult CheckAndSet(TLinkKind link);
    // Reads the board's settings and changes nothing (netboard-cli read).
    TCommandResult Read(TLinkKind link);
    // The end-of-line check (ファイル → 出荷検査, netboard-cli check): reads the board as Read
    // does, and compares every value read with what the ledger's last write to the board's MAC
    // address sent. NG, one line each in `differences`, for every value that differs, and for
    // an address the ledger never gave, burned, or gave to more than one board; a "check" row
    // says which.
    TCommandResult Check(TLinkKind link);
    // Asks the reader behind the board for its ROM version (ROM1, netboard-cli rom-version) at
    // the board's own address and TCP port; `query` gets what it came to.
    TCommandResult RomVersion(TRomQueryResult* query);
    // Prints the label of the address `low` again (netboard-cli label, the record window's
    // reprint) and records it as a "label-reprint" row. Refused when [Label] names no printer
    // or the ledger does not know the address as given. The result's outcome is the label's.
    TCommandResult ReprintLabel(int low);
    // What the last read had read when an error ended it.
    const TBoardReadback& LastBoard() const { return lastBoard_; }

  private:
    // The link of a command that only reads: the serial port (null when it does not open), or a
    // telnet session kept in `session`. A connect failure throws.
    TBoardLink* OpenLink(TLinkKind kind, std::unique_ptr<TBoardLink>* session);
    // `prefix` starts each of the procedure's own log lines (the verification's read-back).
    TProcedureHooks Hooks(const QString& prefix = QString());
    // Hooks of a reading that reports the board's values (read, the verification): a reply line
    // that is not its value's whole form is not taken, and its setting is NG.
    TProcedureHooks StrictHooks(const QString& prefix = QString());
    // Puts the address a command offers into the record: the counter's, past addresses other
    // processes hold (with a block, the ledger's next). Returns the counter it started from.
    int OfferAddress();
    // The ledger's next address; a used-up block refuses the command.
    std::optional<int> NextOffered();
    // How a command's address is chosen when it is reserved.
    enum class TAddressChoice {
        Confirmed,      // shown and confirmed: sent as it is, or not at all
        FollowCounter,  // never shown: one another process took meanwhile gives way to the next
        Rewrite,        // the rewrite's entered address, which becomes the counter
    };
    // Reserves the record's address for the command `tag` names. False (nothing sent) when the
    // operator does not want an address given before to go again.
    // With `plan`, the plan row it picks is reserved in the same transaction.
    bool ReserveAddress(const TReservationTag& tag, TAddressChoice choice,
                        TPlanClaim* plan = nullptr);
    // Reserves the plan row of a write (with its address when `withMac`), and puts the row
    // taken into the record when it is another than the one `shown` (a face that shows no
    // dialog follows the plan as it follows the counter). False as ReserveAddress.
    bool ReserveWrite(const TReservationTag& tag, TAddressChoice choice, bool withMac,
                      const TBoardParams& base, const std::optional<TPlanTaken>& shown,
                      const QString& serial);
    // Runs `procedure` over a reserved address (if any) and records the row with the address's
    // outcome; `mac` names the address of a command that reserved none (what a check-and-set
    // read); `sent` the values it sends. An error inside the procedure is recorded too, then
    // passed on.
    TCommandResult RunRecorded(const QString& command, TBoardLink& link, std::optional<int> low,
                               int counterBase, const QString& ownIp, const QString& mac,
                               const TSentValues& sent, const std::function<TOutcome()>& procedure);
    // Adds the row (and ends the reservation); a failure is told and makes the result NG.
    void Record(TCommandResult* result, const QString& command, const QString& link,
                const QString& ownIp = {}, std::optional<int> low = std::nullopt,
                int counterBase = -1, const TSentValues& sent = {});
    // The confirmed check-and-set values replace the record; the MAC address only when the
    // board gave it whole (`wholeMac`).
    void TakeCheckAndSet(const TBoardParams& edited, const TBoardReadback& board, bool wholeMac);
    // The verdict on the board `board` read, whose MAC address reads `mac`.
    TCheckVerdict JudgeRead(const QString& mac, const TBoardReadback& board);
    // Reads the settings back after a write into `board` and compares them.
    bool Verify(TBoardLink& link, const TBoardParams& written, bool withMac, TBoardReadback* board,
                QStringList* differences);
    // Prints the label of `low`, given by the command, with its own row ("label" or
    // "label-reprint"); the log and the face's after-command message say why one failed.
    TLabelOutcome PrintLabelOf(int low, const QString& ownIp, const QString& command);
    // The record's MAC bytes follow the counter once a command has moved it.
    void FollowCounter();
    // The record's MAC bytes go back to the ledger's next address after a refused one.
    void OfferAgain();
    void Log(const QString& line);

    TCommandUi& ui_;
    TLinkSource& links_;
    TBoardParams& params_;
    QString iniPath_;
    std::unique_ptr<TLedger> ledger_;
    bool saveSent_ = false;           // the running procedure has sent "save"
    std::optional<TPlanTaken> plan_;  // the plan row the running write took
    TBoardReadback lastBoard_;
};
