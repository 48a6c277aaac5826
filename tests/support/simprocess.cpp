#include "support/simprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QUuid>
#include <cerrno>
#include <csignal>
#include <vector>

ExecArgv::ExecArgv(const QByteArray& program, const QStringList& args) {
    store_.push_back(program);
    for (const QString& a : args)
        store_.push_back(a.toLocal8Bit());
    for (QByteArray& a : store_)
        argv_.push_back(a.data());
    argv_.push_back(nullptr);
}

SimProcess::SimProcess(const QStringList& args) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    ExecArgv argv(NB_SIM_PATH, args);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The board goes with the test, also when the test crashes or is killed: a board left
        // behind would hold its address for the next run.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)  // the test ended before the request took hold
            _exit(127);
        dup2(pipefd[1], 1);
        execv(argv.Data()[0], argv.Data());
        _exit(127);
    }
    close(pipefd[1]);
    outFd_ = pipefd[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork failed";
        return;
    }
    // Read the first line, bounded in time.
    QByteArray line;
    for (int waited = 0; waited < 10000;) {
        pollfd p{outFd_, POLLIN, 0};
        const int r = poll(&p, 1, 100);
        if (r == 0) {
            waited += 100;
            continue;
        }
        char c;
        const ssize_t n = read(outFd_, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n') {
            firstLine_ = QString::fromLocal8Bit(line);
            return;
        }
        line.append(c);
    }
    ADD_FAILURE() << "netboard-sim did not start: " << args.join(' ').toStdString();
}

int SimProcess::Stop() {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return status;
        }
        usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

SimProcess::~SimProcess() {
    Stop();
    if (outFd_ >= 0)
        close(outFd_);
}

QString TempPath(const QString& stem) {
    return QDir::temp().filePath(stem + "-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
}
