// A board's settings as read back, as text: the key=value lines of the read command and the
// comparison of the verification after a write.
#pragma once

#include <QString>
#include <QStringList>

#include "board/settingtable.h"

struct TBoardParams;
struct TBoardReadback;

// The value read for `key` as the board writes it ("02-5A-C3-00-01-C9", "10.16.77.170", "16"),
// or a null string when it was not read.
QString ReadbackText(const char* key, const TBoardReadback& board);
// "key=value" for every value read, in query order.
QStringList ReadbackLines(const TBoardReadback& board);
// "mask written 16, read 24" for every setting whose value read differs from the value the
// write sent (or was not read); with `withMac` also the last three MAC bytes. "conn" compares
// as on (not 0) or off.
QStringList ReadbackDifferences(const TBoardParams& written, const TBoardReadback& board,
                                bool withMac);
