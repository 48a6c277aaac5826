// The site plans of the production ledger: a plan's rows are taken by the writes as the MAC
// addresses are, in the same transactions, with the same states.
#include <QVariant>
#include <algorithm>

#include "board/macaddress.h"
#include "ledger/ledger.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgersql.h"

using namespace ledgersql;

namespace {

// A row's state as plan status and plan export name it: "save" acknowledged is "used".
QString PlanStateText(const QString& state) {
    return state == QLatin1String("given") ? QStringLiteral("used") : state;
}

// One CSV field of a plan export, its text kept whole (a note may be Japanese): quoted when it
// holds a comma, a quote or a line end; led by an apostrophe when
// it begins with "=", "+", "-" or "@", which a spreadsheet would take for a formula.
void AppendPlanField(QByteArray* out, const QString& field) {
    QString f = field;
    if (!f.isEmpty() && QStringLiteral("=+-@").contains(f[0]))
        f.prepend(QLatin1Char('\''));
    if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) ||
        f.contains(QLatin1Char('\n')) || f.contains(QLatin1Char('\r'))) {
        f.replace(QLatin1String("\""), QLatin1String("\"\""));
        f = QLatin1Char('"') + f + QLatin1Char('"');
    }
    out->append(f.toUtf8());
}

// The columns RowOf and the refusals read, in their order.
#define NB_PLAN_ROWS                                                                        \
    "SELECT number, serial, note, vals, state, mac, time, station, command FROM plan_rows " \
    "WHERE plan = ? "

TPlanRow RowOf(const QSqlQuery& q) {
    return {q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(),
            PlanValuesOfText(q.value(3).toString())};
}

}  // namespace

std::optional<TPlanStatus> TLedger::OpenPlanOf(TLedgerDb& db) {
    QSqlQuery q = db.Exec("SELECT id, name, created, keys FROM plans WHERE closed = '' LIMIT 1");
    if (!q.next())
        return std::nullopt;
    TPlanStatus s;
    s.id = q.value(0).toLongLong();
    s.name = q.value(1).toString();
    s.created = q.value(2).toString();
    s.keys = q.value(3).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    return s;
}

std::optional<TPlanStatus> TLedger::Plan() {
    TLedgerDb& db = Main();
    std::optional<TPlanStatus> s = OpenPlanOf(db);
    if (!s)
        return s;
    QSqlQuery q =
        db.Exec("SELECT state, COUNT(*) FROM plan_rows WHERE plan = ? GROUP BY state", {s->id});
    while (q.next()) {
        const QString state = q.value(0).toString();
        const qint64 n = q.value(1).toLongLong();
        s->rows += n;
        if (state == QLatin1String("given"))
            s->used += n;
        else if (state == QLatin1String("reserved"))
            s->reserved += n;
        else if (state == QLatin1String("burned"))
            s->burned += n;
        else
            s->remaining += n;
    }
    try {
        s->next = PlanRowOf(db, *s, {}).row;
    } catch (const EPlanRefused&) {
        // Every row is taken: there is no next one.
    }
    return s;
}

TPlanStatus TLedger::ImportPlan(const TSitePlan& plan, const QString& name) {
    TLedgerDb& db = Main();
    {
        TLedgerTransaction t(db);
        if (const std::optional<TPlanStatus> open = OpenPlanOf(db))
            throw ELedgerError(
                QStringLiteral("計画 %1 が開いています。plan close で閉じてから取り込んでください")
                    .arg(open->name));
        const QString now = RecordTimeText(QDateTime::currentDateTime());
        db.Exec("INSERT INTO plans (name, created, keys) VALUES (?, ?, ?)",
                {name, now, plan.keys.join(QLatin1Char(','))});
        const qint64 id = Number(db.Exec("SELECT MAX(id) FROM plans"));
        // A hundred rows a statement: a server is asked once for each, not once a row.
        const auto statement = [](qsizetype rows) {
            QByteArray sql =
                "INSERT INTO plan_rows (plan, number, serial, note, own_ip, vals, state, time, "
                "owner, station, command, mac) VALUES ";
            for (qsizetype i = 0; i < rows; ++i)
                sql += i ? ", (?, ?, ?, ?, ?, ?, 'free', '', '', '', '', '')"
                         : "(?, ?, ?, ?, ?, ?, 'free', '', '', '', '', '')";
            return sql;
        };
        constexpr qsizetype kBatch = 100;
        const QByteArray full = statement(kBatch);
        for (qsizetype from = 0; from < plan.rows.size(); from += kBatch) {
            const qsizetype n = std::min(kBatch, plan.rows.size() - from);
            QVariantList values;
            for (qsizetype i = from; i < from + n; ++i) {
                const TPlanRow& row = plan.rows[i];
                values << id << row.number << row.serial << row.note << row.OwnIp()
                       << PlanValuesText(row.values);
            }
            db.Exec(n == kBatch ? full.constData() : statement(n).constData(), values);
        }
        t.Commit();
    }
    return *Plan();
}

TPlanTaken TLedger::PlanRowOf(TLedgerDb& db, const TPlanStatus& plan, const TPlanPick& pick) {
    QSqlQuery q;
    if (!pick.serial.isEmpty()) {
        q = db.Exec(NB_PLAN_ROWS "AND serial = ?", {plan.id, pick.serial});
        if (!q.next())
            throw EPlanRefused(
                QStringLiteral("シリアル番号 %1 は計画 %2 にありません。何も送っていません")
                    .arg(pick.serial, plan.name));
    } else if (pick.number > 0) {
        q = db.Exec(NB_PLAN_ROWS "AND number = ?", {plan.id, pick.number});
        if (!q.next())
            throw EPlanRefused(
                QStringLiteral("計画 %1 に %2 行目はありません").arg(plan.name).arg(pick.number));
    } else {
        q = db.Exec(NB_PLAN_ROWS "AND state IN ('free', 'released') ORDER BY number LIMIT 1",
                    {plan.id});
        if (!q.next())
            throw EPlanRefused(QStringLiteral("計画 %1 の行はすべて使いました。何も送っていません")
                                   .arg(plan.name));
    }
    const QString state = q.value(4).toString();
    if (state != QLatin1String("free") && state != QLatin1String("released")) {
        const QString serial = q.value(1).toString();
        throw EPlanRefused(
            QStringLiteral("計画 %1 の %2 行目%3は%4です（%5、%6 %7）。何も送っていません")
                .arg(plan.name)
                .arg(q.value(0).toInt())
                .arg(serial.isEmpty() ? QString()
                                      : QStringLiteral("（シリアル番号 %1）").arg(serial))
                .arg(state == QLatin1String("given") ? QStringLiteral("使用済み")
                     : state == QLatin1String("reserved")
                         ? QStringLiteral("別の処理が書き込み中")
                         : QStringLiteral("保存の応答がなかった行"))
                .arg(q.value(5).toString(), q.value(7).toString(), q.value(6).toString()));
    }
    return {plan.id, plan.name, RowOf(q), {}};
}

std::optional<TPlanTaken> TLedger::PeekPlanRow(const TPlanPick& pick) {
    TLedgerDb& db = Main();
    const std::optional<TPlanStatus> plan = OpenPlanOf(db);
    if (!plan)
        return std::nullopt;
    return PlanRowOf(db, *plan, pick);
}

void TLedger::ClaimPlanRow(TLedgerDb& db, TPlanClaim* claim, const TReservationTag& tag,
                           std::optional<int> low) {
    const std::optional<TPlanStatus> plan = OpenPlanOf(db);
    if (!plan)
        throw EPlanRefused(QStringLiteral("計画は閉じられました。何も送っていません"));
    TPlanTaken taken = PlanRowOf(db, *plan, claim->pick);
    taken.owner = db.Token();
    db.Exec(
        "UPDATE plan_rows SET state = 'reserved', time = ?, owner = ?, station = ?, command = ?, "
        "mac = ? WHERE plan = ? AND number = ?",
        {RecordTimeText(QDateTime::currentDateTime()), taken.owner, station_, tag.command,
         low ? MacTextOfLow(*low) : QString(), taken.plan, taken.row.number});
    claim->taken = taken;
}

void TLedger::ReservePlanRow(TPlanClaim* claim, const TReservationTag& tag) {
    TLedgerDb& db = Main();
    db.InTransaction([&] { ClaimPlanRow(db, claim, tag, std::nullopt); });
}

void TLedger::FinishPlanRow(TLedgerDb& db, const TPlanTaken& plan, const TRecordLine& row,
                            TAddressState outcome, const QString& owner) {
    const QString time = RecordTimeText(row.time);
    if (outcome == TAddressState::Given) {
        // The board holds the row's values now, whatever became of the reservation meanwhile.
        db.Exec(
            "UPDATE plan_rows SET state = 'given', time = ?, command = ?, mac = ?, owner = '', "
            "station = ? WHERE plan = ? AND number = ?",
            {time, row.command, row.mac, station_, plan.plan, plan.row.number});
    } else {
        db.Exec(
            "UPDATE plan_rows SET state = ?, time = ?, command = ?, owner = '' "
            "WHERE plan = ? AND number = ? AND state = 'reserved' AND owner = ?",
            {StateName(outcome), time, row.command, plan.plan, plan.row.number, owner});
    }
}

void TLedger::BurnAbandonedPlanRows(TLedgerDb& db) {
    QStringList ended;
    {
        QSqlQuery q = db.Exec("SELECT DISTINCT owner FROM plan_rows WHERE state = 'reserved'");
        while (q.next()) {
            const QString owner = q.value(0).toString();
            if (!db.OwnerAlive(owner))
                ended << owner;
        }
    }
    if (ended.isEmpty())
        return;
    // The board may have heard "save" with the row's values: the row is not offered again. It
    // keeps its owner, so that the command's outcome, once a station sends it, still finds it.
    db.InTransaction([&] {
        for (const QString& owner : ended)
            db.Exec("UPDATE plan_rows SET state = 'burned' WHERE state = 'reserved' AND owner = ?",
                    {owner});
    });
}

qint64 TLedger::ExportPlan(const std::function<void(const QByteArray&)>& write) {
    TLedgerDb& db = Main();
    const std::optional<TPlanStatus> plan = OpenPlanOf(db);
    if (!plan)
        throw ELedgerError(QStringLiteral("開いている計画はありません"));
    QByteArray out = "row,serial,note";
    for (const QString& key : plan->keys)
        out += ',' + key.toLatin1();
    out += ",state,mac,time,station,command\n";
    QSqlQuery q = db.Exec(NB_PLAN_ROWS "ORDER BY number", {plan->id});
    qint64 rows = 0;
    constexpr qsizetype kRun = 64 * 1024;  // written a run of lines at a time
    while (q.next()) {
        const TPlanRow row = RowOf(q);
        out += QByteArray::number(row.number) + ',';
        AppendPlanField(&out, row.serial);
        out += ',';
        AppendPlanField(&out, row.note);
        for (const QString& key : plan->keys) {
            out += ',';
            AppendPlanField(&out, row.values.value(key));
        }
        const QString state = q.value(4).toString();
        const bool taken = state == QLatin1String("given") || state == QLatin1String("burned");
        out += ',' + PlanStateText(state).toLatin1() + ',';
        AppendPlanField(&out, taken ? q.value(5).toString() : QString());
        out += ',';
        AppendPlanField(&out, taken ? q.value(6).toString() : QString());
        out += ',';
        AppendPlanField(&out, taken ? q.value(7).toString() : QString());
        out += ',';
        AppendPlanField(&out, taken ? q.value(8).toString() : QString());
        out += '\n';
        ++rows;
        if (out.size() >= kRun) {
            write(out);
            out.clear();
        }
    }
    if (!out.isEmpty())
        write(out);
    return rows;
}

TPlanStatus TLedger::ClosePlan() {
    TLedgerDb& db = Main();
    std::optional<TPlanStatus> status = Plan();
    if (!status)
        throw ELedgerError(QStringLiteral("開いている計画はありません"));
    db.InTransaction([&] {
        db.Exec("UPDATE plans SET closed = ? WHERE id = ?",
                {RecordTimeText(QDateTime::currentDateTime()), status->id});
    });
    return *status;
}
