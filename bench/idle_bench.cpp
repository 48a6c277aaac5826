// What the links cost while nothing happens, and the half-duplex timing of the port driver: the
// CPU and time figures that the tests leave out, since a loaded machine or a sanitizer moves
// them.
//  1. the CPU the driver's watch thread burns while a handler leaves bytes unread, while its
//     input queue is full, and after the far end has vanished (goal: no spinning);
//  2. with half duplex (high) at 1200 bit/s: RTS rises 50 ms after the data is handed over, the
//     data starts one character time (9 ms) later, and RTS falls a character time after it;
//  3. a refused reader connect: the reconnects within the 5000 ms connect wait come paced,
//     about one per 100 ms (goal 20 to 60, CPU under 1.5 s).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "benches.h"
#include "core/logpane.h"
#include "core/posixio.h"
#include "core/replytimer.h"
#include "ptyline.h"
#include "reader/readerlink.h"
#include "serial/serialport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

class TListLog : public TLogPane {
  public:
    int LineCount() const override { return static_cast<int>(lines.size()); }
    void Clear() override { lines.clear(); }
    void Append(const QString& text) override { lines << text; }
    QStringList lines;
};

void Pump(int ms) {
    TReplyTimer t;
    WaitDeadline(t, static_cast<uint32_t>(ms), [] { return TPass::Pending; });
}

// The process's CPU over `ms` of processing events, against `goalMs`.
int IdleCpu(const char* what, int ms, double goalMs) {
    const double cpu0 = ProcessCpuMs();
    Pump(ms);
    const double cpu = ProcessCpuMs() - cpu0;
    std::printf("  %s: %.1f ms of CPU in %d ms (goal under %.0f): %s\n", what, cpu, ms, goalMs,
                cpu < goalMs ? "met" : "MISSED");
    return cpu < goalMs ? 0 : 1;
}

int DriverIdle() {
    auto pty = std::make_unique<TPtyLine>();
    if (!pty->Ok())
        return 1;
    std::printf("idle: the port driver's watch thread\n");
    int rc = 0;
    {
        TSerialPort comm;
        comm.SetIniPath(pty->IniPath());
        comm.SetOnReceive([](TSerialDriver*, int) {});  // leaves every byte unread
        comm.PortOpen();
        [[maybe_unused]] ssize_t w = write(pty->Master(), "abc", 3);
        rc |= IdleCpu("bytes left unread", 400, 80);
    }
    TSerialPort comm;
    comm.SetIniPath(pty->IniPath());
    comm.SetBufLenReceive(64);
    comm.PortOpen();
    const std::vector<char> data(1000, 'x');
    [[maybe_unused]] ssize_t w = write(pty->Master(), data.data(), data.size());
    rc |= IdleCpu("a full input queue", 300, 60);
    pty.reset();  // the far end vanishes
    rc |= IdleCpu("a vanished far end", 400, 80);
    return rc;
}

int HalfDuplexTiming() {
    const TPtyLine pty;
    std::mutex m;
    std::vector<Clock::time_point> rts;
    TSerialPort comm;
    comm.SetIniPath(pty.IniPath());
    comm.SetModemLineProbe([&](int line, bool) {
        std::lock_guard<std::mutex> lk(m);
        if (line == TIOCM_RTS)
            rts.push_back(Clock::now());
    });
    comm.SetFlowCtrl(cfcHalfHigh);
    comm.SetBitRate(1200);
    comm.PortOpen();
    {
        std::lock_guard<std::mutex> lk(m);
        rts.clear();
    }
    const Clock::time_point t0 = Clock::now();
    comm.TransString("abcdef");
    char c;
    [[maybe_unused]] ssize_t n = read(pty.Master(), &c, 1);
    const Clock::time_point first = Clock::now();
    Pump(200);
    comm.PortClose();
    comm.SetModemLineProbe(nullptr);
    if (rts.size() < 2)
        return 1;
    const double up = Ms(t0, rts[0]), lead = Ms(rts[0], first), held = Ms(rts[0], rts[1]);
    const bool met = up >= 49 && up < 300 && lead >= 8 && held >= 16;
    std::printf(
        "half duplex: RTS up after %.0f ms (50), data %.0f ms later (9), RTS held %.0f ms "
        "(16 at least): %s\n",
        up, lead, held, met ? "met" : "MISSED");
    return met ? 0 : 1;
}

int RefusedReader() {
    // A port that nobody listens on afterwards: one the system gives a socket bound and closed.
    int port = 0;
    {
        TUniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f00004a);  // 127.0.0.74
        socklen_t len = sizeof sa;
        if (!probe.Valid() || ::bind(probe.Get(), reinterpret_cast<sockaddr*>(&sa), len) != 0 ||
            ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return 1;
        port = ntohs(sa.sin_port);
    }
    TListLog log;
    TReaderLink link(nullptr, port, &log, QString());
    link.SetTCPServAddr("127.0.0.74");
    link.SetTCPServPort(port);
    const double cpu0 = ProcessCpuMs();
    link.OpenLink();
    const double cpu = ProcessCpuMs() - cpu0;
    const int errors = static_cast<int>(log.lines.count("ClientSocket1Error"));
    const bool met = errors >= 20 && errors <= 60 && cpu < 1500;
    std::printf("reader: %d reconnects in the 5000 ms connect wait (20 to 60), CPU %.0f ms: %s\n",
                errors, cpu, met ? "met" : "MISSED");
    return met ? 0 : 1;
}

}  // namespace

int RunIdleBench() {
    return DriverIdle() | HalfDuplexTiming() | RefusedReader();
}
