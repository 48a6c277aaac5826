#include "ledger/ledgerdb.h"

#include <dlfcn.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSysInfo>
#include <QThread>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

namespace {

constexpr int kSchemaVersion = 6;
// A shared ledger whose server could not be reached is tried again after this long.
constexpr qint64 kRetryAfterMs = 10000;
// A writer waits this long for another's transaction before it gives up.
constexpr int kLockTimeoutMs = 10000;
// A server that answers nothing at all (its processes stopped, its machine hung) is given up
// after this long: the watchdog cuts the connection. The server's own bounds on a statement and
// on a lock wait come first, so that a server at work answers with its own reason.
constexpr int kServerSilenceMs = 10000;
constexpr int kServerStatementMs = 8000;
// SQLite's primary result code "busy" (its extended codes keep it in their low byte).
constexpr int kSqliteBusy = 5;
// A shared session left inside a transaction this long (a station that hangs, or whose network
// went away without a word) is ended by the server, so that it cannot hold the write lock for
// the others. The ledger's own transactions never wait for anything outside the database.
constexpr int kIdleInTransactionMs = 60000;
// The shared ledger's write lock: one advisory lock of the database, in the key space of two
// 32-bit numbers, apart from the sessions' own 64-bit keys.
constexpr int kWriteLockKey[2] = {0x6E62, 1};

// Each migration takes the schema from the version before it to its own. "{id}" is the row
// number column, "{bigint}" a 64-bit integer.
struct TMigration {
    int version;
    const char* const* statements;
};
const char* const kVersion1[] = {
    "CREATE TABLE commands (id {id}, time TEXT NOT NULL, utc {bigint} NOT NULL, "
    "station TEXT NOT NULL, command TEXT NOT NULL, link TEXT NOT NULL, mac TEXT NOT NULL, "
    "own_ip TEXT NOT NULL, result TEXT NOT NULL, failed TEXT NOT NULL)",
    "CREATE INDEX commands_mac ON commands (mac)",
    "CREATE INDEX commands_utc ON commands (utc)",
    // Counting NG rows reads this index only, however long the record grows.
    "CREATE INDEX commands_ng ON commands (id) WHERE result = 'NG'",
    "CREATE TABLE addresses (low INTEGER PRIMARY KEY, state TEXT NOT NULL, time TEXT NOT NULL, "
    "command TEXT NOT NULL, station TEXT NOT NULL, owner TEXT NOT NULL)",
    "CREATE INDEX addresses_state ON addresses (state)",
    nullptr,
};
// The MAC address block, and rows kept on a station while the shared ledger was away: pending
// until copied, each with an origin that makes a second copy of it a no-op.
const char* const kVersion2[] = {
    "CREATE TABLE ledger_block (first_low INTEGER NOT NULL, last_low INTEGER NOT NULL, "
    "next_low INTEGER NOT NULL)",
    "ALTER TABLE commands ADD COLUMN pending INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE commands ADD COLUMN origin TEXT",
    "CREATE UNIQUE INDEX commands_origin ON commands (origin)",
    "CREATE INDEX commands_pending ON commands (id) WHERE pending = 1",
    // The per-station counts read this index only.
    "CREATE INDEX commands_station ON commands (station, result)",
    nullptr,
};
// The stations whose old CSV record the ledger holds. A shared ledger reads each station's
// record in at the station's first connection; one made before this table counts the station
// that made it (its record came first, at the creation) as read in.
const char* const kVersion3[] = {
    "CREATE TABLE imports (station TEXT PRIMARY KEY, time TEXT NOT NULL)",
    "INSERT INTO imports (station, time) SELECT station, time FROM commands "
    "WHERE id = (SELECT MIN(id) FROM commands)",
    nullptr,
};
// The ledger's identity (which settings files name, so that a lost ledger is never silently
// replaced), what a reservation was made for (so that one a crash left behind becomes a row),
// the stations by identity (old records read in, local ledgers carried in at the join), and the
// outcomes of commands that a shared ledger did not take while it was away.
const char* const kVersion4[] = {
    "CREATE TABLE ledger_identity (id TEXT NOT NULL, created TEXT NOT NULL, "
    "high_water INTEGER NOT NULL)",
    "ALTER TABLE addresses ADD COLUMN link TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE addresses ADD COLUMN own_ip TEXT NOT NULL DEFAULT ''",
    "CREATE TABLE station_imports (station_id TEXT PRIMARY KEY, station TEXT NOT NULL, "
    "time TEXT NOT NULL)",
    "CREATE TABLE joins (station_id TEXT PRIMARY KEY, station TEXT NOT NULL, time TEXT NOT NULL)",
    "CREATE TABLE spooled_outcomes (origin TEXT PRIMARY KEY, low INTEGER NOT NULL, "
    "owner TEXT NOT NULL, state TEXT NOT NULL)",
    nullptr,
};
// The values each command sent (none in older rows), so that a board can be checked against
// what was written to it; the checks are found by their board's address.
const char* const kVersion5[] = {
    "ALTER TABLE commands ADD COLUMN sent_l_ip TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_l_pt TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_f_ip TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_f_pt TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_mask TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_conn TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_bps TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_timv TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_keep TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_timr TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE commands ADD COLUMN sent_madr TEXT NOT NULL DEFAULT ''",
    "CREATE INDEX commands_checks ON commands (mac, id) WHERE command = 'check'",
    nullptr,
};
// Site plans: each board its own settings, one row each, taken by the writes while the plan is
// open (closed: its close time); a row's state follows the address's (free, reserved, given,
// released, burned), and each command row names the plan row it took.
const char* const kVersion6[] = {
    "CREATE TABLE plans (id {id}, name TEXT NOT NULL, created TEXT NOT NULL, "
    "closed TEXT NOT NULL DEFAULT '', keys TEXT NOT NULL)",
    "CREATE TABLE plan_rows (plan {bigint} NOT NULL, number INTEGER NOT NULL, "
    "serial TEXT NOT NULL, note TEXT NOT NULL, own_ip TEXT NOT NULL, vals TEXT NOT NULL, "
    "state TEXT NOT NULL, time TEXT NOT NULL, owner TEXT NOT NULL, station TEXT NOT NULL, "
    "command TEXT NOT NULL, mac TEXT NOT NULL, PRIMARY KEY (plan, number))",
    // The next row to take is the first entry of this index, however large the plan.
    "CREATE INDEX plan_rows_open ON plan_rows (plan, number) "
    "WHERE state IN ('free', 'released')",
    "CREATE INDEX plan_rows_serial ON plan_rows (plan, serial)",
    "CREATE INDEX plan_rows_reserved ON plan_rows (plan) WHERE state = 'reserved'",
    "ALTER TABLE commands ADD COLUMN plan_row TEXT NOT NULL DEFAULT ''",
    nullptr,
};
const TMigration kMigrations[] = {{1, kVersion1}, {2, kVersion2}, {3, kVersion3},
                                  {4, kVersion4}, {5, kVersion5}, {6, kVersion6}};
// Every commit on a shared ledger tells the other stations' windows through this channel.
const QString kChangeChannel = QStringLiteral("netboard_ledger");

// A value as a statement takes it: a null text would be stored as NULL; the ledger's text
// columns hold "" instead.
QVariant Bindable(const QVariant& v) {
    const bool nullText = v.typeId() == QMetaType::QString && v.toString().isNull();
    return nullText ? QVariant(QLatin1String("")) : v;
}

QString BootId() {
    QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
}

// Field 22 of /proc/<pid>/stat: the process's start time in clock ticks since boot. Together
// with the pid it names one process, however often pids are reused.
QString StartTime(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    // The command name (field 2) may hold blanks and parentheses; the fields after it may not.
    const int close = static_cast<int>(stat.lastIndexOf(')'));
    if (close < 0)
        return {};
    const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
    return rest.size() > 19 ? QString::fromLatin1(rest[19]) : QString();
}

// This process, as a reservation in a local ledger names it: host, boot, pid and start time.
QString ProcessToken() {
    const qint64 pid = ::getpid();
    return QStringLiteral("%1/%2/%3/%4")
        .arg(QSysInfo::machineHostName(), BootId())
        .arg(pid)
        .arg(StartTime(pid));
}

bool ProcessAlive(const QString& token) {
    const QStringList parts = token.split(QLatin1Char('/'));
    if (parts.size() != 4 || parts[0] != QSysInfo::machineHostName() || parts[1] != BootId() ||
        parts[3].isEmpty())
        return false;
    bool ok = false;
    const qint64 pid = parts[2].toLongLong(&ok);
    return ok && pid > 0 && StartTime(pid) == parts[3];
}

const char kSessionPrefix[] = "session:";

QString Decoded(const QString& part) {
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// The connection parameters in the order they were named. Later ones replace earlier ones, as
// in libpq: "?host=" wins over the host part.
using TParams = QList<std::pair<QString, QString>>;

void SetParam(TParams* params, const QString& name, const QString& value) {
    const auto named = [&name](const auto& p) { return p.first == name; };
    if (const auto it = std::find_if(params->begin(), params->end(), named); it != params->end())
        it->second = value;
    else
        params->append({name, value});
}

// A URI that cannot be used: its reason in `error`.
bool Refuse(QString* error, const QString& text) {
    *error = text;
    return false;
}

const QString kNoPassword =
    QStringLiteral("接続先にパスワードは書けません（PGPASSWORD か ~/.pgpass で渡します）");

// "user@" before the hosts; takes it off `authority`. A password ("user:secret@") is refused.
bool ReadUser(QString* authority, TParams* params, QString* error) {
    const int at = static_cast<int>(authority->lastIndexOf(QLatin1Char('@')));
    if (at < 0)
        return true;
    const QString user = authority->left(at);
    if (user.contains(QLatin1Char(':')))
        return Refuse(error, kNoPassword);
    if (!user.isEmpty())
        SetParam(params, QStringLiteral("user"), Decoded(user));
    *authority = authority->mid(at + 1);
    return true;
}

// "host:port,host:port": host= and port= as lists with one entry for each host, each set only
// when some entry names one.
bool ReadHosts(const QString& authority, TParams* params, QString* error) {
    QStringList hosts;
    QStringList ports;
    for (const QString& entry : authority.split(QLatin1Char(','))) {
        QString host = entry;
        QString port;
        // "[::1]:5432": the brackets keep an IPv6 address's colons apart from the port's.
        const int close = host.startsWith(QLatin1Char('['))
                              ? static_cast<int>(host.indexOf(QLatin1Char(']')))
                              : -1;
        const int colon = static_cast<int>(host.indexOf(QLatin1Char(':'), close + 1));
        if (colon >= 0) {
            port = host.mid(colon + 1);
            host.truncate(colon);
        }
        if (close > 0)
            host = host.mid(1, close - 1);
        if (!std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); }))
            return Refuse(error, QStringLiteral("ポート番号 '%1' は数字ではありません").arg(port));
        hosts << Decoded(host);
        ports << port;
    }
    if (!hosts.join(QString()).isEmpty())
        SetParam(params, QStringLiteral("host"), hosts.join(QLatin1Char(',')));
    if (!ports.join(QString()).isEmpty())
        SetParam(params, QStringLiteral("port"), ports.join(QLatin1Char(',')));
    return true;
}

// "?name=value&name=value", percent-decoded.
bool ReadQuery(const QString& query, TParams* params, QString* error) {
    if (query.isEmpty())
        return true;
    for (const QString& pair : query.split(QLatin1Char('&'))) {
        const int eq = static_cast<int>(pair.indexOf(QLatin1Char('=')));
        if (eq <= 0)
            return Refuse(error,
                          QStringLiteral("接続先の '%1' は name=value ではありません").arg(pair));
        SetParam(params, Decoded(pair.left(eq)), Decoded(pair.mid(eq + 1)));
    }
    return true;
}

// The driver's options: name='value' separated by ";", with a connect timeout unless the
// parameters give one, and the program's name as the fallback application name.
bool WriteOptions(const TParams& params, QString* options, QString* error) {
    QStringList out;
    bool timeout = false;
    for (const auto& [name, value] : params) {
        if (name == QLatin1String("password"))
            return Refuse(error, kNoPassword);
        // The driver separates the parameters with ";", so no value may hold one; and it hands
        // them on as a C string, which a NUL would cut short, with every later parameter.
        if (value.contains(QLatin1Char(';')) || name.contains(QLatin1Char(';')) ||
            name.contains(QLatin1Char('=')) || name.contains(QLatin1Char(' ')) ||
            value.contains(QChar(0)) || name.contains(QChar(0)))
            return Refuse(error, QStringLiteral("接続先の %1 に使えない文字があります").arg(name));
        QString quoted = value;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('\''), QLatin1String("\\'"));
        out << QStringLiteral("%1='%2'").arg(name, quoted);
        timeout = timeout || name == QLatin1String("connect_timeout");
    }
    // A server that does not answer at all is given up after 5 s: the command waits that long
    // before it refuses.
    if (!timeout)
        out << QStringLiteral("connect_timeout='5'");
    // A connection whose server went away without a word (its machine lost power) is noticed
    // while it waits idle, within about 15 s, not after the system's two hours.
    const auto named = [&params](const char* key) {
        return std::any_of(params.begin(), params.end(),
                           [key](const auto& p) { return p.first == QLatin1String(key); });
    };
    for (const auto& [key, value] :
         {std::pair{"keepalives_idle", "5"}, std::pair{"keepalives_interval", "3"},
          std::pair{"keepalives_count", "3"}}) {
        if (!named(key))
            out << QStringLiteral("%1='%2'").arg(QLatin1String(key), QLatin1String(value));
    }
    out << QStringLiteral("fallback_application_name='netboard-config'");
    *options = out.join(QLatin1Char(';'));
    return true;
}

}  // namespace

QString MaskedUri(const QString& uri) {
    const int schemeEnd = static_cast<int>(uri.indexOf(QLatin1String("://")));
    if (schemeEnd < 0)
        return uri;
    const int start = schemeEnd + 3;
    const int queryAt = static_cast<int>(uri.indexOf(QLatin1Char('?'), start));
    const int end = queryAt < 0 ? static_cast<int>(uri.size()) : queryAt;
    const int slash = static_cast<int>(uri.indexOf(QLatin1Char('/'), start));
    const int authorityEnd = slash >= 0 && slash < end ? slash : end;
    QString out = uri.left(start);
    QString authority = uri.mid(start, authorityEnd - start);
    // "user:secret@host": everything between the first ":" and the last "@" of the user part.
    const int at = static_cast<int>(authority.lastIndexOf(QLatin1Char('@')));
    const int colon = at > 0 ? static_cast<int>(authority.left(at).indexOf(QLatin1Char(':'))) : -1;
    if (colon >= 0)
        authority = authority.left(colon + 1) + QLatin1String("***") + authority.mid(at);
    out += authority + uri.mid(authorityEnd, end - authorityEnd);
    if (queryAt < 0)
        return out;
    QStringList pairs = uri.mid(queryAt + 1).split(QLatin1Char('&'));
    for (QString& pair : pairs) {
        const int eq = static_cast<int>(pair.indexOf(QLatin1Char('=')));
        if (eq > 0 && Decoded(pair.left(eq)).trimmed().toLower() == QLatin1String("password"))
            pair = pair.left(eq + 1) + QLatin1String("***");
    }
    return out + QLatin1Char('?') + pairs.join(QLatin1Char('&'));
}

bool ConnectOptionsOfUri(const QString& uri, QString* options, QString* error) {
    QString rest;
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (uri.startsWith(QLatin1String(scheme)))
            rest = uri.mid(static_cast<int>(qstrlen(scheme)));
    }
    if (rest.isNull())
        return Refuse(error, QStringLiteral("postgresql:// で始まる接続先ではありません"));
    const QString query = rest.section(QLatin1Char('?'), 1);
    rest = rest.section(QLatin1Char('?'), 0, 0);
    QString authority = rest.section(QLatin1Char('/'), 0, 0);
    const QString database = Decoded(rest.section(QLatin1Char('/'), 1));
    TParams params;
    if (!ReadUser(&authority, &params, error) || !ReadHosts(authority, &params, error))
        return false;
    if (!database.isEmpty())
        SetParam(&params, QStringLiteral("dbname"), database);
    return ReadQuery(query, &params, error) && WriteOptions(params, options, error);
}

TLedgerDb::TLedgerDb(bool shared, const QString& where) : shared_(shared), where_(where) {
    static std::atomic<int> serial{0};
    connection_ = QStringLiteral("ledger-%1").arg(++serial);
}

std::unique_ptr<TLedgerDb> TLedgerDb::OpenLocal(const QString& path) {
    std::unique_ptr<TLedgerDb> db(new TLedgerDb(false, path));
    db->token_ = ProcessToken();
    db->Open();
    return db;
}

std::unique_ptr<TLedgerDb> TLedgerDb::OpenShared(const QString& uri) {
    std::unique_ptr<TLedgerDb> db(new TLedgerDb(true, MaskedUri(uri)));
    db->watchdog_ = std::make_unique<TStatementWatchdog>();
    QString error;
    if (!ConnectOptionsOfUri(uri, &db->options_, &error))
        db->Fail(QStringLiteral("を使えません"), error);
    return db;  // connected by its first statement
}

TLedgerDb::~TLedgerDb() {
    Close();
    QSqlDatabase::removeDatabase(connection_);
}

void TLedgerDb::Close() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (db.isOpen())
        db.close();
}

void TLedgerDb::Fail(const QString& what, const QString& cause) const {
    throw ELedgerError(
        QStringLiteral("%1 %2 %3: %4")
            .arg(shared_ ? QStringLiteral("共有の製造記録") : QStringLiteral("製造記録"), where_,
                 what, cause.simplified()));
}

void TLedgerDb::Open() {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QLatin1String(shared_ ? "QPSQL" : "QSQLITE"), connection_);
        if (!db.isValid())
            Fail(QStringLiteral("を開けません"),
                 QStringLiteral("Qt の %1 ドライバーがありません")
                     .arg(QLatin1String(shared_ ? "PostgreSQL" : "SQLite")));
        if (!shared_)
            db.setDatabaseName(where_);
        db.setConnectOptions(
            shared_ ? options_ : QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kLockTimeoutMs));
    }
    Close();
    // A server that could not be reached is tried again after a pause, not by every look at
    // the ledger (the status bar's after each command): a connect may wait out its time-out.
    if (shared_ && !failure_.isEmpty() && !failedAt_.hasExpired(kRetryAfterMs))
        throw ELedgerError(failure_);
    if (!db.open()) {
        const QSqlError e = db.lastError();
        try {
            Fail(shared_ ? QStringLiteral("に接続できません") : QStringLiteral("を開けません"),
                 e.databaseText().isEmpty() ? e.text() : e.databaseText());
        } catch (const ELedgerError& failure) {
            failure_ = failure.Message();
            failedAt_.start();
            throw;
        }
    }
    failure_.clear();
    // A statement that fails here fails the open; it is not retried through another open.
    opening_ = true;
    try {
        if (shared_) {
            StartSession();
            Subscribe();
        } else {
            // WAL lets readers (the record window) go on while a command writes; FULL makes
            // every commit reach the disk before the command goes on.
            for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"})
                Exec(pragma);
        }
    } catch (...) {
        opening_ = false;
        Close();
        throw;
    }
    opening_ = false;
}

void TLedgerDb::StartSession() {
    // The server's notes ("already exists, skipping") are no messages of this program.
    Exec("SELECT set_config('client_min_messages', 'warning', false)");
    Exec("SELECT set_config('lock_timeout', ?, false)", {QString::number(kServerStatementMs)});
    Exec("SELECT set_config('statement_timeout', ?, false)", {QString::number(kServerStatementMs)});
    Exec("SELECT set_config('idle_in_transaction_session_timeout', ?, false)",
         {QString::number(kIdleInTransactionMs)});
    // The session's own lock, held while it lasts: whoever finds it free knows that this
    // session's reservations were left behind. Its key is a random 63-bit number, fresh for
    // every session, so that no later session takes up a dead one's key.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const qint64 key = static_cast<qint64>(QRandomGenerator::system()->generate64() >> 1);
        QSqlQuery q = Exec("SELECT pg_try_advisory_lock(?)", {key});
        if (q.next() && q.value(0).toBool()) {
            token_ = QLatin1String(kSessionPrefix) + QString::number(key);
            return;
        }
    }
    Fail(QStringLiteral("に接続できません"), QStringLiteral("セッションの鍵を取れません"));
}

QString TLedgerDb::Sql(const char* sql) const {
    QString text = QLatin1String(sql);
    if (text.contains(QLatin1Char('{'))) {
        text.replace(QLatin1String("{id}"),
                     QLatin1String(shared_ ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                                           : "INTEGER PRIMARY KEY"));
        text.replace(QLatin1String("{bigint}"), QLatin1String(shared_ ? "BIGINT" : "INTEGER"));
        // The server's driver reads a whole result at once, so a shared view is bounded; the
        // local one reads a screenful at a time.
        text.replace(QLatin1String("{view}"), QLatin1String(shared_ ? " LIMIT 50000" : ""));
    }
    return text;
}

bool TLedgerDb::Run(QSqlQuery& q, const QString& text, const QVariantList& values) {
    QVariantList bound;
    for (const QVariant& v : values)
        bound << Bindable(v);
    if (shared_ && !bound.isEmpty()) {
        // The server's driver makes a prepared statement three round trips (prepare, execute,
        // deallocate); the values go into the text instead, each quoted by the driver, for one.
        // Every "?" must be a value's place: a statement with one of its own is refused.
        if (text.count(QLatin1Char('?')) != bound.size())
            Fail(QStringLiteral("に書き込めません"),
                 QStringLiteral("文の値の数が合いません: %1").arg(text.left(60)));
        const QSqlDriver* driver = QSqlDatabase::database(connection_, false).driver();
        QString inlined;
        int next = 0;
        for (const QChar c : text) {
            if (c != QLatin1Char('?')) {
                inlined += c;
                continue;
            }
            const QVariant& v = bound[next++];
            QSqlField field(QString(), v.metaType());
            field.setValue(v);
            inlined += driver->formatValue(field);
        }
        return Watched([&] { return q.exec(inlined); });
    }
    if (bound.isEmpty())  // a statement without values (BEGIN) cannot be prepared everywhere
        return Watched([&] { return q.exec(text); });
    if (!q.prepare(text))
        return false;
    for (const QVariant& v : bound)
        q.addBindValue(v);
    return Watched([&] { return q.exec(); });
}

namespace {

// A function of a library that Qt's database driver loaded with itself, which a connection of
// that driver is proof of; null when it is not there. The programs link neither libpq nor
// libsqlite3: every start (the window's before its first paint, each netboard-cli run) would
// load them, and the dozen libraries under libpq, for these few calls.
template <typename F>
F LoadedFunction(const char* library, const char* name) {
    void* lib = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
}

int PqSocket(PGconn* conn) {
    using TPqSocket = int (*)(const PGconn*);
    static const TPqSocket call = LoadedFunction<TPqSocket>("libpq.so.5", "PQsocket");
    return call ? call(conn) : -1;
}

// The SQLite calls of ReadText.
struct TSqliteCalls {
#define NB_SQLITE_CALL(name) \
    decltype(&sqlite3_##name) name = Find<decltype(&sqlite3_##name)>("sqlite3_" #name)
    template <typename F>
    static F Find(const char* name) {
        return LoadedFunction<F>("libsqlite3.so.0", name);
    }
    NB_SQLITE_CALL(prepare_v2);
    NB_SQLITE_CALL(errmsg);
    NB_SQLITE_CALL(finalize);
    NB_SQLITE_CALL(bind_text16);
    NB_SQLITE_CALL(bind_int64);
    NB_SQLITE_CALL(column_count);
    NB_SQLITE_CALL(step);
    NB_SQLITE_CALL(column_type);
    NB_SQLITE_CALL(column_text);
    NB_SQLITE_CALL(column_bytes);
#undef NB_SQLITE_CALL
    bool Complete() const {
        return prepare_v2 && errmsg && finalize && bind_text16 && bind_int64 && column_count &&
               step && column_type && column_text && column_bytes;
    }
};

// Null when the library's calls are not all there (the caller then reads through Qt).
const TSqliteCalls* SqliteCalls() {
    static const TSqliteCalls calls;
    return calls.Complete() ? &calls : nullptr;
}

}  // namespace

bool TLedgerDb::ArmWatchdog() {
    if (!watchdog_)
        return false;
    const QVariant handle = QSqlDatabase::database(connection_, false).driver()->handle();
    // The driver names the type by its typedef or by its struct.
    const bool pgconn = handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                             qstrcmp(handle.typeName(), "pg_conn*") == 0);
    auto* conn = pgconn ? *static_cast<PGconn* const*>(handle.constData()) : nullptr;
    const int fd = conn ? PqSocket(conn) : -1;
    if (fd < 0)
        return false;
    watchdog_->Arm(fd, kServerSilenceMs);
    return true;
}

void TLedgerDb::DisarmWatchdog() {
    if (!watchdog_->Disarm())
        return;
    // The session is gone with its socket; until the server answers again, every use fails at
    // once rather than waiting once more.
    Close();
    failure_ = QStringLiteral("共有の製造記録 %1 が %2 秒応答しません")
                   .arg(where_)
                   .arg(kServerSilenceMs / 1000);
    failedAt_.start();
    throw ELedgerError(failure_);
}

bool TLedgerDb::Watched(const std::function<bool()>& call) {
    if (!ArmWatchdog())
        return call();
    bool ok = false;
    try {
        ok = call();
    } catch (...) {
        DisarmWatchdog();
        throw;
    }
    DisarmWatchdog();
    return ok;
}

bool TLedgerDb::ReadText(const char* sql, const QVariantList& values,
                         const std::function<void(const QByteArrayView* columns)>& row) {
    if (shared_)
        return false;
    const QVariant handle = QSqlDatabase::database(connection_, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    const TSqliteCalls* const sq = SqliteCalls();
    if (!sq)
        return false;
    sqlite3* const conn = *static_cast<sqlite3* const*>(handle.constData());
    sqlite3_stmt* prepared = nullptr;
    if (sq->prepare_v2(conn, Sql(sql).toUtf8().constData(), -1, &prepared, nullptr) != SQLITE_OK)
        Fail(QStringLiteral("を読めません"), QString::fromUtf8(sq->errmsg(conn)));
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(prepared, sq->finalize);
    // Bound as Qt's driver binds a number and a text.
    for (int i = 0; i < values.size(); ++i) {
        const QVariant v = Bindable(values[i]);
        if (v.typeId() == QMetaType::QString) {
            const QString text = v.toString();
            sq->bind_text16(prepared, i + 1, text.utf16(), int(text.size() * sizeof(QChar)),
                            SQLITE_TRANSIENT);
        } else {
            sq->bind_int64(prepared, i + 1, v.toLongLong());
        }
    }
    const int count = sq->column_count(prepared);
    std::vector<QByteArrayView> columns(count);
    int step = SQLITE_ROW;
    while ((step = sq->step(prepared)) == SQLITE_ROW) {
        for (int i = 0; i < count; ++i) {
            const int type = sq->column_type(prepared, i);
            columns[i] = type == SQLITE_TEXT   ? QByteArrayView(sq->column_text(prepared, i),
                                                                sq->column_bytes(prepared, i))
                         : type == SQLITE_NULL ? QByteArrayView("", 0)
                                               : QByteArrayView();
        }
        row(columns.data());
    }
    // A read that stops before the last row (a damaged page, a disk error) is no end of rows.
    if (step != SQLITE_DONE)
        Fail(QStringLiteral("を最後まで読めません"), QString::fromUtf8(sq->errmsg(conn)));
    return true;
}

QSqlQuery TLedgerDb::Exec(const char* sql, const QVariantList& values) {
    const QString text = Sql(sql);
    auto database = [this] { return QSqlDatabase::database(connection_, false); };
    // A session the server dropped (a restart, an administrator) is opened again between
    // transactions, never inside one, whose earlier statements went with the session.
    const bool reopen = shared_ && !inTransaction_ && !opening_;
    if (reopen && !database().isOpen())
        Open();
    QSqlQuery q(database());
    if (Run(q, text, values))
        return q;
    // Outside a transaction a local file answers "busy" at once, without SQLite's busy wait,
    // while the last connection of another process tidies its log files up as it closes (or a
    // start recovers them after a crash); both take milliseconds. The statement is tried again,
    // for a bounded time. Inside a transaction the write lock is held already.
    constexpr int kBusyRetryMs = 10;
    for (int waited = 0; !shared_ && !inTransaction_ && waited < kLockTimeoutMs &&
                         q.lastError().nativeErrorCode().toInt() % 256 == kSqliteBusy;
         waited += kBusyRetryMs) {
        QThread::msleep(kBusyRetryMs);
        q = QSqlQuery(database());
        if (Run(q, text, values))
            return q;
    }
    if (reopen && !database().isOpen()) {
        Open();
        q = QSqlQuery(database());
        if (Run(q, text, values))
            return q;
    }
    const QSqlError e = q.lastError();
    Fail(database().isOpen() ? QStringLiteral("に書き込めません")
                             : QStringLiteral("に接続できません"),
         e.databaseText().isEmpty() ? e.text() : e.databaseText());
}

QSqlQuery TLedgerDb::Prepare(const char* sql, const QVariantList& values) {
    auto database = [this] { return QSqlDatabase::database(connection_, false); };
    if (shared_ && !database().isOpen())
        Open();
    QSqlQuery q(database());
    const QString text = Sql(sql);
    // As in Exec: a session the server dropped is opened again once.
    bool prepared = Watched([&] { return q.prepare(text); });
    if (!prepared && shared_ && !database().isOpen()) {
        Open();
        q = QSqlQuery(database());
        prepared = Watched([&] { return q.prepare(text); });
    }
    if (!prepared)
        Fail(QStringLiteral("を読めません"), q.lastError().text());
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q;
}

bool TLedgerDb::OwnerAlive(const QString& token) {
    if (token == token_)
        return true;
    if (!shared_)
        return ProcessAlive(token);
    if (!token.startsWith(QLatin1String(kSessionPrefix)))
        return false;
    bool ok = false;
    const qint64 key = token.mid(static_cast<int>(qstrlen(kSessionPrefix))).toLongLong(&ok);
    if (!ok)
        return false;
    // Free only when the owner's session has ended; taken only until this transaction (or
    // statement) ends, so the check holds up nobody.
    QSqlQuery q = Exec("SELECT pg_try_advisory_xact_lock(?)", {key});
    return !(q.next() && q.value(0).toBool());
}

bool TLedgerDb::HasLedger() {
    if (shared_ && !QSqlDatabase::database(connection_, false).isOpen())
        Open();
    const QStringList tables = QSqlDatabase::database(connection_, false).tables();
    return tables.contains(QLatin1String("ledger_schema"), Qt::CaseInsensitive);
}

qint64 TLedgerDb::DataVersion() {
    if (shared_)
        return 0;
    QSqlQuery q = Exec("PRAGMA data_version");
    return q.next() ? q.value(0).toLongLong() : 0;
}

void TLedgerDb::OnChange(const std::function<void()>& changed) {
    changed_ = changed;
    if (shared_ && QSqlDatabase::database(connection_, false).isOpen())
        Subscribe();
}

void TLedgerDb::Subscribe() {
    QSqlDriver* driver = QSqlDatabase::database(connection_, false).driver();
    if (!changed_ || !driver || driver->subscribedToNotifications().contains(kChangeChannel))
        return;
    driver->subscribeToNotification(kChangeChannel);
    const std::function<void()> changed = changed_;
    QObject::connect(driver, &QSqlDriver::notification, driver, [changed](const QString& name) {
        if (name == kChangeChannel)
            changed();
    });
}

int TLedgerDb::SchemaVersion() {
    QSqlQuery q = Exec("SELECT version FROM ledger_schema");
    return q.next() ? q.value(0).toInt() : -1;
}

void TLedgerDb::Migrate(const std::function<void()>& created) {
    // Most starts find the schema current: they read its version and take no write lock.
    try {
        if (SchemaVersion() == kSchemaVersion)
            return;
    } catch (const ELedgerError&) {
        // No schema yet; the transaction below says what else is wrong.
    }
    TLedgerTransaction t(*this);
    Exec("CREATE TABLE IF NOT EXISTS ledger_schema (version INTEGER NOT NULL)");
    int version = SchemaVersion();
    if (version < 0) {
        Exec("INSERT INTO ledger_schema (version) VALUES (0)");
        version = 0;
    }
    if (version > kSchemaVersion)
        Fail(QStringLiteral("を使えません"),
             QStringLiteral("このプログラムより新しい版の形式です (%1)").arg(version));
    for (const TMigration& m : kMigrations) {
        if (m.version <= version)
            continue;
        for (const char* const* s = m.statements; *s; ++s)
            Exec(*s);
        Exec("UPDATE ledger_schema SET version = ?", {m.version});
    }
    // Whatever comes with a new ledger is added by the transaction that creates it, so that it
    // is added exactly once, whichever process comes first.
    if (version == 0 && created)
        created();
    t.Commit();
}

TLedgerDb::TRepeated::TRepeated(TLedgerDb& db, const char* sql)
    : db_(db), sql_(sql), q_(QSqlDatabase::database(db.connection_, false)) {
    if (!db_.shared_ && !q_.prepare(db_.Sql(sql)))
        db_.Fail(QStringLiteral("を読めません"), q_.lastError().text());
}

void TLedgerDb::TRepeated::Run(const QVariantList& values) {
    if (db_.shared_) {
        db_.Exec(sql_, values);
        return;
    }
    for (int i = 0; i < values.size(); ++i)
        q_.bindValue(i, Bindable(values[i]));
    if (!q_.exec())
        db_.Fail(QStringLiteral("に書き込めません"), q_.lastError().text());
}

TLedgerTransaction::TLedgerTransaction(TLedgerDb& db) : db_(db) {
    db_.Exec(db_.shared_ ? "BEGIN" : "BEGIN IMMEDIATE");
    db_.inTransaction_ = true;
    if (!db_.shared_)
        return;
    try {
        db_.Exec("SELECT pg_advisory_xact_lock(?, ?)", {kWriteLockKey[0], kWriteLockKey[1]});
    } catch (...) {
        QSqlQuery(QSqlDatabase::database(db_.connection_, false)).exec(QStringLiteral("ROLLBACK"));
        db_.inTransaction_ = false;
        throw;
    }
}

TLedgerTransaction::~TLedgerTransaction() {
    const QSqlDatabase db = QSqlDatabase::database(db_.connection_, false);
    if (!done_ && db.isOpen()) {
        try {
            QSqlQuery q(db);
            db_.Watched([&] { return q.exec(QStringLiteral("ROLLBACK")); });
        } catch (const ELedgerError&) {
            // The server went silent: the connection is closed, which ends the transaction.
        }
    }
    db_.inTransaction_ = false;
}

void TLedgerTransaction::Commit() {
    if (db_.shared_)
        db_.Exec("SELECT pg_notify(?, '')", {kChangeChannel});  // sent when the commit lands
    db_.Exec("COMMIT");
    done_ = true;
    db_.inTransaction_ = false;
}

void TLedgerDb::InTransaction(const std::function<void()>& fn) {
    TLedgerTransaction t(*this);
    fn();
    t.Commit();
}
