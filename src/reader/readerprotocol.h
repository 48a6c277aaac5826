// The reader's frame protocol: frame layout and check value, the ROM version request, the
// texts a reply decodes to, and the receive ring the link fills and the extractor reads.
//
// Frame: STX 02, ID, CMD, LEN, LEN data bytes, ETX 03, SUM, CR 0D (LEN + 7 bytes). SUM is the
// 8-bit sum of STX through ETX. Replies carry a reply code in the CMD byte.
//
// Pure functions and plain data; no I/O. Thread rules: none (used on the GUI thread).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace reader {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kCr = 0x0D;
inline constexpr int kMaxFrameSize = 255 + 7;  // LEN 255

// Command and reply codes.
inline constexpr uint8_t kCmdRomVersion = 0x4F;  // 'O'
inline constexpr uint8_t kSubRomVersion = 0x90;
inline constexpr uint8_t kReplyAck = 0x30;   // '0'
inline constexpr uint8_t kReplyNack = 0x31;  // '1'
inline constexpr uint8_t kReplyUid = 0x49;   // 'I'
inline constexpr uint8_t kReplyD = 0x44;     // 'D'
inline constexpr uint8_t kReplyd = 0x64;     // 'd'
inline constexpr int kNoCommand = -1;        // no request sent yet

// 8-bit sum of `count` bytes.
uint8_t FrameSum(const uint8_t* bytes, int count);

// A complete frame; `data` longer than 255 bytes is cut to 255.
QByteArray BuildFrame(uint8_t id, uint8_t cmd, const QByteArray& data);

// The ROM version request: CMD 4F, data 90 00. ID 0 gives 02 00 4F 02 90 00 03 E6 0D.
QByteArray RomVersionRequest(uint8_t id);

// Log line of a NACK error code (byte 4), and of a tag's ISO/IEC 15693 error code (byte 5,
// for NACK code 5).
QString NackText(uint8_t code, uint8_t tagCode);
QString TagErrorText(uint8_t tagCode);

// What one reply frame decodes to.
struct TDecodedReply {
    uint8_t replyCode = 0;
    QStringList lines;        // log lines, in order
    bool hasVersion = false;  // a firmware-version ACK: `version` replaces the version text
    QString version;
};

// Decodes one complete frame (`length` bytes from STX through CR) against the command of the
// last request (kNoCommand before any). Bytes a short frame lacks read as 0, so a malformed
// reply never reaches past its own bytes.
TDecodedReply DecodeReply(const uint8_t* frame, int length, int lastCommand);

// The receive ring: written by the link's read events, read by the extractor. The write
// position is where the next received byte goes, the read position the next byte the
// extractor takes; equal positions mean empty, so at most kSize - 1 bytes are unread.
// Write() never overwrites an unread byte: it stores what fits and reports how many, and the
// caller leaves the rest where it came from.
class TReceiveRing {
  public:
    static constexpr int kSize = 16384;

    int WritePos() const { return write_; }
    int ReadPos() const { return read_; }
    int Unread() const { return (write_ - read_ + kSize) % kSize; }
    int Room() const { return kSize - 1 - Unread(); }
    uint8_t At(int pos) const { return bytes_[static_cast<size_t>(pos)]; }

    // Stores min(count, Room()) bytes at the write position, wrapping at the end of the ring;
    // returns the number stored.
    int Write(const uint8_t* bytes, int count);
    void SetReadPos(int pos) { read_ = ((pos % kSize) + kSize) % kSize; }
    // Empties the ring with both positions at `pos` (a fresh ring has them at 0).
    void Reset(int pos) { write_ = read_ = ((pos % kSize) + kSize) % kSize; }

  private:
    std::array<uint8_t, kSize> bytes_{};
    int write_ = 0;
    int read_ = 0;
};

}  // namespace reader
