// Start-up: the main window and the about box, then the message loop until the main window
// has closed.
#include <QApplication>

#include "app/displaycheck.h"
#include "app/japanesetexts.h"
#include "app/mainwindow.h"
#include "dialogs/dialogs.h"

int main(int argc, char** argv) {
    if (!DisplayAvailable(argc, argv))
        return 1;
    QApplication app(argc, argv);
    DisplayOpened();
    QApplication::setApplicationName(QStringLiteral("netboard-config"));
    InstallQtJapanese(&app);
    // The icon of every window, and the desktop entry that carries it into the desktop menu.
    QApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("netboard-config"));
    TMainWindow form;
    TAboutBox about(&form);
    about.hide();
    form.SetAboutBox(&about);
    form.show();
    return QApplication::exec();
}
