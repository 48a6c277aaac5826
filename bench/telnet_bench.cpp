// The telnet link on loopback against netboard-sim (port 23 of 127.0.9.1, so run as root):
//  1. the CPU a silent 2000 ms wait burns (goal: under 2 % of one core);
//  2. the time for a session to connect, log in, and exchange the wake line, the eleven setting
//     lines of a full configuration and "save" with a board that answers at once, set against
//     a bare single-threaded socket client doing the same exchange (each line in one send,
//     same negotiation filter) to tell the network stack and the board from our own code.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QPlainTextEdit>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/windowlog.h"
#include "bareclient.h"
#include "benches.h"
#include "board/commandline.h"
#include "core/settings.h"
#include "telnet/telnetfilter.h"
#include "telnet/telnetsession.h"

namespace {

const char* const kAddress = "127.0.9.1";

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU time of the whole process (all threads), seconds.
double Cpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// netboard-sim as a child process, up once it has printed its listening address.
class Sim {
  public:
    explicit Sim(std::vector<const char*> extra) {
        int p[2];
        if (pipe(p) != 0)
            return;
        std::vector<const char*> argv{NB_SIM_PATH, "telnet", "--address", kAddress, "--port", "23"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(p[1], 1);
            close(p[0]);
            execv(argv[0], const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        close(p[1]);
        char c;
        pollfd pf{p[0], POLLIN, 0};
        while (poll(&pf, 1, 5000) > 0 && read(p[0], &c, 1) == 1) {
            if (c == '\n') {
                up_ = true;
                break;
            }
        }
        close(p[0]);
    }
    ~Sim() {
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

TBoardParams BenchParams(int logging) {
    TBoardParams p;
    p.TCPIP1_1 = 127;
    p.TCPIP1_2 = 0;
    p.TCPIP1_3 = 9;
    p.TCPIP1_4 = 1;
    p.fDispRecInfo = logging;
    return p;
}

std::vector<QByteArray> ConfigurationLines(const TBoardParams& p) {
    std::vector<QByteArray> lines{BuildCommandLine("madr=", p)};
    for (const char* k : kSettingOrder)
        lines.push_back(BuildCommandLine(k, p));
    lines.push_back(BuildCommandLine("save", p));
    return lines;
}

// One whole session; false when any answer was missing. *openMs: the connect and login;
// *wakeMs: the wake line's exchange.
bool SessionRun(TLogPane* log, int logging, double* openMs = nullptr, double* wakeMs = nullptr) {
    const TBoardParams p = BenchParams(logging);
    const double t0 = Now();
    TTelnetSession s(nullptr, log, p);
    if (openMs)
        *openMs = (Now() - t0) * 1e3;
    bool ok = true;
    const double t1 = Now();
    s.ClearReceived();
    s.SendText(kWakeLine);
    ok &= s.WaitPrompt();
    if (wakeMs)
        *wakeMs = (Now() - t1) * 1e3;
    for (const QByteArray& line : ConfigurationLines(p)) {
        s.ClearReceived();
        s.SendText(line);
        ok &= s.WaitOk(static_cast<int>(line.size()));
    }
    return ok;
}

// The same exchange with the bare client: no read thread, no hand-over, no event loop, no log.
bool BaselineRun() {
    const TBoardParams p = BenchParams(0);
    TBareTelnet client(kAddress, false);
    bool ok = client.Login(p.TelnetPass.toLatin1()) && client.Exchange(kWakeLine, ">") >= 0;
    for (const QByteArray& line : ConfigurationLines(p))
        ok = ok && client.Exchange(line, ">OK") >= 0;
    return ok;
}

}  // namespace

int RunTelnetBench() {
    QPlainTextEdit memo;
    TWindowLog log(&memo);

    // 1. A silent board: the password wait of the open and one reply wait both run out.
    {
        Sim sim({"--no-password", "--silent", "--no-echo"});
        if (!sim.Up()) {
            std::printf("telnet: netboard-sim did not start (port 23 needs root)\n");
            return 1;
        }
        TTelnetSession s(nullptr, &log, BenchParams(1));
        s.ClearReceived();
        s.SendText("save\r\n");
        const double w0 = Now(), c0 = Cpu();
        const bool answered = s.WaitOk(6);
        const double wall = Now() - w0, cpu = Cpu() - c0;
        std::printf(
            "telnet: silent wait %.0f ms (%s), CPU %.2f ms = %.3f %% of one core "
            "(goal < 2 %%)\n",
            wall * 1e3, answered ? "answered?!" : "timed out", cpu * 1e3, 100.0 * cpu / wall);
    }

    // 2. A board that answers at once.
    Sim sim({});
    if (!sim.Up())
        return 1;
    const int runs = 20;
    std::vector<double> walls[2], cpus[2], opens[2], wakes[2], base;
    bool ok = true;
    SessionRun(&log, 1);  // warm-up
    BaselineRun();
    for (int i = 0; i < runs; ++i) {
        for (int logging = 0; logging < 2; ++logging) {
            log.Clear();
            const double w0 = Now(), c0 = Cpu();
            double openMs = 0, wakeMs = 0;
            ok &= SessionRun(&log, logging, &openMs, &wakeMs);
            wakes[logging].push_back(wakeMs);
            walls[logging].push_back(Now() - w0);
            opens[logging].push_back(openMs);
            cpus[logging].push_back(Cpu() - c0);
        }
        const double b0 = Now();
        ok &= BaselineRun();
        base.push_back(Now() - b0);
    }
    const double b = Median(base) * 1e3;
    for (int logging = 1; logging >= 0; --logging) {
        const double w = Median(walls[logging]) * 1e3, c = Median(cpus[logging]) * 1e3;
        std::printf(
            "telnet: connect, login, wake + 11 setting lines + save (logging %s): "
            "median %.2f ms (min %.2f) over %d runs: connect and login %.2f ms, wake line "
            "%.2f ms, the 12 lines after it %.2f ms; process CPU %.2f ms\n",
            logging ? "on" : "off", w,
            *std::min_element(walls[logging].begin(), walls[logging].end()) * 1e3, runs,
            Median(opens[logging]), Median(wakes[logging]),
            w - Median(opens[logging]) - Median(wakes[logging]), c);
        std::printf(
            "telnet:   bare socket client, same exchange: median %.2f ms -> network "
            "stack and board %.2f ms (%.0f %%), our own code %.2f ms (%.0f %%)\n",
            b, std::min(b, w), 100.0 * std::min(b, w) / w, std::max(0.0, w - b),
            100.0 * std::max(0.0, w - b) / w);
    }
    std::printf("telnet: (the procedures' own 100 ms pause after the wake line is not included)\n");
    if (!ok)
        std::printf("telnet: some answers were missing\n");
    return ok ? 0 : 1;
}
