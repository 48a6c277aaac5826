#include "label/zplprinter.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "core/posixio.h"
#include "core/text.h"
#include "label/zpl.h"

namespace {

using TSteady = std::chrono::steady_clock;

class TDeadline {
  public:
    explicit TDeadline(int ms) : end_(TSteady::now() + std::chrono::milliseconds(ms)) {}
    int RemainingMs() const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - TSteady::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

  private:
    TSteady::time_point end_;
};

// Waits until `fd` is ready for `events` or the deadline passes: 1 ready, 0 time out, -1 failed
// (errno tells why).
int WaitFor(int fd, short events, const TDeadline& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, deadline.RemainingMs());
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

std::optional<sockaddr_in> Resolve(const QString& host, int port, QString* error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (rc != 0) {
        *error = QString::fromLocal8Bit(::gai_strerror(rc));
        return std::nullopt;
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A connected non-blocking socket, or an invalid one with `*err` set.
TUniqueFd ConnectWithin(const sockaddr_in& address, const TDeadline& deadline, int* err) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        *err = errno;
        return fd;
    }
    const auto* sa = reinterpret_cast<const sockaddr*>(&address);
    if (::connect(fd.Get(), sa, sizeof address) != 0 && errno != EINPROGRESS) {
        *err = errno;
        return TUniqueFd();
    }
    const int r = WaitFor(fd.Get(), POLLOUT, deadline);
    socklen_t len = sizeof *err;
    *err = r == 0 ? ETIMEDOUT : r < 0 ? errno : 0;
    if (r > 0 && ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, err, &len) != 0)
        *err = errno;
    return *err == 0 ? std::move(fd) : TUniqueFd();
}

// Sends every byte before the deadline; false with `*err` set otherwise.
bool SendAll(int fd, const QByteArray& bytes, const TDeadline& deadline, int* err) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent,
                                 static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            *err = errno;
            return false;
        }
        const int r = WaitFor(fd, POLLOUT, deadline);
        if (r <= 0) {
            *err = r == 0 ? ETIMEDOUT : errno;
            return false;
        }
    }
    return true;
}

// What came back for ~HS.
struct TStatusRead {
    enum class THow { Answered, Silent, Closed };
    THow how = THow::Answered;
    THostStatus status;
    QByteArray bytes;
    int err = 0;  // Closed: the receive's error, 0 for an orderly close
};

// Reads until the answer is whole or cannot become so, at most kHostStatusMaxBytes.
TStatusRead ReadStatus(int fd, const TDeadline& deadline) {
    TStatusRead read;
    char buf[kHostStatusMaxBytes];
    for (;;) {
        read.status = ParseHostStatus(read.bytes);
        if (read.status.state != THostStatus::TState::Incomplete)
            return read;
        const int r = WaitFor(fd, POLLIN, deadline);
        if (r <= 0) {
            read.how = r == 0 ? TStatusRead::THow::Silent : TStatusRead::THow::Closed;
            read.err = r == 0 ? 0 : errno;
            return read;
        }
        // The parser calls a line too long before the bound is reached, so room is left.
        const size_t room = static_cast<size_t>(kHostStatusMaxBytes - read.bytes.size());
        const ssize_t n = ::recv(fd, buf, room, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            read.how = TStatusRead::THow::Closed;
            read.err = n < 0 ? errno : 0;
            return read;
        }
        read.bytes.append(buf, n);
    }
}

// The reason the answer forbids a job, as an outcome; an ok one when the printer is ready.
TLabelOutcome Judge(const TStatusRead& read, const QString& name, int answerMs) {
    using THow = TStatusRead::THow;
    const QString printer = QStringLiteral("ラベルプリンター %1 ").arg(name);
    if (read.how == THow::Silent)
        return TLabelOutcome::Failed(
            QStringLiteral("no-answer"),
            printer + QStringLiteral("が %1 秒以内に状態を返しません（用紙切れ・ヘッドが開いて"
                                     "いるときに返さない機種もあります）")
                          .arg(answerMs / 1000.0));
    if (read.how == THow::Closed)
        return TLabelOutcome::Failed(
            QStringLiteral("closed"),
            printer + QStringLiteral("が状態の応答の途中で接続を切りました") +
                (read.err ? QStringLiteral(" (%1)").arg(ErrnoText(read.err)) : QString()));
    const THostStatus& s = read.status;
    if (s.state == THostStatus::TState::Malformed)
        return TLabelOutcome::Failed(QStringLiteral("malformed"),
                                     printer + QStringLiteral("の状態の応答が読めません（%1）: %2")
                                                   .arg(s.problem, HexDump(read.bytes.left(48))));
    if (s.paperOut)
        return TLabelOutcome::Failed(QStringLiteral("paper-out"),
                                     printer + QStringLiteral("は用紙切れです"));
    if (s.headOpen)
        return TLabelOutcome::Failed(QStringLiteral("head-open"),
                                     printer + QStringLiteral("はヘッドが開いています"));
    if (s.paused)
        return TLabelOutcome::Failed(QStringLiteral("paused"),
                                     printer + QStringLiteral("は一時停止中です"));
    return TLabelOutcome::Ok({});
}

}  // namespace

TZplPrinter::TZplPrinter(const QString& host, int port, const TLimits& limits)
    : host_(host), port_(port), limits_(limits) {}

TLabelOutcome TZplPrinter::Print(const QByteArray& job) const {
    const QString name = QStringLiteral("%1:%2").arg(host_).arg(port_);
    auto failed = [&name](const char* fault, const QString& what, const QString& why) {
        return TLabelOutcome::Failed(
            QLatin1String(fault),
            QStringLiteral("ラベルプリンター %1 %2: %3").arg(name, what, why));
    };
    QString error;
    const std::optional<sockaddr_in> address = Resolve(host_, port_, &error);
    if (!address)
        return failed("connect", QStringLiteral("に接続できません"), error);
    int err = 0;
    const TUniqueFd fd = ConnectWithin(*address, TDeadline(limits_.connectMs), &err);
    if (!fd.Valid())
        return failed("connect", QStringLiteral("に接続できません"), ErrnoText(err));
    const TDeadline answerBy(limits_.answerMs);
    if (!SendAll(fd.Get(), kHostStatusRequest, answerBy, &err))
        return failed("send", QStringLiteral("に状態を問い合わせられません"), ErrnoText(err));
    const TLabelOutcome ready = Judge(ReadStatus(fd.Get(), answerBy), name, limits_.answerMs);
    if (!ready.ok)
        return ready;
    if (!SendAll(fd.Get(), job, TDeadline(limits_.sendMs), &err))
        return failed("send", QStringLiteral("にラベルを送れません"), ErrnoText(err));
    ::shutdown(fd.Get(), SHUT_WR);
    return TLabelOutcome::Ok(QStringLiteral("ラベルをラベルプリンター %1 に送りました").arg(name));
}
