// netboard-barewrite: the floor of netboard-cli's write, as a process of its own. It does the
// same exchange as `netboard-cli ... write` (the wake line, the ten setting lines and "save",
// each answered before the next, then "exit" over serial; over telnet the login and the 100 ms
// pause after the wake line) with nothing else: no event loop, no threads, no log, no ledger.
//   netboard-barewrite serial DEVICE
//   netboard-barewrite telnet ADDRESS
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bareclient.h"
#include "board/commandline.h"
#include "board/settingtable.h"
#include "core/settings.h"

namespace {

std::vector<QByteArray> WriteLines(const TBoardParams& p) {
    std::vector<QByteArray> lines{kWakeLine};
    for (const char* k : kSettingOrder)
        lines.push_back(BuildCommandLine(k, p));
    lines.push_back(BuildCommandLine("save", p));
    return lines;
}

int Serial(const char* device, const TBoardParams& p) {
    const int fd = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 2;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    for (const QByteArray& line : WriteLines(p)) {
        if (write(fd, line.constData(), static_cast<size_t>(line.size())) != line.size())
            return 1;
        // The echo, the prompt and (but after the wake line) "OK".
        const qsizetype want = line.size() + (line == kWakeLine ? 1 : 3);
        char buf[256];
        for (qsizetype got = 0; got < want;) {
            pollfd pf{fd, POLLIN, 0};
            if (poll(&pf, 1, 2000) <= 0)
                return 1;
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return 1;
            got += n;
        }
    }
    const QByteArray exit = BuildCommandLine("exit", p);
    const bool ok = write(fd, exit.constData(), static_cast<size_t>(exit.size())) == exit.size();
    close(fd);
    return ok ? 0 : 1;
}

int Telnet(const char* address, const TBoardParams& p) {
    TBareTelnet t(address, true);
    if (!t.Login(p.TelnetPass.toLatin1()))
        return 2;
    bool first = true;
    for (const QByteArray& line : WriteLines(p)) {
        if (first) {
            t.Exchange(line, {});  // the wake line; its prompt after the written pause
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            first = false;
        } else if (t.Exchange(line, ">OK") < 0) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    TBoardParams p;
    p.TCPIP1_1 = 127;  // what the CLI's settings file says; the values do not matter to the board
    p.TCPIP1_2 = 0;
    p.TCPIP1_3 = 9;
    p.TCPIP1_4 = 1;
    return !std::strcmp(argv[1], "serial") ? Serial(argv[2], p) : Telnet(argv[2], p);
}
