#include <cstdio>

#include "benches.h"

int RunTelnetBench() {
    std::printf("telnet: not built yet\n");
    return 0;
}
