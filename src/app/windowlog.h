// The main window's log pane: its editable multi-line text field as a log.
//
// Every appended line ends with a line break, so an empty field holds 0 lines and a field
// holding one empty line holds 1. Text the operator types counts by the same rule.
//
// Thread rules: GUI thread only.
#pragma once

#include <QStringList>

#include "core/logpane.h"

class QPlainTextEdit;

class TWindowLog : public TLogPane {
  public:
    explicit TWindowLog(QPlainTextEdit* memo) : memo_(memo) {}

    int LineCount() const override;
    void Clear() override;
    // Appends `text` as a new last line and keeps it in view.
    void Append(const QString& text) override;

    QStringList Lines() const;

  private:
    QPlainTextEdit* memo_;
};
