// The main window's serial-link commands and the serial session's life.
//
// The session comes into being with the first command that needs it, with the log pane as its
// log and the port named by ComPort opened (an open failure is shown in a message box and the
// command goes on with the port closed, its waits running out). It lives until the window
// closes. Port numbers are mapped to devices through the window's own INI file.
#include "app/mainwindow.h"
#include "board/commandline.h"
#include "serial/commx.h"
#include "serial/netset1dlg.h"

TNetSet1Dlg* TNetC1AppForm::SerialSession() {
    if (!netSet1Dlg_) {
        netSet1Dlg_ = new TNetSet1Dlg(LogPane(), this);
        netSet1Dlg_->CommX1()->SetIniPath(iniPath_);
        netSet1Dlg_->OpenPort(params_.ComPort);
    } else if (netSet1Dlg_->CommX1()->LineLost()) {
        // The device vanished (an adapter pulled out): try it again, so that plugging it back
        // in is enough; the COM port command is out of the operator's reach.
        netSet1Dlg_->OpenPort(params_.ComPort);
    }
    return netSet1Dlg_;
}

void TNetC1AppForm::OpenSerialPort(int portNo) {
    if (!netSet1Dlg_) {
        netSet1Dlg_ = new TNetSet1Dlg(LogPane(), this);
        netSet1Dlg_->CommX1()->SetIniPath(iniPath_);
    }
    netSet1Dlg_->OpenPort(portNo);
}

void TNetC1AppForm::ReleaseSerialSession() {
    // Closes the port and ends its threads.
    delete netSet1Dlg_;
    netSet1Dlg_ = nullptr;
}

void TNetC1AppForm::MnSetIP1Click() {
    TNetSet1Dlg* s = SerialSession();
    const QByteArray line = "l_ip=10.16.77.170\r\n";
    s->ClearReceived();
    s->SendText(line);
    // A time-out has been logged by the session itself.
    if (s->WaitReply(static_cast<int>(line.size()) + 1, "OK"))
        AddLogLine(QString::fromUtf8(kTestOk));
}

void TNetC1AppForm::N2Click() {
    TNetSet1Dlg* s = SerialSession();
    s->ClearReceived();
    s->SendText("madr\r\n");
    if (s->ReadReplyLine()) {
        AddLogLine(QString::fromUtf8(kTestOk));
        AddLogLine(s->ReplyLine());
    } else {
        AddLogLine(QString::fromUtf8(kTestNg));
    }
}
