// A pseudo-terminal line for the serial benchmarks: the program plays the far end on the master
// side, and port COM1 is mapped to the terminal side in an INI file of its own.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TPtyLine {
  public:
    TPtyLine();
    ~TPtyLine();
    TPtyLine(const TPtyLine&) = delete;
    TPtyLine& operator=(const TPtyLine&) = delete;

    bool Ok() const { return terminal_ >= 0; }
    int Master() const { return master_; }
    // The INI file that maps COM1 to the terminal.
    const QString& IniPath() const { return ini_; }

  private:
    int master_ = -1;
    int terminal_ = -1;
    QTemporaryDir dir_;
    QString ini_;
};
