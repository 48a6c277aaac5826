// The log pane: the main window's editable multi-line text field that every procedure and
// link writes its lines to.
//
// Lines are kept the way a line list counts them: every appended line ends with a line break,
// so an empty pane holds 0 lines and a pane holding one empty line holds 1. Text the operator
// types counts by the same rule.
//
// Thread rules: GUI thread only. Links hold a plain pointer; the main window owns the pane and
// outlives every link.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QPlainTextEdit;

class TLogPane {
  public:
    explicit TLogPane(QPlainTextEdit* memo) : memo_(memo) {}

    int LineCount() const;
    QStringList Lines() const;
    void Clear();
    // Appends `text` as a new last line and keeps it in view.
    void Append(const QString& text);
    // Empties the pane when it already holds `limit` lines or more, then appends `text`.
    void AddLine(const QString& text, int limit);

    QPlainTextEdit* Widget() const { return memo_; }

    // Every appended line is also handed to `echo` (a program without a window prints them).
    void SetEcho(std::function<void(const QString&)> echo) { echo_ = std::move(echo); }

  private:
    QPlainTextEdit* memo_;
    std::function<void(const QString&)> echo_;
};

// Line limits of the panes' writers.
inline constexpr int kMainLogLimit = 1000;  // main window and serial session
inline constexpr int kLinkLogLimit = 250;   // telnet session and reader link
