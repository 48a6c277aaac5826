// netboard-cli's log pane: standard output (standard error with --json), one output line per log
// line, written at once.
// Emptying the pane prints nothing; it only starts the line count afresh, so that the writers'
// limits behave as they do on the window's pane.
//
// Thread rules: GUI thread only.
#pragma once

#include "core/logpane.h"

class TStdoutLog : public TLogPane {
  public:
    int LineCount() const override { return count_; }
    void Clear() override { count_ = 0; }
    // Writes `text` and a line break to standard output (PrintLine).
    void Append(const QString& text) override;

  private:
    int count_ = 0;
};
