// The production record: one CSV line per configuration command that reached a board, appended to
// a file beside the settings file, and an index of the MAC addresses given before.
//
// Columns (ASCII only, so that any spreadsheet opens the file): time (ISO 8601 local time with
// offset), command, link, MAC address, own IP address written, result (OK or NG), and the keyword
// of the first line that failed. A header line starts a new file. Each line is appended with one
// write and flushed to disk; the file is never rewritten, so a crash loses at most the line being
// written.
//
// Thread rules: GUI thread only (or any one thread).
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

struct TRecordLine {
    QDateTime time;   // local time
    QString command;  // write-mac, write, mac-rewrite, check-set, telnet-write-mac, ...
    QString link;     // "COM4 /dev/ttyUSB0", "127.0.0.5:23"
    QString mac;      // "02-5A-C3-00-01-C9", or empty
    QString ownIp;    // the own IP address written, or empty
    bool ok = false;
    QString failed;  // keyword of the first line that failed; empty on OK
};

// The record's name of a write command: write, write-mac, telnet-write, telnet-write-mac.
inline const char* WriteCommandName(bool telnet, bool withMac) {
    static const char* const kNames[2][2] = {{"write", "write-mac"},
                                             {"telnet-write", "telnet-write-mac"}};
    return kNames[telnet][withMac];
}

class TProductionRecord {
  public:
    static constexpr const char* kHeader = "time,command,link,mac,own_ip,result,failed";

    // Reads the file at `path` once (an absent file is an empty record) and indexes the MAC
    // addresses of its OK lines. Malformed lines are skipped.
    explicit TProductionRecord(QString path);

    // The record beside a settings file: "dir/name.ini" gives "dir/name-record.csv".
    static QString PathBesideIni(const QString& iniPath);

    const QString& Path() const { return path_; }
    // Appends one line (after the header when the file is new). Throws EFCreateError naming the
    // file when it cannot be written; the index is updated only once the line is on disk.
    void Append(const TRecordLine& line);
    // The time text of the last OK line that gave `mac`, if any.
    std::optional<QString> GivenBefore(const QString& mac) const;
    int IndexedAddresses() const { return static_cast<int>(given_.size()); }

    // One line as written (without its line end), and the fields of a written line (false for a
    // malformed one).
    static QString Format(const TRecordLine& line);
    static bool Parse(const QString& text, TRecordLine* line, QString* timeText);

  private:
    QString path_;
    QHash<QString, QString> given_;  // MAC address -> time text of its last OK line
};
