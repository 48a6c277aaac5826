#include "core/logpane.h"

TLogPane::~TLogPane() = default;

void TLogPane::AddLine(const QString& text, int limit) {
    if (LineCount() >= limit)
        Clear();
    Append(text);
}
