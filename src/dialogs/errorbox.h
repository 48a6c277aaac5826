// The error box: the standard box in which every command shows an error it caught, and the
// program's caption that it and the link's own boxes bear.
//
// Thread rules: GUI thread only.
#pragma once

#include <QString>

class QWidget;

inline constexpr const char* kProgramCaption = "ネットワークボード設定プログラム";

// A modal critical box with the program's caption, `message` and one OK button.
void ShowErrorBox(QWidget* parent, const QString& message);
