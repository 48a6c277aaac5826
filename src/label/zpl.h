// The ZPL a label printer takes: the job for one label, and the reading of the printer's host
// status answer. No I/O here; TZplPrinter carries both over the wire.
//
// Pure. Thread rules: none.
#pragma once

#include <QByteArray>
#include <QString>

struct TLabelContent;
struct TLabelSettings;

// The job for `s.copies` labels of `c`, at the size and resolution of `s`: UTF-8 text (^CI28);
// the QR code is the printer's own (^BQ, model 2, level M, the MAC address as payload); each
// text line is a field of the scalable font (^A0), written with ^FH so that "^", "~", "_" and
// any byte outside printable ASCII travel as _XX and cannot end the field or start a command;
// the copies are the job's quantity (^PQ). `c` must have passed CheckLabelContent.
QByteArray ZplLabelJob(const TLabelSettings& s, const TLabelContent& c);

// The host status request.
inline constexpr char kHostStatusRequest[] = "~HS";

// The printer answers ~HS with three lines, each <STX>fields<ETX><CR><LF>, fields separated by
// commas (ZPL II Programming Guide, ~HS):
//   line 1: aaa,b,c,dddd,eee,f,g,h,iii,j,k,l   b = paper out (1), c = paused (1)
//   line 2: mmm,n,o,p,q,r,s,t,uuuuuuuu,v,www   o = head up, that is open (1)
//   line 3: xxxx,y
// Only b, c and o are relied on; each must be 0 or 1, and each line must hold at least the
// fields listed (a newer printer may add some). The lines are read whole, CR LF included, so that
// nothing of the answer is left unread when the connection closes.
struct THostStatus {
    enum class TState { Incomplete, Complete, Malformed };
    TState state = TState::Incomplete;
    bool paperOut = false;
    bool paused = false;
    bool headOpen = false;
    QString problem;  // Malformed: what is wrong with the answer
};

// Reads the bytes received so far. Incomplete: the answer may still come whole; Malformed:
// no more bytes can make it one (a byte outside a line, a line longer than
// kHostStatusMaxLine, missing fields, a flag that is not 0 or 1).
THostStatus ParseHostStatus(const QByteArray& received);

inline constexpr int kHostStatusMaxLine = 80;  // bytes between STX and ETX
// No well-formed answer is longer; a receiver may stop reading here.
inline constexpr int kHostStatusMaxBytes = 3 * (kHostStatusMaxLine + 4);
