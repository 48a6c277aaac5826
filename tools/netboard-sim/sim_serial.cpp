#include <cstdio>

#include "modes.h"

int RunSerial(int, char**) {
    std::fprintf(stderr, "netboard-sim: this mode is not built yet\n");
    return 2;
}
