// The ROM version query: connects to the reader behind the board (the board's own IP address
// and TCP port), asks for its firmware version and shows it in a message box. Failures are
// told in the log pane only. While the connection is awaited a progress dialog offers Cancel.
//
// Thread rules: GUI thread only; runs to its end inside the calling command, processing GUI
// events while it waits.
#pragma once

#include <QString>

class QStatusBar;
class QWidget;
class TLogPane;
struct TBoardParams;

inline constexpr char kRomVersionPrefix[] = "ROMバージョン: ";

// `statusBar` and `log` may be null. Throws EFCreateError when the "ComDebug" section cannot
// be written at the end.
void RunRomVersionQuery(QWidget* owner, const TBoardParams& params, TLogPane* log,
                        const QString& iniPath, QStatusBar* statusBar);
