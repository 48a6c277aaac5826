// One database connection of the production ledger: the station's own SQLite file, or the
// shared PostgreSQL database every station of a factory uses. The schema, its migrations and
// every statement are the same for both; what differs is kept here and nowhere else:
//   - how a connection opens (a file beside the settings file, or a libpq connection URI);
//   - the SQL words that differ, written as {placeholders} in the statements;
//   - how the write lock is taken (SQLite's BEGIN IMMEDIATE, or one advisory lock on the
//     server that every writer takes first);
//   - how a reservation's owner is known to be alive (the process on this machine, or the
//     owner's session on the server, which holds an advisory lock of its own while it lasts).
//
// Thread rules: the thread that opened it only (Qt ties a database connection to its thread).
#pragma once

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>

#include "ledger/ledgererror.h"
#include "ledger/statementwatchdog.h"

// The libpq connection parameters of a connection URI, postgresql://[user@][host][:port]
// [,host[:port]...][/database][?name=value&...], as Qt's PostgreSQL driver takes them
// ("name='value'" separated by ";"). False with `error` for another text, and for a URI that holds
// a password: a password comes from PGPASSWORD or ~/.pgpass, never from the settings file.
bool ConnectOptionsOfUri(const QString& uri, QString* options, QString* error);
// The URI as the program shows it: a password in it ("user:secret@", "?password=secret", in any
// spelling of the name) replaced by "***".
QString MaskedUri(const QString& uri);

class TLedgerDb {
  public:
    // The SQLite file `path`, created when absent. Throws ELedgerError.
    static std::unique_ptr<TLedgerDb> OpenLocal(const QString& path);
    // The PostgreSQL database `uri` names, connected by its first statement (and again after
    // the server dropped it); a server that cannot be reached is tried again 10 s later at the
    // soonest. Throws ELedgerError for a URI it cannot use; its statements throw it naming the
    // server and the reason.
    static std::unique_ptr<TLedgerDb> OpenShared(const QString& uri);
    ~TLedgerDb();
    TLedgerDb(const TLedgerDb&) = delete;
    TLedgerDb& operator=(const TLedgerDb&) = delete;

    // The file's path or the server's URI (its password masked), as messages name the ledger.
    const QString& Where() const { return where_; }
    bool Shared() const { return shared_; }
    // True when the database holds a ledger (of any version). Throws ELedgerError when it cannot
    // be asked.
    bool HasLedger();

    // Runs one statement with `values` bound in order ("{id}" and "{bigint}" stand for the
    // column types that differ). Outside a transaction, a shared connection that the server
    // dropped is opened again and the statement tried once more. Throws ELedgerError.
    QSqlQuery Exec(const char* sql, const QVariantList& values = {});
    // A statement as Exec runs it, for a read-only view that keeps the query (the record
    // window); prepared and bound, not yet run.
    QSqlQuery Prepare(const char* sql, const QVariantList& values);
    // Runs `call` (a prepared query's exec or next) within the server's time bound; throws
    // ELedgerError when the server did not answer in time. A local file's call just runs.
    bool Watched(const std::function<bool()>& call);
    // A long read of a local file (an export's rows): runs `sql` (values bound in order) through
    // SQLite's own interface on this connection and hands `row` each row's columns as the UTF-8
    // SQLite keeps, which spares Qt's driver's conversion of every value to UTF-16; a NULL reads
    // as empty, any other value that is not text as a null view. False, running nothing, on a
    // shared ledger or when SQLite's calls cannot be found. Throws ELedgerError, also when the
    // rows stop before the last (a damaged page, a disk error).
    bool ReadText(const char* sql, const QVariantList& values,
                  const std::function<void(const QByteArrayView* columns)>& row);

    // Another connection's commits: a local file's data version, which changes whenever another
    // connection commits. A shared ledger tells of them instead through `changed`, which the
    // connection runs (from the event loop) for every commit of any station once it is set.
    qint64 DataVersion();
    void OnChange(const std::function<void()>& changed);

    // One statement run many times (an import's rows): prepared once on a local file; on a
    // shared one each run is Exec's.
    class TRepeated {
      public:
        TRepeated(TLedgerDb& db, const char* sql);
        void Run(const QVariantList& values);

      private:
        TLedgerDb& db_;
        const char* sql_;
        QSqlQuery q_;
    };

    // Brings the schema up to date in one write transaction; `created` runs inside it when the
    // database held no ledger before. Throws ELedgerError, also for a schema newer than this
    // program's.
    void Migrate(const std::function<void()>& created);

    // What a reservation made through this connection names as its owner.
    const QString& Token() const { return token_; }
    // True when the owner `token` names is provably still at work: this connection's own
    // token, a process of this machine that is still running, or a session on the server that
    // still holds its lock.
    bool OwnerAlive(const QString& token);

    // Runs `fn` in one TLedgerTransaction, committed when `fn` returns.
    void InTransaction(const std::function<void()>& fn);
    // Throws ELedgerError "<the ledger> <where> <what>: <cause>".
    [[noreturn]] void Fail(const QString& what, const QString& cause) const;

  private:
    friend class TLedgerTransaction;

    TLedgerDb(bool shared, const QString& where);
    // Opens the connection (again); throws ELedgerError.
    void Open();
    void Close();
    // A new shared session: its settings and its own lock, which names it as an owner.
    void StartSession();
    QString Sql(const char* sql) const;
    bool Run(QSqlQuery& q, const QString& text, const QVariantList& values);
    // The version the ledger's schema has now; -1 when its table holds none. Throws ELedgerError
    // when there is no table to read it from.
    int SchemaVersion();

    // Arms the watchdog for a call on a shared connection; false (nothing armed) for a local one.
    bool ArmWatchdog();
    // After the call: throws ELedgerError, the connection closed, when the watchdog cut it off.
    void DisarmWatchdog();
    void Subscribe();

    bool shared_;
    QString where_;
    QString options_;  // the shared connection's libpq parameters
    QString connection_;
    QString token_;
    bool inTransaction_ = false;
    bool opening_ = false;
    QString failure_;  // why the last connect failed, until one succeeds
    QElapsedTimer failedAt_;
    std::unique_ptr<TStatementWatchdog> watchdog_;  // shared connections only
    std::function<void()> changed_;
};

// One write transaction: holds the ledger's write lock (waiting for another writer up to a
// time-out) from its start, so that what is read inside it stays true until the commit. Rolled
// back unless committed.
class TLedgerTransaction {
  public:
    explicit TLedgerTransaction(TLedgerDb& db);
    ~TLedgerTransaction();
    TLedgerTransaction(const TLedgerTransaction&) = delete;
    TLedgerTransaction& operator=(const TLedgerTransaction&) = delete;
    void Commit();

  private:
    TLedgerDb& db_;
    bool done_ = false;
};
