// The error box: the standard box in which every command shows an error it caught, with the
// program's caption.
//
// Thread rules: GUI thread only.
#pragma once

#include <QString>

#include "core/caption.h"

class QWidget;

// A modal critical box with the program's caption, `message` and one OK button.
void ShowErrorBox(QWidget* parent, const QString& message);
