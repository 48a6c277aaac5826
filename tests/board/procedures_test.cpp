// The configuration procedures against a scripted link: what each sends, logs and stores, over
// both links' styles, without a window or a port.
#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>

#include "board/procedures.h"
#include "core/exceptions.h"
#include "core/settings.h"
#include "support/printers.h"
#include "support/scriptedlink.h"

namespace {

const QString kTimeout = QString::fromUtf8(kTimeoutLine);
const QString kOkBanner = QStringLiteral("------------- 設定　OK! -----------------");
const QString kNgBanner = QStringLiteral("///////////// 設定　NG! /////////////////");

struct Recorder {
    QStringList log;
    int nullBoxes = 0;
    TProcedureHooks Hooks() {
        TProcedureHooks h;
        h.log = [this](const QString& l) { log << l; };
        h.nullBox = [this] { ++nullBoxes; };
        return h;
    }
};

QString Mac(const TBoardParams& p) {
    return QStringLiteral("%1-%2-%3").arg(p.MacAddr_1).arg(p.MacAddr_2).arg(p.MacAddr_3);
}

// The setting lines of the default record, without "madr=".
const QStringList kDefaultLines = {"l_ip=10.16.77.170",
                                   "l_pt=10777",
                                   "f_ip=10.16.77.171",
                                   "f_pt=3335",
                                   "mask=16",
                                   "conn=1",
                                   "bps=16",
                                   "timv=10",
                                   "keep=1",
                                   "timr=1"};
const QStringList kOkLines = {
    "IPアドレス　OK!!", "Port値　OK!!",   "IPアドレス(接続先)　OK!!",   "Port値(接続先)　OK!!",
    "マスク長　OK!!",   "自動接続　OK!!", "通信スピード(RS232C)　OK!!", "送信タイミング　OK!!",
    "Keep　OK!!",       "timr　OK!!"};

struct WriteRow {
    const char* name;
    bool telnet;
    bool withMac;
    std::array<int, 3> mac;
    QMap<QString, QString> script;
    QStringList sent;  // after the wake line (and its pause)
    QStringList log;
    const char* failed;
    const char* macAfter;
};

TEST(Procedures, WriteCommands) {
    const QString madr = "madr=02-5A-C3-00-01-C9";
    const QStringList allSerial = QStringList{madr} + kDefaultLines + QStringList{"save", "exit"};
    const QStringList mac = {"MACアドレス　OK!!"};
    const QStringList saveOk = {"SAVE　OK!!"};
    const WriteRow rows[] = {
        {"serial with MAC",
         false,
         true,
         {0, 1, 201},
         {},
         allSerial,
         mac + kOkLines + saveOk + QStringList{madr, kOkBanner},
         "",
         "0-1-201"},
        {"serial without MAC",
         false,
         false,
         {0, 1, 201},
         {},
         kDefaultLines + QStringList{"save", "exit"},
         kOkLines + saveOk + QStringList{madr, kOkBanner},
         "",
         "0-1-201"},
        // Over telnet the MAC line follows the banner and shows the address the next board
        // gets; the procedure itself leaves the record as sent (the ledger counts).
        {"telnet with MAC",
         true,
         true,
         {0, 1, 201},
         {},
         QStringList{madr} + kDefaultLines + QStringList{"save"},
         mac + kOkLines + saveOk + QStringList{kOkBanner, "madr=02-5A-C3-00-01-CA"},
         "",
         "0-1-201"},
        {"telnet without MAC",
         true,
         false,
         {0, 1, 201},
         {},
         kDefaultLines + QStringList{"save"},
         kOkLines + saveOk + QStringList{kOkBanner, madr},
         "",
         "0-1-201"},
        {"the MAC address wraps at 00-01-FF",
         false,
         true,
         {0, 1, 255},
         {},
         QStringList{"madr=02-5A-C3-00-01-FF"} + kDefaultLines + QStringList{"save", "exit"},
         mac + kOkLines + saveOk + QStringList{"madr=02-5A-C3-00-01-FF", kOkBanner},
         "",
         "0-1-255"},
        {"and at FF-FF-FF",
         true,
         true,
         {255, 255, 255},
         {},
         QStringList{"madr=02-5A-C3-FF-FF-FF"} + kDefaultLines + QStringList{"save"},
         mac + kOkLines + saveOk + QStringList{kOkBanner, "madr=02-5A-C3-00-00-00"},
         "",
         "255-255-255"},
        {"no prompt ends a write without MAC",
         false,
         false,
         {0, 1, 201},
         {{"", "-"}},
         {},
         {kTimeout, kNgBanner},
         "wake",
         "0-1-201"},
        {"no prompt: with MAC its answer decides",
         true,
         true,
         {0, 1, 201},
         {{"", "NG"}},
         QStringList{madr} + kDefaultLines + QStringList{"save"},
         mac + kOkLines + saveOk + QStringList{kOkBanner, "madr=02-5A-C3-00-01-CA"},
         "",
         "0-1-201"},
        {"a refused mask stops the write",
         false,
         true,
         {0, 1, 201},
         {{"mask", "NG"}},
         QStringList{madr} + kDefaultLines.mid(0, 5),
         mac + kOkLines.mid(0, 4) + QStringList{"マスク長　NG!!", kNgBanner},
         "mask",
         "0-1-201"},
        {"a refused save: no exit, no MAC line",
         false,
         true,
         {0, 1, 201},
         {{"save", "NG"}},
         QStringList{madr} + kDefaultLines + QStringList{"save"},
         mac + kOkLines + QStringList{"SAVE　NG!!", kNgBanner},
         "save",
         "0-1-201"},
        {"a silent board",
         false,
         true,
         {0, 1, 201},
         {{"", "-"}, {"madr", "-"}},
         {madr},
         {kTimeout, kTimeout, "MACアドレス　NG!!", kNgBanner},
         "madr",
         "0-1-201"},
    };
    for (const WriteRow& r : rows) {
        SCOPED_TRACE(r.name);
        TBoardParams p;
        p.MacAddr_1 = r.mac[0];
        p.MacAddr_2 = r.mac[1];
        p.MacAddr_3 = r.mac[2];
        Recorder run;
        ScriptedLink link(r.telnet, &run.log, r.script);
        const TOutcome out = RunWriteCommand(link, &p, r.withMac, run.Hooks());
        const QStringList wake = r.telnet ? QStringList{"", "(pause 100)"} : QStringList{""};
        EXPECT_EQ(link.events, wake + r.sent);
        EXPECT_EQ(run.log, r.log);
        EXPECT_EQ(out.ok, QByteArray(r.failed).isEmpty());
        EXPECT_EQ(out.failed, QByteArray(r.failed));
        EXPECT_EQ(Mac(p), r.macAfter);
    }
}

TEST(Procedures, MacRewrite) {
    struct Row {
        const char* name;
        QMap<QString, QString> script;
        QStringList sent;
        QStringList log;
        const char* macAfter;
    };
    const QString madr = "madr=02-5A-C3-0A-0B-0C";
    const Row rows[] = {
        {"answered",
         {},
         {"", "qelmoT4", madr, "save", "exit"},
         {"qelmoT4　OK!!", "MACアドレス　OK!!", "SAVE　OK!!", kOkBanner, madr},
         "10-11-12"},
        {"a refused mode line does not stop it",
         {{"qelmoT4", "NG"}, {"", "NG"}},
         {"", "qelmoT4", madr, "save", "exit"},
         {"qelmoT4　NG!!", "MACアドレス　OK!!", "SAVE　OK!!", kOkBanner, madr},
         "10-11-12"},
        {"a silent board",
         {{"", "-"}, {"qelmoT4", "-"}, {"madr", "-"}},
         {"", "qelmoT4", madr},
         {kTimeout, kTimeout, "qelmoT4　NG!!", kTimeout, "MACアドレス　NG!!", kNgBanner},
         "10-11-12"},
        {"save refused",
         {{"save", "NG"}},
         {"", "qelmoT4", madr, "save"},
         {"qelmoT4　OK!!", "MACアドレス　OK!!", "SAVE　NG!!", kNgBanner},
         "10-11-12"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TBoardParams p;
        p.MacAddr_1 = 10;
        p.MacAddr_2 = 11;
        p.MacAddr_3 = 12;
        Recorder run;
        ScriptedLink link(false, &run.log, r.script);
        RewriteMacAddress(link, &p, run.Hooks());
        EXPECT_EQ(link.events, r.sent);
        EXPECT_EQ(run.log, r.log);
        EXPECT_EQ(Mac(p), r.macAfter);
    }
}

TEST(Procedures, CheckAndSetReading) {
    const QMap<QString, QString> board = {{"madr", "02-5a-c3-12-34-56"},
                                          {"l_ip", "127.0.0.9"},
                                          {"l_pt", "4001"},
                                          {"f_ip", "192.168.3.4"},
                                          {"f_pt", "4002"},
                                          {"mask", "24"},
                                          {"conn", "2"},
                                          {"bps", "17"},
                                          {"timv", "-5"},
                                          {"keep", "0"},
                                          {"timr", "30"}};
    const QStringList queries = {"madr", "l_ip", "l_pt", "f_ip", "f_pt", "mask",
                                 "conn", "bps",  "timv", "keep", "timr"};
    const QStringList okLines = QStringList{"MACアドレス　OK!!"} + kOkLines;
    auto with = [&](QMap<QString, QString> m, const QString& k, const QString& v) {
        m[k] = v;
        return m;
    };
    struct Row {
        const char* name;
        bool telnet;
        QMap<QString, QString> script;
        int answered;  // queries answered before the one that failed (11: none failed)
        QStringList log;
        int nullBoxes;
        bool throws;
    };
    const Row rows[] = {
        {"serial, every query answered", false, board, 11, okLines, 0, false},
        {"telnet, every query answered", true, board, 11, okLines, 0, false},
        {"reading stops at l_pt",
         false,
         with(board, "l_pt", "-"),
         2,
         {"MACアドレス　OK!!", "IPアドレス　OK!!", kTimeout, "Port値　NG!!"},
         0,
         false},
        {"serial: a MAC reply of 0 shows NULL first", false, with(board, "madr", "0"), 11, okLines,
         1, false},
        {"telnet: a MAC reply of 0 is parsed like any", true, with(board, "madr", "0"), 11, okLines,
         0, false},
        {"telnet: a MAC reply not beginning with 0",
         true,
         with(board, "madr", "A2-5A"),
         0,
         {kTimeout, "MACアドレス　NG!!"},
         0,
         false},
        {"serial: a port that is not a number",
         false,
         with(board, "l_pt", "abc"),
         2,
         {"MACアドレス　OK!!", "IPアドレス　OK!!"},
         0,
         true},
        {"telnet: the same after the own address was stored",
         true,
         with(board, "l_pt", "1x"),
         2,
         {"MACアドレス　OK!!", "IPアドレス　OK!!"},
         0,
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TBoardParams p;
        Recorder run;
        ScriptedLink link(r.telnet, &run.log, r.script);
        TBoardReadback rb;
        TOutcome out;
        if (r.throws)
            EXPECT_THROW(ReadBoardSettings(link, &p, &rb, run.Hooks()), EConvertError);
        else
            out = ReadBoardSettings(link, &p, &rb, run.Hooks());
        EXPECT_EQ(run.log, r.log);
        EXPECT_EQ(run.nullBoxes, r.nullBoxes);
        // The wake line with its pause, then the queries up to the first that failed.
        QStringList sent = {"", "(pause 100)"};
        for (int i = 0; i < 11 && i <= r.answered; ++i) {
            sent << queries[i];
            if (i == 0)
                sent << "(mac read)";
        }
        EXPECT_EQ(link.events, sent);
        if (!r.throws) {
            EXPECT_EQ(out.ok, r.answered == 11);
        }
        // Only over telnet does the own address reach the record, as soon as it is read.
        const bool stored = r.telnet && r.answered >= 2;
        EXPECT_EQ(p.OwnIpText(), stored ? "127.0.0.9" : TBoardParams{}.OwnIpText());
        if (r.answered == 11 && r.script["madr"] != "0") {
            EXPECT_EQ(*rb.Of("madr"), (TReplyValues{2, 0x5a, 0xc3, 0x12, 0x34, 0x56}));
            EXPECT_EQ(*rb.Of("f_ip"), (TReplyValues{192, 168, 3, 4}));
            EXPECT_EQ(*rb.Of("timv"), TReplyValues{-5});
            EXPECT_EQ(SpeedIndexForBps(rb.Of("bps")->at(0)), 2);
            EXPECT_EQ(p.TCPPort1, r.telnet ? 4001 : 10777);
        }
        if (r.answered == 11 && r.script["madr"] == "0") {
            EXPECT_EQ(*rb.Of("madr"), TReplyValues(6, 0));
        }
        EXPECT_EQ(rb.Of("l_pt").has_value(), r.answered > 2);
    }
    EXPECT_EQ(SpeedIndexForBps(15), 0);
    EXPECT_EQ(SpeedIndexForBps(16), 1);
    EXPECT_EQ(SpeedIndexForBps(99), 0);
}

}  // namespace
