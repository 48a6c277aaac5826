// The telnet session against a real telnet server: busybox telnetd on port 23 of its own
// loopback address, with a board script as its login program, reached through a relay that
// records the wire. Over the session run 52 exchanges, the F6 write and the F8 reading; checked
// on the wire: every option request answered by the table and nothing more (no negotiation
// loop), the CR rule, each line in one segment; and every answer read correctly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QFile>
#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <csignal>
#include <functional>
#include <map>
#include <set>

#include "board/procedures.h"
#include "core/settings.h"
#include "support/linelog.h"
#include "support/pump.h"
#include "telnet/telnetfilter.h"
#include "telnet/telnetsession.h"
#include "wiretap.h"

namespace {

// Keeps every line, also those the pane's limit would clear away.
class KeepAllLog : public TLineLog {
  public:
    void Clear() override {}
};

// True once something listens on port 23 of `address`, read from the kernel's table of TCP
// sockets. A probe that binds the port itself could hold it at the moment busybox binds, which
// then exits with "address in use".
bool Port23Taken(const char* address) {
    in_addr a{};
    ::inet_pton(AF_INET, address, &a);
    // The table writes the address as the 32-bit number in host order, then port and state (0A:
    // listening).
    const QByteArray local =
        QByteArray::number(static_cast<quint32>(a.s_addr), 16).toUpper().rightJustified(8, '0') +
        ":0017";
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[1] == local && f[3] == "0A")
            return true;
    }
    return false;
}

// busybox telnetd in the foreground, with the board script as login program. Started with a
// plain fork and exec, as the substitute is (not QProcess, whose vfork-style start confuses
// ThreadSanitizer's bookkeeping of this process).
class Busybox {
  public:
    explicit Busybox(const char* address) {
        const QByteArray busybox = QStandardPaths::findExecutable("busybox").toLocal8Bit();
        if (busybox.isEmpty())
            return;
        const QByteArray bind = QByteArray(address) + ":23";
        const char* argv[] = {
            busybox.constData(), "telnetd", "-F",        "-K",   "-b", bind.constData(), "-l",
            NB_BOARD_SCRIPT,     "-f",      "/dev/null", nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            execv(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        up_ = pid_ > 0 && PumpUntil([&] { return Port23Taken(address); });
    }
    ~Busybox() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Up() const { return up_; }

  private:
    pid_t pid_ = -1;
    bool up_ = false;
};

// The texts the session sent, from its "TX:" lines.
std::vector<QByteArray> SentTexts(const QStringList& lines) {
    std::vector<QByteArray> sent;
    for (const QString& l : lines)
        if (l.startsWith("TX:"))
            sent.push_back(QByteArray::fromHex(l.mid(3).toLatin1()));
    return sent;
}

// Sets and reads back values over 50 exchanges: an answer read from the wrong place (a stray
// prompt left by an earlier line) shows as a wrong value. Returns the exchanges that went right.
int SetAndReadBack(TTelnetSession& s) {
    auto send = [&s](const QByteArray& line) {
        s.ClearReceived();
        s.SendText(line);
    };
    int right = 0;
    // The wake line goes out on an idle connection, as after the operator's dialog, and a
    // query follows at once: were its CR and LF to leave apart, the server would answer twice
    // and the second prompt would land in the query's answer.
    PumpFor(100);
    send("\r\n");
    right += s.WaitPrompt();
    std::map<QByteArray, QByteArray> values = {{"bps", "9600"}, {"l_pt", "3335"},
                                               {"timv", "10"},  {"f_ip", "10.16.77.1"},
                                               {"mask", "24"},  {"timr", "1"}};
    const char* keys[] = {"bps", "l_pt", "timv", "f_ip", "mask", "timr"};
    for (int i = 0; i < 24; ++i) {
        const QByteArray key = keys[i % 6];
        send(key + "\r\n");
        const QString expected = QString::fromLatin1(values[key]);
        right += s.ReadReplyLine() && s.ReplyLine() == expected;
        EXPECT_EQ(s.ReplyLine().toStdString(), expected.toStdString()) << i;
        values[key] = key == "f_ip" ? "192.168.0." + QByteArray::number(i)
                                    : QByteArray::number(1200 + 37 * i);
        const QByteArray set = key + "=" + values[key] + "\r\n";
        send(set);
        right += s.WaitOk(static_cast<int>(set.size()));
    }
    send("madr\r\n");
    right += s.ReadZeroReplyLine(6) && s.ReplyLine() == "02-5A-C3-00-01-C9";
    send("save\r\n");
    right += s.WaitOk(6);
    return right;
}

// The answers the client owes for the server's commands, in order: each option request by the
// table (busybox asks for each option once, so every request asks for a change), and the
// terminal type for TERMINAL-TYPE SEND.
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
    TProcedureHooks hooks;
    QStringList procedureLog;
    hooks.log = [&](const QString& line) { procedureLog << line; };
    hooks.nullBox = [] { ADD_FAILURE() << "no NULL box over telnet"; };
    // Rows: what runs over the session, and what it must give (exchanges that went right, or
    // 1 for a procedure that ended OK).
    struct Row {
        const char* name;
        std::function<int(TTelnetSession&, TBoardParams*)> run;
        int expected;
    };
    const std::vector<Row> rows = {
        {"52 exchanges", [](TTelnetSession& s, TBoardParams*) { return SetAndReadBack(s); },
         51},  // the login's prompt makes the 52nd
        {"F6 write",
         [&](TTelnetSession& s, TBoardParams* p) {
             return int(RunWriteCommand(s, p, false, hooks).ok);
         },
         1},
        {"F8 reading",
         [&](TTelnetSession& s, TBoardParams* p) {
             TBoardReadback r;
             const bool ok = ReadBoardSettings(s, p, &r, hooks).ok;
             return int(ok && r.Of("bps") == TReplyValues{9600} &&
                        r.Of("madr") == TReplyValues{2, 0x5A, 0xC3, 0, 1, 0xC9});
         },
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WireTap tap("127.0.11.11", "127.0.11.10");
        ASSERT_TRUE(tap.Listening());
        KeepAllLog log;
        TBoardParams params;
        params.TCPIP1_1 = 127;
        params.TCPIP1_2 = 0;
        params.TCPIP1_3 = 11;
        params.TCPIP1_4 = 11;
        procedureLog.clear();
        {
            TTelnetSession s(nullptr, &log, params);
            EXPECT_EQ(row.run(s, &params), row.expected);
        }
        EXPECT_EQ(log.Lines().count(QString::fromUtf8(kTimeoutLine)), 0);
        EXPECT_FALSE(procedureLog.join('|').contains("NG")) << procedureLog.join('|').toStdString();
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

        // The CR rule towards a telnet server: the texts as they were, CR LF included.
        QByteArray text;
        std::set<int> lineEnds;
        for (const QByteArray& line : SentTexts(log.Lines()))
            lineEnds.insert(static_cast<int>((text += line).size()));
        EXPECT_GE(lineEnds.size(), 13u);
        EXPECT_EQ(fromClient.data, text);
        // Segments: no receive ended inside a text.
        int at = 0;
        for (const QByteArray& chunk : tap.ClientChunks()) {
            const int n = static_cast<int>(SplitTelnet(chunk).data.size());
            if (n == 0)
                continue;
            at += n;
            EXPECT_TRUE(lineEnds.count(at)) << "a segment ends inside a line, at byte " << at;
        }
    }
}
