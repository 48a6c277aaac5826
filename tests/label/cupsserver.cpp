#include "cupsserver.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>

#include "core/posixio.h"

namespace {

const char* const kFiles[][2] = {
    {"cups-files.conf",
     "ServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\nTempDir %1/tmp\n"
     "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\nErrorLog %1/error_log\nAccessLog "
     "%1/access_log\nPageLog %1/page_log\nFileDevice Yes\nUser lp\nGroup lp\nSystemGroup root\n"},
    {"cupsd.conf",
     "Listen %1/cups.sock\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
     "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"},
    {"printers.conf",
     "<Printer %2>\nDeviceURI file:%1/out/label.pdf\nState Idle\nAccepting Yes\n</Printer>\n"},
    {"ppd/%2.ppd",
     "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: "
     "English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LABEL.PPD\"\n*Manufacturer: \"Test\"\n"
     "*Product: \"(Label)\"\n*ModelName: \"Label\"\n*NickName: \"Label\"\n*ShortNickName: "
     "\"Label\"\n*PSVersion: \"(3010.000) 0\"\n*cupsFilter: \"application/pdf 0 gziptoany\"\n"},
};

bool Answers(const QString& socketPath) {
    TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath).left(sizeof sa.sun_path - 1);
    std::memcpy(sa.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

}  // namespace

bool WaitInFolder(const QString& folder, const std::function<bool()>& done, int ms) {
    TUniqueFd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    inotify_add_watch(watch.Get(), QFile::encodeName(folder).constData(),
                      IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE);
    const QDeadlineTimer deadline(ms);
    char events[4096];
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        pollfd p{watch.Get(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100))) > 0) {
            [[maybe_unused]] const ssize_t n = read(watch.Get(), events, sizeof events);
        }
    }
    return true;
}

CupsServer::CupsServer(const QString& queue) {
    const QDir d(dir_.path());
    for (const char* sub : {"spool", "cache", "state", "tmp", "out", "ppd"})
        d.mkpath(sub);
    for (const auto& file : kFiles) {
        QFile f(d.filePath(QString(file[0]).arg(queue)));
        const QByteArray text = QString(file[1]).arg(dir_.path(), queue).toUtf8();
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            error_ = QStringLiteral("cannot write ") + f.fileName();
    }
    if (!QFile::exists("/usr/sbin/cupsd"))
        error_ = QStringLiteral("no /usr/sbin/cupsd (package cups)");
    if (!error_.isEmpty())
        return;
    const QByteArray conf = QFile::encodeName(d.filePath("cupsd.conf"));
    const QByteArray files = QFile::encodeName(d.filePath("cups-files.conf"));
    const QByteArray log = QFile::encodeName(d.filePath("cupsd.out"));
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0 && dup2(out, 1) >= 0 && dup2(out, 2) >= 0)
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.constData(), "-s", files.constData(),
                  static_cast<char*>(nullptr));
        _exit(127);
    }
    bool exited = false;
    WaitInFolder(
        dir_.path(),
        [&] { return Answers(Socket()) || (exited = waitpid(pid_, nullptr, WNOHANG) == pid_); },
        20000);
    if (exited || !Answers(Socket()))
        error_ = QStringLiteral("cupsd did not come up; see ") + d.filePath("error_log");
    pid_ = exited ? -1 : pid_;
}

CupsServer::~CupsServer() {
    bool exited = pid_ <= 0 || kill(pid_, SIGTERM) != 0;
    WaitInFolder(
        dir_.path(), [&] { return exited = exited || waitpid(pid_, nullptr, WNOHANG); }, 10000);
    if (!exited && kill(pid_, SIGKILL) == 0)
        waitpid(pid_, nullptr, 0);
}

bool CupsServer::WaitForJobsDone() const {
    auto done = [] {
        cups_job_t* jobs = nullptr;
        const int active =
            cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(active, jobs);
        return active == 0;
    };
    return WaitInFolder(dir_.filePath("out"), done, 20000);
}
