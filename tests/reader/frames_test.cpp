// Reader frames, reply decoding, the extractor state machine and the response wait, run
// against a plain ring without sockets or windows.
#include <gtest/gtest.h>

#include <vector>

#include "reader/readerframes.h"
#include "reader/readerprotocol.h"
#include "support/scriptclock.h"

using namespace reader;

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray Bytes(std::initializer_list<int> b) {
    QByteArray out;
    for (int v : b)
        out.append(static_cast<char>(v));
    return out;
}

// A link stand-in: the ring, what was sent, what was logged.
class FakePort : public TReaderPort {
  public:
    TReceiveRing& Ring() override { return ring; }
    uint8_t IdNo() const override { return id; }
    int SendBlock(const uint8_t* bytes, int count) override {
        sent.append(reinterpret_cast<const char*>(bytes), count);
        return count;
    }
    void LogLine(const QString& text) override {
        log << text;
        if (onLog)
            onLog();
    }
    TReplyTimer& LinkTimer() override { return timer; }
    void RingDrained() override { ++drained; }

    void Feed(const QByteArray& b) {
        ASSERT_EQ(
            ring.Write(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<int>(b.size())),
            b.size());
    }

    TReceiveRing ring;
    uint8_t id = 0;
    QByteArray sent;
    QStringList log;
    std::function<void()> onLog;
    TScriptClock clock{1000};
    TReplyTimer timer{&clock};
    int drained = 0;
};

QStringList Decode(const QByteArray& frame, int lastCommand = kCmdRomVersion) {
    return DecodeReply(reinterpret_cast<const uint8_t*>(frame.constData()),
                       static_cast<int>(frame.size()), lastCommand)
        .lines;
}

const QByteArray kVersionReply = BuildFrame(0, kReplyAck, QByteArray("\x90V1.00"));

}  // namespace

TEST(ReaderFrame, RomVersionRequestBytesAndSum) {
    EXPECT_EQ(RomVersionRequest(0), Hex("02004F02900003E60D"));
    const QByteArray id5 = RomVersionRequest(5);
    EXPECT_EQ(id5, Hex("02054F02900003EB0D"));
    EXPECT_EQ(static_cast<uint8_t>(id5[7]), 0xEB);
    // The sum wraps modulo 256 rather than overflowing into anything else.
    const QByteArray big = BuildFrame(0xFF, 0xFF, QByteArray(3, '\xFF'));
    EXPECT_EQ(static_cast<uint8_t>(big[big.size() - 2]),
              static_cast<uint8_t>((2 + 0xFF * 2 + 3 + 0xFF * 3 + 3) & 0xFF));
}

TEST(ReaderDecode, AckSubCodesOfTheRomVersionCommand) {
    EXPECT_EQ(Decode(BuildFrame(0, kReplyAck, Bytes({0x00}))), QStringList{"DousaModeSet_CMD受信"});
    EXPECT_EQ(Decode(BuildFrame(0, kReplyAck, Bytes({0x09}))), QStringList{"S6700ModeSet_CMD受信"});
    EXPECT_EQ(Decode(BuildFrame(0, kReplyAck, Bytes({0x50, 1, 2, 3, 4, 5, 6, 7, 0xAB}))),
              QStringList{"UID: AB 07 06 05 04 03 02 01 "});
    EXPECT_EQ(Decode(BuildFrame(0, kReplyAck, Bytes({0x53, 200}))),
              (QStringList{"GETUIDNUMBER_CMD受信", "受信UID数: 200"}));
    EXPECT_EQ(Decode(BuildFrame(
                  0, kReplyAck,
                  Bytes({0x54, 0xEE, 0xEE, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x8F}))),
              (QStringList{"GETUIDDATA_CMD受信", "UID: 8F 70 60 50 40 30 20 10 "}));
    EXPECT_EQ(Decode(BuildFrame(0, kReplyAck, Bytes({0x9F, 0x0A}))), QStringList{"PORTDATA: 0x0A"});
    EXPECT_TRUE(Decode(BuildFrame(0, kReplyAck, Bytes({0x77, 1}))).isEmpty());

    const TDecodedReply v = DecodeReply(reinterpret_cast<const uint8_t*>(kVersionReply.data()),
                                        static_cast<int>(kVersionReply.size()), kCmdRomVersion);
    EXPECT_EQ(v.lines, (QStringList{"Firmware Version", "V1.00"}));
    EXPECT_TRUE(v.hasVersion);
    EXPECT_EQ(v.version, "V1.00");
    // LEN 1: the sub-code alone, an empty version text.
    const QByteArray empty = BuildFrame(0, kReplyAck, Bytes({0x90}));
    const TDecodedReply e = DecodeReply(reinterpret_cast<const uint8_t*>(empty.data()),
                                        static_cast<int>(empty.size()), kCmdRomVersion);
    EXPECT_TRUE(e.hasVersion);
    EXPECT_EQ(e.version, "");
    // No request sent yet: an ACK decodes to nothing.
    EXPECT_TRUE(Decode(kVersionReply, kNoCommand).isEmpty());
}

TEST(ReaderDecode, NackCodesAndTagErrorCodes) {
    const std::vector<std::pair<int, QString>> nacks = {
        {0x01, "CRCエラー"},
        {0x02, "CMD_TIME_OVER受信"},
        {0x03, "タグデータ受信エラー"},
        {0x04, "タグからの応答なし"},
        {0x41, "データ数エラー"},
        {0x42, "コマンドのサム値エラー"},
        {0x43, "コマンドのＩＤ値のエラー"},
        {0x44, "不正なコマンド"},
        {0x00, "??? NACK受信"},
        {0x45, "??? NACK受信"},
        {0xFF, "??? NACK受信"},
    };
    for (const auto& [code, text] : nacks)
        EXPECT_EQ(Decode(BuildFrame(0, kReplyNack, Bytes({code}))), QStringList{text}) << code;

    const std::vector<std::pair<int, QString>> tags = {
        {0x01, "The command is not supported, i.e. the request code is not recognised."},
        {0x02, "he command is not recognised, for example: a format error occurred."},
        {0x03, "The option is not supported."},
        {0x0F, "Unknown error."},
        {0x10,
         QString::fromUtf8("The specified block is not available (doesn\xE2\x80\x99t exist).")},
        {0x11, "The specified block is already -locked and thus cannot be locked again"},
        {0x12, "The specified block is locked and its content cannot be changed."},
        {0x13, "The specified block was not successfully programmed."},
        {0x14, "The specified block was not successfully locked."},
        {0xA0, "? 'DF' Custom command error codes"},
        {0x04, "? 'DF' Custom command error codes"},
        {0x00, "? 'DF' Custom command error codes"},
    };
    for (const auto& [code, text] : tags)
        EXPECT_EQ(Decode(BuildFrame(0, kReplyNack, Bytes({0x05, code}))), QStringList{text})
            << code;
    // The NACK of an exchange that never sent a request decodes all the same.
    EXPECT_EQ(Decode(BuildFrame(0, kReplyNack, Bytes({0x44})), kNoCommand),
              QStringList{"不正なコマンド"});
}

TEST(ReaderDecode, OtherReplyCodes) {
    EXPECT_EQ(Decode(BuildFrame(0, kReplyUid, Bytes({0, 0xE0, 4, 1, 0, 0x12, 0x34, 0x56, 0x78}))),
              QStringList{"UID: E0 04 01 00 12 34 56 78 "});
    EXPECT_TRUE(Decode(BuildFrame(0, kReplyD, {})).isEmpty());
    EXPECT_TRUE(Decode(BuildFrame(0, kReplyd, Bytes({1, 2}))).isEmpty());
    EXPECT_EQ(Decode(BuildFrame(0, 0x32, Bytes({0}))), QStringList{"レスポンスフォーマットエラー"});
    // A UID frame too short for its UID reads zeros, never bytes of an earlier frame.
    EXPECT_EQ(Decode(BuildFrame(0, kReplyUid, Bytes({0, 0xAA}))),
              QStringList{"UID: AA 03 FA 0D 00 00 00 00 "});
}

// --- the extractor -------------------------------------------------------------------------

TEST(ReaderExtract, SplitFramesStrayBytesAndTwoFramesInOneDelivery) {
    FakePort port;
    TReaderFrames frames(&port);
    frames.SendRomVersionRequest();
    EXPECT_EQ(port.sent, Hex("02004F02900003E60D"));
    EXPECT_FALSE(frames.ResponseReceived());

    // Stray CR LF, then the reply split over three deliveries.
    port.Feed(Hex("0D0A") + kVersionReply.left(3));
    frames.ExtractFrames();
    EXPECT_TRUE(frames.InFrame());
    port.Feed(kVersionReply.mid(3, 5));
    frames.ExtractFrames();
    EXPECT_TRUE(port.log.isEmpty());
    port.Feed(kVersionReply.mid(8));
    frames.ExtractFrames();
    EXPECT_EQ(port.log, (QStringList{"Firmware Version", "V1.00"}));
    EXPECT_TRUE(frames.ResponseReceived());
    EXPECT_EQ(frames.VersionText(), "V1.00");

    // One frame whole, the start of the next in the same delivery; the second completes later.
    port.log.clear();
    const QByteArray second = BuildFrame(0, kReplyAck, QByteArray("\x90V2"));
    port.Feed(BuildFrame(0, kReplyNack, Bytes({0x42})) + second.left(6));
    frames.ExtractFrames();
    EXPECT_EQ(port.log, QStringList{"コマンドのサム値エラー"});
    port.Feed(second.mid(6));
    frames.ExtractFrames();
    EXPECT_EQ(port.log, (QStringList{"コマンドのサム値エラー", "Firmware Version", "V2"}));
    EXPECT_EQ(frames.VersionText(), "V2");
}

TEST(ReaderExtract, WrongSumIdAndEtxAreAccepted) {
    FakePort port;
    TReaderFrames frames(&port);
    frames.SendRomVersionRequest();
    QByteArray bad = kVersionReply;
    bad[1] = 0x33;               // ID
    bad[bad.size() - 3] = 0x7E;  // ETX
    bad[bad.size() - 2] = 0x00;  // SUM
    port.Feed(bad);
    frames.ExtractFrames();
    EXPECT_EQ(port.log, (QStringList{"Firmware Version", "V1.00"}));
}

TEST(ReaderExtract, OverlongFrameIsDroppedWithTheByteAfterIt) {
    FakePort port;
    TReaderFrames frames(&port);
    frames.SendRomVersionRequest();
    // LEN 1 but no CR at index 7; the byte after it is an STX and is dropped too, so the
    // frame that follows it is only found from its own STX.
    QByteArray overlong = BuildFrame(0, kReplyNack, Bytes({0x01}));
    overlong[7] = 'X';
    port.Feed(overlong + Bytes({0x02}) + BuildFrame(0, kReplyNack, Bytes({0x43})).mid(1));
    frames.ExtractFrames();
    EXPECT_TRUE(port.log.isEmpty());
    EXPECT_FALSE(frames.ResponseReceived());
    port.Feed(BuildFrame(0, kReplyNack, Bytes({0x43})));
    frames.ExtractFrames();
    EXPECT_EQ(port.log, QStringList{"コマンドのＩＤ値のエラー"});
}

TEST(ReaderExtract, PartialFrameIsAbandonedAfter100MsWithoutANewByte) {
    // Rows: ms from the first part to a call that finds nothing, ms from the first part to a
    // second part that arrives before that, and whether the frame still decodes.
    struct Row {
        uint32_t emptyCallAt;
        int moreAt;  // -1: no second part before the empty call
        bool decoded;
    };
    for (const Row& r : {Row{99, -1, true}, Row{100, -1, false}, Row{5000, -1, false},
                         Row{150, 60, true}, Row{160, 60, false}}) {
        FakePort port;
        TReaderFrames frames(&port);
        frames.SendRomVersionRequest();
        port.Feed(kVersionReply.left(3));
        frames.ExtractFrames();
        if (r.moreAt >= 0) {
            port.clock.SetElapsedMs(static_cast<uint32_t>(r.moreAt));
            port.Feed(kVersionReply.mid(3, 2));
            frames.ExtractFrames();
        }
        port.clock.SetElapsedMs(r.emptyCallAt);
        frames.ExtractFrames();
        EXPECT_EQ(frames.InFrame(), r.decoded) << r.emptyCallAt;
        port.Feed(kVersionReply.mid(r.moreAt >= 0 ? 5 : 3));
        frames.ExtractFrames();
        EXPECT_EQ(frames.ResponseReceived(), r.decoded) << r.emptyCallAt;
    }
}

TEST(ReaderExtract, AckBeforeAnyRequestLogsNothingButCounts) {
    FakePort port;
    TReaderFrames frames(&port);
    port.Feed(kVersionReply);
    frames.ExtractFrames();
    EXPECT_TRUE(port.log.isEmpty());
    EXPECT_TRUE(frames.ResponseReceived());
    EXPECT_EQ(frames.VersionText(), "");
}

TEST(ReaderExtract, FrameAcrossTheRingEndAndTheReentryGuard) {
    FakePort port;
    TReaderFrames frames(&port);
    frames.SendRomVersionRequest();
    port.ring.Reset(TReceiveRing::kSize - 4);
    // Runs once, on the first line logged: a nested run must return at once, leaving the
    // NACK that arrived meanwhile to the next run.
    port.onLog = [&] {
        port.onLog = nullptr;
        port.Feed(BuildFrame(0, kReplyNack, Bytes({0x41})));
        frames.ExtractFrames();
    };
    port.Feed(kVersionReply);
    frames.ExtractFrames();
    EXPECT_EQ(port.log, (QStringList{"Firmware Version", "V1.00"}));
    EXPECT_EQ(port.drained, 1);
    frames.ExtractFrames();
    EXPECT_EQ(port.log, (QStringList{"Firmware Version", "V1.00", "データ数エラー"}));
    EXPECT_EQ(port.ring.ReadPos(), port.ring.WritePos());
}

// --- the response wait -----------------------------------------------------------------------

TEST(ReaderWait, AckGivesTrueAnyOtherReplyGivesNackLineNoneTheTimeOutLine) {
    // Rows: the reply (empty: none), when its two parts arrive, what the wait gives and when.
    struct Case {
        QByteArray reply;
        uint32_t firstAt, restAt;
        bool result;
        QStringList log;
        uint32_t endMs;
    };
    const QString kTimeout = QStringLiteral("レスポンス待ち　タイムオーバー");
    const QString kNackTag10 =
        QString::fromUtf8("The specified block is not available (doesn\xE2\x80\x99t exist).");
    const QByteArray kStray("\x02", 1);
    const QStringList kVersion = {"Firmware Version", "V1.00"};
    // clang-format off
    const std::vector<Case> cases = {
        {kVersionReply, 30, 60, true, kVersion, 60},
        {BuildFrame(0, kReplyNack, Bytes({0x05, 0x10})), 30, 60, false, {kNackTag10, "NACK 受信"}, 60},
        {BuildFrame(0, kReplyUid, Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8})), 30, 60, false,
         {"UID: 01 02 03 04 05 06 07 08 ", "NACK 受信"}, 60},
        {BuildFrame(0, kReplyD, {}), 30, 60, false, {"NACK 受信"}, 60},
        {BuildFrame(0, 0x20, Bytes({0})), 30, 60, false, {"レスポンスフォーマットエラー", "NACK 受信"}, 60},
        // Already in the ring when the wait starts.
        {kVersionReply, 0, 0, true, kVersion, 0},
        // A reply completed as the time runs out still counts.
        {kVersionReply, 1950, 2000, true, kVersion, 2000},
        // A stray STX is dropped after 100 ms without a new byte, so the reply that follows it
        // decodes however late it comes.
        {kStray + kVersionReply, 20, 320, true, kVersion, 320},
        {kStray + kVersionReply, 20, 1520, true, kVersion, 1520},
        // Silence, and a frame that never ends.
        {{}, 0, 0, false, {kTimeout}, 2000},
        {kVersionReply.left(6), 0, 0, false, {kTimeout}, 2000},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log.join('|').toStdString() + " " + std::to_string(c.restAt));
        FakePort port;
        TReaderFrames frames(&port);
        frames.SendRomVersionRequest();
        // Delivered by the clock while the wait runs: the stray byte or the first part, then the
        // rest.
        const int split = c.reply.startsWith('\x02') && c.reply.mid(1).startsWith('\x02') ? 1 : 4;
        port.clock.At(c.firstAt, [&] { port.Feed(c.reply.left(split)); });
        port.clock.At(c.restAt, [&] { port.Feed(c.reply.mid(split)); });
        EXPECT_EQ(frames.WaitResponse(), c.result);
        EXPECT_EQ(port.log, c.log);
        EXPECT_EQ(port.clock.ElapsedMs(), c.endMs);
    }
}
