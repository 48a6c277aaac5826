#include "reader/readerprotocol.h"

#include <QHash>
#include <algorithm>
#include <cstring>
#include <numeric>

#include "core/text.h"

namespace reader {

uint8_t FrameSum(const uint8_t* bytes, int count) {
    return static_cast<uint8_t>(std::accumulate(bytes, bytes + count, 0u) & 0xFFu);
}

QByteArray BuildFrame(uint8_t id, uint8_t cmd, const QByteArray& data) {
    const int len = static_cast<int>(std::min<qsizetype>(data.size(), 255));
    QByteArray f;
    f.reserve(len + 7);
    f.append(static_cast<char>(kStx));
    f.append(static_cast<char>(id));
    f.append(static_cast<char>(cmd));
    f.append(static_cast<char>(len));
    f.append(data.constData(), len);
    f.append(static_cast<char>(kEtx));
    f.append(static_cast<char>(
        FrameSum(reinterpret_cast<const uint8_t*>(f.constData()), static_cast<int>(f.size()))));
    f.append(static_cast<char>(kCr));
    return f;
}

QByteArray RomVersionRequest(uint8_t id) {
    return BuildFrame(id, kCmdRomVersion, QByteArray("\x90\x00", 2));
}

QString TagErrorText(uint8_t tagCode) {
    static const QHash<int, QString> kTexts = {
        {0x01, "The command is not supported, i.e. the request code is not recognised."},
        // The missing "T" is how operators have always seen this line; kept as it is.
        {0x02, "he command is not recognised, for example: a format error occurred."},
        {0x03, "The option is not supported."},
        {0x0F, "Unknown error."},
        {0x10, "The specified block is not available (doesn\u2019t exist)."},
        {0x11, "The specified block is already -locked and thus cannot be locked again"},
        {0x12, "The specified block is locked and its content cannot be changed."},
        {0x13, "The specified block was not successfully programmed."},
        {0x14, "The specified block was not successfully locked."},
    };
    // 0xA0 and every other code
    return kTexts.value(tagCode, QStringLiteral("? 'DF' Custom command error codes"));
}

QString NackText(uint8_t code, uint8_t tagCode) {
    switch (code) {
        case 0x01:
            return QStringLiteral("CRCエラー");
        case 0x02:
            return QStringLiteral("CMD_TIME_OVER受信");
        case 0x03:
            return QStringLiteral("タグデータ受信エラー");
        case 0x04:
            return QStringLiteral("タグからの応答なし");
        case 0x05:
            return TagErrorText(tagCode);
        case 0x41:
            return QStringLiteral("データ数エラー");
        case 0x42:
            return QStringLiteral("コマンドのサム値エラー");
        case 0x43:
            return QStringLiteral("コマンドのＩＤ値のエラー");
        case 0x44:
            return QStringLiteral("不正なコマンド");
        default:
            return QStringLiteral("??? NACK受信");
    }
}

namespace {

// The UID's bytes from the last to the first, as the reader's ACKs carry it.
QString ReversedHex(const uint8_t* bytes) {
    std::array<uint8_t, 8> uid{};
    std::reverse_copy(bytes, bytes + uid.size(), uid.begin());
    return HexDump(uid.data(), static_cast<int>(uid.size()));
}

// The log lines of an ACK to the ROM version request, by its sub-code (byte 4). `f` is the
// zero-padded copy DecodeReply() makes, so every fixed index below is inside it.
void DecodeRomVersionAck(const uint8_t* f, TDecodedReply* r) {
    switch (f[4]) {
        case 0x00:
            r->lines << QStringLiteral("DousaModeSet_CMD受信");
            break;
        case 0x09:
            r->lines << QStringLiteral("S6700ModeSet_CMD受信");
            break;
        case 0x50:
            r->lines << QStringLiteral("UID: ") + ReversedHex(&f[5]);
            break;
        case 0x53:
            r->lines << QStringLiteral("GETUIDNUMBER_CMD受信");
            r->lines << QStringLiteral("受信UID数: ") + QString::number(f[5]);
            break;
        case 0x54:
            r->lines << QStringLiteral("GETUIDDATA_CMD受信");
            r->lines << QStringLiteral("UID: ") + ReversedHex(&f[7]);
            break;
        case kSubRomVersion: {
            // LEN counts the sub-code too; the rest of the data is the text.
            const int count = std::max(0, static_cast<int>(f[3]) - 1);
            r->hasVersion = true;
            r->version = DecodeShiftJis(QByteArray(reinterpret_cast<const char*>(&f[5]), count));
            r->lines << QStringLiteral("Firmware Version") << r->version;
            break;
        }
        case 0x9F:
            r->lines << QStringLiteral("PORTDATA: 0x") + HexDump(&f[5], 1).trimmed();
            break;
        default:
            break;
    }
}

}  // namespace

TDecodedReply DecodeReply(const uint8_t* frame, int length, int lastCommand) {
    // A copy padded with zeros, so that indices fixed by the reply's kind (UID at 5..12 or
    // 7..14) stay inside the buffer whatever the reply's length.
    std::array<uint8_t, kMaxFrameSize + 16> f{};
    std::memcpy(f.data(), frame, static_cast<size_t>(std::clamp(length, 0, kMaxFrameSize)));

    TDecodedReply r;
    r.replyCode = f[2];
    switch (r.replyCode) {
        case kReplyAck:
            if (lastCommand == kCmdRomVersion)
                DecodeRomVersionAck(f.data(), &r);
            break;
        case kReplyNack:
            r.lines << NackText(f[4], f[5]);
            break;
        case kReplyUid:
            r.lines << QStringLiteral("UID: ") + HexDump(&f[5], 8);
            break;
        case kReplyD:
        case kReplyd:
            break;
        default:
            r.lines << QStringLiteral("レスポンスフォーマットエラー");
            break;
    }
    return r;
}

int TReceiveRing::Write(const uint8_t* bytes, int count) {
    const int n = std::clamp(count, 0, Room());
    if (n == 0)
        return 0;
    const int first = std::min(n, kSize - write_);
    std::memcpy(&bytes_[static_cast<size_t>(write_)], bytes, static_cast<size_t>(first));
    std::memcpy(&bytes_[0], bytes + first, static_cast<size_t>(n - first));
    write_ = (write_ + n) % kSize;
    return n;
}

}  // namespace reader
