// The progress dialog: a small window shown without blocking, with a text line, a progress
// bar on a lowered panel and a Cancel button. Its caller keeps the GUI running and polls
// Running(), which turns false once Cancel has been pressed.
//
// It has no system menu and no close box. Window managers may add both to any window with a
// title bar whatever the window asks for, so the window has no frame from the window system:
// it draws its own raised border and caption strip (the strip also moves the window when
// dragged). Escape and a close request from the window system count as Cancel, so the window
// never goes away behind its caller's back. It is centred on the screen and keeps its size.
//
// Thread rules: GUI thread only.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

class TProgressDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TProgressDialog(QWidget* parent = nullptr);

    // True when created and whenever shown; false once Cancel has been pressed.
    bool Running() const { return running_; }

    QLabel* Message() const { return message_; }
    QFrame* Panel() const { return panel_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The caption strip, showing the window title.
    QLabel* Caption() const { return caption_; }

    void reject() override;  // Cancel, and Escape

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLabel* caption_ = nullptr;
    QLabel* message_ = nullptr;
    QFrame* panel_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool running_ = true;
};
