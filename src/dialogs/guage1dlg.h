// The progress dialog: a small window shown without blocking, with a text line, a progress
// bar on a lowered panel and a Cancel button. Its caller keeps the GUI running and polls
// Running(), which turns false once Cancel has been pressed.
//
// It has no system menu and no close box; Escape and a close request from the window system
// count as Cancel, so the window never goes away behind its caller's back.
//
// Thread rules: GUI thread only.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

class TGuage1Dlg : public QDialog {
    Q_OBJECT

  public:
    explicit TGuage1Dlg(QWidget* parent = nullptr);

    // True when created and whenever shown; false once Cancel has been pressed.
    bool Running() const { return running_; }

    QLabel* Label1() const { return label1_; }
    QFrame* Panel2() const { return panel2_; }
    QProgressBar* ProgressBar1() const { return progressBar1_; }
    QPushButton* Button1() const { return button1_; }

    void reject() override;  // Escape: Cancel

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void Button1Click();

    QLabel* label1_ = nullptr;
    QFrame* panel2_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    QPushButton* button1_ = nullptr;
    bool running_ = true;
};
