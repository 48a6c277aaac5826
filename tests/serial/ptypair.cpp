#include "ptypair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QUuid>
#include <algorithm>
#include <cerrno>

#include "core/inifile.h"
#include "core/replytimer.h"

PtyPair::PtyPair() {
    // Non-blocking, so that a write to a full line can let the GUI thread empty it.
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[256];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return;
    }
    path_ = QString::fromLocal8Bit(name);
    terminal_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(terminal_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(terminal_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
    if (terminal_ >= 0)
        ::close(terminal_);
    if (master_ >= 0)
        ::close(master_);
}

void PtyPair::Write(const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(master_, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The line is full: let the GUI thread take bytes off it.
            WaitForEvents(5);
            continue;
        }
        ASSERT_GT(n, 0) << "write to the master failed";
        p += n;
        left -= n;
    }
}

QByteArray PtyPair::Read(int count, int timeoutMs) {
    QByteArray got;
    TReplyTimer t;
    t.Start();
    while (got.size() < count && !t.Elapsed(static_cast<uint32_t>(timeoutMs))) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(t.RemainingMs(static_cast<uint32_t>(timeoutMs)))) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(
            master_, buf, std::min<size_t>(sizeof buf, static_cast<size_t>(count - got.size())));
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    return got;
}

QByteArray PtyPair::ReadFor(int ms) {
    return Read(1 << 30, ms);
}

void PtyPair::CloseMaster() {
    ::close(master_);
    master_ = -1;
}

PortIni::PortIni()
    : path_(QDir::temp().filePath("nb-serial-" +
                                  QUuid::createUuid().toString(QUuid::WithoutBraces) + ".ini")) {}

PortIni::~PortIni() {
    QFile::remove(path_);
}

void PortIni::Map(int port, const QString& device) {
    TIniFile ini(path_);
    ini.WriteString("ComPorts", QStringLiteral("COM%1").arg(port), device);
    ini.UpdateFile();
}
