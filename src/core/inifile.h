// The INI file store: the whole file held in memory, read and rewritten whole.
//
// Format: lines end with CR LF (a bare LF is accepted when reading); each line is trimmed;
// empty lines and lines starting with ";" are dropped; "[name]" starts a section; inside a
// section "key=value" is an entry (key and value trimmed) and any other line is carried along
// unchanged; lines before the first section are dropped. Section and key names match without
// regard to letter case. Text is Shift-JIS on disk.
//
// Writing rewrites the file whole: each section as "[name]", its lines in order, then one
// empty line. Existing entries are replaced in place, new ones appended to their section, new
// sections appended to the file. The file is written to a temporary file in the same folder
// and renamed over the old one, so a failed save leaves the old file whole.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class TIniFile {
  public:
    // Reads `path`; an absent or unreadable file is an empty one.
    explicit TIniFile(const QString& path);

    const QString& FileName() const { return path_; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // A value of more than two characters beginning "0x" or "0X" is hexadecimal (up to eight
    // digits, taken as 32 bits); otherwise the decimal conversion. Anything else, and a missing
    // key or section, gives `def`.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool SectionExists(const QString& section) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

    // The file's text as it would be written (lines joined by CR LF).
    QString Text() const;
    // Writes the file; throws EFCreateError when it cannot be written.
    void UpdateFile() const;

    // Parses a value the way ReadInteger does.
    static bool ParseInteger(const QString& value, int* out);

  private:
    struct Line {
        QString key;   // empty for a line without "="
        QString text;  // the whole line for a line without "="; the value for an entry
    };
    struct Section {
        QString name;
        std::vector<Line> lines;
    };

    Section* FindSection(const QString& name);
    const Section* FindSection(const QString& name) const;
    void Parse(const QString& text);

    QString path_;
    std::vector<Section> sections_;
};

// The INI file path of an executable: the executable's path with the extension of its file name
// replaced by "ini", or with ".ini" appended when the file name has no extension (a dot in a
// folder name never counts).
QString IniPathForExecutable(const QString& exePath);
