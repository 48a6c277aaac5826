#include "reader/readerlink.h"

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <exception>

#include "core/inifile.h"
#include "core/logpane.h"
#include "core/posixio.h"
#include "core/text.h"

TReaderLink::TReaderLink(QObject* owner, int tcpPort, TLogPane* log, const QString& iniPath)
    : QObject(owner), log_(log), iniPath_(iniPath), frames_(this) {
    if (!iniPath_.isEmpty())
        values_ = ReadComDebug(TIniFile(iniPath_));
    values_.TCPPort = tcpPort;

    clientSocket1_ = new TReaderSocket(kSocketBufferSize, this);
    clientSocket1_->Connected = [this] { OnConnected(); };
    clientSocket1_->Disconnected = [this] { OnDisconnected(); };
    clientSocket1_->Error = [this](int err) { OnSocketError(ErrnoText(err)); };
    clientSocket1_->ReadyRead = [this] { OnReadyRead(); };

    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setSingleShot(true);
    connect(reconnectTimer_, &QTimer::timeout, this, &TReaderLink::Activate);

    timer1_ = new QTimer(this);
    timer1_->setInterval(kTickIntervalMs);
    connect(timer1_, &QTimer::timeout, this, &TReaderLink::OnTimerTick);
    timer1_->start();
}

TReaderLink::~TReaderLink() {
    try {
        FormDestroy();
    } catch (const std::exception&) {
        // Destruction cannot report; the owner calls FormDestroy itself to see the error.
    }
}

void TReaderLink::FormDestroy() {
    if (released_)
        return;
    released_ = true;
    timer1_->stop();
    reconnectTimer_->stop();
    // Closing below runs no handler, so none reaches a link that is going away.

    std::exception_ptr failure;
    if (!iniPath_.isEmpty()) {
        try {
            TIniFile ini(iniPath_);
            WriteComDebug(&ini, values_);
            ini.UpdateFile();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    clientSocket1_->Abort();
    connected_ = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TReaderLink::OpenLink() {
    connected_ = false;
    reconnectTimer_->stop();
    clientSocket1_->Abort();
    Activate();

    if (!WaitDeadline(linkTimer_, kConnectTimeoutMs,
                      [this] { return connected_ ? TPass::Done : TPass::Pending; }))
        LogLine(QStringLiteral("コネクト待ち　タイムオーバー"));
}

QString TReaderLink::ConnectCause() const {
    return lastError_.isEmpty() ? ErrnoText(ETIMEDOUT) : lastError_;
}

void TReaderLink::Activate() {
    if (released_)
        return;
    const std::optional<uint32_t> ip = ParseIPv4(values_.TCPServAddr);
    const int port = values_.TCPServPort;
    // Only a dotted IPv4 address is an address here: a text that is not one must never turn
    // into a name lookup, and a port outside 1..65535 never into some other port. Either
    // fails like a connect that cannot be made.
    if (!ip || port < 1 || port > 65535) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                OnSocketError(QStringLiteral("not an IPv4 address with a port from 1 to 65535"));
            },
            Qt::QueuedConnection);
        return;
    }
    clientSocket1_->Connect(*ip, static_cast<uint16_t>(port));
}

int TReaderLink::SendBlock(const uint8_t* bytes, int count) {
    if (!connected_ || count <= 0)
        return 0;
    const int n = clientSocket1_->Write(reinterpret_cast<const char*>(bytes), count);
    return n < 0 ? 0 : n;
}

void TReaderLink::LogLine(const QString& text) {
    if (log_)
        log_->AddLine(text, kLinkLogLimit);
}

void TReaderLink::OnConnected() {
    LogLine(QStringLiteral("ClientSocket1Connect"));
    connected_ = true;
}

void TReaderLink::OnDisconnected() {
    LogLine(QStringLiteral("ClientSocket1Disconnect"));
    connected_ = false;
}

void TReaderLink::OnSocketError(const QString& cause) {
    // The socket has closed itself. A peer that closes the connection is no error event: the
    // disconnect event reports it, and the link does not reconnect.
    if (released_)
        return;
    lastError_ = cause;
    reconnectTimer_->start(kReconnectDelayMs);
    LogLine(QStringLiteral("ClientSocket1Error"));
}

void TReaderLink::OnReadyRead() {
    const int waiting = clientSocket1_->BytesAvailable();
    LogLine(QString::number(waiting));
    if (waiting <= 0)
        return;
    const int take = std::min({waiting, kReadChunk, ring_.Room()});
    if (take > 0) {
        uint8_t buf[kReadChunk];
        const int got = clientSocket1_->Read(reinterpret_cast<char*>(buf), take);
        if (got > 0)
            ring_.Write(buf, got);
    }
    // The socket signals only new arrivals, so what is left needs a read event of its own.
    // With the ring full it waits for the extractor (RingDrained) instead of spinning.
    if (clientSocket1_->BytesAvailable() > 0 && ring_.Room() > 0)
        PostRead();
}

void TReaderLink::RingDrained() {
    if (!released_ && clientSocket1_->BytesAvailable() > 0)
        PostRead();
}

void TReaderLink::PostRead() {
    if (readPosted_)
        return;
    readPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            readPosted_ = false;
            // A read event of the socket's own may have taken the bytes meanwhile.
            if (!released_ && clientSocket1_->BytesAvailable() > 0)
                OnReadyRead();
        },
        Qt::QueuedConnection);
}

void TReaderLink::OnTimerTick() {
    if (connected_)
        ExtractFrames();
}
