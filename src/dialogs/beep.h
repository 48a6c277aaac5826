// The system beep, with a count so that tests can tell that a refusal sounded it.
#pragma once

void SystemBeep();
int SystemBeepCount();
