#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "app/recordwindow.h"
#include "board/macaddress.h"
#include "core/caption.h"
#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/logpane.h"
#include "dialogs/beep.h"
#include "dialogs/dialogs.h"
#include "dialogs/errorbox.h"
#include "dialogs/fonts.h"
#include "dialogs/messagebox.h"
#include "telnet/telneterrors.h"

namespace {

// Splits a hint "short|long" into the tool tip and the status bar text; a hint without "|"
// serves as both.
void SetHint(QAction* a, const QString& hint) {
    const int bar = static_cast<int>(hint.indexOf(QLatin1Char('|')));
    a->setToolTip(bar < 0 ? hint : hint.left(bar));
    a->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

}  // namespace

TMainWindow::TMainWindow(const QString& iniPath, QWidget* parent) : QMainWindow(parent) {
    BuildWindow();
    iniPath_ = iniPath.isEmpty() ? DefaultIniPath() : iniPath;
    // What a save killed half-way left behind.
    RemoveStaleTemporaries(iniPath_);
    QString readError;
    params_ = LoadSettings(iniPath_, &readError);
    if (!readError.isEmpty()) {
        // The record holds the defaults; the file keeps its settings, since no save of this run
        // replaces it.
        ShowErrorBox(this,
                     readError + QStringLiteral("\n設定ファイルを読めないため、既定の設定で"
                                                "起動します。このファイルには保存しません。"));
    }
    // The ledger opens, and the next address shows, just after the first paint (FinishStart):
    // the window is there at once, however large the ledger. The program's icon (four images to
    // decode, which the window itself does not show) waits for it as well, and so do the menu
    // bar's keys and the status bar's sizes (measuring loads fonts; until then its address is
    // empty and its scan field hidden).
    auto* follow = new QTimer(this);
    follow->setObjectName(QStringLiteral("LedgerFollower"));
    connect(follow, &QTimer::timeout, this, &TMainWindow::FollowLedger);
    follow->start(1000);
    // No serial session yet: it is created by the first command that needs it.
    static const char* const kHidden[] = {"MnCheckConfg1", "N5",     "COMP1", "MnTest",
                                          "MnSet1",        "N3",     "MAC1",  "N6",
                                          "telnetMAC1",    "telnet1"};
    for (const char* name : kHidden)
        Action(QLatin1String(name))->setVisible(false);
}

void TMainWindow::FinishStart() {
    if (started_)
        return;
    started_ = true;
    // The icon of every window of the program, its boxes and dialogs too.
    QApplication::setWindowIcon(ProgramIcon());
    SizeStatusFields();
    // The menu bar's keys: its style of its own is a second style to set up, which the first
    // paint does not need.
    BindMenuKeys();
    try {
        Runner().Ledger();
    } catch (const Exception& e) {
        // The window still opens; every command that would reach a board refuses with this
        // error until the ledger can be opened.
        AddLogLine(e.Message());
    }
    ShowNextAddress();
}

void TMainWindow::SizeStatusFields() {
    // Room for the whole address and its mark, whatever the text is: a narrow window never cuts
    // off the last byte, the one that tells boards apart.
    nextAddress_->setMinimumWidth(
        nextAddress_->fontMetrics().horizontalAdvance(NextAddressText(kMacLowCount - 1, true)) + 8);
    // Room for a serial of a dozen characters and more, never squeezed by the texts beside it.
    scanField_->setMinimumWidth(scanField_->fontMetrics().horizontalAdvance(QLatin1Char('W')) * 12);
    scanField_->setMaximumWidth(scanField_->minimumWidth() * 3 / 2);
}

bool TMainWindow::event(QEvent* e) {
    const bool done = QMainWindow::event(e);
    // An update request paints the window: the first one is the first paint.
    if (e->type() == QEvent::UpdateRequest && !started_)
        QTimer::singleShot(0, this, &TMainWindow::FinishStart);
    return done;
}

TMainWindow::~TMainWindow() {
    // The record window reads through the runner's ledger, which goes with the members.
    delete recordWindow_;
    ReleaseSerialSession();
}

void TMainWindow::BuildWindow() {
    setWindowTitle(QString::fromUtf8(kProgramCaption));
    setObjectName(QStringLiteral("NetC1AppForm"));
    move(556, 134);
    resize(533, 455);
    BuildMenus();
    BuildToolBar();

    auto* pageControl1 = new QTabWidget(this);
    pageControl1->setObjectName(QStringLiteral("PageControl1"));
    const QFont logFont = LogFont();
    pageControl1->setFont(logFont);
    logView_ = new QPlainTextEdit;
    logView_->setObjectName(QStringLiteral("Memo1"));
    logView_->setFont(logFont);
    logView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette pal = logView_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    logView_->setPalette(pal);
    pageControl1->addTab(logView_, QStringLiteral("ログ"));
    pageControl1->widget(0)->setObjectName(QStringLiteral("TabSheet1"));
    setCentralWidget(pageControl1);
    log_ = std::make_unique<TWindowLog>(logView_);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(false);
    // The hints keep the left of the bar; the address the next board gets stands at the right.
    busyText_ = new QLabel(this);
    busyText_->setObjectName(QStringLiteral("BusyText"));
    busyBar_ = new QProgressBar(this);
    busyBar_->setObjectName(QStringLiteral("BusyBar"));
    busyBar_->setRange(0, 0);  // no end known: the bar moves to and fro
    busyBar_->setMaximumWidth(80);
    busyBar_->setMaximumHeight(14);
    busyText_->hide();
    busyBar_->hide();
    statusBar()->addPermanentWidget(busyText_);
    statusBar()->addPermanentWidget(busyBar_);
    nextAddress_ = new QLabel(this);
    nextAddress_->setObjectName(QStringLiteral("NextMacAddress"));
    // While a site plan is open: the scan field for a board's serial and the plan's next row.
    scanField_ = new QLineEdit(this);
    scanField_->setObjectName(QStringLiteral("EdSerial"));
    scanField_->setPlaceholderText(QStringLiteral("シリアル番号"));
    connect(scanField_, &QLineEdit::returnPressed, this, &TMainWindow::TakeScannedSerial);
    planText_ = new QLabel(this);
    planText_->setObjectName(QStringLiteral("PlanStatus"));
    scanField_->hide();
    planText_->hide();
    statusBar()->addPermanentWidget(scanField_);
    statusBar()->addPermanentWidget(planText_);
    statusBar()->addPermanentWidget(nextAddress_);
    BindFunctionKeys();
}

void TMainWindow::BindMenuKeys() {
    // Alt pressed and released alone enters the menu bar, as on the desktops operators know;
    // the bar asks its style whether to.
    class TAltEntersMenus : public QProxyStyle {
      public:
        int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                      QStyleHintReturn* ret) const override {
            return hint == SH_MenuBar_AltKeyNavigation
                       ? 1
                       : QProxyStyle::styleHint(hint, option, widget, ret);
        }
    };
    auto* style = new TAltEntersMenus;
    style->setParent(menuBar());
    menuBar()->setStyle(style);
    // F10 opens the first menu.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] {
        for (QAction* a : menuBar()->actions()) {
            if (a->isVisible() && a->menu()) {
                menuBar()->setActiveAction(a);
                return;
            }
        }
    });
}

QAction* TMainWindow::AddItem(QMenu* menu, const QString& name, const QString& caption,
                              void (TMainWindow::*handler)()) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (handler) {
        connect(a, &QAction::triggered, this, [this, name, handler] { RunItem(name, handler); });
    }
    return a;
}

void TMainWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto separator = [](QMenu* m, const char* name) {
        m->addSeparator()->setObjectName(QLatin1String(name));
    };

    QMenu* file = bar->addMenu(QStringLiteral("ファイル(&F)"));
    file->menuAction()->setObjectName(QStringLiteral("File1"));
    SetHint(file->menuAction(), QStringLiteral("ファイルに関連した機能"));
    AddItem(file, "ROM1", QStringLiteral("ROMバージョン"), &TMainWindow::QueryRomVersion);
    // Not a command: the record window stays open beside the commands and reads the ledger.
    QAction* record = AddItem(file, "MnRecord", QStringLiteral("製造記録(&R)..."), nullptr);
    SetHint(record, QStringLiteral("製造記録|書き込んだボードの記録を表示"));
    connect(record, &QAction::triggered, this, [this] { ShowRecordWindow(); });
    AddItem(file, "MnShipCheck", QStringLiteral("出荷検査..."), &TMainWindow::CheckAtEndOfLine);
    separator(file, "N1");
    QAction* exit = AddItem(file, "FileExitItem", QStringLiteral("終了(&X)"), nullptr);
    SetHint(exit, QStringLiteral("終了|アプリケーション終了"));
    // Exit is not a command of its own: while a command runs the close waits for its end.
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* check = bar->addMenu(QStringLiteral("検査＆チェック"));
    check->menuAction()->setObjectName(QStringLiteral("Check1"));
    AddItem(check, "MnSet1", QStringLiteral("設定(+MACアドレス)..."), &TMainWindow::WriteWithMac);
    AddItem(check, "N3", QStringLiteral("設定..."), &TMainWindow::WriteWithoutMac);
    AddItem(check, "MnCheckConfg1", QStringLiteral("設定確認＆設定..."),
            &TMainWindow::CheckAndSetOverSerial);
    separator(check, "N5");
    AddItem(check, "MAC1", QStringLiteral("MACアドレス再設定..."), &TMainWindow::RewriteMacAddress);
    separator(check, "N6");
    AddItem(check, "telnetMAC1", QStringLiteral("設定（telnet +MACアドレス）"),
            &TMainWindow::WriteWithMacOverTelnet);
    AddItem(check, "telnet1", QStringLiteral("設定(telnet)"), &TMainWindow::WriteOverTelnet);
    AddItem(check, "MnChecktelnet2", QStringLiteral("設定確認＆設定(telnet)"),
            &TMainWindow::CheckAndSetOverTelnet);

    QMenu* test = bar->addMenu(QStringLiteral("テスト(&T)"));
    test->menuAction()->setObjectName(QStringLiteral("MnTest"));
    AddItem(test, "MnSetIP1", QStringLiteral("IPアドレス"), &TMainWindow::TestIpAddressLine);
    AddItem(test, "N2", QStringLiteral("ポート"), &TMainWindow::TestMacAddressQuery);
    AddItem(test, "IP1", QStringLiteral("Telnet"), &TMainWindow::TestTelnetSession);

    QMenu* env = bar->addMenu(QStringLiteral("環境(&Z)"));
    env->menuAction()->setObjectName(QStringLiteral("Z1"));
    AddItem(env, "COMP1", QStringLiteral("COMポートの設定(&P)"), &TMainWindow::ChooseComPort);
    AddItem(env, "MnSetTCPIP1", QStringLiteral("Telnet先のTCP/IPの設定"),
            &TMainWindow::ChooseTelnetTarget);

    QMenu* help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->menuAction()->setObjectName(QStringLiteral("Help1"));
    SetHint(help->menuAction(), QStringLiteral("ヘルプトピック"));
    QAction* about = AddItem(help, "HelpAboutItem", QStringLiteral("バージョン情報(&A)..."),
                             &TMainWindow::ShowAboutBox);
    SetHint(about, QStringLiteral("バージョン情報|バージョンなど固有の情報を表示"));
}

void TMainWindow::BuildToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    // The toolbar is always complete: it cannot be moved, floated or hidden.
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    bar->toggleViewAction()->setVisible(false);
    bar->setFixedHeight(30);
    bar->setIconSize(QSize(16, 16));
    // On a screen that shows an image pixel as one pixel, the style's 16-pixel image alone: the
    // same picture, where the whole icon would decode every size it has (up to 128 pixels) at
    // once, before the first paint.
    const bool plainScreen = devicePixelRatioF() <= 1;
    auto button = [this, bar, plainScreen](const char* name, QStyle::StandardPixmap icon,
                                           auto handler) {
        QAction* a = bar->addAction(
            plainScreen ? QIcon(style()->standardPixmap(icon)) : style()->standardIcon(icon),
            QString());
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        bar->widgetForAction(a)->setObjectName(QLatin1String(name));
        return a;
    };
    QAction* set = button("BtTelnetSet1", QStyle::SP_FileDialogContentsView, [this] {
        RunItem(QStringLiteral("BtTelnetSet1"), &TMainWindow::CheckAndSetOverTelnet);
    });
    SetHint(set, QStringLiteral("設定確認＆設定"));
    button("BtSetTCPIP", QStyle::SP_DriveNetIcon,
           [this] { RunItem(QStringLiteral("BtSetTCPIP"), &TMainWindow::ChooseTelnetTarget); });
    bar->addSeparator()->setObjectName(QStringLiteral("ToolButton1"));
    button("BtExit", QStyle::SP_DialogCloseButton, [this] { close(); });
}

void TMainWindow::BindFunctionKeys() {
    // A hidden item's own shortcut never fires, and most configuration commands are hidden, so
    // each key has two bindings of which exactly one is live: the item's own shortcut while the
    // item is visible (it also shows the key in the menu), a window key while it is hidden. Two
    // live bindings of one key would make the key ambiguous, and then neither would run. Both
    // are application-wide, so they also work while a menu of the window is open or the menu
    // bar holds the keyboard; a modal dialog still blocks them.
    struct Key {
        Qt::Key key;
        const char* item;
        void (TMainWindow::*handler)();
    };
    static const Key kKeys[] = {
        {Qt::Key_F2, "MnSet1", &TMainWindow::WriteWithMac},
        {Qt::Key_F3, "MAC1", &TMainWindow::RewriteMacAddress},
        {Qt::Key_F4, "telnetMAC1", &TMainWindow::WriteWithMacOverTelnet},
        {Qt::Key_F5, "N3", &TMainWindow::WriteWithoutMac},
        {Qt::Key_F6, "telnet1", &TMainWindow::WriteOverTelnet},
        {Qt::Key_F7, "MnCheckConfg1", &TMainWindow::CheckAndSetOverSerial},
        {Qt::Key_F8, "MnChecktelnet2", &TMainWindow::CheckAndSetOverTelnet},
    };
    for (const Key& k : kKeys) {
        QAction* item = Action(QLatin1String(k.item));
        item->setShortcut(QKeySequence(k.key));
        item->setShortcutContext(Qt::ApplicationShortcut);
        auto* sc = new QShortcut(QKeySequence(k.key), this);
        sc->setContext(Qt::ApplicationShortcut);
        connect(sc, &QShortcut::activated, this,
                [this, k] { RunItem(QLatin1String(k.item), k.handler); });
        auto follow = [item, sc] { sc->setEnabled(!item->isVisible()); };
        connect(item, &QAction::visibleChanged, sc, follow);
        follow();
    }
}

QMenu* TMainWindow::createPopupMenu() {
    // No menu to hide the toolbar (or anything else) with.
    return nullptr;
}

QAction* TMainWindow::Action(const QString& name) const {
    return findChild<QAction*>(name);
}

QToolButton* TMainWindow::ToolButton(const QString& name) const {
    return findChild<QToolButton*>(name);
}

void TMainWindow::RunItem(const QString& item, void (TMainWindow::*handler)()) {
    RunCommand([this, item, handler] {
        // The status bar names the command by its caption while it is at work.
        const QAction* a = Action(item);
        runningCaption_ = a ? (a->text().isEmpty() ? a->toolTip() : a->text()) : item;
        runningCaption_.remove(QStringLiteral("(&X)")).remove(QStringLiteral("..."));
        emit CommandStarted(item);
        (this->*handler)();
    });
}

void TMainWindow::Busy(bool busy) {
    busy_ = busy;
    ShowBusy();
}

void TMainWindow::ShowBusy() {
    busyText_->setText(
        !busy_ ? QString()
        : closePending_
            ? QStringLiteral("%1 実行中（終了後にプログラムを閉じます）").arg(runningCaption_)
            : QStringLiteral("%1 実行中").arg(runningCaption_));
    busyText_->setVisible(busy_);
    busyBar_->setVisible(busy_);
    // The window is narrow: the busy sign takes the next address's place, which the running
    // command may be about to give anyway; the address shows again, brought up to date, after.
    nextAddress_->setVisible(!busy_);
}

void TMainWindow::AddLogLine(const QString& text) {
    log_->AddLine(text, kMainLogLimit);
}

bool TMainWindow::RunCommand(const std::function<void()>& body) {
    if (running_ || closing_) {
        // The waits of a running command process events; a second command would interleave
        // its exchange with the first one's on the same link.
        SystemBeep();
        return false;
    }
    // A function key may arrive while a menu of this window is open.
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    running_ = true;
    // The log says where the command stopped, and the box why.
    const auto stopped = [this](const QString& message) {
        running_ = false;
        AddLogLine(QStringLiteral("中止しました: ") + message.simplified());
        ShowErrorBox(this, message);
    };
    try {
        body();
    } catch (const ETelnetConnectError& e) {
        // The session has logged where it could not connect and why.
        running_ = false;
        ShowErrorBox(this, e.Message());
    } catch (const Exception& e) {
        stopped(e.Message());
    } catch (const std::exception& e) {
        stopped(QString::fromUtf8(e.what()));
    } catch (...) {
        stopped(QStringLiteral("不明なエラーが発生しました。"));
    }
    running_ = false;
    ShowNextAddress();
    if (recordWindow_)
        recordWindow_->Refresh();
    if (!pendingError_.isEmpty()) {
        const QString message = pendingError_;
        pendingError_.clear();
        ShowErrorBox(this, message);
    }
    if (closePending_) {
        closePending_ = false;
        close();
    }
    return true;
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The running command still uses the links and dialogs a close would destroy; the
        // close happens as soon as it ends, and the status bar says so.
        closePending_ = true;
        ShowBusy();
        event->ignore();
        return;
    }
    if (closing_) {
        event->accept();
        return;
    }
    try {
        SaveSettingsOnClose();
    } catch (const Exception& e) {
        // The settings could not be written (the old file is still whole). The operator may
        // keep the window, and the settings in memory, to put the cause right, or close
        // without saving: a save that keeps failing must not make the program unclosable.
        ShowErrorBox(this, e.Message());
        if (ShowMessageBox(this, QString::fromUtf8(kProgramCaption),
                           QStringLiteral("設定を保存できませんでした。\n保存せずに終了しますか？"),
                           QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                           QMessageBox::No) != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        ReleaseSerialSession();
    }
    closing_ = true;
    event->accept();
}

void TMainWindow::SaveSettingsOnClose() {
    // The MAC counter is the file's: every change of it was written at once under the ledger's
    // lock, and another process may have moved it on since. The rest of the record is saved
    // under the same lock, so that such a change never falls between this read and write.
    const auto save = [this] { SaveSettings(iniPath_, params_, /*writeCounter=*/false); };
    TLedger* ledger = nullptr;
    try {
        ledger = &Runner().Ledger();
    } catch (const Exception&) {
        // Without a ledger no command has changed the counter; the save goes on without it.
    }
    if (ledger)
        ledger->WithWriteLock(save);
    else
        save();
    ReleaseSerialSession();
}

void TMainWindow::FollowLedger() {
    // A command at work (or its dialog) brings both up to date when it ends.
    if (running_ || closing_)
        return;
    TLedger* ledger = Runner().OpenLedger();
    if (!ledger)
        return;
    if (ledger != followed_) {
        ledger->FollowChanges();
        followed_ = ledger;
    }
    QString stamp;
    try {
        stamp = ledger->ChangeStamp();
    } catch (const Exception&) {
        return;  // the next command shows the ledger's error
    }
    if (stamp == ledgerStamp_)
        return;
    ledgerStamp_ = stamp;
    ShowNextAddress();
    if (recordWindow_ && recordWindow_->isVisible())
        recordWindow_->Refresh();
}

TRecordWindow* TMainWindow::ShowRecordWindow() {
    try {
        if (!recordWindow_) {
            recordWindow_ = new TRecordWindow(Runner().Ledger(), this);
            recordWindow_->SetReprint([this](const QString& mac) {
                const std::optional<int> low = MacLowOfText(mac);
                if (low)
                    RunCommand([this, low] { Runner().ReprintLabel(*low); });
            });
        }
    } catch (const Exception& e) {
        ShowErrorBox(this, e.Message());
        return nullptr;
    }
    recordWindow_->Refresh();
    recordWindow_->show();
    recordWindow_->raise();
    recordWindow_->activateWindow();
    return recordWindow_;
}

void TMainWindow::ShowAboutBox() {
    // Made at its first showing, which most runs never reach; the window owns it from then on.
    if (!aboutBox_)
        aboutBox_ = new TAboutBox(this);
    aboutBox_->exec();
}

void TMainWindow::ChooseComPort() {
    auto dlg = std::make_unique<TNumberDialog>(this, QStringLiteral("ＣＯＭポートの設定"),
                                               QStringLiteral("ポート番号を入力してください"), 0,
                                               255, params_.ComPort);
    if (dlg->exec() != QDialog::Accepted)
        return;
    params_.ComPort = dlg->Value();
    OpenSerialPort(params_.ComPort);
}

void TMainWindow::ChooseTelnetTarget() {
    auto dlg = std::make_unique<TTelnetTargetDialog>(this);
    dlg->FillFrom(params_);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
}
