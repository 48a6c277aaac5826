#include "childrun.h"

#include <cstdio>

#include "benches.h"

TChildRun MeasureUnderTime(const QStringList& command) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    const double start = NowMs();
    p.start(QStringLiteral("/usr/bin/time"), QStringList{"-f", "maxrss=%M"} + command);
    p.waitForFinished(120000);
    const double ms = NowMs() - start;
    const QByteArray err = p.readAllStandardError();
    const int at = static_cast<int>(err.lastIndexOf("maxrss="));
    if (p.exitCode() != 0 || at < 0)
        std::fprintf(stderr, "  %s: %s\n", qPrintable(command.join(' ')), err.constData());
    return {ms, at < 0 ? 0 : err.mid(at + 7).trimmed().toDouble() / 1024.0};
}

TSimChild::TSimChild(const QStringList& args) {
    sim_.start(QStringLiteral(NB_SIM_PATH), args);
    sim_.waitForReadyRead(10000);
    first_ = QString::fromLocal8Bit(sim_.readLine()).trimmed();
}

TSimChild::~TSimChild() {
    sim_.kill();
    sim_.waitForFinished();
}
