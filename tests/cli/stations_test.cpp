// Several stations on one ledger: netboard-cli processes, each against its own netboard-sim,
// giving MAC addresses from one block at the same time, killed at random points, and cut off from
// the server. Each table runs against a station's own SQLite ledger (one settings file for every
// process: the ledger lies beside it) and against a shared PostgreSQL ledger on a server the test
// starts itself (a settings file per station).
#include <gtest/gtest.h>

#include <signal.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <random>

#include "board/macaddress.h"
#include "core/inifile.h"
#include "ledger/ledger.h"
#include "ledger/ledgerdb.h"
#include "support/cliprocess.h"
#include "support/ledgerfiles.h"
#include "support/pgserver.h"
#include "support/pump.h"
#include "support/simprocess.h"

namespace {

using Cli = TCliProcessRun;

Cli RunCli(const QStringList& args) {
    return RunNetboardCli(args);
}

// The MAC addresses a board heard, in order.
QStringList Heard(const QString& transcript) {
    QFile f(transcript);
    QStringList macs;
    if (!f.open(QIODevice::ReadOnly))
        return macs;
    static const QRegularExpression madr(QStringLiteral("madr=(\\S+)"));
    for (auto m = madr.globalMatch(QString::fromLatin1(f.readAll())); m.hasNext();)
        macs << m.next().captured(1);
    return macs;
}

QString Transcript(const QTemporaryDir& dir, int station) {
    return dir.filePath(QStringLiteral("heard%1.txt").arg(station));
}

class Stations : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!GetParam())
            return;
        server_ = std::make_unique<PgServer>();
        ASSERT_TRUE(server_->Error().isEmpty()) << server_->Error().toStdString();
        uri_ = server_->CreateDatabase(QStringLiteral("netboard"));
        ASSERT_FALSE(uri_.isEmpty());
    }
    // Station n's settings file, on its own loopback address: with a shared ledger its own,
    // naming the server and the station; else one for every process.
    QString Ini(int n) {
        const QString path =
            dir_.filePath(QStringLiteral("station%1.ini").arg(uri_.isEmpty() ? 0 : n));
        if (!QFile::exists(path)) {
            TIniFile f(path);
            f.WriteString("Option", "TCPIP1_1", "127");
            f.WriteString("Option", "TCPIP1_2", "0");
            f.WriteString("Option", "TCPIP1_3", "8");
            f.WriteInteger("Option", "TCPIP1_4", 150 + n);
            if (!uri_.isEmpty()) {
                f.WriteString("Production", "Database", uri_);
                f.WriteString("Production", "Station", QStringLiteral("S%1").arg(n));
            }
            f.UpdateFile();
        }
        return path;
    }
    QStringList Write(int n, const SimProcess& sim) {
        return {"serial", "--device", sim.FirstLine(), "write", "--mac", "--ini", Ini(n)};
    }
    // Four stations, each with a board of its own (`sims`, its transcript Transcript(dir_, n)),
    // each writing `writes` boards in turn, all four at the same time; every run succeeds.
    void WriteAtOnce(int writes, std::unique_ptr<SimProcess> (&sims)[4]) {
        QProcess loops[4];
        for (int n = 0; n < 4; ++n) {
            sims[n] = std::make_unique<SimProcess>(
                QStringList{"serial", "--transcript", Transcript(dir_, n)});
            ASSERT_TRUE(sims[n]->Started());
            loops[n].start("sh", QStringList{"-c",
                                             QStringLiteral("for i in $(seq %1); do \"$@\" "
                                                            ">/dev/null 2>&1 || echo failed; done")
                                                 .arg(writes),
                                             "sh", NB_CLI_PATH} +
                                     Write(n, *sims[n]));
        }
        for (QProcess& p : loops) {
            ASSERT_TRUE(p.waitForFinished(600000));
            EXPECT_EQ(p.readAllStandardOutput(), QByteArray());
        }
    }

    QTemporaryDir dir_;
    std::unique_ptr<PgServer> server_;
    QString uri_;
};

// Four stations take 100 addresses each at the same time from a block of 400: each address is
// sent once, the block is used up, and the 401st command sends nothing.
TEST_P(Stations, FourStationsShareOneBlock) {
    ASSERT_EQ(RunCli({"block", "set", "00-10-00", "00-11-8F", "--ini", Ini(0)}).status, 0);
    std::unique_ptr<SimProcess> sims[4];
    WriteAtOnce(100, sims);
    ASSERT_FALSE(HasFatalFailure());
    QStringList heard;
    for (int n = 0; n < 4; ++n)
        heard += Heard(Transcript(dir_, n));
    EXPECT_EQ(heard.size(), 400);
    EXPECT_EQ(QSet<QString>(heard.begin(), heard.end()).size(), 400);
    QSet<QString> given;
    for (const QString& row : LedgerRows(Ini(0)))
        given.insert(row.section(',', 3, 3));
    EXPECT_EQ(given.size(), 400);
    EXPECT_TRUE(given.contains("02-5A-C3-00-10-00") && given.contains("02-5A-C3-00-11-8F"));

    const qint64 before = QFileInfo(Transcript(dir_, 1)).size();
    const Cli refused = RunCli(Write(1, *sims[1]));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("すべて使いました")) << refused.err.toStdString();
    EXPECT_EQ(QFileInfo(Transcript(dir_, 1)).size(), before) << "the board heard the 401st";
    const QString status = RunCli({"record", "status", "--ini", Ini(2)}).out;
    EXPECT_TRUE(status.contains("given=400\n") && status.contains("remaining=0\n"))
        << status.toStdString();
    if (!uri_.isEmpty()) {
        for (int n = 0; n < 4; ++n)
            EXPECT_TRUE(
                status.contains(QStringLiteral("station S%1: rows=100 ng=0 given=100").arg(n)));
    }
}

// Four stations take rows of one site plan at the same time, 10 boards each from a plan of 40:
// each row is taken once, each board hears its own row's address with the MAC address reserved
// with it, and the 41st write sends nothing.
TEST_P(Stations, FourStationsTakeEachPlanRowOnce) {
    QByteArray text = "l_ip,mask\n";
    for (int i = 1; i <= 40; ++i)
        text += QStringLiteral("127.0.10.%1,24\n").arg(i).toLatin1();
    const QString csv = WritePlanFile(dir_.path(), text);
    ASSERT_EQ(RunCli({"plan", "import", csv, "--ini", Ini(0)}).status, 0);
    std::unique_ptr<SimProcess> sims[4];
    WriteAtOnce(10, sims);
    ASSERT_FALSE(HasFatalFailure());
    // What the boards heard, as MAC address -> own IP address.
    QMap<QString, QString> heard;
    static const QRegularExpression pair(QStringLiteral("madr=(\\S+)[\\s\\S]*?l_ip=(\\S+)"));
    for (int n = 0; n < 4; ++n) {
        QFile t(Transcript(dir_, n));
        ASSERT_TRUE(t.open(QIODevice::ReadOnly));
        for (auto m = pair.globalMatch(QString::fromLatin1(t.readAll())); m.hasNext();) {
            const auto match = m.next();
            heard.insert(match.captured(1), match.captured(2));
        }
    }
    EXPECT_EQ(heard.size(), 40);
    const Cli exported = RunCli({"plan", "export", "--ini", Ini(3)});
    const QStringList rows = exported.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 41) << exported.out.toStdString();
    QSet<QString> ips;
    for (const QString& row : rows.mid(1)) {
        EXPECT_EQ(row.section(',', 5, 5), "used") << row.toStdString();
        EXPECT_EQ(heard.value(row.section(',', 6, 6)), row.section(',', 3, 3)) << row.toStdString();
        ips.insert(row.section(',', 3, 3));
    }
    EXPECT_EQ(ips.size(), 40);
    const qint64 before = QFileInfo(Transcript(dir_, 1)).size();
    const Cli refused = RunCli(Write(1, *sims[1]));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("行はすべて使いました")) << refused.err.toStdString();
    EXPECT_EQ(QFileInfo(Transcript(dir_, 1)).size(), before);
}

// The settings file cannot take the counter after "save" was acknowledged: the command is NG
// for that reason, but its row and the giving are kept, and the next offer passes over the
// address.
TEST_P(Stations, ACounterLostAfterSaveKeepsTheGiving) {
    const QString ini = Ini(0);
    int low = 0;
    {
        TLedger ledger(ini, QStringLiteral("test"));
        low = *ledger.NextAddress();
        ASSERT_TRUE(ledger.Reserve(low, ledger.Lookup(low), {"write-mac", "COM1", "127.0.8.150"},
                                   TLedger::TCounter::Unchanged));
        // The settings file's place is taken by a folder: it can be neither read nor replaced.
        ASSERT_TRUE(QFile::rename(ini, ini + ".kept") && QDir().mkdir(ini));
        const TRecordLine row{QDateTime::currentDateTime(),
                              "write-mac",
                              "COM1",
                              MacTextOfLow(low),
                              "127.0.8.150",
                              true,
                              "",
                              ""};
        try {
            ledger.Finish(low, row, TAddressState::Given, low);
            ADD_FAILURE() << "the counter's failure was not told";
        } catch (const ELedgerError& e) {
            EXPECT_TRUE(e.Message().contains("MACアドレスを保存できません"))
                << e.Message().toStdString();
        }
        ASSERT_TRUE(QDir().rmdir(ini) && QFile::rename(ini + ".kept", ini));
    }
    TLedger again(ini, QStringLiteral("test"));
    EXPECT_EQ(again.Lookup(low).state, TAddressState::Given);
    EXPECT_EQ(LastLedgerRow(ini), "write-mac,OK,," + MacTextOfLow(low));
    EXPECT_EQ(again.NextAddress(), TMacAddress(low).Next().Low());
}

// Two stations whose commands are killed (SIGKILL) at random points: no address is sent twice,
// and every address a board heard is given, or burned when its command died before its end.
TEST_P(Stations, StationsKilledAtRandomPointsSendNoAddressTwice) {
    ASSERT_EQ(RunCli({"block", "set", "00-20-00", "00-20-FF", "--ini", Ini(0)}).status, 0);
    std::unique_ptr<SimProcess> sims[2];
    for (int n = 0; n < 2; ++n) {
        sims[n] = std::make_unique<SimProcess>(
            QStringList{"serial", "--transcript", Transcript(dir_, n)});
        ASSERT_TRUE(sims[n]->Started());
    }
    // The kills fall anywhere from the start to past the end of a command that runs through.
    QElapsedTimer whole;
    whole.start();
    ASSERT_EQ(RunCli(Write(0, *sims[0])).status, 0);
    std::mt19937 random(16);
    std::uniform_int_distribution<int> delayMs(0, static_cast<int>(whole.elapsed() * 3 / 2));
    for (int round = 0; round < 20; ++round) {
        QProcess runs[2];
        for (int n = 0; n < 2; ++n)
            runs[n].start(NB_CLI_PATH, Write(n, *sims[n]));
        for (QProcess& p : runs)
            p.waitForStarted();
        QThread::msleep(delayMs(random));
        for (QProcess& p : runs) {
            p.kill();
            p.waitForFinished();
        }
    }
    const QStringList heard = Heard(Transcript(dir_, 0)) + Heard(Transcript(dir_, 1));
    EXPECT_EQ(QSet<QString>(heard.begin(), heard.end()).size(), heard.size())
        << heard.join(' ').toStdString();
    QSet<QString> ok;
    for (const QString& row : LedgerRows(Ini(0))) {
        if (row.endsWith(",OK,"))
            ok.insert(row.section(',', 3, 3));
    }
    TLedger ledger(Ini(0), QStringLiteral("test"));
    // The server sees a killed station's session end a moment after the kill.
    EXPECT_TRUE(PumpUntil([&] { return ledger.Stats().reserved == 0; }, 10000));
    for (const QString& mac : heard)
        EXPECT_EQ(ledger.Lookup(*MacLowOfText(mac)).state,
                  ok.contains(mac) ? TAddressState::Given : TAddressState::Burned)
            << mac.toStdString();
}

// A ledger of the first version, with a row and a given address, is brought up to date by the
// first start and takes a block.
TEST_P(Stations, AFirstVersionLedgerIsMigrated) {
    const QStringList v1 = {
        "CREATE TABLE ledger_schema (version INTEGER NOT NULL)",
        "INSERT INTO ledger_schema VALUES (1)",
        QStringLiteral(
            "CREATE TABLE commands (id %1 PRIMARY KEY, time TEXT NOT NULL, utc BIGINT "
            "NOT NULL, station TEXT NOT NULL, command TEXT NOT NULL, link TEXT NOT NULL, "
            "mac TEXT NOT NULL, own_ip TEXT NOT NULL, result TEXT NOT NULL, failed TEXT "
            "NOT NULL)")
            .arg(uri_.isEmpty() ? "INTEGER" : "BIGSERIAL"),
        "CREATE TABLE addresses (low INTEGER PRIMARY KEY, state TEXT NOT NULL, time TEXT NOT NULL, "
        "command TEXT NOT NULL, station TEXT NOT NULL, owner TEXT NOT NULL)",
        "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, failed) "
        "VALUES ('2026-01-02T03:04:05+09:00', 1767290645, 'old', 'write-mac', 'COM1', "
        "'02-5A-C3-00-10-00', '10.0.0.1', 'OK', '')",
        "INSERT INTO addresses VALUES (4096, 'given', '2026-01-02T03:04:05+09:00', 'write-mac', "
        "'old', '')"};
    if (uri_.isEmpty()) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "v1");
        db.setDatabaseName(TLedger::PathBesideIni(Ini(0)));
        ASSERT_TRUE(db.open());
        for (const QString& sql : v1)
            EXPECT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
        db.close();
    } else {
        ASSERT_FALSE(server_->Sql("netboard", "SET ROLE netboard;" + v1.join(';')).isNull());
    }
    QSqlDatabase::removeDatabase("v1");
    const Cli set = RunCli({"block", "set", "00-10-00", "00-10-01", "--ini", Ini(0)});
    EXPECT_EQ(set.status, 0) << set.err.toStdString();
    EXPECT_TRUE(set.out.contains("remaining=1\n")) << set.out.toStdString();
    EXPECT_TRUE(RunCli({"record", "status", "--ini", Ini(0)})
                    .out.contains("station old: rows=1 ng=0 given=1 released=0 burned=0"));
    // The old row is read as it was; it holds no values sent.
    EXPECT_TRUE(RunCli({"record", "export", "--ini", Ini(0)})
                    .out.contains(",COM1,02-5A-C3-00-10-00,10.0.0.1,OK,,old,,,,,,,,,,,\r\n"));
}

// Each station's old CSV record reaches the shared ledger once, at the station's first
// connection, so that a station joining later brings the addresses it gave before.
// Stations are known by their identity, not their name: two of one name (cloned PCs) each
// bring their own record. A burning in a record wins over a release the server holds.
TEST_P(Stations, EachStationsOldRecordIsReadInOnce) {
    if (!GetParam())
        GTEST_SKIP() << "a station's own ledger reads its record in when it is made";
    WriteOldRecord(Ini(1), {"2026-11-30T09:15:00+09:00,write-mac,COM1,02-5A-C3-00-01-C9,"
                            "127.0.0.1,OK,"});
    WriteOldRecord(Ini(2), {"2026-11-30T09:16:00+09:00,write-mac,COM1,02-5A-C3-00-01-CA,"
                            "127.0.0.1,OK,",
                            "2026-11-30T09:17:00+09:00,write-mac,COM1,02-5A-C3-00-01-CB,"
                            "127.0.0.1,NG,save"});
    {
        TIniFile f(Ini(2));
        f.WriteString("Production", "Station", "S1");
        f.UpdateFile();
        TLedger ledger(Ini(0), QStringLiteral("S0"));
        ASSERT_TRUE(
            ledger.Reserve(0x1CB, ledger.Lookup(0x1CB), "write-mac", TLedger::TCounter::Unchanged));
        ledger.Finish(0x1CB,
                      {QDateTime::currentDateTime(), "write-mac", "COM1", "02-5A-C3-00-01-CB", "",
                       false, "mask", ""},
                      TAddressState::Released, -1);
    }
    for (int n : {1, 2, 2, 1})
        ASSERT_EQ(RunCli({"record", "status", "--ini", Ini(n)}).status, 0);
    const QString status = RunCli({"record", "status", "--ini", Ini(0)}).out;
    EXPECT_TRUE(status.contains("station S1: rows=3 ng=1 given=2 released=0 burned=1"))
        << status.toStdString();
    QStringList macs;
    for (const QString& row : LedgerRows(Ini(0)))
        macs << row.section(',', 3, 3);
    macs.sort();
    EXPECT_EQ(macs.join(' ').toStdString(),
              "02-5A-C3-00-01-C9 02-5A-C3-00-01-CA 02-5A-C3-00-01-CB 02-5A-C3-00-01-CB");
}

// A station that joins a shared ledger brings what its own ledger gave, once; an address another
// station already holds is reported with that station, and left as the server has it.
TEST_P(Stations, AJoiningStationBringsItsOwnLedger) {
    if (!GetParam())
        GTEST_SKIP() << "joining needs a shared ledger";
    const QString transcript = dir_.filePath("joining.txt");
    SimProcess sim({"serial", "--transcript", transcript}), other({"serial"});
    ASSERT_TRUE(sim.Started() && other.Started());
    const QString own = dir_.filePath("joining.ini");
    {
        TIniFile f(own);
        f.WriteString("Production", "Station", "J");
        f.UpdateFile();
    }
    const QStringList write = {"serial", "--device", sim.FirstLine(), "write", "--mac",
                               "--ini",  own};
    ASSERT_EQ(RunCli({"block", "set", "00-F1-00", "00-F1-0F", "--ini", own}).status, 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(RunCli(write).status, 0);
    ASSERT_EQ(RunCli({"serial", "--device", other.FirstLine(), "mac-rewrite", "--mac", "00-F1-01",
                      "--ini", Ini(1)})
                  .status,
              0);
    {
        TIniFile f(own);
        f.WriteString("Production", "Database", uri_);
        f.UpdateFile();
    }
    const Cli joined = RunCli({"block", "set", "00-F1-00", "00-F1-0F", "--ini", own});
    EXPECT_EQ(joined.status, 0) << joined.err.toStdString();
    EXPECT_TRUE(joined.out.contains("MACアドレス 02-5A-C3-00-F1-01:") &&
                joined.out.contains("ステーション S1"))
        << joined.out.toStdString();
    EXPECT_EQ(RunCli(write).status, 0);
    EXPECT_EQ(Heard(transcript), QStringList({"02-5A-C3-00-F1-00", "02-5A-C3-00-F1-01",
                                              "02-5A-C3-00-F1-02", "02-5A-C3-00-F1-03"}));
    const QString status = RunCli({"record", "status", "--ini", own}).out;
    EXPECT_TRUE(status.contains("station J: rows=4 ng=0 given=3")) << status.toStdString();
}

// A server that stops answering during a command (its processes stopped): the command ends
// within its bound with the reason, its row and its address's outcome wait on the station and
// reach the server once it answers again.
TEST_P(Stations, AServerThatFallsSilentMidCommand) {
    if (!GetParam())
        GTEST_SKIP() << "a station's own ledger has no server";
    const QString transcript = dir_.filePath("silent.txt");
    SimProcess sim({"serial", "--transcript", transcript, "--reply-delay", "50"});
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(RunCli({"block", "set", "00-30-00", "00-30-0F", "--ini", Ini(0)}).status, 0);
    QProcess cli;
    cli.setProcessEnvironment(WithoutDisplay());
    cli.start(NB_CLI_PATH, Write(0, sim));
    ASSERT_TRUE(PumpUntil([&] { return !Heard(transcript).isEmpty(); }, 30000));
    server_->Pause(true);
    const bool ended = cli.waitForFinished(60000);
    server_->Pause(false);
    ASSERT_TRUE(ended);
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(cli.readAllStandardError()).contains("応答しません"));
    ASSERT_EQ(RunCli(Write(0, sim)).status, 0);
    EXPECT_EQ(Heard(transcript), QStringList({"02-5A-C3-00-30-00", "02-5A-C3-00-30-01"}));
    const QString status = RunCli({"record", "status", "--ini", Ini(0)}).out;
    EXPECT_TRUE(status.contains("rows=2\nng=0\ngiven=2\n")) << status.toStdString();
}

// A station whose server goes away: a command that needs an address refuses with nothing sent,
// one that needs none runs and keeps its row on the station, and the row reaches the server once
// the station reaches it again.
TEST_P(Stations, AStationCutOffFromItsServer) {
    if (!GetParam())
        GTEST_SKIP() << "a station's own ledger has no server";
    const QString raw = dir_.filePath("raw");
    SimProcess sim({"serial", "--raw", raw});
    ASSERT_TRUE(sim.Started());
    auto run = [&](const QStringList& command) {
        return RunCli(QStringList{"serial", "--device", sim.FirstLine()} + command +
                      QStringList{"--ini", Ini(0)});
    };
    ASSERT_EQ(run({"write", "--mac"}).status, 0);
    TLedger watcher(Ini(0), QStringLiteral("watcher"));  // connected across the restart
    server_->Stop();
    const qint64 sent = QFileInfo(raw).size();
    const Cli refused = run({"write", "--mac"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(uri_ + " に接続できません")) << refused.err.toStdString();
    EXPECT_EQ(QFileInfo(raw).size(), sent);
    const Cli kept = run({"write"});
    EXPECT_EQ(kept.status, 0);
    EXPECT_TRUE(kept.out.contains("共有の製造記録に記録されていません")) << kept.out.toStdString();
    ASSERT_TRUE(server_->Start());
    const Cli again = run({"read"});
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(again.out.contains("記録 1 件を共有の製造記録")) << again.out.toStdString();
    QStringList rows;
    for (const QString& row : LedgerRows(Ini(0)))
        rows << row.section(',', 1, 1) + ',' + row.section(',', 5, 5);
    EXPECT_EQ(rows, QStringList({"write-mac,OK", "write,OK", "read,OK"}));
    EXPECT_EQ(watcher.Stats().rows, 3);
    // The row kept on the station reached the server with the values it sent.
    EXPECT_TRUE(
        RunCli({"record", "export", "--ini", Ini(0)})
            .out.contains(",OK,,S0,127.0.8.150,10777,10.16.77.171,3335,16,1,16,10,1,1,\r\n"));
}

// A station without a block near the wrap of the counter, one row after another on one ledger:
// the address after FF-FF-FF is 00-00-00, for the next offer past a reservation of a live
// owner and for the counter once an address is given; a counter behind the address given
// follows it across the wrap, and one that another command moved past the wrap stays.
TEST_P(Stations, TheCounterStepsThroughTheWrapAndNeverBack) {
    const struct {
        const char* name;
        int counter;      // the settings file's counter first
        int reserved;     // an address this process holds reserved meanwhile; -1: none
        int given;        // an address then given; -1: none
        int counterBase;  // the counter the giving command started from
        int next;         // NextAddress() afterwards
        int counterAfter;
    } rows[] = {
        {"FF-FF-FF reserved: the next offer wraps", 0xFFFFFF, 0xFFFFFF, -1, -1, 0, 0xFFFFFF},
        {"FF-FF-FF given from the counter", 0xFFFFFF, -1, 0xFFFFFF, 0xFFFFFF, 0, 0},
        {"FF-FF-FF given, the counter behind it", 0xFFFFF0, -1, 0xFFFFFF, 0xFFFFFE, 0, 0},
        {"FF-FF-FE given, the counter past the wrap", 0x000002, -1, 0xFFFFFE, 0xFFFFFD, 2, 2},
    };
    TLedger ledger(Ini(0), QStringLiteral("test"));
    const auto row = [](int low) {
        return TRecordLine{
            QDateTime::currentDateTime(), "write-mac", "COM1", MacTextOfLow(low), "", true, "", ""};
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ledger.SetCounter(r.counter);
        if (r.reserved >= 0) {
            ASSERT_TRUE(ledger.Reserve(r.reserved, ledger.Lookup(r.reserved), "write-mac",
                                       TLedger::TCounter::Unchanged));
        }
        if (r.given >= 0) {
            ASSERT_TRUE(ledger.Reserve(r.given, ledger.Lookup(r.given), "write-mac",
                                       TLedger::TCounter::Unchanged));
            ledger.Finish(r.given, row(r.given), TAddressState::Given, r.counterBase);
        }
        EXPECT_EQ(ledger.NextAddress(), r.next);
        EXPECT_EQ(ledger.Counter(), r.counterAfter);
        if (r.reserved >= 0)
            ledger.Finish(r.reserved, row(r.reserved), TAddressState::Released, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Ledgers, Stations, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "Postgres" : "Sqlite");
                         });

// A connection URI as the server's driver takes it; a password in it is refused.
TEST(SharedLedger, ConnectionUris) {
    const char* const kTail =
        "connect_timeout='5';keepalives_idle='5';keepalives_interval='3';keepalives_count='3';"
        "fallback_application_name='netboard-config'";
    const std::pair<const char*, QString> rows[] = {
        {"postgresql://postgres@/netboard?host=/run/postgresql",
         QStringLiteral("user='postgres';dbname='netboard';host='/run/postgresql';") + kTail},
        {"postgres://db.example:5433,[::1]/line%201?application_name=a'b",
         QStringLiteral("host='db.example,::1';port='5433,';dbname='line 1';"
                        "application_name='a\\'b';") +
             kTail},
        {"postgresql://h/d?connect_timeout=2",
         "host='h';dbname='d';connect_timeout='2';keepalives_idle='5';keepalives_interval='3';"
         "keepalives_count='3';fallback_application_name='netboard-config'"},
        {"postgresql://a:1/d?host=b", "host='b';port='1';dbname='d';" + QString(kTail)},
        {"postgresql://u:secret@h/d", ""},
        {"postgresql://h/d?sslmode", ""},
        {"postgresql://h/d?password=x", ""},
        {"postgresql://h:54x/d", ""},
        {"postgresql://h/d?x;y=1", ""},
        // The driver takes the options as a C string: a NUL would drop what follows it.
        {"postgresql://h/d?application_name=a%00b&sslmode=require", ""},
        {"mysql://h/d", ""},
    };
    for (const auto& [uri, expected] : rows) {
        QString options;
        QString error;
        EXPECT_EQ(ConnectOptionsOfUri(uri, &options, &error), !expected.isEmpty()) << uri;
        EXPECT_EQ(options, expected) << uri;
        EXPECT_EQ(error.isEmpty(), !expected.isEmpty()) << uri;
    }
    // A password is never shown, however it is written: in messages, the log and --json.
    const std::pair<const char*, const char*> masked[] = {
        {"postgresql://u:secret@h/d", "postgresql://u:***@h/d"},
        {"postgresql://u:p%40ss:x@h:1,g/d?sslmode=require",
         "postgresql://u:***@h:1,g/d?sslmode=require"},
        {"postgres://h/d?sslmode=x&Pass%77ord=secret", "postgres://h/d?sslmode=x&Pass%77ord=***"},
        {"postgresql://u@h/d?password=", "postgresql://u@h/d?password=***"},
    };
    for (const auto& [uri, shown] : masked)
        EXPECT_EQ(MaskedUri(uri), shown) << uri;
    QTemporaryDir dir;
    const QString ini = dir.filePath("s.ini");
    TIniFile f(ini);
    f.WriteString("Production", "Database",
                  "postgresql://u:secret@/d?host=/nonexistent&password=two");
    f.UpdateFile();
    const Cli r = RunCli({"record", "status", "--json", "--ini", ini});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE((r.out + r.err).contains("secret") || (r.out + r.err).contains("two"))
        << (r.out + r.err).toStdString();
    EXPECT_TRUE(r.err.contains("postgresql://u:***@/d")) << r.err.toStdString();
}

}  // namespace
