// The production ledger as tests see it: its rows in the CSV form, and an old CSV record for its
// first start to read in.
#pragma once

#include <QString>
#include <QStringList>

// The ledger's rows beside the settings file `ini`, oldest first, without the header line; none
// when there is no ledger yet (it is not created here).
QStringList LedgerRows(const QString& ini);
// The last row as "command,result,failed,mac", or "" when there is none.
QString LastLedgerRow(const QString& ini);
// Writes the old CSV record beside `ini`: the header, then `lines`, each ended by CR LF (the last
// one only when `lastEnded`).
void WriteOldRecord(const QString& ini, const QStringList& lines, bool lastEnded = true);
// Writes a site plan file `name` with `text` into `dir`; returns its path.
QString WritePlanFile(const QString& dir, const QByteArray& text,
                      const QString& name = QStringLiteral("site.csv"));
