// The write commands through the main window against netboard-sim serial, which answers at
// once: F2 (the wake line, "madr=", the ten setting lines, "save" and "exit") and F5 (the same
// without "madr=" and without the settings save that follows the MAC address increment), timed
// from the dialog's confirmation to the banner, per line sent. Set against a bare client that
// sends the same lines on the same terminal and reads the same answers, to tell the board and
// the terminal from our own code; the settings save is also timed on its own.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/mainwindow.h"
#include "benches.h"
#include "board/commandline.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "dialogs/dialogs.h"

namespace {

constexpr int kRounds = 200;
// The wake line, "madr=", ten settings, "save" and "exit".
constexpr int kLinesPerWrite = 14;

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Figures {
    double median, p90, max;
};

Figures Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() * 9 / 10], v.back()};
}

void Print(const char* what, const Figures& f) {
    std::printf("  %-44s median %7.3f  p90 %7.3f  max %7.3f ms\n", what, f.median, f.p90, f.max);
}

// The same exchange as the write, by hand: each line, then the bytes of its echo and answer.
bool BareWrite(int fd, const TBoardParams& p) {
    std::vector<QByteArray> lines{kWakeLine, BuildCommandLine("madr=", p)};
    for (const char* k : kSettingOrder)
        lines.push_back(BuildCommandLine(k, p));
    lines.push_back(BuildCommandLine("save", p));
    for (const QByteArray& line : lines) {
        if (write(fd, line.constData(), line.size()) != line.size())
            return false;
        // The echo, the prompt and (but after the wake line) "OK".
        const qsizetype want = line.size() + (line == kWakeLine ? 1 : 3);
        qsizetype got = 0;
        char buf[256];
        while (got < want) {
            pollfd pf{fd, POLLIN, 0};
            if (poll(&pf, 1, 2000) <= 0)
                return false;
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            got += n;
        }
    }
    const QByteArray exit = BuildCommandLine("exit", p);
    return write(fd, exit.constData(), exit.size()) == exit.size();
}

struct Runs {
    std::vector<double> wall, cpu;  // per line
    int failed = 0;
};

// Pumps events for `ms`: what the operator's pause between two boards gives the link, so that
// the echo of the unawaited "exit" is in before the next write starts.
void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Times `kRounds` runs of a write command (after one that opens the port and warms up) from the
// dialog's confirmation to the banner.
Runs TimeWrites(TMainWindow& form, void (TMainWindow::*command)(), int lines) {
    const QString banner = QString::fromUtf8(kBannerOk);
    double confirmed = 0, cpu0 = 0, bannerAt = 0;
    QMetaObject::Connection logged =
        QObject::connect(form.LogView(), &QPlainTextEdit::textChanged, [&] { bannerAt = NowMs(); });
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<TSettingsDialog*>(QApplication::activeModalWidget())) {
            cpu0 = CpuMs();
            confirmed = NowMs();
            d->findChild<QPushButton*>("OKBtn")->click();
        }
    });
    answer.start();
    Runs r;
    for (int i = 0; i <= kRounds; ++i) {
        form.RunCommand([&] { (form.*command)(); });
        const double cpu = CpuMs() - cpu0;
        if (form.LogPane()->Lines().last() != banner) {
            if (!r.failed++) {  // the first failure's log, to tell why
                const QStringList log = form.LogPane()->Lines();
                std::printf(
                    "procedures: a write failed: %s\n",
                    qPrintable(log.mid(std::max<qsizetype>(0, log.size() - 6)).join(" | ")));
            }
        } else if (i > 0) {
            r.wall.push_back((bannerAt - confirmed) / lines);
            r.cpu.push_back(cpu / lines);
        }
        Idle(50);
    }
    QObject::disconnect(logged);
    return r;
}

}  // namespace

int RunProceduresBench() {
    QProcess sim;
    sim.start(QStringLiteral(NB_SIM_PATH), {QStringLiteral("serial")});
    if (!sim.waitForReadyRead(5000)) {
        std::printf("procedures: netboard-sim does not start\n");
        return 1;
    }
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QTemporaryDir dir;
    const QString ini = dir.filePath("bench.ini");
    {
        TIniFile f(ini);
        f.WriteString("ComPorts", "COM1", device);
        f.UpdateFile();
    }
    Runs withMac, withoutMac;
    std::vector<double> bare, save;
    {
        TMainWindow form(ini);
        TBoardParams& p = form.Params();
        p.ComPort = 1;
        p.TCPIP1_1 = 127;
        p.TCPIP1_2 = 0;
        p.TCPIP1_3 = 8;
        p.TCPIP1_4 = 100;
        withMac = TimeWrites(form, &TMainWindow::WriteWithMac, kLinesPerWrite);
        withoutMac = TimeWrites(form, &TMainWindow::WriteWithoutMac, kLinesPerWrite - 1);
        for (int i = 0; i < kRounds; ++i) {
            const double t0 = NowMs();
            SaveSettings(ini, p);
            save.push_back(NowMs() - t0);
        }
    }
    // The window has closed the port; the bare client takes it.
    const int fd = open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        std::printf("procedures: the terminal does not open\n");
        return 1;
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const TBoardParams p;
    for (int i = 0; i <= kRounds; ++i) {
        usleep(50000);  // the echo of "exit" is in, and goes
        tcflush(fd, TCIOFLUSH);
        const double t0 = NowMs();
        if (!BareWrite(fd, p))
            break;
        if (i > 0)
            bare.push_back((NowMs() - t0) / kLinesPerWrite);
    }
    close(fd);
    sim.kill();
    sim.waitForFinished();

    const int failed = withMac.failed + withoutMac.failed;
    if (failed || bare.size() != kRounds) {
        std::printf("procedures: %d writes failed, %zu of %d bare exchanges done\n", failed,
                    bare.size(), kRounds);
        return 1;
    }
    std::printf("procedures: writes against netboard-sim serial, %d rounds each, per line sent:\n",
                kRounds);
    const Figures b = Of(bare), f2 = Of(withMac.wall), f5 = Of(withoutMac.wall);
    auto ours = [&](const Figures& f) {
        return Figures{f.median - b.median, f.p90 - b.median, f.max - b.median};
    };
    Print("F2 confirmation -> banner (wall)", f2);
    Print("F2 CPU of this process", Of(withMac.cpu));
    Print("F5 confirmation -> banner (wall)", f5);
    Print("F5 CPU of this process", Of(withoutMac.cpu));
    Print("bare client, same exchange (wall)", b);
    Print("ours in F2: wall minus the bare median", ours(f2));
    Print("ours in F5: wall minus the bare median", ours(f5));
    Print("one settings save with fsync (F2 only)", Of(save));
    const double own = f2.median - b.median;
    std::printf("  our own cost per line in F2, median %.3f ms (goal under 1 ms): %s\n", own,
                own < 1.0 ? "met" : "MISSED");
    return own < 1.0 ? 0 : 1;
}
