// Runs netboard-sim as a separate process for end-to-end tests.
#pragma once

#include <sys/types.h>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The argument vector of an exec call: `program`, then `args`, then the closing null; valid
// while the holder lives.
class ExecArgv {
  public:
    ExecArgv(const QByteArray& program, const QStringList& args);
    char** Data() { return argv_.data(); }

  private:
    std::vector<QByteArray> store_;
    std::vector<char*> argv_;
};

class SimProcess {
  public:
    // Starts "netboard-sim <args>" and waits (up to 10 s) for the first line it prints on its
    // standard output (the terminal path, or the address it listens on). Fails the current test
    // when it does not start.
    explicit SimProcess(const QStringList& args);
    ~SimProcess();  // kills the process and reaps it
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return pid_ > 0 && !firstLine_.isEmpty(); }
    const QString& FirstLine() const { return firstLine_; }
    pid_t Pid() const { return pid_; }
    // Stops the process (SIGTERM, then SIGKILL after 2 s) and returns its exit status.
    int Stop();

  private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    QString firstLine_;
};

// A fresh temporary file path for transcripts (removed at process exit is not needed: tests
// remove it themselves).
QString TempPath(const QString& stem);
