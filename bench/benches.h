// The parts of netboard-bench; each prints its own figures and returns 0 on success.
#pragma once

#include <time.h>

// CPU time of the whole process (all threads) so far, in ms.
inline double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int RunSerialBench();
int RunTelnetBench();
int RunRecordBench();
int RunTelnetCommandBench();
int RunProceduresBench();
int RunCliBench();
int RunStationsBench();
int RunIdleBench();
// The child process of the record bench's start-up figure.
int RunWindowStartup(const char* ini);
// A child process of the stations bench: one station making `count` reservations with their
// rows, `intervalMs` apart (0: as fast as it can).
int RunLedgerStation(const char* ini, int count, int intervalMs);
