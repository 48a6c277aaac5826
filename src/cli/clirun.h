// One run of netboard-cli: opens the link, runs the command the way the main window does (the
// same procedures, record lines, MAC counter and guard), without any dialog, and gives the
// exit status. Log lines go to standard output, one per line; problems to standard error.
//
// Thread rules: GUI thread only, after the QCoreApplication exists (the links' waits process
// its events).
#pragma once

#include <QString>

struct TCliArgs;

inline constexpr int kExitOk = 0;
inline constexpr int kExitNg = 1;
inline constexpr int kExitUsage = 2;  // also a link that cannot be opened

// `iniPath` is the settings file to use (the --ini file or the default one).
int RunCli(const TCliArgs& args, const QString& iniPath);

// Writes one line to standard output / one "netboard-cli: " line to standard error, at once,
// control characters written as "\r", "\x00" (and a backslash as "\\"). A failed write to
// standard output makes RunCli's status NG.
void PrintLine(const QString& line);
void PrintError(const QString& line);
// Standard output lost a line (`error` the errno): the run ends NG, naming the cause.
void LoseOutput(int error);
