// The main window's configuration commands: each makes its dialog, fills it from the record or
// from the board, runs its procedure over the serial session or a telnet session of its own,
// and leaves the banner in the log. The procedures themselves know no window.
#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "app/mainwindow.h"
#include "board/commandline.h"
#include "board/procedures.h"
#include "board/productionrecord.h"
#include "board/readback.h"
#include "core/exceptions.h"
#include "dialogs/dialogs.h"
#include "dialogs/errorbox.h"
#include "dialogs/messagebox.h"
#include "serial/netset1dlg.h"
#include "telnet/telnetsession.h"

namespace {

const char* const kDisconnected = "接続が切断されました";

}  // namespace

void TNetC1AppForm::ShowAfterCommand(const QString& message) {
    pendingError_ = pendingError_.isEmpty() ? message : pendingError_ + "\n\n" + message;
}

void TNetC1AppForm::RecordCommand(const char* command, const QString& link, const QString& mac,
                                  const QString& ownIp, const TOutcome& outcome) {
    TRecordLine line{
        QDateTime::currentDateTime(),       QLatin1String(command), link, mac, ownIp, outcome.ok,
        QString::fromLatin1(outcome.failed)};
    try {
        record_->Append(line);
    } catch (const Exception& e) {
        ShowAfterCommand(e.Message());  // what the board did stands
    }
}

bool TNetC1AppForm::MayGiveMacAddress(const QString& mac) {
    const std::optional<QString> when = record_->GivenBefore(mac);
    if (!when)
        return true;
    const QDateTime t = QDateTime::fromString(*when, Qt::ISODate);
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kProgramCaption),
                    QStringLiteral("MACアドレス %1 は %2 に書き込み済みです。\n"
                                   "同じアドレスをもう一度書き込みますか？")
                        .arg(mac, t.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

TProcedureHooks TNetC1AppForm::Hooks() {
    TProcedureHooks h;
    h.log = [this](const QString& line) { AddLogLine(line); };
    h.macChanged = [this] { SaveMacCounter(); };
    h.nullBox = [this] {
        ShowMessageBox(this, QString::fromUtf8(kProgramCaption), QStringLiteral("NULL"),
                       QMessageBox::NoIcon);
    };
    return h;
}

void TNetC1AppForm::SaveMacCounter() {
    // The next board's address must survive a crash or a power cut, or two boards get the same
    // address. A failure is shown once the command has ended; what the board did stands.
    try {
        SaveSettings(iniPath_, params_);
    } catch (const Exception& e) {
        ShowAfterCommand(e.Message());
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

void TNetC1AppForm::WriteCommand(TBoardLink& link, bool withMac, bool telnet) {
    auto dlg = std::make_unique<TParaSet1Dlg>(this);
    if (!withMac)
        dlg->HideMacRow();
    dlg->FillFrom(params_);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
    const QString mac = withMac ? QString::fromLatin1(MacText(params_)) : QString();
    if (withMac && !MayGiveMacAddress(mac))
        return;
    const QString ownIp = params_.OwnIpText();
    const TOutcome out = RunWriteCommand(link, &params_, withMac, Hooks());
    RecordCommand(WriteCommandName(telnet, withMac), link.Description(), mac, ownIp, out);
}

void TNetC1AppForm::MnSet1Click() {
    if (TNetSet1Dlg* s = SerialLink())
        WriteCommand(*s, true, false);
}

void TNetC1AppForm::N3Click() {
    if (TNetSet1Dlg* s = SerialLink())
        WriteCommand(*s, false, false);
}

void TNetC1AppForm::telnetMAC1Click() {
    auto session = OpenTelnetSession();
    WriteCommand(*session, true, true);
}

void TNetC1AppForm::telnet1Click() {
    auto session = OpenTelnetSession();
    WriteCommand(*session, false, true);
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
    const QString mac = QString::fromLatin1(MacText(params_));
    if (!MayGiveMacAddress(mac))
        return;
    const TOutcome out = RewriteMacAddress(*s, &params_, Hooks());
    RecordCommand("mac-rewrite", s->Description(), mac, QString(), out);
}

std::unique_ptr<TParaSet1Dlg> TNetC1AppForm::CheckAndSetDialog(TBoardLink& link, bool disableMac,
                                                               TBoardReadback* board) {
    auto dlg = std::make_unique<TParaSet1Dlg>(this);
    dlg->PrepareForCheckAndSet(disableMac, params_.fSetInit != 0);
    // A reply that is not a number leaves here; the dialog goes without being shown.
    ReadBoardSettings(link, &params_, board, Hooks());
    dlg->FillFromBoard(*board);
    return dlg;
}

void TNetC1AppForm::MnCheckConfg1Click() {
    TNetSet1Dlg* s = SerialLink();
    if (!s)
        return;
    TBoardReadback board;
    auto dlg = CheckAndSetDialog(*s, false, &board);
    if (dlg->exec() != QDialog::Accepted)
        return;
    dlg->CopyTo(&params_);
    const TOutcome out = RunCheckAndSetWrite(*s, &params_, Hooks());
    RecordCommand("check-set", s->Description(), ReadbackText("madr", board), params_.OwnIpText(),
                  out);
}

void TNetC1AppForm::MnChecktelnet2Click() {
    TBoardReadback board;
    std::unique_ptr<TParaSet1Dlg> dlg;
    {
        auto session = OpenTelnetSession();
        dlg = CheckAndSetDialog(*session, true, &board);
    }  // no session is open while the operator looks at the values
    if (dlg->exec() != QDialog::Accepted)
        return;
    // A second session, to the address as the record now holds it.
    const QString target =
        QStringLiteral("%1:%2").arg(params_.OwnIpText()).arg(TTelNetCont1Dlg::kPort);
    const TOutcome refused{false, "connect"};
    TelnetSessionPtr session;
    try {
        session = OpenTelnetSession();
    } catch (const Exception&) {
        RecordCommand("telnet-check-set", target, ReadbackText("madr", board), QString(), refused);
        throw;
    }
    if (!session->Connected()) {
        AddLogLine(QString::fromUtf8(kDisconnected));
        AddLogLine(QString::fromUtf8(kBannerNg));
        RecordCommand("telnet-check-set", target, ReadbackText("madr", board), QString(), refused);
        return;
    }
    dlg->CopyTo(&params_);
    const TOutcome out = RunCheckAndSetWrite(*session, &params_, Hooks());
    RecordCommand("telnet-check-set", session->Description(), ReadbackText("madr", board),
                  params_.OwnIpText(), out);
}
