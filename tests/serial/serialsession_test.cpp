// The serial session against netboard-sim on a pseudo-terminal, and against a far end the test
// plays itself where exact byte positions matter.
#include "serial/serialsession.h"

#include <gtest/gtest.h>

#include <memory>

#include "ptypair.h"
#include "serial/serialport.h"
#include "support/linelog.h"
#include "support/scriptclock.h"
#include "support/simprocess.h"

namespace {

constexpr int kPort = 9;
const QString kTimeout = QStringLiteral("レスポンス待ち　タイムオーバー");
const QByteArray kIpLine = "l_ip=10.16.77.170\r\n";  // 19 bytes

class SessionTest : public ::testing::Test {
  protected:
    // A session with the log pane, its port mapped to `device`.
    void Open(const QString& device) {
        ini.Map(kPort, device);
        session = std::make_unique<TSerialSession>(&log);
        session->Port()->SetIniPath(ini.Path());
        session->OpenPort(kPort);
        ASSERT_TRUE(session->Port()->IsOpen());
    }
    // The same on a fresh netboard-sim started with `switches`.
    void OpenSim(const QStringList& switches = {}) {
        sim = std::make_unique<SimProcess>(QStringList{"serial"} + switches);
        ASSERT_TRUE(sim->Started());
        Open(sim->FirstLine());
    }
    // One command line as the procedures send it.
    void Send(const QByteArray& line) {
        session->ClearReceived();
        session->SendText(line);
    }

    TLineLog log;
    PortIni ini;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TSerialSession> session;
};

}  // namespace

TEST_F(SessionTest, APortThatDoesNotOpenIsReportedToTheCallerAndLoggedWithItsCause) {
    ini.Map(5, "/nonexistent/tty");
    session = std::make_unique<TSerialSession>(&log);
    session->Port()->SetIniPath(ini.Path());
    const QString cause = QStringLiteral("ポートをオープンできませんでした (%1)");
    const QStringList lines = {
        "COM5 /nonexistent/tty: " +
            cause.arg(QStringLiteral(
                "open: ファイルまたはフォルダがありません (No such file or directory)")),
        "COM0: " + cause.arg(QStringLiteral("device: デバイスがありません (No such device)"))};
    for (int port : {5, 0}) {
        try {
            session->OpenPort(port);
            ADD_FAILURE() << "COM" << port << " opened";
        } catch (const EPortOpenError& e) {
            EXPECT_EQ(e.Message(),
                      QStringLiteral("COM%1がオープン出来ません!!\n\n"
                                     "  ポートを及びパラメータ設定を再確認してください。")
                          .arg(port));
            EXPECT_EQ(e.PortNo(), port);
            EXPECT_EQ(e.Cause(), log.Lines().last().section(QStringLiteral(": "), 1));
        }
        EXPECT_FALSE(session->Port()->IsOpen());
    }
    EXPECT_EQ(log.Lines(), lines);
    // With the port closed the driver refuses the bytes; nothing else happens.
    session->SendText("\r\n");
    EXPECT_EQ(log.Lines(), lines);
}

TEST_F(SessionTest, OpenPortClosesTheOldPortAndForgetsWhatWasReceived) {
    PtyPair first, second;
    ini.Map(3, second.Path());
    Open(first.Path());
    first.Write("abc");
    ASSERT_TRUE(PumpUntil([&] { return session->ReceivedCount() == 3; }));
    session->OpenPort(3);
    EXPECT_TRUE(session->Port()->IsOpen());
    EXPECT_EQ(session->Port()->PortNo(), 3);
    EXPECT_EQ(session->ReceivedCount(), 0);
    session->SendText("x");
    EXPECT_EQ(second.Read(1), "x");
    EXPECT_TRUE(first.ReadFor(50).isEmpty());
}

TEST_F(SessionTest, TheSkipCountCountsFromTheFirstByteSinceTheClear) {
    PtyPair board;
    Open(board.Path());
    // Position 20 (where the board puts ">") is not examined.
    session->ClearReceived();
    board.Write(kIpLine + "#OK");
    EXPECT_TRUE(session->WaitReply(20, "OK"));
    EXPECT_EQ(session->ReceivedCount(), 22);
    // The wake line's prompt is the third byte.
    session->ClearReceived();
    board.Write("\r\n>");
    EXPECT_TRUE(session->WaitPrompt());
    // Bytes from before a clear are never compared, although the buffer still holds them.
    session->ClearReceived();
    board.Write("abc");
    EXPECT_TRUE(session->WaitReply(0, "abc"));
    session->ClearReceived();
    board.Write("x");
    EXPECT_FALSE(session->WaitReply(0, "a"));
    EXPECT_EQ(session->Received(), "x");
    EXPECT_EQ(log.LineCount(), 0);
}

TEST_F(SessionTest, ALowerCaseOkIsRejectedAtOnce) {
    OpenSim({"--lowercase"});
    Send(kIpLine);
    EXPECT_FALSE(session->WaitOk(kIpLine.size()));
    EXPECT_EQ(session->Received(), kIpLine + ">ok");
    EXPECT_EQ(log.LineCount(), 0);
}

TEST_F(SessionTest, AnswersArrivingOneByteAtATime) {
    OpenSim({"--byte-delay", "10"});
    Send(kIpLine);
    EXPECT_TRUE(session->WaitOk(kIpLine.size()));
    // Recognised with its last byte: nothing beyond the answer had to come.
    EXPECT_EQ(session->Received(), kIpLine + ">OK");
    Send("madr\r\n");
    EXPECT_TRUE(session->ReadReplyLine());
    EXPECT_EQ(session->ReplyLine(), "02-5A-C3-00-01-C9");
    EXPECT_EQ(log.LineCount(), 0);
}

TEST_F(SessionTest, ASilentBoardGivesOneTimeOutLinePerWaitAfter2000Ms) {
    OpenSim({"--silent"});
    TScriptClock clock;
    session->SetClock(&clock);
    Send(kIpLine);
    ASSERT_TRUE(PumpUntil([&] { return session->Received() == kIpLine; }));
    EXPECT_FALSE(session->WaitOk(kIpLine.size()));
    EXPECT_EQ(clock.ElapsedMs(), 2000u);
    EXPECT_EQ(log.Lines(), QStringList{kTimeout});
    // A query whose echo has no ">": the reply line never starts.
    Send("madr\r\n");
    EXPECT_FALSE(session->ReadReplyLine());
    EXPECT_EQ(clock.ElapsedMs(), 4000u);
    EXPECT_EQ(log.Lines(), (QStringList{kTimeout, kTimeout}));
    EXPECT_EQ(session->ReplyLine(), "");
}

TEST_F(SessionTest, ReadReplyLineTakesTheTextAfterThePromptUpToTheCarriageReturn) {
    OpenSim({"--query-crlf"});
    Send("madr\r\n");
    EXPECT_TRUE(session->ReadReplyLine());
    EXPECT_EQ(session->ReplyLine(), "02-5A-C3-00-01-C9");
    EXPECT_EQ(session->Received().left(7), "madr\r\n>");
    // The board keeps what it is told.
    const QByteArray set = "l_pt=123\r\n";
    Send(set);
    EXPECT_TRUE(session->WaitOk(set.size()));
    Send("l_pt\r\n");
    EXPECT_TRUE(session->ReadReplyLine());
    EXPECT_EQ(session->ReplyLine(), "123");
    EXPECT_EQ(log.LineCount(), 0);
}

TEST_F(SessionTest, TheReceiveBufferKeepsItsFirst16387BytesAndDropsTheRest) {
    PtyPair board;
    Open(board.Path());
    QByteArray data(20000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + i / 256);
    board.Write(data);
    ASSERT_TRUE(PumpUntil([&] {
        return session->ReceivedCount() == 16387 && session->Port()->GetReceiveLength() == 0;
    }));
    PumpFor(100);
    EXPECT_EQ(session->ReceivedCount(), 16387);
    EXPECT_EQ(session->Received(), data.left(16387));
    session->ClearReceived();
    board.Write("z");
    ASSERT_TRUE(PumpUntil([&] { return session->ReceivedCount() == 1; }));
    EXPECT_EQ(session->Received(), "z");
}

TEST_F(SessionTest, TheTransmitDumpLogsOneLinePerSendWhenSwitchedOn) {
    OpenSim();
    EXPECT_EQ(session->TransmitDump(), 0);
    Send("save\r\n");
    EXPECT_TRUE(session->WaitOk(6));
    EXPECT_EQ(log.LineCount(), 0);
    session->SetTransmitDump(1);
    Send("save\r\n");
    EXPECT_TRUE(session->WaitOk(6));
    EXPECT_EQ(log.Lines(), QStringList{"TX:73 61 76 65 0D 0A "});
    session->SendText(QByteArray("\x00\xff", 2));
    EXPECT_EQ(log.Lines().last(), "TX:00 FF ");
}

TEST_F(SessionTest, LogLineEmptiesAPaneOf1000LinesAndNeedsNoPane) {
    TSerialSession logging(&log);
    for (int i = 0; i < 999; ++i)
        log.Append(QString::number(i));
    logging.LogLine("1000th");
    EXPECT_EQ(log.LineCount(), 1000);
    logging.LogLine("1001st");
    EXPECT_EQ(log.Lines(), QStringList{"1001st"});
    TSerialSession quiet(nullptr);
    quiet.SetTransmitDump(1);
    quiet.SendText("x");  // closed: refused, and the dump goes nowhere
    quiet.LogLine("dropped");
    EXPECT_EQ(log.LineCount(), 1);
}

TEST_F(SessionTest, ABoardThatHangsUpIsLoggedAndThePortOpensAgain) {
    OpenSim({"--hangup-after", "1"});
    Send("\r\n");
    EXPECT_TRUE(session->WaitPrompt());
    const QString lost = QStringLiteral("COM%1が切断されました").arg(kPort);
    ASSERT_TRUE(PumpUntil([&] { return log.Lines().contains(lost); }));
    EXPECT_EQ(log.Lines(), QStringList{lost});
    EXPECT_FALSE(session->Port()->TransString("\r\n"));
    // The board is back (as a new terminal): reopening the port works.
    sim = std::make_unique<SimProcess>(QStringList{"serial"});
    ASSERT_TRUE(sim->Started());
    ini.Map(kPort, sim->FirstLine());
    session->OpenPort(kPort);
    ASSERT_TRUE(session->Port()->IsOpen());
    Send("\r\n");
    EXPECT_TRUE(session->WaitPrompt());
}
