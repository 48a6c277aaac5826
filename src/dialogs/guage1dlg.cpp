#include "dialogs/guage1dlg.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/fonts.h"

TGuage1Dlg::TGuage1Dlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("変換実行中"));
    setFont(DialogFont());

    label1_ = new QLabel(this);
    label1_->setAlignment(Qt::AlignCenter);

    panel2_ = new QFrame(this);
    panel2_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    progressBar1_ = new QProgressBar(panel2_);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    auto* panelLayout = new QVBoxLayout(panel2_);
    panelLayout->addWidget(progressBar1_);

    button1_ = new QPushButton(QStringLiteral("&Cancel"), this);
    button1_->setAutoDefault(false);
    connect(button1_, &QPushButton::clicked, this, &TGuage1Dlg::Button1Click);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addWidget(panel2_);
    layout->addWidget(button1_, 0, Qt::AlignHCenter);
    setMinimumWidth(300);
}

void TGuage1Dlg::Button1Click() {
    running_ = false;
}

void TGuage1Dlg::reject() {
    Button1Click();
}

void TGuage1Dlg::showEvent(QShowEvent* event) {
    running_ = true;
    QDialog::showEvent(event);
}

void TGuage1Dlg::closeEvent(QCloseEvent* event) {
    // Only the caller closes this window; a close request from the window system is a Cancel.
    // (QDialog's own handler would turn every close into reject(), that is, into Cancel.)
    if (!event->spontaneous()) {
        event->accept();
        return;
    }
    event->ignore();
    Button1Click();
}
