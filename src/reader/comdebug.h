// The reader link's INI section "ComDebug": serial line settings and switches kept for the
// section only, and where the link connects to. Read when a link is created, written when it
// is released.
#pragma once

#include <QString>

class TIniFile;

extern const char* const kComDebugSection;  // "ComDebug"

// Its INI value is its number.
enum class TFlowControl { None = 0, RtsCts = 1, XonXoff = 2 };

struct TComDebugValues {
    int BaudRate = 19200;
    int ParityBits = 0;  // 0 none, 1 odd, 2 even
    int ByteSize = 8;
    int StopBits = 0;  // 0 one, 1 one and a half, 2 two
    TFlowControl FlowCont = TFlowControl::None;
    int TagBlockSize = 4;
    int IDNo = 0;
    int fDispRecInfo = 0;
    int fDispTxInfo = 0;
    int fWrDebug1 = 0;
    int fDispCont1 = 0;
    int TCPPort = 3335;
    int TCPServPort = 10777;
    QString TCPServAddr = QStringLiteral("10.16.77.170");
};

// Reads where the link connects to (TCPServPort, TCPServAddr); a missing key or a non-integer
// gives the default. Every other value is the default above: the link works with no other.
TComDebugValues ReadComDebug(const TIniFile& ini);
// Writes the section's keys in order, leaving out TagBlockSize, which is never written. Does
// not save the file.
void WriteComDebug(TIniFile* ini, const TComDebugValues& v);
