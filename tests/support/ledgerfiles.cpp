#include "support/ledgerfiles.h"

#include <gtest/gtest.h>
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
        ledger.Export({}, [&](const QByteArray& lines) {
            rows << QString::fromLatin1(lines).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        });
    } catch (const ELedgerError&) {
        return {};  // refused (lost, or full): no row can be shown
    }
    rows.removeFirst();  // the header
    // The record's columns, without the export's station.
    for (QString& row : rows) {
        TRecordLine l;
        QString time;
        if (ParseRecordLine(row, &l, &time))
            row = FormatRecordLine(l, time);
    }
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

QString WritePlanFile(const QString& dir, const QByteArray& text, const QString& name) {
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}
