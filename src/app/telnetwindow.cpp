#include "app/telnetwindow.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include "telnet/telnetsession.h"

TTelnetWindow::TTelnetWindow(TTelNetCont1Dlg* session, QWidget* parent)
    : QDialog(parent), session_(session) {
    setWindowTitle(QStringLiteral("テルネットの制御"));
    setFixedSize(313, 214);
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("OKBtn"));
    okButton_->setGeometry(79, 180, 75, 25);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("キャンセル"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelBtn"));
    cancelButton_->setGeometry(159, 180, 75, 25);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void TTelnetWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
}

void TTelnetWindow::done(int result) {
    session_->FormClose();
    QDialog::done(result);
}
