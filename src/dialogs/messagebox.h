// The program's message boxes: one modal box with a caption, a text, an icon and buttons,
// as wide as its caption and its longest line, within the screen, so that neither the title
// bar cuts the caption short nor a line wraps that would fit. "はい", "いいえ" and
// "キャンセル" label the Yes, No and Cancel buttons.
//
// Thread rules: GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Shows the box modally and returns the button that closed it (Escape and the window's close
// button give the No or Cancel button where there is one, else the only button).
QMessageBox::StandardButton ShowMessageBox(
    QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
