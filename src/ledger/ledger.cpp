#include "ledger/ledger.h"

#include <QFile>
#include <QMap>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>
#include <vector>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "core/settings.h"

namespace {

// Below this many addresses left in the block, every reservation says how many remain.
constexpr qint64 kFewLeft = 100;
// The rows kept on a station are copied to the shared ledger this many in one transaction.
constexpr int kCopyBatch = 500;

const char* const kUpsertAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner) VALUES (?, ?, ?, ?, ?, ?) "
    "ON CONFLICT (low) DO UPDATE SET state = excluded.state, time = excluded.time, "
    "command = excluded.command, station = excluded.station, owner = excluded.owner";
const char* const kInsertRow =
    "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, failed, "
    "pending, origin) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char* const kNoChange = "UPDATE ledger_schema SET version = version";
const QString kProduction = QStringLiteral("Production");

// The states as the addresses table names them, in the order of TAddressState.
const char* const kStateNames[] = {"free", "reserved", "given", "released", "burned"};

TAddressState StateOf(const QString& name) {
    // "free" is never stored.
    for (int s = static_cast<int>(TAddressState::Reserved); s < int(std::size(kStateNames)); ++s) {
        if (name == QLatin1String(kStateNames[s]))
            return static_cast<TAddressState>(s);
    }
    return TAddressState::Burned;  // an unknown state is never handed out without a question
}

ELedgerError OutsideBlock(int low, const TMacBlock& block) {
    return ELedgerError(
        QStringLiteral("MACアドレス %1 は登録された範囲 %2～%3 の外です。"
                       "範囲の外のアドレスは書き込めません。")
            .arg(MacTextOfLow(low), MacTextOfLow(block.first), MacTextOfLow(block.last)));
}

// The open reservations with their owners, read whole before any owner is looked at (a look
// runs statements of its own).
QList<std::pair<int, QString>> Reservations(TLedgerDb& db) {
    QList<std::pair<int, QString>> reserved;
    QSqlQuery q = db.Exec("SELECT low, owner FROM addresses WHERE state = 'reserved'");
    while (q.next())
        reserved.append({q.value(0).toInt(), q.value(1).toString()});
    return reserved;
}

// The first column of a one-row query as a number; `none` when it is NULL or there is no row.
qint64 Number(QSqlQuery q, qint64 none = 0) {
    return q.next() && !q.value(0).isNull() ? q.value(0).toLongLong() : none;
}

}  // namespace

TLedger::TLedger(const QString& iniPath, const QString& station, const LogFn& log)
    : iniPath_(iniPath),
      station_(station),
      database_(TIniFile(iniPath).ReadString(kProduction, QStringLiteral("Database"), {})),
      log_(log ? log : LogFn([](const QString&) {})) {
    local_ = TLedgerDb::OpenLocal(PathBesideIni(iniPath));
    if (!Shared()) {
        local_->Migrate([this] { ImportCsv(*local_); });
        BurnAbandoned(*local_);
        return;
    }
    // The station's own file keeps the rows of commands run while the server is away, and its
    // lock orders the station's counter changes; the old CSV record goes to the shared ledger.
    local_->Migrate({});
    try {
        Main();
    } catch (const ELedgerError& e) {
        log_(e.Message());
    }
}

TLedger::~TLedger() = default;

QString TLedger::PathBesideIni(const QString& iniPath) {
    return FileBesideIni(iniPath, QStringLiteral("-ledger.sqlite"));
}

QString TLedger::StationOf(const QString& iniPath) {
    const QString named = TIniFile(iniPath).ReadString(kProduction, QStringLiteral("Station"), {});
    return named.isEmpty() ? QSysInfo::machineHostName() : named;
}

const QString& TLedger::Path() const {
    return Shared() ? database_ : local_->Where();
}

TLedgerDb& TLedger::Main() {
    if (!Shared())
        return *local_;
    if (!shared_)
        shared_ = TLedgerDb::OpenShared(database_);
    if (!migrated_) {
        // The first station that connects creates the schema; each station reads its own old
        // record in at its first connection.
        shared_->Migrate({});
        ImportOnce(*shared_);
        migrated_ = true;
        BurnAbandoned(*shared_);
        FlushSpool();
    }
    return *shared_;
}

void TLedger::ImportOnce(TLedgerDb& db) {
    const auto imported = [&db, this] {
        return db.Exec("SELECT 1 FROM imports WHERE station = ?", {station_}).next();
    };
    // Most starts find the record read in (or none there) without taking the write lock.
    if (!QFile::exists(RecordCsvBesideIni(iniPath_)) || imported())
        return;
    TLedgerDb::TTransaction t(db);
    if (imported())
        return;
    ImportCsv(db);
    db.Exec("INSERT INTO imports (station, time) VALUES (?, ?)",
            {station_, RecordTimeText(QDateTime::currentDateTime())});
    t.Commit();
}

void TLedger::ImportCsv(TLedgerDb& db) {
    const QString csv = RecordCsvBesideIni(iniPath_);
    QFile f(csv);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly))
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(csv, f.errorString()));
    qint64 rows = 0;
    qint64 skipped = 0;
    // Prepared once: an old record may hold millions of lines. A later giving of an address
    // replaces an earlier one; a burning never replaces anything.
    TLedgerDb::TRepeated insert(db, kInsertRow);
    TLedgerDb::TRepeated given(db, kUpsertAddress);
    TLedgerDb::TRepeated burned(db,
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
        insert.Run(RowValues(line, timeText));
        ++rows;
        const std::optional<int> low = MacLowOfText(line.mac);
        if (!low || !GivesMacAddress(line.command))
            continue;
        // As a command's outcome sets it today: an acknowledged "save" gives the address (a
        // failed verification after it included), an unanswered one burns it.
        if (line.ok || line.failed == QLatin1String("verify"))
            given.Run({*low, QLatin1String("given"), timeText, line.command, station_, QString()});
        else if (line.failed == QLatin1String("save"))
            burned.Run({*low, timeText, line.command, station_});
    }
    log_(QStringLiteral("製造記録 %1 を取り込みました（%2 行、読めない行 %3 行）")
             .arg(csv)
             .arg(rows)
             .arg(skipped));
}

void TLedger::BurnAbandoned(TLedgerDb& db) {
    QList<std::pair<int, QString>> abandoned = Reservations(db);
    abandoned.removeIf([&db](const auto& a) { return db.OwnerAlive(a.second); });
    if (abandoned.isEmpty())
        return;
    db.InTransaction([&] {
        for (const auto& [low, owner] : abandoned)
            db.Exec(
                "UPDATE addresses SET state = 'burned' WHERE low = ? AND state = 'reserved' "
                "AND owner = ?",
                {low, owner});
    });
}

QVariantList TLedger::RowValues(const TRecordLine& row, const QString& timeText,
                                const QString& origin) const {
    return {timeText.isEmpty() ? RecordTimeText(row.time) : timeText,
            row.time.toSecsSinceEpoch(),
            row.station.isEmpty() ? station_ : row.station,
            row.command,
            row.link,
            row.mac,
            row.ownIp,
            QLatin1String(row.ok ? "OK" : "NG"),
            row.failed,
            origin.isEmpty() ? 0 : 1,
            origin.isEmpty() ? QVariant() : QVariant(origin)};
}

std::optional<int> TLedger::Counter() const {
    TBoardParams p;
    LoadSettings(TIniFile(iniPath_), &p);
    return MacLowOf(p);
}

void TLedger::UnderCounterLock(const std::function<void()>& fn) {
    if (Shared())
        local_->InTransaction(fn);
    else
        fn();
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

std::optional<TMacBlock> TLedger::BlockOf(TLedgerDb& db) {
    QSqlQuery q = db.Exec("SELECT first_low, last_low FROM ledger_block");
    if (!q.next())
        return std::nullopt;
    return TMacBlock{q.value(0).toInt(), q.value(1).toInt()};
}

int TLedger::NeverUsed(TLedgerDb& db, const TMacBlock& block) {
    // Every address below the stored mark has been used; from there on, the first one that
    // has no row. Only addresses a rewrite or an edited dialog took ahead of the mark are
    // read, not the used part of the block.
    const int from = std::max<int>(
        block.first,
        static_cast<int>(Number(db.Exec("SELECT next_low FROM ledger_block"), block.first)));
    return static_cast<int>(
        Number(db.Exec("SELECT MIN(c) FROM (SELECT CAST(? AS INTEGER) AS c UNION ALL "
                       "SELECT low + 1 FROM addresses WHERE low >= ? AND low <= ?) AS candidates "
                       "WHERE NOT EXISTS (SELECT 1 FROM addresses a WHERE a.low = candidates.c)",
                       {from, from, block.last}),
               block.last + 1));
}

std::optional<int> TLedger::NextFree(TLedgerDb& db, const TMacBlock& block) {
    const qint64 released = Number(
        db.Exec("SELECT MIN(low) FROM addresses WHERE state = 'released' AND low >= ? AND low <= ?",
                {block.first, block.last}),
        -1);
    if (released >= 0)
        return static_cast<int>(released);
    const int next = NeverUsed(db, block);
    return next <= block.last ? std::optional<int>(next) : std::nullopt;
}

qint64 TLedger::Remaining(TLedgerDb& db, const TMacBlock& block) {
    const int next = NeverUsed(db, block);
    const qint64 taken = Number(
        db.Exec("SELECT COUNT(*) FROM addresses WHERE low >= ? AND low <= ?", {next, block.last}));
    const qint64 released = Number(
        db.Exec("SELECT COUNT(*) FROM addresses WHERE state = 'released' AND low >= ? AND low <= ?",
                {block.first, block.last}));
    return std::max<qint64>(0, qint64(block.last) - next + 1 - taken) + released;
}

void TLedger::Mirror(TLedgerDb& db, const TMacBlock& block) {
    UnderCounterLock([&] {
        // A used-up block leaves the counter where it was; writing it proves the file writable.
        const std::optional<int> next = NextFree(db, block);
        WriteCounter(next.value_or(Counter().value_or(block.first)));
    });
}

std::optional<int> TLedger::NextAddress() {
    TLedgerDb& db = Main();
    if (const std::optional<TMacBlock> block = BlockOf(db))
        return NextFree(db, *block);
    std::optional<int> low = Counter();
    if (!low)
        return std::nullopt;
    QSet<int> busy;
    for (const auto& [r, owner] : Reservations(db)) {
        if (db.OwnerAlive(owner))
            busy.insert(r);
    }
    while (busy.contains(*low))
        low = NextMacLow(*low);
    return low;
}

void TLedger::SetCounter(int low) {
    try {
        TLedgerDb& db = Main();
        TLedgerDb::TTransaction t(db);
        const std::optional<TMacBlock> block = BlockOf(db);
        if (!block)
            UnderCounterLock([&] { WriteCounter(low); });
        Commit(db, t, block);
    } catch (const ELedgerError&) {
        if (!Shared())
            throw;
        // The server is away: the file takes the board's address as it always has; a block's
        // next address is mirrored again by the next reservation.
        UnderCounterLock([&] { WriteCounter(low); });
    }
}

TAddressInfo TLedger::Lookup(int low) {
    return LookupIn(Main(), low);
}

TAddressInfo TLedger::LookupIn(TLedgerDb& db, int low) {
    QSqlQuery q =
        db.Exec("SELECT state, time, command, station, owner FROM addresses WHERE low = ?", {low});
    if (!q.next())
        return {};
    TAddressInfo info{StateOf(q.value(0).toString()), q.value(1).toString(), q.value(2).toString(),
                      q.value(3).toString(), q.value(4).toString()};
    // A reservation whose owner has ended is burned, whether or not a start has said so yet.
    if (info.state == TAddressState::Reserved && !db.OwnerAlive(info.owner))
        info.state = TAddressState::Burned;
    return info;
}

bool TLedger::Reserve(int low, const TAddressInfo& seen, const QString& command, bool setCounter) {
    TLedgerDb& db = Main();
    TLedgerDb::TTransaction t(db);
    const std::optional<TMacBlock> block = BlockOf(db);
    if (block && !block->Contains(low))
        throw OutsideBlock(low, *block);
    const TAddressInfo now = LookupIn(db, low);
    if (!(now == seen) || now.state == TAddressState::Reserved)
        return false;
    if (!block) {
        // The counter must be writable before the address goes out, or the next command could
        // not be told which address comes next: writing it unchanged proves it.
        UnderCounterLock([&] {
            const std::optional<int> counter = Counter();
            if (setCounter || counter)
                WriteCounter(setCounter ? low : *counter);
        });
    }
    Take(db, t, low, command, block);
    return true;
}

std::optional<int> TLedger::ReserveNext(const QString& command) {
    TLedgerDb& db = Main();
    TLedgerDb::TTransaction t(db);
    const std::optional<TMacBlock> block = BlockOf(db);
    const std::optional<int> low = block ? NextFree(db, *block) : std::nullopt;
    if (low)
        Take(db, t, *low, command, block);
    return low;
}

void TLedger::Take(TLedgerDb& db, TLedgerDb::TTransaction& t, int low, const QString& command,
                   const std::optional<TMacBlock>& block) {
    db.Exec(kUpsertAddress,
            {low, QLatin1String("reserved"), RecordTimeText(QDateTime::currentDateTime()), command,
             station_, db.Token()});
    if (block)
        db.Exec("UPDATE ledger_block SET next_low = ?", {NeverUsed(db, *block)});
    bool committed = false;
    try {
        Commit(db, t, block, &committed);
    } catch (...) {
        // The reservation stands but the counter file could not mirror it: nothing is sent,
        // so the address is free to go again.
        if (committed) {
            db.InTransaction([&] {
                db.Exec(
                    "UPDATE addresses SET state = 'released', owner = '' "
                    "WHERE low = ? AND state = 'reserved' AND owner = ?",
                    {low, db.Token()});
            });
        }
        throw;
    }
    if (block) {
        const qint64 left = Remaining(db, *block);
        if (left < kFewLeft)
            log_(QStringLiteral("MACアドレスの範囲の残りは %1 個です").arg(left));
    }
}

void TLedger::Commit(TLedgerDb& db, TLedgerDb::TTransaction& t,
                     const std::optional<TMacBlock>& block, bool* committed) {
    if (block && !Shared())
        Mirror(db, *block);
    t.Commit();
    if (committed)
        *committed = true;
    if (block && Shared())
        Mirror(db, *block);
}

void TLedger::Finish(int low, const TRecordLine& row, TAddressState outcome, int counterBase) {
    bool committed = false;
    try {
        TLedgerDb& db = Main();
        TLedgerDb::TTransaction t(db);
        db.Exec(kInsertRow, RowValues(row));
        const QString time = RecordTimeText(row.time);
        const std::optional<TMacBlock> block = BlockOf(db);
        if (outcome == TAddressState::Given) {
            // The board holds the address now, whatever became of the reservation meanwhile.
            db.Exec(kUpsertAddress,
                    {low, QLatin1String("given"), time, row.command, station_, QString()});
        } else {
            // Only this owner's own open reservation changes.
            db.Exec(
                "UPDATE addresses SET state = ?, time = ?, command = ?, owner = '' "
                "WHERE low = ? AND state = 'reserved' AND owner = ?",
                {QLatin1String(kStateNames[static_cast<int>(outcome)]), time, row.command, low,
                 db.Token()});
        }
        if (!block && outcome == TAddressState::Given) {
            UnderCounterLock([&] {
                const int next = NextMacLow(low);
                const std::optional<int> counter = Counter();
                if (!counter || *counter == counterBase || MacLowAhead(next, *counter))
                    WriteCounter(next);
            });
        }
        // With a block, a released address comes first again.
        Commit(db, t, block, &committed);
    } catch (const Exception& e) {
        // The board's part stands: a row the shared ledger did not take is kept on the station.
        if (Shared() && !committed)
            Spool(row, e.Message());
        throw;
    }
}

void TLedger::Record(const TRecordLine& row) {
    try {
        TLedgerDb& db = Main();
        FlushSpool();
        db.InTransaction([&] { db.Exec(kInsertRow, RowValues(row)); });
    } catch (const ELedgerError& e) {
        if (!Shared())
            throw;
        Spool(row, e.Message());
    }
}

void TLedger::Spool(const TRecordLine& row, const QString& reason) {
    const QString origin =
        station_ + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    local_->InTransaction([&] { local_->Exec(kInsertRow, RowValues(row, QString(), origin)); });
    log_(reason);
    log_(QStringLiteral("この記録は共有の製造記録に記録されていません。このステーションの %1 に"
                        "保存し、次に共有の製造記録に接続できたときに送ります。")
             .arg(local_->Where()));
}

void TLedger::FlushSpool() {
    if (!migrated_)
        return;
    qint64 copied = 0;
    for (;;) {
        std::vector<QVariantList> rows;
        qint64 lastId = 0;
        {
            QSqlQuery q = local_->Exec(
                "SELECT id, time, utc, station, command, link, mac, own_ip, result, failed, "
                "origin FROM commands WHERE pending = 1 ORDER BY id LIMIT ?",
                {kCopyBatch});
            while (q.next()) {
                lastId = q.value(0).toLongLong();
                QVariantList values;
                for (int i = 1; i <= 10; ++i)
                    values << q.value(i);
                rows.push_back(values);
            }
        }
        if (rows.empty())
            break;
        // A row copied twice (two processes at once, or a crash before the mark below) is
        // taken once: its origin is unique.
        shared_->InTransaction([&] {
            for (const QVariantList& values : rows)
                shared_->Exec(
                    "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, "
                    "failed, origin) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                    "ON CONFLICT (origin) DO NOTHING",
                    values);
        });
        local_->InTransaction([&] {
            local_->Exec("UPDATE commands SET pending = 0 WHERE pending = 1 AND id <= ?", {lastId});
        });
        copied += static_cast<qint64>(rows.size());
    }
    if (copied > 0)
        log_(QStringLiteral(
                 "このステーションに保存していた記録 %1 件を共有の製造記録 %2 に送りました")
                 .arg(copied)
                 .arg(database_));
}

void TLedger::CheckWritable() {
    if (Shared()) {
        try {
            TLedgerDb& db = Main();
            FlushSpool();
            TLedgerDb::TTransaction t(db);
            db.Exec(kNoChange);  // a write that changes nothing still needs write access
            return;
        } catch (const ELedgerError&) {
            // Away: the rows of commands that give no address stay on the station; a command
            // that needs an address refuses at its reservation, which needs the server.
        }
    }
    TLedgerDb::TTransaction t(*local_);
    local_->Exec(kNoChange);
}

void TLedger::WithWriteLock(const std::function<void()>& fn) {
    local_->InTransaction(fn);
}

std::optional<TMacBlock> TLedger::Block() {
    return BlockOf(Main());
}

void TLedger::SetBlock(const TMacBlock& block) {
    TLedgerDb& db = Main();
    TLedgerDb::TTransaction t(db);
    db.Exec("DELETE FROM ledger_block");
    db.Exec("INSERT INTO ledger_block (first_low, last_low, next_low) VALUES (?, ?, ?)",
            {block.first, block.last, block.first});
    db.Exec("UPDATE ledger_block SET next_low = ?", {NeverUsed(db, block)});
    Commit(db, t, block);
}

void TLedger::CheckInBlock(int low) {
    const std::optional<TMacBlock> block = Block();
    if (block && !block->Contains(low))
        throw OutsideBlock(low, *block);
}

QString TLedger::UsedUpText(const TMacBlock& block) {
    return QStringLiteral(
               "MACアドレスの範囲 %1～%2 をすべて使いました。"
               "新しい範囲を登録するまで、MACアドレスは書き込めません。")
        .arg(MacTextOfLow(block.first), MacTextOfLow(block.last));
}

namespace {

using TStationMap = QMap<QString, TStationStats>;

// The station's counts, begun with its name when it has none yet.
TStationStats& StationIn(TStationMap* stations, const QString& name) {
    TStationStats& st = (*stations)[name];
    st.station = name;
    return st;
}

// Adds `n` to the count `field`, in all and of `station`.
void Add(TLedgerStats* s, TStationMap* stations, const QString& station,
         qint64 TStationStats::*field, qint64 n) {
    StationIn(stations, station).*field += n;
    s->*field += n;
}

// The command rows and the NG ones among them, in all and per station.
void CountCommands(TLedgerDb& db, TLedgerStats* s, TStationMap* stations) {
    QSqlQuery q =
        db.Exec("SELECT station, result, COUNT(*) FROM commands GROUP BY station, result");
    while (q.next()) {
        const qint64 n = q.value(2).toLongLong();
        const QString station = q.value(0).toString();
        Add(s, stations, station, &TStationStats::rows, n);
        if (q.value(1).toString() == QLatin1String("NG"))
            Add(s, stations, station, &TStationStats::ng, n);
    }
}

// The addresses by state, in all and per station (reservations in all only). A reservation
// whose owner has ended counts as burned; the owners are asked only once the query is read.
void CountAddresses(TLedgerDb& db, TLedgerStats* s, TStationMap* stations) {
    struct Group {
        QString station;
        TAddressState state;
        QString owner;
        qint64 n;
    };
    QList<Group> groups;
    {
        QSqlQuery q = db.Exec(
            "SELECT station, state, owner, COUNT(*) FROM addresses GROUP BY station, state, owner");
        while (q.next())
            groups.append({q.value(0).toString(), StateOf(q.value(1).toString()),
                           q.value(2).toString(), q.value(3).toLongLong()});
    }
    for (Group& g : groups) {
        if (g.state == TAddressState::Reserved && !db.OwnerAlive(g.owner))
            g.state = TAddressState::Burned;
        if (g.state == TAddressState::Reserved) {
            StationIn(stations, g.station);
            s->reserved += g.n;
            continue;
        }
        Add(s, stations, g.station,
            g.state == TAddressState::Given      ? &TStationStats::given
            : g.state == TAddressState::Released ? &TStationStats::released
                                                 : &TStationStats::burned,
            g.n);
    }
}

}  // namespace

TLedgerStats TLedger::Stats() {
    TLedgerDb& db = Main();
    TLedgerStats s;
    TStationMap stations;
    CountCommands(db, &s, &stations);
    CountAddresses(db, &s, &stations);
    s.stations = stations.values();
    s.block = BlockOf(db);
    if (s.block)
        s.remaining = Remaining(db, *s.block);
    return s;
}

void TLedger::Export(const QDateTime& since, const std::function<void(const QByteArray&)>& write) {
    QSqlQuery q = since.isValid() ? Main().Prepare(
                                        "SELECT time, command, link, mac, own_ip, result, failed "
                                        "FROM commands WHERE utc >= ? ORDER BY id",
                                        {since.toSecsSinceEpoch()})
                                  : Main().Prepare(
                                        "SELECT time, command, link, mac, own_ip, result, failed "
                                        "FROM commands ORDER BY id",
                                        {});
    q.setForwardOnly(true);
    if (!q.exec())
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(Path(), q.lastError().text()));
    write(QByteArray(kRecordHeader) + "\r\n");
    while (q.next()) {
        const TRecordLine line{QDateTime(),           q.value(1).toString(),
                               q.value(2).toString(), q.value(3).toString(),
                               q.value(4).toString(), q.value(5).toString() == QLatin1String("OK"),
                               q.value(6).toString(), QString()};
        write(FormatRecordLine(line, q.value(0).toString()).toLatin1() + "\r\n");
    }
}

QStringList TLedger::Stations() {
    QStringList names;
    QSqlQuery q = Main().Exec("SELECT DISTINCT station FROM commands ORDER BY station");
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QSqlQuery TLedger::Rows(const QString& mac, const QString& station) {
    const QString pattern = QLatin1Char('%') + mac + QLatin1Char('%');
    QSqlQuery q = station.isEmpty()
                      ? Main().Prepare(
                            "SELECT time, station, command, link, mac, own_ip, result, failed "
                            "FROM commands WHERE mac LIKE ? ORDER BY id DESC{view}",
                            {pattern})
                      : Main().Prepare(
                            "SELECT time, station, command, link, mac, own_ip, result, failed "
                            "FROM commands WHERE mac LIKE ? AND station = ? ORDER BY id DESC{view}",
                            {pattern, station});
    if (!q.exec())
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(Path(), q.lastError().text()));
    return q;
}
