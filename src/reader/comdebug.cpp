#include "reader/comdebug.h"

#include "core/inifile.h"

const char* const kComDebugSection = "ComDebug";

TComDebugValues ReadComDebug(const TIniFile& ini) {
    const QString s = QLatin1String(kComDebugSection);
    TComDebugValues v;
    v.TCPServPort = ini.ReadInteger(s, QStringLiteral("TCPServPort"), v.TCPServPort);
    v.TCPServAddr = ini.ReadString(s, QStringLiteral("TCPServAddr"), v.TCPServAddr);
    return v;
}

void WriteComDebug(TIniFile* ini, const TComDebugValues& v) {
    const QString s = QLatin1String(kComDebugSection);
    auto wr = [&](const char* key, int value) { ini->WriteInteger(s, QLatin1String(key), value); };
    wr("BaudRate", v.BaudRate);
    wr("ParityBits", v.ParityBits);
    wr("ByteSize", v.ByteSize);
    wr("StopBits", v.StopBits);
    wr("FlowCont", static_cast<int>(v.FlowCont));
    wr("IDNo", v.IDNo);
    wr("fDispRecInfo", v.fDispRecInfo);
    wr("fDispTxInfo", v.fDispTxInfo);
    wr("fWrDebug1", v.fWrDebug1);
    wr("fDispCont1", v.fDispCont1);
    wr("TCPPort", v.TCPPort);
    wr("TCPServPort", v.TCPServPort);
    ini->WriteString(s, QStringLiteral("TCPServAddr"), v.TCPServAddr);
}
