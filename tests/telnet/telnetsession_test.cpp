// The telnet session against netboard-sim and against scripted boards, on port 23 of its own
// loopback address 127.0.4.N per test: login, the waits and reads, the log lines and the
// receive buffer's bound.
#include "telnet/telnetsession.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <netdb.h>
#include <QFile>
#include <QPushButton>
#include <atomic>
#include <memory>

#include "app/telnetwindow.h"
#include "core/settings.h"
#include "scriptpeer.h"
#include "support/linelog.h"
#include "support/modal.h"
#include "support/scriptclock.h"
#include "support/simprocess.h"
#include "telnet/telneterrors.h"

// Every name lookup of this process is counted, so a test can tell that none was made.
std::atomic<int> g_nameLookups{0};

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** res) {
    ++g_nameLookups;
    using Fn = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, res);
}

namespace {

const QString kTimeout = QString::fromUtf8(kTimeoutLine);

QString Address(int n) {
    return QStringLiteral("127.0.4.%1").arg(n);
}

TBoardParams ParamsFor(int n) {
    TBoardParams p;
    p.TCPIP1_1 = 127;
    p.TCPIP1_2 = 0;
    p.TCPIP1_3 = 4;
    p.TCPIP1_4 = n;
    return p;
}

std::unique_ptr<SimProcess> StartSim(int n, const QStringList& extra = {}) {
    QStringList args{"telnet", "--address", Address(n), "--port", "23"};
    args += extra;
    return std::make_unique<SimProcess>(args);
}

// A scripted board on port 23: asks "PASSWORD:" and takes the password line, which arrives as
// "KXW" CR LF LF since the board sends no IAC.
void Login(ScriptPeer& p) {
    ASSERT_TRUE(p.Accept());
    p.Send("PASSWORD:");
    ASSERT_EQ(p.Read(6), QByteArray("KXW\r\n\n"));
}

struct Pane {
    TLineLog log;
    int Count(const QString& line) const { return static_cast<int>(log.Lines().count(line)); }
    bool HasPrefix(const QString& prefix) const {
        for (const QString& l : log.Lines())
            if (l.startsWith(prefix))
                return true;
        return false;
    }
};

class TelnetSession : public ::testing::Test {
  protected:
    std::unique_ptr<TTelnetSession> Open(const TBoardParams& params,
                                         TClock* clock = &SystemClock()) {
        return std::make_unique<TTelnetSession>(nullptr, &pane.log, params, clock);
    }
    std::unique_ptr<TTelnetSession> Open(int n, TClock* clock = &SystemClock()) {
        return Open(ParamsFor(n), clock);
    }
    // One command line, as the procedures send it.
    static void Send(TTelnetSession& s, const QByteArray& line) {
        s.ClearReceived();
        s.SendText(line);
    }
    Pane pane;
};

TEST_F(TelnetSession, LogsInAndExchangesLines) {
    const QString transcript = TempPath("telnet-transcript");
    auto sim = StartSim(100, {"--transcript", transcript});
    ASSERT_TRUE(sim->Started());
    auto s = Open(100);
    const QStringList lines = pane.log.Lines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("Connect"));
    EXPECT_EQ(lines[1], QStringLiteral("Connected"));
    EXPECT_TRUE(lines.contains("PASSWORD:"));
    EXPECT_TRUE(pane.HasPrefix("RX0;0D 0A 50 41 53 53 57 4F 52 44 3A "));
    EXPECT_EQ(pane.Count(QStringLiteral("TX:4B 58 57 0D 0A ")), 1);
    EXPECT_EQ(pane.Count(kTimeout), 0);
    EXPECT_TRUE(s->Connected());

    // The board answers only after a login.
    Send(*s, "\r\n");
    EXPECT_TRUE(s->WaitPrompt());
    Send(*s, "mask=24\r\n");
    EXPECT_TRUE(s->WaitOk(9));
    Send(*s, "save\r\n");
    EXPECT_TRUE(s->WaitReply(6, ">OK"));
    Send(*s, "l_ip\r\n");
    EXPECT_TRUE(s->ReadReplyLine());
    EXPECT_EQ(s->ReplyLine(), Address(100));  // the board is reached where it says it is
    Send(*s, "madr\r\n");
    EXPECT_TRUE(s->ReadZeroReplyLine(6));
    EXPECT_EQ(s->ReplyLine(), QStringLiteral("02-5A-C3-00-01-C9"));
    EXPECT_EQ(pane.Count(kTimeout), 0);
    s.reset();

    QFile f(transcript);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\nmask=24\nsave\nl_ip\nmadr\n"));
    QFile::remove(transcript);
}

TEST_F(TelnetSession, AWordWithCapitalPBeforeThePromptEndsTheWaitWithoutLogin) {
    auto sim = StartSim(101, {"--please"});
    ASSERT_TRUE(sim->Started());
    auto s = Open(101);
    EXPECT_FALSE(pane.HasPrefix("TX:"));
    EXPECT_EQ(pane.Count(kTimeout), 0);
    EXPECT_TRUE(s->Connected());
}

TEST_F(TelnetSession, NoPromptTimesOutAndStaysConnected) {
    auto sim = StartSim(102, {"--no-password"});
    ASSERT_TRUE(sim->Started());
    TScriptClock clock;
    auto s = Open(102, &clock);
    EXPECT_EQ(clock.ElapsedMs(), 2000u);
    EXPECT_EQ(pane.Count(kTimeout), 1);
    EXPECT_FALSE(pane.HasPrefix("TX:"));
    EXPECT_TRUE(s->Connected());
    s->SetClock(&SystemClock());
    Send(*s, "save\r\n");
    EXPECT_TRUE(s->WaitOk(6));
}

TEST_F(TelnetSession, AnswerOtherThanExpectedIsFalseAtOnceWithoutALogLine) {
    auto sim = StartSim(103, {"--lowercase", "--refuse", "mask"});
    ASSERT_TRUE(sim->Started());
    auto s = Open(103);
    Send(*s, "save\r\n");
    EXPECT_FALSE(s->WaitOk(6));  // ">ok"
    Send(*s, "mask=8\r\n");
    EXPECT_FALSE(s->WaitOk(8));  // ">NG"
    EXPECT_EQ(pane.Count(kTimeout), 0);
}

TEST_F(TelnetSession, SilentBoardTimesOutEachRead) {
    auto sim = StartSim(105, {"--no-password", "--silent", "--no-echo"});
    ASSERT_TRUE(sim->Started());
    TScriptClock clock;
    auto s = Open(105, &clock);
    pane.log.Clear();
    for (const char* line : {"l_ip\r\n", "madr\r\n"}) {
        Send(*s, line);
        const bool read = line[0] == 'l' ? s->ReadReplyLine() : s->ReadZeroReplyLine(6);
        EXPECT_FALSE(read) << line;
        EXPECT_TRUE(s->ReplyLine().isEmpty());
    }
    EXPECT_EQ(clock.ElapsedMs(), 3 * 2000u);  // the password wait and both reads
    EXPECT_EQ(pane.Count(kTimeout), 2);
}

TEST_F(TelnetSession, ZeroReplyLinePassesOverOtherAnswers) {
    auto sim = StartSim(106);
    ASSERT_TRUE(sim->Started());
    auto s = Open(106);
    Send(*s, "madr=12-34-56-78-9A-BC\r\n");
    ASSERT_TRUE(s->WaitOk(24));
    Send(*s, "madr\r\n");
    ASSERT_TRUE(PumpUntil([&] { return s->Received().contains("9A-BC\r"); }));
    TScriptClock clock;
    s->SetClock(&clock);
    pane.log.Clear();
    EXPECT_FALSE(s->ReadZeroReplyLine(6));
    EXPECT_EQ(pane.Count(kTimeout), 1);
    // The plain read takes it.
    EXPECT_TRUE(s->ReadReplyLine());
    EXPECT_EQ(s->ReplyLine(), QStringLiteral("12-34-56-78-9A-BC"));
    EXPECT_EQ(clock.ElapsedMs(), 2000u);
}

TEST_F(TelnetSession, LogFormats) {
    ScriptPeer p("127.0.4.109", 23);
    p.RunScript(Login);
    auto s = Open(109);
    p.JoinScript();
    // Each chunk is handed over before the next is sent.
    const QByteArray chunks[] = {"\x4F\x4B\x0D\x0A",
                                 QByteArray("\xFF\xF1", 2),       // telnet commands only
                                 QByteArray("\x82\xFF\xFF", 3)};  // 0x82 and a doubled IAC
    for (const QByteArray& chunk : chunks) {
        const int logged = pane.log.LineCount();
        p.Send(chunk);
        ASSERT_TRUE(PumpUntil([&] { return pane.log.LineCount() > logged; }));
    }
    ASSERT_TRUE(PumpUntil([&] { return s->ReceivedCount() == 9 + 4 + 2; }));
    const QStringList lines = pane.log.Lines();
    const int ok = static_cast<int>(lines.indexOf("RX0;4F 4B 0D 0A "));
    ASSERT_GE(ok, 0);
    EXPECT_EQ(lines.mid(ok, 5), QStringList({"RX0;4F 4B 0D 0A ", "RX:OK", "", "RX0;", "RX:"}));
    EXPECT_EQ(pane.Count("RX0;82 FF "), 1);

    Send(*s, "save\r\n");
    EXPECT_EQ(pane.log.Lines().last(), QStringLiteral("TX:73 61 76 65 0D 0A "));
    Send(*s, QByteArray("\x82\r\n"));
    EXPECT_EQ(pane.log.Lines().last(), QStringLiteral("TX:82 0D 0A "));

    // Data arriving at an empty pane is preceded by one empty line.
    pane.log.Clear();
    s.reset();
}

TEST_F(TelnetSession, EmptyPaneGetsAnEmptyLineFirstAndLoggingCanBeOff) {
    ScriptPeer p("127.0.4.110", 23);
    p.RunScript(Login);
    TBoardParams params = ParamsFor(110);
    params.fDispRecInfo = 0;
    auto s = Open(params);
    p.JoinScript();
    EXPECT_EQ(pane.log.Lines(), QStringList({"Connect", "Connected"}));
    EXPECT_EQ(TTelnetSession::DispRecInfo(), 0);
    pane.log.Clear();
    p.Send("z");
    ASSERT_TRUE(PumpUntil([&] { return s->ReceivedCount() >= 10; }));
    EXPECT_EQ(pane.log.Lines(), QStringList({""}));
    EXPECT_EQ(s->Received(), QByteArray("PASSWORD:z"));
}

TEST_F(TelnetSession, LogPaneIsClearedAt250Lines) {
    auto sim = StartSim(111);
    ASSERT_TRUE(sim->Started());
    auto s = Open(111);
    pane.log.Clear();
    for (int i = 0; i < 249; ++i)
        pane.log.Append(QString::number(i));
    s->LogLine("a");
    EXPECT_EQ(pane.log.LineCount(), 250);
    EXPECT_EQ(pane.log.Lines().last(), QStringLiteral("a"));
    s->LogLine("b");
    EXPECT_EQ(pane.log.Lines(), QStringList({"b"}));
}

TEST_F(TelnetSession, ReceiveBufferKeepsItsFirst16000Bytes) {
    ScriptPeer p("127.0.4.112", 23);
    QByteArray flood;
    for (int i = 0; i < 20000; ++i)
        flood.append(static_cast<char>('a' + i % 26));
    p.RunScript(Login);
    TBoardParams params = ParamsFor(112);
    params.fDispRecInfo = 0;
    auto s = Open(params);
    p.JoinScript();
    s->ClearReceived();
    p.Send(flood + "end");
    ASSERT_TRUE(PumpUntil([&] { return s->ReceivedCount() == 16000; }));
    PumpFor(100);
    EXPECT_EQ(s->Received(), flood.left(16000));
    // After a clear the next bytes start at the front again.
    s->ClearReceived();
    p.Send("next");
    ASSERT_TRUE(PumpUntil([&] { return s->ReceivedCount() == 4; }));
    EXPECT_EQ(s->Received(), QByteArray("next"));
}

TEST_F(TelnetSession, ConnectFailureLeavesTheConstructorWithItsErrorAndLogsWhereTo) {
    try {
        Open(113);
        FAIL() << "opened without a board";
    } catch (const ETelnetConnectError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("server not responding"));
    }
    EXPECT_EQ(pane.log.Lines(),
              QStringList(
                  {"Connect",
                   "127.0.4.113:23 に接続できません: 接続を拒否されました (Connection refused)"}));
}

TEST_F(TelnetSession, TargetThatIsNoDottedAddressNeverReachesTheResolver) {
    for (const std::array<int, 4>& ip : {std::array<int, 4>{300, 16, 77, 170},
                                         {-1, 16, 77, 170},
                                         {127, 0, 4, 256},
                                         {127, -0, 4, -7}}) {
        TBoardParams params;
        params.TCPIP1_1 = ip[0];
        params.TCPIP1_2 = ip[1];
        params.TCPIP1_3 = ip[2];
        params.TCPIP1_4 = ip[3];
        pane.log.Clear();
        const int lookups = g_nameLookups;
        try {
            Open(params);
            ADD_FAILURE() << params.OwnIpText().toStdString() << " opened";
        } catch (const ETelnetConnectError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("server not responding"));
        }
        EXPECT_EQ(g_nameLookups, lookups) << params.OwnIpText().toStdString();
        EXPECT_EQ(pane.log.Lines().value(0), "Connect");
        EXPECT_EQ(pane.log.LineCount(), 2);
    }
}

TEST_F(TelnetSession, EachTextLeavesInOneWriteByTheCrRule) {
    // Rows: whether the board has sent IAC, the text, the bytes the board receives in one go.
    struct Row {
        bool telnet;
        QByteArray text, wire;
    };
    const std::vector<Row> rows = {
        {false, "save\r\n", "save\r\n\n"},
        {false, "x\ry", "x\r\ny"},
        {true, "\r\n", "\r\n"},
        {true, "madr=02-5A-C3-00-01-C9\r\n", "madr=02-5A-C3-00-01-C9\r\n"},
        {true,
         QByteArray("a\xff"
                    "b\r\n"),
         QByteArray("a\xff\xff"
                    "b\r\n")},
    };
    for (bool telnet : {false, true}) {
        ScriptPeer p(telnet ? "127.0.11.2" : "127.0.11.3", 23);
        p.RunScript([telnet](ScriptPeer& b) {
            ASSERT_TRUE(b.Accept());
            if (telnet) {  // WILL ECHO, answered with DO ECHO
                b.Send(QByteArray("\xff\xfb\x01", 3));
                ASSERT_EQ(b.Read(3), QByteArray("\xff\xfd\x01", 3));
            }
            b.Send("PASSWORD:");
            EXPECT_EQ(b.ReadOnce(), telnet ? QByteArray("KXW\r\n") : QByteArray("KXW\r\n\n"));
        });
        TBoardParams params = ParamsFor(0);
        params.TCPIP1_2 = 0;
        params.TCPIP1_3 = 11;
        params.TCPIP1_4 = telnet ? 2 : 3;
        auto s = Open(params);
        p.JoinScript();
        for (const Row& r : rows) {
            if (r.telnet != telnet)
                continue;
            Send(*s, r.text);
            EXPECT_EQ(p.ReadOnce(), r.wire) << r.text.toHex(' ').constData();
        }
    }
}

TEST_F(TelnetSession, WindowAndClose) {
    auto sim = StartSim(114);
    ASSERT_TRUE(sim->Started());
    auto s = Open(114);
    TTelnetWindow window(s.get());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("テルネットの制御"));
    EXPECT_EQ(window.size(), QSize(313, 214));
    auto* ok = window.findChild<QPushButton*>("OKBtn");
    auto* cancel = window.findChild<QPushButton*>("CancelBtn");
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_EQ(cancel->text(), QStringLiteral("キャンセル"));
    EXPECT_EQ(ok->geometry(), QRect(79, 180, 75, 25));
    EXPECT_EQ(cancel->geometry(), QRect(159, 180, 75, 25));
    EXPECT_TRUE(ok->isDefault());

    OnNextModal([](QWidget* w) { w->findChild<QPushButton*>("CancelBtn")->click(); });
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_FALSE(s->Connected());
    s->Disconnect();  // closing again does nothing
}

TEST_F(TelnetSession, BoardThatHangsUpAfterLogin) {
    auto sim = StartSim(115, {"--hangup-after-login"});
    ASSERT_TRUE(sim->Started());
    auto s = Open(115);
    EXPECT_TRUE(PumpUntil([&] { return !s->Connected(); }));
    Send(*s, "save\r\n");  // nothing goes out, and nothing is thrown
    pane.log.Clear();
    EXPECT_FALSE(s->WaitOk(6));
    EXPECT_EQ(pane.Count(kTimeout), 1);
}

TEST_F(TelnetSession, WrongPasswordIsNotReportedByTheOpen) {
    // The open sends the configured password and returns; a board that refuses it and hangs
    // up leaves a session that is no longer connected.
    auto sim = StartSim(121, {"--password", "OTHER", "--hangup-wrong"});
    ASSERT_TRUE(sim->Started());
    auto s = Open(121);
    EXPECT_EQ(pane.Count("TX:4B 58 57 0D 0A "), 1);
    EXPECT_TRUE(PumpUntil([&] { return !s->Connected(); }));
}

TEST_F(TelnetSession, SplitNegotiationAndAPlainBoard) {
    for (const QStringList& mode : {QStringList{"--split"}, QStringList{"--no-iac"}}) {
        const int n = mode[0] == "--split" ? 116 : 117;
        auto sim = StartSim(n, mode);
        ASSERT_TRUE(sim->Started());
        pane.log.Clear();
        auto s = Open(n);
        EXPECT_EQ(pane.Count("TX:4B 58 57 0D 0A "), 1) << mode[0].toStdString();
        Send(*s, "\r\n");
        EXPECT_TRUE(s->WaitPrompt()) << mode[0].toStdString();
        Send(*s, "save\r\n");
        EXPECT_TRUE(s->WaitOk(6)) << mode[0].toStdString();
        if (n == 117) {
            // A board that never sent IAC gets CR LF for CR: it answers after the CR LF and
            // echoes the extra LF after its answer (which may come in a later chunk, as may
            // the extra LF of the wake line before). The dump shows the text, not the wire.
            EXPECT_TRUE(PumpUntil([&] { return s->Received().endsWith("save\r\n>OK\n"); }))
                << s->Received().toHex(' ').constData();
            EXPECT_EQ(pane.log.Lines().filter("TX:").last(),
                      QStringLiteral("TX:73 61 76 65 0D 0A "));
        }
    }
}

TEST_F(TelnetSession, WithoutALogPane) {
    auto sim = StartSim(118);
    ASSERT_TRUE(sim->Started());
    auto s = std::make_unique<TTelnetSession>(nullptr, nullptr, ParamsFor(118));
    Send(*s, "save\r\n");
    EXPECT_TRUE(s->WaitOk(6));
}

}  // namespace
