// The substitute board's stored settings in a file, so that they outlive the simulator process
// as a board's outlive a power cycle.
//
// The file is text, one setting a line between a header line and an end line:
//
//     netboard-sim board state 1
//     bps=16
//     ...
//     end
//
// A value's bytes outside '!'..'~', and '%', are written as %XX. The file is written whole (a
// temporary file beside it, synced, then renamed over it), so a simulator killed at any moment
// leaves the old file or the new one, never a part of one.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

using BoardSettings = QMap<QByteArray, QByteArray>;

struct BoardStateRead {
    enum Result { Loaded, Missing, Damaged };
    Result result = Missing;
    BoardSettings values;  // when Loaded: exactly the keys asked for
    QString why;           // when Damaged: what is wrong with the file
};

// Reads the settings kept in `path`. A file that is not in the form above, holds a key not in
// `keys` or lacks one, or is larger than any such file can be, is damaged.
BoardStateRead ReadBoardState(const QString& path, const QList<QByteArray>& keys);

// Keeps `values` in `path`: "" when done, else why not (the old file is then as it was).
QString WriteBoardState(const QString& path, const BoardSettings& values);
