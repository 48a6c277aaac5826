// The main window's ROM version query.
#include "app/mainwindow.h"

#include <QStatusBar>

#include "reader/romquery.h"

void TNetC1AppForm::ROM1Click() {
    RunRomVersionQuery(this, Params(), LogPane(), IniPath(), statusBar());
}
