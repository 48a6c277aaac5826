#include "support/pgserver.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

namespace {

// The server's user: Debian's postgres when the server package made it, else nobody.
const passwd* ServerUser() {
    const passwd* pw = getpwnam("postgres");
    return pw ? pw : getpwnam("nobody");
}

}  // namespace

QString PgServer::BinDir() {
    QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
        if (QFile::exists(bin + QStringLiteral("/postgres")))
            return bin;
    }
    return {};
}

PgServer::PgServer(bool durable) : bin_(BinDir()), durable_(durable) {
    const passwd* pw = ServerUser();
    if (bin_.isEmpty() || !pw || !dir_.isValid()) {
        error_ = QStringLiteral("no PostgreSQL server binaries under /usr/lib/postgresql/*/bin");
        return;
    }
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    if (chown(QFile::encodeName(dir_.path()).constData(), uid_, gid_) != 0) {
        error_ = QStringLiteral("cannot give %1 to the server's user").arg(dir_.path());
        return;
    }
    QProcess initdb;
    const uid_t uid = uid_;
    const gid_t gid = gid_;
    initdb.setChildProcessModifier([uid, gid] {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(126);
    });
    initdb.setWorkingDirectory(dir_.path());
    initdb.start(bin_ + QStringLiteral("/initdb"),
                 {"-D", dir_.filePath("data"), "-U", "postgres", "--auth=trust", "-E", "UTF8",
                  "--no-locale", "--no-sync"});
    if (!initdb.waitForFinished(120000) || initdb.exitCode() != 0) {
        error_ = QStringLiteral("initdb failed: ") +
                 QString::fromLocal8Bit(initdb.readAllStandardError());
        return;
    }
    if (Start())
        Sql("postgres", "CREATE ROLE netboard LOGIN");
}

PgServer::~PgServer() {
    Stop();
}

bool PgServer::Start() {
    if (pid_ > 0)
        return true;
    const QByteArray program = QFile::encodeName(bin_ + QStringLiteral("/postgres"));
    const QByteArray data = QFile::encodeName(dir_.filePath("data"));
    const QByteArray socketDir = QFile::encodeName(dir_.path());
    const QByteArray fsync = durable_ ? "fsync=on" : "fsync=off";
    const char* const argv[] = {program.constData(),   "-D", data.constData(),     "-k",
                                socketDir.constData(), "-c", "listen_addresses=",  "-c",
                                fsync.constData(),     "-c", "max_connections=60", nullptr};
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0)
            _exit(126);
        // After the change of user, which clears it: the server quits with this process.
        prctl(PR_SET_PDEATHSIG, SIGQUIT);
        if (getppid() != parent)
            _exit(127);
        // The server's log goes to a file of its own, not into the test's output.
        if (chdir(socketDir.constData()) != 0)
            _exit(127);
        const int log = open("server.log", O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
            _exit(127);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    if (pid_ < 0) {
        error_ = QStringLiteral("fork failed");
        return false;
    }
    // Up once it answers a query, within 30 s.
    for (int waited = 0; waited < 30000; waited += 100) {
        if (!Sql("postgres", "SELECT 1").isNull())
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = QStringLiteral("the server exited at its start");
            return false;
        }
        QThread::msleep(100);
    }
    error_ = QStringLiteral("the server did not come up within 30 s");
    Stop();
    return false;
}

void PgServer::Pause(bool paused) {
    if (pid_ <= 0)
        return;
    // The server first, so that it forks no backend after the list below is read; then its
    // children (each in a session of its own): the sessions' backends too.
    if (paused)
        kill(pid_, SIGSTOP);
    QList<pid_t> pids{pid_};
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1].toInt() == pid_)
            pids << entry.toInt();
    }
    for (pid_t p : pids)
        kill(p, paused ? SIGSTOP : SIGCONT);
}

void PgServer::Stop() {
    if (pid_ <= 0)
        return;
    Pause(false);        // a stopped server takes no signal but this one
    kill(pid_, SIGINT);  // fast shutdown
    int status = 0;
    for (int waited = 0; waited < 30000 && waitpid(pid_, &status, WNOHANG) == 0; waited += 10)
        QThread::msleep(10);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

QString PgServer::Uri(const QString& database) const {
    return QStringLiteral("postgresql://netboard@/%1?host=%2").arg(database, dir_.path());
}

QString PgServer::CreateDatabase(const QString& name) {
    if (Sql("postgres", QStringLiteral("CREATE DATABASE %1 OWNER netboard").arg(name)).isNull())
        return {};
    return Uri(name);
}

QString PgServer::Sql(const QString& database, const QString& sql) {
    QProcess psql;
    psql.start(bin_ + QStringLiteral("/psql"),
               {"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", dir_.path(), "-U",
                "postgres", "-d", database, "-c", sql});
    if (!psql.waitForFinished(60000) || psql.exitStatus() != QProcess::NormalExit ||
        psql.exitCode() != 0)
        return {};
    const QString out = QString::fromUtf8(psql.readAllStandardOutput()).trimmed();
    return out.isNull() ? QStringLiteral("") : out;
}
