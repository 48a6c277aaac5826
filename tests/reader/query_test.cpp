// The ROM version query end to end: the main window's menu item against netboard-sim as the
// reader, each case on its own loopback address.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/mainwindow.h"
#include "dialogs/progressdialog.h"
#include "ledger/ledger.h"
#include "support/simprocess.h"

namespace {

// Answers every message box that appears while it lives, keeping the texts.
class BoxWatcher {
  public:
    BoxWatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts << box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
        });
        timer_.start(10);
    }
    QStringList texts;

  private:
    QTimer timer_;
};

// Presses Cancel on the progress dialog once it has been up for `afterMs`.
class CancelPresser {
  public:
    explicit CancelPresser(int afterMs) {
        QObject::connect(&timer_, &QTimer::timeout, [this, afterMs] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dlg = qobject_cast<TProgressDialog*>(w);
                if (!dlg || !dlg->isVisible())
                    continue;
                seenCaption = dlg->windowTitle();
                seenText = dlg->Message()->text();
                panelHidden = !dlg->Panel()->isVisible();
                if ((shownFor += 10) >= afterMs) {
                    QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
                    timer_.stop();
                }
            }
        });
        timer_.start(10);
    }
    QString seenCaption;
    QString seenText;
    bool panelHidden = false;

  private:
    QTimer timer_;
    int shownFor = 0;
};

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One query: an INI file with other sections around, a main window on it, a reader.
class RomQuery : public ::testing::Test {
  protected:
    void Start(const QString& addr, QStringList simArgs) {
        addr_ = addr;
        transcript_ = TempPath("reader-transcript");
        sim_ = std::make_unique<SimProcess>(
            QStringList{"reader", "--address", addr, "--port", "0", "--transcript", transcript_} +
            simArgs);
        ASSERT_TRUE(sim_->Started());
        port_ = sim_->FirstLine().section(':', 1).toInt();
        ASSERT_GT(port_, 0);

        iniPath_ = TempPath("reader-query") + ".ini";
        const QStringList ip = addr.split('.');
        before_ = QStringLiteral(
                      "[Option]\r\nComPort=3\r\nTCPIP1_1=%1\r\nTCPIP1_2=%2\r\nTCPIP1_3=%3\r\n"
                      "TCPIP1_4=%4\r\nTCPPort1=%5\r\n\r\n[Other]\r\nkeep=this\r\n\r\n")
                      .arg(ip[0], ip[1], ip[2], ip[3])
                      .arg(port_)
                      .toUtf8();
        QFile f(iniPath_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before_);
        f.close();
        win_ = std::make_unique<TMainWindow>(iniPath_);
        win_->FinishStart();  // as after the first paint
        before_ = ReadFile(iniPath_);       // with the identities the start wrote into it
        // Never anywhere but the loopback reader, whatever the file held.
        win_->Params().TCPIP1_1 = ip[0].toInt();
        win_->Params().TCPIP1_2 = ip[1].toInt();
        win_->Params().TCPIP1_3 = ip[2].toInt();
        win_->Params().TCPIP1_4 = ip[3].toInt();
        win_->Params().TCPPort1 = port_;
        ASSERT_EQ(win_->Params().OwnIpText(), addr);
    }

    void Run() { win_->Action("ROM1")->trigger(); }

    QStringList Log() const { return win_->LogPane()->Lines(); }
    QStringList Received() const {
        const QString text = QString::fromLatin1(ReadFile(transcript_));
        return text.split('\n', Qt::SkipEmptyParts);
    }

    // The file as it was, with the link's section appended.
    void ExpectIniAfterQuery() const {
        const QByteArray expected =
            before_ +
            QStringLiteral(
                "[ComDebug]\r\nBaudRate=19200\r\nParityBits=0\r\nByteSize=8\r\nStopBits=0\r\n"
                "FlowCont=0\r\nIDNo=0\r\nfDispRecInfo=0\r\nfDispTxInfo=0\r\nfWrDebug1=0\r\n"
                "fDispCont1=0\r\nTCPPort=%1\r\nTCPServPort=%1\r\nTCPServAddr=%2\r\n\r\n")
                .arg(port_)
                .arg(addr_)
                .toUtf8();
        EXPECT_EQ(ReadFile(iniPath_), expected);
    }

    void TearDown() override {
        win_.reset();
        QFile::remove(iniPath_);
        QFile::remove(transcript_);
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(TLedger::PathBesideIni(iniPath_) + suffix);
    }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TMainWindow> win_;
    QString addr_, transcript_, iniPath_;
    QByteArray before_;
    int port_ = 0;
};

const QString kRequest = "02 00 4F 02 90 00 03 E6 0D";

}  // namespace

TEST_F(RomQuery, VersionIsShownInTheMessageBox) {
    Start("127.0.0.81", {"--version", "V2.34"});
    BoxWatcher boxes;
    Run();
    EXPECT_EQ(boxes.texts, QStringList{"ROMバージョン: V2.34"});
    EXPECT_EQ(Log(), (QStringList{"ClientSocket1Connect", "13", "Firmware Version", "V2.34"}));
    EXPECT_EQ(Received(), QStringList{kRequest});
    EXPECT_EQ(win_->statusBar()->currentMessage(), "TCP/IP 接続中...");
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TProgressDialog*>(w)) << "progress dialog not released";
    ExpectIniAfterQuery();
}

TEST_F(RomQuery, StrayBytesAndAFrameSplitOverSeveralWrites) {
    Start("127.0.0.82", {"--stray", "0D0A", "--split", "4", "--split-delay", "40"});
    BoxWatcher boxes;
    Run();
    EXPECT_EQ(boxes.texts, QStringList{"ROMバージョン: V1.00"});
    const QStringList log = Log();
    EXPECT_GE(log.size(), 6);  // several read events before the frame is whole
    EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"Firmware Version", "V1.00"}));
    ExpectIniAfterQuery();
}

TEST_F(RomQuery, NackGivesItsReasonAndNoBox) {
    Start("127.0.0.83", {"--nack", "5", "--tag-error", "0x10"});
    BoxWatcher boxes;
    Run();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(Log(), (QStringList{"ClientSocket1Connect", "9",
                                  QString::fromUtf8("The specified block is not available "
                                                    "(doesn\xE2\x80\x99t exist)."),
                                  "NACK 受信"}));
    ExpectIniAfterQuery();
}

TEST_F(RomQuery, SilenceTimesOut) {
    Start("127.0.0.84", {"--silent"});
    BoxWatcher boxes;
    Run();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(Log(), (QStringList{"ClientSocket1Connect", "レスポンス待ち　タイムオーバー"}));
    EXPECT_EQ(Received(), QStringList{kRequest});
    ExpectIniAfterQuery();
}

TEST_F(RomQuery, ReaderClosingOnTheRequestTimesOut) {
    Start("127.0.0.86", {"--drop-on-request"});
    BoxWatcher boxes;
    Run();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(Log(), (QStringList{"ClientSocket1Connect", "ClientSocket1Disconnect",
                                  "レスポンス待ち　タイムオーバー"}));
    ExpectIniAfterQuery();
}

// A close of the main window during the connection wait acts as Cancel; the window closes once
// the query has ended, and the status bar said so meanwhile.
TEST_F(RomQuery, ACloseDuringTheWaitCancelsIt) {
    Start("127.0.0.88", {"--refuse"});
    win_->show();
    QString busy;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<TProgressDialog*>(w) && w->isVisible()) {
                closer.stop();
                win_->close();
                const auto* label = win_->findChild<QLabel*>("BusyText");
                QApplication::processEvents();  // the status bar lays the longer text out
                // Read whole, not cut off at the window's edge.
                if (label->width() >= label->sizeHint().width())
                    busy = label->text();
            }
        }
    });
    closer.start(10);
    Run();
    EXPECT_EQ(busy, "ROMバージョン 実行中（終了後にプログラムを閉じます）");
    EXPECT_FALSE(win_->isVisible());
    EXPECT_TRUE(Received().isEmpty());
}

TEST_F(RomQuery, RefusedConnectionRetriesUntilCancelAndSendsNothing) {
    Start("127.0.0.87", {"--refuse"});
    BoxWatcher boxes;
    CancelPresser cancel(300);
    Run();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(cancel.seenCaption, "しばらくお待ちください");
    EXPECT_EQ(cancel.seenText, "TCP/IP 接続中...");
    EXPECT_TRUE(cancel.panelHidden);
    // The connect wait ran out, then the progress dialog waited until Cancel.
    const QStringList log = Log();
    EXPECT_EQ(log.count("コネクト待ち　タイムオーバー"), 1);
    EXPECT_GE(log.count("ClientSocket1Error"), 1);
    EXPECT_EQ(log.count("ClientSocket1Error"), log.size() - 1);
    EXPECT_TRUE(Received().isEmpty());
    ExpectIniAfterQuery();
}
