// The receive ring, the reader link's socket events, its "ComDebug" section and the progress
// dialog. Sockets only on 127.0.0.0/8.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QFile>
#include <QHostAddress>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "core/exceptions.h"
#include "core/inifile.h"
#include "dialogs/progressdialog.h"
#include "reader/comdebug.h"
#include "reader/readerlink.h"
#include "support/linelog.h"
#include "support/pump.h"
#include "support/scriptclock.h"
#include "support/simprocess.h"

using reader::TReceiveRing;

namespace {

// Filler that never holds an STX, with a value that changes along the stream so that a lost
// or repeated stretch shows.
QByteArray Pattern(int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>(3 + (i * 31 + (i >> 8)) % 253);
    return b;
}

QByteArray RingBytes(const TReceiveRing& ring, int from, int count) {
    QByteArray b;
    for (int i = 0; i < count; ++i)
        b.append(static_cast<char>(ring.At((from + i) % ring.kSize)));
    return b;
}

// A test-side reader on a loopback address.
struct Peer {
    explicit Peer(const char* addr) { EXPECT_TRUE(server.listen(QHostAddress(addr), 0)); }
    int Port() const { return server.serverPort(); }
    QTcpSocket* Accept() {
        EXPECT_TRUE(PumpUntil([&] { return server.hasPendingConnections(); }));
        conn = server.nextPendingConnection();
        return conn;
    }
    QTcpServer server;
    QTcpSocket* conn = nullptr;
};

struct LinkFixture {
    TLineLog pane;
    TReaderLink link{nullptr, 10777, &pane, QString()};

    void ConnectTo(const char* addr, int port) {
        link.SetTCPServAddr(QString::fromLatin1(addr));
        link.SetTCPServPort(port);
        link.OpenLink();
        ASSERT_TRUE(link.Connected());
    }
    QStringList CountLines() const {
        QStringList out;
        for (const QString& l : pane.Lines())
            if (!l.isEmpty() && l.toLongLong() > 0)
                out << l;
        return out;
    }
};

}  // namespace

// --- receive ring ----------------------------------------------------------------------------

TEST(ReaderRing, WritesWrapAtTheEnd) {
    TReceiveRing ring;
    const QByteArray data = Pattern(1000);
    ring.Reset(16000);
    EXPECT_EQ(ring.Write(reinterpret_cast<const uint8_t*>(data.data()), 1000), 1000);
    EXPECT_EQ(ring.WritePos(), 616);
    EXPECT_EQ(RingBytes(ring, 16000, 384), data.left(384));
    EXPECT_EQ(RingBytes(ring, 0, 616), data.mid(384));

    TReceiveRing exact;
    exact.Reset(16000);
    EXPECT_EQ(exact.Write(reinterpret_cast<const uint8_t*>(data.data()), 384), 384);
    EXPECT_EQ(exact.WritePos(), 0);
    EXPECT_EQ(exact.Unread(), 384);
}

TEST(ReaderRing, NeverOverwritesUnreadBytes) {
    TReceiveRing ring;
    ring.Reset(5000);
    const QByteArray first = Pattern(16000);
    ASSERT_EQ(ring.Write(reinterpret_cast<const uint8_t*>(first.data()), 16000), 16000);
    EXPECT_EQ(ring.Room(), 383);
    const QByteArray more(1000, '\x55');
    EXPECT_EQ(ring.Write(reinterpret_cast<const uint8_t*>(more.data()), 1000), 383);
    EXPECT_EQ(ring.Room(), 0);
    EXPECT_EQ(ring.Write(reinterpret_cast<const uint8_t*>(more.data()), 1), 0);
    // Everything unread is still there, in order, and the write position stops just short
    // of the read position.
    EXPECT_EQ(RingBytes(ring, 5000, 16000), first);
    EXPECT_EQ(ring.WritePos(), 4999);
}

// --- socket events ---------------------------------------------------------------------------

TEST(ReaderLink, ReadEventTakesAtMost1024AndTheRestComesWithTheNextEvent) {
    Peer peer("127.0.0.71");
    LinkFixture f;
    f.ConnectTo("127.0.0.71", peer.Port());
    EXPECT_EQ(f.pane.Lines(), QStringList{"ClientSocket1Connect"});
    QTcpSocket* conn = peer.Accept();
    const QByteArray data = Pattern(1500);
    conn->write(data);
    ASSERT_TRUE(PumpUntil([&] { return f.link.Ring().WritePos() == 1500; }));
    PumpFor(150);
    EXPECT_EQ(f.pane.Lines(), (QStringList{"ClientSocket1Connect", "1500", "476"}));
    EXPECT_EQ(RingBytes(f.link.Ring(), 0, 1500), data);
}

TEST(ReaderLink, BurstBeyondTheRingWaitsInTheSocketAndLosesNothing) {
    Peer peer("127.0.0.72");
    LinkFixture f;
    f.link.Timer1()->stop();  // no extractor runs unless the test asks
    f.ConnectTo("127.0.0.72", peer.Port());
    QTcpSocket* conn = peer.Accept();
    const int total = 40000;
    const QByteArray data = Pattern(total);
    conn->write(data);

    TReceiveRing& ring = f.link.Ring();
    ASSERT_TRUE(PumpUntil([&] { return ring.Room() == 0; }));
    // A full ring stops the reading without spinning on re-posted read events.
    const int events = static_cast<int>(f.CountLines().size());
    PumpFor(300);
    EXPECT_LE(f.CountLines().size(), events + 2);
    EXPECT_EQ(ring.Unread(), TReceiveRing::kSize - 1);
    EXPECT_EQ(RingBytes(ring, 0, ring.Unread()), data.left(ring.Unread()));

    // Each extractor run makes room, and the waiting bytes follow on their own.
    QByteArray received;
    for (int round = 0; round < 20 && received.size() < total; ++round) {
        PumpUntil([&] { return ring.Room() == 0 || received.size() + ring.Unread() == total; });
        received += RingBytes(ring, ring.ReadPos(), ring.Unread());
        f.link.ExtractFrames();
    }
    EXPECT_EQ(received.size(), total);
    EXPECT_TRUE(received == data);
}

TEST(ReaderLink, PeerCloseOrResetIsADisconnectWithoutReconnect) {
    for (const bool reset : {false, true}) {
        Peer peer("127.0.0.73");
        LinkFixture f;
        f.ConnectTo("127.0.0.73", peer.Port());
        QTcpSocket* conn = peer.Accept();
        const uint8_t one = 0x55;
        EXPECT_EQ(f.link.SendBlock(&one, 1), 1);
        if (reset) {
            // Closed with a reset instead of the orderly end.
            const linger now{1, 0};
            setsockopt(int(conn->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        conn->close();
        ASSERT_TRUE(PumpUntil([&] { return !f.link.Connected(); })) << reset;
        PumpFor(300);
        EXPECT_EQ(f.pane.Lines(), (QStringList{"ClientSocket1Connect", "ClientSocket1Disconnect"}))
            << reset;
        EXPECT_EQ(f.link.SendBlock(&one, 1), 0);
    }
}

TEST(ReaderLink, BytesSentJustBeforeThePeerClosesAreAllTaken) {
    Peer peer("127.0.0.77");
    LinkFixture f;
    f.ConnectTo("127.0.0.77", peer.Port());
    QTcpSocket* conn = peer.Accept();
    const QByteArray data = Pattern(1500);
    conn->write(data);
    conn->flush();
    conn->close();
    ASSERT_TRUE(PumpUntil([&] { return !f.link.Connected() && f.link.Ring().WritePos() == 1500; }));
    const QStringList lines = f.pane.Lines();
    EXPECT_TRUE(lines.contains("1500") && lines.contains("476")) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.contains("ClientSocket1Disconnect"));
    EXPECT_EQ(RingBytes(f.link.Ring(), 0, 1500), data);
}

TEST(ReaderLink, RefusedConnectRetriesUntilTheConnectWaitEnds) {
    int port = 0;
    {
        QTcpServer probe;  // a port that nobody listens on afterwards
        ASSERT_TRUE(probe.listen(QHostAddress("127.0.0.74"), 0));
        port = probe.serverPort();
    }
    LinkFixture f;
    f.link.SetTCPServAddr("127.0.0.74");
    f.link.SetTCPServPort(port);
    TScriptClock clock;
    f.link.SetClock(&clock);
    // Inside the wait, the refusals come and the link connects again, however long they take.
    clock.At(100, [&] {
        EXPECT_TRUE(PumpUntil([&] { return f.pane.Lines().count("ClientSocket1Error") >= 2; }));
    });
    f.link.OpenLink();
    EXPECT_FALSE(f.link.Connected());
    EXPECT_EQ(clock.ElapsedMs(), 5000u);
    const QStringList lines = f.pane.Lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), "コネクト待ち　タイムオーバー");
    EXPECT_EQ(lines.count("ClientSocket1Error"), lines.size() - 1);
}

TEST(ReaderLink, AddressThatIsNoIpv4AddressOrPortOutOfRangeFailsLikeARefusal) {
    for (auto [addr, port] : {std::pair<const char*, int>{"10.16.77.300", 10777},
                              {"localhost", 10777},
                              {"127.0.0.75", 0},
                              {"127.0.0.75", 65536 + 10777}}) {
        LinkFixture f;
        f.link.SetTCPServAddr(addr);
        f.link.SetTCPServPort(port);
        f.link.Activate();
        // Each failure connects again, and fails again.
        EXPECT_TRUE(PumpUntil([&] { return f.pane.LineCount() >= 2; })) << addr << port;
        const QStringList lines = f.pane.Lines();
        EXPECT_EQ(lines.count("ClientSocket1Error"), lines.size()) << addr << port;
        EXPECT_EQ(f.link.ClientSocket1()->State(), TReaderSocket::TState::Unconnected);
    }
}

TEST(ReaderLink, LogLineEmptiesThePaneAt250Lines) {
    LinkFixture f;
    for (int i = 0; i < 249; ++i)
        f.pane.Append(QString::number(i));
    f.link.LogLine("a");
    EXPECT_EQ(f.pane.LineCount(), 250);
    f.link.LogLine("b");
    EXPECT_EQ(f.pane.Lines(), QStringList{"b"});
    TReaderLink noPane(nullptr, 1, nullptr, QString());
    noPane.LogLine("nowhere");  // no pane: nothing happens
}

// --- "ComDebug" ------------------------------------------------------------------------------

namespace {

void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(ReaderComDebug, ReadAtCreationFixedValuesWrittenInPlaceAtRelease) {
    const QString path = TempPath("comdebug") + ".ini";
    WriteFile(path,
              "[Option]\r\nTCPPort1=1\r\n\r\n"
              "[comdebug]\r\nbaudrate=9600\r\nFlowCont=1\r\nTagBlockSize=7\r\n"
              "TCPServAddr=1.2.3.4\r\nTCPServPort=0x10\r\nextra=keep\r\n\r\n"
              "[Tail]\r\nx=y\r\n\r\n");
    {
        TReaderLink link(nullptr, 4321, nullptr, path);
        const TComDebugValues& v = link.Values();
        EXPECT_EQ(v.BaudRate, 19200);
        EXPECT_EQ(v.FlowCont, TFlowControl::None);
        EXPECT_EQ(v.TagBlockSize, 4);
        EXPECT_EQ(v.TCPPort, 4321);
        // Left for the query to set; until then what was read.
        EXPECT_EQ(link.TCPServAddr(), "1.2.3.4");
        EXPECT_EQ(link.TCPServPort(), 16);
        link.SetTCPServAddr("127.0.0.9");
        link.SetTCPServPort(4321);
        link.FormDestroy();
    }
    EXPECT_EQ(ReadFile(path),
              "[Option]\r\nTCPPort1=1\r\n\r\n"
              "[comdebug]\r\nBaudRate=19200\r\nFlowCont=0\r\nTagBlockSize=7\r\n"
              "TCPServAddr=127.0.0.9\r\nTCPServPort=4321\r\nextra=keep\r\n"
              "ParityBits=0\r\nByteSize=8\r\nStopBits=0\r\nIDNo=0\r\nfDispRecInfo=0\r\n"
              "fDispTxInfo=0\r\nfWrDebug1=0\r\nfDispCont1=0\r\nTCPPort=4321\r\n\r\n"
              "[Tail]\r\nx=y\r\n\r\n");
    QFile::remove(path);
}

TEST(ReaderComDebug, UnwritableFileIsReportedAndTheSocketClosedAllTheSame) {
    Peer peer("127.0.0.76");
    TLineLog pane;
    TReaderLink link(nullptr, 1, &pane, "/nonexistent-dir/x.ini");
    link.SetTCPServAddr("127.0.0.76");
    link.SetTCPServPort(peer.Port());
    link.OpenLink();
    ASSERT_TRUE(link.Connected());
    EXPECT_THROW(link.FormDestroy(), EFCreateError);
    EXPECT_FALSE(link.Connected());
    EXPECT_EQ(link.ClientSocket1()->State(), TReaderSocket::TState::Unconnected);
    EXPECT_NO_THROW(link.FormDestroy());
    EXPECT_EQ(pane.Lines(), QStringList{"ClientSocket1Connect"});
}

// --- progress dialog -------------------------------------------------------------------------

TEST(ProgressDialog, LayoutAndRunningFlag) {
    TProgressDialog dlg;
    EXPECT_EQ(dlg.windowTitle(), "変換実行中");
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(dlg.Message()->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(dlg.Panel()->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(dlg.Bar()->parentWidget(), dlg.Panel());
    EXPECT_EQ(dlg.Bar()->minimum(), 0);
    EXPECT_EQ(dlg.Bar()->maximum(), 100);
    EXPECT_EQ(dlg.CancelButton()->text(), "&Cancel");
    EXPECT_TRUE(dlg.Running());

    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg.Running());
    dlg.hide();
    dlg.show();
    EXPECT_TRUE(dlg.Running());
    // Escape is Cancel and leaves the window up for its caller to release.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.Running());
    EXPECT_TRUE(dlg.isVisible());
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
}
