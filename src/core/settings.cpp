#include "core/settings.h"

#include <QHash>

#include "core/exceptions.h"
#include "core/inifile.h"

namespace {

// The files LoadSettings could not read in this run, with the cause. Saving the record over
// one of them would replace its settings with defaults.
QHash<QString, QString>& UnreadFiles() {
    static QHash<QString, QString> files;
    return files;
}

}  // namespace

const char* const kOptionSection = "Option";

#define NB_KEY(m)            \
    TSettingKey {            \
#m, &TBoardParams::m \
    }
const TSettingKey kIntSettingKeys[25] = {
    NB_KEY(ComPort),      NB_KEY(MacAddr_1),   NB_KEY(MacAddr_2),  NB_KEY(MacAddr_3),
    NB_KEY(TCPIP1_1),     NB_KEY(TCPIP1_2),    NB_KEY(TCPIP1_3),   NB_KEY(TCPIP1_4),
    NB_KEY(TCPIP2_1),     NB_KEY(TCPIP2_2),    NB_KEY(TCPIP2_3),   NB_KEY(TCPIP2_4),
    NB_KEY(TCPPort1),     NB_KEY(TCPPort2),    NB_KEY(TCPmask),    NB_KEY(fAutoConnect),
    NB_KEY(SpeedIndex),   NB_KEY(TxTiming),    NB_KEY(fKeepAlive), NB_KEY(ChkTiming),
    NB_KEY(fDispRecInfo), NB_KEY(fDispTxInfo), NB_KEY(fWrDebug1),  NB_KEY(fDispCont1),
    NB_KEY(fSetInit),
};
#undef NB_KEY

QString TBoardParams::OwnIpText() const {
    return QStringLiteral("%1.%2.%3.%4").arg(TCPIP1_1).arg(TCPIP1_2).arg(TCPIP1_3).arg(TCPIP1_4);
}

void LoadSettings(const TIniFile& ini, TBoardParams* params) {
    const TBoardParams defaults;
    const QString section = QLatin1String(kOptionSection);
    for (const TSettingKey& k : kIntSettingKeys) {
        params->*k.member = ini.ReadInteger(section, QLatin1String(k.name), defaults.*k.member);
        if (k.member == &TBoardParams::ComPort)
            params->TelnetPass =
                ini.ReadString(section, QStringLiteral("TelnetPass"), defaults.TelnetPass);
    }
}

TBoardParams LoadSettings(const QString& iniPath, QString* readError) {
    TBoardParams p;
    const TIniFile ini(iniPath);
    LoadSettings(ini, &p);
    if (!ini.ReadError().isEmpty()) {
        UnreadFiles().insert(iniPath, ini.ReadError());
        if (readError)
            *readError = QStringLiteral("設定ファイル \"%1\" を読み込めません。\n%2")
                             .arg(iniPath, ini.ReadError());
    }
    return p;
}

void SaveSettings(const QString& iniPath, const TBoardParams& params, bool writeCounter) {
    const auto unread = UnreadFiles().constFind(iniPath);
    if (unread != UnreadFiles().constEnd())
        throw EFCreateError(QStringLiteral("設定ファイル \"%1\" に書き込めません。\n起動時に"
                                           "読み込めなかったため、そのままにします。\n%2")
                                .arg(iniPath, *unread));
    // Read the file again, so that whatever else was written meanwhile (other sections) stays.
    TIniFile ini(iniPath);
    const QString section = QLatin1String(kOptionSection);
    for (const TSettingKey& k : kIntSettingKeys) {
        const bool counter = k.member == &TBoardParams::MacAddr_1 ||
                             k.member == &TBoardParams::MacAddr_2 ||
                             k.member == &TBoardParams::MacAddr_3;
        // A counter entry the file has stays as it is; a missing one is written in its place.
        const QString absent = QStringLiteral("\n");
        if (writeCounter || !counter ||
            ini.ReadString(section, QLatin1String(k.name), absent) == absent)
            ini.WriteInteger(section, QLatin1String(k.name), params.*k.member);
        if (k.member == &TBoardParams::ComPort)
            ini.WriteString(section, QStringLiteral("TelnetPass"), params.TelnetPass);
    }
    ini.UpdateFile();
}
