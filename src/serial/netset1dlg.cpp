#include "serial/netset1dlg.h"

#include <QTimer>
#include <algorithm>
#include <cstring>

#include "core/logpane.h"
#include "serial/commx.h"

EPortOpenError::EPortOpenError(int portNo, const QString& cause)
    : Exception(TNetSet1Dlg::OpenErrorText(portNo)), portNo_(portNo), cause_(cause) {}

TNetSet1Dlg::TNetSet1Dlg(TLogPane* log, QObject* parent)
    : QObject(parent), commX1_(new TCommX(this)), timer1_(new QTimer(this)), log_(log) {
    // Present for the session's sake; nothing relies on it, so it does not run and wake the loop.
    timer1_->setInterval(100);

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
    if (commX1_->IsOpen())
        commX1_->PortClose();
    count_ = 0;
    commX1_->SetPortNo(portNo);
    try {
        commX1_->PortOpen();
    } catch (const ECommError& e) {
        // The operator is told which port and what to do; the driver's text is kept as the cause.
        throw EPortOpenError(commX1_->PortNo(), e.Message());
    }
}

QString TNetSet1Dlg::Description() const {
    // A device given by its path has no port number worth naming.
    if (commX1_->HasDeviceOverride())
        return commX1_->DevicePath();
    return QStringLiteral("COM%1 %2").arg(commX1_->PortNo()).arg(commX1_->DevicePath());
}

void TNetSet1Dlg::ClearReceived() {
    count_ = 0;
}

bool TNetSet1Dlg::SendText(const QByteArray& text) {
    const bool result = commX1_->TransBlock(text.constData(), static_cast<int>(text.size()));
    if (transmitDump_ != 0) {
        QString line = QStringLiteral("TX:");
        for (const char c : text)
            line += QStringLiteral("%1 ")
                        .arg(static_cast<uint8_t>(c), 2, 16, QLatin1Char('0'))
                        .toUpper();
        LogLine(line);
    }
    return result;
}

void TNetSet1Dlg::CommX1Receive(TCustomCommX*, int ReceiveSize) {
    // Positions count + 1 up to the last one take what fits; the rest is read and dropped, so
    // that it does not stay in the driver and stop the line behind a full buffer.
    const int room = kReceiveBufferSize - 1 - count_;
    const int take = std::max(0, std::min(ReceiveSize, room));
    if (take > 0) {
        const int n = commX1_->ReceiveBlock(&buffer_[static_cast<size_t>(count_) + 1], take);
        if (n > 0)
            count_ += n;
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
    LogLine(port->HasDeviceOverride()
                ? port->DevicePath() + QStringLiteral("が切断されました")
                : LineLostText(port->PortNo()));
}

bool TNetSet1Dlg::WaitReply(int skip, const QByteArray& expected) {
    // Positions below 1 do not hold received bytes.
    const int64_t s = std::max(0, skip);
    const int64_t n = expected.size();
    StartReplyTimer();
    // The first pass only takes the events already pending; later passes sleep in the event
    // loop until something arrives or the time is up.
    uint32_t wait = 0;
    for (;;) {
        WaitForEvents(wait);
        wait = timer_.RemainingMs(kReplyLimitMs);
        if (count_ >= s + n) {
            return std::memcmp(&buffer_[static_cast<size_t>(s) + 1], expected.constData(),
                               static_cast<size_t>(n)) == 0;
        }
        if (ReplyTimeElapsed(kReplyLimitMs)) {
            LogLine(QString::fromUtf8(kTimeoutLine));
            return false;
        }
    }
}

bool TNetSet1Dlg::ReadReplyLine() {
    replyLine_.clear();
    bool prompt = false;
    bool complete = false;
    int p = 0;
    StartReplyTimer();
    uint32_t wait = 0;
    for (;;) {
        WaitForEvents(wait);
        wait = timer_.RemainingMs(kReplyLimitMs);
        if (!prompt) {
            while (p < count_) {
                ++p;
                if (buffer_[static_cast<size_t>(p)] == '>') {
                    prompt = true;
                    // Collection starts with the next pass, which must not sleep: the rest of
                    // the line may be here already.
                    wait = 0;
                    break;
                }
            }
        } else {
            while (p < count_) {
                const uint8_t c = buffer_[static_cast<size_t>(p) + 1];
                if (c == '\r') {
                    complete = true;
                    break;
                }
                ++p;
                replyLine_ += QChar(c);
            }
        }
        // The time-out is tested first: a line completed in the pass in which the time ran
        // out counts as late.
        if (ReplyTimeElapsed(kReplyLimitMs)) {
            LogLine(QString::fromUtf8(kTimeoutLine));
            return false;
        }
        if (complete)
            return true;
    }
}

void TNetSet1Dlg::LogLine(const QString& text) {
    if (!log_)
        return;
    log_->AddLine(text, kMainLogLimit);
}

QByteArray TNetSet1Dlg::Received() const {
    return QByteArray(reinterpret_cast<const char*>(buffer_.data()) + 1, count_);
}
