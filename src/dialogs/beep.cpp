#include "dialogs/beep.h"

#include <QApplication>

namespace {
int g_beeps = 0;  // GUI thread only
}

void SystemBeep() {
    ++g_beeps;
    QApplication::beep();
}

int SystemBeepCount() {
    return g_beeps;
}
