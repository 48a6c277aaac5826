#include "ledger/counterfile.h"

#include "board/macaddress.h"
#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "ledger/productionkeys.h"

std::optional<int> TCounterFile::Counter() const {
    const TIniFile ini(iniPath_);
    // An entry that is no number would read as its default: no counter, as one out of range.
    for (const char* key : {"MacAddr_1", "MacAddr_2", "MacAddr_3"})
        if (ini.HoldsNonInteger(QLatin1String(kOptionSection), QLatin1String(key)))
            return std::nullopt;
    TBoardParams p;
    LoadSettings(ini, &p);
    return MacLowOf(p);
}

void TCounterFile::Write(std::optional<int> low, std::optional<int> reserved) const {
    TIniFile ini(iniPath_);
    if (!ini.ReadError().isEmpty())
        throw EFCreateError(
            QStringLiteral("設定ファイル %1 を読めないため、MACアドレスを保存できません: %2")
                .arg(iniPath_, ini.ReadError()));
    if (low) {
        TBoardParams p;
        SetMacLow(&p, *low);
        const QString section = QLatin1String(kOptionSection);
        ini.WriteInteger(section, QStringLiteral("MacAddr_1"), p.MacAddr_1);
        ini.WriteInteger(section, QStringLiteral("MacAddr_2"), p.MacAddr_2);
        ini.WriteInteger(section, QStringLiteral("MacAddr_3"), p.MacAddr_3);
    }
    // What the station reserved stays known to the settings file, should the ledger be lost.
    if (reserved)
        RaiseHighWater(ini, *reserved);
    ini.UpdateFile();
}
