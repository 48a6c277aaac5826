// The production ledger: one row per command that reached a board, and the state of every MAC
// address handed out, in an SQLite database beside the settings file
// ("dir/name.ini" gives "dir/name-ledger.sqlite"). Every process of a station (the window and
// any number of netboard-cli runs) uses the same file; SQLite's write lock orders them.
//
// An address that a command is about to send is reserved first, in one transaction that also
// checks its state; the command's outcome then sets the state and adds the row in one more:
//   given     "save" was acknowledged: the board keeps the address;
//   released  the command failed before "save" was sent: the address may be offered again;
//   burned    "save" went out unanswered, or the process died with the reservation open: the
//             board may hold the address, so it is handed out again only on the operator's word.
// A reservation names its process (host, boot, pid and start time), so that any later start
// can tell an open reservation of a live process from one a crash left behind.
//
// The MAC address counter stays in MacAddr_1..3 of the settings file, where the window and the
// dialogs have always kept it. Every change of it is a read-modify-write of that file inside a
// ledger write transaction, so two processes never interleave their changes, and a counter that
// another process moved further is never moved back.
//
// Thread rules: GUI thread only (or any one thread): a TLedger holds one database connection,
// which Qt ties to the thread that opened it.
#pragma once

#include <QDateTime>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

#include "board/recordline.h"
#include "core/exceptions.h"

// The ledger cannot be opened, read or written.
class ELedgerError : public Exception {
  public:
    using Exception::Exception;
};

enum class TAddressState { Free, Reserved, Given, Released, Burned };

struct TAddressInfo {
    TAddressState state = TAddressState::Free;
    QString time;     // when it was given, burned, released or reserved (record time text)
    QString command;  // the command that did so
    QString station;
    QString owner;  // the reserving process, while reserved
    // A reservation of a process that is still running (this one included) is a command under
    // way; one of a process that has ended counts as burned.
    bool operator==(const TAddressInfo& o) const {
        return state == o.state && time == o.time && command == o.command && owner == o.owner;
    }
};

struct TLedgerStats {
    qint64 rows = 0;
    qint64 ng = 0;
    qint64 given = 0;
    qint64 released = 0;
    qint64 burned = 0;
    qint64 reserved = 0;
};

class TLedger {
  public:
    using LogFn = std::function<void(const QString&)>;

    // Opens the ledger beside `iniPath`, creating it and bringing its schema up to date, burns
    // the reservations of processes that have ended, and on its first start reads the old CSV
    // record beside the settings file into it (the file itself is left as it is). `log` gets the
    // import's summary. Throws ELedgerError.
    TLedger(const QString& iniPath, const QString& station, const LogFn& log = {});
    ~TLedger();
    TLedger(const TLedger&) = delete;
    TLedger& operator=(const TLedger&) = delete;

    static QString PathBesideIni(const QString& iniPath);
    // The station name: [Production] Station= of the settings file, else the host name.
    static QString StationOf(const QString& iniPath);

    const QString& Path() const { return path_; }
    const QString& Station() const { return station_; }
    const QString& IniPath() const { return iniPath_; }
    // The database connection's name, for read-only views (the record window).
    const QString& ConnectionName() const { return connection_; }

    // The counter as the settings file holds it now; none when a byte is out of range.
    std::optional<int> Counter() const;
    // The address a command that gives one offers: the counter's, or the first after it that no
    // running process holds reserved. None when the counter is out of range.
    std::optional<int> NextAddress();
    // Sets the counter (a check-and-set takes the board's own address as written).
    void SetCounter(int low);

    TAddressInfo Lookup(int low);
    // Reserves `low` for `command` if its state is still `seen` (what the caller showed the
    // operator); false when it changed meanwhile. With `setCounter` the counter becomes `low` in
    // the same transaction (the MAC address rewrite). Throws ELedgerError.
    bool Reserve(int low, const TAddressInfo& seen, const QString& command, bool setCounter);
    // Ends this process's reservation of `low`: adds `row` and sets the address to `outcome`
    // (Given, Released or Burned) in one transaction. A given address moves the counter to the
    // address after it when the counter still stands at `counterBase` (where the command took it
    // from) or behind the new value. Throws ELedgerError; the reservation then stays open and
    // counts as burned once this process has ended.
    void Finish(int low, const TRecordLine& row, TAddressState outcome, int counterBase);
    // Adds the row of a command that gave no address. Throws ELedgerError.
    void Record(const TRecordLine& row);
    // Throws ELedgerError unless the ledger can be written now: a command checks it before it
    // sends anything, so that a record that cannot be kept stops it first.
    void CheckWritable();
    // Runs `fn` holding the ledger's write lock, so that no counter change of another process
    // falls between its read and its write of the settings file (the window's close).
    void WithWriteLock(const std::function<void()>& fn);

    TLedgerStats Stats();
    // The rows from `since` on (all when invalid), oldest first, in the CSV form, header first;
    // `write` takes each line with its line end. Throws ELedgerError.
    void Export(const QDateTime& since, const std::function<void(const QByteArray&)>& write);

    // This process as a reservation names it.
    static QString ProcessToken();
    // True when the process `token` names is provably still running.
    static bool ProcessAlive(const QString& token);

  private:
    class TTransaction;
    // Runs one statement with its values bound in order; throws ELedgerError naming the file.
    QSqlQuery Exec(const char* sql, const QVariantList& values = {});
    QSqlQuery Prepare(const char* sql);
    void Run(QSqlQuery* q, const QVariantList& values);
    void Close();
    void Migrate(const LogFn& log);
    // The schema's version as the file holds it; -1 before the first start wrote one.
    int SchemaVersion();
    void ImportCsv(const LogFn& log);
    void BurnAbandoned();
    // `timeText`: the time as an imported line wrote it; empty: the row's own time.
    void InsertRow(const TRecordLine& row, const QString& timeText = QString());
    void WriteCounter(int low);

    QString iniPath_;
    QString path_;
    QString station_;
    QString connection_;
    QString token_;
    std::unique_ptr<QSqlQuery> insertRow_;
    bool inTransaction_ = false;
};
