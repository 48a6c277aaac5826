#include "app/startup.h"

#include <QApplication>

#include "app/japanesetexts.h"
#include "app/mainwindow.h"

std::unique_ptr<TMainWindow> StartProgram(const QString& iniPath) {
    QApplication::setApplicationName(QStringLiteral("netboard-config"));
    InstallQtJapanese(qApp);
    // The desktop entry that carries the program's icon into the desktop menu.
    QGuiApplication::setDesktopFileName(QStringLiteral("netboard-config"));
    return std::make_unique<TMainWindow>(iniPath);
}
