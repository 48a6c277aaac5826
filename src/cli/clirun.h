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
