// The main window's serial-link commands and the serial session's life.
//
// The session comes into being with the first command that needs it, with the log pane as its
// log. Every serial command opens its port at ComPort when it finds it closed; when that fails
// (shown in the error box) the command sends nothing. The session lives until the window
// closes. Port numbers are mapped to devices through the window's own INI file.
#include "app/mainwindow.h"
#include "board/commandline.h"
#include "dialogs/errorbox.h"
#include "serial/serialport.h"
#include "serial/serialsession.h"

TSerialSession* TMainWindow::SerialSession() {
    if (!serialSession_) {
        // A child of the window (it is found among the window's objects), owned by the window's
        // pointer, which releases it before anything it uses goes.
        serialSession_ = std::make_unique<TSerialSession>(LogPane(), this);
        serialSession_->Port()->SetIniPath(iniPath_);
    }
    return serialSession_.get();
}

TSerialSession* TMainWindow::SerialLink() {
    TSerialSession* s = SerialSession();
    // A port that did not open at first (an adapter not yet plugged in, a mapping fixed in the
    // settings file since) or whose device vanished is tried again: the COM port command is out
    // of the operator's reach, so plugging the adapter in must be enough.
    if (!s->Port()->IsOpen() || s->Port()->LineLost())
        OpenSerialPort(params_.ComPort);
    return s->Port()->IsOpen() ? s : nullptr;
}

void TMainWindow::OpenSerialPort(int portNo) {
    try {
        SerialSession()->OpenPort(portNo);
    } catch (const EPortOpenError& e) {
        // The box names the port and what to check; the program goes on with the port closed.
        ShowErrorBox(this, e.Message());
    }
}

void TMainWindow::ReleaseSerialSession() {
    // Closes the port and ends its threads.
    serialSession_.reset();
}

void TMainWindow::TestIpAddressLine() {
    TSerialSession* s = SerialLink();
    if (!s)
        return;
    const QByteArray line = "l_ip=10.16.77.170\r\n";
    s->ClearReceived();
    s->SendText(line);
    // A time-out has been logged by the session itself.
    if (s->WaitOk(static_cast<int>(line.size())))
        AddLogLine(QString::fromUtf8(kTestOk));
}

void TMainWindow::TestMacAddressQuery() {
    TSerialSession* s = SerialLink();
    if (!s)
        return;
    s->ClearReceived();
    s->SendText("madr\r\n");
    if (s->ReadReplyLine()) {
        AddLogLine(QString::fromUtf8(kTestOk));
        AddLogLine(s->ReplyLine());
    } else {
        AddLogLine(QString::fromUtf8(kTestNg));
    }
}
