// The command runner against a scripted board and a station's own ledger: for each command and
// outcome, what becomes of the address, the counter and the record, and what the face is asked.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "ledger/ledger.h"
#include "runner/commandrunner.h"
#include "support/ledgerfiles.h"
#include "support/scriptedlink.h"

namespace {

// The face of the command line, with a scripted answer to the reuse question.
class TestFace : public TCommandUi, public TLinkSource {
  public:
    TestFace(QMap<QString, QString> script, bool reuse)
        : link_(false, &log_, std::move(script)), reuse_(reuse) {}

    TLogPane* Log() override { return nullptr; }
    bool ShowsAddress() const override { return false; }
    bool ConfirmWrite(TBoardParams*, bool) override { return true; }
    bool ConfirmMacAddress(TBoardParams* p) override {
        if (rewriteTo_)
            SetMacLow(p, *rewriteTo_);
        return true;
    }
    bool ConfirmCheckAndSet(const TBoardReadback&, TLinkKind, TBoardParams*) override {
        return false;
    }
    bool MayReuse(const TReuseQuestion& q) override {
        asked << q.mac;
        return reuse_;
    }
    void NullBox() override {}
    void ShowAfterCommand(const QString&) override {}
    TRomQueryHooks RomQueryHooks() override { return {}; }
    TBoardLink* SerialLink() override { return &link_; }
    std::unique_ptr<TBoardLink> TelnetLink(const TBoardParams&) override { return nullptr; }
    QString TelnetTarget(const TBoardParams&) const override { return {}; }

    std::optional<int> rewriteTo_;
    QStringList asked;

  private:
    QStringList log_;
    ScriptedLink link_;
    bool reuse_;
};

enum class Command { Write, WriteVerify, Rewrite };

struct Row {
    const char* name;
    Command command;
    QMap<QString, QString> script;  // the board's answers (see ScriptedLink)
    bool givenBefore;               // the old record gave 00-01-C9
    bool reuse;                     // the answer to the reuse question
    QString state;                  // of 00-01-C9 afterwards
    QString counter;                // afterwards
    QString row;                    // the last record row afterwards
    bool asked;                     // the face was asked about 00-01-C9
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << r.name;
}

// The read-back of a board that kept the default settings; `mask` as given.
QMap<QString, QString> ReadBack(const QString& mask) {
    return {{"madr", "02-5A-C3-00-01-C9"},
            {"l_ip", "127.0.0.1"},
            {"l_pt", "10777"},
            {"f_ip", "10.16.77.171"},
            {"f_pt", "3335"},
            {"mask", mask},
            {"conn", "1"},
            {"bps", "16"},
            {"timv", "10"},
            {"keep", "1"},
            {"timr", "1"}};
}

const char* const kStates[] = {"free", "reserved", "given", "released", "burned"};

class Runner : public ::testing::TestWithParam<Row> {};

TEST_P(Runner, AddressCounterRecordAndQuestion) {
    const Row& r = GetParam();
    QTemporaryDir dir;
    const QString ini = dir.filePath("station.ini");
    {
        TIniFile f(ini);
        f.WriteString("Option", "TCPIP1_1", "127");
        f.WriteString("Option", "TCPIP1_2", "0");
        f.WriteString("Option", "TCPIP1_3", "0");
        f.WriteString("Option", "TCPIP1_4", "1");
        f.UpdateFile();
    }
    if (r.givenBefore)
        WriteOldRecord(ini, {"2026-11-30T09:15:00+09:00,write-mac,COM1,02-5A-C3-00-01-C9,"
                             "127.0.0.1,OK,"});
    TestFace face(r.script, r.reuse);
    TBoardParams params = LoadSettings(ini);
    TCommandRunner runner(face, face, params, ini);
    switch (r.command) {
        case Command::Write:
            runner.Write(TLinkKind::Serial, {/*withMac=*/true});
            break;
        case Command::WriteVerify:
            runner.Write(TLinkKind::Serial, {/*withMac=*/true, /*verify=*/true});
            break;
        case Command::Rewrite:
            face.rewriteTo_ = 0x1C9;
            runner.MacRewrite();
            break;
    }
    TLedger ledger(ini, QStringLiteral("test"));
    EXPECT_EQ(kStates[static_cast<int>(ledger.Lookup(0x1C9).state)], r.state);
    EXPECT_EQ(MacTextOfLow(*ledger.Counter()).mid(9), r.counter);
    EXPECT_EQ(LastLedgerRow(ini), r.row);
    EXPECT_EQ(face.asked, r.asked ? QStringList{"02-5A-C3-00-01-C9"} : QStringList{});
    // The record follows the counter, whatever the board was sent; after a refused reuse it
    // offers the ledger's next address, not the one refused.
    EXPECT_EQ(MacLowOf(params), r.asked && !r.reuse ? ledger.NextAddress() : ledger.Counter());
}

const QString kMac = "02-5A-C3-00-01-C9";

// clang-format off
const Row kRows[] = {
    {"WriteOk", Command::Write, {}, false, false, "given", "00-01-CA", "write-mac,OK,," + kMac, false},
    {"WriteNgBeforeSave", Command::Write, {{"mask", "NG"}}, false, false, "released", "00-01-C9",
     "write-mac,NG,mask," + kMac, false},
    {"WriteSaveUnanswered", Command::Write, {{"save", "-"}}, false, false, "burned", "00-01-C9",
     "write-mac,NG,save," + kMac, false},
    {"WriteVerifyNg", Command::WriteVerify, ReadBack("8"), false, false, "given", "00-01-CA",
     "write-mac,NG,verify," + kMac, false},
    {"WritePassesOverGiven", Command::Write, {}, true, false, "given", "00-01-CB",
     "write-mac,OK,,02-5A-C3-00-01-CA", false},
    {"RewriteRefusedReuse", Command::Rewrite, {}, true, false, "given", "00-01-C9",
     "write-mac,OK,," + kMac, true},
    {"RewriteAllowedReuse", Command::Rewrite, {}, true, true, "given", "00-01-CA",
     "mac-rewrite,OK,," + kMac, true},
    {"RewriteSaveUnanswered", Command::Rewrite, {{"save", "-"}}, false, false, "burned", "00-01-C9",
     "mac-rewrite,NG,save," + kMac, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Commands, Runner, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& p) {
                             return std::string(p.param.name);
                         });

}  // namespace
