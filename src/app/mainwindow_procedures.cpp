// The main window's configuration commands. Their procedures are not built yet: the commands
// are reachable (menu, function keys, toolbar) and do nothing.
#include "app/mainwindow.h"

void TNetC1AppForm::MnSet1Click() {}
void TNetC1AppForm::N3Click() {}
void TNetC1AppForm::MnCheckConfg1Click() {}
void TNetC1AppForm::MAC1Click() {}
void TNetC1AppForm::telnetMAC1Click() {}
void TNetC1AppForm::telnet1Click() {}
void TNetC1AppForm::MnChecktelnet2Click() {}
