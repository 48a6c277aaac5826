// The label's pure cores: the [Label] settings, the reading of a printer's ~HS answer and the
// ZPL job's fields.
#include <gtest/gtest.h>

#include "core/inifile.h"
#include "label/labelcontent.h"
#include "label/labelsettings.h"
#include "label/zpl.h"
#include "support/printers.h"

namespace {

struct SettingsRow {
    const char* printer;
    const char* key;  // one more key of [Label] and its value, or none
    const char* value;
    TLabelOutput output;
    const char* target;  // host:port, queue or folder; "!" and a part of the error
};

const SettingsRow kSettingsRows[] = {
    {"", "Copies", "abc", TLabelOutput::None, ""},
    {"zpl://127.0.0.9", nullptr, nullptr, TLabelOutput::Zpl, "127.0.0.9:9100"},
    {"ZPL://printer-3:6101", "Copies", "2", TLabelOutput::Zpl, "printer-3:6101"},
    {"zpl://:9100", nullptr, nullptr, TLabelOutput::Zpl, "!Printer=zpl://:9100"},
    {"zpl://host:70000", nullptr, nullptr, TLabelOutput::Zpl, "!65535"},
    {"zpl://a b", nullptr, nullptr, TLabelOutput::Zpl, "!ホスト名"},
    {"cups:Label_Printer", nullptr, nullptr, TLabelOutput::Cups, "Label_Printer"},
    {"cups:a/b", nullptr, nullptr, TLabelOutput::Cups, "!キュー名"},
    {"pdf:/var/labels", "HeightMm", "30", TLabelOutput::Pdf, "/var/labels"},
    {"pdf:labels", nullptr, nullptr, TLabelOutput::Pdf, "!絶対パス"},
    {"lpr:queue", nullptr, nullptr, TLabelOutput::None, "!zpl://ホスト:ポート"},
    {"zpl://h", "Copies", "abc", TLabelOutput::Zpl, "!Copies=abc は使えません（1 から 99"},
    {"zpl://h", "Copies", "0", TLabelOutput::Zpl, "!Copies=0"},
    {"zpl://h", "Dpi", "50", TLabelOutput::Zpl, "!Dpi=50"},
    {"zpl://h", "WidthMm", "", TLabelOutput::Zpl, "!WidthMm="},
};

TEST(LabelSettings, ReadsEachFormAndNamesWhatIsWrong) {
    for (const SettingsRow& row : kSettingsRows) {
        SCOPED_TRACE(std::string(row.printer) + " " + (row.key ? row.key : ""));
        TIniFile ini(QStringLiteral("/nonexistent/netboard-config.ini"));
        ini.WriteString("Label", "Printer", row.printer);
        if (row.key)
            ini.WriteString("Label", row.key, row.value);
        const TLabelSettings s = ReadLabelSettings(ini);
        EXPECT_EQ(s.output, row.output);
        EXPECT_EQ(s.Configured(), *row.printer != '\0');
        const QString target = s.output == TLabelOutput::Zpl
                                   ? QStringLiteral("%1:%2").arg(s.host).arg(s.port)
                                   : s.queue + s.folder;
        const QString wanted = QString::fromUtf8(row.target);
        if (wanted.startsWith('!'))
            EXPECT_TRUE(s.error.contains(wanted.mid(1))) << s.error.toStdString();
        else
            EXPECT_EQ(s.error.isEmpty() ? target : s.error, wanted);
    }
}

// The three lines of a host status answer with the given flags.
QByteArray Status(QByteArray paperOut, QByteArray paused, QByteArray headUp) {
    const auto line = [](const QByteArray& body) { return '\x02' + body + "\x03\r\n"; };
    return line("030," + paperOut + "," + paused + ",0200,000,0,0,0,000,0,0,0") +
           line("001,0," + headUp + ",0,0,2,6,0,00000000,1,000") + line("1234,0");
}

struct StatusRow {
    const char* name;
    QByteArray bytes;
    THostStatus::TState state;
    bool paperOut, paused, headOpen;
};

TEST(HostStatus, ReadsTheFlagsAndRefusesWhatCannotBeAnAnswer) {
    using S = THostStatus::TState;
    const QByteArray ready = Status("0", "0", "0");
    const StatusRow rows[] = {
        {"ready", ready, S::Complete, false, false, false},
        {"paper out", Status("1", "0", "0"), S::Complete, true, false, false},
        {"paused", Status("0", "1", "0"), S::Complete, false, true, false},
        {"head open", Status("0", "0", "1"), S::Complete, false, false, true},
        {"more fields", QByteArray(ready).replace(",0,0,0\x03", ",0,0,0,7\x03"), S::Complete, false,
         false, false},
        {"no CR LF yet", ready.left(ready.size() - 2), S::Incomplete, false, false, false},
        {"junk first", "OK" + ready, S::Malformed, false, false, false},
        {"LF alone", QByteArray(ready).replace("\x03\r\n", "\x03\n"), S::Malformed, false, false,
         false},
        {"field missing", QByteArray(ready).replace("0200,", ""), S::Malformed, false, false,
         false},
        {"flag 2", Status("2", "0", "0"), S::Malformed, false, false, false},
        {"control byte", QByteArray(ready).replace("0200", "02\x01"), S::Malformed, false, false,
         false},
        {"endless line", "\x02" + QByteArray(kHostStatusMaxLine + 1, '0'), S::Malformed, false,
         false, false},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.name);
        const THostStatus s = ParseHostStatus(row.bytes);
        EXPECT_EQ(s.state, row.state) << s.problem.toStdString();
        EXPECT_EQ(s.paperOut, row.paperOut);
        EXPECT_EQ(s.paused, row.paused);
        EXPECT_EQ(s.headOpen, row.headOpen);
        EXPECT_EQ(s.problem.isEmpty(), row.state != S::Malformed);
        // An answer that arrives in pieces is read as nothing until its last byte.
        for (qsizetype n = 0; row.state == S::Complete && n < row.bytes.size(); ++n)
            ASSERT_EQ(ParseHostStatus(row.bytes.left(n)).state, S::Incomplete) << n;
    }
}

TEST(ZplJob, CarriesTheAddressAndNoCommandFromTheTexts) {
    TLabelSettings s;
    s.copies = 3;
    const TLabelContent c =
        MakeLabelContent(0x0001C9, "10.16.77.170", "線^XZ~HS_", QDate(2026, 12, 1));
    const QByteArray job = ZplLabelJob(s, c);
    EXPECT_TRUE(job.contains("^BQN,2,") && job.contains("^FDMA,02-5A-C3-00-01-C9^FS"))
        << job.constData();
    EXPECT_TRUE(job.contains("^FH^FD02-5A-C3-00-01-C9^FS")) << job.constData();
    EXPECT_TRUE(job.contains("^FH^FD_E7_B7_9A_5EXZ_7EHS_5F^FS")) << job.constData();
    EXPECT_TRUE(job.contains("^FH^FD2026-12-01^FS")) << job.constData();
    EXPECT_TRUE(job.startsWith("^XA") && job.endsWith("^PQ3\n^XZ\n")) << job.constData();
    EXPECT_EQ(job.count("^XZ"), 1);
    EXPECT_FALSE(job.contains("~"));
    EXPECT_TRUE(job.contains("^PW400\n^LL200\n")) << job.constData();  // 50 x 25 mm at 203 dpi
}

}  // namespace
