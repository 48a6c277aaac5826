#include <cstdio>

#include "benches.h"

int RunSerialBench() {
    std::printf("serial: not built yet\n");
    return 0;
}
