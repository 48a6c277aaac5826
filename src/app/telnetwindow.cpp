#include "app/telnetwindow.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include "telnet/telnetsession.h"

TTelnetWindow::TTelnetWindow(TTelnetSession* session, QWidget* parent)
    : QDialog(parent), session_(session) {
    setWindowTitle(QStringLiteral("テルネットの制御"));
    setFixedSize(313, 214);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setGeometry(79, 180, 75, 25);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setGeometry(159, 180, 75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
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
    session_->Disconnect();
    QDialog::done(result);
}
