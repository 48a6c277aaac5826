#include "reader/readerlink.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <exception>

#include "core/inifile.h"
#include "core/logpane.h"
#include "core/posixio.h"
#include "core/text.h"

namespace {

// The cause of a socket error, in the words of the system's own error texts where it has one.
QString SocketErrorCause(QAbstractSocket::SocketError error, const QString& socketText) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return ErrnoText(ECONNREFUSED);
        case QAbstractSocket::SocketTimeoutError:
            return ErrnoText(ETIMEDOUT);
        case QAbstractSocket::HostNotFoundError:
            // Activate's own error: the settings name no IPv4 address and port to connect to.
            return QStringLiteral("not an IPv4 address with a port from 1 to 65535");
        default:
            return socketText;
    }
}

}  // namespace

TReaderLink::TReaderLink(QObject* owner, int tcpPort, TLogPane* log, const QString& iniPath)
    : QObject(owner), log_(log), iniPath_(iniPath), frames_(this) {
    if (!iniPath_.isEmpty())
        values_ = ReadComDebug(TIniFile(iniPath_));
    values_.TCPPort = tcpPort;

    clientSocket1_ = new QTcpSocket(this);
    clientSocket1_->setReadBufferSize(kSocketBufferSize);
    connect(clientSocket1_, &QTcpSocket::connected, this, &TReaderLink::OnConnected);
    connect(clientSocket1_, &QTcpSocket::disconnected, this, &TReaderLink::OnDisconnected);
    connect(clientSocket1_, &QTcpSocket::errorOccurred, this, &TReaderLink::OnSocketError);
    connect(clientSocket1_, &QTcpSocket::readyRead, this, &TReaderLink::OnReadyRead);

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
    // Closing below must not run handlers of a link that is going away.
    disconnect(clientSocket1_, nullptr, this, nullptr);

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
    clientSocket1_->abort();
    connected_ = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TReaderLink::OpenLink() {
    connected_ = false;
    reconnectTimer_->stop();
    clientSocket1_->abort();
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
            this, [this] { OnSocketError(QAbstractSocket::HostNotFoundError); },
            Qt::QueuedConnection);
        return;
    }
    clientSocket1_->connectToHost(QHostAddress(*ip), static_cast<quint16>(port));
}

int TReaderLink::SendBlock(const uint8_t* bytes, int count) {
    if (!connected_ || count <= 0)
        return 0;
    const qint64 n = clientSocket1_->write(reinterpret_cast<const char*>(bytes), count);
    if (n < 0)
        return 0;
    clientSocket1_->flush();
    return static_cast<int>(n);
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

void TReaderLink::OnSocketError(QAbstractSocket::SocketError error) {
    if (released_)
        return;
    // A peer that closes the connection is not an error here: the disconnect event that
    // follows reports it, and the link does not reconnect.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    lastError_ = SocketErrorCause(error, clientSocket1_->errorString());
    if (clientSocket1_->state() != QAbstractSocket::UnconnectedState)
        clientSocket1_->abort();
    reconnectTimer_->start(kReconnectDelayMs);
    LogLine(QStringLiteral("ClientSocket1Error"));
}

void TReaderLink::OnReadyRead() {
    const qint64 waiting = clientSocket1_->bytesAvailable();
    LogLine(QString::number(waiting));
    if (waiting <= 0)
        return;
    const int take = static_cast<int>(std::min<qint64>({waiting, kReadChunk, ring_.Room()}));
    if (take > 0) {
        uint8_t buf[kReadChunk];
        const qint64 got = clientSocket1_->read(reinterpret_cast<char*>(buf), take);
        if (got > 0)
            ring_.Write(buf, static_cast<int>(got));
    }
    // The socket signals only new arrivals, so what is left needs a read event of its own.
    // With the ring full it waits for the extractor (RingDrained) instead of spinning.
    if (clientSocket1_->bytesAvailable() > 0 && ring_.Room() > 0)
        PostRead();
}

void TReaderLink::RingDrained() {
    if (!released_ && clientSocket1_->bytesAvailable() > 0)
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
            if (!released_ && clientSocket1_->bytesAvailable() > 0)
                OnReadyRead();
        },
        Qt::QueuedConnection);
}

void TReaderLink::OnTimerTick() {
    if (connected_)
        ExtractFrames();
}
