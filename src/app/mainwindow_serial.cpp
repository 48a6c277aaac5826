// The main window's serial-link commands and the serial session's life.
#include "app/mainwindow.h"

TNetSet1Dlg* TNetC1AppForm::SerialSession() {
    return nullptr;
}
void TNetC1AppForm::OpenSerialPort(int) {}
void TNetC1AppForm::ReleaseSerialSession() {}
void TNetC1AppForm::MnSetIP1Click() {}
void TNetC1AppForm::N2Click() {}
