#include "reader/readerframes.h"

using namespace reader;

void TReaderFrames::SendRomVersionRequest() {
    const QByteArray frame = RomVersionRequest(port_->IdNo());
    lastCommand_ = kCmdRomVersion;
    responseReceived_ = false;
    versionReceived_ = false;
    port_->SendBlock(reinterpret_cast<const uint8_t*>(frame.constData()),
                     static_cast<int>(frame.size()));
}

bool TReaderFrames::WaitResponse() {
    // Between passes the wait sleeps until something happens (a read event, a Timer1 tick) or
    // the time is up, but no longer than a partial frame may lie idle, so that a stray STX is
    // dropped before a reply that follows it is taken.
    const bool replied = WaitDeadline(
        port_->LinkTimer(), kResponseTimeoutMs,
        [this] {
            ExtractFrames();
            return responseReceived_ ? TPass::Done : TPass::Pending;
        },
        [this] { return inFrame_ ? IdleLeftMs() : kNoLimit; });
    if (!replied) {
        port_->LogLine(QStringLiteral("レスポンス待ち　タイムオーバー"));
        return false;
    }
    if (lastReplyCode_ == kReplyAck)
        return true;
    port_->LogLine(QStringLiteral("NACK 受信"));
    return false;
}

void TReaderFrames::ExtractFrames() {
    if (!extractorIdle_)
        return;
    extractorIdle_ = false;
    struct Idle {
        bool* flag;
        ~Idle() { *flag = true; }
    } idleAgain{&extractorIdle_};

    TReceiveRing& ring = port_->Ring();
    const int write = ring.WritePos();  // snapshot: bytes written meanwhile wait for next call
    int read = ring.ReadPos();
    if (read == write) {
        if (inFrame_ && IdleLeftMs() == 0)
            inFrame_ = false;  // the rest of this frame is not coming
        return;
    }
    lastByteTick_ = Now();
    while (read != write) {
        const uint8_t b = ring.At(read);
        read = (read + 1) % TReceiveRing::kSize;
        ring.SetReadPos(read);
        TakeByte(b);
    }
    port_->RingDrained();
}

uint32_t TReaderFrames::IdleLeftMs() const {
    if (!inFrame_)
        return 0;
    const uint32_t idle = Now() - lastByteTick_;
    return idle >= kIdleAbandonMs ? 0 : kIdleAbandonMs - idle;
}

void TReaderFrames::TakeByte(uint8_t b) {
    if (!inFrame_) {
        if (b == kStx) {
            frame_[0] = b;
            stored_ = 1;
            crIndex_ = 7;
            inFrame_ = true;
        }
        return;
    }
    if (stored_ == 3) {
        frame_[3] = b;
        stored_ = 4;
        crIndex_ = b + 6;
        return;
    }
    if (stored_ == crIndex_ && b == kCr) {
        frame_[static_cast<size_t>(stored_++)] = b;
        DecodeFrame();
        inFrame_ = false;
        return;
    }
    if (stored_ > crIndex_) {
        // No CR where the length put it: the frame is dropped, and this byte with it.
        inFrame_ = false;
        return;
    }
    frame_[static_cast<size_t>(stored_++)] = b;
}

void TReaderFrames::DecodeFrame() {
    responseReceived_ = true;
    const TDecodedReply r = DecodeReply(frame_.data(), stored_, lastCommand_);
    lastReplyCode_ = r.replyCode;
    if (r.hasVersion) {
        versionText_ = r.version;
        versionReceived_ = true;
    }
    for (const QString& line : r.lines)
        port_->LogLine(line);
}
