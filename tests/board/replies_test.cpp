// The board's answers as the two links recognise them: each row feeds bytes at set moments to
// one wait on a scripted clock and checks its result, when it ended, the reply line and the
// time-out line.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "board/boardlink.h"
#include "support/linelog.h"
#include "support/scriptclock.h"

namespace {

// A link that sends nothing; the rows bring the bytes.
class RowLink : public TReceivingLink {
  public:
    explicit RowLink(TClock* clock) : TReceivingLink(&log, 1000, 256, clock) {}
    const TLinkStyle& Style() const override { return kSerialStyle; }
    const TCommandLook& Look() const override { return kSerialLook; }
    void SendText(const QByteArray&) override {}
    bool WaitPrompt() override { return false; }
    bool WaitOk(int) override { return false; }
    void Arrive(const QByteArray& bytes) {
        std::memcpy(End(), bytes.constData(), static_cast<size_t>(bytes.size()));
        Stored(static_cast<int>(bytes.size()));
    }
    using TReceivingLink::ReadLine;
    TLineLog log;
};

struct Arrival {
    uint32_t atMs;
    QByteArray bytes;
};

struct Row {
    const char* name;
    TReplyMatcher matcher;
    std::vector<Arrival> arrivals;
    bool result;
    uint32_t endMs;
    QString line;
    bool timedOut;
    uint32_t startTick = 0;
};

const QByteArray kIpLine = "l_ip=10.16.77.170\r\n";  // 19 bytes

}  // namespace

TEST(Replies, MatchersOfBothLinks) {
    // clang-format off
    const Row rows[] = {
        // Serial: the answer at a fixed place after the echo.
        {"serial: any byte at 20, then OK", TReplyMatcher::At(20, "OK"), {{0, kIpLine + "#OK"}},
         true, 0, "", false},
        {"serial: OK one place early is refused at once", TReplyMatcher::At(20, "OK"),
         {{0, kIpLine + "OKx"}}, false, 0, "", false},
        {"serial: one byte at a time, recognised with the last", TReplyMatcher::At(20, "OK"),
         {{10, kIpLine + ">"}, {20, "O"}, {30, "K"}}, true, 30, "", false},
        {"serial: no answer after the echo", TReplyMatcher::At(20, "OK"), {{0, kIpLine}}, false,
         2000, "", true},
        {"serial: an answer completed as the time runs out counts", TReplyMatcher::At(20, "OK"),
         {{0, kIpLine + ">O"}, {2000, "K"}}, true, 2000, "", false},
        {"serial: a wait across the wrap of the tick lasts 2000 ms", TReplyMatcher::At(2, ">"), {},
         false, 2000, "", true, 0xFFFFFFFFu - 300u},
        // Telnet: the first ">" at or after the start index.
        {"telnet: >OK after the echo", TReplyMatcher::AtMark(6, '>', ">OK"),
         {{0, "save\r\n>OK"}}, true, 0, "", false},
        {"telnet: other bytes after the > are refused at once",
         TReplyMatcher::AtMark(6, '>', ">OK"), {{0, "save\r\n>ok"}}, false, 0, "", false},
        {"telnet: a > before the start index, the echo in two pieces",
         TReplyMatcher::AtMark(5, '>', ">OK"), {{0, "x"}, {150, ">y\r\n>OK"}}, true, 150, "",
         false},
        {"password: the first P begins PASSWORD:", TReplyMatcher::AtMark(0, 'P', "PASSWORD:"),
         {{0, "\r\nPASS"}, {40, "WORD:"}}, true, 40, "", false},
        {"password: a word with a capital P before it ends the wait",
         TReplyMatcher::AtMark(0, 'P', "PASSWORD:"), {{0, "Please PASSWORD:"}}, false, 0, "",
         false},
        // Reply lines: after the first ">" up to CR, collected from the next pass on.
        {"reply line", TReplyMatcher::ReplyLine(), {{0, "l_ip\r\n>192.168.0.10\r\n"}}, true, 0,
         "192.168.0.10", false},
        {"a line whose CR comes as the time runs out is late", TReplyMatcher::ReplyLine(),
         {{0, "l_ip\r\n>1.2.3.4"}, {2000, "\r"}}, false, 2000, "1.2.3.4", true},
        {"one ms earlier it is a line", TReplyMatcher::ReplyLine(),
         {{0, "l_ip\r\n>1.2.3.4"}, {1999, "\r"}}, true, 1999, "1.2.3.4", false},
        {"no prompt", TReplyMatcher::ReplyLine(), {{0, "madr\r\n"}}, false, 2000, "", true},
        {"MAC line from the 0 after the prompt", TReplyMatcher::ZeroReplyLine(6),
         {{0, "madr\r\n>02-5A-C3-00-01-C9\r\n"}}, true, 0, "02-5A-C3-00-01-C9", false},
        {"a > before another byte is passed over, a last > waits for its next byte",
         TReplyMatcher::ZeroReplyLine(6), {{0, "madr\r\n>x>"}, {150, "05-AB\r\n"}}, true, 150,
         "05-AB", false},
        {"fewer bytes than the minimum are never searched", TReplyMatcher::ZeroReplyLine(6),
         {{0, ">01\r"}}, false, 2000, "", true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TScriptClock clock(row.startTick);
        RowLink link(&clock);
        for (const Arrival& a : row.arrivals)
            clock.At(a.atMs, [&link, bytes = a.bytes] { link.Arrive(bytes); });
        EXPECT_EQ(link.ReadLine(row.matcher), row.result);
        EXPECT_EQ(clock.ElapsedMs(), row.endMs);
        EXPECT_EQ(link.ReplyLine(), row.line);
        EXPECT_EQ(link.log.Lines(),
                  row.timedOut ? QStringList{QString::fromUtf8(kTimeoutLine)} : QStringList{});
    }
}
