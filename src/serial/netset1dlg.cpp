#include "serial/netset1dlg.h"

#include <algorithm>

#include "core/logpane.h"
#include "core/text.h"
#include "serial/commx.h"

EPortOpenError::EPortOpenError(int portNo, const QString& cause)
    : Exception(TNetSet1Dlg::OpenErrorText(portNo)), portNo_(portNo), cause_(cause) {}

TNetSet1Dlg::TNetSet1Dlg(TLogPane* log, QObject* parent)
    : QObject(parent),
      TReceivingLink(log, kMainLogLimit, kReceiveCapacity, &SystemClock()),
      commX1_(new TCommX(this)) {
    commX1_->setObjectName(QStringLiteral("CommX1"));
    commX1_->SetOnReceive([this](TCustomCommX* s, int n) { CommX1Receive(s, n); });
    commX1_->SetOnError([this](TCustomCommX* s, int e) { CommX1Error(s, e); });
    commX1_->SetOnLineLost([this](TCustomCommX* s) { CommX1LineLost(s); });
}

TNetSet1Dlg::~TNetSet1Dlg() {
    // The port closes (and its threads end) before anything its handlers use is released.
    delete commX1_;
}

QString TNetSet1Dlg::OpenErrorText(int portNo) {
    return QStringLiteral("COM") + QString::number(portNo) +
           QStringLiteral("がオープン出来ません!!\n\n") +
           QStringLiteral("  ポートを及びパラメータ設定を再確認してください。");
}

QString TNetSet1Dlg::LineLostText(int portNo) {
    return QStringLiteral("COM") + QString::number(portNo) + QStringLiteral("が切断されました");
}

void TNetSet1Dlg::OpenPort(int portNo) {
    ClosePort();
    ClearReceived();
    commX1_->SetPortNo(portNo);
    try {
        commX1_->PortOpen();
    } catch (const ECommError& e) {
        // The operator is told which port and what to do; the log and the error keep the
        // driver's text with the failing call and its cause.
        const QString cause = e.Cause().isEmpty()
                                  ? e.Message()
                                  : QStringLiteral("%1 (%2)").arg(e.Message(), e.Cause());
        LogLine(QStringLiteral("%1: %2").arg(Description().trimmed(), cause));
        throw EPortOpenError(commX1_->PortNo(), cause);
    }
}

void TNetSet1Dlg::ClosePort() {
    if (!commX1_->IsOpen())
        return;
    if (!commX1_->LineLost())
        TakeOwedEcho();
    commX1_->PortClose();
}

QString TNetSet1Dlg::Description() const {
    // A device given by its path has no port number worth naming.
    if (commX1_->HasDeviceOverride())
        return commX1_->DevicePath();
    return QStringLiteral("COM%1 %2").arg(commX1_->PortNo()).arg(commX1_->DevicePath());
}

void TNetSet1Dlg::SendText(const QByteArray& text) {
    commX1_->TransBlock(text.constData(), static_cast<int>(text.size()));
    Sent(static_cast<int>(text.size()));
    if (transmitDump_ != 0)
        LogLine(QStringLiteral("TX:") + HexDump(text));
}

void TNetSet1Dlg::CommX1Receive(TCustomCommX*, int ReceiveSize) {
    // The buffer takes what fits; the rest is read and dropped, so that it does not stay in the
    // driver and stop the line behind a full buffer.
    const int take = std::max(0, std::min(ReceiveSize, Room()));
    if (take > 0) {
        const int n = commX1_->ReceiveBlock(End(), take);
        if (n > 0)
            Stored(n);
    }
    uint8_t scratch[512];
    for (int surplus = ReceiveSize - take; surplus > 0;) {
        const int n = commX1_->ReceiveBlock(scratch, std::min<int>(surplus, sizeof scratch));
        if (n <= 0)
            break;
        surplus -= n;
    }
}

void TNetSet1Dlg::CommX1Error(TCustomCommX*, int) {
    // Line errors show up as answers that do not match; nothing more is done with them.
}

void TNetSet1Dlg::CommX1LineLost(TCustomCommX* Sender) {
    auto* port = static_cast<TCommX*>(Sender);
    LogLine(port->HasDeviceOverride() ? port->DevicePath() + QStringLiteral("が切断されました")
                                      : LineLostText(port->PortNo()));
}

void TNetSet1Dlg::WaitUntilQuiet(uint32_t quietMs, uint32_t limitMs) {
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
