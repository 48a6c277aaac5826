// netboard-cli end to end, each run a process of its own, against the floors of what it does:
// `--help` against a QCoreApplication that prints one line, a serial and a telnet `write`
// against netboard-barewrite doing the same exchange with nothing else. The runs are
// interleaved, 21 of each, and the medians are compared; peak RSS as GNU time reports it.
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "benches.h"
#include "childrun.h"
#include "core/inifile.h"
#include "ledger/ledger.h"

namespace {

constexpr int kCliRuns = 21;

// A station's settings file on its own loopback address.
QString StationIni(const QTemporaryDir& dir, const char* name, const char* ownIp4) {
    const QString ini = dir.filePath(QLatin1String(name));
    TIniFile f(ini);
    for (const auto& [k, v] : {std::pair{"TCPIP1_1", "127"}, std::pair{"TCPIP1_2", "0"},
                               std::pair{"TCPIP1_3", "9"}, std::pair{"TCPIP1_4", ownIp4}})
        f.WriteString("Option", k, v);
    f.UpdateFile();
    return ini;
}

}  // namespace

// A serial `write --mac` that takes a row of a 100 000-row site plan, half of it used, against
// the same write on a station without a plan; interleaved, 21 of each.
int RunPlanBench() {
    QTemporaryDir dir;
    const QString plain = StationIni(dir, "plain.ini", "2");
    const QString planned = StationIni(dir, "planned.ini", "3");
    constexpr int kRows = 100000;
    const QString csv = dir.filePath("site.csv");
    {
        QFile f(csv);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray text = "l_ip,l_pt,serial\n";
        for (int i = 0; i < kRows; ++i)
            text += QStringLiteral("10.%1.%2.%3,%4,SN%5\n")
                        .arg(i >> 16)
                        .arg((i >> 8) & 255)
                        .arg(i & 255)
                        .arg(3000 + i % 1000)
                        .arg(i)
                        .toLatin1();
        f.write(text);
    }
    const QString cli = QStringLiteral(NB_CLI_PATH);
    const double importStart = NowMs();
    if (QProcess::execute(cli, {"plan", "import", csv, "--ini", planned}) != 0)
        return 1;
    std::printf("plan: import of %d rows %.0f ms\n", kRows, NowMs() - importStart);
    {
        // Half of the plan used, as in the middle of a site.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "plan-bench");
        db.setDatabaseName(TLedger::PathBesideIni(planned));
        if (!db.open() ||
            !QSqlQuery(db).exec("UPDATE plan_rows SET state = 'given' WHERE number <= 50000"))
            return 1;
        db.close();
    }
    QSqlDatabase::removeDatabase("plan-bench");
    const TSimChild serial({"serial"});
    const std::vector<std::pair<const char*, QStringList>> runs = {
        {"write --mac",
         {cli, "serial", "--device", serial.First(), "write", "--mac", "--ini", plain}},
        {"write --mac, plan row",
         {cli, "serial", "--device", serial.First(), "write", "--mac", "--ini", planned}},
    };
    std::map<std::string, std::vector<double>> ms;
    for (int r = 0; r < kCliRuns; ++r) {
        for (const auto& [name, command] : runs)
            ms[name].push_back(MeasureUnderTime(command).ms);
    }
    for (const auto& [name, command] : runs)
        std::printf("plan: %-24s median %7.1f ms\n", name, Median(ms[name]));
    std::printf("plan: a write taking a plan row x%.3f of one without a plan\n",
                Median(ms["write --mac, plan row"]) / Median(ms["write --mac"]));
    return 0;
}

int RunCliBench() {
    QTemporaryDir dir;
    const QString ini = dir.filePath("station.ini");
    {
        TIniFile f(ini);
        for (const auto& [k, v] : {std::pair{"TCPIP1_1", "127"}, std::pair{"TCPIP1_2", "0"},
                                   std::pair{"TCPIP1_3", "9"}, std::pair{"TCPIP1_4", "1"}})
            f.WriteString("Option", k, v);
        f.UpdateFile();
    }
    const TSimChild serial({"serial"});
    const TSimChild telnet({"telnet", "--address", "127.0.9.1", "--port", "23"});
    const QString cli = QStringLiteral(NB_CLI_PATH);
    const QString bare = QStringLiteral(NB_BAREWRITE_PATH);
    const std::vector<std::pair<const char*, QStringList>> runs = {
        {"netboard-cli --help", {cli, "--help"}},
        {"QCoreApplication hello", {QStringLiteral(NB_HELLO_PATH)}},
        {"netboard-cli serial write",
         {cli, "serial", "--device", serial.First(), "write", "--ini", ini}},
        {"bare serial write", {bare, "serial", serial.First()}},
        {"netboard-cli telnet write", {cli, "telnet", "write", "--ini", ini}},
        {"bare telnet write", {bare, "telnet", "127.0.9.1"}},
    };
    std::map<std::string, std::vector<double>> ms, rss;
    for (int r = 0; r < kCliRuns; ++r) {
        for (const auto& [name, command] : runs) {
            const TChildRun run = MeasureUnderTime(command);
            ms[name].push_back(run.ms);
            rss[name].push_back(run.maxRssMiB);
        }
    }
    for (const auto& [name, command] : runs)
        std::printf("cli: %-28s median %7.1f ms, peak RSS %5.1f MiB\n", name, Median(ms[name]),
                    Median(rss[name]));
    auto ratio = [&](const char* a, const char* b) { return Median(ms[a]) / Median(ms[b]); };
    std::printf(
        "cli: --help x%.2f of hello; serial write x%.2f of bare; telnet write x%.2f of "
        "bare\n",
        ratio("netboard-cli --help", "QCoreApplication hello"),
        ratio("netboard-cli serial write", "bare serial write"),
        ratio("netboard-cli telnet write", "bare telnet write"));
    return 0;
}
