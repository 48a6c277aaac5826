#include "serial/serialsession.h"

#include <algorithm>

#include "core/logpane.h"
#include "core/text.h"
#include "serial/serialport.h"

EPortOpenError::EPortOpenError(int portNo, const QString& cause)
    : Exception(TSerialSession::OpenErrorText(portNo)), portNo_(portNo), cause_(cause) {}

TSerialSession::TSerialSession(TLogPane* log, QObject* parent)
    : QObject(parent),
      TReceivingLink(log, kMainLogLimit, kReceiveCapacity, &SystemClock()),
      port_(new TSerialPort(this)) {
    port_->setObjectName(QStringLiteral("CommX1"));
    port_->SetOnReceive([this](TSerialDriver* s, int n) { OnPortReceive(s, n); });
    port_->SetOnError([this](TSerialDriver* s, int e) { OnLineError(s, e); });
    port_->SetOnLineLost([this](TSerialDriver* s) { OnLineLost(s); });
}

TSerialSession::~TSerialSession() {
    // The port closes (and its threads end) before anything its handlers use is released.
    delete port_;
}

QString TSerialSession::OpenErrorText(int portNo) {
    return QStringLiteral("COM") + QString::number(portNo) +
           QStringLiteral("がオープン出来ません!!\n\n") +
           QStringLiteral("  ポートを及びパラメータ設定を再確認してください。");
}

QString TSerialSession::LineLostText(int portNo) {
    return QStringLiteral("COM") + QString::number(portNo) + QStringLiteral("が切断されました");
}

void TSerialSession::OpenPort(int portNo) {
    ClosePort();
    ClearReceived();
    port_->SetPortNo(portNo);
    try {
        port_->PortOpen();
    } catch (const ECommError& e) {
        // The operator is told which port and what to do; the log and the error keep the
        // driver's text with the failing call and its cause.
        const QString cause = e.Cause().isEmpty()
                                  ? e.Message()
                                  : QStringLiteral("%1 (%2)").arg(e.Message(), e.Cause());
        LogLine(QStringLiteral("%1: %2").arg(Description().trimmed(), cause));
        throw EPortOpenError(port_->PortNo(), cause);
    }
}

void TSerialSession::ClosePort() {
    if (!port_->IsOpen())
        return;
    if (!port_->LineLost())
        TakeOwedEcho();
    port_->PortClose();
}

QString TSerialSession::Description() const {
    // A device given by its path has no port number worth naming.
    if (port_->HasDeviceOverride())
        return port_->DevicePath();
    return QStringLiteral("COM%1 %2").arg(port_->PortNo()).arg(port_->DevicePath());
}

void TSerialSession::SendText(const QByteArray& text) {
    port_->TransBlock(text.constData(), static_cast<int>(text.size()));
    Sent(static_cast<int>(text.size()));
    if (transmitDump_ != 0)
        LogLine(QStringLiteral("TX:") + HexDump(text));
}

void TSerialSession::OnPortReceive(TSerialDriver*, int ReceiveSize) {
    // The buffer takes what fits; the rest is read and dropped, so that it does not stay in the
    // driver and stop the line behind a full buffer.
    const int take = std::max(0, std::min(ReceiveSize, Room()));
    if (take > 0) {
        const int n = port_->ReceiveBlock(End(), take);
        if (n > 0)
            Stored(n);
    }
    uint8_t scratch[512];
    for (int surplus = ReceiveSize - take; surplus > 0;) {
        const int n = port_->ReceiveBlock(scratch, std::min<int>(surplus, sizeof scratch));
        if (n <= 0)
            break;
        surplus -= n;
    }
}

void TSerialSession::OnLineError(TSerialDriver*, int) {
    // Line errors show up as answers that do not match; nothing more is done with them.
}

void TSerialSession::OnLineLost(TSerialDriver* Sender) {
    auto* port = static_cast<TSerialPort*>(Sender);
    LogLine(port->HasDeviceOverride() ? port->DevicePath() + QStringLiteral("が切断されました")
                                      : LineLostText(port->PortNo()));
}

void TSerialSession::WaitUntilQuiet(uint32_t quietMs, uint32_t limitMs) {
    TReplyTimer quiet(&timer_.Clock());
    quiet.Start();
    int seen = ReceivedCount();
    WaitDeadline(
        timer_, limitMs,
        [&] {
            if (ReceivedCount() != seen) {
                seen = ReceivedCount();
                quiet.Start();
                return TPass::Pending;
            }
            return seen > 0 && quiet.Elapsed(quietMs) ? TPass::Done : TPass::Pending;
        },
        [&] { return seen > 0 ? quiet.RemainingMs(quietMs) : kNoLimit; });
}
