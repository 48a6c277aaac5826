// netboard-cli: the configuration commands without a window, for production lines. See
// kCliHelp for the command line.
#include <fcntl.h>
#include <unistd.h>
#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <csignal>

#include "cli/cliargs.h"
#include "cli/clirun.h"
#include "cli/output.h"
#include "core/inifile.h"
#include "runner/commandrunner.h"
#include "version.h"

namespace {

// Qt's debug notes and warnings are not this program's messages: standard error carries only
// its own lines and Qt's real errors.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        PrintError(text);
}

}  // namespace

int main(int argc, char** argv) {
    // Output to a pipe whose reader has gone (a script cut short, "| head") must not kill the
    // run between the board's "save" and the saved counter and record line.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard descriptor the caller closed would be taken by the next file opened (the
    // ledger, the serial port), and log lines would be written into it: /dev/null holds its
    // place. Output that had nowhere to go still makes the run NG.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
                return kExitNg;
            if (fd == 1)
                LoseOutput(EBADF);
        }
    }
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    TCliArgs parsed;
    QString error;
    const bool parsedOk = ParseCliArgs(args, &parsed, &error);
    // With --json anywhere on the line, standard output holds one JSON document and nothing
    // else, a usage error's too.
    if (parsed.json)
        KeepOutputForJson();
    if (!parsedOk)
        return RefuseLine(parsed, "usage", error + QStringLiteral(" (--help lists the usage)"));
    if (parsed.help || parsed.version) {
        // The version is the build's project version.
        const QString version = QString::fromLatin1(nb::version::FileVersion);
        QJsonObject json{{QStringLiteral("command"), QString()},
                         {QStringLiteral("result"), QStringLiteral("OK")}};
        if (parsed.help)
            json[QStringLiteral("help")] = QString::fromUtf8(kCliHelp);
        else
            json[QStringLiteral("version")] = version;
        if (parsed.json)
            WriteJson(json);
        else
            WriteOut(parsed.help ? QByteArray(kCliHelp)
                                 : "netboard-cli " + version.toUtf8() + '\n');
        return OutputError().isEmpty() ? kExitOk : kExitNg;
    }
    if (!parsed.ini.isEmpty() && !QFileInfo(parsed.ini).isFile()) {
        // A mistyped name must not start a fresh MAC counter and an empty record.
        return RefuseLine(parsed, "refused",
                          QStringLiteral("settings file %1 not found").arg(parsed.ini));
    }
    // The links need an event loop, never a window system.
    qInstallMessageHandler(QtMessages);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netboard-cli"));
    // Without --ini, the window's settings file: the same counter, ports and record.
    const QString ini = parsed.ini.isEmpty() ? DefaultIniPath() : parsed.ini;
    // What a save killed half-way left behind.
    RemoveStaleTemporaries(ini);
    if (!QFileInfo(ini).isFile()) {
        // The built-in settings point at a real board's address and a fresh counter: nothing is
        // written to a board with them. A read may go on, saying so.
        if (parsed.command == TCliCommand::Write || parsed.command == TCliCommand::MacRewrite) {
            return RefuseLine(parsed, "refused",
                              QStringLiteral("settings file %1 not found; give the station's "
                                             "settings file with --ini FILE")
                                  .arg(ini));
        }
        PrintError(
            QStringLiteral("settings file %1 not found; the built-in settings are used").arg(ini));
    }
    return RunCli(parsed, ini);
}
