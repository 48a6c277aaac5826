// The production record with 100 000 lines: how long reading it at start takes, and that the
// reused-address look-up before each write stays instant.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

#include "benches.h"
#include "board/productionrecord.h"

int RunRecordBench() {
    constexpr int kLines = 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath("netboard-config-record.csv");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray all = QByteArray(TProductionRecord::kHeader) + "\r\n";
        const QDateTime t = QDateTime::currentDateTime();
        for (int i = 0; i < kLines; ++i) {
            TRecordLine l{t,
                          "write-mac",
                          "COM4 /dev/ttyUSB0",
                          QString::asprintf("02-5A-C3-%02X-%02X-%02X", (i >> 16) & 255,
                                            (i >> 8) & 255, i & 255),
                          "10.16.77.170",
                          i % 10 != 0,
                          i % 10 ? "" : "mask"};
            all += TProductionRecord::Format(l).toLatin1() + "\r\n";
        }
        f.write(all);
    }
    // CPU time as well as wall time: on a busy machine the wall time mostly measures the others.
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpu0 = std::clock();
    TProductionRecord record(path);
    const double loadMs = clock.nsecsElapsed() / 1e6;
    const double loadCpuMs = (std::clock() - cpu0) * 1000.0 / CLOCKS_PER_SEC;

    constexpr int kLookups = 1000000;
    int hits = 0;
    clock.restart();
    const std::clock_t cpu1 = std::clock();
    for (int i = 0; i < kLookups; ++i) {
        const int v = static_cast<int>((static_cast<long long>(i) * 7919) % (2 * kLines));
        hits += record
                    .GivenBefore(QString::asprintf("02-5A-C3-%02X-%02X-%02X", (v >> 16) & 255,
                                                   (v >> 8) & 255, v & 255))
                    .has_value();
    }
    const double lookupUs = clock.nsecsElapsed() / 1e3 / kLookups;
    const double lookupCpuUs = (std::clock() - cpu1) * 1e6 / CLOCKS_PER_SEC / kLookups;

    clock.restart();
    constexpr int kAppends = 20;
    for (int i = 0; i < kAppends; ++i)
        record.Append(
            {QDateTime::currentDateTime(), "write", "127.0.0.5:23", "", "127.0.0.1", true, ""});
    const double appendMs = clock.nsecsElapsed() / 1e6 / kAppends;

    std::printf(
        "record: %d lines (%d addresses indexed) read in %.1f ms (CPU %.1f ms); look-up "
        "%.2f us (CPU %.2f us, building the text included; %d hits); append with fsync "
        "%.2f ms\n",
        kLines, record.IndexedAddresses(), loadMs, loadCpuMs, lookupUs, lookupCpuUs, hits,
        appendMs);
    return record.IndexedAddresses() == kLines - kLines / 10 ? 0 : 1;
}
