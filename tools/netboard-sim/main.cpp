// netboard-sim: a substitute network board, RFID reader and label printer, for tests and for
// trying the program without hardware.
//
// "netboard-sim --help" lists the modes, "netboard-sim MODE --help" the switches of a mode.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "boardmodel.h"
#include "modes.h"

namespace {

const char* const kUsage =
    "usage: netboard-sim MODE [switches]\n"
    "Stands in for the devices netboard-config talks to, for tests and for trying it without\n"
    "hardware. Modes:\n"
    "  serial   a board on a pseudo-terminal; prints the terminal's path\n"
    "           (--link PATH also makes PATH a symbolic link to it)\n"
    "  telnet   a board over telnet (--address A --port P, password KXW)\n"
    "  reader   the reader behind a board, answering the ROM version query\n"
    "  printer  a ZPL label printer (--address A --port P), answering ~HS and keeping each\n"
    "           label it receives (--jobs DIR)\n"
    "\"netboard-sim MODE --help\" lists the switches of a mode.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A peer that hangs up must end a write with an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    const char* mode = argv[1];
    if (!std::strcmp(mode, "--help") || !std::strcmp(mode, "-h")) {
        std::fputs(kUsage, stdout);
        std::printf("Switches of both board modes (serial, telnet):\n%s", kBoardSwitchHelp);
        return 0;
    }
    if (!std::strcmp(mode, "serial"))
        return RunSerial(argc - 2, argv + 2);
    if (!std::strcmp(mode, "telnet"))
        return RunTelnet(argc - 2, argv + 2);
    if (!std::strcmp(mode, "reader"))
        return RunReader(argc - 2, argv + 2);
    if (!std::strcmp(mode, "printer"))
        return RunPrinter(argc - 2, argv + 2);
    std::fprintf(stderr, "netboard-sim: unknown mode %s\n%s", mode, kUsage);
    return 2;
}
