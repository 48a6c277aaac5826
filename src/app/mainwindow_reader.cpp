// The main window's ROM version query: the query runs without a window of its own; the main
// window shows its connection wait in the progress dialog and the status bar, lets Cancel end
// it, and shows the version in a message box.
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

#include "app/mainwindow.h"
#include "core/replytimer.h"
#include "dialogs/guage1dlg.h"
#include "dialogs/messagebox.h"
#include "reader/romquery.h"

void TNetC1AppForm::ROM1Click() {
    std::unique_ptr<TGuage1Dlg> progress;
    TRomQueryHooks hooks;
    hooks.waitStarted = [&](const QString& text) {
        progress = std::make_unique<TGuage1Dlg>(this);
        progress->Button1()->setVisible(true);
        progress->Panel2()->hide();
        progress->ProgressBar1()->hide();
        progress->setWindowTitle(QStringLiteral("しばらくお待ちください"));
        progress->Label1()->setText(text);
        // The status bar keeps the text after the query.
        statusBar()->showMessage(text);
        WaitForEvents(0);
        progress->show();
        progress->raise();
        progress->activateWindow();
        WaitForEvents(0);
    };
    hooks.cancelled = [&] { return !progress->Running(); };
    hooks.waitEnded = [&] {
        // Connected: the dialog closes; cancelled: it is released as it stands.
        if (progress->Running())
            progress->close();
        progress.reset();
    };
    hooks.versionReceived = [this](const QString& version) {
        ShowMessageBox(this, QStringLiteral("情報"), QString::fromUtf8(kRomVersionPrefix) + version,
                       QMessageBox::Information);
    };
    RunRomVersionQuery(this, Params(), LogPane(), IniPath(), hooks);
}
