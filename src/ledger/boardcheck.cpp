#include "ledger/boardcheck.h"

namespace {

TCheckVerdict Ng(const QString& failed, const QStringList& lines) {
    return {false, failed, lines};
}

// "2026-12-01T10:00:00+09:00 write-mac at S1"
QString RowText(const TRecordLine& row) {
    return QStringLiteral("%1 %2 at %3").arg(RecordTimeText(row.time), row.command, row.station);
}

}  // namespace

TCheckVerdict JudgeBoard(const QString& mac, const TBoardHistory& history,
                         const TBoardReadback& board) {
    const TAddressInfo& a = history.address;
    switch (a.state) {
        case TAddressState::Burned:
            return Ng(QStringLiteral("burned"),
                      {QStringLiteral("%1 burned: %2 %3 at %4 went unanswered at \"save\"")
                           .arg(mac, a.time, a.command, a.station)});
        case TAddressState::Reserved:
            return Ng(QStringLiteral("reserved"),
                      {QStringLiteral("%1 is being written right now (%2 at %3)")
                           .arg(mac, a.command, a.station)});
        case TAddressState::Free:
        case TAddressState::Released:
            return Ng(QStringLiteral("unknown"),
                      {QStringLiteral("%1 unknown: never given here").arg(mac)});
        case TAddressState::Given:
            break;
    }
    if (history.givings.size() > 1) {
        QStringList rows;
        for (const TRecordLine& row : history.givings)
            rows << RowText(row);
        return Ng(QStringLiteral("given-twice"),
                  {QStringLiteral("%1 given to more than one board: %2")
                       .arg(mac, rows.join(QLatin1String("; ")))});
    }
    if (!history.lastWrite)
        return Ng(QStringLiteral("no-values"),
                  {QStringLiteral("%1 was written before the ledger kept the values sent "
                                  "(%2 %3 at %4): nothing to compare")
                       .arg(mac, a.time, a.command, a.station)});
    TCheckVerdict v;
    QStringList keys;
    for (const TValueDifference& d : WrittenDifferences(history.lastWrite->sent, board)) {
        if (!keys.contains(d.key))
            keys << d.key;
        v.lines << d.text;
    }
    v.ok = keys.isEmpty();
    v.failed = keys.join(QLatin1Char(' '));
    return v;
}
