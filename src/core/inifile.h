// The INI file store: the whole file held in memory, read and rewritten whole.
//
// Format: lines end with CR LF, a bare LF or a bare CR when reading (always CR LF when
// writing); a leading UTF-8 byte-order mark is skipped; each line is trimmed; empty lines and
// lines starting with ";" are dropped; "[name]" starts a section; inside a section "key=value"
// is an entry (key and value trimmed) and any other line is carried along unchanged; lines
// before the first section are dropped. Section and key names match without regard to letter
// case. Text is Shift-JIS on disk.
//
// Every line that is not rewritten keeps its bytes exactly as read, whatever their encoding,
// so that sections of other parts of the program (and of other tools) survive a save. An entry
// written with the key spelt as in the file and its value unchanged counts as not rewritten.
//
// Writing rewrites the file whole: each section as "[name]", its lines in order, then one
// empty line; after the last section's lines the file ends as it was found (no line end, one,
// or an empty line; a file without sections ends with an empty line). Existing entries are
// replaced in place, new ones appended to their section, new sections appended to the file. The
// file is written to a temporary file in the same folder and renamed over the old one, so a failed
// save leaves the old file whole. A file that exists but is not writable for this user, and a file
// that exists but could not be read, are never replaced: the save fails with EFCreateError instead.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

class TIniFile {
  public:
    // Reads `path`; an absent file is an empty one. A file that exists but cannot be read is
    // empty too, ReadError() tells why, and UpdateFile() refuses to replace it.
    explicit TIniFile(const QString& path);

    // Why an existing file could not be read; empty when it was read or is absent.
    const QString& ReadError() const { return readError_; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // A value of more than two characters beginning "0x" or "0X" is hexadecimal (up to eight
    // digits, taken as 32 bits); otherwise the decimal conversion. Anything else, and a missing
    // key or section, gives `def`.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // True when the key is there but holds no integer ("abc", nothing): ReadInteger then gives
    // its default.
    bool HoldsNonInteger(const QString& section, const QString& key) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

    // The file's bytes as they would be written.
    QByteArray Bytes() const;
    // Writes the file; throws EFCreateError when it cannot be written.
    void UpdateFile() const;

    // Files above this size are not read (and so never replaced).
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

  private:
    struct Line {
        QString key;     // empty for a line without a key
        QString value;   // the value of an entry
        QByteArray raw;  // the line as read; empty once the program has rewritten it
    };
    struct Section {
        QString name;
        QByteArray rawHeader;  // the "[name]" line as read; empty for a new section
        std::vector<Line> lines;
    };

    Section* FindSection(const QString& name);
    const Section* FindSection(const QString& name) const;
    void Parse(const QByteArray& bytes);

    QString path_;
    QString readError_;
    std::vector<Section> sections_;
    // Line ends after the last line of the last section: 0, 1, or 2 for an empty line.
    int endingLineEnds_ = 2;
};

// Removes the temporary files a save into `path` left behind ("name.ini.XXXXXX", from a process
// killed during its save) once they are older than a minute: a save takes milliseconds, so an
// older one belongs to no save at work.
void RemoveStaleTemporaries(const QString& path);

// The INI file path of an executable: the executable's path with the extension of its file name
// replaced by "ini", or with ".ini" appended when the file name has no extension (a dot in a
// folder name never counts).
QString IniPathForExecutable(const QString& exePath);
