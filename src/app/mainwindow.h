// The main window: holds the board parameter record, offers every command through its menu,
// function keys and toolbar, and shows the progress of every procedure in the log pane.
//
// Commands run one at a time: a command started while another runs (inside its waits, which
// process GUI events) is refused with the system beep, and a close requested meanwhile takes
// effect when the running command ends. Every command catches errors at its top and shows them
// in the error box.
//
// Thread rules: GUI thread only.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/windowlog.h"
#include "core/settings.h"
#include "runner/commandrunner.h"
#include "serial/serialsession.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolButton;
class TAboutBox;
class TBoardLink;
class TRecordWindow;

// The status bar's text of the next address `low`; `unchecked` marks one the ledger could not be
// asked about.
QString NextAddressText(int low, bool unchecked);
// The status bar's text of the open plan: "計画 17/200: 192.168.1.27", the row the next write
// takes, the rows, and the own IP address the row gives.
QString PlanStatusText(int number, qint64 rows, const QString& ownIp);

// The window is the command runner's face (TCommandUi) and its source of links (TLinkSource).
class TMainWindow : public QMainWindow, private TCommandUi, private TLinkSource {
    Q_OBJECT

  public:
    // `iniPath` empty: the path beside the running executable.
    explicit TMainWindow(const QString& iniPath = QString(), QWidget* parent = nullptr);
    ~TMainWindow() override;

    TBoardParams& Params() { return params_; }
    const QString& IniPath() const { return iniPath_; }
    TWindowLog* LogPane() { return log_.get(); }
    QPlainTextEdit* LogView() const { return logView_; }

    // What the start leaves until just after the first paint: opening the ledger (its error,
    // if any, goes to the log), binding the menu bar's keys, sizing the status bar's fields and
    // showing the next address. Runs once.
    void FinishStart();

    // Appends one line to the log pane, emptying it first when it holds 1000 lines.
    void AddLogLine(const QString& text);

    // Runs one command: refused with the beep (false) while another command runs; errors are
    // caught and shown in the error box; a close requested meanwhile happens afterwards.
    bool RunCommand(const std::function<void()>& body);
    bool CommandRunning() const { return running_; }

    // The command runner, with the production ledger beside the settings file.
    TCommandRunner& Runner();

    // Opens (or raises) the production record window; null when the ledger cannot be opened
    // (the error box has said why).
    TRecordWindow* ShowRecordWindow();

    // Command handlers. They run inside RunCommand when started from the menu, a function key
    // or the toolbar.
    void QueryRomVersion();
    void WriteWithMac();
    void WriteWithoutMac();
    void CheckAndSetOverSerial();
    void RewriteMacAddress();
    void WriteWithMacOverTelnet();
    void WriteOverTelnet();
    void CheckAndSetOverTelnet();
    // The end-of-line check, over the link the operator chooses.
    void CheckAtEndOfLine();
    void TestIpAddressLine();
    void TestMacAddressQuery();
    void TestTelnetSession();
    void ChooseComPort();
    void ChooseTelnetTarget();
    void ShowAboutBox();

    // The serial session, created with the log pane on first use (its port is not opened here).
    TSerialSession* SerialSession();
    // (Re)opens the serial session's port at `portNo` (the COM port command's second half); a
    // port that does not open is shown in the error box and stays closed.
    void OpenSerialPort(int portNo);

    // The menu and toolbar items, by their names (for tests).
    QAction* Action(const QString& name) const;
    QToolButton* ToolButton(const QString& name) const;

    // The window offers no context menu of toolbars: the toolbar is always shown.
    QMenu* createPopupMenu() override;

  signals:
    // A menu item, function key or toolbar button started its command (the item's name).
    void CommandStarted(const QString& item);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* e) override;

  private:
    // TCommandUi
    TLogPane* Log() override { return log_.get(); }
    bool ShowsAddress() const override { return true; }
    bool ConfirmWrite(TBoardParams* params, bool withMac) override;
    bool ConfirmMacAddress(TBoardParams* params) override;
    bool ConfirmCheckAndSet(const TBoardReadback& board, TLinkKind link,
                            TBoardParams* edited) override;
    // Asks whether to give the address again; "いいえ" is the default.
    bool MayReuse(const TReuseQuestion& question) override;
    void NullBox() override;
    // Shows `message` in the error box once the running command has ended.
    void ShowAfterCommand(const QString& message) override;
    // The progress dialog of the ROM version query's connection wait.
    TRomQueryHooks RomQueryHooks() override;
    // The status bar's sign that the running command is at work.
    void Busy(bool busy) override;
    // TLinkSource: the serial session with its port open (opened at ComPort when it is closed
    // or its device vanished; null when it cannot be opened, the error box has said why, and the
    // command then sends nothing); a telnet session of the command's own, its window hidden.
    TSerialSession* SerialLink() override;
    std::unique_ptr<TBoardLink> TelnetLink(const TBoardParams& params) override;
    QString TelnetTarget(const TBoardParams& params) const override;

    // The status bar's next MAC address, as the settings file and the ledger have it now, and
    // the open site plan with the row the next write takes.
    void ShowNextAddress();
    // The scan field's serial (a barcode scanner types it and Enter): the next write takes the
    // plan's row of that serial; one the plan cannot give is refused at once, in the log.
    void TakeScannedSerial();
    // A write; with a scanned serial it takes that serial's row, which is used up once a write
    // reached the board.
    void WriteTakingPlanRow(TLinkKind link, bool withMac);
    // Once a second between commands: what another process or station changed in the ledger
    // or the counter reaches the status bar and the record window.
    void FollowLedger();
    // The status bar's busy sign: the running command's name, and that a close will follow.
    void ShowBusy();

    void BuildWindow();
    // F10 and Alt alone reach the menu bar.
    void BindMenuKeys();
    // The status bar's address and scan field get room for their longest texts.
    void SizeStatusFields();
    void BuildMenus();
    void BuildToolBar();
    void BindFunctionKeys();
    QAction* AddItem(class QMenu* menu, const QString& name, const QString& caption,
                     void (TMainWindow::*handler)());
    // Runs the handler of a menu item as a command.
    void RunItem(const QString& item, void (TMainWindow::*handler)());
    void SaveSettingsOnClose();
    // Destroys the serial session, if there is one (closing its port).
    void ReleaseSerialSession();

    QString iniPath_;
    TBoardParams params_;
    QPlainTextEdit* logView_ = nullptr;
    std::unique_ptr<TWindowLog> log_;
    TAboutBox* aboutBox_ = nullptr;                  // a child, made at its first showing
    std::unique_ptr<TSerialSession> serialSession_;  // released by ReleaseSerialSession()
    QLabel* nextAddress_ = nullptr;                  // in the status bar
    QLabel* planText_ = nullptr;                     // in the status bar while a site plan is open
    class QLineEdit* scanField_ = nullptr;           // likewise
    QString scannedSerial_;                  // taken from the scan field, for the next write
    QLabel* busyText_ = nullptr;             // in the status bar while a command is at work
    class QProgressBar* busyBar_ = nullptr;  // likewise
    QString runningCaption_;
    bool busy_ = false;
    TRecordWindow* recordWindow_ = nullptr;  // a child window, made on first use
    const TLedger* followed_ = nullptr;      // the ledger FollowLedger watches
    QString ledgerStamp_;                    // its change stamp at the last look

    // An error that arose inside the running command but must not stop it (the MAC counter's
    // save); shown in the error box when the command ends.
    QString pendingError_;
    std::unique_ptr<TCommandRunner> runner_;
    bool running_ = false;
    bool started_ = false;  // FinishStart has run
    bool closePending_ = false;
    bool closing_ = false;
};
