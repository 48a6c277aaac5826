#include <cstdio>

#include "modes.h"

int RunReader(int, char**) {
    std::fprintf(stderr, "netboard-sim: this mode is not built yet\n");
    return 2;
}
