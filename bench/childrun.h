// Child processes of the benches: a whole run measured under GNU time, and netboard-sim for as
// long as an object lives.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct TChildRun {
    double ms;         // wall time, time's own start included (the same for every run)
    double maxRssMiB;  // peak RSS as GNU time reports it
};

// Runs `command` (the program, then its arguments) under GNU time to its end. A child of this
// process would count this process's pages in its own peak; one of time's does not.
TChildRun MeasureUnderTime(const QStringList& command);

// netboard-sim with `args`, up once it has printed its first line (terminal or address).
class TSimChild {
  public:
    explicit TSimChild(const QStringList& args);
    ~TSimChild();
    const QString& First() const { return first_; }

  private:
    QProcess sim_;
    QString first_;
};
