// The board command language: setting lines, number formats, the MAC address increment and
// the parsers of query answers.
#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "board/commandline.h"
#include "board/macaddress.h"
#include "board/settingtable.h"
#include "board/siteplan.h"
#include "core/exceptions.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

TEST(CommandLine, DefaultsGiveTheDocumentedLines) {
    const TBoardParams p;
    const std::pair<const char*, const char*> expected[] = {
        {"madr=", "madr=02-5A-C3-00-01-C9\r\n"},
        {"l_ip=", "l_ip=10.16.77.170\r\n"},
        {"l_pt=", "l_pt=10777\r\n"},
        {"f_ip=", "f_ip=10.16.77.171\r\n"},
        {"f_pt=", "f_pt=3335\r\n"},
        {"mask=", "mask=16\r\n"},
        {"conn=", "conn=1\r\n"},
        {"bps=", "bps=16\r\n"},
        {"timv=", "timv=10\r\n"},
        {"keep=", "keep=1\r\n"},
        {"timr=", "timr=1\r\n"},
        {"save", "save\r\n"},
        {"exit", "exit\r\n"},
        {"qelmoT4", "qelmoT4\r\n"},
    };
    for (const auto& [keyword, line] : expected)
        EXPECT_EQ(BuildCommandLine(keyword, p), line);
    EXPECT_EQ(MacText(p), "02-5A-C3-00-01-C9");
    EXPECT_THROW(BuildCommandLine("nope=", p), std::invalid_argument);
}

TEST(CommandLine, SpeedIndexSelectsTheWholeLine) {
    TBoardParams p;
    const std::pair<int, const char*> cases[] = {{0, "bps=15\r\n"},
                                                 {1, "bps=16\r\n"},
                                                 {2, "bps=17\r\n"},
                                                 {-1, "bps=15\r\n"},
                                                 {3, "bps=15\r\n"}};
    for (const auto& [index, line] : cases) {
        p.SpeedIndex = index;
        EXPECT_EQ(BuildCommandLine("bps=", p), line) << index;
    }
}

TEST(CommandLine, NumberFormats) {
    TBoardParams p;
    p.MacAddr_1 = 10;
    p.MacAddr_2 = 255;
    p.MacAddr_3 = 0;
    EXPECT_EQ(MacText(p), "02-5A-C3-0A-FF-00");
    // Values a hand-edited settings file can hold reach the line unchanged.
    p.MacAddr_1 = 300;
    p.MacAddr_2 = -1;
    p.MacAddr_3 = 4096;
    EXPECT_EQ(MacText(p), "02-5A-C3-12C-FFFFFFFF-1000");
    p.TCPPort2 = 0;
    p.TCPmask = 32;
    p.TxTiming = INT_MIN;
    p.TCPIP1_1 = -7;
    EXPECT_EQ(BuildCommandLine("f_pt=", p), "f_pt=0\r\n");
    EXPECT_EQ(BuildCommandLine("mask=", p), "mask=32\r\n");
    EXPECT_EQ(BuildCommandLine("timv=", p), "timv=-2147483648\r\n");
    EXPECT_EQ(BuildCommandLine("l_ip=", p), "l_ip=-7.16.77.170\r\n");
    EXPECT_EQ(HexText(INT_MIN), "80000000");
    EXPECT_EQ(HexText(15), "0F");
}

TEST(CommandLine, OutcomeLinesUseTheIdeographicSpace) {
    EXPECT_EQ(OutcomeLine("mask=", true), QStringLiteral("マスク長　OK!!"));
    EXPECT_EQ(OutcomeLine("mask", false), QStringLiteral("マスク長　NG!!"));
    EXPECT_EQ(OutcomeLine("bps=", true), QStringLiteral("通信スピード(RS232C)　OK!!"));
    EXPECT_EQ(OutcomeLine("f_ip=", false), QStringLiteral("IPアドレス(接続先)　NG!!"));
    EXPECT_EQ(OutcomeLine("save", true), QStringLiteral("SAVE　OK!!"));
    EXPECT_EQ(OutcomeLine("qelmoT4", false), QStringLiteral("qelmoT4　NG!!"));
    EXPECT_EQ(OutcomeLine("madr=", true).toUtf8(), QByteArray("MACアドレス\xE3\x80\x80OK!!"));
}

TEST(MacIncrement, CountsOnAs24BitsAndWraps) {
    struct Case {
        int from[3];
        int to[3];
    };
    const Case cases[] = {
        {{0, 1, 201}, {0, 1, 202}},   {{0, 1, 255}, {0, 2, 0}},     {{0, 255, 255}, {1, 0, 0}},
        {{255, 255, 255}, {0, 0, 0}}, {{10, 11, 12}, {10, 11, 13}}, {{0, 0, 255}, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        TBoardParams p;
        p.MacAddr_1 = c.from[0];
        p.MacAddr_2 = c.from[1];
        p.MacAddr_3 = c.from[2];
        const TMacAddress next = TMacAddress::OfRecord(p)->Next();
        EXPECT_EQ(next.Low(), c.to[0] << 16 | c.to[1] << 8 | c.to[2]);
    }
    // A byte outside 0..255 (a hand-edited file) is no address to count from.
    TBoardParams p;
    p.MacAddr_3 = INT_MAX;
    EXPECT_FALSE(TMacAddress::OfRecord(p));
}

TEST(Parsers, HexGroupValue) {
    EXPECT_EQ(HexGroupValue("C9"), 201);
    EXPECT_EQ(HexGroupValue("c9"), 201);
    EXPECT_EQ(HexGroupValue("G1"), 1);
    EXPECT_EQ(HexGroupValue(""), 0);
    EXPECT_EQ(HexGroupValue(" 5A\r"), 90 * 16);
    EXPECT_EQ(HexGroupValue("FFFFFFFF"), -1);
    // Longer texts wrap in 32 bits without undefined behaviour.
    EXPECT_EQ(HexGroupValue("123456789"), 0x23456789);
}

TEST(Parsers, SplitMacText) {
    using M = std::array<int, 6>;
    EXPECT_EQ(SplitMacText("02-5A-C3-00-01-C9"), (M{2, 90, 195, 0, 1, 201}));
    EXPECT_EQ(SplitMacText("02-5a-c3-00-01-c9"), (M{2, 90, 195, 0, 1, 201}));
    EXPECT_EQ(SplitMacText("02.5A.C3.00.01.C9"), (M{2, 90, 195, 0, 1, 201}));
    EXPECT_EQ(SplitMacText("0"), (M{}));
    EXPECT_EQ(SplitMacText("02-5A-C3-00-01"), (M{}));
    EXPECT_EQ(SplitMacText(""), (M{}));
    // A separator as the first character ends the cutting.
    EXPECT_EQ(SplitMacText("-5A-C3-00-01-C9"), (M{}));
    // More than five separators: the rest is the first group.
    EXPECT_EQ(SplitMacText("1-2-3-4-5-6-7"), (M{0x102, 3, 4, 5, 6, 7}));
    EXPECT_EQ(SplitMacText("--------"), (M{}));
    EXPECT_EQ(SplitMacText("a--b-c-d-e"), (M{10, 0, 11, 12, 13, 14}));
}

TEST(Parsers, SplitIpText) {
    using I = std::array<int, 4>;
    EXPECT_EQ(SplitIpText("10.16.77.170"), (I{10, 16, 77, 170}));
    EXPECT_EQ(SplitIpText("192-168-0-10"), (I{192, 168, 0, 10}));
    EXPECT_EQ(SplitIpText("10.16.77"), (I{}));
    EXPECT_EQ(SplitIpText(""), (I{}));
    EXPECT_EQ(SplitIpText("-1.2.3"), (I{}));
    // Groups are converted as they are cut, right to left, so the empty group fails first.
    try {
        SplitIpText("10..77.170");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'' は整数ではありません");
    }
    try {
        SplitIpText("a.b.c.d");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'d' は整数ではありません");
    }
    // A bad group is found even when too few separators follow it.
    EXPECT_THROW(SplitIpText("10.x"), EConvertError);
    EXPECT_THROW(SplitIpText("1.2.3.4.5"), EConvertError);  // "1.2" is the first group
}

TEST(SettingsCheck, NamesTheFirstMemberOutsideItsDialogRange) {
    using Set = std::vector<std::pair<int TBoardParams::*, int>>;
    const struct {
        Set set;
        const char* found;  // nullptr: the record passes
    } rows[] = {
        {{}, nullptr},
        {{{&TBoardParams::MacAddr_3, 300}}, "MacAddr_3=300 is outside 0..255"},
        {{{&TBoardParams::MacAddr_2, -1}}, "MacAddr_2=-1 is outside 0..255"},
        {{{&TBoardParams::TCPIP1_1, 999}}, "TCPIP1_1=999 is outside 0..255"},
        {{{&TBoardParams::TCPmask, 77}}, "TCPmask=77 is outside 0..32"},
        {{{&TBoardParams::SpeedIndex, 9}}, "SpeedIndex=9 is outside 0..2"},
        // Nothing selected in the speed list or the keep-alive buttons: the window stores it.
        {{{&TBoardParams::SpeedIndex, -1}, {&TBoardParams::fKeepAlive, -1}}, nullptr},
        {{{&TBoardParams::SpeedIndex, -2}}, "SpeedIndex=-2 is outside 0..2"},
        {{{&TBoardParams::fKeepAlive, 2}}, "fKeepAlive=2 is outside 0..1"},
        {{{&TBoardParams::TxTiming, INT_MIN}},
         "TxTiming=-2147483648 is outside -2147483647..2147483647"},
        // The first in the order of the settings file.
        {{{&TBoardParams::TCPmask, 77}, {&TBoardParams::MacAddr_3, 300}},
         "MacAddr_3=300 is outside 0..255"},
        // The bounds themselves pass; the COM port and the switches are no board settings.
        {{{&TBoardParams::MacAddr_1, 255},
          {&TBoardParams::TCPPort2, INT_MAX},
          {&TBoardParams::TCPmask, 32},
          {&TBoardParams::ChkTiming, -INT_MAX},
          {&TBoardParams::ComPort, -5},
          {&TBoardParams::fSetInit, 9}},
         nullptr},
    };
    for (const auto& row : rows) {
        TBoardParams p;
        for (const auto& [member, value] : row.set)
            p.*member = value;
        const std::optional<TSettingRangeError> e = CheckSettings(p);
        EXPECT_EQ(e ? e->Text() : QString(), row.found ? QString(row.found) : QString());
    }
}

}  // namespace

// A plan row's values go into the record as their lines write them, and only the plan's settings;
// they go back as they were.
TEST(SitePlan, ARowsValuesInTheRecord) {
    TSitePlan plan;
    QStringList errors;
    ASSERT_TRUE(ParsePlan("bps,conn,f_ip\n16,1,192.168.1.200\n", &plan, &errors));
    TBoardParams p;
    const TBoardParams before = p;
    ApplyPlanRow(plan.rows[0], &p);
    EXPECT_EQ(p.SpeedIndex, 1);
    EXPECT_EQ(p.fAutoConnect, 1);
    EXPECT_EQ(p.TCPIP2_1, 192);
    EXPECT_EQ(p.TCPIP2_4, 200);
    EXPECT_EQ(p.TCPIP1_4, before.TCPIP1_4);
    CopyPlanSettings(plan.keys, before, &p);
    EXPECT_EQ(p.SpeedIndex, before.SpeedIndex);
    EXPECT_EQ(p.TCPIP2_4, before.TCPIP2_4);
}
