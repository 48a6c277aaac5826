// What the record window, `record status` and `record export` read from a ledger. Internal to
// the ledger; TLedger and TRecordRows offer it outside.
#pragma once

#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>
#include <functional>

#include "ledger/ledgertypes.h"

class TLedgerDb;

// The command rows and the NG ones among them, and the addresses by state, in all and per
// station (reservations in all only; one whose owner has ended counts as burned).
void CountRecord(TLedgerDb& db, TLedgerStats* s);
// The rows from `since` on (all when invalid), oldest first, in the CSV form, header first.
void ExportRecord(TLedgerDb& db, const QDateTime& since,
                  const std::function<void(const QByteArray&)>& write);
// The stations that have rows.
QStringList RecordStations(TLedgerDb& db);
// The rows (time, station, command, link, mac, own_ip, result, failed) whose MAC address holds
// `mac`, of `station` only unless it is empty, newest first, run.
QSqlQuery RecordRows(TLedgerDb& db, const QString& mac, const QString& station);
