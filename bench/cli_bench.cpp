// netboard-cli end to end, each run a process of its own, against the floors of what it does:
// `--help` against a QCoreApplication that prints one line, a serial and a telnet `write`
// against netboard-barewrite doing the same exchange with nothing else. The runs are
// interleaved, 21 of each, and the medians are compared; peak RSS as GNU time reports it.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "benches.h"
#include "childrun.h"
#include "core/inifile.h"

namespace {

constexpr int kCliRuns = 21;

}  // namespace

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
