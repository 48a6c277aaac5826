// The parts of netboard-bench; each prints its own figures and returns 0 on success.
#pragma once

#include <time.h>

#include <algorithm>
#include <vector>

// Monotonic wall time in ms.
inline double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The p-th percentile (0..100) of v; 0 for no values.
inline double Percentile(std::vector<double> v, int p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

inline double Median(std::vector<double> v) {
    return Percentile(std::move(v), 50);
}

// CPU time of the whole process (all threads) so far, in ms.
inline double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int RunSerialBench();
int RunTelnetBench();
int RunRecordBench();
int RunStartupBench();
int RunTelnetCommandBench();
int RunProceduresBench();
int RunCliBench();
int RunPlanBench();
int RunStationsBench();
int RunIdleBench();
// The child process of the record bench's start-up figure.
int RunWindowStartup(const char* ini);
// A child process of the stations bench: one station making `count` reservations with their
// rows, `intervalMs` apart (0: as fast as it can).
int RunLedgerStation(const char* ini, int count, int intervalMs);
