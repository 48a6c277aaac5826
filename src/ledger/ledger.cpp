#include "ledger/ledger.h"

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>
#include <QVariant>
#include <atomic>
#include <limits>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "core/settings.h"

namespace {

constexpr int kSchemaVersion = 1;
// A writer waits this long for another process's transaction before it gives up.
constexpr int kBusyTimeoutMs = 10000;
// SQLite's primary result code "busy" (extended codes keep it in their low byte).
constexpr int kSqliteBusy = 5;

// Each migration takes the schema from the version before it to its own.
struct TMigration {
    int version;
    const char* const* statements;
};
const char* const kVersion1[] = {
    "CREATE TABLE commands (id INTEGER PRIMARY KEY, time TEXT NOT NULL, utc INTEGER NOT NULL, "
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
const TMigration kMigrations[] = {{1, kVersion1}};

const char* const kUpsertAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner) VALUES (?, ?, ?, ?, ?, ?) "
    "ON CONFLICT (low) DO UPDATE SET state = excluded.state, time = excluded.time, "
    "command = excluded.command, station = excluded.station, owner = excluded.owner";

const char* StateName(TAddressState s) {
    switch (s) {
        case TAddressState::Reserved:
            return "reserved";
        case TAddressState::Given:
            return "given";
        case TAddressState::Released:
            return "released";
        case TAddressState::Burned:
            return "burned";
        case TAddressState::Free:
            break;
    }
    return "free";
}

TAddressState StateOf(const QString& name) {
    for (const TAddressState s : {TAddressState::Reserved, TAddressState::Given,
                                  TAddressState::Released, TAddressState::Burned}) {
        if (name == QLatin1String(StateName(s)))
            return s;
    }
    return TAddressState::Burned;  // an unknown state is never handed out without a question
}

[[noreturn]] void Fail(const QString& path, const QString& what, const QString& cause) {
    throw ELedgerError(QStringLiteral("製造記録 %1 %2: %3").arg(path, what, cause));
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

std::optional<int> ReadCounter(const QString& iniPath) {
    const TBoardParams defaults;
    const TIniFile ini(iniPath);
    TBoardParams p;
    const QString section = QLatin1String(kOptionSection);
    p.MacAddr_1 = ini.ReadInteger(section, QStringLiteral("MacAddr_1"), defaults.MacAddr_1);
    p.MacAddr_2 = ini.ReadInteger(section, QStringLiteral("MacAddr_2"), defaults.MacAddr_2);
    p.MacAddr_3 = ini.ReadInteger(section, QStringLiteral("MacAddr_3"), defaults.MacAddr_3);
    return MacLowOf(p);
}

}  // namespace

// One write transaction: BEGIN IMMEDIATE takes the write lock at once (waiting for another
// process's transaction up to the busy time-out), so that what is read inside it stays true
// until the commit. Rolled back unless committed.
class TLedger::TTransaction {
  public:
    explicit TTransaction(TLedger* ledger) : ledger_(ledger) {
        ledger_->Exec("BEGIN IMMEDIATE");
        ledger_->inTransaction_ = true;
    }
    ~TTransaction() {
        ledger_->inTransaction_ = false;
        if (!done_) {
            QSqlQuery q(QSqlDatabase::database(ledger_->connection_, false));
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }
    void Commit() {
        ledger_->Exec("COMMIT");
        done_ = true;
    }

  private:
    TLedger* ledger_;
    bool done_ = false;
};

TLedger::TLedger(const QString& iniPath, const QString& station, const LogFn& log)
    : iniPath_(iniPath), path_(PathBesideIni(iniPath)), station_(station), token_(ProcessToken()) {
    static std::atomic<int> serial{0};
    connection_ = QStringLiteral("ledger-%1").arg(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        if (!db.isValid())
            Fail(path_, QStringLiteral("を開けません"),
                 QStringLiteral("SQLite のドライバーがありません"));
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!db.open())
            Fail(path_, QStringLiteral("を開けません"), db.lastError().text());
    }
    try {
        // WAL lets readers (the record window) go on while a command writes; FULL makes every
        // commit reach the disk before the command goes on.
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=FULL");
        Migrate(log);
        BurnAbandoned();
    } catch (...) {
        Close();
        throw;
    }
}

TLedger::~TLedger() {
    Close();
}

void TLedger::Close() {
    insertRow_.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QString TLedger::PathBesideIni(const QString& iniPath) {
    const QFileInfo fi(iniPath);
    const QString name = fi.fileName();
    const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return fi.dir().filePath(stem + QStringLiteral("-ledger.sqlite"));
}

QString TLedger::StationOf(const QString& iniPath) {
    const QString named =
        TIniFile(iniPath).ReadString(QStringLiteral("Production"), QStringLiteral("Station"), {});
    return named.isEmpty() ? QSysInfo::machineHostName() : named;
}

QString TLedger::ProcessToken() {
    const qint64 pid = ::getpid();
    return QStringLiteral("%1/%2/%3/%4")
        .arg(QSysInfo::machineHostName(), BootId())
        .arg(pid)
        .arg(StartTime(pid));
}

bool TLedger::ProcessAlive(const QString& token) {
    const QStringList parts = token.split(QLatin1Char('/'));
    if (parts.size() != 4 || parts[0] != QSysInfo::machineHostName() || parts[1] != BootId() ||
        parts[3].isEmpty())
        return false;
    bool ok = false;
    const qint64 pid = parts[2].toLongLong(&ok);
    return ok && pid > 0 && StartTime(pid) == parts[3];
}

QSqlQuery TLedger::Prepare(const char* sql) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.prepare(QLatin1String(sql)))
        Fail(path_, QStringLiteral("を読み書きできません"), q.lastError().text());
    return q;
}

void TLedger::Run(QSqlQuery* q, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i) {
        // A null text would be stored as NULL; the ledger's text columns hold "" instead.
        const QVariant& v = values[i];
        const bool nullText = v.typeId() == QMetaType::QString && v.toString().isNull();
        q->bindValue(i, nullText ? QVariant(QLatin1String("")) : v);
    }
    // Outside a transaction SQLite answers "busy" at once, without its busy wait, while the
    // last connection of another process tidies the log files up as it closes (or a start
    // recovers them after a crash); both take milliseconds. A statement that met one of
    // them is tried again, for a bounded time. Inside a transaction the write lock is held.
    constexpr int kBusyRetryMs = 10;
    for (int waited = 0; !q->exec(); waited += kBusyRetryMs) {
        const bool busy = q->lastError().nativeErrorCode().toInt() % 256 == kSqliteBusy;
        if (!busy || inTransaction_ || waited >= kBusyTimeoutMs)
            Fail(path_, QStringLiteral("に書き込めません"), q->lastError().text());
        QThread::msleep(kBusyRetryMs);
    }
}

QSqlQuery TLedger::Exec(const char* sql, const QVariantList& values) {
    QSqlQuery q = Prepare(sql);
    Run(&q, values);
    return q;
}

int TLedger::SchemaVersion() {
    QSqlQuery q = Exec("SELECT version FROM ledger_schema");
    return q.next() ? q.value(0).toInt() : -1;
}

void TLedger::Migrate(const LogFn& log) {
    // Most starts find the schema current: they read its version and take no write lock.
    {
        const QStringList tables = QSqlDatabase::database(connection_, false).tables();
        if (tables.contains(QStringLiteral("ledger_schema")) && SchemaVersion() == kSchemaVersion)
            return;
    }
    TTransaction t(this);
    Exec("CREATE TABLE IF NOT EXISTS ledger_schema (version INTEGER NOT NULL)");
    int version = SchemaVersion();
    if (version < 0) {
        Exec("INSERT INTO ledger_schema (version) VALUES (0)");
        version = 0;
    }
    if (version > kSchemaVersion)
        Fail(path_, QStringLiteral("を使えません"),
             QStringLiteral("このプログラムより新しい版の形式です (%1)").arg(version));
    for (const TMigration& m : kMigrations) {
        if (m.version <= version)
            continue;
        for (const char* const* s = m.statements; *s; ++s)
            Exec(*s);
        Exec("UPDATE ledger_schema SET version = ?", {m.version});
    }
    // The old CSV record is read by the transaction that creates the ledger, so that it is read
    // exactly once, whichever process starts first.
    if (version == 0)
        ImportCsv(log);
    t.Commit();
}

void TLedger::ImportCsv(const LogFn& log) {
    const QString csv = RecordCsvBesideIni(iniPath_);
    QFile f(csv);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly))
        Fail(csv, QStringLiteral("を読めません"), f.errorString());
    qint64 rows = 0;
    qint64 skipped = 0;
    // A later giving of an address replaces an earlier one; a burning never replaces anything.
    QSqlQuery given = Prepare(kUpsertAddress);
    QSqlQuery burned = Prepare(
        "INSERT INTO addresses (low, state, time, command, station, owner) "
        "VALUES (?, 'burned', ?, ?, ?, '') ON CONFLICT (low) DO NOTHING");
    // A line is read up to its line end or this many bytes; a longer one is cut and skipped.
    constexpr qint64 kMaxLine = 4096;
    while (!f.atEnd()) {
        const QByteArray raw = f.readLine(kMaxLine);
        if (raw.size() >= kMaxLine - 1 && !raw.endsWith('\n')) {
            ++skipped;
            while (!f.atEnd() && !f.readLine(kMaxLine).endsWith('\n')) {
            }
            continue;
        }
        const QString text = QString::fromLatin1(raw).trimmed();
        if (text.isEmpty() || text == QLatin1String(kRecordHeader))
            continue;
        TRecordLine line;
        QString timeText;
        if (!ParseRecordLine(text, &line, &timeText)) {
            ++skipped;
            continue;
        }
        line.station = station_;
        InsertRow(line, timeText);
        ++rows;
        const std::optional<int> low = MacLowOfText(line.mac);
        if (!low || !GivesMacAddress(line.command))
            continue;
        // As a command's outcome sets it today: an acknowledged "save" gives the address (a
        // failed verification after it included), an unanswered one burns it.
        if (line.ok || line.failed == QLatin1String("verify"))
            Run(&given,
                {*low, QLatin1String("given"), timeText, line.command, station_, QString()});
        else if (line.failed == QLatin1String("save"))
            Run(&burned, {*low, timeText, line.command, station_});
    }
    if (log)
        log(QStringLiteral("製造記録 %1 を取り込みました（%2 行、読めない行 %3 行）")
                .arg(csv)
                .arg(rows)
                .arg(skipped));
}

void TLedger::BurnAbandoned() {
    QList<std::pair<qint64, QString>> abandoned;
    {
        QSqlQuery q = Exec("SELECT low, owner FROM addresses WHERE state = 'reserved'");
        while (q.next()) {
            const QString owner = q.value(1).toString();
            if (!ProcessAlive(owner))
                abandoned.append({q.value(0).toLongLong(), owner});
        }
    }
    if (abandoned.isEmpty())
        return;
    TTransaction t(this);
    for (const auto& [low, owner] : abandoned)
        Exec(
            "UPDATE addresses SET state = 'burned' WHERE low = ? AND state = 'reserved' "
            "AND owner = ?",
            {low, owner});
    t.Commit();
}

void TLedger::InsertRow(const TRecordLine& row, const QString& timeText) {
    // Prepared once: an import adds millions of rows through it.
    if (!insertRow_)
        insertRow_ = std::make_unique<QSqlQuery>(
            Prepare("INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, "
                    "failed) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    Run(insertRow_.get(),
        {timeText.isEmpty() ? RecordTimeText(row.time) : timeText, row.time.toSecsSinceEpoch(),
         row.station.isEmpty() ? station_ : row.station, row.command, row.link, row.mac, row.ownIp,
         QLatin1String(row.ok ? "OK" : "NG"), row.failed});
}

std::optional<int> TLedger::Counter() const {
    return ReadCounter(iniPath_);
}

void TLedger::WriteCounter(int low) {
    TIniFile ini(iniPath_);
    if (!ini.ReadError().isEmpty())
        throw EFCreateError(
            QStringLiteral("設定ファイル %1 を読めないため、MACアドレスを保存できません: %2")
                .arg(iniPath_, ini.ReadError()));
    TBoardParams p;
    SetMacLow(&p, low);
    const QString section = QLatin1String(kOptionSection);
    ini.WriteInteger(section, QStringLiteral("MacAddr_1"), p.MacAddr_1);
    ini.WriteInteger(section, QStringLiteral("MacAddr_2"), p.MacAddr_2);
    ini.WriteInteger(section, QStringLiteral("MacAddr_3"), p.MacAddr_3);
    ini.UpdateFile();
}

std::optional<int> TLedger::NextAddress() {
    std::optional<int> low = Counter();
    if (!low)
        return std::nullopt;
    QSet<int> busy;
    {
        QSqlQuery q = Exec("SELECT low, owner FROM addresses WHERE state = 'reserved'");
        while (q.next()) {
            if (ProcessAlive(q.value(1).toString()))
                busy.insert(q.value(0).toInt());
        }
    }
    while (busy.contains(*low))
        low = NextMacLow(*low);
    return low;
}

void TLedger::SetCounter(int low) {
    TTransaction t(this);
    WriteCounter(low);
    t.Commit();
}

TAddressInfo TLedger::Lookup(int low) {
    TAddressInfo info;
    QSqlQuery q =
        Exec("SELECT state, time, command, station, owner FROM addresses WHERE low = ?", {low});
    if (!q.next())
        return info;
    info.state = StateOf(q.value(0).toString());
    info.time = q.value(1).toString();
    info.command = q.value(2).toString();
    info.station = q.value(3).toString();
    info.owner = q.value(4).toString();
    // A reservation whose process has ended is burned, whether or not a start has said so yet.
    if (info.state == TAddressState::Reserved && !ProcessAlive(info.owner))
        info.state = TAddressState::Burned;
    return info;
}

bool TLedger::Reserve(int low, const TAddressInfo& seen, const QString& command, bool setCounter) {
    TTransaction t(this);
    const TAddressInfo now = Lookup(low);
    if (!(now == seen) || now.state == TAddressState::Reserved)
        return false;
    Exec(kUpsertAddress, {low, QLatin1String("reserved"),
                          RecordTimeText(QDateTime::currentDateTime()), command, station_, token_});
    // The counter must be writable before the address goes out, or the next command could not
    // be told which address comes next: writing it unchanged proves it.
    const std::optional<int> counter = Counter();
    if (setCounter || counter)
        WriteCounter(setCounter ? low : *counter);
    t.Commit();
    return true;
}

void TLedger::Finish(int low, const TRecordLine& row, TAddressState outcome, int counterBase) {
    TTransaction t(this);
    InsertRow(row);
    const QString time = RecordTimeText(row.time);
    if (outcome == TAddressState::Given) {
        // The board holds the address now, whatever became of the reservation meanwhile.
        Exec(kUpsertAddress, {low, QLatin1String("given"), time, row.command, station_, QString()});
        const int next = NextMacLow(low);
        const std::optional<int> counter = Counter();
        if (!counter || *counter == counterBase || MacLowAhead(next, *counter))
            WriteCounter(next);
    } else {
        // Only this process's own open reservation changes.
        Exec(
            "UPDATE addresses SET state = ?, time = ?, command = ?, owner = '' "
            "WHERE low = ? AND state = 'reserved' AND owner = ?",
            {QLatin1String(StateName(outcome)), time, row.command, low, token_});
    }
    t.Commit();
}

void TLedger::Record(const TRecordLine& row) {
    TTransaction t(this);
    InsertRow(row);
    t.Commit();
}

void TLedger::CheckWritable() {
    TTransaction t(this);
    // A write that changes nothing still needs a writable file.
    Exec("UPDATE ledger_schema SET version = version");
}

void TLedger::WithWriteLock(const std::function<void()>& fn) {
    TTransaction t(this);
    fn();
    t.Commit();
}

TLedgerStats TLedger::Stats() {
    TLedgerStats s;
    auto count = [this](const char* sql) {
        QSqlQuery q = Exec(sql);
        return q.next() ? q.value(0).toLongLong() : 0;
    };
    s.rows = count("SELECT COUNT(*) FROM commands");
    s.ng = count("SELECT COUNT(*) FROM commands WHERE result = 'NG'");
    QSqlQuery q = Exec("SELECT state, owner, COUNT(*) FROM addresses GROUP BY state, owner");
    while (q.next()) {
        TAddressState state = StateOf(q.value(0).toString());
        if (state == TAddressState::Reserved && !ProcessAlive(q.value(1).toString()))
            state = TAddressState::Burned;
        const qint64 n = q.value(2).toLongLong();
        switch (state) {
            case TAddressState::Given:
                s.given += n;
                break;
            case TAddressState::Released:
                s.released += n;
                break;
            case TAddressState::Reserved:
                s.reserved += n;
                break;
            default:
                s.burned += n;
                break;
        }
    }
    return s;
}

void TLedger::Export(const QDateTime& since, const std::function<void(const QByteArray&)>& write) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT time, command, link, mac, own_ip, result, failed "
                       "FROM commands WHERE utc >= ? ORDER BY id"));
    q.addBindValue(since.isValid() ? since.toSecsSinceEpoch() : std::numeric_limits<qint64>::min());
    if (!q.exec())
        Fail(path_, QStringLiteral("を読めません"), q.lastError().text());
    write(QByteArray(kRecordHeader) + "\r\n");
    while (q.next()) {
        const TRecordLine line{QDateTime(),           q.value(1).toString(),
                               q.value(2).toString(), q.value(3).toString(),
                               q.value(4).toString(), q.value(5).toString() == QLatin1String("OK"),
                               q.value(6).toString(), QString()};
        write(FormatRecordLine(line, q.value(0).toString()).toLatin1() + "\r\n");
    }
}
