// The serial port driver on pseudo-terminal pairs: the driver opens the terminal side, the test
// plays the far end on the master side.
#include "serial/serialport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "ptypair.h"
#include "support/scriptclock.h"

namespace {

const QString kOpenFailed = QStringLiteral("ポートをオープンできませんでした");
const QString kBusy = kOpenFailed + " (flock: 使用中です (Device or resource busy))";

QByteArray Pattern(int n) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return b;
}

// The driver's message, with the failing call and its cause when a system call failed.
QString ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ECommError& e) {
        return e.Cause().isEmpty() ? e.Message() : e.Message() + " (" + e.Cause() + ")";
    }
    return QString();
}

// Another program, started without fork() (which the thread sanitizer does not allow here).
pid_t StartProgram(const QStringList& args) {
    std::vector<QByteArray> store;
    for (const QString& a : args)
        store.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // In a process group of its own, so that killing the group takes its children too.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

int WaitProgram(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CommXTest : public ::testing::Test {
  protected:
    static constexpr int kPort = 5;
    CommXTest() : ini(kPort, pty.Path()) {
        comm.SetIniPath(ini.Path());
        comm.SetPortNo(kPort);
    }
    termios Modes() const {
        termios t{};
        tcgetattr(pty.Terminal(), &t);
        return t;
    }
    // The driver in XON/XOFF mode with the far end holding the line with XOFF.
    void OpenHeld() {
        comm.SetFlowCtrl(cfcXonXoff);
        comm.PortOpen();
        pty.Write("\x13");
        PumpFor(100);  // the terminal takes XOFF in its own time
    }

    PtyPair pty;
    PortIni ini;
    TSerialPort comm;
};

}  // namespace

TEST(CommX, DefaultsAndResultsOnAClosedPort) {
    TSerialPort c;
    EXPECT_EQ(c.PortNo(), 1);
    EXPECT_EQ(c.BitRate(), 9600);
    EXPECT_EQ(c.CharSize(), 8);
    EXPECT_EQ(c.ParityBit(), cpbNone);
    EXPECT_EQ(c.StopBit(), csb1);
    EXPECT_EQ(c.FlowCtrl(), cfcRtsCts);
    EXPECT_EQ(c.TimeOutTrans(), 3000);
    EXPECT_EQ(c.TimeOutReceive(), 3000);
    EXPECT_EQ(c.XonChar(), 17);
    EXPECT_EQ(c.XoffChar(), 19);
    EXPECT_EQ(c.BufLenTrans(), 2048);
    EXPECT_EQ(c.BufLenReceive(), 2048);
    EXPECT_EQ(c.Handle(), -1);
    EXPECT_FALSE(c.IsOpen());

    int probed = 0;
    c.SetModemLineProbe([&](int, bool) { ++probed; });
    char buf[4];
    EXPECT_TRUE(c.TransBlock("x", 0));
    EXPECT_TRUE(c.TransString(QByteArray()));
    EXPECT_FALSE(c.TransBlock("x", 1));
    EXPECT_FALSE(c.TransChar('x'));
    EXPECT_FALSE(c.TransString("abc"));
    EXPECT_EQ(c.ReceiveBlock(buf, 4), -1);
    EXPECT_EQ(c.ReceiveChar(), -1);
    EXPECT_EQ(c.GetTransLength(), 0);
    EXPECT_EQ(c.GetReceiveLength(), 0);
    EXPECT_FALSE(c.IsCtsSignal());
    EXPECT_FALSE(c.IsDsrSignal());
    EXPECT_FALSE(c.IsRingSignal());
    EXPECT_FALSE(c.IsRlsdSignal());
    EXPECT_FALSE(c.IsSignal(0xF0));
    c.SetRtsSignal(true);
    c.SetDtrSignal(true);
    c.SendBreak();
    c.ClearReceiveBuf();
    c.ClearTransBuf();
    c.PortClose();
    EXPECT_EQ(probed, 0);
}

TEST(CommX, SettersOnAClosedPortOnlyStoreAndArePublished) {
    TSerialPort c;
    // Values no device takes are stored without complaint while closed.
    EXPECT_NO_THROW(c.SetBitRate(12345));
    EXPECT_NO_THROW(c.SetCharSize(9));
    EXPECT_NO_THROW(c.SetBufLenTrans(0));
    EXPECT_NO_THROW(c.SetTimeOutTrans(-1));
    EXPECT_NO_THROW(c.SetXonChar(19));
    EXPECT_NO_THROW(c.SetPortNo(0));
    EXPECT_EQ(c.BitRate(), 12345);
    EXPECT_EQ(c.CharSize(), 9);

    EXPECT_TRUE(c.setProperty("BitRate", 19200));
    EXPECT_TRUE(c.setProperty("FlowCtrl", static_cast<int>(cfcHalfLow)));
    EXPECT_TRUE(c.setProperty("XoffChar", 0x93));
    EXPECT_EQ(c.BitRate(), 19200);
    EXPECT_EQ(c.FlowCtrl(), cfcHalfLow);
    EXPECT_EQ(static_cast<unsigned char>(c.XoffChar()), 0x93);
    EXPECT_EQ(c.property("PortNo").toInt(), 0);
    EXPECT_EQ(c.property("Handle").toInt(), -1);
    EXPECT_EQ(c.property("BufLenReceive").toInt(), 2048);
}

TEST_F(CommXTest, OpenAppliesTheDefaultsAndCloseTwiceIsHarmless) {
    termios found = Modes();
    cfsetspeed(&found, B2400);
    found.c_cflag &= ~CRTSCTS;
    tcsetattr(pty.Terminal(), TCSANOW, &found);
    comm.PortOpen();
    ASSERT_TRUE(comm.IsOpen());
    EXPECT_GE(comm.Handle(), 0);
    const termios t = Modes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(t.c_iflag & (IXON | ICRNL));

    comm.PortClose();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), -1);
    // The device is left with the modes it was found with.
    const termios after = Modes();
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B2400));
    EXPECT_EQ(after.c_cflag, found.c_cflag);
    EXPECT_EQ(after.c_lflag, found.c_lflag);
    comm.PortClose();
    EXPECT_FALSE(comm.IsOpen());
    // Closed for good: it opens again.
    comm.PortOpen();
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommXTest, OpenWhileOpenThrowsAndLeavesThePortOpen) {
    comm.PortOpen();
    const int handle = comm.Handle();
    EXPECT_EQ(ErrorOf([&] { comm.PortOpen(); }),
              QStringLiteral("ポートは、すでにオープンされています"));
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), handle);
    ASSERT_TRUE(comm.TransString("still"));
    EXPECT_EQ(pty.Read(5), "still");
}

TEST_F(CommXTest, PortsWithoutAUsableDeviceDoNotOpen) {
    ini.Map(6, "/nonexistent/ttyX");
    ini.Map(7, "/dev/null");  // not a terminal
    const std::pair<int, QString> rows[] = {
        {0, "device: デバイスがありません (No such device)"},
        {6, "open: ファイルまたはフォルダがありません (No such file or directory)"},
        {7, "tcgetattr: シリアルポートではありません (Inappropriate ioctl for device)"}};
    for (const auto& [port, cause] : rows) {
        SCOPED_TRACE(port);
        comm.SetPortNo(port);
        EXPECT_EQ(ErrorOf([&] { comm.PortOpen(); }), kOpenFailed + " (" + cause + ")");
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.Handle(), -1);
    }
}

TEST_F(CommXTest, ASecondOpenOfTheDeviceFails) {
    comm.PortOpen();
    TSerialPort other;
    other.SetIniPath(ini.Path());
    other.SetPortNo(kPort);
    EXPECT_EQ(ErrorOf([&] { other.PortOpen(); }), kBusy);
    EXPECT_FALSE(other.IsOpen());
    // Another program that locks the device is kept out too ...
    const QString path = pty.Path();
    EXPECT_EQ(WaitProgram(StartProgram({"flock", "-n", "-E", "42", path, "true"})), 42);
    // ... and one that holds the lock keeps us out.
    comm.PortClose();
    other.PortOpen();
    other.PortClose();
    // The holder is one process (no fork): once it has been reaped its descriptor, and with it
    // the lock, is gone, with no child left behind that might still hold it.
    const pid_t holder = StartProgram({"flock", "--no-fork", path, "sleep", "30"});
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(PumpUntil([&] {
        return WaitProgram(StartProgram({"flock", "-n", "-E", "42", path, "true"})) == 42;
    }));
    EXPECT_EQ(ErrorOf([&] { comm.PortOpen(); }), kBusy);
    kill(holder, SIGKILL);
    WaitProgram(holder);
    EXPECT_NO_THROW(comm.PortOpen());
}

TEST_F(CommXTest, EachFlowModeSetsItsTerminalFlagsAndRestLines) {
    std::mutex m;
    std::vector<std::pair<int, bool>> lines;
    comm.SetModemLineProbe([&](int line, bool on) {
        std::lock_guard<std::mutex> lk(m);
        lines.emplace_back(line, on);
    });
    comm.SetXonChar(0x11);
    comm.SetXoffChar(0x13);
    comm.PortOpen();
    struct Case {
        TCommFlowCtrls flow;
        bool crtscts, ixon, rts;
    };
    for (const Case& c :
         {Case{cfcDtrDsr, false, false, true}, Case{cfcXonXoff, false, true, true},
          Case{cfcHalfHigh, false, false, false}, Case{cfcHalfLow, false, false, true},
          Case{cfcNone, false, false, true}, Case{cfcRtsCts, true, false, true}}) {
        SCOPED_TRACE(static_cast<int>(c.flow));
        {
            std::lock_guard<std::mutex> lk(m);
            lines.clear();
        }
        comm.SetFlowCtrl(c.flow);
        // The terminal keeps what the mode asks for.
        const termios t = Modes();
        EXPECT_EQ(static_cast<bool>(t.c_cflag & CRTSCTS), c.crtscts);
        EXPECT_EQ(static_cast<bool>(t.c_iflag & IXON), c.ixon);
        std::lock_guard<std::mutex> lk(m);
        const std::vector<std::pair<int, bool>> want = {{TIOCM_DTR, true}, {TIOCM_RTS, c.rts}};
        EXPECT_EQ(lines, want);
    }
    // Closing drops DTR, then RTS.
    {
        std::lock_guard<std::mutex> lk(m);
        lines.clear();
    }
    comm.PortClose();
    const std::vector<std::pair<int, bool>> closing = {{TIOCM_DTR, false}, {TIOCM_RTS, false}};
    EXPECT_EQ(lines, closing);
}

TEST_F(CommXTest, LineSettingsApplyWhileOpen) {
    comm.PortOpen();
    comm.SetBitRate(19200);
    comm.SetStopBit(csb2);
    comm.SetXonChar('A');
    comm.SetXoffChar('B');
    const termios t = Modes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cc[VSTART], 'A');
    EXPECT_EQ(t.c_cc[VSTOP], 'B');
    // A pseudo-terminal always runs 8 data bits without parity: it refuses the others, and the
    // driver says so instead of running on with a line that is not what was asked.
    EXPECT_TRUE(ErrorOf([&] { comm.SetCharSize(7); }).startsWith("通信ビット数の設定でエラー"));
    EXPECT_EQ(ErrorOf([&] { comm.SetCharSize(8); }), "");
    EXPECT_TRUE(ErrorOf([&] {
                    comm.SetParityBit(cpbEven);
                }).startsWith("通信パリティチェックの設定でエラー"));
    EXPECT_EQ(ErrorOf([&] { comm.SetParityBit(cpbNone); }), "");
    // The settings are the line's from the next open on as well.
    comm.PortClose();
    comm.SetBitRate(4800);
    comm.PortOpen();
    const termios u = Modes();
    EXPECT_EQ(cfgetospeed(&u), static_cast<speed_t>(B4800));
    EXPECT_TRUE(u.c_cflag & CSTOPB);
    EXPECT_EQ(u.c_cc[VSTART], 'A');
}

TEST_F(CommXTest, RefusedSettingsThrowTheirMessageAndKeepTheValue) {
    comm.PortOpen();
    struct Case {
        std::function<void()> bad, undo;
        QString message;
    };
    const Case cases[] = {
        {[&] { comm.SetBitRate(12345); }, [&] { comm.SetBitRate(9600); },
         "通信速度の設定でエラーが発生しました"},
        {[&] { comm.SetCharSize(9); }, [&] { comm.SetCharSize(8); },
         "通信ビット数の設定でエラーが発生しました"},
        {[&] { comm.SetParityBit(static_cast<TCommParityBits>(7)); },
         [&] { comm.SetParityBit(cpbNone); }, "通信パリティチェックの設定でエラーが発生しました"},
        {[&] { comm.SetStopBit(csb1p5); }, [&] { comm.SetStopBit(csb1); },
         "通信ストップビット数の設定でエラーが発生しました"},
        {[&] { comm.SetFlowCtrl(static_cast<TCommFlowCtrls>(6)); },
         [&] { comm.SetFlowCtrl(cfcNone); }, "通信フロー制御の設定で失敗しました"},
        {[&] { comm.SetTimeOutTrans(-1); }, [&] { comm.SetTimeOutTrans(3000); },
         "通信タイムアウト時間の設定で失敗しました"},
        {[&] { comm.SetTimeOutReceive(-5); }, [&] { comm.SetTimeOutReceive(3000); },
         "通信タイムアウト時間の設定で失敗しました"},
        {[&] { comm.SetXonChar(19); }, [&] { comm.SetXonChar(17); },
         "Ｘｏｎ文字の設定でエラーが発生しました"},
        {[&] { comm.SetXoffChar(17); }, [&] { comm.SetXoffChar(19); },
         "Ｘｏｆｆ文字の設定でエラーが発生しました"},
        {[&] { comm.SetBufLenTrans(0); }, [&] { comm.SetBufLenTrans(2048); },
         "通信用ポートのバッファを準備できませんでした"},
        {[&] { comm.SetBufLenReceive(-1); }, [&] { comm.SetBufLenReceive(2048); },
         "通信用ポートのバッファを準備できませんでした"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        EXPECT_EQ(ErrorOf(c.bad), c.message);
        EXPECT_TRUE(comm.IsOpen());
        EXPECT_NO_THROW(c.undo());
    }
    EXPECT_EQ(comm.BitRate(), 9600);
    // The refused value is kept as the property's value.
    EXPECT_EQ(ErrorOf([&] { comm.SetCharSize(3); }), "通信ビット数の設定でエラーが発生しました");
    EXPECT_EQ(comm.CharSize(), 3);
}

TEST_F(CommXTest, ARefusedSettingAtOpenLeavesThePortClosedAndFree) {
    comm.SetStopBit(csb1p5);  // 8 data bits: no device does this
    EXPECT_EQ(ErrorOf([&] { comm.PortOpen(); }),
              QStringLiteral("通信ストップビット数の設定でエラーが発生しました"));
    EXPECT_FALSE(comm.IsOpen());
    comm.SetStopBit(csb2);
    EXPECT_NO_THROW(comm.PortOpen());
    EXPECT_TRUE(Modes().c_cflag & CSTOPB);
}

TEST_F(CommXTest, ABlockIsQueuedInChunksOfBufLenTransAndWrittenInOrder) {
    OpenHeld();
    const QByteArray data = Pattern(5000);
    ASSERT_TRUE(comm.TransString(data));
    // Returned at once: everything is queued, the first chunk held by the flow control.
    EXPECT_EQ(comm.GetTransLength(), 5000);
    ASSERT_TRUE(PumpUntil(
        [&] { return comm.PendingBlocks().size() == 3 && comm.PendingBlocks().front() == 2048; }));
    EXPECT_EQ(comm.PendingBlocks(), (std::vector<int>{2048, 2048, 904}));
    pty.Write("\x11");
    EXPECT_EQ(pty.Read(5000), data);
    EXPECT_TRUE(PumpUntil([&] { return comm.GetTransLength() == 0; }));
    EXPECT_TRUE(comm.PendingBlocks().empty());
}

TEST_F(CommXTest, TheQueueHoldsAtMost32BlocksAndTheCallerWaitsProcessingEvents) {
    comm.SetBufLenTrans(16);
    OpenHeld();
    size_t most = 0;
    int ticks = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        most = std::max(most, comm.PendingBlocks().size());
        if (++ticks == 30)
            pty.Write("\x11");  // release the line at the 30th tick
    });
    watch.start(10);
    const QByteArray data = Pattern(16 * 50);
    ASSERT_TRUE(comm.TransString(data));
    watch.stop();
    EXPECT_GE(ticks, 30);  // the timer ran inside the wait, which lasted until the release
    EXPECT_EQ(most, 32u);
    EXPECT_EQ(pty.Read(data.size()), data);
}

TEST_F(CommXTest, AWriteHeldBeyondTimeOutTransDropsTheRestOfItsBlock) {
    comm.SetTimeOutTrans(200);
    OpenHeld();
    ASSERT_TRUE(comm.TransString("held"));
    EXPECT_TRUE(PumpUntil([&] { return comm.GetTransLength() == 0; }, 1500));
    pty.Write("\x11");
    EXPECT_TRUE(pty.ReadFor(200).isEmpty());
    ASSERT_TRUE(comm.TransString("next"));
    EXPECT_EQ(pty.Read(4), "next");
}

TEST_F(CommXTest, ClearTransBufDropsEverythingPending) {
    OpenHeld();
    ASSERT_TRUE(comm.TransString(Pattern(5000)));
    ASSERT_TRUE(PumpUntil([&] { return comm.PendingBlocks().size() == 3; }));
    comm.ClearTransBuf();
    EXPECT_EQ(comm.GetTransLength(), 0);
    EXPECT_TRUE(comm.PendingBlocks().empty());
    pty.Write("\x11");
    EXPECT_TRUE(pty.ReadFor(200).isEmpty());
    ASSERT_TRUE(comm.TransString("after"));
    EXPECT_EQ(pty.Read(5), "after");
}

TEST_F(CommXTest, ReceivedBytesAreNotifiedWithTheirCountAndReadOnTheGuiThread) {
    QByteArray got;
    std::vector<int> sizes;
    const auto mainThread = std::this_thread::get_id();
    comm.SetOnReceive([&](TSerialDriver* sender, int n) {
        EXPECT_EQ(sender, &comm);
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        sizes.push_back(n);
        QByteArray buf(n, '\0');
        EXPECT_EQ(comm.ReceiveBlock(buf.data(), n), n);
        got += buf;
    });
    comm.PortOpen();
    const QByteArray data = Pattern(3000);
    pty.Write(data);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == data.size(); }));
    EXPECT_EQ(got, data);
    for (int n : sizes)
        EXPECT_GT(n, 0);
    EXPECT_EQ(comm.GetReceiveLength(), 0);
}

TEST_F(CommXTest, BytesAHandlerLeavesAreCountedAgainWithoutSpinning) {
    std::vector<int> sizes;
    bool take = false;
    comm.SetOnReceive([&](TSerialDriver*, int n) {
        sizes.push_back(n);
        if (!take)
            return;
        char buf[64];
        comm.ReceiveBlock(buf, n);
    });
    comm.PortOpen();
    pty.Write("abc");
    ASSERT_TRUE(PumpUntil([&] { return !sizes.empty(); }));
    PumpFor(400);
    EXPECT_EQ(sizes, std::vector<int>{3});
    take = true;
    pty.Write("de");
    ASSERT_TRUE(PumpUntil([&] { return sizes.size() == 2; }));
    EXPECT_EQ(sizes.back(), 5);
    EXPECT_EQ(comm.GetReceiveLength(), 0);
}

TEST_F(CommXTest, AFullInputQueueHoldsTheLineUntilThereIsRoom) {
    comm.SetBufLenReceive(64);
    comm.PortOpen();
    const QByteArray data = Pattern(1000);
    pty.Write(data);
    ASSERT_TRUE(PumpUntil([&] { return comm.GetReceiveLength() == 64; }));
    PumpFor(300);
    EXPECT_EQ(comm.GetReceiveLength(), 64);
    QByteArray got;
    while (got.size() < data.size()) {
        char buf[100];
        const int n = comm.ReceiveBlock(buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, n);
    }
    EXPECT_EQ(got, data);
}

TEST_F(CommXTest, ReceiveBlockWaitsAtMostTimeOutReceive) {
    comm.SetTimeOutReceive(300);
    comm.PortOpen();
    TScriptClock clock;
    comm.SetClock(&clock);
    char buf[10];
    EXPECT_EQ(comm.ReceiveBlock(buf, 10), 0);
    EXPECT_EQ(clock.ElapsedMs(), 300u);

    // Bytes that come within the time-out end the wait as soon as they are there.
    clock.At(400, [&] {
        pty.Write("xyz");
        EXPECT_TRUE(PumpUntil([&] { return comm.GetReceiveLength() == 3; }));
    });
    EXPECT_EQ(comm.ReceiveBlock(buf, 3), 3);
    EXPECT_EQ(clock.ElapsedMs(), 400u);
    EXPECT_EQ(QByteArray(buf, 3), "xyz");
    comm.SetClock(&SystemClock());

    pty.Write("q");
    EXPECT_EQ(comm.ReceiveChar(), 'q');
    pty.Write("12345");
    ASSERT_TRUE(PumpUntil([&] { return comm.GetReceiveLength() == 5; }));
    comm.ClearReceiveBuf();
    EXPECT_EQ(comm.GetReceiveLength(), 0);
    comm.SetTimeOutReceive(0);  // reads return what is there
    EXPECT_EQ(comm.ReceiveBlock(buf, 10), 0);
}

TEST_F(CommXTest, AHandlerMayCloseOrDeleteItsComponent) {
    int calls = 0;
    comm.SetOnReceive([&](TSerialDriver* s, int) {
        ++calls;
        s->PortClose();
    });
    comm.PortOpen();
    pty.Write("a");
    ASSERT_TRUE(PumpUntil([&] { return !comm.IsOpen(); }));
    pty.Write("b");
    PumpFor(100);
    EXPECT_EQ(calls, 1);

    auto* c = new TSerialPort;
    c->SetIniPath(ini.Path());
    c->SetPortNo(kPort);
    c->SetOnReceive([&](TSerialDriver* s, int) {
        ++calls;
        delete s;
    });
    c->PortOpen();
    pty.Write("c");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    pty.Write("d");
    PumpFor(100);
    EXPECT_EQ(calls, 2);
    EXPECT_NO_THROW(comm.PortOpen());  // the device is free again
}

TEST_F(CommXTest, DestroyingWhileTheWatchThreadWaitsForTheGuiThreadIsSafe) {
    for (int i = 0; i < 5; ++i) {
        auto* c = new TSerialPort;
        c->SetIniPath(ini.Path());
        c->SetPortNo(kPort);
        bool called = false;
        c->SetOnReceive([&](TSerialDriver*, int) { called = true; });
        c->PortOpen();
        c->TransString(Pattern(300));
        pty.Write("data");
        // Without events processed, the watch thread comes to wait in its hand-over.
        TReplyTimer t;
        t.Start();
        while (c->PendingNotifications() == 0 && !t.Elapsed(5000))
            std::this_thread::yield();
        ASSERT_EQ(c->PendingNotifications(), 1);
        delete c;
        PumpFor(30);
        EXPECT_FALSE(called);
        pty.ReadFor(10);
    }
}

TEST_F(CommXTest, RepeatedOpenAndCloseUnderTrafficInBothDirections) {
    std::atomic<bool> stop{false};
    std::atomic<long> echoed{0};
    // The far end sends all the time and swallows what it gets.
    const int master = pty.Master();
    std::thread farEnd([&] {
        const QByteArray chunk = Pattern(97);
        char buf[4096];
        while (!stop) {
            if (write(master, chunk.constData(), chunk.size()) > 0)
                ++echoed;
            while (read(master, buf, sizeof buf) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    long received = 0;
    comm.SetOnReceive([&](TSerialDriver* s, int n) {
        char buf[4096];
        const int got = s->ReceiveBlock(buf, std::min<int>(n, sizeof buf));
        if (got > 0)
            received += got;
    });
    for (int i = 0; i < 40; ++i) {
        ASSERT_NO_THROW(comm.PortOpen());
        EXPECT_TRUE(comm.TransString(Pattern(100 + i * 37)));
        PumpFor(i % 7);
        comm.PortClose();
    }
    stop = true;
    farEnd.join();
    EXPECT_GT(received, 0);
    EXPECT_GT(echoed.load(), 0);
}

TEST_F(CommXTest, AVanishedFarEndIsReportedOnceAndThePortOpensAgain) {
    int lost = 0;
    comm.SetOnLineLost([&](TSerialDriver*) { ++lost; });
    comm.SetOnReceive([&](TSerialDriver* s, int n) {
        char buf[64];
        s->ReceiveBlock(buf, std::min(n, 64));
    });
    comm.PortOpen();
    ASSERT_TRUE(comm.TransString("hello"));
    EXPECT_EQ(pty.Read(5), "hello");
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return lost == 1; }));
    EXPECT_TRUE(comm.LineLost());
    EXPECT_TRUE(comm.IsOpen());

    // The loss is told once, and nothing waits on the dead descriptor.
    PumpFor(400);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(comm.TransString("more"));
    TScriptClock clock;
    comm.SetClock(&clock);
    char buf[4];
    EXPECT_EQ(comm.ReceiveBlock(buf, 4), 0);
    EXPECT_EQ(clock.ElapsedMs(), 0u);
    comm.SetClock(&SystemClock());

    comm.PortClose();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(ErrorOf([&] { comm.PortOpen(); }).startsWith(kOpenFailed));

    // The device comes back (under another name, as a replugged adapter may).
    PtyPair again;
    ini.Map(kPort, again.Path());
    ASSERT_NO_THROW(comm.PortOpen());
    EXPECT_FALSE(comm.LineLost());
    ASSERT_TRUE(comm.TransString("back"));
    EXPECT_EQ(again.Read(4), "back");
}

TEST_F(CommXTest, HalfDuplexSwitchesRtsOnceAroundEachBatch) {
    for (TCommFlowCtrls flow : {cfcHalfHigh, cfcHalfLow}) {
        SCOPED_TRACE(static_cast<int>(flow));
        const bool active = flow == cfcHalfHigh;
        std::mutex m;
        std::vector<bool> rts;
        comm.SetModemLineProbe([&](int line, bool on) {
            if (line != TIOCM_RTS)
                return;
            std::lock_guard<std::mutex> lk(m);
            rts.push_back(on);
        });
        comm.SetFlowCtrl(flow);
        comm.SetBitRate(1200);
        comm.PortOpen();
        {
            std::lock_guard<std::mutex> lk(m);
            ASSERT_FALSE(rts.empty());
            EXPECT_EQ(rts.back(), !active);  // at rest
            rts.clear();
        }
        ASSERT_TRUE(comm.TransString("abc"));
        ASSERT_TRUE(comm.TransString("def"));
        EXPECT_EQ(pty.Read(6), "abcdef");
        ASSERT_TRUE(PumpUntil([&] {
            std::lock_guard<std::mutex> lk(m);
            return rts.size() >= 2;
        }));
        PumpFor(100);
        comm.PortClose();
        comm.SetModemLineProbe(nullptr);
        rts.resize(std::min<size_t>(rts.size(), 3));  // leave out the close's own switch
        ASSERT_EQ(rts.size(), 3u);                    // once around both blocks
        EXPECT_EQ(rts[0], active);
        EXPECT_EQ(rts[1], !active);
    }
}
