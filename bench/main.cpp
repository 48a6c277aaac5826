// netboard-bench: prints the CPU time a silent wait burns and the latency of the links' waits,
// measured against netboard-sim, and the shared ledger's figures. "netboard-bench serial",
// "telnet", "record", "telnet-command", "procedures", "idle", "cli", "plan" or "stations" runs one
// part only; "startup" runs the window's start-up figure alone, with more runs.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "benches.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc > 2 && !std::strcmp(argv[1], "window-startup"))
        return RunWindowStartup(argv[2]);
    if (argc > 4 && !std::strcmp(argv[1], "ledger-station"))
        return RunLedgerStation(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    const char* only = argc > 1 ? argv[1] : "";
    int rc = 0;
    if (!*only || !std::strcmp(only, "serial"))
        rc |= RunSerialBench();
    if (!*only || !std::strcmp(only, "telnet"))
        rc |= RunTelnetBench();
    if (!*only || !std::strcmp(only, "record"))
        rc |= RunRecordBench();
    if (!std::strcmp(only, "startup"))
        rc |= RunStartupBench();
    if (!*only || !std::strcmp(only, "telnet-command"))
        rc |= RunTelnetCommandBench();
    if (!*only || !std::strcmp(only, "procedures"))
        rc |= RunProceduresBench();
    if (!*only || !std::strcmp(only, "cli"))
        rc |= RunCliBench();
    if (!*only || !std::strcmp(only, "plan"))
        rc |= RunPlanBench();
    if (!*only || !std::strcmp(only, "stations"))
        rc |= RunStationsBench();
    if (!*only || !std::strcmp(only, "idle"))
        rc |= RunIdleBench();
    return rc;
}
