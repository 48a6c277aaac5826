#include "ledger/ledgeridentity.h"

#include <QFileInfo>
#include <vector>

#include "board/macaddress.h"
#include "board/recordline.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgersql.h"
#include "ledger/productionkeys.h"

using namespace ledgersql;

bool HoldsData(const QString& path) {
    const QFileInfo f(path);
    return f.exists() && f.size() > 0;
}

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

TLedgerIdentity MakeIdentity(TLedgerDb& db, int highWater) {
    const TLedgerIdentity identity{NewIdentity(), RecordTimeText(QDateTime::currentDateTime()),
                                   highWater};
    db.Exec("INSERT INTO ledger_identity (id, created, high_water) VALUES (?, ?, ?)",
            {identity.id, identity.created, identity.highWater});
    return identity;
}

TLedgerIdentity EnsureIdentity(TLedgerDb& db, int highWater) {
    TLedgerIdentity identity = ReadIdentity(db);
    if (!identity.id.isEmpty())
        return identity;
    db.InTransaction([&] {
        identity = ReadIdentity(db);
        if (identity.id.isEmpty())
            identity = MakeIdentity(db, highWater);
    });
    return identity;
}

void CarryOwnLedger(TLedgerDb& db, TLedgerDb& local, const QString& stationId,
                    const QString& station, const std::function<void(const QString&)>& log) {
    TLedgerTransaction t(db);
    if (db.Exec("SELECT 1 FROM joins WHERE station_id = ?", {stationId}).next())
        return;
    // The addresses this station gave or may have given: a reservation still open here counts
    // as burned (its board may hold the address).
    struct Held {
        int low;
        QString state, time, command, station;
    };
    std::vector<Held> held;
    {
        QSqlQuery q = local.Exec(
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
                log(QStringLiteral("MACアドレス %1: このステーションの製造記録では %2（%3）、"
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
        QSqlQuery q = local.Exec(
            "SELECT id, time, utc, station, command, link, mac, own_ip, result, failed, "
            "" NB_ROW_TAIL_COLUMNS " FROM commands WHERE pending = 0 ORDER BY id");
        TLedgerDb::TRepeated insert(db, kInsertCopiedRow);
        while (q.next()) {
            QVariantList values;
            for (int i = 1; i <= 9; ++i)
                values << q.value(i);
            const QString origin = q.value(10).toString();
            values << (origin.isEmpty()
                           ? QStringLiteral("%1/own/%2").arg(stationId, q.value(0).toString())
                           : origin);
            for (int i = 11; i < 10 + kRowTailCount; ++i)
                values << q.value(i);
            insert.Run(values);
            ++rows;
        }
    }
    // An old record the station's own ledger read in is not read in again.
    const bool imported = local.Exec("SELECT 1 FROM station_imports").next() ||
                          local.Exec("SELECT 1 FROM imports").next();
    if (imported)
        db.Exec(
            "INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?) "
            "ON CONFLICT (station_id) DO NOTHING",
            {stationId, station, RecordTimeText(QDateTime::currentDateTime())});
    db.Exec("INSERT INTO joins (station_id, station, time) VALUES (?, ?, ?)",
            {stationId, station, RecordTimeText(QDateTime::currentDateTime())});
    t.Commit();
    if (!held.empty() || rows > 0)
        log(QStringLiteral("このステーションの製造記録（アドレス %1 件、記録 %2 件）を共有の"
                           "製造記録 %3 に加えました（食い違い %4 件）")
                .arg(held.size())
                .arg(rows)
                .arg(db.Where())
                .arg(conflicts));
}
