// The substitute ZPL label printer: listens on a TCP address, answers each ~HS with the three
// lines of a host status (paper out, paused and head open as the switches say), and writes each
// label format it receives (^XA through ^XZ) to a file of its own in the jobs folder, whatever
// its status (a real printer keeps them until it can print). Connections are served one after
// another, so a format sent on a later connection is written after every format of an earlier
// one. Prints the listening address ("ADDR:PORT") as its first stdout line; everything else goes
// to stderr.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/posixio.h"
#include "listener.h"
#include "modes.h"

namespace {

const char* const kPrinterHelp =
    "netboard-sim printer [switches]\n"
    "  --address ADDR   listen address (default 127.0.0.1)\n"
    "  --port N         listen port (default 0: any free port)\n"
    "  --jobs DIR       write each label format received to DIR/job-NNNN.zpl\n"
    "  --paper-out      report paper out\n"
    "  --head-open      report the head open\n"
    "  --paused         report the printer paused\n"
    "  --silent         never answer ~HS\n"
    "  --cut            answer ~HS with its first line only, then close the connection\n";

// A connection that sends more than this without a whole format is dropped.
constexpr size_t kMaxPending = 1 << 20;

struct PrinterBehaviour {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string jobs;
    bool paperOut = false;
    bool headOpen = false;
    bool paused = false;
    bool silent = false;
    bool cut = false;
};

// False, with the help on stderr, for a switch it does not know.
bool ParseArgs(int argc, char** argv, PrinterBehaviour* b) {
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        const bool valued = i + 1 < argc;
        if (a == "--address" && valued)
            b->address = argv[++i];
        else if (a == "--port" && valued)
            b->port = std::atoi(argv[++i]);
        else if (a == "--jobs" && valued)
            b->jobs = argv[++i];
        else if (a == "--paper-out")
            b->paperOut = true;
        else if (a == "--head-open")
            b->headOpen = true;
        else if (a == "--paused")
            b->paused = true;
        else if (a == "--silent")
            b->silent = true;
        else if (a == "--cut")
            b->cut = true;
        else {
            std::fputs(kPrinterHelp, stderr);
            return false;
        }
    }
    return true;
}

// The host status lines: paper out and paused are the second and third fields of the first,
// head up the third of the second.
std::string StatusLine(int line, const PrinterBehaviour& b) {
    const auto flag = [](bool on) { return on ? "1" : "0"; };
    const std::string body =
        line == 0 ? std::string("030,") + flag(b.paperOut) + "," + flag(b.paused) +
                        ",0200,000,0,0,0,000,0,0,0"
        : line == 1 ? std::string("001,0,") + flag(b.headOpen) + ",0,0,2,6,0,00000000,1,000"
                    : std::string("1234,0");
    return "\x02" + body + "\x03\r\n";
}

// Writes one format whole: a temporary file renamed into place, so a reader never sees a part.
void WriteJob(const PrinterBehaviour& b, const std::string& format) {
    static int count = 0;
    char name[32];
    std::snprintf(name, sizeof name, "/job-%04d.zpl", ++count);
    const std::string path = b.jobs + name;
    const std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    const bool written = f && std::fwrite(format.data(), 1, format.size(), f) == format.size();
    if ((f && std::fclose(f) != 0) || !written || std::rename(temp.c_str(), path.c_str()) != 0)
        std::fprintf(stderr, "netboard-sim printer: cannot write %s\n", path.c_str());
}

// Answers every ~HS and writes every whole format in `pending`, leaving what is not whole yet.
// False when the connection is to end.
bool Consume(const PrinterBehaviour& b, int fd, std::string* pending) {
    for (;;) {
        const size_t hs = pending->find("~HS");
        const size_t xz = pending->find("^XZ");
        if (hs != std::string::npos && (xz == std::string::npos || hs < xz)) {
            pending->erase(hs, 3);
            const std::string answer =
                b.cut ? StatusLine(0, b) : StatusLine(0, b) + StatusLine(1, b) + StatusLine(2, b);
            if (!b.silent && !WriteAll(fd, answer.data(), answer.size()))
                return false;
            if (b.cut)
                return false;
        } else if (xz != std::string::npos) {
            const size_t start = pending->find_first_not_of(" \t\r\n");
            if (!b.jobs.empty())
                WriteJob(b, pending->substr(start, xz + 3 - start));
            pending->erase(0, xz + 3);
        } else if (pending->size() > kMaxPending) {
            std::fprintf(stderr, "netboard-sim printer: no ^XZ in %zu bytes, dropped\n",
                         pending->size());
            return false;
        } else {
            return true;
        }
    }
}

// Serves one connection until the peer closes it.
void Serve(const PrinterBehaviour& b, int fd) {
    std::string pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ReceiveSome(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        pending.append(buf, static_cast<size_t>(n));
        if (!Consume(b, fd, &pending))
            return;
    }
}

}  // namespace

int RunPrinter(int argc, char** argv) {
    PrinterBehaviour b;
    if (!ParseArgs(argc, argv, &b))
        return argc > 0 && !std::strcmp(argv[0], "--help") ? 0 : 2;
    signal(SIGPIPE, SIG_IGN);
    int status = 0;
    const int ls = OpenAnnouncedListener("printer", b.address.c_str(), b.port, true, &status);
    if (ls < 0)
        return status;
    for (;;) {
        const int fd = accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            std::perror("netboard-sim printer: accept");
            return 1;
        }
        std::fprintf(stderr, "netboard-sim printer: connection\n");
        Serve(b, fd);
        close(fd);
    }
}
