#include "reader/comdebug.h"

#include "core/inifile.h"

const char* const kComDebugSection = "ComDebug";

TFlowControl FlowControlFromIni(int value) {
    switch (value) {
        case 1:
            return TFlowControl::RtsCts;
        case 2:
            return TFlowControl::XonXoff;
        default:
            return TFlowControl::None;
    }
}

int FlowControlToIni(TFlowControl flow) {
    switch (flow) {
        case TFlowControl::RtsCts:
            return 1;
        case TFlowControl::XonXoff:
            return 2;
        default:
            return 0;
    }
}

TComDebugValues ReadComDebug(const TIniFile& ini) {
    const QString s = QLatin1String(kComDebugSection);
    const TComDebugValues d;
    TComDebugValues v;
    auto rd = [&](const char* key, int def) { return ini.ReadInteger(s, QLatin1String(key), def); };
    v.BaudRate = rd("BaudRate", d.BaudRate);
    v.ParityBits = rd("ParityBits", d.ParityBits);
    v.ByteSize = rd("ByteSize", d.ByteSize);
    v.StopBits = rd("StopBits", d.StopBits);
    v.FlowCont = FlowControlFromIni(rd("FlowCont", 0));
    v.TagBlockSize = rd("TagBlockSize", d.TagBlockSize);
    v.TagMydBlockSize = rd("TagMydBlockSize", d.TagMydBlockSize);
    v.TimerInterval = rd("TimerInterval", d.TimerInterval);
    v.IDNo = rd("IDNo", d.IDNo);
    v.fDispRecInfo = rd("fDispRecInfo", d.fDispRecInfo);
    v.fDispTxInfo = rd("fDispTxInfo", d.fDispTxInfo);
    v.fWrDebug1 = rd("fWrDebug1", d.fWrDebug1);
    v.fDispCont1 = rd("fDispCont1", d.fDispCont1);
    v.TCPPort = rd("TCPPort", d.TCPPort);
    v.TCPServPort = rd("TCPServPort", d.TCPServPort);
    v.TCPServAddr = ini.ReadString(s, QStringLiteral("TCPServAddr"), d.TCPServAddr);
    return v;
}

void WriteComDebug(TIniFile* ini, const TComDebugValues& v) {
    const QString s = QLatin1String(kComDebugSection);
    auto wr = [&](const char* key, int value) { ini->WriteInteger(s, QLatin1String(key), value); };
    wr("BaudRate", v.BaudRate);
    wr("ParityBits", v.ParityBits);
    wr("ByteSize", v.ByteSize);
    wr("StopBits", v.StopBits);
    wr("FlowCont", FlowControlToIni(v.FlowCont));
    wr("IDNo", v.IDNo);
    wr("fDispRecInfo", v.fDispRecInfo);
    wr("fDispTxInfo", v.fDispTxInfo);
    wr("fWrDebug1", v.fWrDebug1);
    wr("fDispCont1", v.fDispCont1);
    wr("TCPPort", v.TCPPort);
    wr("TCPServPort", v.TCPServPort);
    ini->WriteString(s, QStringLiteral("TCPServAddr"), v.TCPServAddr);
}
