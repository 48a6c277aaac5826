// A PostgreSQL server of its own for tests and benchmarks: initdb into a temporary folder, a
// server listening only on a Unix socket in that folder, run as an unprivileged user (the tests
// run as root, whom the server refuses), stopped and removed when the object goes. The server is
// this process's child and is told to quit when this process dies, so a crashed or killed test
// leaves no server behind.
//
// Thread rules: one thread (it starts processes and waits for them).
#pragma once

#include <sys/types.h>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PgServer {
  public:
    // initdb and start; Error() says what failed. `durable` keeps fsync on (benchmarks).
    explicit PgServer(bool durable = false);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    const QString& Error() const { return error_; }
    bool Running() const { return pid_ > 0; }
    // Starts the server (again) on the same data; false with Error() when it does not come up.
    bool Start();
    // A fast shutdown: open sessions are ended, the server is gone when this returns.
    void Stop();
    // Stops (SIGSTOP) or resumes every process of the server: a server whose machine hangs
    // keeps its connections up and answers nothing.
    void Pause(bool paused);

    // A new database owned by the role "netboard" (what an administrator sets up); the URI a
    // station's settings file names it with.
    QString CreateDatabase(const QString& name);
    QString Uri(const QString& database) const;
    // Runs `sql` in `database` as the superuser; its output (rows unaligned, "|" between
    // fields), or a null string when it failed.
    QString Sql(const QString& database, const QString& sql);

    // The binaries' folder, /usr/lib/postgresql/<newest>/bin; empty when none is installed.
    static QString BinDir();

  private:
    QTemporaryDir dir_;
    QString bin_;
    QString error_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool durable_;
    pid_t pid_ = -1;
};
