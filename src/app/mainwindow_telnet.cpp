// The main window's telnet test command.
#include "app/mainwindow.h"

void TNetC1AppForm::IP1Click() {}
