// The production ledger at 2 000 000 rows against an empty one: the window's start-up (also
// against a Japanese hello-world window, and on its own with more runs: "startup"), `record
// export` (against sqlite3's CSV), a netboard-cli serial write and the check of the board just
// written (wall time and peak RSS, each run a process of its own, the two ledgers interleaved,
// medians of 21), and one reservation with its row, as a command makes them (two transactions,
// each synced to disk).
#include <unistd.h>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "benches.h"
#include "board/macaddress.h"
#include "board/recordline.h"
#include "childrun.h"
#include "core/inifile.h"
#include "firstpaint.h"
#include "ledger/ledger.h"

namespace {

constexpr int kBigRows = 2000000;
constexpr int kRecordRuns = 21;

// A station folder: the settings file and a ledger holding `rows` rows, made by the import of an
// old CSV record (which is itself one of the figures).
QString MakeStation(const QTemporaryDir& dir, const QString& name, int rows, double* importMs) {
    const QString ini = dir.filePath(name + ".ini");
    {
        TIniFile f(ini);
        f.WriteString("Option", "TCPIP1_1", "127");
        f.WriteString("Option", "TCPIP1_2", "0");
        f.WriteString("Option", "TCPIP1_3", "9");
        f.WriteString("Option", "TCPIP1_4", "1");
        f.UpdateFile();
    }
    QFile csv(RecordCsvBesideIni(ini));
    if (!csv.open(QIODevice::WriteOnly))
        return {};
    csv.write(QByteArray(kRecordHeader) + "\r\n");
    const QDateTime t = QDateTime::currentDateTime().addDays(-1000);
    QByteArray chunk;
    for (int i = 0; i < rows; ++i) {
        const TRecordLine l{t.addSecs(i * 40),    "write-mac",
                            "COM4 /dev/ttyUSB0",  MacTextOfLow((0x200000 + i) % kMacLowCount),
                            "10.16.77.170",       i % 10 != 0,
                            i % 10 ? "" : "mask", QString()};
        chunk += FormatRecordLine(l).toLatin1() + "\r\n";
        if (chunk.size() > (1 << 20)) {
            csv.write(chunk);
            chunk.clear();
        }
    }
    csv.write(chunk);
    csv.close();
    const double start = NowMs();
    TLedger ledger(ini, QStringLiteral("bench"));
    *importMs = NowMs() - start;
    return ini;
}

}  // namespace

// The child of the start-up figure: starts the program as its main does, on `ini`, and ends at
// the main window's first paint.
int RunWindowStartup(const char* ini) {
    const std::unique_ptr<TMainWindow> form = StartProgram(QString::fromLocal8Bit(ini));
    WaitForFirstPaint(form.get());
    return 0;
}

// The window's start alone, on an empty station, against the hello-world window: more runs than
// the record bench makes, interleaved, with the spread of the run-by-run ratios.
int RunStartupBench() {
    constexpr int kRuns = 61;
    QTemporaryDir dir;
    double importMs = 0;
    const QString ini = MakeStation(dir, "empty", 0, &importMs);
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> helloMs, startMs, ratios;
    for (int r = 0; r < kRuns; ++r) {
        helloMs.push_back(MeasureUnderTime({NB_HELLO_WINDOW_PATH}).ms);
        startMs.push_back(MeasureUnderTime({self, "window-startup", ini}).ms);
        ratios.push_back(startMs.back() / helloMs.back());
    }
    std::printf(
        "startup: window to first paint %.1f ms, hello-world window %.1f ms: x%.2f (run by run: "
        "quartiles x%.2f to x%.2f), %d runs each\n",
        Median(startMs), Median(helloMs), Median(startMs) / Median(helloMs), Percentile(ratios, 25),
        Percentile(ratios, 75), kRuns);
    return 0;
}

int RunRecordBench() {
    QTemporaryDir dir;
    double importEmpty = 0;
    double importBig = 0;
    const QString empty = MakeStation(dir, "empty", 0, &importEmpty);
    const QString big = MakeStation(dir, "big", kBigRows, &importBig);
    std::printf("ledger: import of an old record of %d lines %.0f ms\n", kBigRows, importBig);

    // One reservation and its row, as a command makes them, on the big ledger.
    {
        TLedger ledger(big, QStringLiteral("bench"));
        std::vector<double> ms;
        for (int i = 0; i < 100; ++i) {
            const int low = 0x100000 + i;
            const double start = NowMs();
            const TAddressInfo seen = ledger.Lookup(low);
            ledger.Reserve(low, seen, QStringLiteral("write-mac"), TLedger::TCounter::Unchanged);
            ledger.Finish(low,
                          {QDateTime::currentDateTime(), "write-mac", "COM4 /dev/ttyUSB0",
                           MacTextOfLow(low), "10.16.77.170", true, "", QString()},
                          TAddressState::Given, low);
            ms.push_back(NowMs() - start);
        }
        std::printf(
            "ledger: reservation and row (look-up, two synced transactions, counter "
            "save) median %.2f ms, p99 %.2f ms\n",
            Percentile(ms, 50), Percentile(ms, 99));
    }

    // `record export` of the big ledger against sqlite3's own CSV of the same query, to
    // /dev/null, interleaved, medians of 5.
    {
        std::vector<double> ours, theirs;
        const QString db = TLedger::PathBesideIni(big);
        for (int r = 0; r < 5; ++r) {
            ours.push_back(MeasureUnderTime({NB_CLI_PATH, "record", "export", "--ini", big}).ms);
            theirs.push_back(MeasureUnderTime({"sqlite3", "-csv", db,
                                               "SELECT time, command, link, mac, own_ip, "
                                               "result, failed, station FROM commands "
                                               "ORDER BY id"})
                                 .ms);
        }
        std::printf("ledger: record export of %d rows %.0f ms, sqlite3 -csv %.0f ms, x%.2f\n",
                    kBigRows, Median(ours), Median(theirs), Median(ours) / Median(theirs));
    }

    const QString self = QCoreApplication::applicationFilePath();
    const TSimChild sim[2] = {TSimChild({"serial"}), TSimChild({"serial"})};
    const QString inis[2] = {empty, big};
    std::vector<double> startMs[2], startRss[2], writeMs[2], writeRss[2], checkMs[2], checkRss[2],
        helloMs, helloRss;
    for (int r = 0; r < kRecordRuns; ++r) {
        const TChildRun h = MeasureUnderTime({NB_HELLO_WINDOW_PATH});
        helloMs.push_back(h.ms);
        helloRss.push_back(h.maxRssMiB);
        for (int k = 0; k < 2; ++k) {
            const TChildRun s = MeasureUnderTime({self, "window-startup", inis[k]});
            startMs[k].push_back(s.ms);
            startRss[k].push_back(s.maxRssMiB);
            const TChildRun w = MeasureUnderTime({NB_CLI_PATH, "serial", "--device", sim[k].First(),
                                                  "write", "--mac", "--ini", inis[k]});
            writeMs[k].push_back(w.ms);
            writeRss[k].push_back(w.maxRssMiB);
            // The board just written, found by its address among the ledger's rows.
            const TChildRun c = MeasureUnderTime(
                {NB_CLI_PATH, "serial", "--device", sim[k].First(), "check", "--ini", inis[k]});
            checkMs[k].push_back(c.ms);
            checkRss[k].push_back(c.maxRssMiB);
        }
    }
    auto line = [](const char* what, std::vector<double>* ms, std::vector<double>* rss) {
        const double m0 = Median(ms[0]), m1 = Median(ms[1]);
        const double r0 = Median(rss[0]), r1 = Median(rss[1]);
        std::printf(
            "ledger: %-26s empty %7.1f ms %6.1f MiB | %d rows %7.1f ms %6.1f MiB | "
            "x%.2f, %+.1f MiB\n",
            what, m0, r0, kBigRows, m1, r1, m1 / m0, r1 - r0);
    };
    line("window start-up", startMs, startRss);
    std::printf(
        "ledger: window to first paint x%.2f of a Japanese hello-world window (%.1f ms, "
        "%.1f MiB), peak RSS x%.2f\n",
        Median(startMs[0]) / Median(helloMs), Median(helloMs), Median(helloRss),
        Median(startRss[0]) / Median(helloRss));
    line("netboard-cli serial write", writeMs, writeRss);
    line("netboard-cli serial check", checkMs, checkRss);
    return 0;
}
