// A log pane that keeps its lines in memory, for tests of the links without a window. A text
// with line breaks is as many lines, as on the window's pane.
#pragma once

#include <QStringList>

#include "core/logpane.h"

class TLineLog : public TLogPane {
  public:
    int LineCount() const override { return static_cast<int>(lines_.size()); }
    void Clear() override { lines_.clear(); }
    void Append(const QString& text) override { lines_ += text.split(QLatin1Char('\n')); }
    const QStringList& Lines() const { return lines_; }

  private:
    QStringList lines_;
};
