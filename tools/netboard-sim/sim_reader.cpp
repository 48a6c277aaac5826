// The substitute reader: listens on a TCP address and answers the ROM version request
// (CMD 4F, data 90 00) with a firmware-version ACK frame; other commands get the NACK
// "不正なコマンド" (44). Connections are served one after another. Prints the listening
// address ("ADDR:PORT") as its first stdout line; everything else goes to stderr.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/posixio.h"
#include "listener.h"
#include "modes.h"

namespace {

const char* const kReaderHelp =
    "netboard-sim reader [switches]\n"
    "  --address ADDR      listen address (default 127.0.0.1)\n"
    "  --port N            listen port (default 0: any free port)\n"
    "  --version TEXT      version text of the answer (default V1.00)\n"
    "  --sub-code CODE     sub-code of the answer's ACK (default 0x90, the version's)\n"
    "  --nack CODE         answer a NACK with this error code instead\n"
    "  --tag-error CODE    tag error code sent with --nack 5\n"
    "  --uid HEX           answer a UID frame (I) with these 8 bytes instead\n"
    "  --d-frame           answer a D frame instead\n"
    "  --reply-code CODE   answer a frame with this reply code instead\n"
    "  --silent            never answer\n"
    "  --stray HEX         send these bytes before each answer\n"
    "  --burst N           send N filler bytes (0x55) before each answer\n"
    "  --split N           send answers in pieces of N bytes\n"
    "  --split-delay MS    pause between pieces (default 30)\n"
    "  --refuse            refuse every connection\n"
    "  --drop              close each connection as soon as it is accepted\n"
    "  --drop-on-request   close the connection when a request arrives, without answer\n"
    "  --transcript FILE   append each received frame as a line of hex bytes\n"
    "Codes take decimal or 0x-prefixed hexadecimal.\n";

struct ReaderBehaviour {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string version = "V1.00";
    int subCode = 0x90;
    int nack = -1;
    int tagError = 0;
    std::vector<uint8_t> uid;
    bool dFrame = false;
    int replyCode = -1;
    bool silent = false;
    std::vector<uint8_t> stray;
    int burst = 0;
    int split = 0;
    int splitDelayMs = 30;
    bool refuse = false;
    bool drop = false;
    bool dropOnRequest = false;
    std::string transcript;
};

bool ParseCode(const char* text, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (!*text || *end || v < 0 || v > 255)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool ParseHex(const char* text, std::vector<uint8_t>* out) {
    std::string digits;
    for (const char* p = text; *p; ++p)
        if (*p != ' ' && *p != '-' && *p != ':')
            digits += *p;
    if (digits.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string two = digits.substr(i, 2);
        const long v = std::strtol(two.c_str(), &end, 16);
        if (*end)
            return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool ParseArgs(int argc, char** argv, ReaderBehaviour* b) {
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--help") {
            std::fputs(kReaderHelp, stderr);
            std::exit(0);
        } else if (a == "--address" && (v = next())) {
            b->address = v;
        } else if (a == "--port" && (v = next())) {
            b->port = std::atoi(v);
        } else if (a == "--version" && (v = next())) {
            b->version = v;
        } else if (a == "--sub-code" && (v = next())) {
            if (!ParseCode(v, &b->subCode))
                return false;
        } else if (a == "--nack" && (v = next())) {
            if (!ParseCode(v, &b->nack))
                return false;
        } else if (a == "--tag-error" && (v = next())) {
            if (!ParseCode(v, &b->tagError))
                return false;
        } else if (a == "--uid" && (v = next())) {
            if (!ParseHex(v, &b->uid) || b->uid.size() != 8)
                return false;
        } else if (a == "--d-frame") {
            b->dFrame = true;
        } else if (a == "--reply-code" && (v = next())) {
            if (!ParseCode(v, &b->replyCode))
                return false;
        } else if (a == "--silent") {
            b->silent = true;
        } else if (a == "--stray" && (v = next())) {
            if (!ParseHex(v, &b->stray))
                return false;
        } else if (a == "--burst" && (v = next())) {
            b->burst = std::atoi(v);
        } else if (a == "--split" && (v = next())) {
            b->split = std::atoi(v);
        } else if (a == "--split-delay" && (v = next())) {
            b->splitDelayMs = std::atoi(v);
        } else if (a == "--refuse") {
            b->refuse = true;
        } else if (a == "--drop") {
            b->drop = true;
        } else if (a == "--drop-on-request") {
            b->dropOnRequest = true;
        } else if (a == "--transcript" && (v = next())) {
            b->transcript = v;
        } else {
            std::fprintf(stderr, "netboard-sim reader: bad switch %s\n%s", a.c_str(), kReaderHelp);
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> Frame(uint8_t id, uint8_t code, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f{0x02, id, code, static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0x03);
    unsigned sum = 0;
    for (uint8_t c : f)
        sum += c;
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x0D);
    return f;
}

// The answer to one request frame (STX..CR); empty for none.
std::vector<uint8_t> Answer(const ReaderBehaviour& b, const std::vector<uint8_t>& req) {
    const uint8_t id = req[1];
    const bool romRequest = req[2] == 0x4F && req[3] >= 1 && req[4] == 0x90;
    if (b.silent)
        return {};
    if (b.nack >= 0) {
        std::vector<uint8_t> data{static_cast<uint8_t>(b.nack)};
        if (b.nack == 5)
            data.push_back(static_cast<uint8_t>(b.tagError));
        return Frame(id, 0x31, data);
    }
    if (!b.uid.empty()) {
        std::vector<uint8_t> data{0x00};
        data.insert(data.end(), b.uid.begin(), b.uid.end());
        return Frame(id, 0x49, data);
    }
    if (b.dFrame)
        return Frame(id, 0x44, {});
    if (b.replyCode >= 0)
        return Frame(id, static_cast<uint8_t>(b.replyCode), {0x00});
    if (!romRequest)
        return Frame(id, 0x31, {0x44});
    std::vector<uint8_t> data{static_cast<uint8_t>(b.subCode)};
    data.insert(data.end(), b.version.begin(), b.version.end());
    if (data.size() > 255)
        data.resize(255);
    return Frame(id, 0x30, data);
}

bool SendAnswer(const ReaderBehaviour& b, int fd, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> before = b.stray;
    before.insert(before.end(), static_cast<size_t>(b.burst > 0 ? b.burst : 0), 0x55);
    if (!before.empty() && !WriteAll(fd, before.data(), before.size()))
        return false;
    if (b.split <= 0)
        return WriteAll(fd, frame.data(), frame.size());
    for (size_t at = 0; at < frame.size(); at += static_cast<size_t>(b.split)) {
        if (at > 0)
            usleep(static_cast<useconds_t>(b.splitDelayMs) * 1000u);
        const size_t n = std::min(frame.size() - at, static_cast<size_t>(b.split));
        if (!WriteAll(fd, frame.data() + at, n))
            return false;
    }
    return true;
}

void Transcribe(const ReaderBehaviour& b, const std::vector<uint8_t>& frame) {
    if (b.transcript.empty())
        return;
    FILE* f = std::fopen(b.transcript.c_str(), "a");
    if (!f)
        return;
    for (size_t i = 0; i < frame.size(); ++i)
        std::fprintf(f, i ? " %02X" : "%02X", frame[i]);
    std::fputc('\n', f);
    std::fclose(f);
}

// Serves one connection until the peer closes it (or a switch drops it).
void Serve(const ReaderBehaviour& b, int fd) {
    std::vector<uint8_t> frame;
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ReceiveSome(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i) {
            const uint8_t c = buf[i];
            if (frame.empty() && c != 0x02)
                continue;  // outside a frame
            frame.push_back(c);
            if (frame.size() < 4 || frame.size() < static_cast<size_t>(frame[3]) + 7)
                continue;
            Transcribe(b, frame);
            if (b.dropOnRequest)
                return;
            const std::vector<uint8_t> answer = Answer(b, frame);
            frame.clear();
            if (!answer.empty() && !SendAnswer(b, fd, answer))
                return;
        }
    }
}

}  // namespace

int RunReader(int argc, char** argv) {
    ReaderBehaviour b;
    if (!ParseArgs(argc, argv, &b))
        return 2;
    signal(SIGPIPE, SIG_IGN);

    // Refusing: the port stays bound (so nobody else takes it) but is never listened on, so
    // every connect is answered with a reset.
    int status = 0;
    const int ls = OpenAnnouncedListener("reader", b.address.c_str(), b.port, !b.refuse, &status);
    if (ls < 0)
        return status;

    if (b.refuse) {
        for (;;)
            pause();
    }
    for (;;) {
        const int fd = accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            std::perror("netboard-sim reader: accept");
            return 1;
        }
        std::fprintf(stderr, "netboard-sim reader: connection\n");
        if (!b.drop)
            Serve(b, fd);
        close(fd);
    }
}
