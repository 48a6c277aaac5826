// One run of netboard-cli: opens the link, runs the command the way the main window does (the
// same procedures, record lines, MAC counter and guard), without any dialog, and gives the
// exit status. Log lines go to standard output, one per line (with --json to standard error);
// problems to standard error.
//
// Thread rules: GUI thread only, after the QCoreApplication exists (the links' waits process
// its events).
#pragma once

#include <QString>

struct TCliArgs;

inline constexpr int kExitOk = 0;
inline constexpr int kExitNg = 1;
inline constexpr int kExitUsage = 2;  // also a link that cannot be opened

// `iniPath` is the settings file to use (the --ini file or the default one). With --json the
// run's JSON document is written at its end, whatever it came to.
int RunCli(const TCliArgs& args, const QString& iniPath);
// A line that does not run: `message` on standard error and, with --json, the JSON document
// with "command", `result` ("usage" or "refused") and the message as "error". Gives the usage
// error's status.
int RefuseLine(const TCliArgs& args, const char* result, const QString& message);
