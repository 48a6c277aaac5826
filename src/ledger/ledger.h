// The production ledger: one row per command that reached a board, and the state of every MAC
// address handed out. A station keeps it in an SQLite database beside the settings file
// ("dir/name.ini" gives "dir/name-ledger.sqlite"); with [Production] Database= naming a
// PostgreSQL database (a libpq connection URI), every station of a factory keeps one shared
// ledger there, and the local file only holds the rows of commands run while the server was
// away, until they are copied to it. Every process of a station (the window and any number of
// netboard-cli runs) and every station of a shared ledger are ordered by the ledger's write lock.
//
// An address that a command is about to send is reserved first, in one transaction that also
// checks its state; the command's outcome then sets the state and adds the row in one more:
//   given     "save" was acknowledged: the board keeps the address;
//   released  the command failed before "save" was sent: the address may be offered again;
//   burned    "save" went out unanswered, or the process died with the reservation open: the
//             board may hold the address, so it is handed out again only on the operator's word.
// A reservation names its owner (the process, or its session on the server), so that any later
// start can tell an open reservation of a live owner from one a crash left behind.
//
// The MAC address counter stays in MacAddr_1..3 of the settings file, where the window and the
// dialogs have always kept it. Every change of it is a read-modify-write of that file under the
// station's own ledger's write lock, so two processes never interleave their changes, and a
// counter that another process moved further is never moved back. With a MAC address block set
// (block set), the ledger gives the addresses instead, lowest released first, then the next
// never used, and never one outside the block; the counter then mirrors the ledger's next.
//
// Thread rules: GUI thread only (or any one thread): a TLedger holds database connections,
// which Qt ties to the thread that opened them.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "board/recordline.h"
#include "ledger/counterfile.h"
#include "ledger/ledgererror.h"
#include "ledger/ledgertypes.h"

class QSqlQueryModel;
class TLedgerDb;

// What the ledger knows of a board by its MAC address: what a check compares the board with.
struct TBoardHistory {
    TAddressInfo address;
    // The commands that gave the address to a board ("save" acknowledged), oldest first: more
    // than one gave it to more than one board.
    QList<TRecordLine> givings;
    // The last OK command that wrote settings to the board with this address, with the values
    // it sent; none when no such row holds any (rows from before the ledger kept them).
    std::optional<TRecordLine> lastWrite;
};
class TLedgerSpool;
class TLedgerTransaction;

class TLedger {
  public:
    using LogFn = std::function<void(const QString&)>;

    // Opens the station's ledger beside `iniPath`, creating it and bringing its schema up to
    // date, and burns the reservations of owners that have ended (each becomes an NG row). The
    // first start of a ledger reads the old CSV record beside the settings file into it (the
    // file itself is left as it is). The settings file keeps the ledger's identity and the
    // station's: a ledger missing, empty or another's, next to a settings file that names its
    // own, throws ELedgerIdentityError. With a shared ledger it connects to the server too; a
    // server that cannot be reached is logged, and reached again by the next use that needs
    // it. The first connection of a station carries its own ledger in. `log` gets the import's
    // summary and what happens to rows the server did not take. Throws ELedgerError.
    TLedger(const QString& iniPath, const QString& station, const LogFn& log = {});

    // Starts afresh where the settings file's ledger is lost (record new --force): the
    // station's own file, unless it is whole and the station keeps its record on a shared
    // ledger, is moved aside (renamed, with its log files, "...sqlite.replaced-<time>") and a
    // new one made, which counts every address up to the settings file's MacHighWater as used;
    // a shared ledger the station had joined is forgotten, so that the next start joins the
    // one the server has (made there when it has none). Returns what was done, one line each.
    // Throws ELedgerError.
    static QStringList StartAfresh(const QString& iniPath);
    ~TLedger();
    TLedger(const TLedger&) = delete;
    TLedger& operator=(const TLedger&) = delete;

    static QString PathBesideIni(const QString& iniPath);
    // The station name: [Production] Station= of the settings file, else the host name.
    static QString StationOf(const QString& iniPath);

    // Where the record is: the shared ledger's URI (its password masked), or the station's own
    // file.
    const QString& Path() const;
    bool Shared() const { return !database_.isEmpty(); }
    const QString& Station() const { return station_; }

    // The counter as the settings file holds it now; none when a byte is out of range.
    std::optional<int> Counter() const { return counter_.Counter(); }
    // The address a command that gives one offers. With a block: the lowest released address
    // of the block, else its next never-used one; none when the block is used up. Without
    // one: the counter's, or the first after it that the ledger does not hold as given, burned
    // or reserved (each address passed over told to `skipped`); none when the counter is out of
    // range or every address is held.
    std::optional<int> NextAddress(const LogFn& skipped = {});
    // Sets the counter (a check-and-set takes the board's own address as written). With a
    // block, the counter mirrors the ledger's next address instead.
    void SetCounter(int low);

    TAddressInfo Lookup(int low);
    // The address's state, the commands that gave it and the last write to it. Throws
    // ELedgerError.
    TBoardHistory History(int low);
    // Reserves `low` for `command` if its state is still `seen` (what the caller showed the
    // operator); false when it changed meanwhile. With BecomesAddress the counter becomes `low`
    // in the same transaction (the MAC address rewrite). Below 100 addresses left in the block,
    // logs how many. Throws ELedgerError, also for an address outside the block.
    enum class TCounter { Unchanged, BecomesAddress };
    // With `plan` (a write while a site plan is open), the row it picks is reserved in the same
    // transaction, into plan->taken; EPlanRefused, and nothing reserved, when it cannot be.
    bool Reserve(int low, const TAddressInfo& seen, const TReservationTag& tag, TCounter counter,
                 TPlanClaim* plan = nullptr);
    // With a block: reserves the block's next address, found and taken in one transaction, so
    // that stations asking at once never contend for one address. None when the block is used
    // up or no block is set. Throws ELedgerError. `plan` as Reserve's.
    std::optional<int> ReserveNext(const TReservationTag& tag, TPlanClaim* plan = nullptr);
    // Ends this owner's reservation of `low`: adds `row` and sets the address to `outcome`
    // (Given, Released or Burned) in one transaction. A given address moves the counter to the
    // address after it when the counter still stands at `counterBase` (where the command took it
    // from) or behind the new value. Throws ELedgerError; the reservation then stays open and
    // counts as burned once its owner has ended. A shared ledger that did not take the end keeps
    // it on the station, the row and the address's outcome, both sent when the server is
    // reached again.
    // Without `low` (a write that gave no address) only the row is added. A plan row the
    // command took (`plan`) takes the address's outcome in the same transaction.
    void Finish(std::optional<int> low, const TRecordLine& row, TAddressState outcome,
                int counterBase, const std::optional<TPlanTaken>& plan = std::nullopt);
    // Adds the row of a command that gave no address. A shared ledger that cannot take it
    // leaves it on the station, logged, to be copied later. Throws ELedgerError.
    void Record(const TRecordLine& row);
    // Throws ELedgerError unless the ledger can be written now: a command checks it before it
    // sends anything, so that a record that cannot be kept stops it first. With a shared
    // ledger away, the station's own file must take the rows instead (a command that needs an
    // address refuses at its reservation). Copies the rows kept on the station meanwhile.
    void CheckWritable();
    // Runs `fn` holding the station's write lock, so that no counter change of another process
    // falls between its read and its write of the settings file (the window's close).
    void WithWriteLock(const std::function<void()>& fn);

    // The open site plan: each write takes one of its rows (ledgerplan.cpp). None when no plan
    // is open.
    std::optional<TPlanStatus> Plan();
    // Imports `plan` under `name` and opens it. Throws ELedgerError while another plan is open.
    TPlanStatus ImportPlan(const TSitePlan& plan, const QString& name);
    // The row a write with `pick` would take now, without taking it; none when no plan is open.
    // Throws EPlanRefused for a serial the plan does not hold or whose row is taken, and when
    // every row is taken.
    std::optional<TPlanTaken> PeekPlanRow(const TPlanPick& pick);
    // Reserves the row `claim` picks for a write that gives no address. Throws EPlanRefused.
    void ReservePlanRow(TPlanClaim* claim, const TReservationTag& tag);
    // The open plan's rows, each with its state and the board that took it, as CSV; `write`
    // takes a run of whole lines. Returns the number of rows. Throws ELedgerError.
    qint64 ExportPlan(const std::function<void(const QByteArray&)>& write);
    // Closes the open plan (its rows stay in the ledger). Returns its status as it closed.
    TPlanStatus ClosePlan();

    // The MAC address block; none when the counter gives the addresses.
    std::optional<TMacBlock> Block();
    void SetBlock(const TMacBlock& block);
    // Throws ELedgerError when a block is set and `low` lies outside it.
    void CheckInBlock(int low);
    // What a command that finds `block` used up says.
    static QString UsedUpText(const TMacBlock& block);

    TLedgerStats Stats();
    // The rows `filter` selects, oldest first, in the export's CSV form, header first; `write`
    // takes a run of whole lines with their line ends. Returns the number of rows. Throws
    // ELedgerError.
    qint64 Export(const TRecordFilter& filter, const std::function<void(const QByteArray&)>& write);
    // What `filter` selects, counted (the record window's counts while it filters).
    TRecordCounts Counts(const TRecordFilter& filter);
    // The boards given an address that have no label printed (no OK "label" or
    // "label-reprint" row of their address).
    qint64 Unlabelled();
    // For the record window: the stations that have rows (the rows themselves: TRecordRows).
    QStringList Stations();

    // A consistent copy of the station's own ledger file into `path` (which must not exist),
    // taken while other processes go on using it. Throws ELedgerError.
    void Backup(const QString& path);
    // Changes whenever another process or station changed the ledger or the counter since the
    // last look: the window follows them with it. With `follow`, a shared ledger's commits are
    // counted as the server tells of them (from the event loop).
    QString ChangeStamp();
    void FollowChanges();

  private:
    friend class TRecordRows;
    // The database the record is kept in: the shared one (connected, or connected again), or
    // the station's own. Throws ELedgerError naming the server and the reason.
    TLedgerDb& Main();
    // The rows TRecordRows shows.
    void SelectRows(QSqlQueryModel* model, const TRecordFilter& filter);
    // Reads the station's old CSV record into a shared ledger once per station identity.
    void ImportOnce(TLedgerDb& db);
    // Burns the reservations whose owners have ended, each with an NG row ("save" failed).
    void BurnAbandoned(TLedgerDb& db);
    // Writes into the settings file the identities it lacks (the station's, the own ledger's
    // `ledgerId`), under the station's lock.
    void AdoptIdentities(const QString& ledgerId);
    // The first connection to a shared ledger: checks its identity and carries the station's
    // own ledger in, once per station.
    void Join(TLedgerDb& db);
    const TLedgerIdentity& IdentityOf(TLedgerDb& db) const;
    TAddressInfo LookupIn(TLedgerDb& db, int low);
    // The first address from `start` on, in counting order, that the ledger does not hold;
    // each one passed over is told to `skipped`.
    std::optional<int> FirstUnheld(TLedgerDb& db, int start, const LogFn& skipped);
    // Runs `fn` holding the lock the settings file's counter changes under: the station's own
    // ledger's write lock. In a local ledger the caller's transaction already holds it.
    void UnderCounterLock(const std::function<void()>& fn);
    std::optional<TMacBlock> BlockOf(TLedgerDb& db);
    // The block's lowest never-used address; past the last when there is none.
    int NeverUsed(TLedgerDb& db, const TMacBlock& block);
    std::optional<int> NextFree(TLedgerDb& db, const TMacBlock& block);
    qint64 Remaining(TLedgerDb& db, const TMacBlock& block);
    // Writes the reservation of `low` and commits it; with a block, moves the block's mark past
    // it and says how few addresses are left.
    void Take(TLedgerDb& db, TLedgerTransaction& t, int low, const TReservationTag& tag,
              const std::optional<TMacBlock>& block, TPlanClaim* plan);
    // The open plan of `db`: its id, name and keys; none when no plan is open.
    std::optional<TPlanStatus> OpenPlanOf(TLedgerDb& db);
    // The row `pick` names in the open plan, if it may be taken; throws EPlanRefused otherwise.
    TPlanTaken PlanRowOf(TLedgerDb& db, const TPlanStatus& plan, const TPlanPick& pick);
    // Within the caller's transaction: reserves the row `claim` picks (for the address `low`,
    // if any) into claim->taken. Throws EPlanRefused.
    void ClaimPlanRow(TLedgerDb& db, TPlanClaim* claim, const TReservationTag& tag,
                      std::optional<int> low);
    // Within the caller's transaction: the plan row takes the command's outcome.
    void FinishPlanRow(TLedgerDb& db, const TPlanTaken& plan, const TRecordLine& row,
                       TAddressState outcome, const QString& owner);
    // Burns the plan rows whose reserving owners have ended.
    void BurnAbandonedPlanRows(TLedgerDb& db);
    // Commits `t`. With a block the counter mirrors the ledger's next address: in a local ledger
    // as part of the transaction; a shared ledger's file is written after the commit, so that
    // its sync holds up no other station, with the next address read again under the station's
    // lock, so that the file never takes a value older than another process wrote. `committed`
    // tells a caller whose mirror failed that the transaction stands.
    void Commit(TLedgerDb& db, TLedgerTransaction& t, const std::optional<TMacBlock>& block,
                bool* committed = nullptr, std::optional<int> reserved = std::nullopt);
    // The counter mirrors the block's next address; the high-water mark rises to `reserved`.
    void Mirror(TLedgerDb& db, const TMacBlock& block, std::optional<int> reserved);
    // Copies the rows kept on the station to the shared ledger, once it is up to date.
    void FlushSpool();

    QString iniPath_;
    QString station_;
    QString database_;
    QString stationId_;          // the settings file's StationId (or one for this run only)
    bool freshStation_ = false;  // the station got its identity in this run
    QString sharedLedgerId_;     // the settings file's SharedLedgerId
    LogFn log_;                  // never empty
    TCounterFile counter_;
    std::unique_ptr<TLedgerDb> local_;
    std::unique_ptr<TLedgerDb> shared_;
    std::unique_ptr<TLedgerSpool> spool_;
    TLedgerIdentity localIdentity_;
    TLedgerIdentity sharedIdentity_;
    bool migrated_ = false;  // the shared ledger's schema has been brought up to date
    bool followChanges_ = false;
    qint64 sharedChanges_ = 0;       // commits the shared ledger told of
    QMap<int, QString> reservedBy_;  // this run's reservations: the owner each was made as
};
