#include "ptyline.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cstdlib>

#include "core/inifile.h"

TPtyLine::TPtyLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0)
        return;
    // Our own descriptor of the terminal side keeps the master from hanging up between opens.
    terminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(terminal_, &t);
    cfmakeraw(&t);
    tcsetattr(terminal_, TCSANOW, &t);
    ini_ = dir_.filePath("bench.ini");
    TIniFile f(ini_);
    f.WriteString("ComPorts", "COM1", QString::fromLocal8Bit(name));
    f.UpdateFile();
}

TPtyLine::~TPtyLine() {
    if (terminal_ >= 0)
        close(terminal_);
    if (master_ >= 0)
        close(master_);
}
