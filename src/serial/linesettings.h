// The serial port driver's line settings as termios values, and the other mappings between the
// driver's properties and the POSIX terminal interface. Pure functions: no I/O, so every mapping
// is tested without hardware.
//
// Flow control on POSIX:
// - RTS/CTS: CRTSCTS; the kernel drives RTS and holds output while CTS is low.
// - XON/XOFF: IXON | IXOFF with the two characters in VSTART and VSTOP. The kernel's own
//   thresholds decide when it sends XOFF; the driver's receive buffer size does not set them.
// - DTR/DSR: the terminal interface has no DTR/DSR handshake. The nearest is done: DTR and RTS
//   are raised and the line runs without flow control; the state of DSR can still be read.
// - Half duplex (high or low): no flow control; the transmit thread switches RTS around each
//   batch of blocks.
// - None: no flow control, DTR and RTS raised.
#pragma once

#include <termios.h>
#include <QString>
#include <cstdint>

enum TCommParityBits : uint8_t { cpbNone, cpbOdd, cpbEven };
enum TCommStopBits : uint8_t { csb1, csb1p5, csb2 };
enum TCommFlowCtrls : uint8_t {
    cfcRtsCts,
    cfcDtrDsr,
    cfcXonXoff,
    cfcHalfHigh,
    cfcHalfLow,
    cfcNone
};

// The line-settings record: what the driver last asked of the device. Each setter changes one
// field and applies the whole record, so a combination the device cannot do is refused by the
// setter that made it (like 1.5 stop bits with 8 data bits).
struct TLineRecord {
    int bitRate = 9600;
    int charSize = 8;
    TCommParityBits parity = cpbNone;
    TCommStopBits stop = csb1;
    TCommFlowCtrls flow = cfcRtsCts;
    char xon = 17;
    char xoff = 19;
};

namespace linesettings {

// The termios speed code of a standard bit rate (50 to 4000000); false for any other rate.
bool SpeedCode(int bitRate, speed_t* code);
// True when the record can be applied: a standard rate, 5 to 8 data bits, known parity, stop
// bits and flow control, 1.5 stop bits only with 5 data bits and 2 only with 6 to 8 (a UART
// sends 1.5 stop bits for CSTOPB with 5 data bits), and different XON and XOFF characters.
bool RecordValid(const TLineRecord& r);
// The terminal modes for the record, starting from `base` (the device's own modes): raw bytes
// both ways, receiver on, carrier ignored, parity checked on input without marking, breaks read
// as a NUL byte, reads returning as soon as one byte is there. Call only for a valid record.
termios ToTermios(termios base, const TLineRecord& r);
// The record the device's modes stand for (used as the starting point when a port opens).
TLineRecord FromTermios(const termios& t);

// The state of DTR and RTS while nothing is being sent.
struct TRestLines {
    bool dtr;
    bool rts;
};
TRestLines RestLines(TCommFlowCtrls flow);
bool IsHalfDuplex(TCommFlowCtrls flow);

// One character's time in ms: 1000 / (bitRate / 10) + 1 (9600 bit/s: 2 ms). Below 10 bit/s,
// where that division fails, the time of ten bits rounded up.
int CharTimeMs(int bitRate);

// Modem status as the driver reports it (CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80) from the
// TIOCM_* bits.
unsigned ModemStatus(int tiocm);

// Counts of line events since the device was opened (the kernel's TIOCGICOUNT figures).
struct TLineCounters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
};
// The error bits for what changed: 0x02 overrun, 0x04 parity, 0x08 framing (0: none).
int ErrorBits(const TLineCounters& before, const TLineCounters& now);

// The device of port `portNo`: the value of key "COM<n>" in section "ComPorts" of the INI file
// at `iniPath` when it is there and not empty, else "/dev/ttyS<n-1>". Port 0 (or below) has no
// device: empty text.
QString DevicePath(int portNo, const QString& iniPath);

}  // namespace linesettings
