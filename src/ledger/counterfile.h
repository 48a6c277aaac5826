// The MAC counter in the settings file: MacAddr_1..3 of section Option, where the window and the
// dialogs have always kept it, and the station's high-water mark beside it. Every change is a
// read-modify-write of the file, which the caller makes under the station's ledger lock, so
// that two processes never interleave their changes.
#pragma once

#include <QString>
#include <optional>

class TCounterFile {
  public:
    explicit TCounterFile(QString iniPath) : iniPath_(std::move(iniPath)) {}

    // The counter as the file holds it now; none when a byte is out of range or no number.
    std::optional<int> Counter() const;
    // Writes the counter (none: leaves it) and raises the high-water mark to `reserved`.
    // Throws EFCreateError when the file cannot be read or written.
    void Write(std::optional<int> low, std::optional<int> reserved = std::nullopt) const;

  private:
    QString iniPath_;
};
