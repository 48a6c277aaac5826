// What the settings file keeps about the station's production record, in its section
// "Production":
//   Database=        the shared ledger's connection URI; none: the station's own file
//   Station=         the station's name in the record; none: the host name
//   StationId=       the station's identity, made once; a shared ledger knows the station by
//                    it, whatever its name (cloned PCs share a host name)
//   LedgerId=        the identity of the station's own ledger file, written when the file was
//                    made (or first met)
//   SharedLedgerId=  the identity of the shared ledger the station joined
//   MacHighWater=    the highest MAC address the station ever reserved ("00-80-0F", the three
//                    bytes after 02-5A-C3)
// A ledger that is missing, empty or another's, next to a settings file that names its own, is
// refused: a fresh one would offer again the addresses the lost one had given.
//
// Every change of these entries is a read-modify-write of the settings file, made by the caller
// under the station's ledger lock, as the MAC counter's changes are.
#pragma once

#include <QString>
#include <optional>

class TIniFile;

struct TProductionKeys {
    QString database;
    QString station;
    QString stationId;
    QString ledgerId;
    QString sharedLedgerId;
    std::optional<int> highWater;
};

TProductionKeys ReadProductionKeys(const TIniFile& ini);

// Writers of single entries into `ini` (UpdateFile is the caller's).
void WriteStationId(TIniFile& ini, const QString& id);
void WriteLedgerId(TIniFile& ini, const QString& id);
void WriteSharedLedgerId(TIniFile& ini, const QString& id);
// Raises MacHighWater to `low` unless it stands at or above it already.
void RaiseHighWater(TIniFile& ini, int low);

// A fresh identity for a station or a ledger.
QString NewIdentity();
