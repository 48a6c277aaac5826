// The serial configuration commands end to end: the function key pressed on the main window, the
// dialog answered as an operator would, netboard-sim as the board. Each row checks what the
// board received, the log, the record and the settings file on disk before any close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "app/mainwindow.h"
#include "board/commandline.h"
#include "board/recordline.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "dialogs/dialogs.h"
#include "dialogs/numberfields.h"
#include "support/ledgerfiles.h"
#include "support/modal.h"
#include "support/printers.h"
#include "support/pump.h"
#include "support/simprocess.h"
#include "support/widgets.h"

namespace {

using Answer = std::function<void(QWidget*)>;

const QString kTimeout = QStringLiteral("レスポンス待ち　タイムオーバー");
const QString kOkBanner = QStringLiteral("------------- 設定　OK! -----------------");
const QString kNgBanner = QStringLiteral("///////////// 設定　NG! /////////////////");
const QString kMacOk = QStringLiteral("MACアドレス　OK!!");
// The outcome lines of the ten settings (set or queried), in their order.
const QStringList kOkLines = {
    "IPアドレス　OK!!", "Port値　OK!!",   "IPアドレス(接続先)　OK!!",   "Port値(接続先)　OK!!",
    "マスク長　OK!!",   "自動接続　OK!!", "通信スピード(RS232C)　OK!!", "送信タイミング　OK!!",
    "Keep　OK!!",       "timr　OK!!"};
const QStringList kQueries = {"madr", "l_ip", "l_pt", "f_ip", "f_pt", "mask",
                              "conn", "bps",  "timv", "keep", "timr"};

// The record's settings in one line: the MAC bytes in hexadecimal, the own and the destination
// address and port, then mask, auto-connect, speed index, send timing, keep-alive and timer.
QString Describe(const TBoardParams& p) {
    return QString::asprintf("%02X-%02X-%02X %d.%d.%d.%d:%d %d.%d.%d.%d:%d %d %d %d %d %d %d",
                             p.MacAddr_1, p.MacAddr_2, p.MacAddr_3, p.TCPIP1_1, p.TCPIP1_2,
                             p.TCPIP1_3, p.TCPIP1_4, p.TCPPort1, p.TCPIP2_1, p.TCPIP2_2, p.TCPIP2_3,
                             p.TCPIP2_4, p.TCPPort2, p.TCPmask, p.fAutoConnect, p.SpeedIndex,
                             p.TxTiming, p.fKeepAlive, p.ChkTiming);
}

// The lines of a transcript, the wake line as "".
QStringList Received(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(f.readAll()).split('\n');
    lines.removeLast();  // after the last line's end
    return lines;
}

// The production record's lines as "command mac own-ip result failed".
QStringList Produced(const QString& ini) {
    QStringList out;
    for (const QString& text : LedgerRows(ini)) {
        TRecordLine l;
        QString time;
        out << (ParseRecordLine(text, &l, &time)
                    ? QStringList{l.command, l.mac, l.ownIp, l.ok ? "OK" : "NG", l.failed}.join(' ')
                    : "malformed: " + text);
    }
    return out;
}

// A line of Produced(): `failed` empty for OK.
QString Made(const QString& command, const QString& mac, const QString& ownIp,
             const QString& failed = {}) {
    return QStringList{command, mac, ownIp, failed.isEmpty() ? "OK" : "NG", failed}.join(' ');
}

// Until CancelModalWatchers(): runs `answer` on the first dialog that comes up, and closes
// every message box with its default button, keeping its text.
void AnswerModals(Answer answer, QStringList* boxes) {
    auto* timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("modal-watcher"));
    auto pending = std::make_shared<Answer>(std::move(answer));
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes->append(box->text());
            QAbstractButton* b = box->defaultButton();
            QTest::mouseClick(b ? b : box->buttons().first(), Qt::LeftButton);
        } else if (*pending) {
            const Answer a = std::exchange(*pending, nullptr);
            a(w);
        }
    });
    timer->start(10);
}

QPushButton* OkButton(QWidget* w) {
    return Child<QPushButton>(w, "OKBtn");
}

QPushButton* CancelButton(QWidget* w) {
    return Child<QPushButton>(w, "CancelBtn");
}

// Dialog actions: edit the fields (none by default), then press "設定" or cancel.
Answer Confirm(std::function<void(QWidget*)> edit = {}) {
    return [edit](QWidget* w) {
        if (edit)
            edit(w);
        QTest::mouseClick(OkButton(w), Qt::LeftButton);
    };
}
const Answer kCancel = [](QWidget* w) { QTest::mouseClick(CancelButton(w), Qt::LeftButton); };
const Answer kNeverShown = [](QWidget* w) {
    ADD_FAILURE() << "a dialog was shown";
    CancelButton(w)->click();
};
// The settings file becomes a folder, so that every save fails (the port is open by now).
void BreakSettingsFile(QWidget* dialog) {
    const QString ini = qobject_cast<TMainWindow*>(dialog->parentWidget())->IniPath();
    QFile::remove(ini);
    QDir().mkpath(ini + "/in-the-way");
}
Answer EnterMac(int b1, int b2, int b3, bool breakSettings = false) {
    return Confirm([=](QWidget* w) {
        if (breakSettings)
            BreakSettingsFile(w);
        auto* d = qobject_cast<TMacAddressDialog*>(w);
        Child<TIntegerField>(d, "EdMacAdr1")->SetValue(b1);
        Child<TIntegerField>(d, "EdMacAdr2")->SetValue(b2);
        Child<TIntegerField>(d, "EdMacAdr3")->SetValue(b3);
    });
}

struct Row {
    const char* name;
    Qt::Key key;
    QStringList sim;           // the board's switches
    std::array<int, 3> mac;    // the record's MAC bytes before the command
    Answer answer;             // what the operator does in the command's dialog
    QStringList received;      // by the board, in order
    QStringList log;           // in order
    QString record;            // afterwards (Describe)
    QString savedMac;          // in the settings file on disk before any close
    QStringList produced;      // the production record's lines (Produced)
    QStringList boxes = {};    // message boxes, in order ("%INI" for the settings file's path)
    bool givenBefore = false;  // the starting MAC address was given at 2026-01-02 03:04:05
};

class ProceduresE2eTest : public ::testing::Test {
  protected:
    // Runs the row's command in a window of its own whose record has `ownIp` as its address.
    void Check(const Row& r, const QString& ownIp) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString ini = dir.filePath("netboard-config.ini");
        const QString transcript = dir.filePath("received.txt");
        SimProcess sim(QStringList{"serial", "--transcript", transcript} + r.sim);
        ASSERT_TRUE(sim.Started());
        {
            TIniFile f(ini);
            f.WriteString("ComPorts", "COM3", sim.FirstLine());
            f.UpdateFile();
        }
        if (r.givenBefore) {
            const QString mac =
                QString::asprintf("02-5A-C3-%02X-%02X-%02X", r.mac[0], r.mac[1], r.mac[2]);
            WriteOldRecord(
                ini,
                {QStringLiteral("2026-01-02T03:04:05,write-mac,COM3,%1,%2,OK,").arg(mac, ownIp)});
        }
        TMainWindow form(ini);
        form.FinishStart();  // as after the first paint
        form.show();
        form.LogView()->clear();  // the ledger's start (the old record read in) is not the row's
        TBoardParams& p = form.Params();
        p.ComPort = 3;
        const QStringList ip = ownIp.split('.');
        p.TCPIP1_1 = ip[0].toInt();
        p.TCPIP1_2 = ip[1].toInt();
        p.TCPIP1_3 = ip[2].toInt();
        p.TCPIP1_4 = ip[3].toInt();
        p.MacAddr_1 = r.mac[0];
        p.MacAddr_2 = r.mac[1];
        p.MacAddr_3 = r.mac[2];
        {
            // The counter as the settings file holds it: every command takes it from there.
            TIniFile f(ini);
            f.WriteInteger("Option", "MacAddr_1", r.mac[0]);
            f.WriteInteger("Option", "MacAddr_2", r.mac[1]);
            f.WriteInteger("Option", "MacAddr_3", r.mac[2]);
            f.UpdateFile();
        }

        QStringList boxes;
        AnswerModals(r.answer, &boxes);
        QApplication::setActiveWindow(&form);
        QTest::keyClick(&form, r.key);
        CancelModalWatchers();
        // "exit" is not awaited: give the board a moment to take it.
        PumpUntil([&] { return Received(transcript) == r.received; }, 1000);

        EXPECT_EQ(Received(transcript), r.received);
        // An error box ends the command; the log says so with the same words. ("NULL" and the
        // questions are no error.)
        QStringList log = r.log;
        QStringList boxesShown = r.boxes;
        for (const QString& box : boxesShown.replaceInStrings("%INI", ini)) {
            if (!box.endsWith(QStringLiteral("か？")) && box != QLatin1String("NULL"))
                log << QStringLiteral("中止しました: ") + box.simplified();
        }
        EXPECT_EQ(form.LogPane()->Lines(), log);
        EXPECT_EQ(Describe(p), r.record);
        EXPECT_EQ(Describe(LoadSettings(ini)).left(8), r.savedMac);
        EXPECT_EQ(Produced(ini), r.produced);
        EXPECT_EQ(boxes, QStringList(r.boxes).replaceInStrings("%INI", ini));
    }
    void TearDown() override { CancelModalWatchers(); }
};

// The check-and-set's log line for a reply that is not its value's whole form.
QString Warning(const QString& label, const QString& reply) {
    return QStringLiteral(
               "警告: %1の応答 '%2' は正しい形ではありません。設定する前に確かめてください")
        .arg(label, reply);
}

// The lines of a full write of the default settings with `ownIp`, from "l_ip=" to "timr=".
QStringList DefaultWrite(const QString& ownIp) {
    return {"l_ip=" + ownIp, "l_pt=10777", "f_ip=10.16.77.171", "f_pt=3335", "mask=16",
            "conn=1",        "bps=16",     "timv=10",           "keep=1",    "timr=1"};
}

}  // namespace

// clang-format off
TEST_F(ProceduresE2eTest, WriteWithAndWithoutMacAddress) {
    const QString own = "127.0.8.1";
    const QString rest = " 127.0.8.1:10777 10.16.77.171:3335 16 1 1 10 1 1";
    const QStringList lines = DefaultWrite(own);
    auto sent = [&](const QString& mac) {
        const QStringList madr =
            mac.isEmpty() ? QStringList{} : QStringList{"madr=02-5A-C3-" + mac};
        return QStringList{""} + madr + lines + QStringList{"save", "exit"};
    };
    auto logged = [&](const QString& mac, bool withMac = true) {
        return (withMac ? QStringList{kMacOk} : QStringList{}) + kOkLines +
               QStringList{"SAVE　OK!!", "madr=02-5A-C3-" + mac, kOkBanner};
    };
    const Answer edit = Confirm([](QWidget* w) {
        auto* d = qobject_cast<TSettingsDialog*>(w);
        Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(2);
        Child<QRadioButton>(d, "RGKeepOff")->setChecked(true);
        Child<TIntegerField>(d, "EdPort1")->SetValue(2001);
    });
    const Answer emptyDestIp = Confirm([](QWidget* w) {
        auto* d = qobject_cast<TSettingsDialog*>(w);
        Child<TIntegerField>(d, "EdPort1")->SetValue(2001);
        Child<TNumberTextField>(d, "EdTCPIP2_2")->clear();
    });
    auto withMac = [&](const QString& mac, const QString& failed = {}) {
        return Made("write-mac", "02-5A-C3-" + mac, own, failed);
    };
    const std::array<int, 3> mac = {0, 1, 201};
    const QStringList all = sent("00-01-C9");
    const Row rows[] = {
        {"with MAC", Qt::Key_F2, {}, mac, Confirm(), all, logged("00-01-C9"),
         "00-01-CA" + rest, "00-01-CA", {withMac("00-01-C9")}},
        {"without MAC", Qt::Key_F5, {}, mac, Confirm(), sent(""), logged("00-01-C9", false),
         "00-01-C9" + rest, "00-01-C9", {Made("write", "", own)}},
        {"from 00-01-FF", Qt::Key_F2, {}, {0, 1, 255}, Confirm(), sent("00-01-FF"),
         logged("00-01-FF"), "00-02-00" + rest, "00-02-00", {withMac("00-01-FF")}},
        {"from FF-FF-FF", Qt::Key_F2, {}, {255, 255, 255}, Confirm(), sent("FF-FF-FF"),
         logged("FF-FF-FF"), "00-00-00" + rest, "00-00-00", {withMac("FF-FF-FF")}},
        {"cancel", Qt::Key_F2, {}, mac, kCancel, {}, {}, "00-01-C9" + rest, "00-01-C9", {}},
        // The counter passes over an address given before; typed into the dialog, it goes
        // again only when the operator says so (default: no).
        {"given before", Qt::Key_F2, {}, mac, Confirm([](QWidget* w) {
             Child<TIntegerField>(w, "EdMacAdr3")->SetValue(0xC9);
         }),
         {},
         {"MACアドレス 02-5A-C3-00-01-C9 は書き込み済みのため飛ばします"
          "（2026-01-02T03:04:05、write-mac）",
          "MACアドレス 02-5A-C3-00-01-C9 は書き込み済みのため、何も送らずに中止しました"},
         "00-01-CA" + rest, "00-01-C9", {withMac("00-01-C9")},
         {"MACアドレス 02-5A-C3-00-01-C9 は 2026/01/02 03:04:05 に書き込み済みです（write-mac）。\n"
          "同じアドレスをもう一度書き込みますか？"}, true},
        {"edited values", Qt::Key_F5, {}, mac, edit,
         QStringList{"", "l_ip=" + own, "l_pt=2001"} + lines.mid(2, 4) +
             QStringList{"bps=17", "timv=10", "keep=0", "timr=1", "save", "exit"},
         logged("00-01-C9", false), "00-01-C9 127.0.8.1:2001 10.16.77.171:3335 16 1 2 10 0 1",
         "00-01-C9", {Made("write", "", own)}},
        // A confirm that fails at a field that is not a number stores nothing; nothing is sent.
        {"field not a number", Qt::Key_F5, {}, mac, emptyDestIp, {}, {},
         "00-01-C9" + rest, "00-01-C9", {},
         {"TCP/IP（接続先）（2）: '' は整数ではありません"}},
        {"mask refused", Qt::Key_F2, {"--refuse", "mask"}, mac, Confirm(), all.mid(0, 7),
         QStringList{kMacOk} + kOkLines.mid(0, 4) + QStringList{"マスク長　NG!!", kNgBanner},
         "00-01-C9" + rest, "00-01-C9", {withMac("00-01-C9", "mask")}},
        {"save refused", Qt::Key_F2, {"--refuse", "save"}, mac, Confirm(), all.mid(0, 13),
         QStringList{kMacOk} + kOkLines + QStringList{"SAVE　NG!!", kNgBanner},
         "00-01-C9" + rest, "00-01-C9", {withMac("00-01-C9", "save")}},
        // Two waits run out: the prompt's and the "madr=" line's.
        {"silent board", Qt::Key_F2, {"--silent"}, mac, Confirm(), all.mid(0, 2),
         {kTimeout, kTimeout, "MACアドレス　NG!!", kNgBanner}, "00-01-C9" + rest, "00-01-C9",
         {withMac("00-01-C9", "madr")}},
    };
    for (const Row& r : rows)
        Check(r, own);
}

TEST_F(ProceduresE2eTest, MacAddressRewrite) {
    const QString own = "127.0.8.2";
    const QString rest = " 127.0.8.2:10777 10.16.77.171:3335 16 1 1 10 1 1";
    const QStringList sent = {"", "qelmoT4", "madr=02-5A-C3-0A-0B-0C", "save", "exit"};
    const std::array<int, 3> mac = {0, 1, 201};
    const Answer enter = EnterMac(10, 11, 12);
    const QString kCannotSave =
        "設定ファイル %INI を読めないため、MACアドレスを保存できません: フォルダです (Is a directory)";
    auto made = [](const QString& bytes, const QString& failed = {}) {
        return QStringList{Made("mac-rewrite", "02-5A-C3-" + bytes, "", failed)};
    };
    const Row rows[] = {
        {"rewrite", Qt::Key_F3, {}, mac, enter, sent,
         {"qelmoT4　OK!!", kMacOk, "SAVE　OK!!", kOkBanner, "madr=02-5A-C3-0A-0B-0C"},
         "0A-0B-0D" + rest, "0A-0B-0D", made("0A-0B-0C")},
        // A refused mode line does not stop the rewrite.
        {"mode line refused, from FF-FF-FF", Qt::Key_F3, {"--refuse", "qelmoT4"}, mac,
         EnterMac(255, 255, 255), {"", "qelmoT4", "madr=02-5A-C3-FF-FF-FF", "save", "exit"},
         {"qelmoT4　NG!!", kMacOk, "SAVE　OK!!", kOkBanner, "madr=02-5A-C3-FF-FF-FF"},
         "00-00-00" + rest, "00-00-00", made("FF-FF-FF")},
        // The entered bytes stay, in the record and on disk, whatever the board says.
        {"madr refused", Qt::Key_F3, {"--refuse", "madr"}, mac, enter, sent.mid(0, 3),
         {"qelmoT4　OK!!", "MACアドレス　NG!!", kNgBanner}, "0A-0B-0C" + rest, "0A-0B-0C",
         made("0A-0B-0C", "madr")},
        {"save refused", Qt::Key_F3, {"--refuse", "save"}, mac, enter, sent.mid(0, 4),
         {"qelmoT4　OK!!", kMacOk, "SAVE　NG!!", kNgBanner}, "0A-0B-0C" + rest, "0A-0B-0C",
         made("0A-0B-0C", "save")},
        {"cancel", Qt::Key_F3, {}, mac, kCancel, {}, {}, "00-01-C9" + rest, "00-01-C9", {}},
        // The entered address cannot become the counter: nothing is sent.
        {"settings file not writable", Qt::Key_F3, {}, mac, EnterMac(10, 11, 12, true), {}, {},
         "00-01-C9" + rest, "00-01-C9", {}, {kCannotSave}},
    };
    for (const Row& r : rows)
        Check(r, own);
}

TEST_F(ProceduresE2eTest, CheckAndSet) {
    const QString own = "127.0.8.3";
    const QString rest = " 127.0.8.3:10777 10.16.77.171:3335 16 1 1 10 1 1";
    // The board's own address is the record's; every other setting is at its default.
    const QStringList board = {"--set", "l_ip=127.0.8.3"};
    const QStringList differ = {
        "--set", "madr=02-5A-C3-12-34-56", "--set", "l_ip=127.0.8.4", "--set", "l_pt=2001",
        "--set", "f_ip=127.0.8.5", "--set", "f_pt=2002", "--set", "mask=24", "--set", "conn=0",
        "--set", "bps=17", "--set", "timv=20", "--set", "keep=0", "--set", "timr=5"};
    const QStringList read = QStringList{""} + kQueries;
    const QStringList readLog = QStringList{kMacOk} + kOkLines;
    auto written = [](const QString& mac) {
        return kOkLines + QStringList{"SAVE　OK!!", "madr=02-5A-C3-" + mac, kOkBanner};
    };
    const QStringList writeDefaults =
        QStringList{""} + DefaultWrite(own) + QStringList{"save", "exit"};
    const std::array<int, 3> mac = {0, 1, 201};
    const Row rows[] = {
        // Everything the board holds goes back to it; the record takes the board's values.
        {"every field differs", Qt::Key_F7, differ, mac, Confirm(),
         read + QStringList{"", "l_ip=127.0.8.4", "l_pt=2001", "f_ip=127.0.8.5", "f_pt=2002",
                            "mask=24", "conn=0", "bps=17", "timv=20", "keep=0", "timr=5", "save",
                            "exit"},
         readLog + written("12-34-56"), "12-34-56 127.0.8.4:2001 127.0.8.5:2002 24 0 2 20 0 5",
         "12-34-56", {Made("check-set", "02-5A-C3-12-34-56", "127.0.8.4")}},
        {"cancel", Qt::Key_F7, board, mac, kCancel, read, readLog, "00-01-C9" + rest, "00-01-C9",
         {}},
        // The "NULL" box, then six zeros, which are no board's address: the counter stays.
        {"madr 0", Qt::Key_F7, board + QStringList{"--set", "madr=0"}, mac, Confirm(),
         read + writeDefaults, readLog + written("00-01-C9"), "00-01-C9" + rest, "00-01-C9",
         {Made("check-set", "00-00-00-00-00-00", own)}, {"NULL"}},
        // The empty destination address stops the copy: nothing is stored, nothing written.
        {"stopped at l_pt", Qt::Key_F7, board + QStringList{"--mute", "l_pt"}, mac, Confirm(),
         read.mid(0, 4), {kMacOk, kOkLines[0], kTimeout, "Port値　NG!!"}, "00-01-C9" + rest,
         "00-01-C9", {}, {"TCP/IP（接続先）（1）: '' は整数ではありません"}},
        // The speed and keep-alive no reply filled are written as "no selection"; the log says
        // that the speed line asks for 9600 bit/s.
        {"stopped at bps", Qt::Key_F7, board + QStringList{"--mute", "bps"}, mac, Confirm(),
         read.mid(0, 9) + QStringList{""} + DefaultWrite(own).mid(0, 6) +
             QStringList{"bps=15", "timv=0", "keep=-1", "timr=0", "save", "exit"},
         readLog.mid(0, 7) + QStringList{kTimeout, "通信スピード(RS232C)　NG!!"} +
             kOkLines.mid(0, 6) + QStringList{kSpeedOutsideListLine} +
             written("00-01-C9").mid(6),
         "00-01-C9 127.0.8.3:10777 10.16.77.171:3335 16 1 -1 0 -1 0", "00-01-C9",
         {Made("check-set", "02-5A-C3-00-01-C9", own)}},
        // A reply that is not a number ends the command before the dialog; the log names it.
        {"garbage reply", Qt::Key_F7, board + QStringList{"--set", "l_pt=#?garbage"}, mac,
         kNeverShown, read.mid(0, 4), {kMacOk, kOkLines[0], Warning("Port値", "#?garbage")},
         "00-01-C9" + rest, "00-01-C9", {}, {"'#?garbage' は整数ではありません"}},
        // A MAC address that is not whole fills the dialog as its parsers read it, with a
        // warning; it is no board's address: the counter stays and the row names none.
        {"madr not whole", Qt::Key_F7, board + QStringList{"--set", "madr=02-5A-C3-00-0G-C9"},
         mac, Confirm(), read + writeDefaults,
         QStringList{Warning("MACアドレス", "02-5A-C3-00-0G-C9")} + readLog +
             written("00-01-C9"),
         "00-01-C9" + rest, "00-01-C9", {Made("check-set", "", own)}},
    };
    for (const Row& r : rows)
        Check(r, own);
}
// clang-format on
