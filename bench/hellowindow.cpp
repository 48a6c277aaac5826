// The floor of the window's start: a Japanese Qt program with a menu bar, a text pane and a
// status bar, that ends at its first paint as the window-startup child does.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <cstdlib>

#include "firstpaint.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("こんにちは"));
    w.menuBar()->addMenu(QStringLiteral("ファイル(&F)"))->addAction(QStringLiteral("終了(&X)"));
    w.setCentralWidget(new QPlainTextEdit(QStringLiteral("こんにちは、世界"), &w));
    w.statusBar()->addPermanentWidget(
        new QLabel(QStringLiteral("次のMACアドレス: 02-5A-C3-00-01-C9")));
    WaitForFirstPaint(&w);
    return 0;
}
