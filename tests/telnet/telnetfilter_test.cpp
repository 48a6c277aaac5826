#include "telnet/telnetfilter.h"

#include <gtest/gtest.h>

namespace {

QByteArray B(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(static_cast<char>(b));
    return out;
}

QByteArray Joined(const std::vector<QByteArray>& answers) {
    QByteArray out;
    for (const QByteArray& a : answers)
        out += a;
    return out;
}

const QByteArray kDumbAnswer = B({0xFF, 0xFA, 0x18, 0x00, 0x64, 0x75, 0x6D, 0x62, 0xFF, 0xF0});

TEST(TelnetFilter, AnswersEveryOptionRequestByTheTable) {
    struct Row {
        int request, option, answer;
    } rows[] = {
        {251, 1, 253}, {251, 25, 253}, {251, 3, 254},  {251, 24, 254},  // WILL
        {252, 1, 254}, {252, 25, 254},                                  // WONT
        {253, 1, 251}, {253, 24, 251}, {253, 31, 252}, {253, 37, 252},  // DO
        {253, 3, 252}, {254, 1, 252},  {254, 24, 252},                  // DONT
    };
    for (const Row& r : rows) {
        TTelnetFilter f;
        const auto res = f.Feed(B({255, r.request, r.option}));
        ASSERT_EQ(res.answers.size(), 1u) << r.request << " " << r.option;
        EXPECT_EQ(res.answers[0], B({255, r.answer, r.option})) << r.request << " " << r.option;
        EXPECT_TRUE(res.data.isEmpty());
        EXPECT_TRUE(res.sawIac);
    }
}

TEST(TelnetFilter, RepeatedRequestsAreAnsweredEachTime) {
    TTelnetFilter f;
    const auto r = f.Feed(B({255, 253, 1, 255, 253, 1, 255, 251, 3}));
    ASSERT_EQ(r.answers.size(), 3u);
    EXPECT_EQ(r.answers[0], B({255, 251, 1}));
    EXPECT_EQ(r.answers[1], B({255, 251, 1}));
    EXPECT_EQ(r.answers[2], B({255, 254, 3}));
}

TEST(TelnetFilter, DataKeepsDoubledIacAndDropsOtherCommands) {
    TTelnetFilter f;
    // IAC IAC is one data byte; NOP, GA, EOR and a stray SE carry nothing.
    const auto r = f.Feed(QByteArray("A") + B({255, 255}) + "B" + B({255, 241, 255, 249}) + "C" +
                          B({255, 239, 255, 240}) + "D");
    EXPECT_EQ(r.data, QByteArray("A") + B({255}) + "BCD");
    EXPECT_TRUE(r.answers.empty());
    EXPECT_TRUE(r.sawIac);

    TTelnetFilter plain;
    const auto p = plain.Feed("no commands\r\n");
    EXPECT_FALSE(p.sawIac);
    EXPECT_EQ(p.data, QByteArray("no commands\r\n"));
}

TEST(TelnetFilter, TerminalTypeSendIsAnsweredWithTheTerminal) {
    TTelnetFilter f;
    const auto r = f.Feed(B({255, 253, 24, 255, 250, 24, 1, 255, 240}));
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0], B({255, 251, 24}));
    EXPECT_EQ(r.answers[1], kDumbAnswer);

    TTelnetFilter empty("");  // an empty terminal type reports "dumb"
    EXPECT_EQ(Joined(empty.Feed(B({255, 250, 24, 1, 255, 240})).answers), kDumbAnswer);

    TTelnetFilter vt("vt100");
    EXPECT_EQ(Joined(vt.Feed(B({255, 250, 24, 1, 255, 240})).answers),
              B({255, 250, 24, 0}) + "vt100" + B({255, 240}));
}

TEST(TelnetFilter, OtherSubNegotiationsAreIgnored) {
    const QByteArray cases[] = {
        B({255, 250, 24, 1, 1, 255, 240}),  // parameter longer than SEND
        B({255, 250, 24, 255, 240}),        // empty parameter
        B({255, 250, 31, 1, 255, 240}),     // another option
        B({255, 250, 24, 1, 255, 65}),      // not ended by SE: dropped
        B({255, 250, 255, 24, 1}),          // IAC where the option belongs: one byte dropped
    };
    for (const QByteArray& c : cases) {
        TTelnetFilter f;
        const auto r = f.Feed(c + "x");
        EXPECT_TRUE(r.answers.empty()) << c.toHex().constData();
    }
    // The last two leave data behind: after "IAC x" the filter is back in the data state.
    TTelnetFilter f;
    EXPECT_EQ(f.Feed(B({255, 250, 24, 1, 255, 65}) + "x").data, QByteArray("x"));
    TTelnetFilter g;
    EXPECT_EQ(g.Feed(B({255, 250, 255, 24, 1}) + "x").data, B({1}) + "x");
}

TEST(TelnetFilter, SubNegotiationChainAndDoubledIacInParameter) {
    TTelnetFilter f;
    // IAC SB right after a parameter ends it (handled) and opens the next one.
    auto r = f.Feed(B({255, 250, 24, 1, 255, 250, 24, 1, 255, 240}) + "ok");
    EXPECT_EQ(Joined(r.answers), kDumbAnswer + kDumbAnswer);
    EXPECT_EQ(r.data, QByteArray("ok"));
    // A doubled IAC inside a parameter is one byte of it (so this is not SEND).
    r = f.Feed(B({255, 250, 24, 255, 255, 255, 240}));
    EXPECT_TRUE(r.answers.empty());
    EXPECT_EQ(f.CurrentState(), TTelnetFilter::State::Data);
}

TEST(TelnetFilter, AnyChunkingGivesTheSameResult) {
    const QByteArray stream = QByteArray("\r\n") + B({255, 253, 24, 255, 251, 1, 255, 251, 3}) +
                              "PASS" + B({255, 255}) + B({255, 250, 24, 1, 255, 240}) +
                              B({255, 241}) + "WORD:" + B({255, 254, 5}) + "\r\n>OK";
    TTelnetFilter whole;
    const auto expected = whole.Feed(stream);
    for (int cut = 1; cut < stream.size(); ++cut) {
        TTelnetFilter f;
        auto a = f.Feed(stream.left(cut));
        const auto b = f.Feed(stream.mid(cut));
        EXPECT_EQ(a.data + b.data, expected.data) << "cut " << cut;
        a.answers.insert(a.answers.end(), b.answers.begin(), b.answers.end());
        EXPECT_EQ(a.answers, expected.answers) << "cut " << cut;
    }
    TTelnetFilter bytewise;
    QByteArray data;
    std::vector<QByteArray> answers;
    for (char c : stream) {
        const auto r = bytewise.Feed(QByteArray(1, c));
        data += r.data;
        answers.insert(answers.end(), r.answers.begin(), r.answers.end());
    }
    EXPECT_EQ(data, expected.data);
    EXPECT_EQ(answers, expected.answers);
}

TEST(TelnetFilter, EndlessSubNegotiationHoldsBoundedMemory) {
    TTelnetFilter f;
    f.Feed(B({255, 250, 24}));
    const QByteArray junk(1 << 20, '\x01');
    for (int i = 0; i < 8; ++i) {
        const auto r = f.Feed(junk);
        EXPECT_TRUE(r.data.isEmpty());
        EXPECT_LE(f.ParameterSize(), TTelnetFilter::kMaxParameter);
    }
    // Its end is recognised; the overlong parameter is not acted on, even though it starts
    // with SEND; the next sub-negotiation is handled normally.
    auto r = f.Feed(B({255, 240}) + "after");
    EXPECT_TRUE(r.answers.empty());
    EXPECT_EQ(r.data, QByteArray("after"));
    r = f.Feed(B({255, 250, 24, 1, 255, 240}));
    EXPECT_EQ(Joined(r.answers), kDumbAnswer);
}

TEST(TelnetWire, CrRuleAndIacDoubling) {
    using telnet::WireBytes;
    EXPECT_EQ(WireBytes('\r', false), QByteArray("\r\n"));
    EXPECT_EQ(WireBytes('\r', true), QByteArray("\r"));
    EXPECT_EQ(WireBytes('\n', false), QByteArray("\n"));
    EXPECT_EQ(WireBytes('s', true), QByteArray("s"));
    EXPECT_EQ(WireBytes(0xFF, true), B({255, 255}));
    EXPECT_EQ(WireBytes(0xFF, false), B({255}));
    EXPECT_EQ(WireBytes(0x82, true), B({0x82}));
}

}  // namespace
