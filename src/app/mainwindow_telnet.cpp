// The main window's telnet test command.
#include <memory>

#include "app/mainwindow.h"
#include "app/telnetwindow.h"
#include "telnet/telnetsession.h"

// Opens a telnet session to the board (connect and log in), shows its window modally and
// releases the session when the window has been closed. A connect failure leaves here as the
// client's error, which RunCommand shows in the error box.
void TMainWindow::TestTelnetSession() {
    TTelnetSession session(this, LogPane(), params_);
    TTelnetWindow window(&session, this);
    window.exec();
}
