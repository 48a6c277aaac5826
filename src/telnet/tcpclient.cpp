#include "telnet/tcpclient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "core/replytimer.h"
#include "core/text.h"
#include "telnet/telneterrors.h"

ESocketError::ESocketError(int code, const QString& text)
    : Exception(QStringLiteral("Socket Error # %1\r\n%2").arg(code).arg(text)), text_(text) {}

ESocketError ESocketError::FromErrno(int err) {
    return ESocketError(err, ErrnoText(err));
}

// ---------------------------------------------------------------------------------------------
// TTcpConnection

TTcpConnection::TTcpConnection() {
    // The reader waits on the socket and on the wake counter, so that a stop request reaches a
    // reader blocked without a time limit.
    if (!wake_.Valid())
        throw ESocketError::FromErrno(errno);
}

TTcpConnection::~TTcpConnection() {
    // The derived client has joined its reader by now; shut the sending direction down so the
    // peer sees an orderly end, then the descriptor closes with the handle.
    std::lock_guard<std::mutex> lk(m_);
    if (allocated_)
        ::shutdown(socket_.Get(), SHUT_WR);
    allocated_ = false;
}

bool TTcpConnection::SocketOpen() const {
    std::lock_guard<std::mutex> lk(m_);
    return allocated_;
}

void TTcpConnection::ResetConnection() {
    std::lock_guard<std::mutex> lk(m_);
    socket_.Close();
    allocated_ = false;
    input_.clear();
    closedByPeer_ = false;
    disconnectNoticed_ = true;  // nothing to report until a new connection has been closed
    wake_.Drain();
}

void TTcpConnection::Adopt(int fd) {
    std::lock_guard<std::mutex> lk(m_);
    socket_.Reset(fd);
    allocated_ = true;
    disconnectNoticed_ = false;
}

void TTcpConnection::DetachReader() {
    std::lock_guard<std::mutex> lk(m_);
    readerAttached_ = false;
    if (!allocated_)
        socket_.Close();
}

bool TTcpConnection::CloseLocked() {
    closedByPeer_ = true;
    if (!allocated_)
        return false;
    ::shutdown(socket_.Get(), SHUT_WR);
    allocated_ = false;
    if (!readerAttached_)
        socket_.Close();
    return true;
}

bool TTcpConnection::CloseSocket() {
    std::lock_guard<std::mutex> lk(m_);
    return CloseLocked();
}

bool TTcpConnection::TakeDisconnectNotice() {
    std::lock_guard<std::mutex> lk(m_);
    if (allocated_ || disconnectNoticed_)
        return false;
    disconnectNoticed_ = true;
    return true;
}

void TTcpConnection::WakeReader() {
    wake_.Signal();
}

void TTcpConnection::InterruptSending() {
    // Only the owner's thread changes the descriptor, so reading it here needs no lock.
    if (socket_.Valid())
        ::shutdown(socket_.Get(), SHUT_WR);
}

TTcpConnection::WaitResult TTcpConnection::WaitReadable() {
    // The descriptor stays valid while a reader is attached (see CloseLocked).
    pollfd fds[2] = {{socket_.Get(), POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0)
        return WaitResult::Failed;
    if (fds[1].revents)
        return WaitResult::Woken;
    return WaitResult::Readable;
}

int TTcpConnection::ReceiveOnce() {
    char buf[RecvBufferSize];
    ssize_t n;
    do {
        n = ::recv(socket_.Get(), buf, sizeof buf, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw ESocketError::FromErrno(errno);
    input_.append(buf, static_cast<int>(n));
    return static_cast<int>(n);
}

QByteArray TTcpConnection::TakeInput() {
    QByteArray chunk;
    chunk.swap(input_);
    return chunk;
}

void TTcpConnection::Write(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    std::lock_guard<std::mutex> lk(m_);
    if (closedByPeer_ || !allocated_) {
        CloseLocked();
        throw EConnClosedGracefully();
    }
    const char* p = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::send(socket_.Get(), p, left, MSG_NOSIGNAL);
        if (n < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            // A socket that was shut down or reset takes nothing more: close it first.
            if (err == EPIPE || err == ECONNRESET || err == ESHUTDOWN)
                CloseLocked();
            // EAGAIN here is the send time-out: the peer stopped taking bytes.
            throw ESocketError::FromErrno(err == EAGAIN || err == EWOULDBLOCK ? ETIMEDOUT : err);
        }
        if (n == 0) {
            closedByPeer_ = true;
            throw EConnClosedGracefully();
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// ---------------------------------------------------------------------------------------------
// TTcpClient

namespace {

// Resolves `host` to an IPv4 address: a dotted address directly, anything else by name when
// `byName` allows it.
in_addr ResolveHost(const QString& host, bool byName) {
    in_addr addr{};
    if (const std::optional<uint32_t> ip = ParseIPv4(host)) {
        addr.s_addr = htonl(*ip);
        return addr;
    }
    if (!byName)
        throw ESocketError::FromErrno(EDESTADDRREQ);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = ::getaddrinfo(host.toLocal8Bit().constData(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        const int code = rc == EAI_SYSTEM ? errno : rc;
        throw ESocketError(code, QString::fromLocal8Bit(::gai_strerror(rc)));
    }
    addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return addr;
}

void SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) < 0)
        throw ESocketError::FromErrno(errno);
}

// Connects the non-blocking socket `fd` to `peer`, waiting at most `timeoutMs` for the
// handshake to finish; a failure or the time running out throws ESocketError.
void ConnectWithin(int fd, const sockaddr_in& peer, uint32_t timeoutMs) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return;
    if (errno != EINPROGRESS)
        throw ESocketError::FromErrno(errno);
    TReplyTimer timer;
    timer.Start();
    for (;;) {
        const uint32_t left = timer.RemainingMs(timeoutMs);
        if (left == 0)
            throw ESocketError::FromErrno(ETIMEDOUT);
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            throw ESocketError::FromErrno(errno);
        if (r > 0)
            break;
    }
    // The outcome of the handshake.
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err != 0)
        throw ESocketError::FromErrno(err);
}

}  // namespace

void TTcpClient::Connect() {
    if (SocketOpen())
        throw EAlreadyConnected();
    ResetConnection();

    // An IPv4 stream socket, non-blocking for now so that the connect can be bounded in time.
    TUniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!sock.Valid())
        throw ESocketError::FromErrno(errno);
    const int fd = sock.Get();

    // Bound to any local address and a port the system picks.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        throw ESocketError::FromErrno(errno);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(Port));
    peer.sin_addr = ResolveHost(Host, ResolveNames);

    // The connect itself, waited for at most ConnectTimeoutMs: a peer that drops the
    // handshake would otherwise block the caller for minutes.
    ConnectWithin(fd, peer, ConnectTimeoutMs);

    // Blocking from here on, as the reader and the writers expect, with a bound on sends.
    SetBlocking(fd, true);
    timeval tv{SendTimeoutMs / 1000, (SendTimeoutMs % 1000) * 1000};
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
        throw ESocketError::FromErrno(errno);

    Adopt(sock.Release());  // the connection owns the descriptor now
    if (OnConnected)
        OnConnected(this);
}
