// The program's caption: the main window's title and the caption of every box it shows.
#pragma once

inline constexpr const char* kProgramCaption = "ネットワークボード設定プログラム";
