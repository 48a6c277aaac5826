// The production ledger at 2 000 000 rows against an empty one: the window's start-up and a
// netboard-cli serial write (wall time and peak RSS, each run a process of its own, the two
// ledgers interleaved, medians of 21), and one reservation with its row, as a command makes
// them (two transactions, each synced to disk).
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
#include "benches.h"
#include "board/macaddress.h"
#include "board/recordline.h"
#include "core/inifile.h"
#include "ledger/ledger.h"

namespace {

constexpr int kBigRows = 2000000;
constexpr int kRuns = 21;

struct Run {
    double ms;
    double maxRssMiB;
};

// Runs `program` with `args` to its end: wall time, and peak RSS as GNU time reports it (a
// child of this process would count this process's pages in its own peak; one of time's does
// not). The time includes time's own start, the same for every run.
Run Measure(const QByteArray& program, const QList<QByteArray>& args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QStringList list = {QStringLiteral("-f"), QStringLiteral("maxrss=%M"),
                        QString::fromLocal8Bit(program)};
    for (const QByteArray& a : args)
        list << QString::fromLocal8Bit(a);
    const double start = NowMs();
    p.start(QStringLiteral("/usr/bin/time"), list);
    p.waitForFinished(120000);
    const double ms = NowMs() - start;
    const QByteArray err = p.readAllStandardError();
    const int at = static_cast<int>(err.lastIndexOf("maxrss="));
    if (p.exitCode() != 0 || at < 0)
        std::fprintf(stderr, "  %s: %s\n", program.constData(), err.constData());
    return {ms, at < 0 ? 0 : err.mid(at + 7).trimmed().toDouble() / 1024.0};
}

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

// A board on a pseudo-terminal: netboard-sim serial, for as long as the object lives.
class SimBoard {
  public:
    SimBoard() {
        sim_.start(QStringLiteral(NB_SIM_PATH), {QStringLiteral("serial")});
        sim_.waitForReadyRead(10000);
        path_ = QString::fromLocal8Bit(sim_.readLine()).trimmed();
    }
    ~SimBoard() {
        sim_.kill();
        sim_.waitForFinished();
    }
    const QString& Path() const { return path_; }

  private:
    QProcess sim_;
    QString path_;
};

}  // namespace

// The child of the start-up figure: builds the main window on `ini`, lets it settle, and ends.
int RunWindowStartup(const char* ini) {
    TNetC1AppForm form(QString::fromLocal8Bit(ini));
    form.show();
    QApplication::processEvents();
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
            ledger.Reserve(low, seen, QStringLiteral("write-mac"), false);
            ledger.Finish(low,
                          {QDateTime::currentDateTime(), "write-mac", "COM4 /dev/ttyUSB0",
                           MacTextOfLow(low), "10.16.77.170", true, "", QString()},
                          TAddressState::Given, low);
            ms.push_back(NowMs() - start);
        }
        std::sort(ms.begin(), ms.end());
        std::printf(
            "ledger: reservation and row (look-up, two synced transactions, counter "
            "save) median %.2f ms, p99 %.2f ms\n",
            ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
    }

    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const SimBoard sim[2];
    const QString inis[2] = {empty, big};
    std::vector<double> startMs[2], startRss[2], writeMs[2], writeRss[2];
    for (int r = 0; r < kRuns; ++r) {
        for (int k = 0; k < 2; ++k) {
            const Run s = Measure(self, {"window-startup", QFile::encodeName(inis[k])});
            startMs[k].push_back(s.ms);
            startRss[k].push_back(s.maxRssMiB);
            const Run w =
                Measure(NB_CLI_PATH, {"serial", "--device", sim[k].Path().toLocal8Bit(), "write",
                                      "--mac", "--ini", QFile::encodeName(inis[k])});
            writeMs[k].push_back(w.ms);
            writeRss[k].push_back(w.maxRssMiB);
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
    line("netboard-cli serial write", writeMs, writeRss);
    return 0;
}
