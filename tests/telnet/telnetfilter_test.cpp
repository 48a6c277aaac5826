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

// Each row a fresh filter fed option requests (request, option pairs) in one chunk: the answers
// in order. A request that asks for what is in force already gets none.
TEST(TelnetFilter, AnswersARequestOnlyWhenItAsksForAChange) {
    struct Row {
        const char* name;
        std::vector<std::pair<int, int>> requests;
        std::vector<std::pair<int, int>> answers;
    } rows[] = {
        {"WILL: echo and end of record taken, the rest refused",
         {{251, 1}, {251, 25}, {251, 3}, {251, 24}},
         {{253, 1}, {253, 25}, {254, 3}, {254, 24}}},
        {"DO: echo and terminal type taken, the rest refused",
         {{253, 1}, {253, 24}, {253, 31}, {253, 37}, {253, 3}},
         {{251, 1}, {251, 24}, {252, 31}, {252, 37}, {252, 3}}},
        {"WONT and DONT of what is in force turn it off",
         {{251, 1}, {252, 1}, {251, 25}, {252, 25}, {253, 1}, {254, 1}, {253, 24}, {254, 24}},
         {{253, 1}, {254, 1}, {253, 25}, {254, 25}, {251, 1}, {252, 1}, {251, 24}, {252, 24}}},
        {"WONT and DONT of what is off", {{252, 1}, {252, 3}, {254, 1}, {254, 24}}, {}},
        {"a server that repeats DO and WILL",
         {{253, 1}, {253, 1}, {251, 1}, {251, 1}, {253, 24}, {253, 24}},
         {{251, 1}, {253, 1}, {251, 24}}},
        {"a refusal stands and is given again",
         {{251, 3}, {252, 3}, {251, 3}, {253, 31}, {253, 31}},
         {{254, 3}, {254, 3}, {252, 31}, {252, 31}}},
        {"both sides of one option are apart",
         {{253, 1}, {251, 1}, {254, 1}, {253, 1}},
         {{251, 1}, {253, 1}, {252, 1}, {251, 1}}},
    };
    for (const Row& row : rows) {
        QByteArray in;
        for (const auto& [request, option] : row.requests)
            in += B({255, request, option});
        QByteArray expected;
        for (const auto& [answer, option] : row.answers)
            expected += B({255, answer, option});
        TTelnetFilter f;
        const auto r = f.Feed(in);
        EXPECT_EQ(Joined(r.answers).toHex(' '), expected.toHex(' ')) << row.name;
        EXPECT_EQ(r.answers.size(), row.answers.size()) << row.name;
        EXPECT_TRUE(r.data.isEmpty());
        EXPECT_TRUE(r.sawIac);
        // A new connection starts with every option off.
        f.Reset();
        EXPECT_EQ(Joined(f.Feed(in).answers), expected) << row.name;
    }
}

// A server that acknowledges every request it receives (DO for WILL, WONT for DONT, ...), as
// some do: the exchange ends after the first answers, whatever it starts with.
TEST(TelnetFilter, AServerThatAcknowledgesEveryRequestEndsTheExchange) {
    for (int request : {251, 252, 253, 254}) {
        for (int option : {1, 3, 24, 25, 31}) {
            TTelnetFilter f;
            QByteArray toClient = B({255, request, option});
            int rounds = 0;
            for (; !toClient.isEmpty() && rounds < 100; ++rounds) {
                const QByteArray answers = Joined(f.Feed(toClient).answers);
                toClient.clear();
                // WILL (251) is acknowledged with DO (253), WONT (252) with DONT (254), and back.
                for (int i = 0; i + 2 < answers.size(); i += 3) {
                    const int verb = static_cast<unsigned char>(answers[i + 1]);
                    toClient += B({255, verb <= 252 ? verb + 2 : verb - 2,
                                   static_cast<unsigned char>(answers[i + 2])});
                }
            }
            EXPECT_LE(rounds, 2) << request << " " << option;
        }
    }
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
