// The window needs a display. Without one Qt would end the program with its own English
// message and an abort; instead the operator is told in Japanese what is missing, that
// netboard-cli configures boards without a display, and the program ends with status 1.
//
// Thread rules: main thread, around the construction of the QApplication.
#pragma once

// Before the QApplication is made. False, the message written to standard error, when no display
// is named (neither DISPLAY nor WAYLAND_DISPLAY) and no Qt platform is chosen (neither
// QT_QPA_PLATFORM nor -platform). Otherwise true, and until DisplayOpened() a platform plugin
// that cannot start ends the program the same way.
bool DisplayAvailable(int argc, char** argv);
// The QApplication has been made: Qt's messages go their usual way again.
void DisplayOpened();
