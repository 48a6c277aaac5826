// The start-up benches' end point: the first paint of a window.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QWidget>

// Shows `w` and returns once any of its widgets has painted.
inline void WaitForFirstPaint(QWidget* w) {
    class TPaintSeen : public QObject {
      public:
        bool seen = false;
        bool eventFilter(QObject*, QEvent* e) override {
            seen = seen || e->type() == QEvent::Paint;
            return false;
        }
    } paint;
    QApplication::instance()->installEventFilter(&paint);
    w->show();
    while (!paint.seen)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::instance()->removeEventFilter(&paint);
}
