#include "scriptpeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <QCoreApplication>
#include <QThread>

#include "core/replytimer.h"

namespace {

// GUI events are processed only on the GUI thread; a script thread just waits.
void PumpIfGui() {
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        WaitForEvents(0);
}

}  // namespace

ScriptPeer::ScriptPeer(const char* address, int port, int backlog) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, backlog) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

ScriptPeer::~ScriptPeer() {
    JoinScript();
    CloseConnection();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool ScriptPeer::Accept(int timeoutMs) {
    TReplyTimer t;
    t.Start();
    while (!t.Elapsed(static_cast<uint32_t>(timeoutMs))) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            connFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            return connFd_ >= 0;
        }
        PumpIfGui();
    }
    return false;
}

bool ScriptPeer::Send(const QByteArray& bytes) {
    const char* p = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::send(connFd_, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

QByteArray ScriptPeer::Read(int n, int timeoutMs) {
    QByteArray got;
    TReplyTimer t;
    t.Start();
    while (got.size() < n && !t.Elapsed(static_cast<uint32_t>(timeoutMs))) {
        pollfd p{connFd_, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            char buf[4096];
            const ssize_t r = ::recv(connFd_, buf, std::min<size_t>(sizeof buf, n - got.size()), 0);
            if (r <= 0)
                break;
            got.append(buf, static_cast<int>(r));
        }
        PumpIfGui();
    }
    return got;
}

ssize_t ScriptPeer::ReceiveWithin(char* buf, size_t size, int timeoutMs) {
    TReplyTimer t;
    t.Start();
    while (!t.Elapsed(static_cast<uint32_t>(timeoutMs))) {
        pollfd p{connFd_, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0)
            return ::recv(connFd_, buf, size, 0);
        PumpIfGui();
    }
    return -2;
}

QByteArray ScriptPeer::ReadOnce(int timeoutMs) {
    char buf[4096];
    const ssize_t r = ReceiveWithin(buf, sizeof buf, timeoutMs);
    return r > 0 ? QByteArray(buf, static_cast<int>(r)) : QByteArray();
}

QByteArray ScriptPeer::ReadUntilQuiet(int quietMs, int timeoutMs) {
    QByteArray got;
    TReplyTimer total, quiet;
    total.Start();
    quiet.Start();
    while (!quiet.Elapsed(static_cast<uint32_t>(quietMs)) &&
           !total.Elapsed(static_cast<uint32_t>(timeoutMs))) {
        pollfd p{connFd_, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            char buf[4096];
            const ssize_t r = ::recv(connFd_, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            got.append(buf, static_cast<int>(r));
            quiet.Start();
        }
        PumpIfGui();
    }
    return got;
}

bool ScriptPeer::WaitEof(int timeoutMs) {
    TReplyTimer t;
    t.Start();
    for (;;) {
        char buf[4096];
        const uint32_t left = t.RemainingMs(static_cast<uint32_t>(timeoutMs));
        const ssize_t r = left > 0 ? ReceiveWithin(buf, sizeof buf, static_cast<int>(left)) : -2;
        if (r == -2)
            return false;
        if (r <= 0)
            return true;
    }
}

void ScriptPeer::CloseConnection() {
    if (connFd_ >= 0)
        ::close(connFd_);
    connFd_ = -1;
}

void ScriptPeer::ShutdownConnection() {
    if (connFd_ >= 0)
        ::shutdown(connFd_, SHUT_RDWR);
}

void ScriptPeer::RunScript(std::function<void(ScriptPeer&)> script) {
    script_ = std::thread([this, script] { script(*this); });
}

void ScriptPeer::JoinScript() {
    if (script_.joinable())
        script_.join();
}
