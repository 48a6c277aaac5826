#include "wiretap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <functional>

#include "telnet/telnetfilter.h"

namespace {

sockaddr_in Port23(const char* address) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(23);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

bool SendAll(int fd, const char* p, ssize_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, static_cast<size_t>(n), MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= w;
    }
    return true;
}

}  // namespace

WireTap::WireTap(const char* front, const char* server) : server_(server) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = Port23(front);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 1) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    thread_ = std::thread([this] { Relay(); });
}

WireTap::~WireTap() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    ::close(wakeFd_);
}

bool WireTap::Join(int timeoutMs) {
    // The relay ends by itself when a side closes; past the time it is stopped all the same.
    for (int waited = 0; waited < timeoutMs && !done_; waited += 10)
        ::usleep(10000);
    const bool ended = done_;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    if (thread_.joinable())
        thread_.join();
    return ended;
}

void WireTap::Relay() {
    pollfd a[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(a, 2, 20000) <= 0 || a[1].revents) {
        done_ = true;
        return;
    }
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in s = Port23(server_.constData());
    if (client >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&s), sizeof s) == 0) {
        char buf[65536];
        for (;;) {
            pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            if (::poll(p, 3, -1) < 0 && errno != EINTR)
                break;
            if (p[2].revents)
                break;
            // One receive from `from` passed on to `to` and recorded; false once a side ends.
            auto pass = [&buf](int from, int to, const std::function<void(QByteArray)>& record) {
                const ssize_t n = ::recv(from, buf, sizeof buf, 0);
                if (n <= 0)
                    return false;
                record(QByteArray(buf, static_cast<int>(n)));
                return SendAll(to, buf, n);
            };
            if (p[0].revents &&
                !pass(client, server, [this](QByteArray b) { clientChunks_.push_back(b); }))
                break;
            if (p[1].revents && !pass(server, client, [this](QByteArray b) { serverBytes_ += b; }))
                break;
        }
    }
    if (client >= 0)
        ::close(client);
    ::close(server);
    done_ = true;
}

TelnetStream SplitTelnet(const QByteArray& bytes) {
    using namespace telnet;
    TelnetStream out;
    for (int i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b != kIac) {
            out.data.append(bytes[i]);
            continue;
        }
        if (i + 1 >= bytes.size())
            break;
        const auto verb = static_cast<unsigned char>(bytes[i + 1]);
        if (verb == kIac) {
            out.data.append(bytes[++i]);
        } else if (verb >= kWill && verb <= kDont) {
            out.commands.push_back(bytes.mid(i, 3));
            i += 2;
        } else if (verb == kSb) {
            const int end = bytes.indexOf(QByteArray("\xff\xf0", 2), i + 2);
            const int last = end < 0 ? bytes.size() - 1 : end + 1;
            out.commands.push_back(bytes.mid(i, last - i + 1));
            i = last;
        } else {
            out.commands.push_back(bytes.mid(i, 2));
            ++i;
        }
    }
    return out;
}
