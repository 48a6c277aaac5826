// The substitute board's interpreter, which every end-to-end test relies on to answer as the
// real board does.
#include <gtest/gtest.h>

#include <QTemporaryDir>

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

}  // namespace
