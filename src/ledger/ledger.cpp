#include "ledger/ledger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>
#include <vector>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "ledger/productionkeys.h"

namespace {

// Below this many addresses left in the block, every reservation says how many remain.
constexpr qint64 kFewLeft = 100;
// The rows kept on a station are copied to the shared ledger this many in one transaction.
constexpr int kCopyBatch = 500;

const char* const kUpsertAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner, link, own_ip) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
    "ON CONFLICT (low) DO UPDATE SET state = excluded.state, time = excluded.time, "
    "command = excluded.command, station = excluded.station, owner = excluded.owner, "
    "link = excluded.link, own_ip = excluded.own_ip";
// A burning never replaces a giving, and always a release: the board may hold the address.
const char* const kBurnAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner) "
    "VALUES (?, 'burned', ?, ?, ?, '') ON CONFLICT (low) DO UPDATE SET state = 'burned', "
    "time = excluded.time, command = excluded.command, station = excluded.station, owner = '' "
    "WHERE addresses.state = 'released'";
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

// True when the file at `path` exists and holds something: SQLite would take an empty or absent
// file for a new ledger.
bool HoldsData(const QString& path) {
    const QFileInfo f(path);
    return f.exists() && f.size() > 0;
}

// Why a ledger is refused (`problem`), and what to do.
QString LostText(const QString& problem, const QString& id) {
    return problem +
           QStringLiteral(
               "この設定ファイルが記録している製造記録は %1 です。元の製造記録を戻してください。"
               "戻せないときは、netboard-cli record new --force で新しい製造記録を始めます"
               "（使ったMACアドレスの最大値は引き継ぎます）。それまで、ボードには何も送りません。")
               .arg(id);
}

TLedgerIdentity ReadIdentity(TLedgerDb& db) {
    QSqlQuery q = db.Exec("SELECT id, created, high_water FROM ledger_identity");
    return q.next()
               ? TLedgerIdentity{q.value(0).toString(), q.value(1).toString(), q.value(2).toInt()}
               : TLedgerIdentity{};
}

// A new ledger's identity, inside the transaction that makes the ledger.
TLedgerIdentity MakeIdentity(TLedgerDb& db, int highWater) {
    const TLedgerIdentity identity{NewIdentity(), RecordTimeText(QDateTime::currentDateTime()),
                                   highWater};
    db.Exec("INSERT INTO ledger_identity (id, created, high_water) VALUES (?, ?, ?)",
            {identity.id, identity.created, identity.highWater});
    return identity;
}

// The first column of a one-row query as a number; `none` when it is NULL or there is no row.
qint64 Number(QSqlQuery q, qint64 none = 0) {
    return q.next() && !q.value(0).isNull() ? q.value(0).toLongLong() : none;
}

}  // namespace

TLedger::TLedger(const QString& iniPath, const QString& station, const LogFn& log)
    : iniPath_(iniPath), station_(station), log_(log ? log : LogFn([](const QString&) {})) {
    const TProductionKeys keys = ReadProductionKeys(TIniFile(iniPath));
    database_ = keys.database;
    sharedLedgerId_ = keys.sharedLedgerId;
    const QString path = PathBesideIni(iniPath);
    // SQLite would make a new ledger in the place of a missing or emptied one.
    if (!keys.ledgerId.isEmpty() && !HoldsData(path))
        throw ELedgerIdentityError(
            LostText(QStringLiteral("製造記録 %1 がないか、空です。").arg(path), keys.ledgerId));
    local_ = TLedgerDb::OpenLocal(path);
    const int highWater = keys.highWater.value_or(-1);
    // The station's own file keeps, with a shared ledger, the rows of commands run while the
    // server is away, and its lock orders the station's counter changes; the old CSV record
    // then goes to the shared ledger.
    local_->Migrate([this, highWater] {
        MakeIdentity(*local_, highWater);
        if (!Shared())
            ImportCsv(*local_);
    });
    localIdentity_ = EnsureIdentity(*local_, highWater);
    if (!keys.ledgerId.isEmpty() && localIdentity_.id != keys.ledgerId)
        throw ELedgerIdentityError(LostText(
            QStringLiteral("製造記録 %1 は、この設定ファイルの製造記録ではありません。").arg(path),
            keys.ledgerId));
    stationId_ = keys.stationId;
    AdoptIdentities(localIdentity_.id);
    if (!Shared()) {
        BurnAbandoned(*local_);
        return;
    }
    try {
        Main();
    } catch (const ELedgerIdentityError&) {
        throw;
    } catch (const ELedgerError& e) {
        log_(e.Message());
    }
}

TLedgerIdentity TLedger::EnsureIdentity(TLedgerDb& db, int highWater) {
    TLedgerIdentity identity = ReadIdentity(db);
    if (!identity.id.isEmpty())
        return identity;
    // A ledger made before identities: it gets one now, whichever process comes first.
    db.InTransaction([&] {
        identity = ReadIdentity(db);
        if (identity.id.isEmpty())
            identity = MakeIdentity(db, highWater);
    });
    return identity;
}

void TLedger::AdoptIdentities(const QString& ledgerId) {
    const TProductionKeys keys = ReadProductionKeys(TIniFile(iniPath_));
    if (!keys.ledgerId.isEmpty() && !keys.stationId.isEmpty())
        return;
    // Only a settings file that is there and was read takes them: netboard-cli may run on the
    // built-in settings.
    if (!QFileInfo(iniPath_).isFile())
        return;
    try {
        local_->InTransaction([&] {
            TIniFile ini(iniPath_);
            if (!ini.ReadError().isEmpty())
                return;
            const TProductionKeys now = ReadProductionKeys(ini);
            if (now.stationId.isEmpty()) {
                stationId_ = NewIdentity();
                freshStation_ = true;
                WriteStationId(ini, stationId_);
            } else {
                stationId_ = now.stationId;
            }
            if (now.ledgerId.isEmpty())
                WriteLedgerId(ini, ledgerId);
            ini.UpdateFile();
        });
    } catch (const EFCreateError&) {
        // A settings file this process may not write: the identities wait for one that may.
        // Such a station gives no address anyway (its counter cannot be kept).
    }
    if (stationId_.isEmpty())
        stationId_ = QStringLiteral("unsaved:") + station_;
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
    return Shared() && shared_ ? shared_->Where() : local_->Where();
}

TLedgerDb& TLedger::Main() {
    if (!Shared())
        return *local_;
    if (!shared_) {
        shared_ = TLedgerDb::OpenShared(database_);
        if (followChanges_)
            shared_->OnChange([this] { ++sharedChanges_; });
    }
    if (!migrated_) {
        Join(*shared_);
        // Each station reads its own old record in at its first connection.
        ImportOnce(*shared_);
        migrated_ = true;
        // This station's own ends come first: a reservation its command left open while the
        // server was away is ended as the command ended, not burned.
        FlushSpool();
        BurnAbandoned(*shared_);
    }
    return *shared_;
}

const TLedgerIdentity& TLedger::IdentityOf(TLedgerDb& db) const {
    return &db == local_.get() ? localIdentity_ : sharedIdentity_;
}

void TLedger::Join(TLedgerDb& db) {
    // A server that lost the ledger this station had joined must not make a new one.
    if (!sharedLedgerId_.isEmpty() && !db.HasLedger())
        throw ELedgerIdentityError(
            LostText(QStringLiteral("共有の製造記録 %1 に製造記録がありません。").arg(db.Where()),
                     sharedLedgerId_));
    // The first station that connects creates the schema, counting as used what its settings
    // file says it reserved.
    const int highWater = ReadProductionKeys(TIniFile(iniPath_)).highWater.value_or(-1);
    db.Migrate([&] { MakeIdentity(db, highWater); });
    sharedIdentity_ = EnsureIdentity(db, highWater);
    if (!sharedLedgerId_.isEmpty()) {
        if (sharedIdentity_.id != sharedLedgerId_)
            throw ELedgerIdentityError(LostText(
                QStringLiteral("共有の製造記録 %1 は、この設定ファイルの製造記録ではありません。")
                    .arg(db.Where()),
                sharedLedgerId_));
        return;
    }
    CarryOwnLedger(db);
    try {
        local_->InTransaction([&] {
            TIniFile ini(iniPath_);
            if (!QFileInfo(iniPath_).isFile() || !ini.ReadError().isEmpty())
                return;
            WriteSharedLedgerId(ini, sharedIdentity_.id);
            ini.UpdateFile();
            sharedLedgerId_ = sharedIdentity_.id;
        });
    } catch (const EFCreateError&) {
        // Joined all the same: the ledger knows the station joined, and carries nothing twice.
    }
}

void TLedger::CarryOwnLedger(TLedgerDb& db) {
    TLedgerDb::TTransaction t(db);
    if (db.Exec("SELECT 1 FROM joins WHERE station_id = ?", {stationId_}).next())
        return;
    // The addresses this station gave or may have given: a reservation still open here counts
    // as burned (its board may hold the address).
    struct Held {
        int low;
        QString state, time, command, station;
    };
    std::vector<Held> held;
    {
        QSqlQuery q = local_->Exec(
            "SELECT low, state, time, command, station FROM addresses WHERE state <> 'released' "
            "ORDER BY low");
        while (q.next()) {
            const bool given = q.value(1).toString() == QLatin1String("given");
            held.push_back({q.value(0).toInt(), QLatin1String(given ? "given" : "burned"),
                            q.value(2).toString(), q.value(3).toString(), q.value(4).toString()});
        }
    }
    qint64 conflicts = 0;
    for (const Held& h : held) {
        QSqlQuery there =
            db.Exec("SELECT state, station, time FROM addresses WHERE low = ?", {h.low});
        if (there.next() && there.value(0).toString() != QLatin1String("released")) {
            // Both ledgers hold it: never settled here. Another station's is a conflict to
            // look into (two boards may carry the address).
            if (there.value(1).toString() != h.station) {
                ++conflicts;
                log_(QStringLiteral("MACアドレス %1: このステーションの製造記録では %2（%3）、"
                                    "共有の製造記録ではステーション %4 が %5 に使用済みです")
                         .arg(MacTextOfLow(h.low), h.time, h.command, there.value(1).toString(),
                              there.value(2).toString()));
            }
            continue;
        }
        db.Exec(kUpsertAddress,
                {h.low, h.state, h.time, h.command, h.station, QString(), QString(), QString()});
    }
    // The command rows, each once: a row copied before (a spooled one) keeps its origin.
    qint64 rows = 0;
    {
        QSqlQuery q = local_->Exec(
            "SELECT id, time, utc, station, command, link, mac, own_ip, result, failed, origin "
            "FROM commands WHERE pending = 0 ORDER BY id");
        TLedgerDb::TRepeated insert(
            db,
            "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, "
            "failed, origin) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (origin) DO "
            "NOTHING");
        while (q.next()) {
            QVariantList values;
            for (int i = 1; i <= 9; ++i)
                values << q.value(i);
            const QString origin = q.value(10).toString();
            values << (origin.isEmpty()
                           ? QStringLiteral("%1/own/%2").arg(stationId_, q.value(0).toString())
                           : origin);
            insert.Run(values);
            ++rows;
        }
    }
    // An old record the station's own ledger read in is not read in again.
    const bool imported = local_->Exec("SELECT 1 FROM station_imports").next() ||
                          local_->Exec("SELECT 1 FROM imports").next();
    if (imported)
        db.Exec(
            "INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?) "
            "ON CONFLICT (station_id) DO NOTHING",
            {stationId_, station_, RecordTimeText(QDateTime::currentDateTime())});
    db.Exec("INSERT INTO joins (station_id, station, time) VALUES (?, ?, ?)",
            {stationId_, station_, RecordTimeText(QDateTime::currentDateTime())});
    t.Commit();
    if (!held.empty() || rows > 0)
        log_(QStringLiteral("このステーションの製造記録（アドレス %1 件、記録 %2 件）を共有の"
                            "製造記録 %3 に加えました（食い違い %4 件）")
                 .arg(held.size())
                 .arg(rows)
                 .arg(db.Where())
                 .arg(conflicts));
}

void TLedger::ImportOnce(TLedgerDb& db) {
    const auto imported = [&db, this] {
        return db.Exec("SELECT 1 FROM station_imports WHERE station_id = ?", {stationId_}).next();
    };
    // Most starts find the record read in (or none there) without taking the write lock.
    if (!QFile::exists(RecordCsvBesideIni(iniPath_)) || imported())
        return;
    TLedgerDb::TTransaction t(db);
    if (imported())
        return;
    const QString now = RecordTimeText(QDateTime::currentDateTime());
    // A station that had no identity before this run may be the one whose record a ledger
    // made before identities read in by its name: it takes that mark (once; a second station
    // of that name reads its own record in).
    const bool readByName =
        freshStation_ && db.Exec("SELECT 1 FROM imports WHERE station = ?", {station_}).next();
    if (readByName)
        db.Exec("DELETE FROM imports WHERE station = ?", {station_});
    else
        ImportCsv(db);
    db.Exec("INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?)",
            {stationId_, station_, now});
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
    TLedgerDb::TRepeated burned(db, kBurnAddress);
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
            given.Run({*low, QLatin1String("given"), timeText, line.command, station_, QString(),
                       line.link, line.ownIp});
        else if (line.failed == QLatin1String("save"))
            burned.Run({*low, timeText, line.command, station_});
    }
    if (!db.Shared())
        db.Exec("INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?)",
                {QStringLiteral("own"), station_, RecordTimeText(QDateTime::currentDateTime())});
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
        for (const auto& [low, owner] : abandoned) {
            // Another process may have burned it meanwhile; then it has its row already.
            QSqlQuery r = db.Exec(
                "SELECT time, command, station, link, own_ip FROM addresses "
                "WHERE low = ? AND state = 'reserved' AND owner = ?",
                {low, owner});
            if (!r.next())
                continue;
            // The board may have heard "save": the command's row says so, at the time of its
            // reservation.
            const QString time = r.value(0).toString();
            TRecordLine row{QDateTime::fromString(time, Qt::ISODate),
                            r.value(1).toString(),
                            r.value(3).toString(),
                            MacTextOfLow(low),
                            r.value(4).toString(),
                            false,
                            QStringLiteral("save"),
                            r.value(2).toString()};
            db.Exec(
                "UPDATE addresses SET state = 'burned' WHERE low = ? AND state = 'reserved' "
                "AND owner = ?",
                {low, owner});
            db.Exec(kInsertRow, RowValues(row, time));
        }
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
    const TIniFile ini(iniPath_);
    // An entry that is no number would read as its default: no counter, as one out of range.
    for (const char* key : {"MacAddr_1", "MacAddr_2", "MacAddr_3"})
        if (ini.HoldsNonInteger(QLatin1String(kOptionSection), QLatin1String(key)))
            return std::nullopt;
    TBoardParams p;
    LoadSettings(ini, &p);
    return MacLowOf(p);
}

void TLedger::UnderCounterLock(const std::function<void()>& fn) {
    if (Shared())
        local_->InTransaction(fn);
    else
        fn();
}

void TLedger::WriteCounter(std::optional<int> low, std::optional<int> reserved) {
    TIniFile ini(iniPath_);
    if (!ini.ReadError().isEmpty())
        throw EFCreateError(
            QStringLiteral("設定ファイル %1 を読めないため、MACアドレスを保存できません: %2")
                .arg(iniPath_, ini.ReadError()));
    if (low) {
        TBoardParams p;
        SetMacLow(&p, *low);
        const QString section = QLatin1String(kOptionSection);
        ini.WriteInteger(section, QStringLiteral("MacAddr_1"), p.MacAddr_1);
        ini.WriteInteger(section, QStringLiteral("MacAddr_2"), p.MacAddr_2);
        ini.WriteInteger(section, QStringLiteral("MacAddr_3"), p.MacAddr_3);
    }
    // What the station reserved stays known to the settings file, should the ledger be lost.
    if (reserved)
        RaiseHighWater(ini, *reserved);
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
    // Up to the high-water mark a lost ledger before this one may have given them.
    const int from = std::max<int>(
        {block.first, IdentityOf(db).highWater + 1,
         static_cast<int>(Number(db.Exec("SELECT next_low FROM ledger_block"), block.first))});
    if (from > block.last)
        return block.last + 1;
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

void TLedger::Mirror(TLedgerDb& db, const TMacBlock& block, std::optional<int> reserved) {
    UnderCounterLock([&] {
        // A used-up block leaves the counter where it was; writing it proves the file writable.
        const std::optional<int> next = NextFree(db, block);
        WriteCounter(next.value_or(Counter().value_or(block.first)), reserved);
    });
}

std::optional<int> TLedger::NextAddress(const LogFn& skipped) {
    TLedgerDb& db = Main();
    if (const std::optional<TMacBlock> block = BlockOf(db))
        return NextFree(db, *block);
    std::optional<int> start = Counter();
    if (!start)
        return std::nullopt;
    const auto tell = [&skipped](const QString& line) {
        if (skipped)
            skipped(line);
    };
    // The counter moves past every address the ledger holds, in counting order (FF-FF-FF
    // wraps): given, burned (a reservation whose owner has ended included), or reserved by a
    // command at work now. Rows are read a batch at a time from where the walk stands.
    const int highWater = IdentityOf(db).highWater;
    constexpr int kBatch = 256;
    int low = *start;
    qint64 passed = 0;
    while (passed < kMacLowCount) {
        if (low <= highWater) {
            tell(QStringLiteral("MACアドレス %1～%2 は以前の製造記録で使われた可能性があるため"
                                "飛ばします")
                     .arg(MacTextOfLow(low), MacTextOfLow(highWater)));
            passed += highWater - low + 1;
            low = NextMacLow(highWater);
            continue;
        }
        QList<std::pair<int, TAddressInfo>> held;
        {
            QSqlQuery q = db.Exec(
                "SELECT low, state, time, command, station, owner FROM addresses "
                "WHERE low >= ? AND state <> 'released' ORDER BY low LIMIT ?",
                {low, kBatch});
            while (q.next())
                held.append(
                    {q.value(0).toInt(),
                     {StateOf(q.value(1).toString()), q.value(2).toString(), q.value(3).toString(),
                      q.value(4).toString(), q.value(5).toString()}});
        }
        for (const auto& [at, info] : held) {
            if (at != low)
                return low;  // a gap: this one is free
            const bool atWork = info.state == TAddressState::Reserved && db.OwnerAlive(info.owner);
            if (!atWork)
                tell(QStringLiteral("MACアドレス %1 は%2ため飛ばします（%3、%4）")
                         .arg(MacTextOfLow(at),
                              info.state == TAddressState::Given
                                  ? QStringLiteral("書き込み済みの")
                                  : QStringLiteral("保存の応答がなかった"),
                              info.time, info.command));
            ++passed;
            low = at + 1;
        }
        if (held.size() < kBatch) {
            if (low < kMacLowCount)
                return low;
            low = 0;  // past FF-FF-FF: on from 00-00-00
        }
    }
    return std::nullopt;
}

void TLedger::SetCounter(int low) {
    try {
        TLedgerDb& db = Main();
        TLedgerDb::TTransaction t(db);
        const std::optional<TMacBlock> block = BlockOf(db);
        if (!block)
            UnderCounterLock([&] { WriteCounter(low); });
        Commit(db, t, block);
    } catch (const ELedgerIdentityError&) {
        throw;
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
    if (!q.next()) {
        // Up to the high-water mark a lost ledger before this one may have given it.
        const TLedgerIdentity& identity = IdentityOf(db);
        if (low <= identity.highWater)
            return {TAddressState::Burned, identity.created, QStringLiteral("record new"), {}, {}};
        return {};
    }
    TAddressInfo info{StateOf(q.value(0).toString()), q.value(1).toString(), q.value(2).toString(),
                      q.value(3).toString(), q.value(4).toString()};
    // A reservation whose owner has ended is burned, whether or not a start has said so yet.
    if (info.state == TAddressState::Reserved && !db.OwnerAlive(info.owner))
        info.state = TAddressState::Burned;
    return info;
}

bool TLedger::Reserve(int low, const TAddressInfo& seen, const TReservationTag& tag,
                      bool setCounter) {
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
        UnderCounterLock(
            [&] { WriteCounter(setCounter ? std::optional<int>(low) : Counter(), low); });
    }
    Take(db, t, low, tag, block);
    return true;
}

std::optional<int> TLedger::ReserveNext(const TReservationTag& tag) {
    TLedgerDb& db = Main();
    TLedgerDb::TTransaction t(db);
    const std::optional<TMacBlock> block = BlockOf(db);
    const std::optional<int> low = block ? NextFree(db, *block) : std::nullopt;
    if (low)
        Take(db, t, *low, tag, block);
    return low;
}

void TLedger::Take(TLedgerDb& db, TLedgerDb::TTransaction& t, int low, const TReservationTag& tag,
                   const std::optional<TMacBlock>& block) {
    db.Exec(kUpsertAddress,
            {low, QLatin1String("reserved"), RecordTimeText(QDateTime::currentDateTime()),
             tag.command, station_, db.Token(), tag.link, tag.ownIp});
    if (block)
        db.Exec("UPDATE ledger_block SET next_low = ?", {NeverUsed(db, *block)});
    bool committed = false;
    try {
        Commit(db, t, block, &committed, low);
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
    // The owner as the reservation names it: a connection opened again later has another.
    reservedBy_[low] = db.Token();
    if (block) {
        const qint64 left = Remaining(db, *block);
        if (left < kFewLeft)
            log_(QStringLiteral("MACアドレスの範囲の残りは %1 個です").arg(left));
    }
}

void TLedger::Commit(TLedgerDb& db, TLedgerDb::TTransaction& t,
                     const std::optional<TMacBlock>& block, bool* committed,
                     std::optional<int> reserved) {
    if (block && !Shared())
        Mirror(db, *block, reserved);
    t.Commit();
    if (committed)
        *committed = true;
    if (block && Shared())
        Mirror(db, *block, reserved);
}

void TLedger::Finish(int low, const TRecordLine& row, TAddressState outcome, int counterBase) {
    bool committed = false;
    const QString owner = reservedBy_.take(low);
    try {
        TLedgerDb& db = Main();
        TLedgerDb::TTransaction t(db);
        db.Exec(kInsertRow, RowValues(row));
        const QString time = RecordTimeText(row.time);
        const std::optional<TMacBlock> block = BlockOf(db);
        if (outcome == TAddressState::Given) {
            // The board holds the address now, whatever became of the reservation meanwhile.
            db.Exec(kUpsertAddress, {low, QLatin1String("given"), time, row.command, station_,
                                     QString(), row.link, row.ownIp});
        } else {
            // Only this owner's own open reservation changes.
            db.Exec(
                "UPDATE addresses SET state = ?, time = ?, command = ?, owner = '' "
                "WHERE low = ? AND state = 'reserved' AND owner = ?",
                {QLatin1String(kStateNames[static_cast<int>(outcome)]), time, row.command, low,
                 owner.isEmpty() ? db.Token() : owner});
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
        // The board's part stands: a row the shared ledger did not take is kept on the station
        // with the address's outcome, both sent once the server answers again.
        if (Shared() && !committed && shared_)
            Spool(row, e.Message(),
                  TSpooledOutcome{low, owner.isEmpty() ? shared_->Token() : owner, outcome});
        throw;
    }
}

void TLedger::Record(const TRecordLine& row) {
    try {
        TLedgerDb& db = Main();
        FlushSpool();
        db.InTransaction([&] { db.Exec(kInsertRow, RowValues(row)); });
    } catch (const ELedgerIdentityError&) {
        throw;
    } catch (const ELedgerError& e) {
        if (!Shared())
            throw;
        Spool(row, e.Message());
    }
}

void TLedger::Spool(const TRecordLine& row, const QString& reason,
                    const std::optional<TSpooledOutcome>& outcome) {
    const QString origin =
        station_ + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    local_->InTransaction([&] {
        local_->Exec(kInsertRow, RowValues(row, QString(), origin));
        if (outcome)
            local_->Exec(
                "INSERT INTO spooled_outcomes (origin, low, owner, state) VALUES (?, ?, ?, ?)",
                {origin, outcome->low, outcome->owner,
                 QLatin1String(kStateNames[static_cast<int>(outcome->state)])});
    });
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
                 .arg(shared_->Where()));
    FlushOutcomes();
}

void TLedger::FlushOutcomes() {
    struct Outcome {
        QString origin;
        int low;
        QString owner, state, time, command, link, ownIp;
    };
    std::vector<Outcome> outcomes;
    {
        QSqlQuery q = local_->Exec(
            "SELECT o.origin, o.low, o.owner, o.state, c.time, c.command, c.link, c.own_ip "
            "FROM spooled_outcomes o JOIN commands c ON c.origin = o.origin WHERE c.pending = 0");
        while (q.next())
            outcomes.push_back({q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(),
                                q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                                q.value(6).toString(), q.value(7).toString()});
    }
    for (const Outcome& o : outcomes) {
        shared_->InTransaction([&] {
            if (o.state == QLatin1String("given")) {
                // "save" was acknowledged: the board holds it, whatever became of the rest.
                shared_->Exec(kUpsertAddress, {o.low, o.state, o.time, o.command, station_,
                                               QString(), o.link, o.ownIp});
            } else {
                // Only while it is still this command's: reserved, or burned when its session
                // was found ended meanwhile.
                shared_->Exec(
                    "UPDATE addresses SET state = ?, time = ?, command = ?, owner = '' "
                    "WHERE low = ? AND owner = ? AND state IN ('reserved', 'burned')",
                    {o.state, o.time, o.command, o.low, o.owner});
            }
        });
        local_->InTransaction(
            [&] { local_->Exec("DELETE FROM spooled_outcomes WHERE origin = ?", {o.origin}); });
    }
}

void TLedger::CheckWritable() {
    if (Shared()) {
        try {
            TLedgerDb& db = Main();
            FlushSpool();
            TLedgerDb::TTransaction t(db);
            db.Exec(kNoChange);  // a write that changes nothing still needs write access
            return;
        } catch (const ELedgerIdentityError&) {
            throw;
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
    TLedgerDb& db = Main();
    if (!db.Watched([&] { return q.exec(); }))
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(Path(), q.lastError().text()));
    write(QByteArray(kRecordHeader) + "\r\n");
    while (db.Watched([&] { return q.next(); })) {
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
    if (!Main().Watched([&] { return q.exec(); }))
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(Path(), q.lastError().text()));
    return q;
}

void TLedger::Backup(const QString& path) {
    if (QFileInfo::exists(path))
        throw ELedgerError(
            QStringLiteral("%1 はすでにあります。写しは新しいファイルに取ります。").arg(path));
    // SQLite's own consistent copy: it reads under the ledger's locks, whoever writes meanwhile.
    local_->Exec("VACUUM INTO ?", {path});
}

QString TLedger::ChangeStamp() {
    // The counter lives in the settings file; a rename gives the file a new inode.
    const QFileInfo ini(iniPath_);
    return QStringLiteral("%1/%2/%3/%4")
        .arg(local_->DataVersion())
        .arg(ini.lastModified().toMSecsSinceEpoch())
        .arg(ini.size())
        .arg(sharedChanges_);
}

void TLedger::FollowChanges() {
    followChanges_ = true;
    if (shared_)
        shared_->OnChange([this] { ++sharedChanges_; });
}

QStringList TLedger::StartAfresh(const QString& iniPath) {
    QStringList done;
    const TProductionKeys keys = ReadProductionKeys(TIniFile(iniPath));
    const QString path = PathBesideIni(iniPath);
    bool keepOwn = false;
    if (!keys.database.isEmpty() && HoldsData(path)) {
        // A station on a shared ledger keeps its own file (the rows it has not sent yet) when
        // it is the one its settings file names.
        try {
            auto own = TLedgerDb::OpenLocal(path);
            keepOwn = own->HasLedger() && ReadIdentity(*own).id == keys.ledgerId;
        } catch (const ELedgerError&) {
            // Damaged, or made before identities: it goes aside like a lost one.
        }
    }
    if (!keepOwn) {
        const QString aside =
            path + QStringLiteral(".replaced-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (HoldsData(path) || QFileInfo::exists(path)) {
            // Its log files go with it under names SQLite finds them by.
            for (const char* suffix : {"", "-wal", "-shm"}) {
                const QString from = path + QLatin1String(suffix);
                if (QFileInfo::exists(from) && !QFile::rename(from, aside + QLatin1String(suffix)))
                    throw ELedgerError(
                        QStringLiteral("製造記録 %1 を %2 に移せません").arg(from, aside));
            }
            done << QStringLiteral("moved %1 to %2").arg(path, aside);
        }
        auto fresh = TLedgerDb::OpenLocal(path);
        TLedgerIdentity identity;
        fresh->Migrate([&] { identity = MakeIdentity(*fresh, keys.highWater.value_or(-1)); });
        fresh->InTransaction([&] {
            TIniFile ini(iniPath);
            WriteLedgerId(ini, identity.id);
            ini.UpdateFile();
        });
        done << QStringLiteral("new ledger %1 (%2), addresses up to %3 counted as used")
                    .arg(path, identity.id,
                         keys.highWater ? MacTextOfLow(*keys.highWater) : QStringLiteral("-"));
    }
    if (!keys.database.isEmpty() && !keys.sharedLedgerId.isEmpty()) {
        auto own = TLedgerDb::OpenLocal(path);
        own->InTransaction([&] {
            TIniFile ini(iniPath);
            WriteSharedLedgerId(ini, QString());
            ini.UpdateFile();
        });
        done << QStringLiteral("the next start joins the shared ledger at %1")
                    .arg(MaskedUri(keys.database));
    }
    return done;
}
