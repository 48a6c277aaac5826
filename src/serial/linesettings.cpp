#include "serial/linesettings.h"

#include <sys/ioctl.h>
#include <algorithm>

#include "core/inifile.h"

namespace linesettings {

namespace {

struct SpeedEntry {
    int rate;
    speed_t code;
};

// The CSIZE value of 5 to 8 data bits.
constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

bool SpeedCode(int bitRate, speed_t* code) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.rate == bitRate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

bool RecordValid(const TLineRecord& r) {
    speed_t code;
    if (!SpeedCode(r.bitRate, &code))
        return false;
    if (r.charSize < 5 || r.charSize > 8)
        return false;
    if (r.parity > cpbEven || r.stop > csb2 || r.flow > cfcNone)
        return false;
    if (r.stop == csb1p5 && r.charSize != 5)
        return false;
    if (r.stop == csb2 && r.charSize == 5)
        return false;
    return r.xon != r.xoff;
}

termios ToTermios(termios t, const TLineRecord& r) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IGNPAR | IMAXBEL | IUTF8);
    t.c_iflag |= INPCK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    speed_t code = B9600;
    SpeedCode(r.bitRate, &code);
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);

    t.c_cflag |= kSizes[(r.charSize < 5 || r.charSize > 8 ? 8 : r.charSize) - 5];
    if (r.parity == cpbOdd)
        t.c_cflag |= PARENB | PARODD;
    if (r.parity == cpbEven)
        t.c_cflag |= PARENB;
    if (r.stop != csb1)
        t.c_cflag |= CSTOPB;
    if (r.flow == cfcRtsCts)
        t.c_cflag |= CRTSCTS;
    if (r.flow == cfcXonXoff)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(r.xon);
    t.c_cc[VSTOP] = static_cast<cc_t>(r.xoff);
    return t;
}

TLineRecord FromTermios(const termios& t) {
    TLineRecord r;
    const speed_t code = cfgetospeed(&t);
    for (const SpeedEntry& e : kSpeeds) {
        if (e.code == code)
            r.bitRate = e.rate;
    }
    // CS5 to CS7 are 5 to 7 data bits; anything else is 8.
    r.charSize = 5 + static_cast<int>(std::find(kSizes, kSizes + 3, t.c_cflag & CSIZE) - kSizes);
    r.parity = !(t.c_cflag & PARENB) ? cpbNone : (t.c_cflag & PARODD) ? cpbOdd : cpbEven;
    r.stop = !(t.c_cflag & CSTOPB) ? csb1 : r.charSize == 5 ? csb1p5 : csb2;
    r.flow = (t.c_cflag & CRTSCTS) ? cfcRtsCts : (t.c_iflag & IXON) ? cfcXonXoff : cfcNone;
    r.xon = static_cast<char>(t.c_cc[VSTART]);
    r.xoff = static_cast<char>(t.c_cc[VSTOP]);
    // A device left with equal characters would make every later step fail on them.
    if (r.xon == r.xoff) {
        r.xon = 17;
        r.xoff = 19;
    }
    return r;
}

TRestLines RestLines(TCommFlowCtrls flow) {
    // Half duplex, high active: RTS is raised only while sending.
    return {true, flow != cfcHalfHigh};
}

bool IsHalfDuplex(TCommFlowCtrls flow) {
    return flow == cfcHalfHigh || flow == cfcHalfLow;
}

int CharTimeMs(int bitRate) {
    if (bitRate >= 10)
        return 1000 / (bitRate / 10) + 1;
    const int rate = bitRate < 1 ? 1 : bitRate;
    return (10000 + rate - 1) / rate;
}

unsigned ModemStatus(int tiocm) {
    unsigned s = 0;
    if (tiocm & TIOCM_CTS)
        s |= 0x10;
    if (tiocm & TIOCM_DSR)
        s |= 0x20;
    if (tiocm & TIOCM_RNG)
        s |= 0x40;
    if (tiocm & TIOCM_CAR)
        s |= 0x80;
    return s;
}

int ErrorBits(const TLineCounters& before, const TLineCounters& now) {
    int bits = 0;
    if (now.overrun != before.overrun)
        bits |= 0x02;
    if (now.parity != before.parity)
        bits |= 0x04;
    if (now.frame != before.frame)
        bits |= 0x08;
    return bits;
}

QString DevicePath(int portNo, const QString& iniPath) {
    if (portNo <= 0)
        return QString();
    if (!iniPath.isEmpty()) {
        const TIniFile ini(iniPath);
        const QString dev = ini.ReadString(QStringLiteral("ComPorts"),
                                           QStringLiteral("COM%1").arg(portNo), QString())
                                .trimmed();
        if (!dev.isEmpty())
            return dev;
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
}

}  // namespace linesettings
