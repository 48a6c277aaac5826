// Labels printed through PrintLabel: on netboard-sim printer (the job that arrives, and no job
// when the printer is not ready), into a label folder and on a CUPS queue (the PDF rendered with
// pdftoppm, its QR code decoded with zbarimg, its text read with pdftotext).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>

#include "core/inifile.h"
#include "core/posixio.h"
#include "cupsserver.h"
#include "label/labelprinter.h"
#include "support/printers.h"
#include "support/simprocess.h"

namespace {

const QString kMac = QStringLiteral("02-5A-C3-00-01-C9");

TLabelOutcome Print(const QString& printer) {
    TIniFile ini(QStringLiteral("/nonexistent/netboard-config.ini"));
    ini.WriteString("Label", "Printer", printer);
    return PrintLabel(ReadLabelSettings(ini),
                      MakeLabelContent(0x0001C9, "10.16.77.170", "ライン1", QDate(2026, 12, 1)));
}

QStringList Jobs(const QString& dir) {
    return QDir(dir).entryList({"*.zpl"}, QDir::Files, QDir::Name);
}

// A format of its own on a new connection to 127.0.29.1: the sim serves connections in turn,
// so once it is written every format of the connection before has been.
void SendProbe(int port) {
    TUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(0x7F001D01);
    ASSERT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_TRUE(WriteAll(fd.Get(), "^XA^FDprobe^XZ", 14));
}

TEST(ZplLabel, OneJobWhenReadyAndNoneWithTheCauseOtherwise) {
    const char* const rows[][3] = {
        // switch of the sim, fault, message
        {"", "", "に送りました"},
        {"--paper-out", "paper-out", "は用紙切れです"},
        {"--head-open", "head-open", "はヘッドが開いています"},
        {"--paused", "paused", "は一時停止中です"},
        {"--silent", "no-answer", "が 3 秒以内に状態を返しません"},
        {"--cut", "closed", "が状態の応答の途中で接続を切りました"},
        {"stopped", "connect", "に接続できません: 接続を拒否されました (Connection refused)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        const QString name = QString::fromUtf8(row[0]);
        QTemporaryDir jobs;
        QStringList args{"printer", "--address", "127.0.29.1", "--jobs", jobs.path()};
        SimProcess sim(args << (name.startsWith("--") ? QStringList{name} : QStringList{}));
        ASSERT_TRUE(sim.Started());
        if (name == "stopped")
            sim.Stop();  // its port is then refused
        const TLabelOutcome out = Print("zpl://" + sim.FirstLine());
        EXPECT_EQ(out.fault, QString::fromUtf8(row[1]));
        EXPECT_EQ(out.ok, out.fault.isEmpty());
        EXPECT_TRUE(out.message.contains(QString::fromUtf8(row[2]))) << out.message.toStdString();
        if (name == "stopped")
            continue;
        SendProbe(sim.FirstLine().section(':', 1).toInt());
        const int expected = out.ok ? 2 : 1;
        ASSERT_TRUE(WaitInFolder(
            jobs.path(), [&] { return Jobs(jobs.path()).size() >= expected; }, 20000));
        QFile first(jobs.filePath(Jobs(jobs.path()).first()));
        ASSERT_TRUE(first.open(QIODevice::ReadOnly));
        const QString job = QString::fromUtf8(first.readAll());
        EXPECT_EQ(job.contains("^FDMA," + kMac + "^FS"), out.ok) << job.toStdString();
        EXPECT_EQ(job.contains("^FH^FD" + kMac + "^FS"), out.ok);
        EXPECT_EQ(job == "^XA^FDprobe^XZ", !out.ok);
    }
}

// What the PDF's first page shows: its QR code decoded, then its text.
QString Decoded(const QString& pdf) {
    QProcess render, decode, text;
    const QTemporaryDir pages;
    const QString png = pages.filePath("page");
    render.start("pdftoppm", {"-r", "300", "-png", "-singlefile", pdf, png});
    render.waitForFinished(60000);
    decode.start("zbarimg", {"--raw", "-q", png + ".png"});
    text.start("pdftotext", {pdf, "-"});
    decode.waitForFinished(60000);
    text.waitForFinished(60000);
    return QString::fromUtf8(decode.readAllStandardOutput()).trimmed() + " | " +
           QString::fromUtf8(text.readAllStandardOutput()).simplified();
}

TEST(PdfLabel, FolderAndCupsQueueGiveTheAddressBack) {
    CupsServer cups(QStringLiteral("labels"));
    ASSERT_EQ(cups.Error(), QString());
    setenv("CUPS_SERVER", QFile::encodeName(cups.Socket()).constData(), 1);
    QTemporaryDir folder;
    const QString pdf = folder.filePath(kMac + ".pdf");
    const QString rows[][4] = {
        // printer, fault, message, the PDF printed
        {"pdf:" + folder.path(), "", pdf, pdf},
        {"cups:labels", "", "CUPS のキュー labels に送りました（ジョブ 1）", cups.Output()},
        {"cups:nosuch", "cups", "CUPS のキュー nosuch にジョブを作れません: ", ""},
        {"pdf:/proc", "folder", "に一時ファイルを作れません", ""},
        {"pdf:" + pdf, "folder", "ラベルのフォルダ " + pdf + " がありません", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0].toStdString());
        const TLabelOutcome out = Print(row[0]);
        EXPECT_EQ(out.fault, row[1]);
        EXPECT_TRUE(out.message.contains(row[2])) << out.message.toStdString();
        if (!row[3].isEmpty()) {
            ASSERT_TRUE(cups.WaitForJobsDone());
            EXPECT_EQ(Decoded(row[3]), kMac + " | " + kMac + " IP 10.16.77.170 ライン1 2026-12-01");
        }
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{kMac + ".pdf"});
}

}  // namespace
