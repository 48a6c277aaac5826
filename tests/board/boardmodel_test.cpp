// The substitute board's interpreter, which every end-to-end test relies on to answer as the
// real board does.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <vector>

#include "boardmodel.h"

namespace {

TEST(BoardModel, EchoesThenAnswersAfterTheLineFeed) {
    BoardModel b{BoardBehaviour{}};
    EXPECT_EQ(b.Feed("\r\n").bytes, "\r\n>");
    EXPECT_EQ(b.Feed("mask=24\r").bytes, "mask=24\r");  // no answer before the LF
    EXPECT_EQ(b.Feed("\n").bytes, "\n>OK");
    EXPECT_EQ(b.Feed("mask\r\n").bytes, "mask\r\n>24\r");
    EXPECT_EQ(b.Feed("madr\r\n").bytes, "madr\r\n>02-5A-C3-00-01-C9\r");
    EXPECT_EQ(b.Value("mask"), "24");
    EXPECT_EQ(b.SavedValue("mask"), "16");
    EXPECT_EQ(b.Feed("save\r\n").bytes, "save\r\n>OK");
    EXPECT_EQ(b.SavedValue("mask"), "24");
    EXPECT_EQ(b.Feed("qelmoT4\r\n").bytes, "qelmoT4\r\n>OK");
    EXPECT_EQ(b.Feed("exit\r\n").bytes, "exit\r\n");  // nothing trails into the next exchange
    EXPECT_EQ(b.Feed("nonsense=1\r\n").bytes, "nonsense=1\r\n>NG");
    // The telnet CR rule sends CR LF LF before the peer knows it is talking to telnet.
    EXPECT_EQ(b.Feed("bps=17\r\n\n").bytes, "bps=17\r\n>OK\n");
    EXPECT_EQ(b.Value("bps"), "17");
}

TEST(BoardModel, Misbehaviours) {
    BoardBehaviour lower;
    lower.lowercase = true;
    EXPECT_EQ(BoardModel(lower).Feed("save\r\n").bytes, "save\r\n>ok");

    BoardBehaviour refuse;
    refuse.refuse.insert("mask");
    BoardModel r(refuse);
    EXPECT_EQ(r.Feed("mask=1\r\n").bytes, "mask=1\r\n>NG");
    EXPECT_EQ(r.Feed("conn=1\r\n").bytes, "conn=1\r\n>OK");

    BoardBehaviour silent;
    silent.silent = true;
    silent.echo = false;
    EXPECT_EQ(BoardModel(silent).Feed("save\r\n").bytes, "");

    BoardBehaviour hang;
    hang.hangupAfterLines = 2;
    BoardModel h(hang);
    EXPECT_FALSE(h.Feed("\r\n").hangup);
    const BoardModel::Output out = h.Feed("save\r\nmask\r\n");
    EXPECT_TRUE(out.hangup);
    EXPECT_EQ(out.bytes, "save\r\n>OK");

    // Starting values, a value that is acknowledged but kept, a wake line without prompt; the
    // board's own address is a loopback one unless set.
    BoardBehaviour set;
    set.start["mask"] = "8";
    set.ignore.insert("conn");
    set.noPrompt = true;
    BoardModel m(set);
    EXPECT_EQ(m.Feed("\r\n").bytes, "\r\n");
    EXPECT_EQ(m.Feed("mask\r\n").bytes, "mask\r\n>8\r");
    EXPECT_EQ(m.Feed("conn=0\r\n").bytes, "conn=0\r\n>OK");
    EXPECT_EQ(m.Value("conn"), "1");
    EXPECT_EQ(m.Value("l_ip"), "127.0.0.1");

    BoardBehaviour crlf;
    crlf.queryEnd = "\r\n";
    EXPECT_EQ(BoardModel(crlf).Feed("l_pt\r\n").bytes, "l_pt\r\n>10777\r\n");
}

TEST(BoardModel, TranscriptAndLineBound) {
    QTemporaryDir dir;
    BoardBehaviour t;
    t.transcriptPath = dir.filePath("t.txt");
    BoardModel b(t);
    b.Feed("\r\nl_ip=127.0.0.1\r\n");
    b.Feed(QByteArray(10000, 'x') + "\r\n");
    QFile f(t.transcriptPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "l_ip=127.0.0.1");
    EXPECT_EQ(lines[2].size(), 4096);  // an endless line is cut, not kept whole
}

// A board given these switches, as its command line gives them.
BoardBehaviour Parsed(QByteArrayList args) {
    BoardBehaviour b;
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    const int argc = static_cast<int>(argv.size());
    for (int i = 0; i < argc; ++i)
        EXPECT_TRUE(ParseBoardSwitch(argc, argv.data(), &i, &b)) << argv[i];
    return b;
}

// What the board answers to the query of `key`, as "key=value".
QByteArray Query(BoardModel* b, const QByteArray& key) {
    const QByteArray out = b->Feed(key + "\r\n").bytes;  // the echo, '>', the value, CR
    return key + '=' + out.mid(key.size() + 3).chopped(1);
}

// A board's memory across a restart: a plain board on the state file saves `setup` (none when
// empty), the file is damaged as the row says, a board with the row's switches (its first life)
// takes `lines`, and a plain board on the same file (the restart) shows what was stored.
struct MemoryRow {
    const char* name;
    QByteArray setup;
    QByteArray damageFrom, damageTo;  // this part of the file replaced, when given
    QByteArrayList args;              // the first life's switches, beside --state
    QByteArray lines, answers;        // what the first life takes, and all it sends (echo included)
    QByteArrayList first;             // what queries answer at the end of the first life
    BoardStateRead::Result firstFrom;
    QByteArrayList after;  // what they answer after the restart
    BoardStateRead::Result afterFrom;
    const char* state = "state";  // the state file, in a fresh folder
};

class BoardMemory : public ::testing::TestWithParam<MemoryRow> {};

TEST_P(BoardMemory, SaveStoresWhatARestartStartsFrom) {
    const MemoryRow& row = GetParam();
    QTemporaryDir dir;
    const QByteArray state = QFile::encodeName(dir.filePath(row.state));
    if (!row.setup.isEmpty())
        BoardModel(Parsed({"--state", state})).Feed(row.setup);
    if (!row.damageFrom.isEmpty()) {
        QFile f(state);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray text = f.readAll();
        ASSERT_TRUE(text.contains(row.damageFrom)) << text.constData();
        f.resize(0);
        f.write(QByteArray(text).replace(row.damageFrom, row.damageTo));
    }
    BoardModel first(Parsed(QByteArrayList{"--state", state} + row.args));
    EXPECT_EQ(first.StartedFrom(), row.firstFrom);
    EXPECT_EQ(first.Feed(row.lines).bytes, row.answers);
    for (const QByteArray& kv : row.first)
        EXPECT_EQ(Query(&first, kv.left(kv.indexOf('='))), kv);
    BoardModel restarted(Parsed({"--state", state}));
    EXPECT_EQ(restarted.StartedFrom(), row.afterFrom);
    for (const QByteArray& kv : row.after)
        EXPECT_EQ(Query(&restarted, kv.left(kv.indexOf('='))), kv);
}

constexpr auto kLoaded = BoardStateRead::Loaded;
constexpr auto kMissing = BoardStateRead::Missing;
constexpr auto kDamaged = BoardStateRead::Damaged;

// clang-format off
const MemoryRow kMemoryRows[] = {
    {"OnlySavedValuesOutliveARestart", "", "", "", {}, "mask=24\r\nsave\r\nl_pt=1\r\n",
     "mask=24\r\n>OKsave\r\n>OKl_pt=1\r\n>OK", {"mask=24", "l_pt=1"}, kMissing,
     {"mask=24", "l_pt=10777"}, kLoaded},
    {"UnsavedValuesAreLost", "mask=8\r\nsave\r\n", "", "", {}, "mask=24\r\n", "mask=24\r\n>OK",
     {"mask=24"}, kLoaded, {"mask=8"}, kLoaded},
    {"NoPersistStoresNothing", "mask=8\r\nsave\r\n", "", "", {"--no-persist"},
     "mask=24\r\nsave\r\n", "mask=24\r\n>OKsave\r\n>OK", {"mask=24"}, kLoaded, {"mask=8"}, kLoaded},
    {"PersistExceptLosesOneKey", "mask=8\r\nsave\r\n", "", "",
     {"--persist-except", "mask", "--persist-except", "timr"}, "mask=24\r\nconn=0\r\nsave\r\n",
     "mask=24\r\n>OKconn=0\r\n>OKsave\r\n>OK", {"mask=24", "conn=0"}, kLoaded,
     {"mask=8", "conn=0", "timr=1"}, kLoaded},
    // --set starts the working values over the stored ones; only a save stores them.
    {"SetIsNotStoredWithoutSave", "mask=8\r\nconn=0\r\nsave\r\n", "", "", {"--set", "mask=4"}, "",
     "", {"mask=4", "conn=0"}, kLoaded, {"mask=8", "conn=0"}, kLoaded},
    {"SetIsStoredBySave", "", "", "", {"--set", "mask=4"}, "save\r\n", "save\r\n>OK", {"mask=4"},
     kMissing, {"mask=4"}, kLoaded},
    // Every byte a value can hold comes back as it was sent.
    {"ValuesKeepEveryByte", "f_ip=a b%\x01\xff=\r\nsave\r\n", "", "", {}, "", "",
     {"f_ip=a b%\x01\xff="}, kLoaded, {"f_ip=a b%\x01\xff="}, kLoaded},
    {"EscapesDecode", "mask=8\r\nsave\r\n", "mask=8", "mask=%32%34", {}, "", "", {"mask=24"},
     kLoaded, {"mask=24"}, kLoaded},
    // A damaged file gives the factory settings, and the next save a whole file again.
    {"DamagedHeader", "save\r\n", "board state 1", "board state 2", {}, "mask=24\r\nsave\r\n",
     "mask=24\r\n>OKsave\r\n>OK", {"mask=24", "l_ip=127.0.0.1"}, kDamaged, {"mask=24"}, kLoaded},
    {"DamagedEscape", "mask=8\r\nsave\r\n", "mask=8", "mask=%G8", {}, "", "", {"mask=16"},
     kDamaged, {"mask=16"}, kDamaged},
    {"DamagedTwice", "mask=8\r\nsave\r\n", "mask=8\n", "mask=8\nmask=9\n", {}, "", "",
     {"mask=16"}, kDamaged, {"mask=16"}, kDamaged},
    {"DamagedUnknownKey", "mask=8\r\nsave\r\n", "mask=8\n", "mask=8\nnope=1\n", {}, "", "",
     {"mask=16"}, kDamaged, {"mask=16"}, kDamaged},
    {"DamagedKeyMissing", "mask=8\r\nsave\r\n", "mask=8\n", "", {}, "", "", {"mask=16"},
     kDamaged, {"mask=16"}, kDamaged},
    {"NotLoopback", "save\r\n", "l_ip=127.0.0.1", "l_ip=10.0.0.1", {}, "", "", {"l_ip=127.0.0.1"},
     kDamaged, {"l_ip=127.0.0.1"}, kDamaged},
    {"DamagedLineFeed", "mask=8\r\nsave\r\n", "mask=8\n", "mask=8\r\n", {}, "", "",
     {"mask=16"}, kDamaged, {"mask=16"}, kDamaged},
    // A file that cannot be written: the save is NG, and the board holds nothing new.
    {"FolderGone", "", "", "", {}, "mask=24\r\nsave\r\n", "mask=24\r\n>OKsave\r\n>NG",
     {"mask=24"}, kMissing, {"mask=16"}, kMissing, "gone/state"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rows, BoardMemory, ::testing::ValuesIn(kMemoryRows),
                         [](const ::testing::TestParamInfo<MemoryRow>& p) {
                             return std::string(p.param.name);
                         });

// The file is written whole: every part of one cut short is damaged, never read as settings.
TEST(BoardMemory, AFileCutAnywhereIsDamaged) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state");
    BoardModel(Parsed({"--state", QFile::encodeName(path)})).Feed("save\r\n");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray whole = f.readAll();
    const QList<QByteArray> keys = {"madr", "l_ip", "l_pt", "f_ip", "f_pt", "mask",
                                    "conn", "bps",  "timv", "keep", "timr"};
    ASSERT_EQ(ReadBoardState(path, keys).result, BoardStateRead::Loaded);
    for (int n = 0; n < whole.size(); ++n) {
        f.resize(0);
        f.write(whole.left(n));
        f.flush();
        EXPECT_EQ(ReadBoardState(path, keys).result, BoardStateRead::Damaged) << n;
    }
}

}  // namespace
