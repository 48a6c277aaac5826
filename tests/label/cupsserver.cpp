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

#include "core/posixio.h"

namespace {

const char* const kPpd =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LABEL.PPD\"\n"
    "*Manufacturer: \"Test\"\n*Product: \"(Label)\"\n*ModelName: \"Label\"\n"
    "*NickName: \"Label\"\n*ShortNickName: \"Label\"\n*PSVersion: \"(3010.000) 0\"\n"
    "*cupsFilter: \"application/pdf 0 gziptoany\"\n";

bool Write(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

bool Answers(const QString& socketPath) {
    TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(sa.sun_path, path.constData(), std::min<size_t>(path.size(), 100));
    return connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

}  // namespace

bool WaitInFolder(const QString& folder, const std::function<bool()>& done, int ms) {
    TUniqueFd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    inotify_add_watch(watch.Get(), QFile::encodeName(folder).constData(),
                      IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE);
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        pollfd p{watch.Get(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100))) > 0) {
            char events[4096];
            [[maybe_unused]] const ssize_t n = read(watch.Get(), events, sizeof events);
        }
    }
    return true;
}

CupsServer::CupsServer(const QString& queue) {
    const QDir d(dir_.path());
    for (const char* sub : {"spool", "cache", "state", "log", "tmp", "out", "ppd"})
        d.mkpath(sub);
    const QString files = QStringLiteral(
        "ServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\nTempDir "
        "%1/tmp\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nErrorLog %1/log/error_log\n"
        "AccessLog %1/log/access_log\nPageLog %1/log/page_log\nFileDevice Yes\n"
        "User lp\nGroup lp\nSystemGroup root\n");
    const QString conf = QStringLiteral(
        "Listen %1\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
        "<Location />\nOrder allow,deny\nAllow all\n</Location>\n");
    const QString printers =
        QStringLiteral("<Printer %1>\nDeviceURI file:%2\nState Idle\nAccepting Yes\n</Printer>\n");
    if (!QFile::exists("/usr/sbin/cupsd") || !dir_.isValid() ||
        !Write(d.filePath("cups-files.conf"), files.arg(dir_.path())) ||
        !Write(d.filePath("cupsd.conf"), conf.arg(Socket())) ||
        !Write(d.filePath("printers.conf"), printers.arg(queue, Output())) ||
        !Write(d.filePath("ppd/" + queue + ".ppd"), kPpd)) {
        error_ = QStringLiteral("no /usr/sbin/cupsd, or its folder cannot be made");
        return;
    }
    const QByteArray confPath = QFile::encodeName(d.filePath("cupsd.conf"));
    const QByteArray filesPath = QFile::encodeName(d.filePath("cups-files.conf"));
    const QByteArray log = QFile::encodeName(d.filePath("log/cupsd.out"));
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
            _exit(127);
        execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", confPath.constData(), "-s",
              filesPath.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    bool exited = false;
    const bool up = WaitInFolder(
        dir_.path(),
        [&] { return Answers(Socket()) || (exited = waitpid(pid_, nullptr, WNOHANG) == pid_); },
        20000);
    if (exited)
        pid_ = -1;
    if (!up || exited)
        error_ = QStringLiteral("cupsd did not come up; see %1/log").arg(dir_.path());
}

CupsServer::~CupsServer() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    bool exited = false;
    WaitInFolder(
        dir_.path(), [&] { return exited = waitpid(pid_, nullptr, WNOHANG) != 0; }, 10000);
    if (!exited) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
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
