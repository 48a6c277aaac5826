// The production record and the reused-address guard, through the main window against substitute
// boards on a pseudo-terminal and over telnet.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/mainwindow.h"
#include "app/recordwindow.h"
#include "board/commandline.h"
#include "board/recordline.h"
#include "board/siteplan.h"
#include "core/inifile.h"
#include "dialogs/dialogs.h"
#include "ledger/ledger.h"
#include "support/ledgerfiles.h"
#include "support/modal.h"
#include "support/printers.h"
#include "support/pump.h"
#include "support/simprocess.h"
#include "support/widgets.h"

namespace {

const QString kGood = QStringLiteral("127.0.8.10");
const QString kBad = QStringLiteral("127.0.8.11");

class ProductionTest : public ::testing::Test {
  protected:
    // Two boards on each link: one answers everything, one refuses "save".
    void SetUp() override {
        const QString addr[2] = {kGood, kBad};
        for (int i = 0; i < 2; ++i) {
            const QStringList refuse = i ? QStringList{"--refuse", "save"} : QStringList{};
            serial[i] = std::make_unique<SimProcess>(
                QStringList{"serial", "--transcript", dir.filePath(QString("serial%1").arg(i))} +
                refuse);
            telnet[i] = std::make_unique<SimProcess>(
                QStringList{"telnet", "--address", addr[i], "--port", "23"} + refuse);
            ASSERT_TRUE(serial[i]->Started() && telnet[i]->Started());
        }
        TIniFile f(ini);
        f.WriteString("ComPorts", "COM4", serial[0]->FirstLine());
        f.WriteString("ComPorts", "COM5", serial[1]->FirstLine());
        f.WriteInteger("Option", "ComPort", 4);
        f.WriteInteger("Option", "fDispRecInfo", 0);
        f.UpdateFile();
        OwnAddress(kGood);
    }
    void TearDown() override { CancelModalWatchers(); }

    void OwnAddress(const QString& a) {
        if (!form) {
            form = std::make_unique<TMainWindow>(ini);
            form->FinishStart();  // as after the first paint
            form->show();
        }
        const QStringList n = a.split('.');
        form->Params().TCPIP1_1 = n[0].toInt();
        form->Params().TCPIP1_2 = n[1].toInt();
        form->Params().TCPIP1_3 = n[2].toInt();
        form->Params().TCPIP1_4 = n[3].toInt();
    }
    // Presses a function key and confirms the command's dialog with its default button; `then`
    // runs first, so that it can wait for what follows the dialog. Returns the text of the
    // question that followed the dialog (answered "はい"), if one did.
    QString Press(Qt::Key key, const std::function<void()>& then = {}) {
        QString question;
        OnNextModal([&question, then](QWidget* w) {
            if (then)
                then();
            OnNextModal([&question](QWidget* q) {
                if (auto* box = qobject_cast<QMessageBox*>(q)) {
                    question = box->text();
                    for (QAbstractButton* b : box->buttons())
                        if (b->text() == QStringLiteral("はい"))
                            b->click();
                }
            });
            for (QPushButton* b : w->findChildren<QPushButton*>())
                if (b->isDefault() && b->isVisible())
                    return QTest::mouseClick(b, Qt::LeftButton);
        });
        // What the status bar's busy sign said while the command was at work.
        QTimer busyWatch;
        QObject::connect(&busyWatch, &QTimer::timeout, [this] {
            const auto* busy = form->findChild<QLabel*>("BusyText");
            if (busy->isVisible())
                busySeen = busy->text();
        });
        busySeen.clear();
        busyWatch.start(1);
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(form.get(), key);
        CancelModalWatchers();
        return question;
    }
    QString busySeen;
    QStringList RecordLines() const { return LedgerRows(ini); }
    // The MAC counter in the settings file, where every command takes it from.
    void Counter(int mac3) {
        TIniFile f(ini);
        f.WriteInteger("Option", "MacAddr_3", mac3);
        f.UpdateFile();
    }

    QTemporaryDir dir;
    QString ini = dir.filePath("netboard-config.ini");
    QString ledger = TLedger::PathBesideIni(ini);
    std::unique_ptr<SimProcess> serial[2], telnet[2];
    std::unique_ptr<TMainWindow> form;
};

TEST_F(ProductionTest, EveryCommandThatReachedABoardLeavesOneLine) {
    struct Row {
        Qt::Key key;
        bool bad;           // the board that refuses "save"
        const char* line;   // command,link,mac,own_ip,result,failed (link: S serial, T telnet)
        bool asks = false;  // the address offered was burned: the operator is asked first
    };
    // The MAC address counts on after each successful write with it; a check-and-set records
    // the address it read back. An address whose "save" went unanswered is burned: the counter
    // passes over it, and no command offers it again.
    static const Row kRows[] = {
        {Qt::Key_F2, false, "write-mac,S,02-5A-C3-00-01-C9,127.0.8.10,OK,"},
        {Qt::Key_F2, true, "write-mac,S,02-5A-C3-00-01-CA,127.0.8.10,NG,save"},
        {Qt::Key_F5, false, "write,S,,127.0.8.10,OK,"},
        {Qt::Key_F5, true, "write,S,,127.0.8.10,NG,save"},
        {Qt::Key_F3, false, "mac-rewrite,S,02-5A-C3-00-01-CB,,OK,"},
        {Qt::Key_F3, true, "mac-rewrite,S,02-5A-C3-00-01-CC,,NG,save"},
        {Qt::Key_F4, false, "telnet-write-mac,T,02-5A-C3-00-01-CD,127.0.8.10,OK,"},
        {Qt::Key_F4, true, "telnet-write-mac,T,02-5A-C3-00-01-CE,127.0.8.11,NG,save"},
        {Qt::Key_F6, false, "telnet-write,T,,127.0.8.10,OK,"},
        {Qt::Key_F6, true, "telnet-write,T,,127.0.8.11,NG,save"},
        {Qt::Key_F7, false, "check-set,S,02-5A-C3-00-01-CB,127.0.8.10,OK,"},
        {Qt::Key_F7, true, "check-set,S,02-5A-C3-00-01-CC,127.0.8.10,NG,save"},
        {Qt::Key_F8, false, "telnet-check-set,T,02-5A-C3-00-01-CD,127.0.8.10,OK,"},
        {Qt::Key_F8, true, "telnet-check-set,T,02-5A-C3-00-01-CE,127.0.8.11,NG,save"},
    };
    int port = 4;
    QStringList expected;
    for (const Row& r : kRows) {
        SCOPED_TRACE(QString(r.line).toStdString());
        const bool isTelnet = QString(r.line).contains(",T,");
        OwnAddress(r.bad && isTelnet ? kBad : kGood);
        if (!isTelnet && port != (r.bad ? 5 : 4)) {
            port = r.bad ? 5 : 4;
            form->Params().ComPort = port;
            form->OpenSerialPort(port);
        }
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const QString question = Press(r.key);
        EXPECT_EQ(question.contains(QStringLiteral("保存の応答がありませんでした")), r.asks)
            << question.toStdString();
        // The status bar named the command while it was at work, and no longer does.
        static const QHash<int, QString> kCaptions = {{Qt::Key_F2, "設定(+MACアドレス)"},
                                                      {Qt::Key_F3, "MACアドレス再設定"},
                                                      {Qt::Key_F4, "設定（telnet +MACアドレス）"},
                                                      {Qt::Key_F5, "設定"},
                                                      {Qt::Key_F6, "設定(telnet)"},
                                                      {Qt::Key_F7, "設定確認＆設定"},
                                                      {Qt::Key_F8, "設定確認＆設定(telnet)"}};
        EXPECT_EQ(busySeen, kCaptions[r.key] + " 実行中");
        EXPECT_FALSE(form->findChild<QLabel*>("BusyText")->isVisible());
        const QStringList lines = RecordLines();
        ASSERT_EQ(lines.size(), expected.size() + 1);
        const QString last = lines.last();
        const QString link = isTelnet
                                 ? (r.bad ? kBad : kGood) + ":23"
                                 : QString("COM%1 %2").arg(port).arg(serial[r.bad]->FirstLine());
        EXPECT_EQ(last.section(',', 1),
                  QString(r.line).replace(isTelnet ? ",T," : ",S,", "," + link + ","));
        const QDateTime t = QDateTime::fromString(last.section(',', 0, 0), Qt::ISODate);
        EXPECT_TRUE(t >= before && t <= QDateTime::currentDateTime()) << last.toStdString();
        expected << last;
    }
    // Cancelled commands reach no board and leave no line.
    bool cancelled = false;
    OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<TSettingsDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(Child<QPushButton>(dialog, "CancelBtn"), Qt::LeftButton);
        cancelled = true;
    });
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(RecordLines().size(), expected.size());

    // The status bar names the next address; the record window shows the rows newest first,
    // finds an address, counts, and exports through its file dialog what `record export` gives.
    EXPECT_EQ(form->findChild<QLabel*>("NextMacAddress")->text(),
              "次のMACアドレス: 02-5A-C3-00-01-CF");
    form->Action("MnRecord")->trigger();
    auto* window = form->findChild<TRecordWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QAbstractItemModel* rows = window->Table()->model();
    EXPECT_EQ(rows->rowCount(), static_cast<int>(std::size(kRows)));
    EXPECT_EQ(rows->index(0, 2).data().toString(), "telnet-check-set");
    EXPECT_EQ(window->Counts()->text(), "記録 14 件　書き込んだボード 3 台　NG 7 件");
    QTest::keyClicks(window->findChild<QLineEdit*>("EdSearch"), "01-cb");
    QTest::keyClick(window->findChild<QLineEdit*>("EdSearch"), Qt::Key_Return);
    EXPECT_EQ(rows->rowCount(), 2);
    // The counts and the export follow the search.
    EXPECT_EQ(window->Counts()->text(), "記録 2 件　書き込んだボード 1 台　NG 0 件");
    const QString exported = dir.filePath("export.csv");
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        // The name typed as an operator would, in the folder chosen: the dialog ignores
        // selectFile() for its name field once that field has the focus, which depends on how
        // soon the dialog was activated; a typed path may open its completer over the buttons.
        d->setDirectory(dir.path());
        auto* name = d->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(name, "export.csv");
        auto* buttons = d->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                QTest::mouseClick(b, Qt::LeftButton);
    });
    QTest::mouseClick(window->findChild<QPushButton*>("BtExport"), Qt::LeftButton);
    QFile f(exported);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The record's columns, then the station (then the values sent, which the CLI tests read).
    QStringList found = RecordLines().filter("02-5A-C3-00-01-CB");
    for (QString& line : found)
        line += "," + QSysInfo::machineHostName();
    QStringList lines = QString::fromLatin1(f.readAll()).split("\r\n");
    EXPECT_EQ(lines.takeFirst(), kRecordExportHeader);
    EXPECT_EQ(lines.takeLast(), "");
    for (QString& line : lines)
        line = line.section(',', 0, 7);
    EXPECT_EQ(lines, found);
    EXPECT_EQ(window->findChild<QLabel*>("LbExported")->text(),
              QStringLiteral("2 件を %1 に書き出しました").arg(exported));
}

// The window and netboard-cli on one station take the counter from the settings file as it is
// when they need it, and never write an older counter over a newer one.
TEST_F(ProductionTest, TheWindowAndNetboardCliShareOneCounter) {
    for (int run = 0; run < 2; ++run) {
        QProcess cli;
        cli.start(NB_CLI_PATH, {"telnet", "--address", kGood, "write", "--mac", "--ini", ini});
        ASSERT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    }
    EXPECT_EQ(Press(Qt::Key_F2), "");  // no question: 00-01-CB was never given
    EXPECT_EQ(RecordLines().value(2).section(',', 3, 3), "02-5A-C3-00-01-CB");
    form->close();
    EXPECT_EQ(LoadSettings(ini).MacAddr_3, 0xCC);
}

TEST_F(ProductionTest, AReusedAddressIsGivenOnlyWhenTheOperatorSaysSo) {
    // A record copied from another PC: it gave 00-01-C9 already; a malformed line is skipped.
    // The ledger's first start reads it in.
    form.reset();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(ledger + suffix);
    {
        TIniFile f(ini);  // a station that never had a ledger
        f.WriteString("Production", "LedgerId", "");
        f.UpdateFile();
    }
    WriteOldRecord(ini, {"garbage,,",
                         "2026-01-02T03:04:05+09:00,write-mac,COM1 /dev/ttyS0,"
                         "02-5A-C3-00-01-C9,10.16.77.170,OK,"});
    OwnAddress(kGood);
    struct Row {
        Qt::Key key;
        int mac3;            // the record's last MAC byte before the command
        const char* answer;  // the answer to the question, or null: no question expected
        bool sent;
    };
    const Row rows[] = {
        {Qt::Key_F2, 0xC9, "いいえ", false}, {Qt::Key_F3, 0xC9, "いいえ", false},
        {Qt::Key_F4, 0xC9, "いいえ", false}, {Qt::Key_F2, 0xC9, "はい", true},
        {Qt::Key_F2, 0x10, nullptr, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mac3);
        Counter(r.mac3);
        const int before = RecordLines().size();
        const qint64 heard = QFileInfo(dir.filePath("serial0")).size();
        QString question;
        bool defaultIsNo = false;
        // The dialog first, then the question.
        OnNextModal([&](QWidget* w) {
            OnNextModal([&](QWidget* q) {
                auto* box = qobject_cast<QMessageBox*>(q);
                ASSERT_NE(box, nullptr);
                question = box->text();
                defaultIsNo = box->defaultButton()->text() == "いいえ";
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QString::fromUtf8(r.answer))
                        QTest::mouseClick(b, Qt::LeftButton);
            });
            // The counter passes over a given address: the operator types it.
            if (auto* d = qobject_cast<TSettingsDialog*>(w))
                Child<TIntegerField>(d, "EdMacAdr3")->SetValue(r.mac3);
            else if (auto* m = qobject_cast<TMacAddressDialog*>(w))
                Child<TIntegerField>(m, "EdMacAdr3")->SetValue(r.mac3);
            for (QPushButton* b : w->findChildren<QPushButton*>())
                if (b->isDefault() && b->isVisible())
                    return QTest::mouseClick(b, Qt::LeftButton);
        });
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(form.get(), r.key);
        CancelModalWatchers();
        if (r.answer) {
            EXPECT_TRUE(question.contains("02-5A-C3-00-01-C9")) << question.toStdString();
            EXPECT_TRUE(question.contains("2026/01/02 03:04:05")) << question.toStdString();
            EXPECT_TRUE(defaultIsNo);
        } else {
            EXPECT_TRUE(question.isEmpty());
        }
        EXPECT_EQ(RecordLines().size(), before + (r.sent ? 1 : 0));
        if (r.key != Qt::Key_F4) {  // the serial board heard nothing unless the answer was yes
            EXPECT_EQ(QFileInfo(dir.filePath("serial0")).size() > heard, r.sent);
        }
    }
}

// ファイル → 出荷検査 checks the board just written over the COM port against the ledger: OK,
// with the banner, and the record window counts the board as checked.
TEST_F(ProductionTest, TheEndOfLineCheckFromTheWindow) {
    EXPECT_EQ(Press(Qt::Key_F2), "");
    form->LogView()->clear();
    OnNextModal([](QWidget* w) {
        auto* ask = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(ask, nullptr);
        for (QAbstractButton* b : ask->buttons())
            if (b->text() == QStringLiteral("COMポート"))
                QTest::mouseClick(b, Qt::LeftButton);
    });
    form->Action("MnShipCheck")->trigger();
    CancelModalWatchers();
    const QStringList log = form->LogPane()->Lines();
    EXPECT_TRUE(log.contains("check: OK")) << log.join('|').toStdString();
    EXPECT_EQ(log.value(log.size() - 1), QString::fromUtf8(kCheckBannerOk));
    TRecordWindow* window = form->ShowRecordWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QLabel*>("LbChecks")->text(),
              "検査済み 1 台　未検査 0 台　NG 0 台");
}

// A site plan in the window: the status bar shows the plan's next row, a scanned serial picks its
// row (an unknown one is refused in the log), F2's dialog opens with the row's values, a value
// the operator changes is the one sent, and the settings file keeps its own values.
TEST_F(ProductionTest, ASitePlanRowPickedByItsScannedSerial) {
    {
        TSitePlan plan;
        QStringList errors;
        ASSERT_TRUE(
            ParsePlan("serial,l_ip,f_pt\nSA,127.0.9.21,5001\nSB,127.0.9.22,5002\n"
                      "SC,127.0.9.23,5003\n",
                      &plan, &errors));
        TLedger(ini, QStringLiteral("A")).ImportPlan(plan, QStringLiteral("site"));
    }
    auto* planText = form->findChild<QLabel*>("PlanStatus");
    auto* scan = form->findChild<QLineEdit*>("EdSerial");
    ASSERT_TRUE(planText && scan);
    ASSERT_TRUE(QTest::qWaitFor([&] { return planText->isVisible(); }, 5000));
    EXPECT_EQ(planText->text(), "計画 1/3: 127.0.9.21");
    for (const char* scanned : {"SX", "SC"}) {
        scan->clear();
        QTest::keyClicks(scan, scanned);
        QTest::keyClick(scan, Qt::Key_Return);
    }
    EXPECT_TRUE(form->LogPane()->Lines().contains(
        "シリアル番号 SX は計画 site にありません。何も送っていません"));
    EXPECT_EQ(planText->text(), "計画 3/3: 127.0.9.23");
    const int ownIp4 = form->Params().TCPIP1_4;
    QString shown;
    OnNextModal([&shown](QWidget* w) {
        // The fields are integer fields or text fields; each holds one line editor.
        const auto editor = [w](const char* name) {
            QWidget* field = w->findChild<QWidget*>(name);
            auto* edit = qobject_cast<QLineEdit*>(field);
            return edit ? edit : field->findChild<QLineEdit*>();
        };
        QLineEdit* port = editor("EdPort2");
        shown = editor("EdTCPIP1_4")->text() + ' ' + port->text();
        port->selectAll();
        QTest::keyClicks(port, "6003");
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->isDefault() && b->isVisible())
                return QTest::mouseClick(b, Qt::LeftButton);
    });
    QApplication::setActiveWindow(form.get());
    // F2 straight from the scan field, where the scanner left the focus.
    QTest::keyClick(scan, Qt::Key_F2);
    CancelModalWatchers();
    EXPECT_EQ(shown, "23 5003");
    QFile heard(dir.filePath("serial0"));
    ASSERT_TRUE(heard.open(QIODevice::ReadOnly));
    const QByteArray lines = heard.readAll();
    EXPECT_TRUE(lines.contains("l_ip=127.0.9.23") && lines.contains("f_pt=6003"));
    EXPECT_EQ(form->Params().TCPIP1_4, ownIp4);
    EXPECT_TRUE(scan->text().isEmpty());
    EXPECT_EQ(planText->text(), "計画 1/3: 127.0.9.21");
    const std::optional<TPlanStatus> status = TLedger(ini, QStringLiteral("A")).Plan();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->used, 1);
}

// With a block of one address, F2 gives it and the next F2 refuses before its dialog; the record
// window shows one station's rows when it is chosen.
TEST_F(ProductionTest, ABlockUsedUpRefusesAndTheRecordWindowFiltersByStation) {
    {
        TLedger other(ini, QStringLiteral("B"));
        other.SetBlock({0x1000, 0x1000});
        other.Record(
            {QDateTime::currentDateTime(), "read", "COM9 /dev/null", "", "", true, "", "B"});
    }
    EXPECT_EQ(Press(Qt::Key_F2), "");
    EXPECT_EQ(RecordLines().last().section(',', 3, 3), "02-5A-C3-00-10-00");
    const qint64 heard = QFileInfo(dir.filePath("serial0")).size();
    QString refusal;
    AcceptNextMessageBox(&refusal);
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_F2);
    CancelModalWatchers();
    EXPECT_TRUE(refusal.contains(
        "MACアドレスの範囲 02-5A-C3-00-10-00～02-5A-C3-00-10-00 をすべて使いました"))
        << refusal.toStdString();
    EXPECT_EQ(QFileInfo(dir.filePath("serial0")).size(), heard);
    EXPECT_EQ(RecordLines().size(), 2);

    TRecordWindow* window = form->ShowRecordWindow();
    ASSERT_NE(window, nullptr);
    auto* station = window->findChild<QComboBox*>("CbStation");
    ASSERT_EQ(station->count(), 3);  // every station, "B", this one
    QTest::keyClick(station, Qt::Key_Down);
    EXPECT_EQ(station->currentText(), "B");
    EXPECT_EQ(window->Table()->model()->rowCount(), 1);
    EXPECT_EQ(window->Table()->model()->index(0, 1).data().toString(), "B");
}

// The export dialog listing the ledger's own folder (every entry's icon and type looked up, as
// its view does) drops none of the window's locks on the ledger: netboard-cli on the station
// then sees the window's rows and refuses the address its F2 gave, and the window's close keeps
// netboard-cli's row. Between commands the window follows netboard-cli within a second.
TEST_F(ProductionTest, TheLedgersFolderListedInADialogKeepsItsLocks) {
    TRecordWindow* window = form->ShowRecordWindow();
    ASSERT_NE(window, nullptr);
    bool listed = false;
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        auto* model = d->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        // The folder is loaded once every entry's details (icon, type) have been looked up.
        const QString folder = QFileInfo(ledger).absolutePath();
        QObject::connect(model, &QFileSystemModel::directoryLoaded,
                         [&](const QString& path) { listed = listed || path == folder; });
        d->setDirectory(folder);
        PumpUntil([&] { return listed; }, 10000);
        d->reject();
    });
    QTest::mouseClick(window->findChild<QPushButton*>("BtExport"), Qt::LeftButton);
    EXPECT_TRUE(listed);
    const auto cli = [this](const QStringList& args) {
        QProcess p;
        p.start(NB_CLI_PATH, args + QStringList{"--ini", ini});
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardError()) +
                                                QString::fromUtf8(p.readAllStandardOutput()));
    };
    EXPECT_EQ(cli({"telnet", "--address", kGood, "write", "--mac"}).first, 0);
    const auto* next = form->findChild<QLabel*>("NextMacAddress");
    EXPECT_TRUE(PumpUntil([&] { return next->text().endsWith("02-5A-C3-00-01-CA"); }, 5000))
        << next->text().toStdString();
    EXPECT_EQ(Press(Qt::Key_F2), "");
    const auto refused =
        cli({"serial", "--device", serial[1]->FirstLine(), "mac-rewrite", "--mac", "00-01-CA"});
    EXPECT_EQ(refused.first, 1) << refused.second.toStdString();
    EXPECT_TRUE(refused.second.contains("02-5A-C3-00-01-CA was given"))
        << refused.second.toStdString();
    form->close();
    form.reset();
    const QString exported = cli({"record", "export"}).second;
    EXPECT_TRUE(exported.contains("telnet-write-mac,127.0.8.10:23,02-5A-C3-00-01-C9"))
        << exported.toStdString();
    EXPECT_TRUE(exported.contains(",write-mac,COM4 ")) << exported.toStdString();
}

TEST(ProductionRecord, LinesRoundTripAndOddFieldsStayAscii) {
    const QDateTime t = QDateTime::fromString("2026-12-07T10:11:12+09:00", Qt::ISODate);
    const TRecordLine in{t,      "write",  "COM4 /dev/ttyUSB0,\"x\" é", "", "127.0.0.1", false,
                         "mask", QString()};
    const QString text = FormatRecordLine(in);
    EXPECT_EQ(text,
              "2026-12-07T10:11:12+09:00,write,\"COM4 /dev/ttyUSB0,\"\"x\"\" ?\",,"
              "127.0.0.1,NG,mask");
    TRecordLine out;
    QString time;
    ASSERT_TRUE(ParseRecordLine(text, &out, &time));
    EXPECT_EQ(out.link, "COM4 /dev/ttyUSB0,\"x\" ?");
    EXPECT_EQ(time, "2026-12-07T10:11:12+09:00");
    // A field a spreadsheet would run as a formula is written as text.
    EXPECT_EQ(FormatRecordLine({t, "write", "@SUM(A1)", "", "-1+1", false, "=1+1", QString()}),
              "2026-12-07T10:11:12+09:00,write,'@SUM(A1),,'-1+1,NG,'=1+1");
    for (const char* bad :
         {"", "a,b,c", "2026-12-07T10:11:12,write,l,02-5A,ip,OK,", "not a time,write,l,,ip,OK,",
          "2026-12-07T10:11:12,w,l,,ip,MAYBE,", "\"unclosed,write,l,,ip,OK,"})
        EXPECT_FALSE(ParseRecordLine(bad, &out, &time)) << bad;
    // The ledger's export by the same rules, the station's and the values sent included; a value
    // that is not UTF-8 (a file edited outside the program) as SQLite reads it, U+FFFD for the
    // broken sequence.
    QTemporaryDir dir;
    const QString ini = dir.filePath("odd.ini");
    TLedger(ini, QStringLiteral("検査台")).Record(in);
    TRecordLine odd{t, "w\x01", "x\U0001F600", "", "", true, "", ""};
    odd.sent = {{"mask", "+24"}, {"madr", "=\"1\""}};
    TLedger(ini, QStringLiteral("s")).Record(odd);
    TLedger(ini, QStringLiteral("s")).Record({t, "read", "", "", "", true, "", QString()});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "odd");
        db.setDatabaseName(TLedger::PathBesideIni(ini));
        ASSERT_TRUE(db.open());
        EXPECT_TRUE(
            QSqlQuery(db).exec("UPDATE commands SET link = CAST(x'2CEDA08041' AS TEXT) "
                               "WHERE command = 'read'"));
    }
    QSqlDatabase::removeDatabase("odd");
    QByteArray exported;
    TLedger(ini, QStringLiteral("s")).Export({}, [&](const QByteArray& lines) {
        exported += lines;
    });
    EXPECT_EQ(
        exported.split('\n').mid(1),
        QByteArrayList({"2026-12-07T10:11:12+09:00,write,\"COM4 /dev/ttyUSB0,\"\"x\"\" ?\",,"
                        "127.0.0.1,NG,mask,???,,,,,,,,,,,\r",
                        "2026-12-07T10:11:12+09:00,w?,x??,,,OK,,s,,,,,'+24,,,,,,\"'=\"\"1\"\"\"\r",
                        "2026-12-07T10:11:12+09:00,read,\",?A\",,,OK,,s,,,,,,,,,,,\r", ""}));
}

}  // namespace
