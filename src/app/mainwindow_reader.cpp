// The main window's ROM version query.
#include "app/mainwindow.h"

void TNetC1AppForm::ROM1Click() {}
