#include "core/posixio.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& o) noexcept {
    if (this != &o)
        Reset(o.Release());
    return *this;
}

void TUniqueFd::Reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool TUniqueFd::Close() {
    return ::close(Release()) == 0;
}

TEventFd::TEventFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!fd_.Valid())
        error_ = errno;
}

void TEventFd::Signal() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.Get(), &one, sizeof one);
}

void TEventFd::Drain() const {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.Get(), &count, sizeof count);
}

bool WriteAll(int fd, const void* bytes, size_t n) {
    const char* p = static_cast<const char*>(bytes);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

QString ErrnoText(int err) {
    // The causes an operator meets, in Japanese; the system's own text stays beside them (for
    // whoever looks it up), and stands alone for the rest.
    static const std::pair<int, const char*> kJapanese[] = {
        {EACCES, "アクセスが許可されていません"},
        {EPERM, "操作が許可されていません"},
        {ENOENT, "ファイルまたはフォルダがありません"},
        {ENOTDIR, "フォルダではありません"},
        {EISDIR, "フォルダです"},
        {EEXIST, "すでにあります"},
        {EROFS, "読み取り専用です"},
        {ENOSPC, "ディスクに空きがありません"},
        {EFBIG, "ファイルが大きすぎます"},
        {EIO, "入出力エラーです"},
        {EBUSY, "使用中です"},
        {ENODEV, "デバイスがありません"},
        {ENXIO, "デバイスがありません"},
        {ENOTTY, "シリアルポートではありません"},
        {ECONNREFUSED, "接続を拒否されました"},
        {ETIMEDOUT, "時間内に応答がありません"},
        {EHOSTUNREACH, "接続先に到達できません"},
        {ENETUNREACH, "ネットワークに到達できません"},
        {ECONNRESET, "接続が切断されました"},
        {EPIPE, "接続が切断されました"},
    };
    const QString system = QString::fromLocal8Bit(std::strerror(err));
    for (const auto& [code, text] : kJapanese) {
        if (code == err)
            return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text), system);
    }
    return system;
}
