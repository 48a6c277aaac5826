// The parts of netboard-bench; each prints its own figures and returns 0 on success.
#pragma once

int RunSerialBench();
int RunTelnetBench();
int RunRecordBench();
int RunTelnetCommandBench();
int RunProceduresBench();
