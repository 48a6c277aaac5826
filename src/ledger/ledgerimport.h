// The old CSV record beside a settings file, read into a ledger: its rows, and the addresses it
// gave (or burned).
#pragma once

#include <QString>
#include <functional>

class TLedgerDb;

// Reads `csv` into `db` inside the caller's transaction, the rows as of `station`; a damaged
// line is skipped and counted. `log` gets the summary. Nothing happens when the file is absent.
// Throws ELedgerError when it cannot be read or written.
void ImportOldRecord(TLedgerDb& db, const QString& csv, const QString& station,
                     const std::function<void(const QString&)>& log);
