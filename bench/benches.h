// The parts of netboard-bench; each prints its own figures and returns 0 on success.
#pragma once

int RunSerialBench();
int RunTelnetBench();
int RunRecordBench();
int RunTelnetCommandBench();
int RunProceduresBench();
int RunCliBench();
int RunStationsBench();
// The child process of the record bench's start-up figure.
int RunWindowStartup(const char* ini);
// A child process of the stations bench: one station making `count` reservations with their
// rows, `intervalMs` apart (0: as fast as it can).
int RunLedgerStation(const char* ini, int count, int intervalMs);
