#include "support/cliprocess.h"

#include <pwd.h>
#include <unistd.h>
#include <QProcess>

const QStringList kDisplayVariables = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

QProcessEnvironment WithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : kDisplayVariables)
        env.remove(name);
    return env;
}

TCliProcessRun RunNetboardCli(const QStringList& args, bool asNobody) {
    QProcess p;
    p.setProcessEnvironment(WithoutDisplay());
    if (asNobody) {
        p.setChildProcessModifier([] {
            const passwd* pw = getpwnam("nobody");
            if (!pw || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0)
                _exit(126);
        });
    }
    p.start(QStringLiteral(NB_CLI_PATH), args);
    TCliProcessRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ended = true;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
