#include "support/simprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QUuid>
#include <cerrno>
#include <csignal>
#include <vector>

SimProcess::SimProcess(const QStringList& args) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::vector<QByteArray> store;
    store.push_back(QByteArray(NB_SIM_PATH));
    for (const QString& a : args)
        store.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipefd[1], 1);
        execv(argv[0], argv.data());
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
