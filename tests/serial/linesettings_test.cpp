// The driver's mappings to the terminal interface, without a device.
#include "serial/linesettings.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include "ptypair.h"

using namespace linesettings;

namespace {

termios Raw(const TLineRecord& r) {
    termios base{};
    // Cooked modes, as a terminal starts, so that every raw bit must be changed.
    base.c_iflag = ICRNL | IXON | IGNBRK | BRKINT | ISTRIP | IMAXBEL;
    base.c_oflag = OPOST | ONLCR;
    base.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    base.c_cflag = CS7 | PARENB | CSTOPB | HUPCL;
    return ToTermios(base, r);
}

}  // namespace

TEST(LineSettings, CharacterTimesAndStandardRates) {
    EXPECT_EQ(CharTimeMs(9600), 2);
    EXPECT_EQ(CharTimeMs(19200), 1);
    EXPECT_EQ(CharTimeMs(4800), 3);
    EXPECT_EQ(CharTimeMs(2400), 5);
    EXPECT_EQ(CharTimeMs(1200), 9);
    EXPECT_EQ(CharTimeMs(10), 1001);
    // Below 10 bit/s the formula would divide by zero: ten bit times instead.
    EXPECT_EQ(CharTimeMs(5), 2000);
    EXPECT_EQ(CharTimeMs(0), 10000);

    speed_t code;
    ASSERT_TRUE(SpeedCode(9600, &code));
    EXPECT_EQ(code, static_cast<speed_t>(B9600));
    ASSERT_TRUE(SpeedCode(115200, &code));
    EXPECT_EQ(code, static_cast<speed_t>(B115200));
    EXPECT_FALSE(SpeedCode(0, &code));  // B0 would hang the line up
    EXPECT_FALSE(SpeedCode(12345, &code));
    EXPECT_FALSE(SpeedCode(-9600, &code));
}

TEST(LineSettings, RecordsTheDeviceCannotDoAreRefused) {
    const TLineRecord ok;
    EXPECT_TRUE(RecordValid(ok));
    auto with = [&](auto change) {
        TLineRecord r = ok;
        change(r);
        return RecordValid(r);
    };
    EXPECT_FALSE(with([](TLineRecord& r) { r.bitRate = 12345; }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.charSize = 4; }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.charSize = 9; }));
    EXPECT_TRUE(with([](TLineRecord& r) { r.charSize = 5; }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.parity = static_cast<TCommParityBits>(3); }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.stop = static_cast<TCommStopBits>(3); }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.flow = static_cast<TCommFlowCtrls>(6); }));
    // 1.5 stop bits exist only with 5 data bits, 2 only with 6 to 8.
    EXPECT_FALSE(with([](TLineRecord& r) { r.stop = csb1p5; }));
    EXPECT_TRUE(with([](TLineRecord& r) { r.stop = csb1p5, r.charSize = 5; }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.stop = csb2, r.charSize = 5; }));
    EXPECT_TRUE(with([](TLineRecord& r) { r.stop = csb2; }));
    EXPECT_FALSE(with([](TLineRecord& r) { r.xon = r.xoff; }));
}

TEST(LineSettings, FrameSettingsAndRawModes) {
    TLineRecord r;
    termios t = Raw(r);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE((t.c_cflag & (CREAD | CLOCAL)) == (CREAD | CLOCAL));
    EXPECT_FALSE(t.c_iflag & (ICRNL | ISTRIP | IGNBRK | BRKINT | PARMRK | IGNPAR));
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_TRUE(t.c_cflag & HUPCL);  // untouched bits stay

    r.bitRate = 19200;
    r.charSize = 7;
    r.parity = cpbEven;
    r.stop = csb2;
    t = Raw(r);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    r.charSize = 5;
    r.parity = cpbOdd;
    r.stop = csb1p5;
    t = Raw(r);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_TRUE((t.c_cflag & (PARENB | PARODD)) == (PARENB | PARODD));
    EXPECT_TRUE(t.c_cflag & CSTOPB);  // with 5 data bits the UART sends 1.5 stop bits

    r.charSize = 6;
    r.stop = csb1;
    EXPECT_EQ(Raw(r).c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_FALSE(Raw(r).c_cflag & CSTOPB);

    // Round trip through the device's modes.
    const TLineRecord back = FromTermios(t);
    EXPECT_EQ(back.bitRate, 19200);
    EXPECT_EQ(back.charSize, 5);
    EXPECT_EQ(back.parity, cpbOdd);
    EXPECT_EQ(back.stop, csb1p5);
}

TEST(LineSettings, EachFlowModeSetsItsFlagsAndRestLines) {
    struct Case {
        TCommFlowCtrls flow;
        bool crtscts, ixon, dtr, rts;
    };
    const Case cases[] = {
        {cfcRtsCts, true, false, true, true},   {cfcDtrDsr, false, false, true, true},
        {cfcXonXoff, false, true, true, true},  {cfcHalfHigh, false, false, true, false},
        {cfcHalfLow, false, false, true, true}, {cfcNone, false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flow));
        TLineRecord r;
        r.flow = c.flow;
        r.xon = 0x11;
        r.xoff = 0x13;
        const termios t = Raw(r);
        EXPECT_EQ(static_cast<bool>(t.c_cflag & CRTSCTS), c.crtscts);
        EXPECT_EQ(static_cast<bool>(t.c_iflag & IXON), c.ixon);
        EXPECT_EQ(static_cast<bool>(t.c_iflag & IXOFF), c.ixon);
        EXPECT_FALSE(t.c_iflag & IXANY);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
        EXPECT_EQ(RestLines(c.flow).dtr, c.dtr);
        EXPECT_EQ(RestLines(c.flow).rts, c.rts);
        EXPECT_EQ(IsHalfDuplex(c.flow), c.flow == cfcHalfHigh || c.flow == cfcHalfLow);
        EXPECT_EQ(FromTermios(t).flow, c.crtscts ? cfcRtsCts : c.ixon ? cfcXonXoff : cfcNone);
    }
}

TEST(LineSettings, ModemStatusAndErrorBits) {
    EXPECT_EQ(ModemStatus(0), 0u);
    EXPECT_EQ(ModemStatus(TIOCM_CTS), 0x10u);
    EXPECT_EQ(ModemStatus(TIOCM_DSR | TIOCM_RNG | TIOCM_CAR | TIOCM_RTS | TIOCM_DTR), 0xE0u);

    TLineCounters a, b;
    EXPECT_EQ(ErrorBits(a, b), 0);
    b.overrun = 1;
    EXPECT_EQ(ErrorBits(a, b), 0x02);
    b.parity = 3;
    b.frame = 1;
    EXPECT_EQ(ErrorBits(a, b), 0x0E);
    b = a;
    b.brk = 1;  // a break has its own notification
    EXPECT_EQ(ErrorBits(a, b), 0);
}

TEST(LineSettings, PortNumbersMapToDevices) {
    PortIni ini(3, "/dev/ttyUSB0");
    EXPECT_EQ(DevicePath(3, ini.Path()), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePath(4, ini.Path()), "/dev/ttyS3");
    EXPECT_EQ(DevicePath(1, QString()), "/dev/ttyS0");
    EXPECT_EQ(DevicePath(12, "/nonexistent/x.ini"), "/dev/ttyS11");
    EXPECT_TRUE(DevicePath(0, ini.Path()).isEmpty());
    EXPECT_TRUE(DevicePath(-1, ini.Path()).isEmpty());
    ini.Map(3, "");  // an empty entry names no device
    EXPECT_EQ(DevicePath(3, ini.Path()), "/dev/ttyS2");
}
