#include "cli/stdoutlog.h"

#include "cli/output.h"

void TStdoutLog::Append(const QString& text) {
    PrintLine(text);
    ++count_;
}
