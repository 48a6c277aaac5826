// netboard-cli run as a separate process against netboard-sim over a pseudo-terminal and over
// telnet on loopback: exit status, standard output and error, the production record line, the
// MAC counter, and that the settings file's own address is never changed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "board/productionrecord.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "support/simprocess.h"

#include <csignal>
#include <vector>

namespace {

const QString kBannerOk = QStringLiteral("------------- 設定　OK! -----------------");
const QString kBannerNg = QStringLiteral("///////////// 設定　NG! /////////////////");

struct CliRun {
    int status = -1;
    QStringList out;
    QString err;
};

// netboard-cli needs no window system: every run is made without a display or a Qt platform.
const QStringList kDisplayVariables = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

QProcessEnvironment WithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : kDisplayVariables)
        env.remove(name);
    return env;
}

// The same for execve: this process's environment without those variables.
std::vector<char*> EnvironWithoutDisplay() {
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
        const QString name = QString::fromLocal8Bit(*e).section('=', 0, 0);
        if (!kDisplayVariables.contains(name))
            env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

CliRun RunCliProcess(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(WithoutDisplay());
    p.start(QStringLiteral(NB_CLI_PATH), args);
    CliRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "netboard-cli did not end: " << args.join(' ').toStdString();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Runs netboard-cli with its standard output a pipe whose reader has already gone; the exit
// status, or -1 when it was killed by a signal or did not end.
int RunCliIntoClosedPipe(const QStringList& args) {
    ExecArgv argv(NB_CLI_PATH, args);
    std::vector<char*> env = EnvironWithoutDisplay();
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execve(argv.Data()[0], argv.Data(), env.data());
        _exit(127);
    }
    close(fds[0]);
    close(fds[1]);
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        if (waited > 60000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A station of its own: a settings file in a temporary folder, its own IP address on loopback.
class Station {
  public:
    Station(int ownIp4, const QStringList& extra) {
        QFile f(Ini());
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Option]\r\nTCPIP1_1=127\r\nTCPIP1_2=0\r\nTCPIP1_3=8\r\n");
        f.write(QStringLiteral("TCPIP1_4=%1\r\n").arg(ownIp4).toLatin1());
        for (const QString& line : extra)
            f.write(line.toLatin1() + "\r\n");
    }
    QString Ini() const { return dir_.filePath(QStringLiteral("station.ini")); }
    QString RecordPath() const { return TProductionRecord::PathBesideIni(Ini()); }
    // The last record line as "command,result,failed,mac", or "" when there is none.
    QString LastRecord() const {
        QFile f(RecordPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QStringList lines =
            QString::fromLatin1(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        TRecordLine l;
        QString time;
        if (lines.size() < 2 || !TProductionRecord::Parse(lines.last(), &l, &time))
            return QStringLiteral("unreadable");
        return QStringList{l.command, l.ok ? "OK" : "NG", l.failed, l.mac}.join(',');
    }
    QString Counter() const {
        const TBoardParams p = LoadSettings(Ini());
        return QStringLiteral("%1-%2-%3")
            .arg(p.MacAddr_1, 2, 16, QLatin1Char('0'))
            .arg(p.MacAddr_2, 2, 16, QLatin1Char('0'))
            .arg(p.MacAddr_3, 2, 16, QLatin1Char('0'))
            .toUpper();
    }

  private:
    QTemporaryDir dir_;
};

struct Row {
    const char* name;
    int ip;            // own IP address 127.0.8.<ip> of the station ("{ip}" in arguments)
    QStringList sim;   // netboard-sim arguments; none: no board
    QStringList cli;   // "{dev}": the board's terminal
    QStringList ini;   // more lines of section Option
    bool givenBefore;  // the record already holds an OK line for 02-5A-C3-00-01-C9
    int status;
    QStringList outHas;  // lines standard output holds, in this order
    QString outLast;     // its last line, when given
    QString errHas;      // part of standard error, when given
    QString record;      // the last record line, "" none
    QString counter;     // the MAC counter afterwards
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

QStringList Substituted(QStringList args, const QString& dev, int ip) {
    for (QString& a : args)
        a.replace("{dev}", dev).replace("{ip}", QStringLiteral("127.0.8.%1").arg(ip));
    return args;
}

// clang-format off
const QStringList kReadLines = {
    "madr=02-5A-C3-00-01-C9", "l_ip=127.0.0.1", "l_pt=10777", "f_ip=10.16.77.171", "f_pt=3335",
    "mask=16", "conn=1", "bps=16", "timv=10", "keep=1", "timr=1"};
// clang-format on
const QStringList kSerial = {"serial", "--device", "{dev}"};
const QStringList kTelnetSim = {"telnet", "--address", "{ip}", "--port", "23"};

class CliRuns : public ::testing::TestWithParam<Row> {};

TEST_P(CliRuns, ExitOutputRecordAndCounter) {
    const Row& row = GetParam();
    Station station(row.ip, row.ini);
    if (row.givenBefore)
        TProductionRecord(station.RecordPath())
            .Append({QDateTime::fromString("2026-11-30T09:15:00+09:00", Qt::ISODate), "write-mac",
                     "COM1 /dev/ttyUSB0", "02-5A-C3-00-01-C9", "127.0.0.1", true, ""});
    std::unique_ptr<SimProcess> sim;
    if (!row.sim.isEmpty()) {
        sim = std::make_unique<SimProcess>(Substituted(row.sim, {}, row.ip));
        ASSERT_TRUE(sim->Started());
    }
    const CliRun r =
        RunCliProcess(Substituted(row.cli, sim ? sim->FirstLine() : QString(), row.ip) +
                      QStringList{"--ini", station.Ini()});
    EXPECT_EQ(r.status, row.status) << r.err.toStdString();
    int at = 0;
    for (const QString& line : row.outHas) {
        const int found = r.out.indexOf(line, at);
        EXPECT_GE(found, 0) << "missing or out of order: " << line.toStdString() << "\n"
                            << r.out.join('\n').toStdString();
        at = found < 0 ? at : found + 1;
    }
    if (!row.outLast.isEmpty()) {
        EXPECT_EQ(r.out.value(r.out.size() - 1), row.outLast);
    }
    // Standard error holds the expected line, or nothing of the program's own.
    EXPECT_TRUE(row.errHas.isEmpty() ? !r.err.contains("netboard-cli:")
                                     : r.err.contains(row.errHas))
        << r.err.toStdString();
    EXPECT_EQ(station.LastRecord(), row.record);
    EXPECT_EQ(station.Counter(), row.counter);
    // Only the counter is ever written: an --address override stays out of the file.
    EXPECT_EQ(LoadSettings(station.Ini()).OwnIpText(), QStringLiteral("127.0.8.%1").arg(row.ip));
}

// clang-format off
const Row kRows[] = {
    // Serial: a board on a pseudo-terminal.
    {"SerialWrite", 100, {"serial"}, kSerial + QStringList{"write"}, {}, false, 0,
     {"IPアドレス　OK!!", "SAVE　OK!!", "madr=02-5A-C3-00-01-C9"}, kBannerOk, "",
     "write,OK,,", "00-01-C9"},
    {"SerialWriteMacCountsOn", 101, {"serial"}, {"serial", "write", "--device", "{dev}", "--mac"},
     {}, false, 0, {"MACアドレス　OK!!", "SAVE　OK!!", "madr=02-5A-C3-00-01-C9"}, kBannerOk, "",
     "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"SerialRefusedLineIsNg", 102, {"serial", "--refuse", "mask"}, kSerial + QStringList{"write"},
     {}, false, 1, {"Port値(接続先)　OK!!", "マスク長　NG!!"}, kBannerNg, "",
     "write,NG,mask,", "00-01-C9"},
    {"SerialVerifyPasses", 103, {"serial"}, kSerial + QStringList{"write", "--verify", "--mac"},
     {"TCPmask=24"}, false, 0, {"SAVE　OK!!", kBannerOk, "MACアドレス　OK!!", "timr　OK!!"},
     "timr　OK!!", "", "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"SerialVerifyCatchesKeptValue", 104, {"serial", "--ignore", "mask"},
     kSerial + QStringList{"--verify", "write"}, {"TCPmask=24"}, false, 1,
     {"マスク長　OK!!", kBannerOk, "timr　OK!!"}, kBannerNg, "verify: mask written 24, read 16",
     "write,NG,verify,", "00-01-C9"},
    {"SerialVerifyTakesNonZeroConnAsOn", 123, {"serial", "--ignore", "conn", "--set", "conn=2"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 0, {kBannerOk, "自動接続　OK!!"},
     "timr　OK!!", "", "write,OK,,", "00-01-C9"},
    {"SerialVerifyCatchesConnOff", 124, {"serial", "--ignore", "conn", "--set", "conn=0"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 1, {kBannerOk}, kBannerNg,
     "verify: conn written 1, read 0", "write,NG,verify,", "00-01-C9"},
    {"SerialVerifyReadBackFails", 105, {"serial", "--ignore", "l_ip", "--set", "l_ip=1.x.3.4"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 1, {kBannerOk, "MACアドレス　OK!!"},
     kBannerNg, "verify: read-back failed", "write,NG,verify,", "00-01-C9"},
    {"SerialMacRewrite", 106, {"serial"}, kSerial + QStringList{"mac-rewrite", "--mac", "0a-0B-0c"},
     {}, false, 0, {"qelmoT4　OK!!", "MACアドレス　OK!!", kBannerOk, "madr=02-5A-C3-0A-0B-0C"}, "",
     "", "mac-rewrite,OK,,02-5A-C3-0A-0B-0C", "0A-0B-0D"},
    {"SerialMacRewriteFromCounter", 107, {"serial", "--refuse", "save"},
     kSerial + QStringList{"mac-rewrite"}, {"MacAddr_3=255"}, false, 1, {"SAVE　NG!!"}, kBannerNg,
     "", "mac-rewrite,NG,save,02-5A-C3-00-01-FF", "00-01-FF"},
    {"SerialRead", 108, {"serial"}, kSerial + QStringList{"read"}, {}, false, 0, kReadLines,
     "timr=1", "", "", "00-01-C9"},
    {"SerialReadZeroMacPrintsNull", 109, {"serial", "--set", "madr=0"},
     kSerial + QStringList{"read"}, {}, false, 0,
     {"NULL", "MACアドレス　OK!!", "madr=00-00-00-00-00-00", "timr=1"}, "", "", "", "00-01-C9"},
    {"SerialGuardRefuses", 110, {"serial"}, kSerial + QStringList{"write", "--mac"}, {}, true, 1,
     {}, "", "02-5A-C3-00-01-C9 was given on 2026-11-30T09:15:00+09:00",
     "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-C9"},
    {"SerialPortCannotOpen", 111, {}, {"serial", "--device", "/nonexistent/tty", "write"}, {},
     false, 2, {}, "", "cannot open COM1 (/nonexistent/tty)", "", "00-01-C9"},
    // Telnet: a board on 127.0.8.<ip>, port 23.
    {"TelnetWriteMac", 112, kTelnetSim, {"telnet", "write", "--mac"}, {}, false, 0,
     {"Connect", "Connected", "MACアドレス　OK!!", "SAVE　OK!!", kBannerOk},
     "madr=02-5A-C3-00-01-CA", "", "telnet-write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"TelnetAddressOverrideIsNotSaved", 113, {"telnet", "--address", "127.0.8.114"},
     {"telnet", "--address", "127.0.8.114", "write", "--verify"}, {}, false, 0,
     {"SAVE　OK!!", kBannerOk, "madr=02-5A-C3-00-01-C9", "timr　OK!!"}, "", "",
     "telnet-write,OK,,", "00-01-C9"},
    {"TelnetVerifyCatchesKeptMac", 115,
     kTelnetSim + QStringList{"--ignore", "madr", "--set", "madr=02-5A-C3-00-00-01"},
     {"telnet", "write", "--mac", "--verify"}, {}, false, 1, {kBannerOk}, kBannerNg,
     "verify: madr written 00-01-C9, read 00-00-01",
     "telnet-write-mac,NG,verify,02-5A-C3-00-01-C9", "00-01-CA"},
    {"TelnetGuardAllowsReuse", 116, kTelnetSim, {"telnet", "write", "--mac", "--allow-reuse"}, {},
     true, 0, {kBannerOk}, "madr=02-5A-C3-00-01-CA", "given again",
     "telnet-write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"TelnetRead", 117, kTelnetSim, {"telnet", "read"}, {}, false, 0,
     {"Connected", "madr=02-5A-C3-00-01-C9", "l_ip=127.0.8.117", "mask=16", "timr=1"}, "timr=1",
     "", "", "00-01-C9"},
    {"TelnetConnectRefused", 118, {}, {"telnet", "write"}, {}, false, 2, {}, "",
     "cannot connect to 127.0.8.118:23", "", "00-01-C9"},
    // The reader behind the board, at the board's own address and port.
    {"RomVersion", 119, {"reader", "--address", "{ip}", "--port", "10777", "--version", "V2.34"},
     {"telnet", "rom-version"}, {}, false, 0, {"ClientSocket1Connect"}, "ROMバージョン: V2.34", "",
     "", "00-01-C9"},
    {"RomVersionReaderRefuses", 121, {}, {"telnet", "rom-version"}, {}, false, 2,
     {"ClientSocket1Error", "コネクト待ち　タイムオーバー"}, "",
     "cannot connect to the reader at 127.0.8.121:10777", "", "00-01-C9"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Boards, CliRuns, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& p) {
                             return std::string(p.param.name);
                         });

// A reader of the output that has gone does not stop the run: the board is written, the
// counter and the record line are saved.
TEST(CliOutput, ClosedPipeDoesNotCutTheRunShort) {
    Station station(122, {});
    SimProcess sim({"serial"});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(RunCliIntoClosedPipe({"serial", "--device", sim.FirstLine(), "write", "--mac",
                                    "--ini", station.Ini()}),
              0);
    EXPECT_EQ(station.LastRecord(), "write-mac,OK,,02-5A-C3-00-01-C9");
    EXPECT_EQ(station.Counter(), "00-01-CA");
}

// Lines that cannot run give status 2, a single line on standard error, and touch nothing.
TEST(CliUsage, BadLinesGiveStatusTwo) {
    Station station(120, {});
    const QString ini = station.Ini();
    const QList<QStringList> lines = {
        {},
        {"write"},
        {"serial", "write"},
        {"serial", "--port", "1", "--device", "/dev/null", "write"},
        {"serial", "--port", "x1", "write"},
        {"serial", "--port", "1", "write", "extra"},
        {"serial", "--port", "1", "--address", "127.0.8.120", "read"},
        {"telnet", "mac-rewrite"},
        {"telnet", "read", "--verify"},
        {"telnet", "read", "--mac"},
        {"telnet", "write", "--mac", "01-02-03"},
        {"serial", "--port", "1", "mac-rewrite", "--mac"},
        {"serial", "--port", "1", "mac-rewrite", "--mac=1-2-345"},
        {"telnet", "--address", "127.0.8.300", "read"},
        {"telnet", "--address", "localhost", "read"},
        {"telnet", "frob"},
        {"telnet", "read", "--bogus"},
        {"telnet", "read", "--ini"},
        {"telnet", "read", "--ini", station.Ini() + ".missing"},
    };
    for (const QStringList& args : lines) {
        const bool hasIni = args.contains("--ini");
        const CliRun r = RunCliProcess(hasIni ? args : args + QStringList{"--ini", ini});
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFile::exists(station.RecordPath()));
    const CliRun help = RunCliProcess({"telnet", "--help", "--bogus-is-ignored"});
    EXPECT_EQ(help.status, 0);
    for (const char* word :
         {"serial", "telnet", "--port", "--device", "--address", "write", "--mac", "mac-rewrite",
          "read", "rom-version", "--ini", "--verify", "--allow-reuse", "--help"})
        EXPECT_TRUE(help.out.join('\n').contains(word)) << word;
}

}  // namespace
