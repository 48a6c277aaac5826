// The main window's telnet commands against netboard-sim: the test command "Telnet" (IP1), the
// writes F4 (with the MAC address) and F6, and the check-and-set F8 / toolbar button.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <memory>
#include <thread>

#include "app/mainwindow.h"
#include "app/telnetwindow.h"
#include "core/inifile.h"
#include "dialogs/dialogs.h"
#include "dialogs/numberfields.h"
#include "support/modal.h"
#include "support/printers.h"
#include "support/pump.h"
#include "support/simprocess.h"
#include "support/widgets.h"
#include "telnet/telnetsession.h"

namespace {

void PointAt(TMainWindow* w, int n) {
    w->Params().TCPIP1_1 = 127;
    w->Params().TCPIP1_2 = 0;
    w->Params().TCPIP1_3 = 4;
    w->Params().TCPIP1_4 = n;
}

TEST(TelnetTestCommand, ShowsTheLoggedInSessionModallyAndReleasesIt) {
    SimProcess sim({"telnet", "--address", "127.0.4.119", "--port", "23"});
    ASSERT_TRUE(sim.Started());
    TMainWindow w(TempPath("telnet-command") + ".ini");
    PointAt(&w, 119);
    bool shownConnected = false;
    OnNextModal([&](QWidget* m) {
        auto* d = qobject_cast<TTelnetWindow*>(m);
        shownConnected = d && d->Session()->Connected() && d->isVisible();
        m->findChild<QPushButton*>("OKBtn")->click();
    });
    w.Action("IP1")->trigger();
    EXPECT_TRUE(shownConnected);
    EXPECT_FALSE(w.CommandRunning());
    const QStringList lines = w.LogPane()->Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Connect"));
    EXPECT_EQ(lines[1], QStringLiteral("Connected"));
    EXPECT_TRUE(lines.contains(QStringLiteral("TX:4B 58 57 0D 0A ")));
    EXPECT_TRUE(w.findChildren<TTelnetSession*>().isEmpty());
}

TEST(TelnetTestCommand, ConnectFailureShowsServerNotResponding) {
    TMainWindow w(TempPath("telnet-command") + ".ini");
    PointAt(&w, 120);  // nothing listens there
    QString text;
    AcceptNextMessageBox(&text);
    w.Action("IP1")->trigger();
    EXPECT_EQ(text, QStringLiteral("server not responding"));
    EXPECT_FALSE(w.CommandRunning());
    EXPECT_TRUE(w.findChildren<TTelnetSession*>().isEmpty());
}

// What a test that crashes or is killed leaves behind: a board whose SimProcess is never
// destroyed. It must end with the thread that started it, not hold its address for later runs.
TEST(SimProcessTest, ABoardEndsWithTheThreadThatStartedIt) {
    alignas(SimProcess) static unsigned char store[sizeof(SimProcess)];
    pid_t pid = -1;
    std::thread([&] {
        pid =
            (new (store) SimProcess({"telnet", "--address", "127.0.8.69", "--port", "23"}))->Pid();
    }).join();
    ASSERT_GT(pid, 0);
    int status = 0;
    const bool ended = PumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 3000);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// The configuration commands, end to end: boards at 127.0.8.N, port 23.

const QString kTimeout = QStringLiteral("レスポンス待ち　タイムオーバー");
const QString kOkBanner = QStringLiteral("------------- 設定　OK! -----------------");
const QString kNgBanner = QStringLiteral("///////////// 設定　NG! /////////////////");
const QString kMacOk = QStringLiteral("MACアドレス　OK!!");
const QString kSaveOk = QStringLiteral("SAVE　OK!!");
const QString kServerNotResponding = QStringLiteral("server not responding");
const QStringList kNothingListens = {"(nothing listens at the address)"};
const QStringList kSession = {"Connect", "Connected"};
// The outcome lines of the ten settings, in the order they are sent and queried.
const QStringList kSettingsOk = {
    "IPアドレス　OK!!", "Port値　OK!!",   "IPアドレス(接続先)　OK!!",   "Port値(接続先)　OK!!",
    "マスク長　OK!!",   "自動接続　OK!!", "通信スピード(RS232C)　OK!!", "送信タイミング　OK!!",
    "Keep　OK!!",       "timr　OK!!"};
const QStringList kQueries = {"",     "madr", "l_ip", "l_pt", "f_ip", "f_pt",
                              "mask", "conn", "bps",  "timv", "keep", "timr"};

QString Address(int n) {
    return QStringLiteral("127.0.8.%1").arg(n);
}

// What the log says of a connect that nothing answers at 127.0.8.n.
QStringList Refused(int n) {
    return {"Connect",
            Address(n) + ":23 に接続できません: 接続を拒否されました (Connection refused)"};
}

// What a write sends: the wake line, with a MAC address its line, the ten setting lines (the
// settings file's defaults but for the values given) and "save".
QStringList WriteLines(const QString& ownIp, const QString& mac = {}, int port = 10777,
                       int mask = 16, int destPort = 3335) {
    QStringList l{""};
    if (!mac.isEmpty())
        l << "madr=" + mac;
    l << "l_ip=" + ownIp << QStringLiteral("l_pt=%1").arg(port) << "f_ip=10.16.77.171"
      << QStringLiteral("f_pt=%1").arg(destPort) << QStringLiteral("mask=%1").arg(mask) << "conn=1"
      << "bps=16"
      << "timv=10"
      << "keep=1"
      << "timr=1"
      << "save";
    return l;
}

// The session's log line for sending `line` and CR LF: "TX:" and each byte in hexadecimal.
QString Tx(const QString& line) {
    QString s = QStringLiteral("TX:");
    for (char c : (line.toLatin1() + "\r\n"))
        s += QStringLiteral("%1 ").arg(static_cast<unsigned char>(c), 2, 16, QChar('0')).toUpper();
    return s;
}

// The record's members that the commands change, as one text.
QString RecordText(const TBoardParams& p) {
    return QStringLiteral("%1:%2 mask %3 mac %4-%5")
        .arg(p.OwnIpText())
        .arg(p.TCPPort1)
        .arg(p.TCPmask)
        .arg(QStringLiteral("%1").arg(p.MacAddr_2, 2, 16, QChar('0')).toUpper())
        .arg(QStringLiteral("%1").arg(p.MacAddr_3, 2, 16, QChar('0')).toUpper());
}

class TelnetCommandTest : public ::testing::Test {
  protected:
    // A board listening at 127.0.8.n, port 23; it appends what it receives to Raw(n).
    std::unique_ptr<SimProcess> Board(int n, const QStringList& switches) {
        auto sim = std::make_unique<SimProcess>(
            QStringList{"telnet", "--address", Address(n), "--port", "23", "--raw", RawPath(n)} +
            switches);
        EXPECT_TRUE(sim->Started()) << n;
        return sim;
    }
    QString RawPath(int n) const { return dir.filePath(QStringLiteral("raw-%1").arg(n)); }
    QByteArray Raw(int n) const {
        QFile f(RawPath(n));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The main window with a folder of its own (settings file, production record), the board's
    // address in its settings.
    void MakeWindow(int n, int logging) {
        const QString folder = QStringLiteral("window-%1").arg(n);
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
        ini = dir.filePath(folder + "/netboard-config.ini");
        TIniFile f(ini);
        const int own[] = {127, 0, 8, n};
        for (int i = 0; i < 4; ++i)
            f.WriteInteger("Option", QStringLiteral("TCPIP1_%1").arg(i + 1), own[i]);
        f.WriteInteger("Option", "fDispRecInfo", logging);
        f.UpdateFile();
        form = std::make_unique<TMainWindow>(ini);
        form->FinishStart();  // as after the first paint
        ASSERT_EQ(form->Params().OwnIpText(), Address(n));
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void Press(Qt::Key key) {
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(form.get(), key);
    }
    // Answers the next board parameter dialog with "設定" or "キャンセル", calling `seen` on it
    // first.
    void Answer(bool confirm, std::function<void(TSettingsDialog*)> seen = {}) {
        OnNextModal([=](QWidget* w) {
            auto* d = qobject_cast<TSettingsDialog*>(w);
            if (!d) {
                ADD_FAILURE() << "not the board parameter dialog";
                w->close();
                return;
            }
            if (seen)
                seen(d);
            QTest::mouseClick(
                confirm ? Child<QPushButton>(d, "OKBtn") : Child<QPushButton>(d, "CancelBtn"),
                Qt::LeftButton);
        });
    }
    // Everything is released and nothing waits when a command has ended.
    void ExpectEnded() {
        EXPECT_FALSE(form->CommandRunning());
        EXPECT_TRUE(form->findChildren<TTelnetSession*>().isEmpty());
        EXPECT_TRUE(form->findChildren<TSettingsDialog*>().isEmpty());
        CancelModalWatchers();
    }
    static QByteArray Wire(const QStringList& lines, const QByteArray& terminator) {
        QByteArray b;
        for (const QString& l : lines)
            b += l.toLatin1() + terminator;
        return b;
    }
    void TearDown() override { CancelModalWatchers(); }

    QTemporaryDir dir;
    QString ini;
    std::unique_ptr<TMainWindow> form;
};

}  // namespace

TEST_F(TelnetCommandTest, WritesWithAndWithoutTheMacAddress) {
    const QString c9 = "02-5A-C3-00-01-C9";
    // The log of a write that every line answered, after the session's own lines.
    const auto okLog = [&](bool mac, const QString& macLine) {
        return kSession + (mac ? QStringList{kMacOk} : QStringList{}) + kSettingsOk +
               QStringList{kSaveOk, kOkBanner, "madr=" + macLine};
    };
    const auto logged = [&](int n) {  // F6 with fDispRecInfo 1: the sent bytes in the log
        QStringList l = kSession + QStringList{Tx("KXW"), Tx("")};
        const QStringList sent = WriteLines(Address(n)).mid(1);
        for (int i = 0; i < sent.size(); ++i)
            l << Tx(sent[i]) << (i < kSettingsOk.size() ? kSettingsOk[i] : kSaveOk);
        return l + QStringList{kOkBanner, "madr=" + c9};
    };
    struct Row {
        const char* name;
        int n;  // the board's address 127.0.8.n
        Qt::Key key;
        QStringList sim;  // its switches
        int logging;      // fDispRecInfo
        bool confirm;     // the dialog's answer
        QStringList sent;
        QStringList log;  // lines starting "RX" left out
        QString record;   // in the record and in the settings file afterwards
    } rows[] = {
        {"F6 answered",
         20,
         Qt::Key_F6,
         {},
         0,
         true,
         WriteLines(Address(20)),
         okLog(false, c9),
         "127.0.8.20:10777 mask 16 mac 01-C9"},
        {"F6 answered by a board without telnet commands",
         21,
         Qt::Key_F6,
         {"--no-iac"},
         0,
         true,
         WriteLines(Address(21)),
         okLog(false, c9),
         "127.0.8.21:10777 mask 16 mac 01-C9"},
        {"F6 answered, session logging on",
         22,
         Qt::Key_F6,
         {},
         1,
         true,
         WriteLines(Address(22)),
         logged(22),
         "127.0.8.22:10777 mask 16 mac 01-C9"},
        // The counter is counted on and saved to the settings file at once.
        {"F4 answered",
         23,
         Qt::Key_F4,
         {},
         0,
         true,
         WriteLines(Address(23), c9),
         okLog(true, "02-5A-C3-00-01-CA"),
         "127.0.8.23:10777 mask 16 mac 01-CA"},
        {"F6 wake line without a prompt",
         24,
         Qt::Key_F6,
         {"--no-prompt"},
         0,
         true,
         {""},
         kSession + QStringList{kTimeout, kNgBanner},
         "127.0.8.24:10777 mask 16 mac 01-C9"},
        {"F4 wake line without a prompt goes on",
         25,
         Qt::Key_F4,
         {"--no-prompt"},
         0,
         true,
         WriteLines(Address(25), c9),
         kSession + QStringList{kTimeout, kMacOk} + kSettingsOk +
             QStringList{kSaveOk, kOkBanner, "madr=02-5A-C3-00-01-CA"},
         "127.0.8.25:10777 mask 16 mac 01-CA"},
        {"F6 cancelled",
         26,
         Qt::Key_F6,
         {},
         0,
         false,
         {},
         kSession,
         "127.0.8.26:10777 mask 16 mac 01-C9"},
        {"F4 cancelled",
         27,
         Qt::Key_F4,
         {},
         0,
         false,
         {},
         kSession,
         "127.0.8.27:10777 mask 16 mac 01-C9"},
        {"F6 mask refused",
         28,
         Qt::Key_F6,
         {"--refuse", "mask"},
         0,
         true,
         WriteLines(Address(28)).mid(0, 6),
         kSession + kSettingsOk.mid(0, 4) + QStringList{"マスク長　NG!!", kNgBanner},
         "127.0.8.28:10777 mask 16 mac 01-C9"},
        {"F4 MAC address refused",
         29,
         Qt::Key_F4,
         {"--refuse", "madr"},
         0,
         true,
         WriteLines(Address(29), c9).mid(0, 2),
         kSession + QStringList{"MACアドレス　NG!!", kNgBanner},
         "127.0.8.29:10777 mask 16 mac 01-C9"},
        // The board hangs up after answering the fourth line; the fifth runs out.
        {"F6 board hangs up mid-write",
         30,
         Qt::Key_F6,
         {"--hangup-after", "4"},
         0,
         true,
         WriteLines(Address(30)).mid(0, 4),
         kSession + kSettingsOk.mid(0, 3) +
             QStringList{kTimeout, "Port値(接続先)　NG!!", kNgBanner},
         "127.0.8.30:10777 mask 16 mac 01-C9"},
        {"F4 connect refused",
         31,
         Qt::Key_F4,
         kNothingListens,
         0,
         true,
         {},
         Refused(31),
         "127.0.8.31:10777 mask 16 mac 01-C9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool listens = row.sim != kNothingListens;
        std::unique_ptr<SimProcess> sim;
        if (listens)
            sim = Board(row.n, row.sim);
        ASSERT_NO_FATAL_FAILURE(MakeWindow(row.n, row.logging));
        bool sessionOpen = false;
        QString box;
        if (listens) {
            // The board is connected and logged in while the operator edits the values.
            Answer(row.confirm, [&](TSettingsDialog*) {
                const auto s = form->findChildren<TTelnetSession*>();
                sessionOpen = s.size() == 1 && s[0]->Connected();
            });
        } else {
            AcceptNextMessageBox(&box);
        }
        Press(row.key);
        EXPECT_EQ(sessionOpen, listens);
        EXPECT_EQ(box, listens ? QString() : kServerNotResponding);
        // A board that speaks no telnet gets "\r\n" as CR LF LF (the CR goes as CR LF).
        const QByteArray wire = Wire(row.sent, row.sim.contains("--no-iac") ? "\r\n\n" : "\r\n");
        PumpUntil([&] { return Raw(row.n) == wire; }, 1000);
        EXPECT_EQ(Raw(row.n), wire);
        QStringList log = form->LogPane()->Lines();
        const QStringList rx = log.filter(QRegularExpression("^RX"));
        EXPECT_EQ(rx.isEmpty(), row.logging == 0);
        if (row.logging)  // what follows an "RX:" is the board's text, line breaks included
            log = log.filter(QRegularExpression("^(Connect|TX:|madr=|.*　(OK|NG)|---|///)"));
        EXPECT_EQ(log, row.log);
        EXPECT_EQ(RecordText(form->Params()), row.record);
        EXPECT_EQ(RecordText(LoadSettings(ini)), row.record);
        ExpectEnded();
        form.reset();
    }
}

TEST_F(TelnetCommandTest, CheckAndSet) {
    const QStringList readOk = kSession + QStringList{kMacOk} + kSettingsOk;
    struct Row {
        const char* name;
        int n;            // the board's address 127.0.8.n
        QStringList sim;  // its switches
        int second;       // a second board at 127.0.8.second (0: none)
        bool toolbar;     // the toolbar button instead of F8
        bool confirm;     // the dialog's answer
        Qt::Key next;     // a write command run afterwards and confirmed (0: none)
        QString shown;    // the dialog's own address and mask fields (empty: no dialog)
        QStringList sent;
        QStringList sentSecond;  // what the second board receives
        QStringList log;
        QString record;
        QString box;  // the error box that ends the command
    } rows[] = {
        // The values shown are the board's, and they are what is written.
        {"answered and confirmed",
         40,
         {"--set", "l_pt=10888", "--set", "mask=24", "--set", "f_pt=4000", "--set",
          "madr=02-5A-C3-00-02-10"},
         0,
         false,
         true,
         Qt::Key(0),
         "127.0.8.40 mask 24",
         kQueries + WriteLines(Address(40), {}, 10888, 24, 4000),
         {},
         readOk + kSession + kSettingsOk + QStringList{kSaveOk, kOkBanner},
         "127.0.8.40:10888 mask 24 mac 02-10",
         {}},
        // The own port read back is stored at once, even though the operator cancels.
        {"toolbar button, cancelled",
         41,
         {"--set", "l_pt=10888", "--set", "mask=24"},
         0,
         true,
         false,
         Qt::Key(0),
         "127.0.8.41 mask 24",
         kQueries,
         {},
         readOk,
         "127.0.8.41:10888 mask 16 mac 01-C9",
         {}},
        {"MAC address reply not starting with 0",
         42,
         {"--set", "madr=A2-5A-C3-00-01-C9"},
         0,
         false,
         false,
         Qt::Key(0),
         "... mask 0",
         kQueries.mid(0, 2),
         {},
         kSession + QStringList{kTimeout, "MACアドレス　NG!!"},
         "127.0.8.42:10777 mask 16 mac 01-C9",
         {}},
        // The own address read back is stored at once; the next command connects there.
        {"board at another address, cancelled",
         43,
         {"--set", "l_ip=127.0.8.63"},
         63,
         false,
         false,
         Qt::Key_F6,
         "127.0.8.63 mask 16",
         kQueries,
         WriteLines(Address(63)),
         readOk + kSession + kSettingsOk +
             QStringList{kSaveOk, kOkBanner, "madr=02-5A-C3-00-01-C9"},
         "127.0.8.63:10777 mask 16 mac 01-C9",
         {}},
        {"board at another address, confirmed",
         44,
         {"--set", "l_ip=127.0.8.64"},
         64,
         false,
         true,
         Qt::Key(0),
         "127.0.8.64 mask 16",
         kQueries,
         WriteLines(Address(64)),
         readOk + kSession + kSettingsOk + QStringList{kSaveOk, kOkBanner},
         "127.0.8.64:10777 mask 16 mac 01-C9",
         {}},
        // The second session is closed at once: nothing is sent, the values shown stay out of
        // the record.
        {"second session not connected",
         45,
         {"--drop-connection", "2", "--set", "mask=24"},
         0,
         false,
         true,
         Qt::Key(0),
         "127.0.8.45 mask 24",
         kQueries,
         {},
         readOk + kSession + QStringList{kTimeout, "接続が切断されました", kNgBanner},
         "127.0.8.45:10777 mask 16 mac 01-C9",
         {}},
        {"connect refused",
         46,
         kNothingListens,
         0,
         false,
         true,
         Qt::Key(0),
         {},
         {},
         {},
         Refused(46),
         "127.0.8.46:10777 mask 16 mac 01-C9",
         kServerNotResponding},
        // The own address and port read before the reply that is not a number stay stored; the
        // log names the reply.
        {"reply not a number",
         47,
         {"--set", "l_ip=127.0.8.67", "--set", "l_pt=10999", "--set", "f_pt=x1"},
         0,
         false,
         true,
         Qt::Key(0),
         {},
         kQueries.mid(0, 6),
         {},
         kSession + QStringList{kMacOk} + kSettingsOk.mid(0, 3) +
             QStringList{"警告: Port値(接続先)の応答 'x1' は正しい形ではありません。"
                         "設定する前に確かめてください"},
         "127.0.8.67:10999 mask 16 mac 01-C9",
         "'x1' は整数ではありません"},
        // Nothing listens at the address read back: the values shown are not stored.
        {"second connect refused",
         48,
         {"--set", "l_ip=127.0.8.68", "--set", "mask=24"},
         0,
         false,
         true,
         Qt::Key(0),
         "127.0.8.68 mask 24",
         kQueries,
         {},
         readOk + Refused(68),
         "127.0.8.68:10777 mask 16 mac 01-C9",
         kServerNotResponding},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<SimProcess> sim, second;
        if (row.sim != kNothingListens)
            sim = Board(row.n, row.sim);
        if (row.second)
            second = Board(row.second, {});
        ASSERT_NO_FATAL_FAILURE(MakeWindow(row.n, 0));
        QString shown, box;
        bool sessionOpen = false, macEnabled = false;
        if (!row.shown.isEmpty()) {
            // No session is open while the operator looks at the values; the MAC fields are
            // shown but cannot be changed.
            Answer(row.confirm, [&](TSettingsDialog* d) {
                sessionOpen = !form->findChildren<TTelnetSession*>().isEmpty();
                for (TIntegerField* e :
                     {Child<TIntegerField>(d, "EdMacAdr01"), Child<TIntegerField>(d, "EdMacAdr02"),
                      Child<TIntegerField>(d, "EdMacAdr03"), Child<TIntegerField>(d, "EdMacAdr1"),
                      Child<TIntegerField>(d, "EdMacAdr2"), Child<TIntegerField>(d, "EdMacAdr3")})
                    macEnabled |= e->isEnabled();
                shown = QStringList{Child<TNumberTextField>(d, "EdTCPIP1_1")->text(),
                                    Child<TNumberTextField>(d, "EdTCPIP1_2")->text(),
                                    Child<TNumberTextField>(d, "EdTCPIP1_3")->text(),
                                    Child<TNumberTextField>(d, "EdTCPIP1_4")->text()}
                            .join('.') +
                        QStringLiteral(" mask %1").arg(Child<TIntegerField>(d, "Edmask")->Value());
                if (!row.box.isEmpty())
                    AcceptNextMessageBox(&box);
            });
        } else {
            AcceptNextMessageBox(&box);
        }
        if (row.toolbar) {
            QTest::mouseClick(form->ToolButton("BtTelnetSet1"), Qt::LeftButton);
        } else {
            Press(Qt::Key_F8);
        }
        EXPECT_EQ(box, row.box);
        EXPECT_EQ(shown, row.shown);
        EXPECT_FALSE(sessionOpen);
        EXPECT_FALSE(macEnabled);
        ExpectEnded();
        if (row.next) {
            Answer(true);
            Press(row.next);
            ExpectEnded();
        }
        const QByteArray wire = Wire(row.sent, "\r\n");
        const QByteArray wireSecond = Wire(row.sentSecond, "\r\n");
        PumpUntil([&] { return Raw(row.n) == wire && Raw(row.second) == wireSecond; }, 1000);
        EXPECT_EQ(Raw(row.n), wire);
        if (row.second) {
            EXPECT_EQ(Raw(row.second), wireSecond);
        }
        // An error box ends the command; the log says so with its words, but for a connection
        // that failed, whose line says where and why.
        QStringList log = row.log;
        if (!row.box.isEmpty() && row.box != kServerNotResponding)
            log << QStringLiteral("中止しました: ") + row.box;
        EXPECT_EQ(form->LogPane()->Lines(), log);
        EXPECT_EQ(RecordText(form->Params()), row.record);
        form.reset();
    }
}
