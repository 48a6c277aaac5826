// Fonts of the windows: the Japanese fonts asked for first, then installed CJK fallbacks, so
// that Japanese text renders on a machine without the Windows fonts.
#pragma once

#include <QFont>

// "ＭＳ ゴシック" 12 px, monospaced: the log pane.
QFont LogFont();
// "ＭＳ Ｐゴシック" 12 px: the dialogs.
QFont DialogFont();
