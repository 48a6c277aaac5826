#include "cli/stdoutlog.h"

#include "cli/clirun.h"

void TStdoutLog::Append(const QString& text) {
    PrintLine(text);
    ++count_;
}
