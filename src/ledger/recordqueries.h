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
// The rows `filter` selects, oldest first, in the export's CSV form, header first; `write`
// takes a run of whole lines at a time. Returns the number of rows.
qint64 ExportRecord(TLedgerDb& db, const TRecordFilter& filter,
                    const std::function<void(const QByteArray&)>& write);
// What `filter` selects, counted.
TRecordCounts CountFiltered(TLedgerDb& db, const TRecordFilter& filter);
// The addresses given (as CountFiltered's boards) without an OK label row.
qint64 CountUnlabelled(TLedgerDb& db);
// The stations that have rows.
QStringList RecordStations(TLedgerDb& db);
// The rows (time, station, command, link, mac, own_ip, result, failed) `filter` selects,
// newest first, run.
QSqlQuery RecordRows(TLedgerDb& db, const TRecordFilter& filter);
