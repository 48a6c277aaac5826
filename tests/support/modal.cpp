#include "support/modal.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs) {
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto* timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("modal-watcher"));
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        QWidget* w = QApplication::activeModalWidget();
        *waited += 10;
        if (w && w != before.data() && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(w);
        } else if (*waited >= timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

namespace {

void PressDefault(QMessageBox* box) {
    QAbstractButton* b = box->defaultButton();
    if (!b && !box->buttons().isEmpty())
        b = box->buttons().first();
    if (b)
        b->click();
    else
        box->close();
}

}  // namespace

void DismissEveryMessageBox(QStringList* texts) {
    auto* timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("modal-watcher"));
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (texts)
            texts->append(box->text());
        PressDefault(box);
    });
    timer->start(10);
}

void AcceptNextMessageBox(QString* text, QString* title, int timeoutMs) {
    OnNextModal(
        [=](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return;
            if (text)
                *text = box->text();
            if (title)
                *title = box->windowTitle();
            PressDefault(box);
        },
        timeoutMs);
}

void CancelModalWatchers() {
    for (QTimer* t : qApp->findChildren<QTimer*>(QStringLiteral("modal-watcher"))) {
        t->stop();
        t->deleteLater();
    }
}
