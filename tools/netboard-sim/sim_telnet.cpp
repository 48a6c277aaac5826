// The substitute board's telnet face: listens on an IPv4 address and port, and serves one
// connection at a time as a board does: option requests, the "PASSWORD:" prompt, the echo of
// every character and the answers of the board's command language (BoardModel).
//
// The board's working settings live as long as the process, so a second connection sees what the
// first one set (as the check-and-set procedure expects); what "save" stored outlives it with
// --state.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boardmodel.h"
#include "core/posixio.h"
#include "listener.h"
#include "modes.h"

namespace {

constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr unsigned char OPT_ECHO = 1, OPT_SGA = 3, OPT_TTYPE = 24;

struct TelnetOptions {
    QByteArray address = "127.0.0.1";
    int port = 23;
    QByteArray password = "KXW";
    bool noIac = false;        // never send a telnet command
    bool noPassword = false;   // no login: command mode at once
    bool please = false;       // "Please enter PASSWORD:" (a capital P before the prompt)
    bool hangupWrong = false;  // hang up on a wrong password (else ask again, 3 times)
    bool hangupAfterLogin = false;
    bool mute = false;       // send nothing at all
    bool split = false;      // every byte in its own write, a little apart
    int dropConnection = 0;  // close this connection (counted from 1) at once, saying nothing
    int splitGapUs = 1000;
    BoardBehaviour board;
};

const char* const kTelnetHelp =
    "usage: netboard-sim telnet [switches]\n"
    "  --address A          IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N             TCP port (default 23)\n"
    "  --password P         the password the board accepts (default KXW)\n"
    "  --no-iac             never send a telnet command (IAC)\n"
    "  --no-password        no password prompt; lines are answered at once\n"
    "  --please             prompt \"Please enter PASSWORD:\" (a word with a capital P first)\n"
    "  --hangup-wrong       hang up at once on a wrong password (default: ask again, 3 tries)\n"
    "  --hangup-after-login hang up right after a correct password\n"
    "  --mute               send nothing at all (no options, prompt, echo or answer)\n"
    "  --split              send every byte in its own write, about 1 ms apart\n"
    "  --drop-connection N  close the N-th connection at once, before the password prompt\n";

// Server side of the telnet command filter: drops commands from what the client sends and
// notes what the board reacts to.
class InputFilter {
  public:
    struct Result {
        QByteArray data;
        bool willTerminalType = false;
        QByteArray terminalType;  // from SB TERMINAL-TYPE IS ... SE
    };

    Result Feed(const QByteArray& in) {
        Result r;
        for (char ch : in) {
            const auto b = static_cast<unsigned char>(ch);
            switch (state_) {
                case S::Data:
                    if (b == IAC)
                        state_ = S::Cmd;
                    else
                        r.data.append(ch);
                    break;
                case S::Cmd:
                    if (b == IAC) {
                        r.data.append(ch);
                        state_ = S::Data;
                    } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                        verb_ = b;
                        state_ = S::Opt;
                    } else if (b == SB) {
                        sub_.clear();
                        state_ = S::Sub;
                    } else {
                        state_ = S::Data;
                    }
                    break;
                case S::Opt:
                    if (verb_ == WILL && b == OPT_TTYPE)
                        r.willTerminalType = true;
                    state_ = S::Data;
                    break;
                case S::Sub:
                    if (b == IAC)
                        state_ = S::SubIac;
                    else if (sub_.size() < 256)
                        sub_.append(ch);
                    break;
                case S::SubIac:
                    if (b == SE) {
                        if (sub_.size() >= 2 && static_cast<unsigned char>(sub_[0]) == OPT_TTYPE &&
                            sub_[1] == 0)
                            r.terminalType = sub_.mid(2);
                        state_ = S::Data;
                    } else if (b == IAC) {
                        if (sub_.size() < 256)
                            sub_.append(ch);
                        state_ = S::Sub;
                    } else {
                        state_ = S::Data;
                    }
                    break;
            }
        }
        return r;
    }

  private:
    enum class S { Data, Cmd, Opt, Sub, SubIac };
    S state_ = S::Data;
    unsigned char verb_ = 0;
    QByteArray sub_;
};

class Connection {
  public:
    Connection(int fd, const TelnetOptions& o, BoardModel* model, WireCorruption* corruption)
        : fd_(fd), o_(o), model_(model), corruption_(corruption) {}

    void Serve() {
        if (!o_.noIac) {
            const unsigned char opts[] = {IAC,      DO,  OPT_TTYPE, IAC,    WILL,
                                          OPT_ECHO, IAC, WILL,      OPT_SGA};
            Send(QByteArray(reinterpret_cast<const char*>(opts), sizeof opts), false);
        }
        loggedIn_ = o_.noPassword;
        if (!loggedIn_)
            Prompt();
        char buf[4096];
        while (alive_) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            const InputFilter::Result in = filter_.Feed(QByteArray(buf, static_cast<int>(n)));
            if (in.willTerminalType && !o_.noIac) {
                const unsigned char send[] = {IAC, SB, OPT_TTYPE, 1, IAC, SE};
                Send(QByteArray(reinterpret_cast<const char*>(send), sizeof send), false);
            }
            if (!in.terminalType.isEmpty())
                std::fprintf(stderr, "netboard-sim: terminal type %s\n",
                             in.terminalType.constData());
            Take(in.data);
        }
    }

  private:
    void Prompt() {
        Send(o_.please ? QByteArray("\r\nPlease enter PASSWORD:") : QByteArray("\r\nPASSWORD:"));
    }

    void Take(const QByteArray& data) {
        int i = 0;
        // Login: the password line ends at CR; line feeds are not part of it.
        while (!loggedIn_ && i < data.size() && alive_) {
            const char c = data[i++];
            if (c == '\n' || c == '\0')
                continue;
            if (c != '\r') {
                if (password_.size() < 256)
                    password_.append(c);
                continue;
            }
            if (password_ == o_.password) {
                std::fprintf(stderr, "netboard-sim: logged in\n");
                loggedIn_ = true;
                skipLf_ = true;
                if (o_.hangupAfterLogin) {
                    alive_ = false;
                    return;
                }
                Send("\r\n");
            } else {
                std::fprintf(stderr, "netboard-sim: wrong password\n");
                if (o_.hangupWrong || ++tries_ >= 3) {
                    Send("\r\nPASSWORD INCORRECT\r\n");
                    alive_ = false;
                    return;
                }
                Prompt();
            }
            password_.clear();
        }
        if (!loggedIn_ || !alive_)
            return;
        // The rest of the login line's ending (LF after CR) is not a command's echo.
        while (skipLf_ && i < data.size() && (data[i] == '\n' || data[i] == '\0'))
            ++i;
        if (i < data.size())
            skipLf_ = false;
        if (i >= data.size())
            return;
        const BoardModel::Output out = model_->Feed(data.mid(i));
        Send(out.bytes);
        if (out.hangup)
            alive_ = false;
    }

    // Data bytes to the client: a 255 is doubled unless the board speaks no telnet.
    void Send(const QByteArray& bytes, bool isData = true) {
        if (o_.mute || bytes.isEmpty())
            return;
        QByteArray wire;
        for (char c : bytes) {
            wire.append(c);
            if (isData && !o_.noIac && static_cast<unsigned char>(c) == IAC)
                wire.append(c);
        }
        wire = corruption_->Pass(wire);
        if (o_.split) {
            for (char c : wire) {
                if (!Write(&c, 1))
                    return;
                ::usleep(static_cast<useconds_t>(o_.splitGapUs));
            }
        } else {
            Write(wire.constData(), static_cast<size_t>(wire.size()));
        }
    }

    bool Write(const char* p, size_t n) {
        if (WriteAll(fd_, p, n))
            return true;
        alive_ = false;
        return false;
    }

    int fd_;
    const TelnetOptions& o_;
    BoardModel* model_;
    WireCorruption* corruption_;
    InputFilter filter_;
    bool alive_ = true;
    bool loggedIn_ = false;
    bool skipLf_ = false;
    QByteArray password_;
    int tries_ = 0;
};

}  // namespace

int RunTelnet(int argc, char** argv) {
    TelnetOptions o;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (ParseBoardSwitch(argc, argv, &i, &o.board))
            continue;
        if (!std::strcmp(a, "--address"))
            o.address = next();
        else if (!std::strcmp(a, "--port"))
            o.port = std::atoi(next());
        else if (!std::strcmp(a, "--password"))
            o.password = next();
        else if (!std::strcmp(a, "--no-iac"))
            o.noIac = true;
        else if (!std::strcmp(a, "--no-password"))
            o.noPassword = true;
        else if (!std::strcmp(a, "--please"))
            o.please = true;
        else if (!std::strcmp(a, "--hangup-wrong"))
            o.hangupWrong = true;
        else if (!std::strcmp(a, "--hangup-after-login"))
            o.hangupAfterLogin = true;
        else if (!std::strcmp(a, "--mute"))
            o.mute = true;
        else if (!std::strcmp(a, "--split"))
            o.split = true;
        else if (!std::strcmp(a, "--drop-connection"))
            o.dropConnection = std::atoi(next());
        else {
            std::fprintf(stderr, "%s%s", kTelnetHelp, kBoardSwitchHelp);
            return std::strcmp(a, "--help") ? 2 : 0;
        }
    }

    int status = 0;
    const int ls = OpenAnnouncedListener("telnet", o.address.constData(), o.port, true, &status);
    if (ls < 0)
        return status;
    const int one = 1;

    // The board's own address is the one it is reached at, unless stored or set otherwise.
    o.board.factoryIp = o.address;
    BoardModel model(o.board);
    WireCorruption corruption(o.board);
    int connections = 0;
    for (;;) {
        const int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            std::perror("netboard-sim: accept");
            return 1;
        }
        // Small writes go out at once, so that split output really arrives in pieces.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::fprintf(stderr, "netboard-sim: connection\n");
        if (++connections != o.dropConnection)
            Connection(fd, o, &model, &corruption).Serve();
        ::close(fd);
        std::fprintf(stderr, "netboard-sim: connection closed\n");
    }
}
