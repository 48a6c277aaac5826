#include "bareclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>

namespace {

double SteadyMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TBareTelnet::TBareTelnet(const char* address, bool noDelay) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (noDelay) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(23);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

TBareTelnet::~TBareTelnet() {
    if (fd_ >= 0)
        close(fd_);
}

bool TBareTelnet::Receive() {
    char buf[32768];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    const auto r = filter_.Feed(QByteArray(buf, static_cast<int>(n)));
    telnet_ |= r.sawIac;
    for (const QByteArray& ans : r.answers)
        send(fd_, ans.constData(), static_cast<size_t>(ans.size()), MSG_NOSIGNAL);
    data_ += r.data;
    return true;
}

void TBareTelnet::Send(const QByteArray& text) {
    QByteArray w;
    for (char c : text)
        w += telnet::WireBytes(static_cast<unsigned char>(c), telnet_);
    send(fd_, w.constData(), static_cast<size_t>(w.size()), MSG_NOSIGNAL);
}

bool TBareTelnet::Login(const QByteArray& password) {
    if (fd_ < 0)
        return false;
    while (!data_.contains("PASSWORD:")) {
        if (!Receive())
            return false;
    }
    Send(password + "\r\n");
    return true;
}

double TBareTelnet::Exchange(const QByteArray& line, const QByteArray& expected) {
    data_.clear();
    const double t0 = SteadyMs();
    Send(line);
    for (;;) {
        const int at = static_cast<int>(data_.indexOf('>', line.size()));
        if (at >= 0 && data_.size() >= at + expected.size())
            return SteadyMs() - t0;
        if (!Receive())
            return -1;
    }
}
