// The telnet session against a real telnet server: busybox telnetd on port 23 of its own
// loopback address, with a board script as its login program, reached through a relay that
// records the wire. Checked on the wire: every option request answered by the table and
// nothing more (no negotiation loop), the CR rule, each line in one segment; and every answer
// read correctly over more than 50 exchanges.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <map>
#include <set>

#include "core/logpane.h"
#include "core/settings.h"
#include "support/pump.h"
#include "telnet/telnetfilter.h"
#include "telnet/telnetsession.h"
#include "wiretap.h"

namespace {

// True once something listens on port 23 of `address` (a bind there is refused).
bool Port23Taken(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(23);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    const bool taken =
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
}

// busybox telnetd in the foreground, with the board script as login program.
class Busybox {
  public:
    explicit Busybox(const char* address) {
        const QString busybox = QStandardPaths::findExecutable("busybox");
        if (busybox.isEmpty())
            return;
        process_.start(busybox, {"telnetd", "-F", "-K", "-b", QString("%1:23").arg(address), "-l",
                                 NB_BOARD_SCRIPT, "-f", "/dev/null"});
        up_ = process_.waitForStarted() && PumpUntil([&] { return Port23Taken(address); });
    }
    ~Busybox() {
        process_.terminate();
        process_.waitForFinished();
    }
    bool Up() const { return up_; }

  private:
    QProcess process_;
    bool up_ = false;
};

// The session's side of the exchange: every text it sent, in order.
struct Exchange {
    TTelNetCont1Dlg& s;
    std::vector<QByteArray> sent;
    void Send(const QByteArray& line) {
        s.ClearReceived();
        s.SendText(line);
        sent.push_back(line);
    }
};

// The answers the client owes for the server's commands, in order: each option request by the
// table, and the terminal type for TERMINAL-TYPE SEND.
std::vector<QByteArray> OwedAnswers(const std::vector<QByteArray>& serverCommands) {
    using namespace telnet;
    std::vector<QByteArray> owed;
    for (const QByteArray& c : serverCommands) {
        const auto verb = static_cast<unsigned char>(c[1]);
        if (c.size() == 3 && verb >= kWill && verb <= kDont)
            owed.push_back(OptionAnswer(verb, static_cast<unsigned char>(c[2])));
        else if (c == QByteArray("\xff\xfa\x18\x01\xff\xf0", 6))
            owed.push_back(
                QByteArray("\xff\xfa\x18\x00"
                           "dumb\xff\xf0",
                           10));
    }
    return owed;
}

}  // namespace

TEST(TelnetInterop, BusyboxTelnetdWithABoardScript) {
    Busybox server("127.0.11.10");
    ASSERT_TRUE(server.Up()) << "busybox telnetd did not start (./setup.sh installs it)";
    WireTap tap("127.0.11.11", "127.0.11.10");
    ASSERT_TRUE(tap.Listening());

    QPlainTextEdit memo;
    TLogPane log(&memo);
    TBoardParams params;
    params.TCPIP1_1 = 127;
    params.TCPIP1_2 = 0;
    params.TCPIP1_3 = 11;
    params.TCPIP1_4 = 11;
    params.fDispRecInfo = 0;
    std::vector<QByteArray> sent;
    int read = 0;
    {
        TTelNetCont1Dlg s(nullptr, &log, params);
        Exchange x{s, {"KXW\r\n"}};
        // The line goes out on an idle connection, as after the operator's dialog, and a query
        // follows at once: were its CR and LF to leave apart, the server would answer twice
        // and the second prompt would land in the query's answer.
        PumpFor(100);
        x.Send("\r\n");
        read += s.WaitPrompt();
        // Each value is read back, then set anew: an answer read from the wrong place shows
        // as a wrong value.
        std::map<QByteArray, QByteArray> values = {{"bps", "9600"}, {"l_pt", "3335"},
                                                   {"timv", "10"},  {"f_ip", "10.16.77.1"},
                                                   {"mask", "24"},  {"timr", "1"}};
        const char* keys[] = {"bps", "l_pt", "timv", "f_ip", "mask", "timr"};
        for (int i = 0; i < 24; ++i) {
            const QByteArray key = keys[i % 6];
            x.Send(key + "\r\n");
            const QString expected = QString::fromLatin1(values[key]);
            read += s.ReadReplyLine() && s.ReplyLine() == expected;
            EXPECT_EQ(s.ReplyLine().toStdString(), expected.toStdString()) << i;
            values[key] = key == "f_ip" ? "192.168.0." + QByteArray::number(i)
                                        : QByteArray::number(1200 + 37 * i);
            const QByteArray set = key + "=" + values[key] + "\r\n";
            x.Send(set);
            read += s.WaitOk(static_cast<int>(set.size()));
        }
        x.Send("madr\r\n");
        read += s.ReadZeroReplyLine(6) && s.ReplyLine() == "02-5A-C3-00-01-C9";
        x.Send("save\r\n");
        read += s.WaitOk(6);
        sent = x.sent;
        EXPECT_EQ(log.Lines().count(QString::fromUtf8(kTimeoutLine)), 0);
    }
    EXPECT_EQ(read, 51);  // the login's prompt makes 52 exchanges
    ASSERT_TRUE(tap.Join());

    // Negotiation: exactly the owed answers, in order, and no further requests.
    const TelnetStream fromServer = SplitTelnet(tap.ServerBytes());
    QByteArray clientBytes;
    for (const QByteArray& c : tap.ClientChunks())
        clientBytes += c;
    const TelnetStream fromClient = SplitTelnet(clientBytes);
    EXPECT_FALSE(fromServer.commands.empty());
    EXPECT_LE(fromServer.commands.size(), 8u);
    EXPECT_EQ(fromClient.commands, OwedAnswers(fromServer.commands));

    // The CR rule towards a telnet server: the text as it was, CR LF included.
    QByteArray text;
    std::set<int> lineEnds;
    for (const QByteArray& line : sent)
        lineEnds.insert(static_cast<int>((text += line).size()));
    EXPECT_EQ(fromClient.data, text);
    // Segments: no receive ended inside a line.
    int at = 0;
    for (const QByteArray& chunk : tap.ClientChunks()) {
        const int n = static_cast<int>(SplitTelnet(chunk).data.size());
        if (n == 0)
            continue;
        at += n;
        EXPECT_TRUE(lineEnds.count(at)) << "a segment ends inside a line, at byte " << at;
    }
}
