// The telnet session's window, which the telnet test command shows modally around an open
// session: a fixed-size dialog centred on the screen, caption "テルネットの制御", with "OK" (the
// default) and "キャンセル". Every close of it (either button, Esc, the close box) disconnects the
// session; the session itself stays the command's to release.
//
// Thread rules: GUI thread only.
#pragma once

#include <QDialog>

class TTelnetSession;

class TTelnetWindow : public QDialog {
    Q_OBJECT

  public:
    // `session` must outlive the window.
    explicit TTelnetWindow(TTelnetSession* session, QWidget* parent = nullptr);

    TTelnetSession* Session() const { return session_; }

  protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    TTelnetSession* session_;
};
