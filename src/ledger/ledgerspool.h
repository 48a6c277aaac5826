// The rows a station keeps for the shared ledger while the server is away: each command row with
// an origin that makes a second copy of it a no-op, and, for a command that reserved an
// address, what became of the address. Both are copied to the server at its next connection,
// rows first.
//
// Thread rules: as the ledger's (the thread that opened its connections).
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "board/recordline.h"
#include "ledger/ledgertypes.h"

class TLedgerDb;

class TLedgerSpool {
  public:
    using LogFn = std::function<void(const QString&)>;
    // What a command's end does to its address, kept on the station with its row.
    struct TOutcome {
        int low;
        QString owner;  // the reservation's owner, which the server's row still names
        TAddressState state;
    };

    // `local`: the station's own file, which keeps the rows; `log` is told what is kept and
    // what is sent.
    TLedgerSpool(TLedgerDb& local, QString station, LogFn log)
        : local_(local), station_(std::move(station)), log_(std::move(log)) {}

    // Keeps `row` (and the address's outcome) for the shared ledger, and says so with `reason`.
    void Keep(const TRecordLine& row, const QString& reason,
              const std::optional<TOutcome>& outcome = std::nullopt);
    // Copies what is kept to `shared`, rows first, then the outcomes. Throws ELedgerError.
    void Flush(TLedgerDb& shared);

  private:
    void FlushOutcomes(TLedgerDb& shared);

    TLedgerDb& local_;
    QString station_;
    LogFn log_;
};
