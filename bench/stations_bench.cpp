// The shared ledger under load: stations as processes of their own, each with its own settings
// file, on one PostgreSQL server started for the bench (fsync on, a Unix socket). Reservations
// per second with 4 and with 16 stations reserving as fast as they can; then 16 stations
// reserving one address a second each, as a line of operators would, with the latency of one
// reservation (the ledger's calls between a command's start and its first byte) and of the
// reservation with its row (the ledger's whole part of a command), median and p99.
#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "benches.h"
#include "board/macaddress.h"
#include "core/inifile.h"
#include "ledger/ledger.h"
#include "support/pgserver.h"

namespace {

struct Round {
    double perSecond = 0;
    std::vector<double> reserveMs;
    std::vector<double> withRowMs;
    int failed = 0;
};

// Runs `stations` station processes, each making `count` reservations `intervalMs` apart (0: as
// fast as it can), and gathers what they print.
Round RunStations(const QTemporaryDir& dir, const QString& uri, int stations, int count,
                  int intervalMs) {
    std::vector<std::unique_ptr<QProcess>> children;
    for (int n = 0; n < stations; ++n) {
        const QString ini = dir.filePath(QStringLiteral("bench%1.ini").arg(n));
        TIniFile f(ini);
        f.WriteString("Production", "Database", uri);
        f.WriteString("Production", "Station", QStringLiteral("B%1").arg(n));
        f.UpdateFile();
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(
            QCoreApplication::applicationFilePath(),
            {"ledger-station", ini, QString::number(count), QString::number(intervalMs)});
    }
    Round r;
    double first = 1e300;
    double last = 0;
    int done = 0;
    for (auto& child : children) {
        child->waitForFinished(-1);
        if (child->exitCode() != 0)
            ++r.failed;
        for (const QByteArray& line : child->readAllStandardOutput().split('\n')) {
            double a = 0, b = 0;
            if (std::sscanf(line.constData(), "span %lf %lf", &a, &b) == 2) {
                first = std::min(first, a);
                last = std::max(last, b);
            } else if (std::sscanf(line.constData(), "took %lf %lf", &a, &b) == 2) {
                r.reserveMs.push_back(a);
                r.withRowMs.push_back(b);
                ++done;
            }
        }
    }
    r.perSecond = last > first ? done * 1000.0 / (last - first) : 0;
    return r;
}

void Print(const char* what, const Round& r) {
    std::printf(
        "stations: %-30s %7.1f reservations/s | reservation median %5.2f ms p99 %6.2f ms | "
        "with its row median %5.2f ms p99 %6.2f ms%s\n",
        what, r.perSecond, Percentile(r.reserveMs, 50), Percentile(r.reserveMs, 99),
        Percentile(r.withRowMs, 50), Percentile(r.withRowMs, 99),
        r.failed ? " (a station failed)" : "");
}

}  // namespace

int RunLedgerStation(const char* ini, int count, int intervalMs) {
    try {
        const QString path = QString::fromLocal8Bit(ini);
        TLedger ledger(path, TLedger::StationOf(path));
        // Stations that keep time start out of step, as operators do.
        if (intervalMs > 0)
            QThread::msleep(QRandomGenerator::global()->bounded(intervalMs));
        const double start = NowMs();
        for (int i = 0; i < count; ++i) {
            if (intervalMs > 0) {
                const double due = start + double(i) * intervalMs;
                if (due > NowMs())
                    QThread::msleep(static_cast<unsigned long>(due - NowMs()));
            }
            // As a netboard-cli write --mac asks it: the write check, the address offered, the
            // block, and the reservation of the block's next address.
            const double t0 = NowMs();
            ledger.CheckWritable();
            ledger.NextAddress();
            std::optional<int> low;
            if (ledger.Block())
                low = ledger.ReserveNext(QStringLiteral("write-mac"));
            if (!low)
                return 1;
            const double t1 = NowMs();
            ledger.Finish(*low,
                          {QDateTime::currentDateTime(), "write-mac", "COM4 /dev/ttyUSB0",
                           MacTextOfLow(*low), "10.16.77.170", true, "", QString()},
                          TAddressState::Given, -1);
            std::printf("took %.3f %.3f\n", t1 - t0, NowMs() - t0);
        }
        std::printf("span %.3f %.3f\n", start, NowMs());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

int RunStationsBench() {
    PgServer server(/*durable=*/true);
    if (!server.Error().isEmpty()) {
        std::printf("stations: skipped, %s\n", qPrintable(server.Error()));
        return 0;
    }
    QTemporaryDir dir;
    const QString uri = server.CreateDatabase(QStringLiteral("bench"));
    {
        const QString ini = dir.filePath(QStringLiteral("setup.ini"));
        TIniFile f(ini);
        f.WriteString("Production", "Database", uri);
        f.UpdateFile();
        TLedger(ini, QStringLiteral("setup")).SetBlock({0x100000, 0x1FFFFF});
    }
    Print("4 stations, flat out", RunStations(dir, uri, 4, 300, 0));
    Print("16 stations, flat out", RunStations(dir, uri, 16, 100, 0));
    const Round paced = RunStations(dir, uri, 16, 30, 1000);
    Print("16 stations, 1 a second each", paced);
    std::printf("stations: goal 16 stations at 1/s each with p99 under 50 ms: %s\n",
                Percentile(paced.reserveMs, 99) < 50 && !paced.failed ? "met" : "NOT met");
    return 0;
}
