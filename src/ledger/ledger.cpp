#include "ledger/ledger.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlQueryModel>
#include <QSysInfo>
#include <QVariant>
#include <vector>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgeridentity.h"
#include "ledger/ledgerimport.h"
#include "ledger/ledgerspool.h"
#include "ledger/ledgersql.h"
#include "ledger/productionkeys.h"
#include "ledger/recordqueries.h"

using namespace ledgersql;

namespace {

// Below this many addresses left in the block, every reservation says how many remain.
constexpr qint64 kFewLeft = 100;
const QString kProduction = QStringLiteral("Production");

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

}  // namespace

TLedger::TLedger(const QString& iniPath, const QString& station, const LogFn& log)
    : iniPath_(iniPath),
      station_(station),
      log_(log ? log : LogFn([](const QString&) {})),
      counter_(iniPath) {
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
            ImportOldRecord(*local_, RecordCsvBesideIni(iniPath_), station_, log_);
    });
    spool_ = std::make_unique<TLedgerSpool>(*local_, station_, log_);
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
    // Whole, so that messages and record status name the file wherever the reader stands.
    return FileBesideIni(QFileInfo(iniPath).absoluteFilePath(), QStringLiteral("-ledger.sqlite"));
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
    CarryOwnLedger(db, *local_, stationId_, station_, log_);
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

void TLedger::ImportOnce(TLedgerDb& db) {
    const auto imported = [&db, this] {
        return db.Exec("SELECT 1 FROM station_imports WHERE station_id = ?", {stationId_}).next();
    };
    // Most starts find the record read in (or none there) without taking the write lock.
    if (!QFile::exists(RecordCsvBesideIni(iniPath_)) || imported())
        return;
    TLedgerTransaction t(db);
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
        ImportOldRecord(db, RecordCsvBesideIni(iniPath_), station_, log_);
    db.Exec("INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?)",
            {stationId_, station_, now});
    t.Commit();
}

void TLedger::BurnAbandoned(TLedgerDb& db) {
    BurnAbandonedPlanRows(db);
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
            db.Exec(kInsertRow, RowValues(row, station_, time));
        }
    });
}

void TLedger::UnderCounterLock(const std::function<void()>& fn) {
    if (Shared())
        local_->InTransaction(fn);
    else
        fn();
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
        counter_.Write(next.value_or(counter_.Counter().value_or(block.first)), reserved);
    });
}

std::optional<int> TLedger::NextAddress(const LogFn& skipped) {
    TLedgerDb& db = Main();
    if (const std::optional<TMacBlock> block = BlockOf(db))
        return NextFree(db, *block);
    const std::optional<int> start = counter_.Counter();
    return start ? FirstUnheld(db, *start, skipped) : std::nullopt;
}

std::optional<int> TLedger::FirstUnheld(TLedgerDb& db, int start, const LogFn& skipped) {
    const auto tell = [&skipped](const QString& line) {
        if (skipped)
            skipped(line);
    };
    // The counter moves past every address the ledger holds, in counting order (FF-FF-FF
    // wraps): given, burned (a reservation whose owner has ended included), or reserved by a
    // command at work now. Rows are read a batch at a time from where the walk stands.
    const int highWater = IdentityOf(db).highWater;
    constexpr int kBatch = 256;
    int low = start;
    qint64 passed = 0;
    while (passed < kMacLowCount) {
        if (low <= highWater) {
            tell(QStringLiteral("MACアドレス %1～%2 は以前の製造記録で使われた可能性があるため"
                                "飛ばします")
                     .arg(MacTextOfLow(low), MacTextOfLow(highWater)));
            passed += highWater - low + 1;
            low = TMacAddress(highWater).Next().Low();
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
                      q.value(4).toString(), q.value(5).toString(), QString()}});
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
        TLedgerTransaction t(db);
        const std::optional<TMacBlock> block = BlockOf(db);
        if (!block)
            UnderCounterLock([&] { counter_.Write(low); });
        Commit(db, t, block);
    } catch (const ELedgerIdentityError&) {
        throw;
    } catch (const ELedgerError&) {
        if (!Shared())
            throw;
        // The server is away: the file takes the board's address as it always has; a block's
        // next address is mirrored again by the next reservation.
        UnderCounterLock([&] { counter_.Write(low); });
    }
}

TAddressInfo TLedger::Lookup(int low) {
    return LookupIn(Main(), low);
}

TBoardHistory TLedger::History(int low) {
    TLedgerDb& db = Main();
    TBoardHistory h;
    h.address = LookupIn(db, low);
    const QString mac = MacTextOfLow(low);
    // The rows of one address are few, found through the index by address however long the
    // record grows.
    QSqlQuery q =
        db.Exec("SELECT time, command, link, own_ip, result, failed, station, " NB_SENT_COLUMNS
                " FROM commands WHERE mac = ? AND (result = 'OK' OR failed = 'verify') ORDER BY id",
                {mac});
    while (q.next()) {
        TRecordLine row{QDateTime::fromString(q.value(0).toString(), Qt::ISODate),
                        q.value(1).toString(),
                        q.value(2).toString(),
                        mac,
                        q.value(3).toString(),
                        q.value(4).toString() == QLatin1String("OK"),
                        q.value(5).toString(),
                        q.value(6).toString()};
        for (int i = 0; i < kSentColumnCount; ++i) {
            const QString value = q.value(7 + i).toString();
            if (!value.isEmpty())
                row.sent[QLatin1String(kSentKeys[i])] = value;
        }
        if (GivesMacAddress(row.command))
            h.givings.append(row);
        if (row.ok && !row.sent.isEmpty())
            h.lastWrite = row;
    }
    return h;
}

TAddressInfo TLedger::LookupIn(TLedgerDb& db, int low) {
    QSqlQuery q = db.Exec(
        "SELECT state, time, command, station, owner, own_ip FROM addresses WHERE low = ?", {low});
    if (!q.next()) {
        // Up to the high-water mark a lost ledger before this one may have given it.
        const TLedgerIdentity& identity = IdentityOf(db);
        if (low <= identity.highWater)
            return {
                TAddressState::Burned, identity.created, QStringLiteral("record new"), {}, {}, {}};
        return {};
    }
    TAddressInfo info{StateOf(q.value(0).toString()), q.value(1).toString(), q.value(2).toString(),
                      q.value(3).toString(),          q.value(4).toString(), q.value(5).toString()};
    // A reservation whose owner has ended is burned, whether or not a start has said so yet.
    if (info.state == TAddressState::Reserved && !db.OwnerAlive(info.owner))
        info.state = TAddressState::Burned;
    return info;
}

bool TLedger::Reserve(int low, const TAddressInfo& seen, const TReservationTag& tag,
                      TCounter counter, TPlanClaim* plan) {
    const bool setCounter = counter == TCounter::BecomesAddress;
    TLedgerDb& db = Main();
    TLedgerTransaction t(db);
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
            counter_.Write(setCounter ? std::optional<int>(low) : counter_.Counter(), low);
        });
    }
    Take(db, t, low, tag, block, plan);
    return true;
}

std::optional<int> TLedger::ReserveNext(const TReservationTag& tag, TPlanClaim* plan) {
    TLedgerDb& db = Main();
    TLedgerTransaction t(db);
    const std::optional<TMacBlock> block = BlockOf(db);
    const std::optional<int> low = block ? NextFree(db, *block) : std::nullopt;
    if (low)
        Take(db, t, *low, tag, block, plan);
    return low;
}

void TLedger::Take(TLedgerDb& db, TLedgerTransaction& t, int low, const TReservationTag& tag,
                   const std::optional<TMacBlock>& block, TPlanClaim* plan) {
    if (plan)
        ClaimPlanRow(db, plan, tag, low);
    // The own IP address the reservation names is the one the plan row gives, when it gives one.
    const QString ownIp =
        plan && !plan->taken->row.OwnIp().isEmpty() ? plan->taken->row.OwnIp() : tag.ownIp;
    db.Exec(kUpsertAddress,
            {low, QLatin1String("reserved"), RecordTimeText(QDateTime::currentDateTime()),
             tag.command, station_, db.Token(), tag.link, ownIp});
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

void TLedger::Commit(TLedgerDb& db, TLedgerTransaction& t, const std::optional<TMacBlock>& block,
                     bool* committed, std::optional<int> reserved) {
    if (block && !Shared())
        Mirror(db, *block, reserved);
    t.Commit();
    if (committed)
        *committed = true;
    if (block && Shared())
        Mirror(db, *block, reserved);
}

void TLedger::Finish(std::optional<int> address, const TRecordLine& row, TAddressState outcome,
                     int counterBase, const std::optional<TPlanTaken>& plan) {
    bool committed = false;
    const int low = address.value_or(-1);
    const QString owner = address ? reservedBy_.take(low) : QString();
    try {
        TLedgerDb& db = Main();
        TLedgerTransaction t(db);
        db.Exec(kInsertRow, RowValues(row, station_));
        const QString time = RecordTimeText(row.time);
        if (plan)
            FinishPlanRow(db, *plan, row, outcome, plan->owner);
        if (!address) {
            t.Commit();
            return;
        }
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
                {StateName(outcome), time, row.command, low, owner.isEmpty() ? db.Token() : owner});
        }
        // A counter that cannot be moved (its settings file full or gone) does not undo the
        // giving: the row and the address's state are kept, the next offer passes over the
        // address, and the command is NG for the counter's reason.
        QString counterError;
        if (!block && outcome == TAddressState::Given) {
            try {
                UnderCounterLock([&] {
                    const int next = TMacAddress(low).Next().Low();
                    const std::optional<int> counter = counter_.Counter();
                    if (!counter || *counter == counterBase || MacLowAhead(next, *counter))
                        counter_.Write(next);
                });
            } catch (const ELedgerError&) {
                throw;  // the lock itself: nothing is kept
            } catch (const Exception& e) {
                counterError = e.Message();
            }
        }
        // With a block, a released address comes first again.
        Commit(db, t, block, &committed);
        if (!counterError.isEmpty())
            throw ELedgerError(counterError);
    } catch (const Exception& e) {
        // The board's part stands: a row the shared ledger did not take is kept on the station
        // with the address's outcome, both sent once the server answers again.
        if (Shared() && !committed && shared_) {
            std::optional<TLedgerSpool::TOutcome> kept;
            if (address)
                kept = TLedgerSpool::TOutcome{low, owner.isEmpty() ? shared_->Token() : owner,
                                              outcome};
            spool_->Keep(row, e.Message(), kept);
        }
        throw;
    }
}

void TLedger::Record(const TRecordLine& row) {
    try {
        TLedgerDb& db = Main();
        FlushSpool();
        db.InTransaction([&] { db.Exec(kInsertRow, RowValues(row, station_)); });
    } catch (const ELedgerIdentityError&) {
        throw;
    } catch (const ELedgerError& e) {
        if (!Shared())
            throw;
        spool_->Keep(row, e.Message());
    }
}

void TLedger::CheckWritable() {
    if (Shared()) {
        try {
            TLedgerDb& db = Main();
            FlushSpool();
            TLedgerTransaction t(db);
            db.Exec(kNoChange);  // a write that changes nothing still needs write access
            return;
        } catch (const ELedgerIdentityError&) {
            throw;
        } catch (const ELedgerError&) {
            // Away: the rows of commands that give no address stay on the station; a command
            // that needs an address refuses at its reservation, which needs the server.
        }
    }
    TLedgerTransaction t(*local_);
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
    TLedgerTransaction t(db);
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

TLedgerStats TLedger::Stats() {
    TLedgerDb& db = Main();
    TLedgerStats s;
    CountRecord(db, &s);
    s.block = BlockOf(db);
    if (s.block)
        s.remaining = Remaining(db, *s.block);
    return s;
}

void TLedger::Backup(const QString& path) {
    if (QFileInfo::exists(path))
        throw ELedgerError(
            QStringLiteral("%1 はすでにあります。写しは新しいファイルに取ります。").arg(path));
    // SQLite's own consistent copy: it reads under the ledger's locks, whoever writes meanwhile.
    local_->Exec("VACUUM INTO ?", {path});
}

qint64 TLedger::Export(const TRecordFilter& filter,
                       const std::function<void(const QByteArray&)>& write) {
    return ExportRecord(Main(), filter, write);
}

TRecordCounts TLedger::Counts(const TRecordFilter& filter) {
    return CountFiltered(Main(), filter);
}

qint64 TLedger::Unlabelled() {
    return CountUnlabelled(Main());
}

QStringList TLedger::Stations() {
    return RecordStations(Main());
}

void TLedger::SelectRows(QSqlQueryModel* model, const TRecordFilter& filter) {
    model->setQuery(RecordRows(Main(), filter));
}

void TLedger::FlushSpool() {
    if (migrated_)
        spool_->Flush(*shared_);
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
