// The reader's frames in a link: the extractor that takes reply frames out of the receive ring,
// the decoding of each frame into log lines, the ROM version request and the wait for its reply.
//
// The protocol does no I/O of its own: it reaches the connection, the ring, the log and the
// link timer through TReaderPort, so it runs in tests against a plain ring.
//
// Thread rules: GUI thread only. WaitResponse processes GUI events, so socket events and
// timer ticks of the link run inside it; ExtractFrames guards itself against re-entry.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "core/replytimer.h"
#include "reader/readerprotocol.h"

// What the protocol needs of the link that carries it.
class TReaderPort {
  public:
    virtual ~TReaderPort() = default;
    virtual reader::TReceiveRing& Ring() = 0;
    virtual uint8_t IdNo() const = 0;
    // Sends on the connection; 0 when nothing could be sent (for example, not connected).
    virtual int SendBlock(const uint8_t* bytes, int count) = 0;
    virtual void LogLine(const QString& text) = 0;
    virtual TReplyTimer& LinkTimer() = 0;
    // Called after the extractor has taken bytes out of the ring, so the link can resume
    // reading what it left waiting for room.
    virtual void RingDrained() {}
};

class TReaderFrames {
  public:
    // A partial frame that gets no new byte for this long is abandoned, counted in time
    // rather than in extractor calls, since the calls come at the pace of events.
    static constexpr uint32_t kIdleAbandonMs = 100;
    static constexpr uint32_t kResponseTimeoutMs = 2000;

    // The clock of the link timer serves the idle abandonment too.
    explicit TReaderFrames(TReaderPort* port) : port_(port) {}

    // Sends the ROM version request with the link's ID, records it as the last command and
    // clears the response-received flag.
    void SendRomVersionRequest();

    // Runs the extractor until a reply frame has been decoded or 2000 ms have passed.
    // True only for an ACK; any other reply logs "NACK 受信", the time-out logs
    // "レスポンス待ち　タイムオーバー". Event-driven: between passes it blocks in the event
    // loop until an event arrives or the time is up.
    bool WaitResponse();

    // Consumes every byte written to the ring since the last call, decoding complete frames.
    // A call that finds no new byte drops a partial frame whose last byte came
    // kIdleAbandonMs or more ago. Returns at once when called while already running.
    void ExtractFrames();
    // Milliseconds until a pending partial frame may be abandoned (0 when none is pending).
    uint32_t IdleLeftMs() const;

    const QString& VersionText() const { return versionText_; }
    // True once a firmware-version ACK answered the last request.
    bool VersionReceived() const { return versionReceived_; }
    bool ResponseReceived() const { return responseReceived_; }
    bool InFrame() const { return inFrame_; }

  private:
    uint32_t Now() const { return port_->LinkTimer().Clock().Now(); }
    void TakeByte(uint8_t b);
    void DecodeFrame();

    TReaderPort* port_;
    int lastCommand_ = reader::kNoCommand;
    bool responseReceived_ = false;
    uint8_t lastReplyCode_ = 0;
    QString versionText_;
    bool versionReceived_ = false;

    // The frame being extracted. `stored_` never exceeds its expected CR index + 1, so a frame
    // (at most 262 bytes) always fits.
    std::array<uint8_t, reader::kMaxFrameSize> frame_{};
    int stored_ = 0;
    int crIndex_ = 7;
    bool inFrame_ = false;

    uint32_t lastByteTick_ = 0;  // when the extractor last took a byte
    bool extractorIdle_ = true;
};
