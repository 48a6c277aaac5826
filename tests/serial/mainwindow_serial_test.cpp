// The main window's serial side against netboard-sim: the session's life, the COM port command
// and the two serial test commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "app/mainwindow.h"
#include "core/inifile.h"
#include "dialogs/dialogs.h"
#include "ptypair.h"
#include "serial/serialport.h"
#include "serial/serialsession.h"
#include "support/modal.h"
#include "support/simprocess.h"
#include "support/widgets.h"

namespace {

const QString kOk = QStringLiteral("コマンドＯＫ！！");
const QString kNg = QStringLiteral("コマンドＮＧ！！");
const QString kTimeout = QStringLiteral("レスポンス待ち　タイムオーバー");

class MainWindowSerialTest : public ::testing::Test {
  protected:
    // A board on port `port` of the window's own INI file.
    std::unique_ptr<SimProcess> Board(int port, QStringList switches = {}) {
        auto sim = std::make_unique<SimProcess>(QStringList{"serial"} + switches);
        if (sim->Started())
            Map(port, sim->FirstLine());
        return sim;
    }
    void Map(int port, const QString& device) {
        TIniFile f(ini);
        f.WriteString("ComPorts", QStringLiteral("COM%1").arg(port), device);
        f.UpdateFile();
    }
    void MakeWindow(int comPort) {
        form = std::make_unique<TMainWindow>(ini);
        form->FinishStart();  // as after the first paint
        form->Params().ComPort = comPort;
    }
    QStringList Log() const { return form->LogPane()->Lines(); }
    void TearDown() override { CancelModalWatchers(); }

    QTemporaryDir dir;
    QString ini = dir.filePath("netboard-config.ini");
    QString transcript = dir.filePath("transcript.txt");
    std::unique_ptr<TMainWindow> form;
};

QStringList Transcript(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

TEST_F(MainWindowSerialTest, TheSessionIsCreatedOnFirstUseOpenedAtComPortAndReleasedAtClose) {
    auto sim = Board(4, {"--transcript", transcript});
    ASSERT_TRUE(sim->Started());
    MakeWindow(4);
    EXPECT_TRUE(form->findChildren<TSerialSession*>().isEmpty());
    EXPECT_TRUE(form->RunCommand([&] { form->TestIpAddressLine(); }));
    EXPECT_EQ(Log(), QStringList{kOk});
    EXPECT_EQ(Transcript(transcript), QStringList{"l_ip=10.16.77.170"});

    const auto sessions = form->findChildren<TSerialSession*>();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(form->SerialSession(), sessions[0]);
    EXPECT_EQ(sessions[0]->Port()->PortNo(), 4);
    EXPECT_TRUE(sessions[0]->Port()->IsOpen());

    form->close();
    EXPECT_TRUE(form->findChildren<TSerialSession*>().isEmpty());
    // The port is free again.
    TSerialPort other;
    other.SetIniPath(ini);
    other.SetPortNo(4);
    EXPECT_NO_THROW(other.PortOpen());
}

TEST_F(MainWindowSerialTest, TheTestCommandsAgainstABoard) {
    auto sim = Board(4, {"--query-crlf"});
    ASSERT_TRUE(sim->Started());
    MakeWindow(4);
    form->Action("N2")->trigger();
    EXPECT_EQ(Log(), (QStringList{kOk, "02-5A-C3-00-01-C9"}));
    form->Action("MnSetIP1")->trigger();
    EXPECT_EQ(Log(), (QStringList{kOk, "02-5A-C3-00-01-C9", kOk}));
}

TEST_F(MainWindowSerialTest, ASilentBoardGivesTheTimeOutLineThenNg) {
    auto sim = Board(4, {"--silent"});
    ASSERT_TRUE(sim->Started());
    MakeWindow(4);
    form->Action("N2")->trigger();
    EXPECT_EQ(Log(), (QStringList{kTimeout, kNg}));
}

TEST_F(MainWindowSerialTest, APortThatDoesNotOpenEndsTheCommandAndTheNextOneTriesAgain) {
    Map(4, dir.filePath("no-such-tty"));
    MakeWindow(4);
    QString text, title;
    AcceptNextMessageBox(&text, &title);
    form->Action("MnSetIP1")->trigger();
    EXPECT_EQ(text, QStringLiteral("COM4がオープン出来ません!!\n\n"
                                   "  ポートを及びパラメータ設定を再確認してください。"));
    EXPECT_EQ(title, QStringLiteral("ネットワークボード設定プログラム"));
    // Nothing sent, nothing awaited; the log names the device and the cause.
    const QStringList failed = {
        QStringLiteral("COM4 %1: ポートをオープンできませんでした (open: "
                       "ファイルまたはフォルダがありません (No such file or directory))")
            .arg(dir.filePath("no-such-tty"))};
    EXPECT_EQ(Log(), failed);
    EXPECT_FALSE(form->SerialSession()->Port()->IsOpen());
    // The adapter is plugged in: the next command opens the port without the COM port command.
    auto sim = Board(4);
    ASSERT_TRUE(sim->Started());
    form->Action("MnSetIP1")->trigger();
    EXPECT_EQ(Log(), failed + QStringList{kOk});
}

TEST_F(MainWindowSerialTest, TheComPortCommandReopensAtTheEnteredNumber) {
    auto first = Board(4, {"--transcript", transcript});
    const QString other = dir.filePath("other.txt");
    auto second = Board(6, {"--transcript", other});
    ASSERT_TRUE(first->Started() && second->Started());
    MakeWindow(4);
    form->Action("MnSetIP1")->trigger();
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<TNumberDialog*>(w);
        ASSERT_NE(d, nullptr);
        Child<TIntegerField>(d, "IntEd")->SetValue(6);
        Child<QPushButton>(d, "OKBtn")->click();
    });
    EXPECT_TRUE(form->RunCommand([&] { form->ChooseComPort(); }));
    EXPECT_EQ(form->Params().ComPort, 6);
    EXPECT_EQ(form->SerialSession()->Port()->PortNo(), 6);
    form->Action("MnSetIP1")->trigger();
    EXPECT_EQ(Log(), (QStringList{kOk, kOk}));
    EXPECT_EQ(Transcript(transcript).size(), 1);
    EXPECT_EQ(Transcript(other).size(), 1);
    // Without a session the command creates it, opening only the entered port.
    form.reset();
    MakeWindow(4);
    form->OpenSerialPort(6);
    EXPECT_EQ(form->findChildren<TSerialSession*>().size(), 1);
    EXPECT_EQ(form->SerialSession()->Port()->PortNo(), 6);
}

TEST_F(MainWindowSerialTest, AfterTheDeviceVanishedTheNextCommandOpensThePortAgain) {
    auto sim = Board(4, {"--hangup-after", "1"});
    ASSERT_TRUE(sim->Started());
    MakeWindow(4);
    form->Action("MnSetIP1")->trigger();
    const QString lost = QStringLiteral("COM4が切断されました");
    ASSERT_TRUE(PumpUntil([&] { return Log().contains(lost); }));
    EXPECT_EQ(Log(), (QStringList{kOk, lost}));
    sim = Board(4);  // plugged back in
    ASSERT_TRUE(sim->Started());
    form->Action("MnSetIP1")->trigger();
    EXPECT_EQ(Log(), (QStringList{kOk, lost, kOk}));
}
