// The board on a pseudo-terminal: the tool opens the terminal side (printed as the first line
// on stdout) as its COM port; the board reads and answers on the master side.
//
// The board keeps a descriptor of the terminal side open itself, so that the tool closing its
// port does not hang up the master, and the tool can open the port again and again. The board
// hangs up (closes the master, which the tool sees as a vanished device) only when told to by
// --hangup-after.
//
// The terminal's path changes with every start; --link PATH also makes PATH a symbolic link to
// it, so that a settings file can name one device for good. The link goes when the board ends.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <QByteArray>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boardmodel.h"
#include "core/posixio.h"
#include "modes.h"

namespace {

const char* const kSerialHelp =
    "usage: netboard-sim serial [switches]\n"
    "Plays the network board on a pseudo-terminal and prints the terminal's path.\n"
    "%s"
    "  --link PATH         also make PATH a symbolic link to the terminal (removed at exit;\n"
    "                      a link left by a board that was killed is replaced)\n"
    "  --byte-delay MS     send every byte on its own, MS ms apart\n"
    "  --reply-delay MS    wait MS ms between the echo of a line and the answer\n"
    "  --exit-echo-delay MS  echo each line once it is whole, the line \"exit\" MS ms late\n";

// The link --link made; removed by the board's own end or by a signal that ends it.
char g_link[PATH_MAX] = "";

void RemoveLinkAndDie(int sig) {
    ::unlink(g_link);  // async-signal-safe
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

struct TerminalLink {
    ~TerminalLink() {
        if (g_link[0])
            ::unlink(g_link);
    }
    // Makes `link` point at `terminal`. False, with the reason on stderr, when `link` exists and
    // is not a symbolic link, or cannot be made.
    bool Make(const char* link, const char* terminal) {
        if (std::strlen(link) >= sizeof g_link) {
            std::fprintf(stderr, "netboard-sim: --link path too long\n");
            return false;
        }
        struct stat st {};
        if (::lstat(link, &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "netboard-sim: %s exists and is not a symbolic link\n", link);
                return false;
            }
            ::unlink(link);
        }
        if (::symlink(terminal, link) != 0) {
            std::fprintf(stderr, "netboard-sim: cannot make %s: %s\n", link, std::strerror(errno));
            return false;
        }
        std::strcpy(g_link, link);
        for (const int sig : {SIGTERM, SIGINT, SIGHUP})
            std::signal(sig, RemoveLinkAndDie);
        return true;
    }
};

void SleepMs(int ms) {
    if (ms > 0)
        ::usleep(static_cast<useconds_t>(ms) * 1000u);
}

// Sends `bytes` whole, or one at a time `byteDelayMs` apart.
bool Send(int fd, const QByteArray& bytes, int byteDelayMs) {
    if (byteDelayMs <= 0)
        return WriteAll(fd, bytes.constData(), bytes.size());
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            SleepMs(byteDelayMs);
        if (!WriteAll(fd, bytes.constData() + i, 1))
            return false;
    }
    return true;
}

}  // namespace

int RunSerial(int argc, char** argv) {
    BoardBehaviour behaviour;
    int byteDelayMs = 0;
    int replyDelayMs = 0;
    int exitEchoDelayMs = -1;
    const char* link = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (ParseBoardSwitch(argc, argv, &i, &behaviour))
            continue;
        if (!std::strcmp(argv[i], "--byte-delay") && i + 1 < argc) {
            byteDelayMs = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--reply-delay") && i + 1 < argc) {
            replyDelayMs = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--exit-echo-delay") && i + 1 < argc) {
            exitEchoDelayMs = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--link") && i + 1 < argc) {
            link = argv[++i];
        } else {
            std::fprintf(stderr, kSerialHelp, kBoardSwitchHelp);
            return std::strcmp(argv[i], "--help") ? 2 : 0;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char path[256];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, path, sizeof path) != 0) {
        std::fprintf(stderr, "netboard-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const int terminal = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        std::fprintf(stderr, "netboard-sim: cannot open %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    // Raw until the tool sets its own modes: no echo or line editing by the terminal itself.
    termios t{};
    ::tcgetattr(terminal, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(terminal, TCSANOW, &t);

    TerminalLink linked;
    if (link && !linked.Make(link, path))
        return 1;
    std::printf("%s\n", path);
    std::fflush(stdout);

    BoardModel board(behaviour);
    WireCorruption wire(behaviour);
    // With --exit-echo-delay, the echo of the line received so far, sent once the line is whole.
    QByteArray line;
    QByteArray heldEcho;
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::fprintf(stderr, "netboard-sim: terminal closed\n");
            return 0;
        }
        // Byte by byte, so that the echo of each byte goes out before the answer it ends.
        for (ssize_t i = 0; i < n; ++i) {
            const BoardModel::Output out = board.Feed(QByteArray(1, buf[i]));
            const int echoLen = behaviour.echo && !out.bytes.isEmpty() ? 1 : 0;
            const QByteArray answer = out.bytes.mid(echoLen);
            QByteArray echo = out.bytes.left(echoLen);
            if (exitEchoDelayMs >= 0) {
                line += buf[i];
                heldEcho += echo;
                echo.clear();
                if (buf[i] == '\n') {
                    if (line == "exit\r\n")
                        SleepMs(exitEchoDelayMs);
                    echo = heldEcho;
                    line.clear();
                    heldEcho.clear();
                }
            }
            if (!Send(master, wire.Pass(echo), byteDelayMs))
                return 1;
            if (!answer.isEmpty()) {
                SleepMs(replyDelayMs);
                if (byteDelayMs > 0)
                    SleepMs(byteDelayMs);
                if (!Send(master, wire.Pass(answer), byteDelayMs))
                    return 1;
            }
            if (out.hangup) {
                // Give the tool time to take the last answer before the line goes.
                SleepMs(300);
                std::fprintf(stderr, "netboard-sim: hanging up after %d lines\n",
                             board.LinesReceived());
                ::close(master);
                ::close(terminal);
                return 0;
            }
        }
    }
}
