// The main window's configuration commands: the command runner does the work; the window is
// its face (the dialogs, the question before an address goes again, the boxes, the log pane)
// and its source of links (the long-lived serial session, a telnet session per command).
#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "app/mainwindow.h"
#include "board/macaddress.h"
#include "core/caption.h"
#include "core/exceptions.h"
#include "dialogs/beep.h"
#include "dialogs/dialogs.h"
#include "dialogs/messagebox.h"
#include "runner/commandrunner.h"
#include "telnet/telnetsession.h"

namespace {

// Shows the dialog modally; once it is accepted, copies its fields into the record: all of the
// values or, when one field is not a number, none of them.
bool CopyIfAccepted(TEntryDialog& dlg, TBoardParams* params) {
    if (dlg.exec() != QDialog::Accepted)
        return false;
    TBoardParams confirmed = *params;
    dlg.CopyTo(&confirmed);
    *params = confirmed;
    return true;
}

}  // namespace

TCommandRunner& TMainWindow::Runner() {
    if (!runner_)
        runner_ = std::make_unique<TCommandRunner>(
            static_cast<TCommandUi&>(*this), static_cast<TLinkSource&>(*this), params_, iniPath_);
    return *runner_;
}

void TMainWindow::ShowAfterCommand(const QString& message) {
    pendingError_ = pendingError_.isEmpty() ? message : pendingError_ + "\n\n" + message;
}

bool TMainWindow::ConfirmWrite(TBoardParams* params, bool withMac) {
    auto dlg = std::make_unique<TSettingsDialog>(this);
    if (!withMac)
        dlg->HideMacRow();
    dlg->FillFrom(*params);
    return CopyIfAccepted(*dlg, params);
}

bool TMainWindow::ConfirmMacAddress(TBoardParams* params) {
    auto dlg = std::make_unique<TMacAddressDialog>(this);
    dlg->FillFrom(*params);
    return CopyIfAccepted(*dlg, params);
}

bool TMainWindow::ConfirmCheckAndSet(const TBoardReadback& board, TLinkKind link,
                                     TBoardParams* edited) {
    auto dlg = std::make_unique<TSettingsDialog>(this);
    dlg->PrepareForCheckAndSet(link == TLinkKind::Telnet, params_.fSetInit != 0);
    dlg->FillFromBoard(board);
    return CopyIfAccepted(*dlg, edited);
}

bool TMainWindow::MayReuse(const TReuseQuestion& question) {
    const TAddressInfo& info = question.info;
    const QString& mac = question.mac;
    const QString when = QDateTime::fromString(info.time, Qt::ISODate)
                             .toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    const QString by = info.station.isEmpty() || !question.otherStation
                           ? info.command
                           : QStringLiteral("%1、ステーション %2").arg(info.command, info.station);
    const QString what =
        info.state == TAddressState::Given
            ? QStringLiteral("MACアドレス %1 は %2 に書き込み済みです（%3）。").arg(mac, when, by)
            : QStringLiteral(
                  "MACアドレス %1 は %2 に送りましたが、保存の応答がありませんでした"
                  "（%3）。ボードが持っている可能性があります。")
                  .arg(mac, when, by);
    return ShowMessageBox(this, QString::fromUtf8(kProgramCaption),
                          what + QStringLiteral("\n同じアドレスをもう一度書き込みますか？"),
                          QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::No) == QMessageBox::Yes;
}

void TMainWindow::NullBox() {
    ShowMessageBox(this, QString::fromUtf8(kProgramCaption), QStringLiteral("NULL"),
                   QMessageBox::NoIcon);
}

std::unique_ptr<TBoardLink> TMainWindow::TelnetLink(const TBoardParams& params) {
    return std::make_unique<TTelnetSession>(this, LogPane(), params);
}

QString TMainWindow::TelnetTarget(const TBoardParams& params) const {
    return TTelnetSession::TargetOf(params);
}

void TMainWindow::WriteTakingPlanRow(TLinkKind link, bool withMac) {
    const TCommandResult r = Runner().Write(link, {withMac, false, scannedSerial_});
    if (r.reached) {
        scannedSerial_.clear();
        scanField_->clear();
    }
}

void TMainWindow::WriteWithMac() {
    WriteTakingPlanRow(TLinkKind::Serial, true);
}

void TMainWindow::WriteWithoutMac() {
    WriteTakingPlanRow(TLinkKind::Serial, false);
}

void TMainWindow::WriteWithMacOverTelnet() {
    WriteTakingPlanRow(TLinkKind::Telnet, true);
}

void TMainWindow::WriteOverTelnet() {
    WriteTakingPlanRow(TLinkKind::Telnet, false);
}

void TMainWindow::TakeScannedSerial() {
    const QString serial = scanField_->text().trimmed();
    scannedSerial_.clear();
    if (!serial.isEmpty()) {
        try {
            if (Runner().Ledger().PeekPlanRow({serial}))
                scannedSerial_ = serial;
        } catch (const Exception& e) {
            LogPane()->AddLine(e.Message(), kMainLogLimit);
            SystemBeep();
            scanField_->selectAll();
        }
    }
    ShowNextAddress();
}

void TMainWindow::RewriteMacAddress() {
    Runner().MacRewrite();
}

void TMainWindow::CheckAndSetOverSerial() {
    Runner().CheckAndSet(TLinkKind::Serial);
}

void TMainWindow::CheckAndSetOverTelnet() {
    Runner().CheckAndSet(TLinkKind::Telnet);
}

void TMainWindow::CheckAtEndOfLine() {
    // The board on the line is reached over the COM port or at the telnet target.
    QMessageBox ask(QMessageBox::Question, QString::fromUtf8(kProgramCaption),
                    QStringLiteral("出荷検査するボードにどちらでつなぎますか？"),
                    QMessageBox::NoButton, this);
    QPushButton* serial = ask.addButton(QStringLiteral("COMポート"), QMessageBox::AcceptRole);
    QPushButton* telnet = ask.addButton(QStringLiteral("Telnet"), QMessageBox::AcceptRole);
    ask.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    ask.setDefaultButton(serial);
    ask.exec();
    if (ask.clickedButton() == serial)
        Runner().Check(TLinkKind::Serial);
    else if (ask.clickedButton() == telnet)
        Runner().Check(TLinkKind::Telnet);
}

QString NextAddressText(int low, bool unchecked) {
    return QStringLiteral("次のMACアドレス: %1%2")
        .arg(MacTextOfLow(low), unchecked ? QStringLiteral("（製造記録で未確認）") : QString());
}

void TMainWindow::ShowNextAddress() {
    std::optional<int> next;
    bool unchecked = false;
    try {
        // The ledger passes over every address it holds: the one shown is free.
        next = Runner().Ledger().NextAddress();
    } catch (const Exception&) {
        // The ledger's error is shown when a command needs it; meanwhile the counter's address
        // shows, marked as not checked against the record. A shared ledger that is away offers
        // no address at all.
        const TLedger* ledger = Runner().OpenLedger();
        if (!ledger || !ledger->Shared()) {
            next = MacLowOf(params_);
            unchecked = true;
        }
    }
    nextAddress_->setText(next ? NextAddressText(*next, unchecked) : QString());
    // The open plan and the row the next write takes: the scanned serial's, else the next one.
    QString plan;
    try {
        if (const std::optional<TPlanStatus> status = Runner().Ledger().Plan()) {
            std::optional<TPlanRow> row = status->next;
            if (!scannedSerial_.isEmpty()) {
                // Another station may have taken the scanned row meanwhile: the write will say
                // so, and the bar shows the next row until then.
                try {
                    if (const std::optional<TPlanTaken> scanned =
                            Runner().Ledger().PeekPlanRow({scannedSerial_}))
                        row = scanned->row;
                } catch (const EPlanRefused&) {
                }
            }
            plan = row ? PlanStatusText(row->number, status->rows, row->OwnIp())
                       : QStringLiteral("計画 %1/%1: 残りの行はありません").arg(status->rows);
        }
    } catch (const Exception&) {
        // The ledger's error is shown when a command needs it.
    }
    planText_->setText(plan);
    planText_->setVisible(!plan.isEmpty());
    scanField_->setVisible(!plan.isEmpty());
}

QString PlanStatusText(int number, qint64 rows, const QString& ownIp) {
    return QStringLiteral("計画 %1/%2%3")
        .arg(number)
        .arg(rows)
        .arg(ownIp.isEmpty() ? QString() : QStringLiteral(": ") + ownIp);
}
