// The settings store: INI format rules, the board parameter record, the INI path and the
// atomic save.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class SettingsTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString ini = dir.filePath("netboard-config.ini");
};

TEST_F(SettingsTest, FirstRunGivesDefaultsAndSaveWritesAll26KeysInOrder) {
    const TBoardParams p = LoadSettings(ini);
    EXPECT_EQ(p.ComPort, 1);
    EXPECT_EQ(p.TelnetPass, "KXW");
    EXPECT_EQ(p.MacAddr_3, 201);
    EXPECT_EQ(p.TCPIP2_4, 171);
    EXPECT_EQ(p.TCPPort1, 10777);
    EXPECT_EQ(p.fSetInit, 0);
    SaveSettings(ini, p);
    const QByteArray expected =
        "[Option]\r\nComPort=1\r\nTelnetPass=KXW\r\nMacAddr_1=0\r\nMacAddr_2=1\r\n"
        "MacAddr_3=201\r\nTCPIP1_1=10\r\nTCPIP1_2=16\r\nTCPIP1_3=77\r\nTCPIP1_4=170\r\n"
        "TCPIP2_1=10\r\nTCPIP2_2=16\r\nTCPIP2_3=77\r\nTCPIP2_4=171\r\nTCPPort1=10777\r\n"
        "TCPPort2=3335\r\nTCPmask=16\r\nfAutoConnect=1\r\nSpeedIndex=1\r\nTxTiming=10\r\n"
        "fKeepAlive=1\r\nChkTiming=1\r\nfDispRecInfo=1\r\nfDispTxInfo=1\r\nfWrDebug1=0\r\n"
        "fDispCont1=1\r\nfSetInit=0\r\n\r\n";
    EXPECT_EQ(ReadBytes(ini), expected);
}

TEST_F(SettingsTest, ValuesAreReadByTheFormatRules) {
    WriteBytes(ini,
               "stray=before any section\r\n"
               "  [option]  \r\n"
               "; a comment\r\n"
               "  MacAddr_3 = 0xC9  \r\n"
               "ComPort=abc\r\n"
               "tcpport1=1234\r\n"
               "TCPPort2=0x\r\n"  // two characters: not hexadecimal, not an integer
               "TCPmask=+24\r\n"
               "TxTiming=-5\r\n"
               "ChkTiming=0xFFFFFFFF\r\n"
               "fSetInit=99999999999\r\n"
               "SpeedIndex=\r\n"
               "TelnetPass= se cret \r\n");
    const TBoardParams p = LoadSettings(ini);
    EXPECT_EQ(p.MacAddr_3, 201);
    EXPECT_EQ(p.ComPort, 1);
    EXPECT_EQ(p.TCPPort1, 1234);
    EXPECT_EQ(p.TCPPort2, 3335);
    EXPECT_EQ(p.TCPmask, 24);
    EXPECT_EQ(p.TxTiming, -5);
    EXPECT_EQ(p.ChkTiming, -1);
    EXPECT_EQ(p.fSetInit, 0);
    EXPECT_EQ(p.SpeedIndex, 1);
    EXPECT_EQ(p.TelnetPass, "se cret");
}

TEST_F(SettingsTest, SaveKeepsOtherSectionsAndLinesDropsCommentsAndAppendsNewKeys) {
    WriteBytes(ini,
               "junk before the first section\r\n"
               "[ComDebug]\r\n"
               "BaudRate=19200\r\n"
               "; comment that goes\r\n"
               "a line without an equals sign\r\n"
               "\r\n"
               "[OPTION]\r\n"
               "tcpport1=1234\r\n"
               "Custom=kept\r\n"
               "[Tail]\r\n"
               "x=1\r\n");
    TBoardParams p = LoadSettings(ini);
    p.TCPPort1 = 4321;
    SaveSettings(ini, p);
    const QString text = QString::fromLatin1(ReadBytes(ini));
    EXPECT_TRUE(
        text.startsWith("[ComDebug]\r\nBaudRate=19200\r\na line without an equals sign\r\n"
                        "\r\n[OPTION]\r\nTCPPort1=4321\r\nCustom=kept\r\nComPort=1\r\n"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("fSetInit=0\r\n\r\n[Tail]\r\nx=1\r\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("comment"));
    EXPECT_FALSE(text.contains("junk"));
    EXPECT_EQ(text.count("TCPPort1="), 1);
}

TEST_F(SettingsTest, TextIsShiftJisOnDisk) {
    TBoardParams p;
    p.TelnetPass = QStringLiteral("パス");
    SaveSettings(ini, p);
    const QByteArray bytes = ReadBytes(ini);
    // パ is 83 70 and ス is 83 58 in Shift-JIS.
    EXPECT_TRUE(bytes.contains(QByteArray("TelnetPass=\x83\x70\x83\x58\r\n")));
    EXPECT_EQ(LoadSettings(ini).TelnetPass, QStringLiteral("パス"));
    // Single-byte text reads the same whether or not the rest of the text needs the converter.
    QByteArray single;
    for (int b = 1; b < 0x80; ++b)
        single += char(b);
    EXPECT_EQ(DecodeShiftJis(single), DecodeShiftJis(single + "\x83\x70").chopped(1));
}

TEST_F(SettingsTest, IniWritesIntoNewAndExistingSections) {
    TIniFile f(ini);
    f.WriteInteger("A", "k1", 1);
    f.WriteString("B", "k2", "two");
    f.WriteInteger("a", "K1", 5);  // same section and key, other letter case
    EXPECT_EQ(f.Bytes(), "[A]\r\nK1=5\r\n\r\n[B]\r\nk2=two\r\n\r\n");
    EXPECT_EQ(f.ReadInteger("A", "k1", 0), 5);
    EXPECT_EQ(f.ReadString("b", "K2", "?"), "two");
    EXPECT_EQ(f.ReadString("C", "k", "def"), "def");
}

// The saved file also ends as the file did: after the last line no line end, one, or an empty
// line.
TEST_F(SettingsTest, LinesNotRewrittenKeepTheirBytesAndAnyLineEndIsRead) {
    const struct {
        const char* name;
        QByteArray file;
        int port;              // TCPPort1 as loaded
        QByteArray savedHead;  // how the saved file begins
        QByteArray savedEnd = "fSetInit=0\r\n";
    } rows[] = {
        {"UTF-8, Latin-1, a cut and an NEC character in another section",
         "[ComDebug]\r\nu=\xC3\xBC\xE2\x82\xAC\r\nl=\xE9\x7F\r\ncut=\x83\r\nnec=\xED\x40\r\n"
         "[\xC3\xBC]\r\nno key \xFC\xFC\r\n[Option]\r\nTCPPort1=5\r\n",
         5,
         "[ComDebug]\r\nu=\xC3\xBC\xE2\x82\xAC\r\nl=\xE9\x7F\r\ncut=\x83\r\nnec=\xED\x40\r\n\r\n"
         "[\xC3\xBC]\r\nno key \xFC\xFC\r\n\r\n[Option]\r\nTCPPort1=5\r\nComPort=1\r\n"},
        {"byte-order mark", "\xEF\xBB\xBF[Option]\r\nTCPPort1=6\r\n", 6,
         "[Option]\r\nTCPPort1=6\r\nComPort=1\r\n"},
        {"CR only", "[X]\ra=1\r[Option]\rTCPPort1=7\r", 7,
         "[X]\r\na=1\r\n\r\n[Option]\r\nTCPPort1=7\r\nComPort=1\r\n"},
        {"LF and mixed", "[X]\na=1\r\n\r[Option]\n\rTCPPort1=8", 8,
         "[X]\r\na=1\r\n\r\n[Option]\r\nTCPPort1=8\r\nComPort=1\r\n", "fSetInit=0"},
        {"own key unchanged keeps its bytes", "[Option]\r\nTelnetPass=\xED\x40\x83\r\n", 10777,
         "[Option]\r\nTelnetPass=\xED\x40\x83\r\nComPort=1\r\n"},
        {"an empty line and a comment after the last section",
         "[Option]\r\nTCPPort1=9\r\n\r\n; end\n", 9, "[Option]\r\nTCPPort1=9\r\nComPort=1\r\n",
         "fSetInit=0\r\n\r\n"},
    };
    for (const auto& row : rows) {
        WriteBytes(ini, row.file);
        QString error;
        const TBoardParams p = LoadSettings(ini, &error);
        EXPECT_EQ(p.TCPPort1, row.port) << row.name;
        EXPECT_TRUE(error.isEmpty()) << row.name;
        SaveSettings(ini, p);
        const QByteArray saved = ReadBytes(ini);
        EXPECT_TRUE(saved.startsWith(row.savedHead)) << row.name << "\n" << saved.toStdString();
        EXPECT_TRUE(saved.endsWith(row.savedEnd)) << row.name << "\n" << saved.toStdString();
        EXPECT_EQ(saved.count("TCPPort1="), 1) << row.name;
        EXPECT_EQ(LoadSettings(ini).TCPPort1, row.port) << row.name;
    }
}

// Runs `body` in a forked child as the user nobody (root ignores permission bits) and returns
// what it returned. The child ends with _exit, so no test or Qt teardown runs twice.
QByteArray RunAsNobody(const std::function<QByteArray()>& body) {
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        QByteArray out;
        const passwd* pw = getpwnam("nobody");
        if (geteuid() == 0 && (!pw || setgroups(0, nullptr) != 0 ||
                               setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0 ||
                               setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0))
            out = "cannot become nobody";
        else
            out = body();
        const ssize_t ignored = write(fds[1], out.constData(), static_cast<size_t>(out.size()));
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    QByteArray out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
}

TEST_F(SettingsTest, AFileTheUserCannotWriteOrReadIsNeverReplaced) {
    const passwd* pw = getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    const QByteArray original = "[Option]\r\nTelnetPass=secret\r\n[ComDebug]\r\nx=1\r\n";
    const struct {
        mode_t fileMode, dirMode;
        const char* outcome;  // what load and save report, as the child sees them
    } rows[] = {
        {0444, 0777, "read ok; 設定ファイル \"INI\" に書き込めません。\nアクセスが許可されていません (Permission denied)"},
        {0000, 0777,
         "設定ファイル \"INI\" を読み込めません。\nアクセスが許可されていません (Permission denied); 設定ファイル \"INI\" に"
         "書き込めません。\n起動時に読み込めなかったため、そのままにします。\nアクセスが許可されていません (Permission denied)"},
        {0644, 0555,
         "read ok; 設定ファイル \"INI\" に書き込めません。\nフォルダ \"DIR\" に一時ファイルを"
         "作れません。\nアクセスが許可されていません (Permission denied)"},
        {0640, 0777, "read ok; saved"},
    };
    for (const auto& row : rows) {
        WriteBytes(ini, original);
        ASSERT_EQ(chown(QFile::encodeName(ini).constData(), pw->pw_uid, pw->pw_gid), 0);
        ASSERT_EQ(chown(QFile::encodeName(dir.path()).constData(), pw->pw_uid, pw->pw_gid), 0);
        chmod(QFile::encodeName(ini).constData(), row.fileMode);
        chmod(QFile::encodeName(dir.path()).constData(), row.dirMode);
        const QByteArray outcome = RunAsNobody([&] {
            QString error;
            TBoardParams p = LoadSettings(ini, &error);
            QString out = error.isEmpty() ? QStringLiteral("read ok") : error;
            p.TCPPort1 = 4321;
            try {
                SaveSettings(ini, p);
                out += QStringLiteral("; saved");
            } catch (const EFCreateError& e) {
                out += QStringLiteral("; ") + e.Message();
            }
            return out.replace(ini, QStringLiteral("INI"))
                .replace(dir.path(), QStringLiteral("DIR"))
                .toUtf8();
        });
        chmod(QFile::encodeName(dir.path()).constData(), 0700);
        EXPECT_EQ(outcome, QByteArray(row.outcome))
            << std::oct << row.fileMode << " " << row.dirMode;
        const QByteArray after = ReadBytes(ini);
        struct stat st {};
        stat(QFile::encodeName(ini).constData(), &st);
        if (QByteArray(row.outcome).endsWith("saved")) {
            // Replaced, with the owner, group and mode of the old file.
            EXPECT_TRUE(after.contains("TCPPort1=4321\r\n"));
            EXPECT_TRUE(after.contains("TelnetPass=secret\r\n"));
            EXPECT_EQ(st.st_gid, pw->pw_gid);
        } else {
            EXPECT_EQ(after, original) << std::oct << row.fileMode;
        }
        EXPECT_EQ(st.st_mode & 07777, row.fileMode);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"netboard-config.ini"});
    }
}

TEST_F(SettingsTest, AFileUnreadableAtLoadIsNotReplacedLaterInTheRun) {
    // A folder where the file should be cannot be read, even by root.
    ASSERT_TRUE(QDir().mkpath(ini));
    QString error;
    const TBoardParams p = LoadSettings(ini, &error);
    EXPECT_EQ(error,
              QStringLiteral("設定ファイル \"%1\" を読み込めません。\nフォルダです (Is a directory)").arg(ini));
    EXPECT_EQ(p.TelnetPass, "KXW");
    ASSERT_TRUE(QDir().rmdir(ini));
    WriteBytes(ini, "[Option]\r\nTelnetPass=secret\r\n");
    EXPECT_THROW(SaveSettings(ini, p), EFCreateError);
    EXPECT_EQ(ReadBytes(ini), "[Option]\r\nTelnetPass=secret\r\n");
}

TEST(IniPath, ExtensionOfTheFileNameOnly) {
    EXPECT_EQ(IniPathForExecutable("/opt/nb/netboard-config"), "/opt/nb/netboard-config.ini");
    EXPECT_EQ(IniPathForExecutable("/home/u/.local/bin/netboard-config"),
              "/home/u/.local/bin/netboard-config.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\tools\\config.exe"), "C:\\tools\\config.ini");
    EXPECT_EQ(IniPathForExecutable("/a.b/c.d/prog.bin"), "/a.b/c.d/prog.ini");
    EXPECT_EQ(IniPathForExecutable("/x/.hidden"), "/x/.hidden.ini");
    EXPECT_EQ(IniPathForExecutable("prog"), "prog.ini");
}

TEST_F(SettingsTest, AFailedSaveThrowsAndLeavesTheOldFileWhole) {
    TBoardParams p;
    SaveSettings(ini, p);
    const QByteArray before = ReadBytes(ini);
    // A disk that fills mid-write: limit the size of files this process may write.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    p.TelnetPass = QString(500, QLatin1Char('x'));
    bool threw = false;
    try {
        SaveSettings(ini, p);
    } catch (const EFCreateError& e) {
        threw = true;
        EXPECT_TRUE(e.Message().startsWith(
            QStringLiteral("設定ファイル \"%1\" に書き込めません。").arg(ini)))
            << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadBytes(ini), before);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"netboard-config.ini"});
    // One a killed save left behind goes at the next start, once it is older than any save at
    // work; other files of similar names stay.
    const QStringList names = {"netboard-config.ini.Ab12Cd", "netboard-config.ini.x",
                               "netboard-config.ini.Ab12C-", "netboard-config.ini.fresh1"};
    for (const QString& name : names) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        if (name != names.last())
            f.setFileTime(QDateTime::currentDateTime().addSecs(-120),
                          QFileDevice::FileModificationTime);
    }
    RemoveStaleTemporaries(ini);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList({"netboard-config.ini", "netboard-config.ini.Ab12C-",
                           "netboard-config.ini.fresh1", "netboard-config.ini.x"}));
}

TEST(StrToInt, ConvertsDecimalAndRejectsTheRest) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt(" +12"), 12);
    for (const char* bad : {"", "-", "1-2", "2147483648", "12 ", "0x10", "abc", "１２"}) {
        try {
            StrToInt(QString::fromUtf8(bad));
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(
                e.Message(),
                QStringLiteral("'%1' は整数ではありません").arg(QString::fromUtf8(bad)));
        }
    }
}

}  // namespace
