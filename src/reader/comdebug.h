// The reader link's INI section "ComDebug": serial line settings and switches kept for the
// section only, and where the link connects to. Read when a link is created, written when it
// is released.
#pragma once

#include <QString>

class TIniFile;

extern const char* const kComDebugSection;  // "ComDebug"

enum class TFlowControl { None, RtsCts, XonXoff };

struct TComDebugValues {
    int BaudRate = 19200;
    int ParityBits = 0;  // 0 none, 1 odd, 2 even
    int ByteSize = 8;
    int StopBits = 0;  // 0 one, 1 one and a half, 2 two
    TFlowControl FlowCont = TFlowControl::None;
    int TagBlockSize = 4;
    int TagMydBlockSize = 8;
    int TimerInterval = 100;
    int IDNo = 0;
    int fDispRecInfo = 0;
    int fDispTxInfo = 0;
    int fWrDebug1 = 0;
    int fDispCont1 = 0;
    int TCPPort = 3335;
    int TCPServPort = 10777;
    QString TCPServAddr = QStringLiteral("10.16.77.170");
};

// INI value <-> flow control: 1 RTS/CTS, 2 XON/XOFF, anything else none (written as 0).
TFlowControl FlowControlFromIni(int value);
int FlowControlToIni(TFlowControl flow);

// Reads every key of the section in its order; missing keys and non-integers give the
// defaults above.
TComDebugValues ReadComDebug(const TIniFile& ini);
// Writes the section's keys in order, leaving out TagBlockSize, TagMydBlockSize and
// TimerInterval, which are never written. Does not save the file.
void WriteComDebug(TIniFile* ini, const TComDebugValues& v);
