// The telnet client against a scripted peer on loopback: negotiation on the wire, the CR rule,
// connect failures, the end of a connection, and releasing the client while its read thread
// is busy. Each test uses its own address 127.0.4.N.
#include "telnet/telnetclient.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <QCoreApplication>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/replytimer.h"
#include "scriptpeer.h"
#include "telnet/telneterrors.h"

namespace {

QByteArray B(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(static_cast<char>(b));
    return out;
}

// A client connected to a scripted peer, recording every hand-over.
struct Link {
    explicit Link(const char* address) : peer(address) {
        client = std::make_unique<TTelnetClient>();
        client->Host = QString::fromLatin1(address);
        client->Port = peer.Port();
        client->OnDataAvailable = [this](TTelnetClient*, const QByteArray& b) {
            chunks.push_back(b);
            data += b;
        };
    }
    bool Open() {
        client->Connect();
        return peer.Accept();
    }
    bool WaitData(const QByteArray& want) {
        return PumpUntil([&] { return data.contains(want); });
    }
    void SendText(const QByteArray& text) {
        for (char c : text)
            client->SendChar(static_cast<unsigned char>(c));
    }

    ScriptPeer peer;
    std::unique_ptr<TTelnetClient> client;
    std::vector<QByteArray> chunks;
    QByteArray data;
};

TEST(TelnetClient, NegotiationOnlyChunkIsHandedOverEmptyAfterTheAnswer) {
    Link l("127.0.4.10");
    ASSERT_TRUE(l.peer.Listening());
    bool answerWasOut = false;
    std::thread::id handlerThread;
    l.client->OnDataAvailable = [&](TTelnetClient*, const QByteArray& b) {
        l.chunks.push_back(b);
        handlerThread = std::this_thread::get_id();
        char buf[3];
        answerWasOut = ::recv(l.peer.ConnectionFd(), buf, 3, MSG_PEEK | MSG_DONTWAIT) == 3;
    };
    ASSERT_TRUE(l.Open());
    l.peer.Send(B({255, 253, 1}));
    ASSERT_TRUE(PumpUntil([&] { return !l.chunks.empty(); }));
    EXPECT_TRUE(l.chunks[0].isEmpty());
    EXPECT_TRUE(answerWasOut);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(l.peer.Read(3), B({255, 251, 1}));
    EXPECT_TRUE(l.client->PeerIsTelnet());
}

TEST(TelnetClient, AnswersAndDataOnTheWire) {
    Link l("127.0.4.11");
    ASSERT_TRUE(l.Open());
    // Doubled IAC, NOP and GA inside the data; repeated and refused requests: a repeated one
    // asks for what is in force already and gets no answer.
    l.peer.Send(QByteArray("A") + B({255, 255}) + "B" + B({255, 241}) + "C" + B({255, 249}) +
                B({255, 253, 1, 255, 253, 1, 255, 251, 3}) + "D");
    ASSERT_TRUE(l.WaitData("D"));
    EXPECT_EQ(l.data, QByteArray("A") + B({255}) + "BCD");
    EXPECT_EQ(l.peer.ReadUntilQuiet(), B({255, 251, 1, 255, 254, 3}));
}

TEST(TelnetClient, CommandSplitAcrossChunksAndTerminalType) {
    Link l("127.0.4.12");
    ASSERT_TRUE(l.Open());
    l.peer.Send(QByteArray("x") + B({255}));
    ASSERT_TRUE(l.WaitData("x"));
    l.peer.Send(B({253, 24}));
    EXPECT_EQ(l.peer.Read(3), B({255, 251, 24}));
    // The sub-negotiation split too: IAC SB 24 | 1 IAC | SE.
    l.peer.Send(B({255, 250, 24}));
    PumpFor(50);
    l.peer.Send(B({1, 255}));
    PumpFor(50);
    l.peer.Send(B({240}) + "y");
    EXPECT_EQ(l.peer.Read(10), B({0xFF, 0xFA, 0x18, 0x00, 0x64, 0x75, 0x6D, 0x62, 0xFF, 0xF0}));
    ASSERT_TRUE(l.WaitData("y"));
    EXPECT_EQ(l.data, QByteArray("xy"));
}

TEST(TelnetClient, CrRuleBeforeAndAfterTheFirstIac) {
    Link l("127.0.4.13");
    ASSERT_TRUE(l.Open());
    l.SendText("save\r\n");
    EXPECT_EQ(l.peer.Read(7), QByteArray("save\r\n\n"));
    l.peer.Send(B({255, 241}));  // any command marks the peer as telnet
    ASSERT_TRUE(PumpUntil([&] { return l.client->PeerIsTelnet(); }));
    l.SendText("save\r\n");
    EXPECT_EQ(l.peer.ReadUntilQuiet(), QByteArray("save\r\n"));
    // A disconnect forgets it: the next connection starts as plain TCP again.
    l.client->Disconnect();
    EXPECT_FALSE(l.client->PeerIsTelnet());
}

TEST(TelnetClient, RefusedPortIsServerNotResponding) {
    TTelnetClient c;
    c.Host = "127.0.4.14";
    c.Port = 9;  // nothing listens there
    int connects = 0, connecteds = 0;
    c.OnConnect = [&] { ++connects; };
    c.OnConnected = [&](TTcpConnection*) { ++connecteds; };
    try {
        c.Connect();
        FAIL() << "connected";
    } catch (const ETelnetConnectError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("server not responding"));
    }
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(connecteds, 0);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_THROW(c.SendChar('x'), EConnClosedGracefully);
}

TEST(TelnetClient, PeerThatNeverAnswersTheConnectFailsAtTheConnectTimeOut) {
    // A listener that never accepts and has a full queue drops further handshakes.
    ScriptPeer full("127.0.4.15", 0, 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(full.Port()));
        a.sin_addr.s_addr = htonl(0x7F00040F);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    PumpFor(100);
    TTelnetClient c;
    c.Host = "127.0.4.15";
    c.Port = full.Port();
    c.ConnectTimeoutMs = 100;
    EXPECT_THROW(c.Connect(), ETelnetConnectError);
    EXPECT_FALSE(c.IsConnected());
    for (int fd : fillers)
        ::close(fd);
}

TEST(TelnetClient, PeerCloseHandsOverTheLastDataThenEnds) {
    Link l("127.0.4.16");
    int disconnected = 0;
    std::thread::id eventThread;
    l.client->OnDisconnected = [&](TTcpConnection*) {
        ++disconnected;
        eventThread = std::this_thread::get_id();
    };
    ASSERT_TRUE(l.Open());
    l.peer.Send("bye\r\n");
    l.peer.CloseConnection();
    ASSERT_TRUE(PumpUntil([&] { return !l.client->ReadThreadError().isEmpty(); }));
    EXPECT_EQ(l.data, QByteArray("bye\r\n"));
    // At most one empty hand-over follows the data.
    ASSERT_GE(l.chunks.size(), 1u);
    EXPECT_LE(l.chunks.size(), 2u);
    EXPECT_EQ(l.chunks[0], QByteArray("bye\r\n"));
    if (l.chunks.size() == 2) {
        EXPECT_TRUE(l.chunks[1].isEmpty());
    }
    EXPECT_EQ(l.client->ReadThreadError(), QStringLiteral("Connection Closed Gracefully."));
    EXPECT_FALSE(l.client->IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(eventThread, std::this_thread::get_id());
    try {
        l.client->SendChar('x');
        FAIL() << "wrote to a closed connection";
    } catch (const EConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Connection Closed Gracefully."));
    }
}

TEST(TelnetClient, ResetConnectionEndsTheThreadAndIsConnectedFalse) {
    Link l("127.0.4.25");
    ASSERT_TRUE(l.Open());
    l.peer.Send("x");
    ASSERT_TRUE(l.WaitData("x"));
    // An abortive close: the client's receive fails with a reset instead of an orderly end.
    const linger hard{1, 0};
    ::setsockopt(l.peer.ConnectionFd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    l.peer.CloseConnection();
    ASSERT_TRUE(PumpUntil([&] { return !l.client->ReadThreadError().isEmpty(); }));
    EXPECT_TRUE(l.client->ReadThreadError().startsWith("Socket Error # 104\r\n"))
        << l.client->ReadThreadError().toStdString();
    EXPECT_FALSE(l.client->IsConnected());
    EXPECT_THROW(l.client->SendChar('x'), EConnClosedGracefully);
}

TEST(TelnetClient, ConnectTwiceDisconnectAndConnectAgain) {
    Link l("127.0.4.17");
    int disconnects = 0;
    l.client->OnDisconnect = [&] { ++disconnects; };
    ASSERT_TRUE(l.Open());
    try {
        l.client->Connect();
        FAIL() << "connected twice";
    } catch (const EAlreadyConnected& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Already connected."));
    }
    EXPECT_TRUE(l.client->IsConnected());
    l.client->Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(l.client->IsConnected());
    EXPECT_TRUE(l.peer.WaitEof());
    l.peer.CloseConnection();
    // A new connection on the same client works as the first did.
    ASSERT_TRUE(l.Open());
    l.peer.Send("again");
    EXPECT_TRUE(l.WaitData("again"));
    l.client->SendChar('k');
    EXPECT_EQ(l.peer.Read(1), QByteArray("k"));
}

TEST(TelnetClient, MissingHandlerEndsTheReadThread) {
    Link l("127.0.4.18");
    l.client->OnDataAvailable = nullptr;
    ASSERT_TRUE(l.Open());
    l.peer.Send("x");
    ASSERT_TRUE(PumpUntil([&] { return !l.client->ReadThreadError().isEmpty(); }));
    EXPECT_EQ(l.client->ReadThreadError(), QStringLiteral("OnDataAvailable event is nil."));
}

TEST(TelnetClient, EndlessSubNegotiationKeepsMemoryBoundedAndRecovers) {
    Link l("127.0.4.19");
    ASSERT_TRUE(l.Open());
    // 8 MB inside one sub-negotiation, then its end and some data.
    l.peer.RunScript([](ScriptPeer& p) {
        p.Send(B({255, 250, 24}));
        const QByteArray junk(64 * 1024, 'j');
        for (int i = 0; i < 128; ++i)
            if (!p.Send(junk))
                return;
        p.Send(B({255, 240}) + "after");
    });
    EXPECT_TRUE(PumpUntil([&] { return l.data.contains("after"); }, 60000));
    l.peer.JoinScript();
    EXPECT_EQ(l.data, QByteArray("after"));
    EXPECT_GE(l.chunks.size(), 2u);  // hand-overs went on (empty) while the junk came
    // No answer: the overlong parameter was not acted on.
    EXPECT_TRUE(l.peer.ReadUntilQuiet(100).isEmpty());
}

TEST(TelnetClient, ReleaseWhileTheReadThreadWaitsInAHandOver) {
    auto l = std::make_unique<Link>("127.0.4.20");
    bool ran = false;
    l->client->OnDataAvailable = [&](TTelnetClient*, const QByteArray&) { ran = true; };
    ASSERT_TRUE(l->Open());
    l->peer.Send("x");
    // The read thread posts the hand-over and blocks; the GUI thread does not serve it, and
    // the release must not wait for it.
    TReplyTimer t;
    t.Start();
    while (l->client->PendingHandOvers() == 0 && !t.Elapsed(5000))
        std::this_thread::yield();
    ASSERT_EQ(l->client->PendingHandOvers(), 1);
    l->client.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(l->peer.WaitEof());
}

TEST(TelnetClient, ReleaseFromInsideTheHandler) {
    ScriptPeer peer("127.0.4.21");
    auto client = std::make_unique<TTelnetClient>();
    client->Host = "127.0.4.21";
    client->Port = peer.Port();
    QByteArray seen;
    client->OnDataAvailable = [&](TTelnetClient*, const QByteArray& b) {
        client.reset();  // the owner releases its link from the link's own hand-over
        seen = b;        // the data stays valid
    };
    client->Connect();
    ASSERT_TRUE(peer.Accept());
    peer.Send("last");
    ASSERT_TRUE(PumpUntil([&] { return !client; }));
    EXPECT_EQ(seen, QByteArray("last"));
    EXPECT_TRUE(peer.WaitEof());
}

TEST(TelnetClient, ReleaseWhileDataStillArrives) {
    for (int round = 0; round < 5; ++round) {
        ScriptPeer peer("127.0.4.22");
        auto client = std::make_unique<TTelnetClient>();
        client->Host = "127.0.4.22";
        client->Port = peer.Port();
        qint64 received = 0;
        client->OnDataAvailable = [&](TTelnetClient*, const QByteArray& b) {
            received += b.size();
        };
        client->Connect();
        ASSERT_TRUE(peer.Accept());
        std::atomic<bool> stop{false};
        peer.RunScript([&](ScriptPeer& p) {
            const QByteArray block = QByteArray(1000, 'd') + B({255, 253, 1, 255, 254, 1});
            while (!stop && p.Send(block)) {
            }
        });
        PumpUntil([&] { return received > 20000 * (round + 1); });
        // Also answer writes from the GUI thread meanwhile.
        for (int i = 0; i < 50; ++i)
            client->SendChar('z');
        client.reset();
        stop = true;
        peer.ShutdownConnection();  // the script's next send fails
        peer.JoinScript();
    }
}

TEST(TelnetClient, DisconnectInsideTheHandlerThenRelease) {
    Link l("127.0.4.23");
    l.client->OnDataAvailable = [&](TTelnetClient* c, const QByteArray& b) {
        l.data += b;
        if (c->IsConnected())
            c->Disconnect();
    };
    ASSERT_TRUE(l.Open());
    l.peer.Send("stop");
    ASSERT_TRUE(l.WaitData("stop"));
    EXPECT_FALSE(l.client->IsConnected());
    EXPECT_TRUE(l.peer.WaitEof());
    l.client.reset();
}

TEST(TelnetClient, ReleaseWhileTheReadThreadIsBlockedSendingAnswers) {
    // A peer that floods option requests and never reads: the answers fill the socket buffers
    // and the read thread's send blocks. Without a send time-out, a release that waited for the
    // send would never end.
    Link l("127.0.4.24");
    const int small = 4096;
    l.client->SendTimeoutMs = 0;
    ASSERT_TRUE(l.Open());
    ::setsockopt(l.peer.ConnectionFd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::atomic<qint64> sent{0};
    l.peer.RunScript([&](ScriptPeer& p) {
        // Each request changes the option, so that each one is answered.
        QByteArray block;
        for (int i = 0; i < 1000; ++i)
            block += B({255, 253, 1, 255, 254, 1});
        while (p.Send(block))
            sent += block.size();
    });
    // Wait until nothing has moved for a second: the read thread no longer receives.
    qint64 last = -1;
    TReplyTimer quiet, total;
    quiet.Start();
    total.Start();
    while (!quiet.Elapsed(1000) && !total.Elapsed(60000)) {
        WaitForEvents(10);
        if (sent != last) {
            last = sent;
            quiet.Start();
        }
    }
    ASSERT_FALSE(total.Elapsed(60000));
    l.client.reset();
    l.peer.ShutdownConnection();
    l.peer.JoinScript();
}

}  // namespace
