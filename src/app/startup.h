// The program's start up to its main window, as main runs it and the start-up bench measures it:
// the program's names, Qt's own texts in Japanese, and the main window. What the window does not
// show at once waits: the program icon for the first paint, the about box for its first use.
#pragma once

#include <QString>
#include <memory>

class TMainWindow;

// Needs the QApplication. `iniPath` empty: the settings file beside the program.
std::unique_ptr<TMainWindow> StartProgram(const QString& iniPath = QString());
