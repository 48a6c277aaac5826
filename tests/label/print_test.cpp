// Labels printed through PrintLabel: on netboard-sim printer (the job that arrives, and no job
// when the printer is not ready), into a label folder and on a CUPS queue (the PDF rendered with
// pdftoppm, its QR code decoded with zbarimg).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "core/inifile.h"
#include "core/posixio.h"
#include "cupsserver.h"
#include "label/labelprinter.h"
#include "support/printers.h"
#include "support/simprocess.h"

namespace {

const char* const kMac = "02-5A-C3-00-01-C9";

TLabelContent Content() {
    return MakeLabelContent(0x0001C9, "10.16.77.170", "ライン1", QDate(2026, 12, 1));
}

TLabelSettings Settings(const QString& printer) {
    TIniFile ini(QStringLiteral("/nonexistent/netboard-config.ini"));
    ini.WriteString("Label", "Printer", printer);
    return ReadLabelSettings(ini);
}

QStringList Jobs(const QString& dir) {
    return QDir(dir).entryList({"*.zpl"}, QDir::Files, QDir::Name);
}

// Sends a format of its own on a new connection: the sim serves connections in turn, so once it
// is written every format of the connection before has been.
void SendProbe(const QString& address) {
    const QStringList hostPort = address.split(':');
    TUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(hostPort[1].toInt()));
    sa.sin_addr.s_addr = htonl(0x7F001D01);  // 127.0.29.1
    ASSERT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_TRUE(WriteAll(fd.Get(), "^XA^FDprobe^XZ", 14));
}

struct ZplRow {
    const char* name;
    const char* fault;  // "" for a label printed
    const char* says;
};

TEST(ZplLabel, OneJobWhenReadyAndNoneWithTheCauseOtherwise) {
    const ZplRow rows[] = {
        {"", "", "に送りました"},
        {"--paper-out", "paper-out", "は用紙切れです"},
        {"--head-open", "head-open", "はヘッドが開いています"},
        {"--paused", "paused", "は一時停止中です"},
        {"--silent", "no-answer", "が 3 秒以内に状態を返しません"},
        {"--cut", "closed", "が状態の応答の途中で接続を切りました"},
    };
    for (const ZplRow& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir jobs;
        QStringList args{"printer", "--address", "127.0.29.1", "--jobs", jobs.path()};
        if (*row.name)
            args << row.name;
        SimProcess sim(args);
        ASSERT_TRUE(sim.Started());
        const TLabelOutcome out = PrintLabel(Settings("zpl://" + sim.FirstLine()), Content());
        EXPECT_EQ(out.ok, !*row.fault);
        EXPECT_EQ(out.fault, QString::fromUtf8(row.fault));
        EXPECT_TRUE(out.message.contains(QString::fromUtf8(row.says))) << out.message.toStdString();
        SendProbe(sim.FirstLine());
        const int expected = *row.fault ? 1 : 2;
        ASSERT_TRUE(WaitInFolder(
            jobs.path(), [&] { return Jobs(jobs.path()).size() >= expected; }, 20000));
        QFile first(jobs.filePath(Jobs(jobs.path()).first()));
        ASSERT_TRUE(first.open(QIODevice::ReadOnly));
        const QByteArray job = first.readAll();
        const QByteArray wanted =
            *row.fault ? QByteArray("^XA^FDprobe^XZ") : QByteArray("^FDMA,") + kMac + "^FS";
        EXPECT_TRUE(job.contains(wanted)) << job.constData();
        EXPECT_EQ(job.contains(QByteArray("^FH^FD") + kMac + "^FS"), !*row.fault);
    }
}

TEST(ZplLabel, RefusedConnectionIsNamed) {
    TUniqueFd bound(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));  // bound, never listening
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(0x7F001D02);  // 127.0.29.2
    socklen_t len = sizeof sa;
    ASSERT_EQ(bind(bound.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(getsockname(bound.Get(), reinterpret_cast<sockaddr*>(&sa), &len), 0);
    const QString printer = QStringLiteral("zpl://127.0.29.2:%1").arg(ntohs(sa.sin_port));
    const TLabelOutcome out = PrintLabel(Settings(printer), Content());
    EXPECT_EQ(out.fault, "connect");
    EXPECT_TRUE(out.message.contains(ErrnoText(ECONNREFUSED))) << out.message.toStdString();
}

// What the PDF's first page shows: its QR code decoded and its text, or what failed.
QString Decoded(const QString& pdf) {
    QProcess render, decode, text;
    const QTemporaryDir pages;
    const QString png = pages.filePath("page");
    render.start("pdftoppm", {"-r", "300", "-png", "-singlefile", pdf, png});
    if (!render.waitForFinished(60000) || render.exitCode() != 0)
        return QStringLiteral("pdftoppm failed");
    decode.start("zbarimg", {"--raw", "-q", png + ".png"});
    text.start("pdftotext", {pdf, "-"});
    if (!decode.waitForFinished(60000) || !text.waitForFinished(60000))
        return QStringLiteral("zbarimg or pdftotext did not end");
    return QString::fromUtf8(decode.readAllStandardOutput()).trimmed() + " | " +
           QString::fromUtf8(text.readAllStandardOutput()).simplified();
}

TEST(PdfLabel, FolderAndCupsQueueGiveTheAddressBack) {
    CupsServer cups(QStringLiteral("labels"));
    ASSERT_EQ(cups.Error(), QString());
    setenv("CUPS_SERVER", QFile::encodeName(cups.Socket()).constData(), 1);
    QTemporaryDir folder;
    const QString decoded = QStringLiteral("%1 | %1 IP 10.16.77.170 ライン1 2026-12-01").arg(kMac);
    struct Row {
        QString printer, fault, says, output;
    } rows[] = {
        {"pdf:" + folder.path(), "", folder.filePath(kMac + QStringLiteral(".pdf")), ""},
        {"cups:labels", "", "CUPS のキュー labels に送りました", cups.Output()},
        {"cups:nosuch", "cups", "CUPS のキュー nosuch にジョブを作れません: ", ""},
        {"pdf:/proc", "folder", "一時ファイルを作れません", ""},
        {"pdf:" + folder.filePath("none"), "folder", "がありません", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.printer.toStdString());
        const TLabelOutcome out = PrintLabel(Settings(row.printer), Content());
        EXPECT_EQ(out.fault, row.fault);
        EXPECT_TRUE(out.message.contains(row.says)) << out.message.toStdString();
        const QString pdf = row.output.isEmpty() ? row.says : row.output;
        if (!row.output.isEmpty()) {
            ASSERT_TRUE(cups.WaitForJobsDone());
        }
        if (out.ok) {
            EXPECT_EQ(Decoded(pdf), decoded);
        }
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files),
              QStringList{kMac + QStringLiteral(".pdf")});
}

}  // namespace
