// The main window's ROM version query: the runner runs it; the window shows its connection wait
// in the progress dialog and the status bar, lets Cancel (or a close of the window) end it, and
// shows the version in a message box.
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

#include "app/mainwindow.h"
#include "core/replytimer.h"
#include "dialogs/messagebox.h"
#include "dialogs/progressdialog.h"
#include "reader/romquery.h"

void TMainWindow::QueryRomVersion() {
    TRomQueryResult query;
    Runner().RomVersion(&query);
}

TRomQueryHooks TMainWindow::RomQueryHooks() {
    // The dialog lives from the wait's start to its end; the hooks share it.
    auto progress = std::make_shared<std::unique_ptr<TProgressDialog>>();
    TRomQueryHooks hooks;
    hooks.waitStarted = [this, progress](const QString& text) {
        auto& dlg = *progress;
        dlg = std::make_unique<TProgressDialog>(this);
        dlg->CancelButton()->setVisible(true);
        dlg->Panel()->hide();
        dlg->Bar()->hide();
        dlg->setWindowTitle(QStringLiteral("しばらくお待ちください"));
        dlg->Message()->setText(text);
        // The status bar keeps the text after the query.
        statusBar()->showMessage(text);
        WaitForEvents(0);
        dlg->show();
        dlg->raise();
        dlg->activateWindow();
        WaitForEvents(0);
    };
    // The wait has no limit of its own: Cancel ends it, and so does a close of the window.
    hooks.cancelled = [this, progress] { return !(*progress)->Running() || closePending_; };
    hooks.waitEnded = [progress] {
        // Connected: the dialog closes; cancelled: it is released as it stands.
        if ((*progress)->Running())
            (*progress)->close();
        progress->reset();
    };
    hooks.versionReceived = [this](const QString& version) {
        ShowMessageBox(this, QStringLiteral("情報"), QString::fromUtf8(kRomVersionPrefix) + version,
                       QMessageBox::Information);
    };
    return hooks;
}
