// The result of printing one label.
//
// Thread rules: none.
#pragma once

#include <QString>

struct TLabelOutcome {
    bool ok = false;
    // What failed, for the record: settings, content, connect, no-answer, closed, malformed,
    // paper-out, head-open, paused, send, pdf, folder, cups. Empty when ok.
    QString fault;
    // For the operator: where the label went, or why it did not.
    QString message;

    static TLabelOutcome Ok(const QString& message) { return {true, {}, message}; }
    static TLabelOutcome Failed(const QString& fault, const QString& message) {
        return {false, fault, message};
    }
};
