// A production record line: one configuration command that reached a board, and its CSV form.
//
// The CSV form is the one the record file beside the settings file had before the ledger took
// its place: a header line, then one ASCII line per command with the columns time (ISO 8601
// local time with offset), command, link, MAC address, own IP address written, result (OK or
// NG) and the keyword of the first line that failed. `record export` writes it; the first start
// with the ledger reads an old record file in it once.
#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

// The values a command sent to a board, by query keyword ("mask" -> "24", "madr" ->
// "02-5A-C3-00-01-C9"), each as its setting line wrote it; a command that sent none has none.
using TSentValues = QMap<QString, QString>;
// The keywords the ledger keeps sent values under, in the order of the record's columns.
inline constexpr const char* kSentKeys[] = {"l_ip", "l_pt", "f_ip", "f_pt", "mask", "conn",
                                            "bps",  "timv", "keep", "timr", "madr"};

struct TRecordLine {
    QDateTime time;   // local time
    QString command;  // write-mac, write, mac-rewrite, check-set, telnet-write-mac, ...
    QString link;     // "COM4 /dev/ttyUSB0", "127.0.0.5:23"
    QString mac;      // "02-5A-C3-00-01-C9", or empty
    QString ownIp;    // the own IP address written, or empty
    bool ok = false;
    QString failed;         // keyword of the first line that failed; empty on OK
    QString station;        // the station that ran the command (the export's last column)
    TSentValues sent = {};  // empty when it sent none
    QString planRow = {};   // the site plan's row the command took ("site-a#17"), or empty
};

// The record's name of a write command: write, write-mac, telnet-write, telnet-write-mac.
inline const char* WriteCommandName(bool telnet, bool withMac) {
    static const char* const kNames[2][2] = {{"write", "write-mac"},
                                             {"telnet-write", "telnet-write-mac"}};
    return kNames[telnet][withMac];
}

// True for the commands that give a board its MAC address (a check-and-set only reads it).
bool GivesMacAddress(const QString& command);

inline constexpr const char* kRecordHeader = "time,command,link,mac,own_ip,result,failed";
// An export's header: the record's columns, in their order, then the station and the values the
// command sent, in the order of kSentKeys.
inline constexpr const char* kRecordExportHeader =
    "time,command,link,mac,own_ip,result,failed,station,"
    "l_ip,l_pt,f_ip,f_pt,mask,conn,bps,timv,keep,timr,madr";

// A file beside a settings file, named after it: "dir/name.ini" and "-x.y" give "dir/name-x.y".
QString FileBesideIni(const QString& iniPath, const QString& suffix);
// The old record file beside a settings file: "dir/name.ini" gives "dir/name-record.csv".
QString RecordCsvBesideIni(const QString& iniPath);

// The time column's text of `t`: local time with its offset, to the second.
QString RecordTimeText(const QDateTime& t);
// One line as written (without its line end): fields as ASCII (other characters become "?"),
// a field holding a comma or a quote quoted, one beginning with "=", "+", "-" or "@" led by an
// apostrophe (a spreadsheet would take it for a formula).
// `timeText` replaces the time column when given (a stored line keeps its own text).
QString FormatRecordLine(const TRecordLine& line, const QString& timeText = QString());
// The same line appended to `out`, then the station and the values sent (an export's line).
void AppendExportLine(QByteArray* out, const TRecordLine& line, const QString& timeText);
// One field of a line as written, appended to `out`.
void AppendCsvField(QByteArray* out, const QString& text);
// The same field from its UTF-8 bytes; false, with nothing appended, when they are not valid
// UTF-8.
bool AppendCsvFieldUtf8(QByteArray* out, QByteArrayView utf8);
// The same field of ASCII text, written at `w`, which has room for 2 * size + 3 characters; the
// end of what it wrote, or null (what it wrote meaning nothing) for text that is not ASCII.
char* WriteCsvFieldAscii(char* w, QByteArrayView ascii);
// The fields of a written line, the record's or an export's (with the station, and the values
// sent when it has them); false for a malformed one.
// `timeText` gets the time as written.
bool ParseRecordLine(const QString& text, TRecordLine* line, QString* timeText);
// Splits one CSV line into `fields` (appended), a quoted field's doubled quote read as one;
// false when a quoted field is not closed.
bool SplitCsv(const QString& line, QStringList* fields);
// "HH-HH-HH-HH-HH-HH" with uppercase hexadecimal digits.
bool IsMacText(const QString& s);
