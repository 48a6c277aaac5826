// The log pane: where every procedure and link writes its lines. The main window's text pane is
// one implementation, netboard-cli's standard output another; links and procedures know only
// this interface.
//
// Lines are counted the way a line list counts them: an empty pane holds 0 lines. An
// implementation may hold lines that did not come through Append (text the operator typed);
// LineCount counts those too.
//
// Thread rules: GUI thread only. Links hold a plain pointer; the owner of the pane outlives
// every link that writes to it.
#pragma once

#include <QString>

class TLogPane {
  public:
    TLogPane() = default;
    virtual ~TLogPane();
    TLogPane(const TLogPane&) = delete;
    TLogPane& operator=(const TLogPane&) = delete;

    virtual int LineCount() const = 0;
    virtual void Clear() = 0;
    // Appends `text` as a new last line.
    virtual void Append(const QString& text) = 0;
    // Empties the pane when it already holds `limit` lines or more, then appends `text`.
    void AddLine(const QString& text, int limit);
};

// Line limits of the panes' writers.
inline constexpr int kMainLogLimit = 1000;  // main window and serial session
inline constexpr int kLinkLogLimit = 250;   // telnet session and reader link
