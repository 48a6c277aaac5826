// The telnet write without the MAC address (F6) through the main window, against netboard-sim
// telnet answering at once (port 23 of 127.0.9.2, so run as root): the time from the
// confirmation of the board parameter dialog to the banner, set against its floor, the 100 ms
// pause after the wake line plus the twelve round trips (wake line, ten settings, "save") of a
// bare client that writes each line in one write, measured in the same run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/mainwindow.h"
#include "bareclient.h"
#include "benches.h"
#include "board/commandline.h"
#include "core/inifile.h"
#include "dialogs/dialogs.h"
#include "telnet/telnetfilter.h"

namespace {

const char* const kBoard = "127.0.9.2";
constexpr double kPauseMs = 100;  // the plain sleep after the wake line
constexpr int kCommandRuns = 20;

// netboard-sim telnet at kBoard, up once it has printed its address; stopped on destruction.
struct SimBoard {
    pid_t pid = -1;
    bool up = false;
    SimBoard() {
        int p[2];
        if (pipe(p) != 0)
            return;
        const char* argv[] = {NB_SIM_PATH, "telnet", "--address", kBoard, "--port", "23", nullptr};
        pid = fork();
        if (pid == 0) {
            dup2(p[1], 1);
            execv(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        close(p[1]);
        char c;
        pollfd pf{p[0], POLLIN, 0};
        while (!up && poll(&pf, 1, 5000) > 0 && read(p[0], &c, 1) == 1)
            up = c == '\n';
        close(p[0]);
    }
    ~SimBoard() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// One F6 through the window, the dialog confirmed from a timer. Fills the times of the
// procedure's outcome lines and of the banner, in ms after the confirmation; false when the
// banner is not the OK one.
bool RunF6(TMainWindow* form, std::vector<double>* lineMs) {
    lineMs->clear();
    double confirmed = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<TSettingsDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            confirmed = NowMs();
            d->findChild<QPushButton*>("OKBtn")->click();
        }
    });
    answer.start(1);
    const QString banner = QString::fromUtf8(kBannerOk);
    QTextDocument* doc = form->LogView()->document();
    const auto stamp = QObject::connect(doc, &QTextDocument::contentsChanged, [&] {
        // Every line ends with a line break: the line just added is the one before the last.
        const QString line = doc->lastBlock().previous().text();
        if (confirmed > 0 && (line.endsWith(QLatin1String("OK!!")) || line == banner))
            lineMs->push_back(NowMs() - confirmed);
    });
    form->LogPane()->Clear();
    form->RunCommand([&] { form->WriteOverTelnet(); });
    QObject::disconnect(stamp);
    return form->LogPane()->Lines().contains(banner);
}

// The floor: the bare client, each line in one write and without Nagle's wait (the login's
// negotiation answers would otherwise hold the password line and the wake line back). Returns
// the twelve round trips in ms (empty on a failure).
std::vector<double> FloorRoundTrips(const TBoardParams& p) {
    TBareTelnet client(kBoard, true);
    std::vector<double> trips;
    bool ok = client.Login(p.TelnetPass.toLatin1());
    const auto exchange = [&](const QByteArray& line, const QByteArray& expected) {
        const double ms = ok ? client.Exchange(line, expected) : -1;
        ok = ms >= 0;
        trips.push_back(ms);
    };
    exchange(kWakeLine, ">");
    for (const char* k : kSettingOrder)
        exchange(BuildCommandLine(k, p), ">OK");
    exchange(BuildCommandLine("save", p), ">OK");
    if (!ok)
        trips.clear();
    return trips;
}

}  // namespace

int RunTelnetCommandBench() {
    SimBoard board;
    if (!board.up) {
        std::printf("telnet-command: netboard-sim did not start (port 23 needs root)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString ini = dir.filePath("netboard-config.ini");
    {
        TIniFile f(ini);
        const int own[] = {127, 0, 9, 2};
        for (int i = 0; i < 4; ++i)
            f.WriteInteger("Option", QStringLiteral("TCPIP1_%1").arg(i + 1), own[i]);
        f.WriteInteger("Option", "fDispRecInfo", 0);
        f.UpdateFile();
    }
    TMainWindow form(ini);

    // F6's run: confirmation to banner, and its parts from the log lines' times: the first
    // outcome line comes after the wake line, the pause and "l_ip="; each later one after one
    // line's round trip (ten lines up to "save"); the banner follows "SAVE　OK!!".
    const char* const modes[] = {"logging off", "logging on"};
    for (int logging = 0; logging < 2; ++logging) {
        form.Params().fDispRecInfo = logging;
        std::vector<double> total, first, perLine, floorTotal, floorFirst, floorLine, banner;
        std::vector<double> stamps;
        bool ok = RunF6(&form, &stamps);  // warm-up
        FloorRoundTrips(form.Params());
        for (int i = 0; i < kCommandRuns && ok; ++i) {
            ok = RunF6(&form, &stamps) && stamps.size() == 12;
            const std::vector<double> trips = FloorRoundTrips(form.Params());
            ok = ok && trips.size() == 12;
            if (!ok)
                break;
            total.push_back(stamps[11]);
            first.push_back(stamps[0]);
            for (size_t j = 1; j < 11; ++j)
                perLine.push_back(stamps[j] - stamps[j - 1]);
            banner.push_back(stamps[11] - stamps[10]);
            double sum = 0;
            for (double r : trips)
                sum += r;
            floorTotal.push_back(kPauseMs + sum);
            floorFirst.push_back(kPauseMs + trips[0] + trips[1]);
            for (size_t j = 2; j < trips.size(); ++j)
                floorLine.push_back(trips[j]);
        }
        if (!ok) {
            std::printf("telnet-command: a run failed (%s)\n", modes[logging]);
            return 1;
        }
        const double t = Median(total), f = Median(floorTotal);
        std::printf(
            "telnet-command: F6 confirmation to banner (%s): median %.2f ms (min %.2f) over %d "
            "runs; floor (100 ms pause + 12 round trips, one write per line) median %.2f ms; "
            "ratio %.3f (goal <= 1.2)\n",
            modes[logging], t, *std::min_element(total.begin(), total.end()), kCommandRuns, f,
            t / f);
        std::printf(
            "telnet-command:   wake line, pause and l_ip: %.2f ms (floor %.2f); each line from "
            "l_pt to save: median %.2f ms (floor %.3f); banner after save: %.3f ms\n",
            Median(first), Median(floorFirst), Median(perLine), Median(floorLine), Median(banner));
    }
    return 0;
}
