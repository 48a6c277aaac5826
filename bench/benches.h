// The parts of netboard-bench; each prints its own figures and returns 0 on success.
#pragma once

int RunSerialBench();
int RunTelnetBench();
int RunRecordBench();
int RunTelnetCommandBench();
int RunProceduresBench();
int RunIdleBench();
// The child process of the record bench's start-up figure.
int RunWindowStartup(const char* ini);
