// A ledger's identity and a station's first connection to a shared ledger. Internal to the
// ledger.
#pragma once

#include <QString>
#include <functional>

#include "ledger/ledgertypes.h"

class TLedgerDb;

// True when the file at `path` exists and holds something: SQLite would take an empty or absent
// file for a new ledger.
bool HoldsData(const QString& path);
// Why a ledger is refused (`problem`), naming the identity the settings file holds, and what to
// do.
QString LostText(const QString& problem, const QString& id);
// The ledger's identity; empty when it has none yet.
TLedgerIdentity ReadIdentity(TLedgerDb& db);
// A new ledger's identity, inside the transaction that makes the ledger.
TLedgerIdentity MakeIdentity(TLedgerDb& db, int highWater);
// The ledger's identity, made (with `highWater`) when it has none yet: a ledger made before
// identities gets one, whichever process comes first.
TLedgerIdentity EnsureIdentity(TLedgerDb& db, int highWater);
// Carries the station's own ledger `local` into the shared `db` once per station identity,
// under the write lock: every address it gave, burned or held reserved, and every row. An
// address the server holds for another station is logged with both stations and left as it is.
void CarryOwnLedger(TLedgerDb& db, TLedgerDb& local, const QString& stationId,
                    const QString& station, const std::function<void(const QString&)>& log);
