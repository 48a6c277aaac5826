#include "ledger/productionkeys.h"

#include <QUuid>

#include "board/macaddress.h"
#include "core/inifile.h"

namespace {

const QString kSection = QStringLiteral("Production");

QString Read(const TIniFile& ini, const char* key) {
    return ini.ReadString(kSection, QLatin1String(key), {}).trimmed();
}

}  // namespace

TProductionKeys ReadProductionKeys(const TIniFile& ini) {
    TProductionKeys k;
    k.database = Read(ini, "Database");
    k.station = Read(ini, "Station");
    k.stationId = Read(ini, "StationId");
    k.ledgerId = Read(ini, "LedgerId");
    k.sharedLedgerId = Read(ini, "SharedLedgerId");
    // Written by the program as three bytes; anything else counts as no mark.
    k.highWater = MacLowOfText(QStringLiteral("02-5A-C3-") + Read(ini, "MacHighWater"));
    return k;
}

void WriteStationId(TIniFile& ini, const QString& id) {
    ini.WriteString(kSection, QStringLiteral("StationId"), id);
}

void WriteLedgerId(TIniFile& ini, const QString& id) {
    ini.WriteString(kSection, QStringLiteral("LedgerId"), id);
}

void WriteSharedLedgerId(TIniFile& ini, const QString& id) {
    ini.WriteString(kSection, QStringLiteral("SharedLedgerId"), id);
}

void RaiseHighWater(TIniFile& ini, int low) {
    const std::optional<int> now = ReadProductionKeys(ini).highWater;
    if (now && *now >= low)
        return;
    ini.WriteString(kSection, QStringLiteral("MacHighWater"), MacTextOfLow(low).mid(9));
}

QString NewIdentity() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
