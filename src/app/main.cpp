// Start-up: the main window, then the message loop until the main window has closed.
#include <QApplication>

#include "app/displaycheck.h"
#include "app/mainwindow.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    if (!DisplayAvailable(argc, argv))
        return 1;
    QApplication app(argc, argv);
    DisplayOpened();
    const std::unique_ptr<TMainWindow> form = StartProgram();
    form->show();
    return QApplication::exec();
}
