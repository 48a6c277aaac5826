// The reader's frame extractor and decoder fed the same bytes whole and in chunks, from
// different places of the receive ring: the log lines, the version text and the extractor's
// state must not depend on the cuts or on where the ring wraps. Time stands still: the
// extractor is run only after bytes arrived, so no partial frame is abandoned for idleness.
#include <QStringList>

#include "chunks.h"
#include "core/replytimer.h"
#include "reader/readerframes.h"

namespace {

// Time that stands still.
class TStillClock : public TClock {
  public:
    uint32_t Now() override { return 0; }
    void WaitForEvents(uint32_t) override {}
};

class TFuzzPort : public TReaderPort {
  public:
    explicit TFuzzPort(int ringStart) { ring_.Reset(ringStart); }
    reader::TReceiveRing& Ring() override { return ring_; }
    uint8_t IdNo() const override { return 0; }
    int SendBlock(const uint8_t*, int count) override { return count; }
    void LogLine(const QString& text) override { log_ << text; }
    TReplyTimer& LinkTimer() override { return timer_; }
    const QStringList& Log() const { return log_; }

  private:
    reader::TReceiveRing ring_;
    QStringList log_;
    TStillClock clock_;
    TReplyTimer timer_{&clock_};
};

// Puts the chunk into the ring, as much as fits at a time, running the extractor after each
// piece, as the link's read events do.
void Deliver(TFuzzPort* port, TReaderFrames* frames, const QByteArray& chunk) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(chunk.constData());
    int at = 0;
    while (at < chunk.size()) {
        const int n = port->Ring().Write(bytes + at, static_cast<int>(chunk.size()) - at);
        FUZZ_CHECK(n > 0);
        at += n;
        frames->ExtractFrames();
    }
}

const int kRingStarts[8] = {0,
                            1,
                            100,
                            reader::TReceiveRing::kSize / 2,
                            reader::TReceiveRing::kSize - 262,
                            reader::TReceiveRing::kSize - 7,
                            reader::TReceiveRing::kSize - 2,
                            reader::TReceiveRing::kSize - 1};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::TSplitInput in = fuzz::SplitInput(data, size);
    const bool requested = in.options & 1u;  // a ROM version request went out first

    TFuzzPort wholePort(0);
    TReaderFrames whole(&wholePort);
    TFuzzPort splitPort(kRingStarts[in.options >> 1]);
    TReaderFrames split(&splitPort);
    if (requested) {
        whole.SendRomVersionRequest();
        split.SendRomVersionRequest();
    }
    Deliver(&wholePort, &whole, in.payload);
    for (const QByteArray& chunk : in.chunks)
        Deliver(&splitPort, &split, chunk);

    FUZZ_CHECK(wholePort.Log() == splitPort.Log());
    FUZZ_CHECK(whole.VersionText() == split.VersionText());
    FUZZ_CHECK(whole.ResponseReceived() == split.ResponseReceived());
    FUZZ_CHECK(whole.InFrame() == split.InFrame());
    FUZZ_CHECK(wholePort.Ring().Unread() == 0 && splitPort.Ring().Unread() == 0);
    // Without an STX there is no frame.
    if (!in.payload.contains(static_cast<char>(reader::kStx)))
        FUZZ_CHECK(!whole.ResponseReceived() && wholePort.Log().isEmpty());

    // The decoder on its own, with any length, including lengths its bytes do not fill.
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.payload.constData());
    const int length = static_cast<int>(std::min<qsizetype>(in.payload.size(), 300));
    const reader::TDecodedReply r =
        reader::DecodeReply(bytes, length, requested ? reader::kCmdRomVersion : reader::kNoCommand);
    FUZZ_CHECK(r.lines.size() <= 2);
    return 0;
}
