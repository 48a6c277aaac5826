// netboard-cli run as a separate process against netboard-sim over a pseudo-terminal and over
// telnet on loopback: exit status, standard output and error, the production record line, the
// MAC counter, and that the settings file's own address is never changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include "core/inifile.h"
#include "core/settings.h"
#include "core/text.h"
#include "ledger/ledger.h"
#include "support/cliprocess.h"
#include "support/ledgerfiles.h"
#include "support/pgserver.h"
#include "support/printers.h"
#include "support/simprocess.h"

#include <QDir>
#include <csignal>
#include <memory>
#include <tuple>
#include <vector>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kBannerOk = QStringLiteral("------------- 設定　OK! -----------------");
const QString kBannerNg = QStringLiteral("///////////// 設定　NG! /////////////////");

struct CliRun {
    int status = -1;
    QStringList out;
    QString err;
};

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

// Runs netboard-cli to its end (see RunNetboardCli); a run that does not end fails the test.
CliRun RunCliProcess(const QStringList& args, bool asNobody = false) {
    const TCliProcessRun p = RunNetboardCli(args, asNobody);
    if (!p.ended)
        ADD_FAILURE() << "netboard-cli did not end: " << args.join(' ').toStdString();
    return {p.status, p.out.split('\n', Qt::SkipEmptyParts), p.err};
}

// Where a run's standard output goes when it is lost.
enum class LostOutput { ClosedPipe, FullDisk, Closed };

// Runs netboard-cli with a standard output that takes nothing; the exit status, or -1 when it
// was killed by a signal or did not end. Standard error goes to `err`.
int RunCliLosingOutput(const QStringList& args, LostOutput how, QString* err) {
    ExecArgv argv(NB_CLI_PATH, args);
    std::vector<char*> env = EnvironWithoutDisplay();
    int fds[2];
    int errFds[2];
    if (pipe(fds) != 0 || pipe(errFds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        if (how == LostOutput::ClosedPipe)
            dup2(fds[1], 1);
        else if (how == LostOutput::FullDisk)
            dup2(open("/dev/full", O_WRONLY), 1);
        else
            close(1);
        dup2(errFds[1], 2);
        close(fds[0]);
        close(fds[1]);
        close(errFds[0]);
        close(errFds[1]);
        execve(argv.Data()[0], argv.Data(), env.data());
        _exit(127);
    }
    close(fds[0]);
    close(fds[1]);
    close(errFds[1]);
    fcntl(errFds[0], F_SETFL, O_NONBLOCK);
    QByteArray errBytes;
    auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = read(errFds[0], buf, sizeof buf)) > 0;)
            errBytes.append(buf, n);
    };
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        drain();
        if (waited > 60000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            close(errFds[0]);
            return -1;
        }
        usleep(10000);
    }
    drain();
    close(errFds[0]);
    *err = QString::fromUtf8(errBytes);
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
    QString Dir() const { return dir_.path(); }
    // Sets entries of section Option, as an operator editing the file (or restoring it) would.
    void Set(const QStringList& entries) const {
        TIniFile f(Ini());
        for (const QString& e : entries)
            f.WriteString("Option", e.section('=', 0, 0), e.section('=', 1));
        f.UpdateFile();
    }
    QString LedgerPath() const { return TLedger::PathBesideIni(Ini()); }
    // The last ledger row as "command,result,failed,mac", or "" when there is none.
    QString LastRecord() const { return LastLedgerRow(Ini()); }
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
    QStringList ini;   // more lines of section Option (and after it; "{dev}" as in cli)
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
    std::unique_ptr<SimProcess> sim;
    if (!row.sim.isEmpty()) {
        sim = std::make_unique<SimProcess>(Substituted(row.sim, {}, row.ip));
        ASSERT_TRUE(sim->Started());
    }
    const QString dev = sim ? sim->FirstLine() : QString();
    Station station(row.ip, Substituted(row.ini, dev, row.ip));
    if (row.givenBefore)
        WriteOldRecord(station.Ini(), {"2026-11-30T09:15:00+09:00,write-mac,COM1 /dev/ttyUSB0,"
                                       "02-5A-C3-00-01-C9,127.0.0.1,OK,"});
    const CliRun r =
        RunCliProcess(Substituted(row.cli, dev, row.ip) + QStringList{"--ini", station.Ini()});
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
    // The verification is a phase of its own: the write's banner, the read-back's lines, then
    // its verdict and one line per difference.
    {"SerialVerifyPasses", 103, {"serial"}, kSerial + QStringList{"write", "--verify", "--mac"},
     {"TCPmask=24"}, false, 0,
     {"SAVE　OK!!", kBannerOk, "read-back: MACアドレス　OK!!", "read-back: timr　OK!!"},
     "verify: OK", "", "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"SerialVerifyCatchesKeptValue", 104, {"serial", "--ignore", "mask"},
     kSerial + QStringList{"--verify", "write"}, {"TCPmask=24"}, false, 1,
     {"マスク長　OK!!", kBannerOk, "read-back: timr　OK!!", "verify: NG"},
     "verify: mask written 24, read 16", "", "write,NG,verify,", "00-01-C9"},
    {"SerialVerifyTakesNonZeroConnAsOn", 123, {"serial", "--ignore", "conn", "--set", "conn=2"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 0,
     {kBannerOk, "read-back: 自動接続　OK!!"}, "verify: OK", "", "write,OK,,", "00-01-C9"},
    {"SerialVerifyCatchesConnOff", 124, {"serial", "--ignore", "conn", "--set", "conn=0"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 1, {kBannerOk, "verify: NG"},
     "verify: conn written 1, read 0", "", "write,NG,verify,", "00-01-C9"},
    {"SerialVerifyReadBackFails", 105, {"serial", "--ignore", "l_ip", "--set", "l_ip=1.x.3.4"},
     kSerial + QStringList{"write", "--verify"}, {}, false, 1,
     {kBannerOk, "read-back: MACアドレス　OK!!", "verify: NG"}, "", "", "write,NG,verify,",
     "00-01-C9"},
    // Settings out of the dialogs' ranges are refused before anything is sent.
    {"SerialSettingsOutOfRange", 125, {"serial"}, kSerial + QStringList{"write", "--mac"},
     {"MacAddr_3=300", "MacAddr_2=-1", "TCPmask=77", "SpeedIndex=9"}, false, 2, {}, "",
     "MacAddr_2=-1 is outside 0..255", "", "00--1-12C"},
    // The file as the window leaves it with an empty speed box and no keep-alive button: the
    // line asks for 9600 bit/s, saying so, as the window does.
    {"SerialSpeedBoxLeftEmpty", 134, {"serial"}, kSerial + QStringList{"write"},
     {"SpeedIndex=-1", "fKeepAlive=-1"}, false, 0,
     {"通信スピードが一覧にないため、9600bpsを送信します", "通信スピード(RS232C)　OK!!",
      "Keep　OK!!"}, kBannerOk, "", "write,OK,,", "00-01-C9"},
    // A counter that is no number would read as its default: refused like one out of range.
    {"SerialCounterNotANumber", 133, {"serial"}, kSerial + QStringList{"write", "--mac"},
     {"MacAddr_3=abc"}, false, 2, {}, "", "MacAddr_3=abc is not a number", "", "00-01-C9"},
    {"SerialMacRewrite", 106, {"serial"}, kSerial + QStringList{"mac-rewrite", "--mac", "0a-0B-0c"},
     {}, false, 0, {"qelmoT4　OK!!", "MACアドレス　OK!!", kBannerOk, "madr=02-5A-C3-0A-0B-0C"}, "",
     "", "mac-rewrite,OK,,02-5A-C3-0A-0B-0C", "0A-0B-0D"},
    {"SerialMacRewriteFromCounter", 107, {"serial", "--refuse", "save"},
     kSerial + QStringList{"mac-rewrite"}, {"MacAddr_3=255"}, false, 1, {"SAVE　NG!!"}, kBannerNg,
     "", "mac-rewrite,NG,save,02-5A-C3-00-01-FF", "00-01-FF"},
    {"SerialRead", 108, {"serial"}, kSerial + QStringList{"read"}, {}, false, 0, kReadLines,
     "timr=1", "", "read,OK,,", "00-01-C9"},
    // The highest port number the line takes.
    {"SerialPort255", 131, {"serial"}, {"serial", "--port", "255", "read"},
     {"[ComPorts]", "COM255={dev}"}, false, 0, kReadLines, "timr=1", "", "read,OK,,",
     "00-01-C9"},
    {"SerialReadZeroMacPrintsNull", 109, {"serial", "--set", "madr=0"},
     kSerial + QStringList{"read"}, {}, false, 0,
     {"NULL", "MACアドレス　OK!!", "madr=00-00-00-00-00-00", "timr=1"}, "", "", "read,OK,,",
     "00-01-C9"},
    {"SerialGuardRefuses", 110, {"serial"},
     kSerial + QStringList{"mac-rewrite", "--mac", "00-01-C9"}, {}, true, 1, {}, "",
     "02-5A-C3-00-01-C9 was given on 2026-11-30T09:15:00+09:00",
     "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-C9"},
    {"SerialGuardAllowsReuse", 132, {"serial"},
     kSerial + QStringList{"mac-rewrite", "--mac", "00-01-C9", "--allow-reuse"}, {}, true, 0,
     {kBannerOk}, "madr=02-5A-C3-00-01-C9", "given again",
     "mac-rewrite,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    // A device given by its path is named by it.
    {"SerialPortCannotOpen", 111, {}, {"serial", "--device", "/nonexistent/tty", "write"}, {},
     false, 2, {}, "", "cannot open /nonexistent/tty: ", "", "00-01-C9"},
    // Telnet: a board on 127.0.8.<ip>, port 23.
    {"TelnetWriteMac", 112, kTelnetSim, {"telnet", "write", "--mac"}, {}, false, 0,
     {"Connect", "Connected", "MACアドレス　OK!!", "SAVE　OK!!", kBannerOk},
     "madr=02-5A-C3-00-01-CA", "", "telnet-write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA"},
    {"TelnetAddressOverrideIsNotSaved", 113, {"telnet", "--address", "127.0.8.114"},
     {"telnet", "--address", "127.0.8.114", "write", "--verify"}, {}, false, 0,
     {"SAVE　OK!!", kBannerOk, "madr=02-5A-C3-00-01-C9", "read-back: timr　OK!!"}, "verify: OK",
     "", "telnet-write,OK,,", "00-01-C9"},
    {"TelnetVerifyCatchesKeptMac", 115,
     kTelnetSim + QStringList{"--ignore", "madr", "--set", "madr=02-5A-C3-00-00-01"},
     {"telnet", "write", "--mac", "--verify"}, {}, false, 1, {kBannerOk, "verify: NG"},
     "verify: madr written 00-01-C9, read 00-00-01", "",
     "telnet-write-mac,NG,verify,02-5A-C3-00-01-C9", "00-01-CA"},
    // The counter passes over an address given before, and says so.
    {"TelnetCounterPassesOverGiven", 116, kTelnetSim, {"telnet", "write", "--mac"}, {}, true, 0,
     {"MACアドレス 02-5A-C3-00-01-C9 は書き込み済みのため飛ばします"
      "（2026-11-30T09:15:00+09:00、write-mac）",
      kBannerOk},
     "madr=02-5A-C3-00-01-CB", "", "telnet-write-mac,OK,,02-5A-C3-00-01-CA", "00-01-CB"},
    {"TelnetRead", 117, kTelnetSim, {"telnet", "read"}, {}, false, 0,
     {"Connected", "madr=02-5A-C3-00-01-C9", "l_ip=127.0.8.117", "mask=16", "timr=1"}, "timr=1",
     "", "telnet-read,OK,,", "00-01-C9"},
    {"TelnetConnectRefused", 118, {}, {"telnet", "write"}, {}, false, 2, {}, "",
     "cannot connect to 127.0.8.118:23: 接続を拒否されました (Connection refused)", "",
     "00-01-C9"},
    // The reader behind the board, at the board's own address and port.
    {"RomVersion", 119, {"reader", "--address", "{ip}", "--port", "10777", "--version", "V2.34"},
     {"telnet", "rom-version"}, {}, false, 0, {"ClientSocket1Connect"}, "ROMバージョン: V2.34", "",
     "rom-version,OK,,", "00-01-C9"},
    // Only a version reply with a text is a version; bytes from the reader cannot start lines.
    {"RomVersionEmpty", 126, {"reader", "--address", "{ip}", "--port", "10777", "--version", ""},
     {"telnet", "rom-version"}, {}, false, 1, {}, "", "sent an empty version",
     "rom-version,NG,empty,", "00-01-C9"},
    {"RomVersionOtherSubCode", 127,
     {"reader", "--address", "{ip}", "--port", "10777", "--sub-code", "0x9F"},
     {"telnet", "rom-version"}, {}, false, 1, {}, "", "not with its version",
     "rom-version,NG,sub-code,", "00-01-C9"},
    {"RomVersionControlBytes", 128,
     {"reader", "--address", "{ip}", "--port", "10777", "--version", "V1\rX\x01"},
     {"telnet", "rom-version"}, {}, false, 0, {"V1\\rX\\x01"}, "ROMバージョン: V1\\rX\\x01", "",
     "rom-version,OK,,", "00-01-C9"},
    {"RomVersionReaderRefuses", 121, {}, {"telnet", "rom-version"}, {}, false, 2,
     {"ClientSocket1Error", "コネクト待ち　タイムオーバー"}, "",
     "cannot connect to the reader at 127.0.8.121:10777: 接続を拒否されました (Connection refused)",
     "rom-version,NG,connect,", "00-01-C9"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Boards, CliRuns, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& p) {
                             return std::string(p.param.name);
                         });

// A reader of the output that has gone does not stop the run: the board is written, the
// counter and the record line are saved.
TEST(CliOutput, LostOutputIsNgOnceTheBoardsPartIsRecorded) {
    const struct {
        LostOutput how;
        const char* cause;
    } rows[] = {{LostOutput::ClosedPipe, "Broken pipe"},
                {LostOutput::FullDisk, "No space left on device"},
                {LostOutput::Closed, "Bad file descriptor"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cause);
        Station station(122, {});
        SimProcess sim({"serial"});
        ASSERT_TRUE(sim.Started());
        QString err;
        EXPECT_EQ(RunCliLosingOutput({"serial", "--device", sim.FirstLine(), "write", "--mac",
                                      "--ini", station.Ini()},
                                     row.how, &err),
                  1);
        EXPECT_TRUE(err.contains(QStringLiteral("standard output: ")) &&
                    err.contains(QString::fromUtf8(row.cause)))
            << err.toStdString();
        EXPECT_EQ(station.LastRecord(), "write-mac,OK,,02-5A-C3-00-01-C9");
        EXPECT_EQ(station.Counter(), "00-01-CA");
        // A run on a device is named by the device.
        EXPECT_EQ(LedgerRows(station.Ini()).value(0).section(',', 2, 2), sim.FirstLine());
    }
}

// With --json standard output is one JSON document and nothing else, whatever the run came
// to: the log goes to standard error.
// Each address a write gives leaves with its label; a label that could not be printed leaves
// the write as it was, its row says why, `record status` counts the board, and `label MAC`
// mends it.
TEST(CliLabels, EachGivenAddressLeavesWithItsLabel) {
    Station station(200, {});
    SimProcess board({"serial"});
    ASSERT_TRUE(board.Started());
    QTemporaryDir jobs, pdfs;
    const auto printer = [](const char* address, const QString& folder, const QStringList& faults) {
        auto p = std::make_unique<SimProcess>(
            QStringList{"printer", "--address", address, "--jobs", folder} + faults);
        EXPECT_TRUE(p->Started());
        return p;
    };
    const auto useLabel = [&station](const QString& to) {
        TIniFile f(station.Ini());
        f.WriteString("Label", "Printer", to);
        f.UpdateFile();
    };
    // Each printer numbers its jobs from 1: the count is of the files of all of them.
    QTemporaryDir laterJobs;
    const auto jobCount = [&] {
        return QDir(jobs.path()).entryList(QDir::Files).size() +
               QDir(laterJobs.path()).entryList(QDir::Files).size();
    };
    const auto run = [&station](QStringList args) {
        const CliRun r = RunCliProcess(args << "--json"
                                            << "--ini" << station.Ini());
        return std::make_pair(r.status,
                              QJsonDocument::fromJson(r.out.join('\n').toUtf8()).object());
    };
    const QStringList write = {"serial", "--device", board.FirstLine(), "write", "--mac"};
    const QStringList status = {"record", "status"};

    auto ready = printer("127.0.8.201", jobs.path(), {});
    useLabel("zpl://" + ready->FirstLine());
    auto [code, json] = run(write);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(json["label"].toObject()["result"], "OK");
    ASSERT_EQ(jobCount(), 1);
    const QByteArray job = ReadFile(jobs.filePath(QDir(jobs.path()).entryList(QDir::Files)[0]));
    EXPECT_TRUE(job.contains("^FD02-5A-C3-00-01-C9^FS")) << job.toStdString();
    EXPECT_TRUE(job.contains("^BQ")) << job.toStdString();
    EXPECT_EQ(station.LastRecord(), "label,OK,,02-5A-C3-00-01-C9");

    // Paper out: the board is written all the same; no job, the row and the status say so.
    auto out = printer("127.0.8.202", jobs.path(), {"--paper-out"});
    useLabel("zpl://" + out->FirstLine());
    std::tie(code, json) = run(write);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(json["mac"], "02-5A-C3-00-01-CA");
    EXPECT_EQ(json["label"].toObject()["fault"], "paper-out");
    EXPECT_EQ(jobCount(), 1);
    EXPECT_EQ(station.LastRecord(), "label,NG,paper-out,02-5A-C3-00-01-CA");
    EXPECT_EQ(run(status).second["unlabelled"], "1");

    // The paper back in: the reprint mends it.
    out.reset();
    auto again = printer("127.0.8.202", laterJobs.path(), {});
    useLabel("zpl://" + again->FirstLine());
    EXPECT_EQ(run({"label", "02-5A-C3-00-01-CA"}).first, 0);
    EXPECT_EQ(jobCount(), 2);
    EXPECT_EQ(station.LastRecord(), "label-reprint,OK,,02-5A-C3-00-01-CA");
    EXPECT_EQ(run(status).second["unlabelled"], "0");
    // An address never given here gets no label.
    std::tie(code, json) = run({"label", "00-02-00"});
    EXPECT_NE(code, 0);
    EXPECT_TRUE(json["error"].toString().contains("02-5A-C3-00-02-00")) << code;
    EXPECT_EQ(jobCount(), 2);

    // A PDF folder: one file named after the address.
    useLabel("pdf:" + pdfs.path());
    std::tie(code, json) = run(write);
    EXPECT_EQ(code, 0) << QJsonDocument(json).toJson().toStdString();
    EXPECT_TRUE(ReadFile(pdfs.filePath("02-5A-C3-00-01-CB.pdf")).startsWith("%PDF"));
}

TEST(CliOutput, JsonIsTheWholeOutput) {
    Station station(130, {"TCPmask=24"});
    SimProcess sim({"serial", "--ignore", "mask"});
    ASSERT_TRUE(sim.Started());
    const QStringList serial = {"serial", "--device", sim.FirstLine()};
    const struct {
        QStringList args;
        int status;
        const char* json;  // the object's members to find, the device's path as "DEV"
    } rows[] = {
        {serial + QStringList{"write", "--mac", "--verify", "--json"}, 1,
         R"({"command":"write","differences":["mask written 24, read 16"],"failed":"verify",)"
         R"("link":"DEV","mac":"02-5A-C3-00-01-C9","result":"NG"})"},
        {serial + QStringList{"read", "--json"}, 0,
         R"({"command":"read","failed":"","link":"DEV","mac":"","read":{"bps":"16","conn":"1",)"
         R"("f_ip":"10.16.77.171","f_pt":"3335","keep":"1","l_ip":"127.0.8.130","l_pt":"10777",)"
         R"("madr":"02-5A-C3-00-01-C9","mask":"16","timr":"1","timv":"10"},"result":"OK"})"},
        // The ledger named whole, though the settings file was named relative to the folder.
        {{"record", "status", "--json"},
         0,
         R"({"command":"record status","result":"OK","ledger":"LEDGER"})"},
        // A refused connection names its cause.
        {{"telnet", "--address", "127.0.8.135", "write", "--json"},
         2,
         R"j({"command":"write","result":"refused","error":"cannot connect to 127.0.8.135:23: )j"
         R"j(接続を拒否されました (Connection refused)"})j"},
        {serial + QStringList{"--json", "write", "--bogus"}, 2,
         R"j({"command":"","result":"usage","error":"unknown switch --bogus (--help lists the )j"
         R"j(usage)"})j"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const CliRun r = RunCliProcess(
            row.args + QStringList{"--ini", QDir::current().relativeFilePath(station.Ini())});
        EXPECT_EQ(r.status, row.status) << r.err.toStdString();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.join('\n').toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.join('\n').toStdString();
        const QJsonObject want =
            QJsonDocument::fromJson(QString::fromUtf8(row.json)
                                        .replace("DEV", sim.FirstLine())
                                        .replace("LEDGER", station.LedgerPath())
                                        .toUtf8())
                .object();
        for (const QString& key : want.keys())
            EXPECT_EQ(doc.object()[key], want[key]) << key.toStdString();
    }
}

// A board whose answers are not their values' whole form, every setting at once: read and
// write --verify name each key with its answer as it came and end NG; the rest of the reading
// goes on. Whole answers at the edges of their forms are read as they are.
struct Answers {
    const char* name;
    int ip;       // the station's own address 127.0.8.<ip>; the telnet board's too
    bool telnet;  // over telnet, else over a pseudo-terminal
    QList<std::pair<QString, QString>> set;  // the board's answer of each key, in query order
    QStringList readLines;                   // for whole answers: what read prints
};

void PrintTo(const Answers& a, std::ostream* os) {
    *os << a.name;
}

class CliAnswers : public ::testing::TestWithParam<Answers> {};

TEST_P(CliAnswers, OnlyAWholeAnswerIsTheBoardsValue) {
    const Answers& row = GetParam();
    Station station(row.ip, {});
    // The answers stay whatever the write sends.
    QStringList sim = row.telnet ? Substituted(kTelnetSim, {}, row.ip) : QStringList{"serial"};
    QJsonObject answers;
    for (const auto& [key, answer] : row.set) {
        sim << "--set" << key + "=" + answer << "--ignore" << key;
        answers[key] = answer;
    }
    SimProcess board(sim);
    ASSERT_TRUE(board.Started());
    const QStringList link =
        row.telnet ? QStringList{"telnet"} : QStringList{"serial", "--device", board.FirstLine()};
    const QStringList ini = {"--json", "--ini", station.Ini()};
    const CliRun read = RunCliProcess(link + QStringList{"read"} + ini);
    const QJsonObject readJson =
        QJsonDocument::fromJson(read.out.value(read.out.size() - 1).toUtf8()).object();
    if (!row.readLines.isEmpty()) {
        EXPECT_EQ(read.status, 0) << read.err.toStdString();
        // With --json the lines go to standard error.
        const QStringList lines = read.err.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.mid(lines.size() - 11), row.readLines);
        EXPECT_FALSE(readJson.contains("malformed"));
        return;
    }
    const CliRun verify = RunCliProcess(link + QStringList{"write", "--verify"} + ini);
    const QJsonObject verifyJson =
        QJsonDocument::fromJson(verify.out.value(verify.out.size() - 1).toUtf8()).object();
    const QStringList verifyLines = verify.err.split('\n');
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(verify.status, 1);
    EXPECT_EQ(readJson["failed"], row.set[0].first);
    EXPECT_EQ(readJson["malformed"], answers);
    EXPECT_EQ(verifyJson["failed"], "verify");
    EXPECT_EQ(verifyJson["malformed"], answers);
    // Nothing is printed as a value; each key is named with its answer.
    EXPECT_TRUE(readJson["read"].toObject().isEmpty());
    for (const auto& [key, answer] : row.set) {
        const QString named = key + ": answer '" + answer + "' is not ";
        EXPECT_TRUE(read.err.contains(named)) << named.toStdString() << read.err.toStdString();
        EXPECT_TRUE(std::any_of(verifyLines.begin(), verifyLines.end(),
                                [&](const QString& l) { return l.startsWith("verify: " + named); }))
            << named.toStdString() << verify.err.toStdString();
    }
    EXPECT_TRUE(verifyLines.contains("verify: NG"));
    EXPECT_EQ(station.LastRecord(),
              QStringLiteral("%1,NG,verify,").arg(row.telnet ? "telnet-write" : "write"));
}

// clang-format off
const Answers kAnswers[] = {
    {"Truncated", 171, false, {
        {"madr", "02-5A-C3"}, {"l_ip", "127449.9"}, {"l_pt", "-"}, {"f_ip", "10.16.77."},
        {"f_pt", "-"}, {"mask", "-"}, {"conn", "-"}, {"bps", "-"}, {"timv", "-"}, {"keep", "-"},
        {"timr", "-"}}, {}},
    {"TooManyGroups", 172, true, {
        {"madr", "02-5A-C3-00-01-C9-00"}, {"l_ip", "127.0.8.172.1"}, {"l_pt", "10.777"},
        {"f_ip", "10.16.77.171.0"}, {"f_pt", "3.335"}, {"mask", "1.6"}, {"conn", "1.0"},
        {"bps", "16.0"}, {"timv", "1-0"}, {"keep", "1.1"}, {"timr", "1.1"}}, {}},
    {"GroupOutOfRange", 173, false, {
        {"madr", "02-5A-C3-00-01-1C9"}, {"l_ip", "127.0.8.256"}, {"l_pt", "2147483648"},
        {"f_ip", "10.16.1000.171"}, {"f_pt", "-1"}, {"mask", "33"}, {"conn", "-1"}, {"bps", "18"},
        {"timv", "-2147483649"}, {"keep", "2"}, {"timr", "99999999999"}}, {}},
    {"BadDigit", 174, true, {
        {"madr", "02-5A-C3-00-0G-C9"}, {"l_ip", "127.0.x.174"}, {"l_pt", "10x77"},
        {"f_ip", "10.16.7 7.171"}, {"f_pt", "33O5"}, {"mask", "+16"}, {"conn", "l"},
        {"bps", "1G"}, {"timv", "1e3"}, {"keep", "O"}, {"timr", " 1"}}, {}},
    {"Empty", 175, false, {
        {"madr", ""}, {"l_ip", ""}, {"l_pt", ""}, {"f_ip", ""}, {"f_pt", ""}, {"mask", ""},
        {"conn", ""}, {"bps", ""}, {"timv", ""}, {"keep", ""}, {"timr", ""}}, {}},
    // Any value but 0 switches on; small letters are hexadecimal digits too.
    {"WholeAtTheEdges", 176, false, {
        {"madr", "02-5a-c3-00-01-c9"}, {"l_ip", "0.0.0.0"}, {"l_pt", "0"},
        {"f_ip", "255.255.255.255"}, {"f_pt", "2147483647"}, {"mask", "32"}, {"conn", "2"},
        {"bps", "17"}, {"timv", "-2147483647"}, {"keep", "0"}, {"timr", "0"}},
     {"madr=02-5A-C3-00-01-C9", "l_ip=0.0.0.0", "l_pt=0", "f_ip=255.255.255.255",
      "f_pt=2147483647", "mask=32", "conn=2", "bps=17", "timv=-2147483647", "keep=0", "timr=0"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Boards, CliAnswers, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<Answers>& p) {
                             return std::string(p.param.name);
                         });

// The end-of-line check: a board is written, restarted (its simulator process ends and starts
// again on its state file, as after a power cycle) and checked against the ledger.
struct CheckRow {
    const char* name;
    int ip;                       // the station's own address 127.0.8.<ip>; the telnet board's too
    bool telnet, shared;          // shared: a PostgreSQL ledger, checked at a second station
    QStringList board;            // the board's switches in both lives, beside --state
    QList<QStringList> commands;  // what runs before the restart (after the link)
    QString failed;               // the check row's failed column; "": OK
    QStringList lines;            // the check's lines, each as its line starts
};

// Values unlike the factory's in every setting; the address written is the factory's.
const QStringList kCheckSettings = {"TCPPort1=4001", "TCPIP2_1=127",   "TCPIP2_2=0",
                                    "TCPIP2_3=0",    "TCPIP2_4=9",     "TCPPort2=4002",
                                    "TCPmask=24",    "fAutoConnect=0", "SpeedIndex=2",
                                    "TxTiming=20",   "fKeepAlive=0",   "ChkTiming=5"};
const QString kMac = "02-5A-C3-00-01-C9";

class CliChecks : public ::testing::TestWithParam<CheckRow> {};

TEST_P(CliChecks, ABoardAfterItsRestartAgainstTheLedger) {
    const CheckRow& row = GetParam();
    const bool ok = row.failed.isEmpty();
    Station writer(row.ip, kCheckSettings);
    Station checker(row.ip, {});
    std::unique_ptr<PgServer> server;
    if (row.shared) {
        server = std::make_unique<PgServer>();
        ASSERT_TRUE(server->Error().isEmpty()) << server->Error().toStdString();
        const QString uri = server->CreateDatabase("netboard");
        for (const Station* s : {&writer, &checker}) {
            TIniFile f(s->Ini());
            f.WriteString("Production", "Database", uri);
            f.WriteString("Production", "Station", s == &writer ? "writer" : "checker");
            f.UpdateFile();
        }
    }
    const Station& at = row.shared ? checker : writer;
    const QStringList board =
        (row.telnet ? Substituted(kTelnetSim, {}, row.ip) : QStringList{"serial"}) +
        QStringList{"--state", writer.Dir() + "/board-state"} + row.board;
    auto link = [&](const SimProcess& s) {
        return row.telnet ? QStringList{"telnet"}
                          : QStringList{"serial", "--device", s.FirstLine()};
    };
    {
        SimProcess first(board);
        ASSERT_TRUE(first.Started());
        for (const QStringList& command : row.commands)
            RunCliProcess(link(first) + command + QStringList{"--ini", writer.Ini()});
    }
    SimProcess restarted(board);
    ASSERT_TRUE(restarted.Started());
    const CliRun r =
        RunCliProcess(link(restarted) + QStringList{"check", "--json", "--ini", at.Ini()});
    EXPECT_EQ(r.status, ok ? 0 : 1) << r.err.toStdString();
    // With --json the log goes to standard error, the object alone to standard output.
    QStringList lines = r.err.split('\n').filter(QRegularExpression("^check: "));
    EXPECT_EQ(lines.takeLast(), ok ? "check: OK" : "check: NG");
    ASSERT_EQ(lines.size(), row.lines.size()) << lines.join('\n').toStdString();
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(row.lines[i])) << lines[i].toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out.last().toUtf8()).object()["result"], ok ? "OK" : "NG");
    EXPECT_EQ(at.LastRecord(),
              QStringList({"check", ok ? "OK" : "NG", row.failed, kMac}).join(','));
    EXPECT_TRUE(RunCliProcess({"record", "status", "--ini", at.Ini()})
                    .out.contains(ok ? "検査済み 1 台　未検査 0 台　NG 0 台"
                                     : "検査済み 0 台　未検査 0 台　NG 1 台"));
}

const QStringList kWriteMac = {"write", "--mac"};

// clang-format off
const CheckRow kCheckRows[] = {
    {"SerialKeptEverything", 180, false, false, {}, {kWriteMac}, "", {}},
    {"TelnetKeptEverything", 181, true, false, {}, {kWriteMac}, "", {}},
    // The board answered "save" but kept nothing: every setting is back at the factory's (the
    // address written was the factory's).
    {"NothingKept", 182, false, false, {"--no-persist"}, {kWriteMac},
     "l_ip l_pt f_ip f_pt mask conn bps timv keep timr",
     {"check: l_ip written 127.0.8.182, read 127.0.0.1", "check: l_pt written 4001, read 10777",
      "check: f_ip written 127.0.0.9, read 10.16.77.171", "check: f_pt written 4002, read 3335",
      "check: mask written 24, read 16", "check: conn written 0, read 1",
      "check: bps written 17, read 16", "check: timv written 20, read 10",
      "check: keep written 0, read 1", "check: timr written 5, read 1"}},
    {"MaskLost", 183, true, false, {"--persist-except", "mask"}, {kWriteMac}, "mask",
     {"check: mask written 24, read 16"}},
    {"NeverWritten", 184, false, false, {}, {}, "unknown", {"check: " + kMac + " unknown"}},
    // "save" went out unanswered: the address is burned, and the board kept nothing.
    {"BurnedAddress", 185, false, false, {"--mute", "save"}, {kWriteMac}, "burned",
     {"check: " + kMac + " burned"}},
    {"GivenTwice", 186, false, false, {},
     {kWriteMac, {"mac-rewrite", "--mac", "00-01-C9", "--allow-reuse"}}, "given-twice",
     {"check: " + kMac + " given to more than one board"}},
    // Written at one station, checked at another through the shared ledger.
    {"CheckedAtAnotherStation", 187, false, true, {}, {kWriteMac}, "", {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Boards, CliChecks, ::testing::ValuesIn(kCheckRows),
                         [](const ::testing::TestParamInfo<CheckRow>& p) {
                             return std::string(p.param.name);
                         });

// Without a settings file at its default place nothing is written to a board; a read runs on
// the built-in settings and says so. The program is copied to a folder of its own, where its
// default settings file is missing.
TEST(CliOutput, NoDefaultSettingsFile) {
    QTemporaryDir dir;
    const QString cli = dir.filePath("netboard-cli");
    ASSERT_TRUE(QFile::copy(NB_CLI_PATH, cli));
    SimProcess telnet({"telnet", "--address", "127.0.8.129", "--port", "23"});
    ASSERT_TRUE(telnet.Started());
    const QString ini = dir.filePath("netboard-config.ini");
    for (const char* command : {"write", "mac-rewrite", "read"}) {
        SCOPED_TRACE(command);
        QProcess p;
        p.setProcessEnvironment(WithoutDisplay());
        const bool read = QLatin1String(command) == QLatin1String("read");
        p.start(cli, read ? QStringList{"telnet", "--address", "127.0.8.129", "read"}
                          : QStringList{"serial", "--device", "/dev/null", command});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(err.contains(ini)) << err.toStdString();
        EXPECT_EQ(p.exitCode(), read ? 0 : 2);
        EXPECT_TRUE(err.contains(read ? "built-in settings" : "--ini")) << err.toStdString();
    }
}

// Lines that cannot run give status 2, a single line on standard error, and touch nothing;
// with --json standard output holds that line as the JSON object's "error". Where a row names
// it, the line says what is wrong.
TEST(CliUsage, BadLinesGiveStatusTwo) {
    Station station(120, {});
    const QString ini = station.Ini();
    const QList<std::pair<QStringList, QString>> said = {
        {{"serial", "--port", "1", "mac-rewrite", "--mac", "ZZ-00-00"},
         "--mac needs the last three bytes of a MAC address, XX-XX-XX in hexadecimal (such as "
         "00-01-C9), not 'ZZ-00-00'"},
        {{"serial", "--port", "1", "mac-rewrite", "--mac", "00-01-C9", "--mac"},
         "--mac is given twice; give each switch once"},
        {{"telnet", "frob", "--json"}, "unknown command frob"},
        {{"telnet", "read", "--serial", "A1"}, "--serial belongs to write"},
        {{"plan", "check"}, "plan check needs the CSV file"},
        {{"plan", "status", "--name", "x"}, "--name belongs to plan import"},
    };
    QList<QStringList> lines = {
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
        {"telnet", "read", "--json=1"},
        {"telnet", "read", "--ini"},
        {"telnet", "read", "--ini", station.Ini() + ".missing"},
        {"serial", "--device", "/dev/null", "rom-version"},
        {"record", "export", "--json"},
        {"block", "set", "00-10-00"},
        {"block", "set", "00-20-00", "00-10-00"},
        {"block", "set", "00-10-00", "00-1F-FF", "--verify"},
        {"plan", "export", "--json"},
        {"plan", "import", "a.csv", "--serial", "A1"},
        {"plan"},
    };
    for (const auto& [args, _] : said)
        lines << args;
    for (const QStringList& args : lines) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const bool hasIni = args.contains("--ini");
        const CliRun r = RunCliProcess(hasIni ? args : args + QStringList{"--ini", ini});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        for (const auto& [sayingArgs, saying] : said) {
            if (sayingArgs == args) {
                EXPECT_TRUE(r.err.contains(saying)) << r.err.toStdString();
            }
        }
        if (!args.contains("--json")) {
            EXPECT_TRUE(r.out.isEmpty());
            continue;
        }
        const QJsonObject json = QJsonDocument::fromJson(r.out.join('\n').toUtf8()).object();
        EXPECT_EQ(json["result"], "usage") << r.out.join('\n').toStdString();
        EXPECT_EQ("netboard-cli: " + json["error"].toString() + "\n", r.err);
    }
    EXPECT_FALSE(QFile::exists(station.LedgerPath()));
    const CliRun version = RunCliProcess({"telnet", "read", "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringList{"netboard-cli " NB_PROJECT_VERSION});
    const CliRun help = RunCliProcess({"telnet", "--help", "--bogus-is-ignored"});
    EXPECT_EQ(help.status, 0);
    for (const char* word :
         {"serial", "telnet", "--port", "--device", "--address", "write", "--mac", "mac-rewrite",
          "read", "check", "rom-version", "--ini", "--verify", "--allow-reuse", "--help"})
        EXPECT_TRUE(help.out.join('\n').contains(word)) << word;
}

// The window without a display ends with status 1 and says in Japanese what is missing and that
// netboard-cli needs none, rather than aborting with Qt's message.
TEST(CliUsage, TheWindowWithoutADisplay) {
    const struct {
        QStringList env;
        const char* says;
    } rows[] = {
        {{}, "環境変数 DISPLAY も WAYLAND_DISPLAY も設定されていない"},
        // A platform that cannot start: here the X one with no display to connect to.
        {{"QT_QPA_PLATFORM=xcb"}, "Qt のプラットフォーム「xcb」を起動できませんでした"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        QProcessEnvironment env;  // empty: nothing of this process's environment
        for (const QString& e : row.env)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(NB_APP_PATH, {});
        ASSERT_TRUE(window.waitForFinished(60000));
        const QString err = QString::fromUtf8(window.readAllStandardError());
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window.exitCode(), 1);
        EXPECT_TRUE(err.contains(QString::fromUtf8(row.says)) && err.contains("netboard-cli"))
            << err.toStdString();
    }
}

// Trying it without hardware: the board's terminal under a path that stays, named once in the
// settings file as COM1; the path goes with the board. The modes are listed.
TEST(CliUsage, ASimulatedBoardUnderAStablePath) {
    Station station(143, {});
    const QString link = station.Dir() + "/com1";
    {
        SimProcess sim({"serial", "--link", link});
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.FirstLine());
        TIniFile f(station.Ini());
        f.WriteString("ComPorts", "COM1", link);
        f.UpdateFile();
        const CliRun r = RunCliProcess({"serial", "--port", "1", "read", "--ini", station.Ini()});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(station.LastRecord(), "read,OK,,");
        sim.Stop();
        EXPECT_FALSE(QFileInfo(link).isSymLink());
    }
    QProcess help;
    help.start(NB_SIM_PATH, {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    const QString modes = QString::fromUtf8(help.readAllStandardOutput());
    for (const char* mode :
         {"serial", "telnet", "reader", "--link", "--state", "--no-persist", "--persist-except"})
        EXPECT_TRUE(modes.contains(mode)) << mode;
}

// What a station's ledger holds after a sequence of runs: given, released, burned, reserved.
QString Addresses(const QString& ini) {
    TLedger ledger(ini, QStringLiteral("test"));  // its start burns what ended processes left
    const TLedgerStats s = ledger.Stats();
    return QStringLiteral("given=%1 released=%2 burned=%3 reserved=%4")
        .arg(s.given)
        .arg(s.released)
        .arg(s.burned)
        .arg(s.reserved);
}

// The "madr=" lines a board's transcript holds.
int MacLinesHeard(const QString& transcript) {
    QFile f(transcript);
    return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count("madr=")) : 0;
}

// Runs in turn on one station, each checked: an address is never given twice, whatever the
// settings file says, and a failure to keep the record is a failure.
struct Step {
    QStringList set;  // entries of section Option written first
    QStringList cli;  // after "serial --device <board>"
    int status;
    QString lastRow;  // the last ledger row afterwards ("" none)
    QString counter;
    bool sendsMac;                                       // the board heard a "madr=" line
    enum Loss { Kept, Emptied, Deleted } ledger = Kept;  // what becomes of the ledger first
};
enum class Setup { None, ReadOnlyFolder, ReadOnlyIni, LedgerFullAfterSave };
struct Sequence {
    const char* name;
    QStringList oldRecord;  // an old CSV record beside the settings file
    bool lastEnded;         // its last line has its line end
    QStringList sim;
    Setup setup;
    std::vector<Step> steps;
    QString addresses;  // Addresses() at the end ("" no ledger)
};

void PrintTo(const Sequence& s, std::ostream* os) {
    *os << s.name;
}

class CliLedger : public ::testing::TestWithParam<Sequence> {};

TEST_P(CliLedger, RunsInTurn) {
    const Sequence& q = GetParam();
    Station station(140, {});
    if (!q.oldRecord.isEmpty())
        WriteOldRecord(station.Ini(), q.oldRecord, q.lastEnded);
    const QString transcript = station.Dir() + "/heard.txt";
    SimProcess sim(QStringList{"serial", "--transcript", transcript} + q.sim);
    ASSERT_TRUE(sim.Started());
    const bool nobody = q.setup == Setup::ReadOnlyFolder || q.setup == Setup::ReadOnlyIni;
    if (nobody) {
        const passwd* pw = getpwnam("nobody");
        ASSERT_NE(pw, nullptr);
        ASSERT_EQ(chown(sim.FirstLine().toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid), 0);
        chmod(station.Dir().toLocal8Bit().constData(),
              q.setup == Setup::ReadOnlyFolder ? 0755 : 0777);
        chmod(station.Ini().toLocal8Bit().constData(),
              q.setup == Setup::ReadOnlyFolder ? 0644 : 0444);
    }
    if (q.setup == Setup::LedgerFullAfterSave) {
        // A disk that fills up after "save": every new row fails, nothing else does.
        { TLedger created(station.Ini(), QStringLiteral("test")); }
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "full");
        db.setDatabaseName(TLedger::PathBesideIni(station.Ini()));
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(
            QSqlQuery(db).exec("CREATE TRIGGER full BEFORE INSERT ON commands BEGIN "
                               "SELECT RAISE(FAIL, 'database or disk is full'); END"));
        db.close();
    }
    for (const Step& step : q.steps) {
        SCOPED_TRACE(step.cli.join(' ').toStdString());
        if (!step.set.isEmpty())
            station.Set(step.set);
        if (step.ledger != Step::Kept) {
            QFile::resize(station.LedgerPath(), 0);
            for (const char* suffix : {"-wal", "-shm"})
                QFile::remove(station.LedgerPath() + suffix);
            if (step.ledger == Step::Deleted)
                QFile::remove(station.LedgerPath());
        }
        const int heard = MacLinesHeard(transcript);
        // A step is a command to the board, or one to the ledger alone (block, record).
        const QStringList link = step.cli.value(0) == "block" || step.cli.value(0) == "record"
                                     ? QStringList{}
                                     : QStringList{"serial", "--device", sim.FirstLine()};
        const CliRun r =
            RunCliProcess(link + step.cli + QStringList{"--ini", station.Ini()}, nobody);
        EXPECT_EQ(r.status, step.status) << r.err.toStdString();
        EXPECT_EQ(station.LastRecord(), step.lastRow);
        EXPECT_EQ(station.Counter(), step.counter);
        EXPECT_EQ(MacLinesHeard(transcript) > heard, step.sendsMac);
    }
    if (q.setup == Setup::LedgerFullAfterSave) {
        // The disk has room again: the next start burns the address, with the command's row.
        QSqlDatabase db = QSqlDatabase::database("full");
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec("DROP TRIGGER full"));
        db.close();
        QSqlDatabase::removeDatabase("full");
        EXPECT_EQ(Addresses(station.Ini()), q.addresses);
        EXPECT_EQ(station.LastRecord(), "write-mac,NG,save,02-5A-C3-00-01-C9");
        return;
    }
    EXPECT_EQ(QFile::exists(station.LedgerPath()) ? Addresses(station.Ini()) : QString(),
              q.addresses);
}

const QString kOldC9 =
    "2026-11-30T09:15:00+09:00,write-mac,COM1 /dev/ttyUSB0,"
    "02-5A-C3-00-01-C9,127.0.0.1,OK,";
const QString kOldCA =
    "2026-11-30T09:16:00+09:00,write-mac,COM1 /dev/ttyUSB0,"
    "02-5A-C3-00-01-CA,127.0.0.1,OK,";

// clang-format off
const Sequence kSequences[] = {
    // A last line cut off before its line end still counts, and swallows nothing after it.
    {"CutOffLastLine", {"garbage,", kOldC9, kOldCA}, false, {}, Setup::None, {
        {{"MacAddr_3=203"}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CB", "00-01-CC", true},
        {{"MacAddr_3=202"}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CC", "00-01-CD", true},
        {{"MacAddr_3=203"}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CD", "00-01-CE", true}},
     "given=5 released=0 burned=0 reserved=0"},
    // A refused rewrite sends nothing and leaves the counter where it was.
    {"RefusedRewriteKeepsCounter", {kOldC9}, true, {}, Setup::None, {
        {{"MacAddr_3=208"}, {"mac-rewrite", "--mac", "00-01-C9"}, 1, "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-D0", false},
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-D0", "00-01-D1", true}},
     "given=2 released=0 burned=0 reserved=0"},
    // "save" was acknowledged: the board keeps the address even though the check failed, and a
    // restored settings file does not give it to a second board.
    {"FailedVerifyStillGives", {}, true, {"--ignore", "mask"}, Setup::None, {
        {{"TCPmask=24"}, {"write", "--mac", "--verify"}, 1, "write-mac,NG,verify,02-5A-C3-00-01-C9", "00-01-CA", true},
        {{"MacAddr_3=201"}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CA", "00-01-CB", true}},
     "given=2 released=0 burned=0 reserved=0"},
    // "save" unanswered: the address is burned, and the next run passes over it.
    {"UnansweredSaveBurns", {}, true, {"--mute", "save"}, Setup::None, {
        {{}, {"write", "--mac"}, 1, "write-mac,NG,save,02-5A-C3-00-01-C9", "00-01-C9", true},
        {{}, {"write", "--mac"}, 1, "write-mac,NG,save,02-5A-C3-00-01-CA", "00-01-C9", true}},
     "given=0 released=0 burned=2 reserved=0"},
    // An emptied or deleted ledger is not replaced in silence: nothing is sent until a new one
    // is started, which counts what the settings file says was reserved as used.
    {"LostLedgerIsRefused", {}, true, {}, Setup::None, {
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA", true},
        {{}, {"write", "--mac"}, 1, "", "00-01-CA", false, Step::Emptied},
        {{}, {"mac-rewrite", "--mac", "00-01-C9"}, 1, "", "00-01-CA", false, Step::Deleted},
        {{}, {"record", "new", "--force"}, 0, "", "00-01-CA", false},
        {{}, {"mac-rewrite", "--mac", "00-01-C9"}, 1, "", "00-01-CA", false},
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CA", "00-01-CB", true}},
     "given=1 released=0 burned=0 reserved=0"},
    // A board that echoes "exit" late: the run that sent it takes the echo before it closes the
    // port, so that the next run's answers do not start with it.
    {"LateExitEchoStaysWithItsRun", {}, true, {"--exit-echo-delay", "1000", "--byte-delay", "10"}, Setup::None, {
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-C9", "00-01-CA", true},
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CA", "00-01-CB", true}},
     "given=2 released=0 burned=0 reserved=0"},
    // The old record's line of a failed verification came after an acknowledged "save": the
    // board keeps the address, which is not given again.
    {"OldVerifyNgLineIsGiven", {"2026-11-30T09:15:00+09:00,write-mac,COM1 /dev/ttyUSB0,"
                                "02-5A-C3-00-01-C9,127.0.0.1,NG,verify"}, true, {}, Setup::None, {
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-00-01-CA", "00-01-CB", true}},
     "given=2 released=0 burned=0 reserved=0"},
    // A block of one address, the last before the wrap: it is given once, and then the block
    // is used up rather than wrapping to 00-00-00.
    {"OneAddressBlockAtTheWrap", {}, true, {}, Setup::None, {
        {{}, {"block", "set", "FF-FF-FF", "FF-FF-FF"}, 0, "", "FF-FF-FF", false},
        {{}, {"write", "--mac"}, 0, "write-mac,OK,,02-5A-C3-FF-FF-FF", "FF-FF-FF", true},
        {{}, {"write", "--mac"}, 1, "write-mac,OK,,02-5A-C3-FF-FF-FF", "FF-FF-FF", false}},
     "given=1 released=0 burned=0 reserved=0"},
    // Neither the counter nor the record can be written: nothing is sent, twice.
    {"NothingWritable", {}, true, {}, Setup::ReadOnlyFolder, {
        {{}, {"write", "--mac"}, 1, "", "00-01-C9", false},
        {{}, {"write", "--mac"}, 1, "", "00-01-C9", false}},
     ""},
    // The record can be kept but the counter cannot: nothing is sent.
    {"CounterNotWritable", {}, true, {}, Setup::ReadOnlyIni, {
        {{}, {"write", "--mac"}, 1, "", "00-01-C9", false}},
     "given=0 released=0 burned=0 reserved=0"},
    // The board took the address but its row cannot be added: NG, and the address is burned.
    {"LedgerFullAfterSave", {}, true, {}, Setup::LedgerFullAfterSave, {
        {{}, {"write", "--mac"}, 1, "", "00-01-C9", true}},
     "given=0 released=0 burned=1 reserved=0"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Stations, CliLedger, ::testing::ValuesIn(kSequences),
                         [](const ::testing::TestParamInfo<Sequence>& p) {
                             return std::string(p.param.name);
                         });

// A run killed between "save" and its answer leaves its reservation open; the next start burns
// the address, and it is not sent again.
TEST(CliLedgerCrash, AKilledRunLeavesItsAddressBurned) {
    Station station(141, {});
    // A plan row reserved with the address is burned with it.
    const QString csv = WritePlanFile(station.Dir(), "l_ip\n127.0.9.41\n127.0.9.42\n");
    ASSERT_EQ(RunCliProcess({"plan", "import", csv, "--ini", station.Ini()}).status, 0);
    const QString transcript = station.Dir() + "/heard.txt";
    SimProcess sim({"serial", "--transcript", transcript, "--mute", "save"});
    ASSERT_TRUE(sim.Started());
    QProcess cli;
    cli.setProcessEnvironment(WithoutDisplay());
    cli.start(NB_CLI_PATH,
              {"serial", "--device", sim.FirstLine(), "write", "--mac", "--ini", station.Ini()});
    QFile heard(transcript);
    for (int waited = 0;
         waited < 20000 && !(heard.open(QIODevice::ReadOnly) && heard.readAll().contains("save"));
         waited += 10) {
        heard.close();
        QThread::msleep(10);
    }
    cli.kill();  // SIGKILL: no chance to end the reservation
    cli.waitForFinished();
    // The board may hold the address: it is burned, and the command has its row.
    EXPECT_EQ(Addresses(station.Ini()), "given=0 released=0 burned=1 reserved=0");
    EXPECT_EQ(station.LastRecord(), "write-mac,NG,save,02-5A-C3-00-01-C9");
    // The next run passes over it, saying so, and sends the next address.
    const CliRun again = RunCliProcess(
        {"serial", "--device", sim.FirstLine(), "write", "--mac", "--ini", station.Ini()});
    EXPECT_EQ(again.status, 1);  // "save" is still unanswered
    EXPECT_TRUE(again.out.join('\n').contains(
        "MACアドレス 02-5A-C3-00-01-C9 は保存の応答がなかったため飛ばします"))
        << again.out.join('\n').toStdString();
    EXPECT_EQ(MacLinesHeard(transcript), 2);
    EXPECT_EQ(station.LastRecord(), "write-mac,NG,save,02-5A-C3-00-01-CA");
    const CliRun status = RunCliProcess({"plan", "status", "--json", "--ini", station.Ini()});
    EXPECT_TRUE(status.out.join('\n').contains("\"burned\":\"2\""))
        << status.out.join('\n').toStdString();
}

// Two processes on one station, each writing 100 boards at the same time from one settings file
// and one ledger: 200 addresses, each given once, and the counter past them all.
TEST(CliLedgerCrash, TwoProcessesAtOnceNeverGiveAnAddressTwice) {
    Station station(142, {});
    SimProcess a({"serial"}), b({"serial"});
    ASSERT_TRUE(a.Started() && b.Started());
    const QString loop = QStringLiteral(
        "for i in $(seq 100); do \"%1\" serial --device %2 write --mac --ini \"%3\" "
        ">/dev/null 2>&1 || echo failed; done");
    QProcess runs[2];
    for (QProcess& p : runs)
        p.setProcessEnvironment(WithoutDisplay());
    runs[0].start("sh", {"-c", loop.arg(NB_CLI_PATH, a.FirstLine(), station.Ini())});
    runs[1].start("sh", {"-c", loop.arg(NB_CLI_PATH, b.FirstLine(), station.Ini())});
    for (QProcess& p : runs) {
        ASSERT_TRUE(p.waitForFinished(240000));
        EXPECT_EQ(p.readAllStandardOutput(), QByteArray());
    }
    QSet<QString> macs;
    for (const QString& row : LedgerRows(station.Ini())) {
        EXPECT_TRUE(row.contains(",write-mac,") && row.endsWith(",OK,")) << row.toStdString();
        macs.insert(row.section(',', 3, 3));
    }
    EXPECT_EQ(macs.size(), 200);
    EXPECT_TRUE(macs.contains("02-5A-C3-00-01-C9") && macs.contains("02-5A-C3-00-02-90"));
    EXPECT_EQ(station.Counter(), "00-02-91");
}

// An export that cannot read every row (a damaged page in the middle of the file) fails with the
// reason, rather than end early as if the rows had ended.
TEST(CliOutput, AnExportThatStopsEarlyFails) {
    Station station(144, {});
    { TLedger created(station.Ini(), QStringLiteral("test")); }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "rows");
        db.setDatabaseName(station.LedgerPath());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(db.transaction());
        for (int i = 0; i < 20000; ++i)
            ASSERT_TRUE(q.exec(QStringLiteral(
                "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, "
                "failed) VALUES ('2026-12-01T09:00:00+09:00', 0, 'test', 'read', 'COM1 /dev/x', "
                "'', '', 'OK', '')")));
        ASSERT_TRUE(db.commit());
        db.close();
    }
    QSqlDatabase::removeDatabase("rows");
    QFile file(station.LedgerPath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 pages = file.size() / 4096;
    for (qint64 page = pages / 3; page < 2 * pages / 3; ++page) {
        file.seek(page * 4096);
        file.write(QByteArray(4096, '\xA5'));
    }
    file.close();
    const CliRun r = RunCliProcess({"record", "export", "--ini", station.Ini()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("を最後まで読めません")) << r.err.toStdString();
}

// Plan files checked by netboard-cli: each bad one is refused whole (exit 2, nothing imported), its
// first error naming line and column; a good one reads in either encoding.
TEST(CliPlans, FilesCheckedWithLineAndColumn) {
    Station station(145, {});
    const struct {
        const char* name;
        QByteArray file;
        QString error;  // the first error; empty: the file reads
    } rows[] = {
        {"bad address", "l_ip,l_pt\n10.0.0.1,1\n10.0.0.300,2\n",
         "line 3, column 1 (l_ip): '10.0.0.300' is not an IPv4 address"},
        {"port not a number", "serial,l_pt\nA,12x\n", "line 2, column 2 (l_pt): '12x' is not"},
        {"switch out of range", "conn\n2\n", "line 2, column 1 (conn): '2' is not a number from 0"},
        {"speed not a code", "bps\n9600\n", "line 2, column 1 (bps): '9600' is not a speed code"},
        {"empty value", "l_ip,mask\n10.0.0.1,\n", "line 2, column 2 (mask): '' has no value"},
        {"unknown column", "l_ip,madr\n10.0.0.1,1\n", "line 1, column 2 ('madr') is no column"},
        {"column twice", "l_ip,L_IP\n", "line 1, column 2 ('l_ip') is given twice"},
        {"no setting", "serial,note\nA,x\n", "line 1: the header names no setting"},
        {"no rows", "l_ip\n\n", "line 1: the plan has no row"},
        {"field count", "l_ip,serial\n10.0.0.1\n", "line 2: 1 fields where the header names 2"},
        {"same address", "l_ip\n10.0.0.1\n10.0.0.2\n010.0.0.1\n",
         "line 4, column 1 (l_ip): 10.0.0.1 is the own IP address of line 2 too"},
        {"same serial", "serial,l_ip\nA,10.0.0.1\nA,10.0.0.2\n",
         "line 3, column 1 (serial): 'A' is the serial of line 2 too"},
        {"unclosed quote", "l_ip,note\n10.0.0.1,\"x\n", "line 2: a quoted field is not closed"},
        {"utf-8 with BOM", "\xEF\xBB\xBFl_ip,note\r\n10.0.0.1,\xE7\xAC\xAC\xE4\xBA\x8C\r\n", ""},
        {"shift_jis", "l_ip,note\n10.0.0.1," + EncodeShiftJis(QStringLiteral("第二")) + "\n", ""},
    };
    QString csv;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        csv = WritePlanFile(station.Dir(), r.file);
        const CliRun check = RunCliProcess({"plan", "check", csv, "--ini", station.Ini()});
        EXPECT_EQ(check.status, r.error.isEmpty() ? 0 : 2);
        if (r.error.isEmpty())
            EXPECT_TRUE(check.out.contains("rows=1")) << check.out.join('|').toStdString();
        else
            EXPECT_TRUE(check.err.contains(csv + ": " + r.error)) << check.err.toStdString();
    }
    // A bad file imports nothing; the good one then does.
    const QStringList ini = {"--ini", station.Ini()};
    const QString bad = WritePlanFile(station.Dir(), "l_ip\n10.0.0.1\n10.0.0.256\n", "bad.csv");
    EXPECT_EQ(RunCliProcess(QStringList{"plan", "import", bad} + ini).status, 2);
    EXPECT_TRUE(RunCliProcess(QStringList{"plan", "status"} + ini).out.contains("plan=-"));
    EXPECT_EQ(RunCliProcess(QStringList{"plan", "import", csv} + ini).status, 0);
    EXPECT_TRUE(RunCliProcess(QStringList{"plan", "status"} + ini).out.contains("rows=1"));
}

// A site plan taken by writes in turn: each board hears its own row's lines; a board that fails
// before "save" gives its row back, one that fails after it burns it; a serial picks its row, an
// unknown one sends nothing; a plan used up sends nothing.
TEST(CliPlans, RowsTakenInTurnGivenBackBurnedAndPickedBySerial) {
    Station station(143, {});
    QByteArray text = "l_ip,l_pt,serial,note\n";
    for (int i = 1; i <= 22; ++i)
        text += QStringLiteral("127.0.9.%1,%2,SN%3,board %3\n")
                    .arg(10 + i)
                    .arg(4000 + i)
                    .arg(i)
                    .toLatin1();
    const QString csv = WritePlanFile(station.Dir(), text);
    const QStringList ini = {"--ini", station.Ini()};
    EXPECT_EQ(RunCliProcess(QStringList{"plan", "import", csv, "--name", "site"} + ini).status, 0);
    // The values of `key` a board heard, in order.
    const auto heardBy = [](const QString& transcript, const char* key) {
        QFile t(transcript);
        QStringList values;
        if (t.open(QIODevice::ReadOnly)) {
            static const QRegularExpression line(QStringLiteral("(\\w+)=(\\S+)"));
            for (auto m = line.globalMatch(QString::fromLatin1(t.readAll())); m.hasNext();) {
                const auto match = m.next();
                if (match.captured(1) == key)
                    values << match.captured(2);
            }
        }
        return values;
    };
    // Twenty boards in turn, each hearing its own row's lines.
    for (int i = 1; i <= 20; ++i) {
        const QString heard = station.Dir() + QStringLiteral("/board%1.txt").arg(i);
        SimProcess board({"serial", "--transcript", heard});
        ASSERT_TRUE(board.Started());
        ASSERT_EQ(RunCliProcess(
                      QStringList{"serial", "--device", board.FirstLine(), "write", "--mac"} + ini)
                      .status,
                  0)
            << i;
        EXPECT_EQ(heardBy(heard, "l_ip"), QStringList{QStringLiteral("127.0.9.%1").arg(10 + i)});
        EXPECT_EQ(heardBy(heard, "l_pt"), QStringList{QString::number(4000 + i)});
    }
    const QString transcript = station.Dir() + "/heard.txt";
    SimProcess sim({"serial", "--transcript", transcript});
    ASSERT_TRUE(sim.Started());
    const QStringList write =
        QStringList{"serial", "--device", sim.FirstLine(), "write", "--mac"} + ini;
    const auto heard = [&](const char* key) { return heardBy(transcript, key); };
    // Row 22 by its serial; an unknown serial sends nothing.
    const CliRun unknown = RunCliProcess(write + QStringList{"--serial", "SN99", "--json"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.out.join('\n').contains("\"result\":\"refused\""))
        << unknown.out.join('\n').toStdString();
    EXPECT_TRUE(unknown.err.contains("シリアル番号 SN99 は計画 site にありません"));
    EXPECT_EQ(RunCliProcess(write + QStringList{"--serial", "SN22"}).status, 0);
    EXPECT_EQ(heard("l_ip"), QStringList{"127.0.9.32"});
    // Row 21 fails before "save" and comes back; then "save" goes unanswered and burns it.
    {
        SimProcess failing({"serial", "--mute", "l_pt=4021"});
        ASSERT_TRUE(failing.Started());
        EXPECT_EQ(
            RunCliProcess(QStringList{"serial", "--device", failing.FirstLine(), "write", "--mac"} +
                          ini)
                .status,
            1);
    }
    {
        SimProcess unanswered({"serial", "--mute", "save"});
        ASSERT_TRUE(unanswered.Started());
        EXPECT_EQ(
            RunCliProcess(
                QStringList{"serial", "--device", unanswered.FirstLine(), "write", "--mac"} + ini)
                .status,
            1);
    }
    const QString status = RunCliProcess(QStringList{"plan", "status"} + ini).out.join('\n');
    EXPECT_TRUE(status.contains("rows=22\nused=21\nreserved=0\nburned=1\nremaining=0\nnext=-"))
        << status.toStdString();
    const CliRun usedUp = RunCliProcess(write);
    EXPECT_EQ(usedUp.status, 1);
    EXPECT_TRUE(usedUp.err.contains("計画 site の行はすべて使いました"))
        << usedUp.err.toStdString();
    EXPECT_EQ(heard("l_ip").size(), 1);
    // The export: each row with its board's address; the ledger's rows name their plan rows.
    const QStringList exported = RunCliProcess(QStringList{"plan", "export"} + ini).out;
    ASSERT_EQ(exported.size(), 23);
    EXPECT_EQ(exported[1].section(',', 0, 6),
              "1,SN1,board 1,127.0.9.11,4001,used,02-5A-C3-00-01-C9");
    EXPECT_EQ(exported[21].section(',', 5, 5), "burned");
    EXPECT_EQ(exported[22].section(',', 5, 6), "used,02-5A-C3-00-01-DD");
    EXPECT_EQ(RunCliProcess(QStringList{"plan", "close"} + ini).status, 0);
    // Closed: the settings file's values again.
    EXPECT_EQ(RunCliProcess(write).status, 0);
    EXPECT_EQ(heard("l_ip").last(), QStringLiteral("127.0.8.143"));
}

}  // namespace
