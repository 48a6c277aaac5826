// netboard-soak: long runs of the links' threads, meant for the ThreadSanitizer build:
//  1. serial: cycles of open, traffic both ways, close on a pseudo-terminal while a thread
//     keeps writing into the line;
//  2. telnet: sessions against a peer on port 23 of 127.0.11.20 (so run as root) that sends the
//     prompt, floods, and closes or resets at a random moment.
// Open descriptors and threads are counted before and after each part and must come back to
// where they started. "netboard-soak [serial-cycles [telnet-sessions]]", default 1000 and 500.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "app/windowlog.h"
#include "core/exceptions.h"
#include "core/guicall.h"
#include "core/replytimer.h"
#include "core/settings.h"
#include "ptyline.h"
#include "serial/serialport.h"
#include "telnet/telnetsession.h"

namespace {

const char* const kAddress = "127.0.11.20";

int Entries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

struct Counts {
    int fds = Entries("/proc/self/fd");
    int threads = Entries("/proc/self/task");
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Report(const char* part, const Counts& before, const Counts& after, int runs, double seconds,
            const char* what) {
    const bool ok = after.fds == before.fds && after.threads == before.threads;
    std::printf("soak %s: %d runs in %.1f s (%s); descriptors %d -> %d, threads %d -> %d: %s\n",
                part, runs, seconds, what, before.fds, after.fds, before.threads, after.threads,
                ok ? "back to the start" : "LEFT OVER");
    return ok;
}

bool SerialSoak(int cycles) {
    const Counts before;
    auto pty = std::make_unique<TPtyLine>();
    if (!pty->Ok()) {
        std::printf("soak serial: no pseudo-terminal\n");
        return false;
    }
    const int master = pty->Master();

    // The far end: writes into the line all the time and drains what the port sends.
    std::atomic<bool> stop{false};
    std::atomic<long> farSent{0}, farGot{0};
    std::thread far([&] {
        const QByteArray chunk(512, 'x');
        char buf[4096];
        while (!stop) {
            pollfd p{master, POLLIN | POLLOUT, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            if (p.revents & POLLIN) {
                const ssize_t n = read(master, buf, sizeof buf);
                farGot += n > 0 ? n : 0;
            }
            if (p.revents & POLLOUT) {
                const ssize_t n = write(master, chunk.constData(), chunk.size());
                farSent += n > 0 ? n : 0;
            }
        }
    });

    const auto t0 = std::chrono::steady_clock::now();
    long received = 0;
    int failures = 0;
    {
        TSerialPort comm;
        comm.SetIniPath(pty->IniPath());
        comm.SetPortNo(1);
        comm.SetFlowCtrl(cfcNone);
        comm.SetOnReceive([&](TSerialDriver* c, int size) {
            char buf[2048];
            received += c->ReceiveBlock(buf, std::min<int>(size, sizeof buf));
        });
        for (int i = 0; i < cycles; ++i) {
            try {
                comm.PortOpen();
            } catch (const Exception&) {
                ++failures;
                continue;
            }
            comm.TransString("l_ip=10.16.77.170\r\n");
            WaitForEvents(0);
            WaitForEvents(i % 3);
            comm.PortClose();
        }
    }
    const double seconds = Seconds(t0);
    stop = true;
    far.join();
    pty.reset();
    const Counts after;
    char what[200];
    std::snprintf(what, sizeof what,
                  "%d failed opens, %ld bytes received, %ld sent by the far end, %ld taken by it",
                  failures, received, farSent.load(), farGot.load());
    return Report("serial", before, after, cycles, seconds, what) && failures == 0;
}

// The peer: for each connection, the prompt, then a flood with prompts and answers in it, then
// a close or a reset after a random number of bytes (the session may be sending meanwhile).
class FloodPeer {
  public:
    FloodPeer() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(23);
        inet_pton(AF_INET, kAddress, &a.sin_addr);
        ok_ = bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(listen_, 8) == 0;
        if (ok_)
            thread_ = std::thread([this] { Serve(); });
    }
    ~FloodPeer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        close(listen_);
    }
    bool Ok() const { return ok_; }
    long Bytes() const { return bytes_; }
    int Resets() const { return resets_; }

  private:
    void Serve() {
        std::mt19937 rng(11);
        QByteArray flood;
        for (int i = 0; i < 65536; ++i)
            flood.append(i % 97 == 0 ? '>' : i % 251 == 0 ? '\xff' : static_cast<char>(rng()));
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Send(fd, QByteArray("\xff\xfb\x01\xff\xfd\x18PASSWORD:", 15));
            const int limit = static_cast<int>(rng() % 65536);
            for (int at = 0; at < limit && !stop_;) {
                char sink[4096];
                while (recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
                }
                const int n = std::min(limit - at, 1 + static_cast<int>(rng() % 4096));
                if (!Send(fd, flood.mid(at, n)))
                    break;
                at += n;
                if (rng() % 4 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            }
            if (rng() % 2) {
                const linger l{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                ++resets_;
            }
            close(fd);
        }
    }
    bool Send(int fd, const QByteArray& b) {
        const ssize_t n = send(fd, b.constData(), b.size(), MSG_NOSIGNAL);
        bytes_ += n > 0 ? n : 0;
        return n == b.size();
    }

    int listen_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<long> bytes_{0};
    std::atomic<int> resets_{0};
    std::thread thread_;
};

bool TelnetSoak(int sessions) {
    QPlainTextEdit memo;
    TWindowLog log(&memo);
    TBoardParams params;
    params.TCPIP1_1 = 127;
    params.TCPIP1_2 = 0;
    params.TCPIP1_3 = 11;
    params.TCPIP1_4 = 20;
    params.fDispRecInfo = 0;
    const Counts before;
    auto peer = std::make_unique<FloodPeer>();
    if (!peer->Ok()) {
        std::printf("soak telnet: cannot listen on %s port 23 (run as root)\n", kAddress);
        return false;
    }
    const auto t0 = std::chrono::steady_clock::now();
    int connectErrors = 0;
    long taken = 0;
    for (int i = 0; i < sessions; ++i) {
        try {
            TTelnetSession s(nullptr, &log, params);
            // Lines go out while the flood comes in; the session goes at a moment of its own,
            // often with the read thread in the middle of a hand-over.
            for (int line = 0; line < 3; ++line) {
                s.ClearReceived();
                s.SendText("mask=24\r\n");
                WaitForEvents(static_cast<uint32_t>((i + line) % 4));
                taken += s.ReceivedCount();
            }
            if (i % 2)
                s.Disconnect();
        } catch (const Exception&) {
            ++connectErrors;
        }
        log.Clear();
    }
    const double seconds = Seconds(t0);
    const long flooded = peer->Bytes();
    const int resets = peer->Resets();
    peer.reset();
    const Counts after;
    char what[200];
    std::snprintf(what, sizeof what,
                  "%ld bytes flooded, %ld taken by the sessions, %d resets, %d connect errors",
                  flooded, taken, resets, connectErrors);
    return Report("telnet", before, after, sessions, seconds, what);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // What lives for the whole process once made stays out of the counts: the hand-over's
    // pump (an eventfd), and the helper thread ThreadSanitizer starts with the first thread.
    { TGuiCall pump; }
    std::thread([] {}).join();
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int sessions = argc > 2 ? std::atoi(argv[2]) : 500;
    bool ok = SerialSoak(cycles);
    ok &= TelnetSoak(sessions);
    return ok ? 0 : 1;
}
