#include "support/ledgerfiles.h"

#include <QFile>

#include "board/recordline.h"
#include "core/settings.h"
#include "ledger/ledger.h"

QStringList LedgerRows(const QString& ini) {
    if (!QFile::exists(TLedger::PathBesideIni(ini)))
        return {};
    QStringList rows;
    try {
        TLedger ledger(ini, QStringLiteral("test"));
        ledger.Export(QDateTime(), [&](const QByteArray& line) {
            rows << QString::fromLatin1(line).chopped(2);
        });
    } catch (const ELedgerError&) {
        return {};  // refused (lost, or full): no row can be shown
    }
    rows.removeFirst();  // the header
    return rows;
}

QString LastLedgerRow(const QString& ini) {
    const QStringList rows = LedgerRows(ini);
    if (rows.isEmpty())
        return {};
    TRecordLine l;
    QString time;
    if (!ParseRecordLine(rows.last(), &l, &time))
        return QStringLiteral("unreadable");
    return QStringList{l.command, l.ok ? "OK" : "NG", l.failed, l.mac}.join(',');
}

void WriteOldRecord(const QString& ini, const QStringList& lines, bool lastEnded) {
    QFile f(RecordCsvBesideIni(ini));
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(QByteArray(kRecordHeader) + "\r\n" + lines.join("\r\n").toLatin1() +
            (lastEnded && !lines.isEmpty() ? "\r\n" : ""));
}
