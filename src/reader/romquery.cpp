#include "reader/romquery.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

#include "core/replytimer.h"
#include "core/settings.h"
#include "dialogs/guage1dlg.h"
#include "dialogs/messagebox.h"
#include "reader/readerlink.h"

namespace {

// Longest block of one pass of the connection wait; any event ends a pass sooner.
constexpr uint32_t kConnectPassMs = 1000;

// Shows the progress dialog and waits, without a time limit, until the link is connected
// (true) or Cancel is pressed (false).
bool AwaitConnection(QWidget* owner, TTComXDlg* link, QStatusBar* statusBar) {
    const QString connecting = QStringLiteral("TCP/IP 接続中...");
    auto dlg = std::make_unique<TGuage1Dlg>(owner);
    dlg->Button1()->setVisible(true);
    dlg->Panel2()->hide();
    dlg->ProgressBar1()->hide();
    dlg->setWindowTitle(QStringLiteral("しばらくお待ちください"));
    dlg->Label1()->setText(connecting);
    if (statusBar)
        statusBar->showMessage(connecting);
    WaitForEvents(0);
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    WaitForEvents(0);

    // The first pass takes only what is pending, so a link that is already connected goes
    // on at once; later passes sleep until an event (connect, error, Cancel) arrives.
    bool first = true;
    for (;;) {
        WaitForEvents(first ? 0 : kConnectPassMs);
        first = false;
        if (!dlg->Running())
            return false;
        if (link->Connected()) {
            dlg->close();
            return true;
        }
    }
}

}  // namespace

void RunRomVersionQuery(QWidget* owner, const TBoardParams& params, TLogPane* log,
                        const QString& iniPath, QStatusBar* statusBar) {
    auto link = std::make_unique<TTComXDlg>(owner, params.TCPPort1, log, iniPath);
    link->hide();
    link->SetTCPServPort(params.TCPPort1);
    link->SetTCPServAddr(params.OwnIpText());
    link->OpenLink();

    if (AwaitConnection(owner, link.get(), statusBar)) {
        link->SendRomVersionRequest();
        if (link->WaitResponse()) {
            ShowMessageBox(owner, QStringLiteral("情報"),
                           QString::fromUtf8(kRomVersionPrefix) + link->VersionText(),
                           QMessageBox::Information);
        }
    }
    // Released here rather than by the destructor so that a failed INI write is reported.
    link->FormDestroy();
}
