// The telnet session's window, which the telnet test command shows modally around an open
// session: a fixed-size dialog centred on the screen, caption "テルネットの制御", with "OK" (the
// default) and "キャンセル". Every close of it (either button, Esc, the close box) disconnects the
// session; the session itself stays the command's to release.
//
// Thread rules: GUI thread only.
#pragma once

#include <QDialog>

class TTelNetCont1Dlg;

class TTelnetWindow : public QDialog {
    Q_OBJECT

  public:
    // `session` must outlive the window.
    explicit TTelnetWindow(TTelNetCont1Dlg* session, QWidget* parent = nullptr);

    TTelNetCont1Dlg* Session() const { return session_; }

  protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    TTelNetCont1Dlg* session_;
};
