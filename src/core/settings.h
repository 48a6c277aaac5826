// The board parameter record: the wanted board settings, the COM port number, the telnet
// password and five switches, one member per key of the INI section "Option".
#pragma once

#include <QString>

class TIniFile;

struct TBoardParams {
    int ComPort = 1;
    QString TelnetPass = QStringLiteral("KXW");
    int MacAddr_1 = 0;
    int MacAddr_2 = 1;
    int MacAddr_3 = 201;
    int TCPIP1_1 = 10;
    int TCPIP1_2 = 16;
    int TCPIP1_3 = 77;
    int TCPIP1_4 = 170;
    int TCPIP2_1 = 10;
    int TCPIP2_2 = 16;
    int TCPIP2_3 = 77;
    int TCPIP2_4 = 171;
    int TCPPort1 = 10777;
    int TCPPort2 = 3335;
    int TCPmask = 16;
    int fAutoConnect = 1;
    int SpeedIndex = 1;
    int TxTiming = 10;
    int fKeepAlive = 1;
    int ChkTiming = 1;
    int fDispRecInfo = 1;
    int fDispTxInfo = 1;
    int fWrDebug1 = 0;
    int fDispCont1 = 1;
    int fSetInit = 0;

    // The board's own IP address as dotted decimal: the telnet target and the reader's address.
    QString OwnIpText() const;
};

// The integer keys of section "Option" in file order; TelnetPass stands second in the file.
struct TSettingKey {
    const char* name;
    int TBoardParams::*member;
};
extern const TSettingKey kIntSettingKeys[25];

extern const char* const kOptionSection;  // "Option"

// Reads section "Option" of the INI file at `iniPath`; anything missing or not an integer
// keeps its default. A file that exists but cannot be read gives the defaults, sets
// `readError` (when given) to a message naming the file and the cause, and is never replaced
// by SaveSettings for the rest of the run: the record then holds defaults, not the file's
// settings.
TBoardParams LoadSettings(const QString& iniPath, QString* readError = nullptr);
void LoadSettings(const TIniFile& ini, TBoardParams* params);
// Writes every key of the record to section "Option", keeping the rest of the file, and
// rewrites the file. Throws EFCreateError when the file cannot be written, is not writable
// for this user, cannot be read now or could not be read by LoadSettings (the old file then
// stays whole).
//
// Thread rules: GUI thread only (LoadSettings and SaveSettings share the record of files that
// must not be replaced).
// Without `writeCounter` the file keeps its own MacAddr_1..3.
void SaveSettings(const QString& iniPath, const TBoardParams& params, bool writeCounter = true);
