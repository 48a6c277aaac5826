// Fault injection end to end: a scripted peer ends the connection, with a close or a reset,
// after N bytes of a full exchange, for every N from 0 to the whole exchange. The telnet
// session logs in and writes a full set of setting lines (wake line, ten settings, "save");
// the reader link asks for the ROM version. Every run must end with the result the waits give
// for the bytes that came, with no descriptor or thread left (and, in the sanitizer builds, no
// report). A wait that the cut leaves without its answer runs out in no time once every byte
// sent before the cut has been handed over; the rows are spread over worker processes of this
// program that run side by side.
#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "board/commandline.h"
#include "core/replytimer.h"
#include "core/settings.h"
#include "reader/readerlink.h"
#include "reader/readerprotocol.h"
#include "scriptpeer.h"
#include "support/linelog.h"
#include "telnet/telneterrors.h"
#include "telnet/telnetsession.h"

namespace {

constexpr int kWorkers = 20;
const QString kTimeout = QString::fromUtf8(kTimeoutLine);

int Entries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// Open descriptors and running threads of this process.
std::pair<int, int> Resources() {
    return {Entries("/proc/self/fd"), Entries("/proc/self/task")};
}

// A run's log and clock. The log counts the data bytes handed over (the "RX0;" lines' hex
// bytes) and the bytes the reader link took (the numbers it logs per read). The time is real,
// except that once the peer has cut the connection and all it sent before (`data` bytes, telnet
// commands left out) has come, the time a wait has left passes at once: nothing more can come.
class CutRun : public TLineLog, public TClock {
  public:
    explicit CutRun(int data) : data_(data) {}
    void Append(const QString& text) override {
        received_ += text.startsWith(QLatin1String("RX0;")) ? (text.size() - 4) / 3 : text.toInt();
        TLineLog::Append(text);
    }
    uint32_t Now() override { return SystemTickCount() + skipped_; }
    void WaitForEvents(uint32_t maxWaitMs) override {
        const bool over = cut && received_ >= data_;
        SystemClock().WaitForEvents(over ? 0 : std::min(maxWaitMs, 10u));
        skipped_ += over ? maxWaitMs : 0;
    }
    std::atomic<bool> cut{false};

  private:
    int data_;
    qsizetype received_ = 0;
    uint32_t skipped_ = 0;
};

// The peer's side: what it sends, cut after `budget` bytes by a close or a reset.
class CuttingPeer {
  public:
    CuttingPeer(ScriptPeer& p, int budget, bool reset, std::atomic<bool>* cut)
        : p_(p), budget_(budget), reset_(reset), cutFlag_(cut) {}
    // Sends what the budget allows of `bytes`; false once the connection has been cut.
    bool Out(const QByteArray& bytes, bool last = false) {
        if (cut_)
            return false;
        const int n = std::min(budget_, static_cast<int>(bytes.size()));
        p_.Send(bytes.left(n));
        budget_ -= n;
        if (budget_ == 0 && !(last && n == bytes.size()))
            Cut();
        return !cut_;
    }
    void Cut() {
        const int fd = p_.ConnectionFd();
        if (reset_) {
            const linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        } else {
            ::shutdown(fd, SHUT_WR);
        }
        p_.CloseConnection();
        cut_ = true;
        *cutFlag_ = true;
    }
    bool Start() {
        if (!p_.Accept())
            return false;
        const int one = 1;  // what is sent leaves at once, ahead of the cut
        ::setsockopt(p_.ConnectionFd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (budget_ == 0)
            Cut();
        return !cut_;
    }

  private:
    ScriptPeer& p_;
    int budget_;
    bool reset_;
    bool cut_ = false;
    std::atomic<bool>* cutFlag_;
};

std::vector<QByteArray> WriteLines() {
    const TBoardParams p;
    std::vector<QByteArray> lines;
    for (const char* k : kSettingOrder)
        lines.push_back(BuildCommandLine(k, p));
    lines.push_back(BuildCommandLine("save", p));
    return lines;
}

// What the board sends in a full exchange, piece by piece: WILL ECHO with the prompt (so that
// a cut right after it meets the client writing its answer), and for the wake line and each
// line of the write its echo and the answer (">" or ">OK").
std::vector<QByteArray> BoardPieces() {
    std::vector<QByteArray> pieces{QByteArray("\xff\xfb\x01"
                                              "PASSWORD:",
                                              12),
                                   "\r\n>"};
    for (const QByteArray& line : WriteLines())
        pieces.push_back(line + ">OK");
    return pieces;
}

int TelnetExchangeSize() {
    int n = 0;
    for (const QByteArray& p : BoardPieces())
        n += static_cast<int>(p.size());
    return n;
}
const QByteArray kReaderReply = reader::BuildFrame(0, reader::kReplyAck, "\x90V1.00");

struct Row {
    bool reader;
    bool reset;
    int n;
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (bool reset : {false, true}) {
        for (int n = 0; n <= TelnetExchangeSize(); ++n)
            rows.push_back({false, reset, n});
        for (int n = 0; n <= kReaderReply.size(); ++n)
            rows.push_back({true, reset, n});
    }
    return rows;
}

// Login, wake line and the write's lines; returns each wait's result in order, stopping at
// the first failed line as the write does.
std::vector<bool> TelnetRun(const char* address, const Row& r, CutRun* log) {
    const std::vector<QByteArray> lines = WriteLines();
    ScriptPeer peer(address, 23);
    EXPECT_TRUE(peer.Listening());
    peer.RunScript([&lines, log, r](ScriptPeer& p) {
        const std::vector<QByteArray> pieces = BoardPieces();
        CuttingPeer board(p, r.n, r.reset, &log->cut);
        if (!board.Start() || !board.Out(pieces[0]) || p.Read(3).size() != 3 ||
            p.Read(5) != "KXW\r\n" || p.Read(2) != "\r\n" || !board.Out(pieces[1]))
            return;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (p.Read(static_cast<int>(lines[i].size())) != lines[i] ||
                !board.Out(pieces[i + 2], i + 1 == lines.size()))
                return;
        }
        p.WaitEof();
    });
    TBoardParams params;
    params.TCPIP1_1 = 127;
    params.TCPIP1_2 = 0;
    params.TCPIP1_3 = 12;
    params.TCPIP1_4 = QByteArray(address).split('.').last().toInt();
    std::vector<bool> results;
    try {
        TTelnetSession s(nullptr, log, params, log);
        results.push_back(log->Lines().contains("TX:4B 58 57 0D 0A "));
        s.ClearReceived();
        s.SendText(kWakeLine);
        results.push_back(s.WaitPrompt());
        for (size_t i = 0; results.back() && i < lines.size(); ++i) {
            s.ClearReceived();
            s.SendText(lines[i]);
            results.push_back(s.WaitOk(static_cast<int>(lines[i].size())));
        }
    } catch (const ETelnetConnectError&) {
        results.clear();  // the open failed: no waits ran
    }
    peer.JoinScript();
    return results;
}

// Each wait succeeds when the board's bytes up to its answer came before the cut; the write
// stops at its first failure.
std::vector<bool> ExpectedTelnet(int n) {
    const std::vector<QByteArray> pieces = BoardPieces();
    int upTo = static_cast<int>(pieces[0].size());
    std::vector<bool> e{n >= upTo};
    for (size_t i = 1; i < pieces.size() && (i == 1 || e.back()); ++i)
        e.push_back(n >= (upTo += static_cast<int>(pieces[i].size())));
    return e;
}

bool ReaderRun(const char* address, const Row& r, CutRun* log) {
    ScriptPeer peer(address);
    EXPECT_TRUE(peer.Listening());
    peer.RunScript([log, r](ScriptPeer& p) {
        CuttingPeer reader(p, r.n, r.reset, &log->cut);
        if (reader.Start() && p.Read(9).size() == 9 && reader.Out(kReaderReply, true))
            p.WaitEof();
    });
    bool answered = false;
    {
        TReaderLink link(nullptr, peer.Port(), log, QString());
        link.SetClock(log);
        link.SetTCPServAddr(QString::fromLatin1(address));
        link.SetTCPServPort(peer.Port());
        link.OpenLink();
        link.SendRomVersionRequest();
        answered = link.WaitResponse();
        link.FormDestroy();
    }
    peer.JoinScript();
    return answered;
}

}  // namespace

// One worker's share of the rows; run by LinkFaults.EveryCutEndsWithTheWaitsResult.
TEST(LinkFaults, DISABLED_Worker) {
    const int worker = qEnvironmentVariableIntValue("NB_FAULT_WORKER");
    const QByteArray telnetAddress = "127.0.12." + QByteArray::number(worker + 1);
    const QByteArray readerAddress = "127.0.13." + QByteArray::number(worker + 1);
    const std::vector<Row> rows = Rows();
    auto before = Resources();
    for (size_t i = static_cast<size_t>(worker); i < rows.size(); i += kWorkers) {
        const Row& r = rows[i];
        SCOPED_TRACE(testing::Message() << (r.reader ? "reader" : "telnet") << ", "
                                        << (r.reset ? "reset" : "close") << " after " << r.n);
        // The telnet exchange begins with the three bytes of WILL ECHO, which are no data.
        CutRun log(r.reader ? r.n : std::max(0, r.n - 3));
        int failures = 0;
        if (r.reader) {
            const bool full = r.n == kReaderReply.size();
            EXPECT_EQ(ReaderRun(readerAddress.constData(), r, &log), full);
            failures = full ? 0 : 1;
        } else {
            const std::vector<bool> got = TelnetRun(telnetAddress.constData(), r, &log);
            // A reset right after the accept may beat the connect itself: the open fails with
            // its connect error.
            const bool resetAtOnce = r.reset && r.n <= BoardPieces()[0].size();
            if (!(got.empty() && resetAtOnce)) {
                const std::vector<bool> expected = ExpectedTelnet(r.n);
                EXPECT_EQ(got, expected);
                failures = static_cast<int>(std::count(expected.begin(), expected.end(), false));
            }
        }
        EXPECT_EQ(log.Lines().count(kTimeout), failures);
        // The first run may leave what the process keeps once made; after it nothing more.
        if (i == static_cast<size_t>(worker))
            before = Resources();
        EXPECT_EQ(Resources(), before) << "descriptors, threads";
    }
}

TEST(LinkFaults, EveryCutEndsWithTheWaitsResult) {
    std::vector<std::unique_ptr<QProcess>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NB_FAULT_WORKER", QString::number(w));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QCoreApplication::applicationFilePath(),
                 {"--gtest_filter=LinkFaults.DISABLED_Worker", "--gtest_also_run_disabled_tests"});
        workers.push_back(std::move(p));
    }
    for (int w = 0; w < kWorkers; ++w) {
        QProcess& p = *workers[static_cast<size_t>(w)];
        const bool finished = p.waitForFinished(240000);
        EXPECT_TRUE(finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            << "worker " << w << ":\n"
            << p.readAll().constData();
    }
}
