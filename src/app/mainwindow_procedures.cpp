// The main window's configuration commands: each makes its dialog, fills it from the record or
// from the board, runs its procedure over the serial session or a telnet session of its own,
// and leaves the banner in the log. The procedures themselves know no window.
#include <QMessageBox>
#include <memory>

#include "app/mainwindow.h"
#include "board/commandline.h"
#include "board/procedures.h"
#include "core/errorbox.h"
#include "core/exceptions.h"
#include "dialogs/dialogs.h"
#include "serial/netset1dlg.h"
#include "telnet/telnetsession.h"

namespace {

const char* const kDisconnected = "接続が切断されました";

}  // namespace

TProcedureHooks TNetC1AppForm::Hooks() {
    TProcedureHooks h;
    h.log = [this](const QString& line) { AddLogLine(line); };
    h.macChanged = [this] { SaveMacCounter(); };
    h.nullBox = [this] {
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramCaption),
                        QStringLiteral("NULL"), QMessageBox::Ok, this);
        box.exec();
    };
    return h;
}

void TNetC1AppForm::SaveMacCounter() {
    // The next board's address must survive a crash or a power cut, or two boards get the same
    // address. A failure is shown once the command has ended; what the board did stands.
    try {
        SaveSettings(iniPath_, params_);
    } catch (const Exception& e) {
        pendingError_ = e.Message();
    }
}

// Telnet: a session of the command's own, connected and logged in, its window kept hidden. The
// main window's reference follows the session's life.
std::unique_ptr<TTelNetCont1Dlg, TNetC1AppForm::SessionRelease> TNetC1AppForm::OpenTelnetSession() {
    std::unique_ptr<TTelNetCont1Dlg, SessionRelease> s(
        new TTelNetCont1Dlg(this, LogPane(), params_), SessionRelease{this});
    s->hide();
    telNetCont1Dlg_ = s.get();
    return s;
}

void TNetC1AppForm::SessionRelease::operator()(TTelNetCont1Dlg* s) const {
    if (form->telNetCont1Dlg_ == s)
        form->telNetCont1Dlg_ = nullptr;
    delete s;
}

void TNetC1AppForm::WriteCommand(TBoardLink& link, bool withMac) {
    auto dlg = std::make_unique<TParaSet1Dlg>(this);
    if (!withMac)
        dlg->HideMacRow();
    dlg->FillFrom(params_);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
    RunWriteCommand(link, &params_, withMac, Hooks());
}

void TNetC1AppForm::MnSet1Click() {
    if (TNetSet1Dlg* s = SerialLink())
        WriteCommand(*s, true);
}

void TNetC1AppForm::N3Click() {
    if (TNetSet1Dlg* s = SerialLink())
        WriteCommand(*s, false);
}

void TNetC1AppForm::telnetMAC1Click() {
    auto session = OpenTelnetSession();
    WriteCommand(*session, true);
}

void TNetC1AppForm::telnet1Click() {
    auto session = OpenTelnetSession();
    WriteCommand(*session, false);
}

void TNetC1AppForm::MAC1Click() {
    TNetSet1Dlg* s = SerialLink();
    if (!s)
        return;
    auto dlg = std::make_unique<TSetMac1Dlg>(this);
    dlg->FillFrom(params_);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
    SaveMacCounter();
    RewriteMacAddress(*s, &params_, Hooks());
}

std::unique_ptr<TParaSet1Dlg> TNetC1AppForm::CheckAndSetDialog(TBoardLink& link, bool disableMac) {
    auto dlg = std::make_unique<TParaSet1Dlg>(this);
    dlg->PrepareForCheckAndSet(disableMac, params_.fSetInit != 0);
    TBoardReadback board;
    // A reply that is not a number leaves here; the dialog goes without being shown.
    ReadBoardSettings(link, &params_, &board, Hooks());
    dlg->FillFromBoard(board);
    return dlg;
}

void TNetC1AppForm::MnCheckConfg1Click() {
    TNetSet1Dlg* s = SerialLink();
    if (!s)
        return;
    auto dlg = CheckAndSetDialog(*s, false);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
    RunCheckAndSetWrite(*s, &params_, Hooks());
}

void TNetC1AppForm::MnChecktelnet2Click() {
    std::unique_ptr<TParaSet1Dlg> dlg;
    {
        auto session = OpenTelnetSession();
        dlg = CheckAndSetDialog(*session, true);
    }  // no session is open while the operator looks at the values
    if (dlg->exec() != QDialog::Accepted)
        return;
    // A second session, to the address as the record now holds it.
    auto session = OpenTelnetSession();
    if (!session->Connected()) {
        AddLogLine(QString::fromUtf8(kDisconnected));
        AddLogLine(QString::fromUtf8(kBannerNg));
        return;
    }
    dlg->CopyTo(&params_);
    RunCheckAndSetWrite(*session, &params_, Hooks());
}
