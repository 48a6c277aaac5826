// netboard-sim: a substitute network board and RFID reader, for tests and for trying the
// program without hardware.
//
//   netboard-sim serial [switches]   board on a pseudo-terminal; prints the terminal's path
//   netboard-sim telnet [switches]   board over telnet
//   netboard-sim reader [switches]   reader answering the ROM version request over TCP
//
// "netboard-sim MODE --help" lists the switches of a mode.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "modes.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: netboard-sim serial|telnet|reader [switches]\n");
        return 2;
    }
    // A peer that hangs up must end a write with an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    const char* mode = argv[1];
    if (!std::strcmp(mode, "serial"))
        return RunSerial(argc - 2, argv + 2);
    if (!std::strcmp(mode, "telnet"))
        return RunTelnet(argc - 2, argv + 2);
    if (!std::strcmp(mode, "reader"))
        return RunReader(argc - 2, argv + 2);
    std::fprintf(stderr, "netboard-sim: unknown mode %s\n", mode);
    return 2;
}
