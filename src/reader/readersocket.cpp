#include "reader/readersocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

TReaderSocket::TReaderSocket(int bufferSize, QObject* parent)
    : QObject(parent), bufferSize_(bufferSize) {}

TReaderSocket::~TReaderSocket() {
    Close();
}

QSocketNotifier* TReaderSocket::Watch(int type, void (TReaderSocket::*handler)()) {
    auto* n = new QSocketNotifier(fd_.Get(), static_cast<QSocketNotifier::Type>(type), this);
    connect(n, &QSocketNotifier::activated, this, handler);
    return n;
}

void TReaderSocket::Unwatch(QSocketNotifier** notifier) {
    if (!*notifier)
        return;
    (*notifier)->setEnabled(false);
    (*notifier)->deleteLater();
    *notifier = nullptr;
}

void TReaderSocket::Close() {
    // The notifiers stop watching before their descriptor goes.
    Unwatch(&readNotifier_);
    Unwatch(&writeNotifier_);
    fd_.Reset();
    queued_.clear();
    state_ = TState::Unconnected;
}

void TReaderSocket::Abort() {
    ++generation_;
    Close();
    received_.clear();
}

void TReaderSocket::Connect(uint32_t ip, uint16_t port) {
    Abort();
    const unsigned generation = generation_;
    // Non-blocking, so the connect runs on while the event loop goes on; closed on exec, so no
    // program started meanwhile inherits it.
    fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int err = fd_.Valid() ? 0 : errno;
    if (!err) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(ip);
        if (::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
            errno != EINPROGRESS)
            err = errno;
    }
    if (err) {
        // Reported from the event loop, as every other outcome.
        Close();
        QMetaObject::invokeMethod(
            this,
            [this, generation, err] {
                if (generation == generation_ && Error)
                    Error(err);
            },
            Qt::QueuedConnection);
        return;
    }
    state_ = TState::Connecting;
    // Writable once the connect has an outcome, which SO_ERROR then tells.
    writeNotifier_ = Watch(QSocketNotifier::Write, &TReaderSocket::OnWritable);
}

void TReaderSocket::OnWritable() {
    if (state_ == TState::Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err) {
            Fail(err);
            return;
        }
        state_ = TState::Connected;
        writeNotifier_->setEnabled(false);
        readNotifier_ = Watch(QSocketNotifier::Read, &TReaderSocket::OnReadable);
        if (Connected)
            Connected();
        return;
    }
    // The rest of the send queue.
    while (!queued_.isEmpty()) {
        const ssize_t n = ::send(fd_.Get(), queued_.constData(),
                                 static_cast<size_t>(queued_.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Full again: wait for the next writable event. A failed connection shows on the
            // read side, which reports it.
            if (errno != EAGAIN)
                queued_.clear();
            break;
        }
        queued_.remove(0, static_cast<int>(n));
    }
    if (queued_.isEmpty() && writeNotifier_)
        writeNotifier_->setEnabled(false);
}

void TReaderSocket::OnReadable() {
    const unsigned generation = generation_;
    bool arrived = false;
    int err = -1;  // -1: the connection goes on
    // Reads while the buffer has room; at its bound the notifier rests until Read makes room.
    while (received_.size() < bufferSize_) {
        char chunk[4096];
        const int want =
            std::min<int>(sizeof chunk, bufferSize_ - static_cast<int>(received_.size()));
        const ssize_t n = ::recv(fd_.Get(), chunk, static_cast<size_t>(want), 0);
        if (n > 0) {
            received_.append(chunk, static_cast<int>(n));
            arrived = true;
            continue;
        }
        if (n == 0)
            err = 0;  // the peer's close
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN)
            err = errno;
        break;
    }
    if (received_.size() >= bufferSize_ && readNotifier_)
        readNotifier_->setEnabled(false);
    if (arrived && ReadyRead)
        ReadyRead();
    if (err >= 0 && generation == generation_)
        Fail(err);
}

void TReaderSocket::Fail(int err) {
    const unsigned generation = generation_;
    const bool wasConnected = state_ == TState::Connected;
    // The received bytes stay readable; the socket itself is done.
    Close();
    // A reset of a connection is how a peer may close it: a close, not an error.
    const bool closedByPeer = wasConnected && (err == ECONNRESET || err == EPIPE);
    if (err && !closedByPeer && Error)
        Error(err);
    if (wasConnected && generation == generation_ && Disconnected)
        Disconnected();
}

int TReaderSocket::Read(char* bytes, int max) {
    const int n = std::min(max, BytesAvailable());
    if (n <= 0)
        return 0;
    std::copy_n(received_.constData(), n, bytes);
    received_.remove(0, n);
    if (readNotifier_)
        readNotifier_->setEnabled(true);
    return n;
}

int TReaderSocket::Write(const char* bytes, int n) {
    if (state_ != TState::Connected)
        return -1;
    int sent = 0;
    while (queued_.isEmpty() && sent < n) {
        const ssize_t k =
            ::send(fd_.Get(), bytes + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                return -1;
            break;
        }
        sent += static_cast<int>(k);
    }
    if (sent < n) {
        if (queued_.size() + (n - sent) > bufferSize_)
            return -1;
        queued_.append(bytes + sent, n - sent);
        writeNotifier_->setEnabled(true);
    }
    return n;
}
