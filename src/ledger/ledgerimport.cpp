#include "ledger/ledgerimport.h"

#include <QFile>

#include "board/macaddress.h"
#include "board/recordline.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgersql.h"

using namespace ledgersql;

void ImportOldRecord(TLedgerDb& db, const QString& csv, const QString& station,
                     const std::function<void(const QString&)>& log) {
    QFile f(csv);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly))
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(csv, f.errorString()));
    qint64 rows = 0;
    qint64 skipped = 0;
    // Prepared once: an old record may hold millions of lines. A later giving of an address
    // replaces an earlier one; a burning replaces only a release.
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
        // The record's header, or an export's of any version (its columns begin as the record's).
        if (text.isEmpty() || text.startsWith(QLatin1String(kRecordHeader)))
            continue;
        TRecordLine line;
        QString timeText;
        if (!ParseRecordLine(text, &line, &timeText)) {
            ++skipped;
            continue;
        }
        insert.Run(RowValues(line, station, timeText));
        ++rows;
        const std::optional<int> low = MacLowOfText(line.mac);
        if (!low || !GivesMacAddress(line.command))
            continue;
        // As a command's outcome sets it today: an acknowledged "save" gives the address (a
        // failed verification after it included), an unanswered one burns it.
        if (line.ok || line.failed == QLatin1String("verify"))
            given.Run({*low, QLatin1String("given"), timeText, line.command, station, QString(),
                       line.link, line.ownIp});
        else if (line.failed == QLatin1String("save"))
            burned.Run({*low, timeText, line.command, station});
    }
    if (!db.Shared())
        db.Exec("INSERT INTO station_imports (station_id, station, time) VALUES (?, ?, ?)",
                {QStringLiteral("own"), station, RecordTimeText(QDateTime::currentDateTime())});
    log(QStringLiteral("製造記録 %1 を取り込みました（%2 行、読めない行 %3 行）")
            .arg(csv)
            .arg(rows)
            .arg(skipped));
}
