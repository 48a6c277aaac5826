// The main window: menus, function keys, toolbar, log pane, the one-command-at-a-time dispatch,
// the error box, and closing.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <csignal>
#include <functional>

#include "app/mainwindow.h"
#include "app/recordwindow.h"
#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/replytimer.h"
#include "dialogs/beep.h"
#include "dialogs/dialogs.h"
#include "support/modal.h"
#include "support/printers.h"
#include "support/pump.h"
#include "support/widgets.h"

namespace {

class MainWindowTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString ini = dir.filePath("netboard-config.ini");
    std::unique_ptr<TMainWindow> form;

    void SetUp() override {
        // Commands that a test starts run against nothing: the serial port has no device and
        // nothing listens at the board's address, so each ends with its box.
        TIniFile f(ini);
        f.WriteString("ComPorts", "COM1", dir.filePath("no-such-tty"));
        const int own[] = {127, 0, 8, 250};
        for (int i = 0; i < 4; ++i)
            f.WriteInteger("Option", QStringLiteral("TCPIP1_%1").arg(i + 1), own[i]);
        f.UpdateFile();
        form = std::make_unique<TMainWindow>(ini);
        form->FinishStart();  // as after the first paint
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override {
        CancelModalWatchers();
        if (form && form->isVisible())
            form->close();
    }

    // Visible captions of a menu, separators as "-".
    static QStringList Visible(const QList<QAction*>& actions) {
        QStringList out;
        for (QAction* a : actions)
            if (a->isVisible())
                out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    QMenu* MenuOf(const char* name) { return form->Action(QLatin1String(name))->menu(); }
};

TEST_F(MainWindowTest, WindowLayoutAndVisibleMenus) {
    EXPECT_EQ(form->windowTitle(), "ネットワークボード設定プログラム");
    EXPECT_EQ(form->windowIcon().pixmap(32, 32).toImage(), ProgramIcon().pixmap(32, 32).toImage());
    EXPECT_EQ(Visible(form->menuBar()->actions()),
              (QStringList{"ファイル(&F)", "検査＆チェック", "環境(&Z)", "ヘルプ(&H)"}));
    EXPECT_EQ(Visible(MenuOf("File1")->actions()),
              (QStringList{"ROMバージョン", "製造記録(&R)...", "出荷検査...", "-", "終了(&X)"}));
    EXPECT_EQ(Visible(MenuOf("Check1")->actions()), (QStringList{"設定確認＆設定(telnet)"}));
    EXPECT_EQ(Visible(MenuOf("Z1")->actions()), (QStringList{"Telnet先のTCP/IPの設定"}));
    EXPECT_EQ(Visible(MenuOf("Help1")->actions()), (QStringList{"バージョン情報(&A)..."}));
    // The hidden items are all there, in menu order.
    QStringList all;
    for (QAction* a : MenuOf("Check1")->actions())
        all << a->objectName();
    EXPECT_EQ(all, (QStringList{"MnSet1", "N3", "MnCheckConfg1", "N5", "MAC1", "N6", "telnetMAC1",
                                "telnet1", "MnChecktelnet2"}));
    EXPECT_FALSE(form->Action("MnTest")->isVisible());
    EXPECT_EQ(form->Action("MnSet1")->text(), "設定(+MACアドレス)...");
    EXPECT_EQ(form->Action("telnetMAC1")->text(), "設定（telnet +MACアドレス）");
    EXPECT_EQ(form->Action("COMP1")->text(), "COMポートの設定(&P)");
    EXPECT_EQ(form->Action("MnChecktelnet2")->shortcut(), QKeySequence(Qt::Key_F8));

    // Hints: tool tip, then the status bar text.
    EXPECT_EQ(form->Action("FileExitItem")->toolTip(), "終了");
    EXPECT_EQ(form->Action("FileExitItem")->statusTip(), "アプリケーション終了");
    EXPECT_EQ(form->Action("HelpAboutItem")->statusTip(), "バージョンなど固有の情報を表示");
    EXPECT_EQ(form->Action("File1")->statusTip(), "ファイルに関連した機能");
    EXPECT_EQ(form->Action("Help1")->toolTip(), "ヘルプトピック");
    EXPECT_TRUE(form->Action("ROM1")->statusTip().isEmpty());

    // Toolbar: three buttons and a separator.
    auto* bar = form->findChild<QToolBar*>("ToolBar1");
    QStringList tools;
    for (QAction* a : bar->actions())
        tools << (a->isSeparator() ? "-" : a->objectName());
    EXPECT_EQ(tools, (QStringList{"BtTelnetSet1", "BtSetTCPIP", "-", "BtExit"}));
    EXPECT_EQ(form->ToolButton("BtTelnetSet1")->toolTip(), "設定確認＆設定");
    // The style's own pictures, as its whole icons show them.
    for (auto [name, icon] : {std::pair{"BtTelnetSet1", QStyle::SP_FileDialogContentsView},
                              {"BtSetTCPIP", QStyle::SP_DriveNetIcon},
                              {"BtExit", QStyle::SP_DialogCloseButton}}) {
        EXPECT_EQ(form->ToolButton(name)->icon().pixmap(16).toImage(),
                  form->style()->standardIcon(icon).pixmap(16).toImage())
            << name;
    }

    auto* pages = form->findChild<QTabWidget*>("PageControl1");
    EXPECT_EQ(pages->count(), 1);
    EXPECT_EQ(pages->tabText(0), "ログ");
    EXPECT_FALSE(form->LogView()->isReadOnly());
    EXPECT_EQ(form->LogView()->palette().color(QPalette::Base),
              form->LogView()->palette().color(QPalette::Button));
    // A monospaced font that holds Japanese: the one asked for, or the installed CJK mono font.
    const QString family = QFontInfo(form->LogView()->font()).family();
    EXPECT_TRUE(family.contains("ゴシック") || family.contains("Gothic") ||
                family.contains("Mono CJK"))
        << family.toStdString();
    EXPECT_TRUE(QFontMetrics(form->LogView()->font()).inFontUcs4(0x30ED));
    EXPECT_EQ(QFontInfo(pages->font()).family(), family);
}

TEST_F(MainWindowTest, TheToolbarCannotBeHiddenMovedOrFloated) {
    auto* bar = form->findChild<QToolBar*>("ToolBar1");
    EXPECT_FALSE(bar->isMovable());
    EXPECT_FALSE(bar->isFloatable());
    // A right click on the toolbar, on a button and beside the toolbar offers nothing to hide.
    const QPoint inside = form->ToolButton("BtExit")->geometry().center();
    for (QWidget* w :
         {static_cast<QWidget*>(bar), static_cast<QWidget*>(form->ToolButton("BtExit")),
          static_cast<QWidget*>(form->statusBar())}) {
        QTest::mouseClick(w, Qt::RightButton, {}, w == bar ? QPoint(bar->width() - 5, 5) : inside);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(2, 2), w->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(w, &ev);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << w->metaObject()->className();
        if (QApplication::activePopupWidget())
            QApplication::activePopupWidget()->close();
    }
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(form->createPopupMenu() == nullptr);
}

// What the operator reaches by keyboard and sees in a narrow window, a row per detail.
TEST_F(MainWindowTest, OperatorView) {
    const struct {
        const char* name;
        std::function<void()> check;
    } rows[] = {
        {"the ledger opens and the next address shows after the first paint",
         [this] {
             TMainWindow second(ini);
             auto* next = second.findChild<QLabel*>("NextMacAddress");
             EXPECT_TRUE(next->text().isEmpty());
             second.show();
             EXPECT_TRUE(PumpUntil([&] { return !next->text().isEmpty(); }, 5000));
         }},
        {"F10 opens the first menu",
         [this] {
             QTest::keyClick(form.get(), Qt::Key_F10);
             EXPECT_EQ(form->menuBar()->activeAction(), form->Action("File1"));
         }},
        {"Alt alone enters the menu bar",
         [this] {
             QTest::keyClick(form.get(), Qt::Key_Alt);
             EXPECT_TRUE(form->menuBar()->hasFocus() || form->menuBar()->activeAction());
             QTest::keyClick(form->menuBar(), Qt::Key_Escape);  // and leaves it
         }},
        {"the record window has its access key",
         [this] { EXPECT_TRUE(form->Action("MnRecord")->text().contains("(&R)")); }},
        {"Esc and Ctrl+W close the record window",
         [this] {
             for (const QKeySequence& key :
                  {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W)}) {
                 QWidget* w = form->ShowRecordWindow();
                 QApplication::setActiveWindow(w);
                 ASSERT_TRUE(QTest::qWaitForWindowActive(w));
                 QTest::keySequence(w, key);
                 EXPECT_FALSE(w->isVisible()) << key.toString().toStdString();
             }
         }},
        {"a narrow window keeps the whole next address",
         [this] {
             form->resize(120, form->height());
             QApplication::processEvents();
             const auto* next = form->findChild<QLabel*>("NextMacAddress");
             EXPECT_TRUE(next->text().endsWith("02-5A-C3-00-01-C9")) << next->text().toStdString();
             EXPECT_GE(next->contentsRect().width(),
                       next->fontMetrics().horizontalAdvance(next->text()));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QApplication::setActiveWindow(form.get());
        row.check();
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        form->menuBar()->setActiveAction(nullptr);
    }
}

TEST_F(MainWindowTest, StatusBarShowsTheLongHint) {
    form->Action("FileExitItem")->showStatusText(form.get());
    EXPECT_EQ(form->statusBar()->currentMessage(), "アプリケーション終了");
}

TEST_F(MainWindowTest, FunctionKeysRunTheirCommandsWithTheMenuClosedOrOpen) {
    QSignalSpy started(form.get(), &TMainWindow::CommandStarted);
    DismissEveryMessageBox();
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_F2, "MnSet1"},        {Qt::Key_F3, "MAC1"},
        {Qt::Key_F4, "telnetMAC1"},    {Qt::Key_F5, "N3"},
        {Qt::Key_F6, "telnet1"},       {Qt::Key_F7, "MnCheckConfg1"},
        {Qt::Key_F8, "MnChecktelnet2"}};
    // How the operator may have left the menu bar before pressing the key.
    enum Route { kMenuClosed, kMenuOpen, kAltF, kAltTap };
    for (const auto& [key, item] : keys) {
        for (Route route : {kMenuClosed, kMenuOpen, kAltF, kAltTap}) {
            started.clear();
            // The window manager gives the window back its activation when the command's box
            // closes.
            QApplication::setActiveWindow(form.get());
            if (route == kMenuOpen) {
                QMenu* menu = MenuOf("Check1");
                menu->popup(form->mapToGlobal(QPoint(10, 10)));
                ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
            } else if (route == kAltF) {
                QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
                ASSERT_NE(QApplication::activePopupWidget(), nullptr);
            } else if (route == kAltTap) {
                QTest::keyClick(form.get(), Qt::Key_Alt);
                ASSERT_TRUE(form->menuBar()->hasFocus());
            }
            QWidget* target = QApplication::activePopupWidget();
            QTest::keyClick(target ? target : QApplication::focusWidget(), key);
            ASSERT_EQ(started.size(), 1) << item << " route " << route;
            EXPECT_EQ(started.at(0).at(0).toString(), item);
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
            if (form->menuBar()->hasFocus())
                QTest::keyClick(form->menuBar(), Qt::Key_Escape);
        }
    }
}

TEST_F(MainWindowTest, TestMenuAndComPortItemAreOutOfReach) {
    QSignalSpy started(form.get(), &TMainWindow::CommandStarted);
    // The mnemonic of the hidden test menu opens nothing.
    QTest::keyClick(form.get(), Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    // In the environment menu, the COM port item's mnemonic does nothing.
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::AltModifier);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QTest::keyClick(popup, Qt::Key_P);
    EXPECT_TRUE(started.isEmpty());
    if (QApplication::activePopupWidget())
        QApplication::activePopupWidget()->close();
    // No visible route leads to them: every visible item's menu is one of the four.
    for (QAction* a : form->menuBar()->actions()) {
        if (a->isVisible()) {
            EXPECT_NE(a->objectName(), "MnTest");
        }
    }
    EXPECT_FALSE(form->Action("COMP1")->isVisible());
    EXPECT_FALSE(form->Action("MnSetIP1")->isVisible() && form->Action("MnTest")->isVisible());
}

TEST_F(MainWindowTest, LogPaneEmptiesAtThousandLines) {
    for (int i = 1; i <= 1000; ++i)
        form->AddLogLine(QString::number(i));
    EXPECT_EQ(form->LogPane()->LineCount(), 1000);
    EXPECT_EQ(form->LogPane()->Lines().last(), "1000");
    form->AddLogLine("next");
    EXPECT_EQ(form->LogPane()->Lines(), QStringList{"next"});
    // Text typed by the operator counts too, and a new line never joins it.
    form->LogView()->clear();
    form->LogView()->setFocus();
    QTest::keyClicks(form->LogView(), "typed");
    EXPECT_EQ(form->LogPane()->LineCount(), 1);
    form->AddLogLine("after");
    EXPECT_EQ(form->LogPane()->Lines(), (QStringList{"typed", "after"}));
    form->LogPane()->Clear();
    form->AddLogLine("");
    EXPECT_EQ(form->LogPane()->LineCount(), 1);
}

TEST_F(MainWindowTest, ASecondCommandDuringAWaitIsRefusedWithTheBeep) {
    QSignalSpy started(form.get(), &TMainWindow::CommandStarted);
    DismissEveryMessageBox();
    const int beeps = SystemBeepCount();
    bool innerRan = false;
    form->RunCommand([&] {
        QTimer::singleShot(50, form.get(), [&] { QTest::keyClick(form.get(), Qt::Key_F8); });
        QTimer::singleShot(100, form.get(), [&] { form->ToolButton("BtSetTCPIP")->click(); });
        QTimer::singleShot(150, form.get(), [&] { form->RunCommand([&] { innerRan = true; }); });
        PumpFor(300);
    });
    EXPECT_FALSE(innerRan);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(SystemBeepCount() - beeps, 3);
    // Once the command has ended, commands run again.
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(started.size(), 1);
}

TEST_F(MainWindowTest, CloseDuringACommandHappensWhenItEndsAndSavesThen) {
    bool savedDuringCommand = true;
    form->Params().TCPPort2 = 4242;
    form->RunCommand([&] {
        QTimer::singleShot(50, form.get(), [&] { form->Action("FileExitItem")->trigger(); });
        QTimer::singleShot(100, form.get(), [&] { form->close(); });
        PumpFor(300);
        savedDuringCommand = LoadSettings(ini).TCPPort2 == 4242;
        EXPECT_TRUE(form->isVisible());
    });
    EXPECT_FALSE(savedDuringCommand);
    EXPECT_FALSE(form->isVisible());
    ASSERT_TRUE(QFile::exists(ini));
    EXPECT_EQ(LoadSettings(ini).TCPPort2, 4242);
}

TEST_F(MainWindowTest, CloseSavesTheSettingsFromExitToolbarAndCloseButton) {
    form->Params().MacAddr_3 = 7;
    form->ToolButton("BtExit")->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(LoadSettings(ini).MacAddr_3, 7);
    // A window closed by its close button saves the same way, and a second close does nothing.
    QFile::remove(ini);
    auto again = std::make_unique<TMainWindow>(ini);
    again->FinishStart();  // as after the first paint
    again->show();
    EXPECT_EQ(again->Params().MacAddr_3, 201);
    again->Params().fSetInit = 1;
    again->close();
    EXPECT_EQ(LoadSettings(ini).fSetInit, 1);
    QFile::remove(ini);
    again->close();
    EXPECT_FALSE(QFile::exists(ini));
}

// Answers the next message boxes in turn, each with the button captioned answers[i] (its
// default button when that is empty), and collects their texts.
void AnswerBoxes(QStringList answers, QStringList* texts) {
    if (answers.isEmpty())
        return;
    OnNextModal([answers, texts](QWidget* w) mutable {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        texts->append(box->text());
        const QString want = answers.takeFirst();
        QAbstractButton* button = box->defaultButton();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == want)
                button = b;
        AnswerBoxes(answers, texts);  // watches for the box after this one
        button->click();
    });
}

TEST_F(MainWindowTest, AFailedSaveShowsTheCauseAndAsksWhetherToCloseWithoutSaving) {
    form->close();
    QByteArray old = "[Option]\r\nComPort=3\r\n";
    const QString question =
        QStringLiteral("設定を保存できませんでした。\n保存せずに終了しますか？");
    enum Cause { kMissingFolder, kFolderAtThePath, kDiskFull };
    const struct {
        Cause cause;
        QString path;
        QString atStart;  // the box at start-up, if any
        QString atClose;  // the error box of the close
    } rows[] = {
        {kMissingFolder, dir.filePath("gone/n.ini"), "",
         QStringLiteral(
             "設定ファイル \"%1\" に書き込めません。\nフォルダ \"%2\" に一時ファイルを"
             "作れません。\nファイルまたはフォルダがありません (No such file or directory)")
             .arg(dir.filePath("gone/n.ini"), dir.filePath("gone"))},
        {kFolderAtThePath, dir.filePath("d.ini"),
         QStringLiteral("設定ファイル \"%1\" を読み込めません。\nフォルダです (Is a directory)")
             .arg(dir.filePath("d.ini")),
         QStringLiteral("設定ファイル \"%1\" に書き込めません。\n起動時に読み込めなかったため、"
                        "そのままにします。\nフォルダです (Is a directory)")
             .arg(dir.filePath("d.ini"))},
        {kDiskFull, ini, "",
         QStringLiteral(
             "設定ファイル \"%1\" に書き込めません。\nファイルが大きすぎます (File too large)")
             .arg(ini)},
    };
    for (const auto& row : rows) {
        QStringList texts;
        if (row.cause == kFolderAtThePath) {
            ASSERT_TRUE(QDir().mkpath(row.path));
        }
        if (row.cause == kDiskFull) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        if (!row.atStart.isEmpty())
            AnswerBoxes({""}, &texts);
        form = std::make_unique<TMainWindow>(row.path);
        form->FinishStart();  // as after the first paint
        CancelModalWatchers();
        if (row.cause == kDiskFull) {
            QFile f(ini);  // with the identities the start wrote into it
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            old = f.readAll();
        }
        // The start-up box names the file and the cause.
        EXPECT_EQ(texts.size(), row.atStart.isEmpty() ? 0 : 1);
        EXPECT_TRUE(texts.isEmpty() || texts[0].startsWith(row.atStart)) << texts[0].toStdString();
        form->show();
        form->Params().TelnetPass = QString(400, QLatin1Char('p'));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 64;
        signal(SIGXFSZ, SIG_IGN);
        if (row.cause == kDiskFull)
            setrlimit(RLIMIT_FSIZE, &small);
        // The default answer keeps the window; "はい" closes it without saving.
        for (const char* answer : {"", "はい"}) {
            texts.clear();
            AnswerBoxes({"", QString::fromUtf8(answer)}, &texts);
            form->close();
            EXPECT_EQ(texts, (QStringList{row.atClose, question})) << row.path.toStdString();
            EXPECT_EQ(form->isVisible(), !*answer) << row.path.toStdString();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
        if (row.cause == kDiskFull) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), old);
        }
    }
}

TEST_F(MainWindowTest, ErrorsOfACommandShowTheErrorBox) {
    QString text;
    QString title;
    AcceptNextMessageBox(&text, &title);
    form->RunCommand([] { throw EConvertError("'abc' は整数ではありません"); });
    EXPECT_EQ(text, "'abc' は整数ではありません");
    EXPECT_EQ(title, "ネットワークボード設定プログラム");
    EXPECT_FALSE(form->CommandRunning());
}

TEST_F(MainWindowTest, TelnetTargetCommandStoresFieldsUpToABadOne) {
    form->Params().TCPIP1_1 = 1;
    OnNextModal([](QWidget* w) {
        auto* d = qobject_cast<TTelnetTargetDialog*>(w);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(Child<TNumberTextField>(d, "EdTCPIP1_1")->text(), "1");
        Child<TNumberTextField>(d, "EdTCPIP1_1")->setText("127");
        Child<TNumberTextField>(d, "EdTCPIP1_2")->setFocus();
        Child<TNumberTextField>(d, "EdTCPIP1_2")->clear();
        QTest::keyClicks(Child<TNumberTextField>(d, "EdTCPIP1_2"), "1-2");
        QTest::mouseClick(Child<QPushButton>(d, "OKBtn"), Qt::LeftButton);
    });
    QString text;
    QTimer::singleShot(0, [&] { AcceptNextMessageBox(&text); });
    form->ToolButton("BtSetTCPIP")->click();
    EXPECT_EQ(text, "Telnet先のTCP/IP（2）: '1-2' は整数ではありません");
    EXPECT_EQ(form->Params().TCPIP1_1, 127);
    EXPECT_EQ(form->Params().TCPIP1_2, 0);
    // A dialog that creates the error is gone; a cancelled one changes nothing.
    EXPECT_TRUE(form->findChildren<TTelnetTargetDialog*>().isEmpty());
    OnNextModal([](QWidget* w) {
        auto* d = qobject_cast<TTelnetTargetDialog*>(w);
        QTest::mouseClick(Child<QPushButton>(d, "BtReset"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(d, "CancelBtn"), Qt::LeftButton);
    });
    form->Action("MnSetTCPIP1")->trigger();
    EXPECT_EQ(form->Params().OwnIpText(), "127.0.8.250");
    OnNextModal([](QWidget* w) {
        auto* d = qobject_cast<TTelnetTargetDialog*>(w);
        QTest::mouseClick(Child<QPushButton>(d, "BtReset"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(d, "OKBtn"), Qt::LeftButton);
    });
    form->Action("MnSetTCPIP1")->trigger();
    EXPECT_EQ(form->Params().OwnIpText(), "192.168.0.1");
}

TEST_F(MainWindowTest, ComPortDialogShowsTheNumberAndStoresIt) {
    form->Params().ComPort = -1;
    QString caption, title, shown;
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<TNumberDialog*>(w);
        ASSERT_NE(d, nullptr);
        caption = d->windowTitle();
        title = Child<QLabel>(d, "STTitle")->text();
        shown = Child<TIntegerField>(d, "IntEd")->Text();
        QTest::mouseClick(Child<QPushButton>(d, "CancelBtn"), Qt::LeftButton);
    });
    form->RunCommand([&] { form->ChooseComPort(); });
    EXPECT_EQ(caption, "ＣＯＭポートの設定");
    EXPECT_EQ(title, "ポート番号を入力してください");
    EXPECT_EQ(shown, "255");
    EXPECT_EQ(form->Params().ComPort, -1);
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<TNumberDialog*>(w);
        Child<TIntegerField>(d, "IntEd")->Editor()->selectAll();
        QTest::keyClicks(Child<TIntegerField>(d, "IntEd")->Editor(), "300");
        QTest::mouseClick(Child<QPushButton>(d, "OKBtn"), Qt::LeftButton);
        // Port 255 has no device here: the open failure's box, if any, is answered too.
        AcceptNextMessageBox(nullptr, nullptr, 2000);
    });
    form->RunCommand([&] { form->ChooseComPort(); });
    EXPECT_EQ(form->Params().ComPort, 255);
}

TEST_F(MainWindowTest, AboutShowsTheAboutBoxModally) {
    // Made at its first showing, and the same box the next time.
    QWidget* first = nullptr;
    for (int i = 0; i < 2; ++i) {
        OnNextModal([&](QWidget* w) {
            EXPECT_TRUE(qobject_cast<TAboutBox*>(w)) << w->metaObject()->className();
            EXPECT_TRUE(!first || w == first);
            first = w;
            Child<QPushButton>(w, "OKButton")->click();
        });
        form->Action("HelpAboutItem")->trigger();
    }
    EXPECT_NE(first, nullptr);
}

}  // namespace
