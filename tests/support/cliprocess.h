// netboard-cli as a separate process. It needs no window system: every run is made without a
// display or a Qt platform.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The variables a run is made without.
extern const QStringList kDisplayVariables;
// This process's environment without them.
QProcessEnvironment WithoutDisplay();

struct TCliProcessRun {
    bool ended = false;  // false: killed after 60 s
    int status = -1;     // the exit status; -1 when it ended by a signal or did not end
    QString out;
    QString err;
};
// Runs netboard-cli with `args` to its end; `asNobody` runs it as the user nobody, for whom a
// folder or file of root's is read-only (the tests run as root, who may write anything).
TCliProcessRun RunNetboardCli(const QStringList& args, bool asNobody = false);
