#include "ledger/ledgerspool.h"

#include <QUuid>
#include <vector>

#include "board/macaddress.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgersql.h"

using namespace ledgersql;

namespace {

// The rows kept on a station are copied to the shared ledger this many in one transaction.
constexpr int kCopyBatch = 500;

}  // namespace

void TLedgerSpool::Keep(const TRecordLine& row, const QString& reason,
                        const std::optional<TOutcome>& outcome) {
    const QString origin =
        station_ + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    local_.InTransaction([&] {
        local_.Exec(kInsertRow, RowValues(row, station_, QString(), origin));
        if (outcome)
            local_.Exec(
                "INSERT INTO spooled_outcomes (origin, low, owner, state) VALUES (?, ?, ?, ?)",
                {origin, outcome->low, outcome->owner, StateName(outcome->state)});
    });
    log_(reason);
    log_(QStringLiteral("この記録は共有の製造記録に記録されていません。このステーションの %1 に"
                        "保存し、次に共有の製造記録に接続できたときに送ります。")
             .arg(local_.Where()));
}

void TLedgerSpool::Flush(TLedgerDb& shared) {
    qint64 copied = 0;
    for (;;) {
        std::vector<QVariantList> rows;
        qint64 lastId = 0;
        {
            QSqlQuery q = local_.Exec(
                "SELECT id, time, utc, station, command, link, mac, own_ip, result, failed, "
                "" NB_ROW_TAIL_COLUMNS " FROM commands WHERE pending = 1 ORDER BY id LIMIT ?",
                {kCopyBatch});
            while (q.next()) {
                lastId = q.value(0).toLongLong();
                QVariantList values;
                for (int i = 1; i <= 9 + kRowTailCount; ++i)
                    values << q.value(i);
                rows.push_back(values);
            }
        }
        if (rows.empty())
            break;
        // A row copied twice (two processes at once, or a crash before the mark below) is
        // taken once: its origin is unique.
        shared.InTransaction([&] {
            for (const QVariantList& values : rows)
                shared.Exec(kInsertCopiedRow, values);
        });
        local_.InTransaction([&] {
            local_.Exec("UPDATE commands SET pending = 0 WHERE pending = 1 AND id <= ?", {lastId});
        });
        copied += static_cast<qint64>(rows.size());
    }
    if (copied > 0)
        log_(QStringLiteral(
                 "このステーションに保存していた記録 %1 件を共有の製造記録 %2 に送りました")
                 .arg(copied)
                 .arg(shared.Where()));
    FlushOutcomes(shared);
}

void TLedgerSpool::FlushOutcomes(TLedgerDb& shared) {
    struct Outcome {
        QString origin;
        int low;
        QString owner, state, time, command, link, ownIp;
    };
    std::vector<Outcome> outcomes;
    {
        QSqlQuery q = local_.Exec(
            "SELECT o.origin, o.low, o.owner, o.state, c.time, c.command, c.link, c.own_ip "
            "FROM spooled_outcomes o JOIN commands c ON c.origin = o.origin WHERE c.pending = 0");
        while (q.next())
            outcomes.push_back({q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(),
                                q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                                q.value(6).toString(), q.value(7).toString()});
    }
    for (const Outcome& o : outcomes) {
        shared.InTransaction([&] {
            if (o.state == QLatin1String("given")) {
                // "save" was acknowledged: the board holds it, whatever became of the rest.
                shared.Exec(kUpsertAddress, {o.low, o.state, o.time, o.command, station_, QString(),
                                             o.link, o.ownIp});
            } else {
                // Only while it is still this command's: reserved, or burned when its session
                // was found ended meanwhile.
                shared.Exec(
                    "UPDATE addresses SET state = ?, time = ?, command = ?, owner = '' "
                    "WHERE low = ? AND owner = ? AND state IN ('reserved', 'burned')",
                    {o.state, o.time, o.command, o.low, o.owner});
            }
            // The plan row the command took, reserved with the address.
            shared.Exec(
                "UPDATE plan_rows SET state = ?, time = ?, command = ?, owner = '' "
                "WHERE mac = ? AND owner = ? AND state IN ('reserved', 'burned')",
                {o.state, o.time, o.command, MacTextOfLow(o.low), o.owner});
        });
        local_.InTransaction(
            [&] { local_.Exec("DELETE FROM spooled_outcomes WHERE origin = ?", {o.origin}); });
    }
}
