// The end-of-line check's verdict: a board as read now against what the ledger says was written
// to it. Pure: the runner reads the board and the ledger, and records the verdict.
#pragma once

#include <QString>
#include <QStringList>

#include "board/readback.h"
#include "ledger/ledger.h"

struct TCheckVerdict {
    bool ok = false;
    // The check row's failed column: the differing keys ("mask timr"), or why there was nothing
    // to compare with ("unknown", "burned", "reserved", "given-twice", "no-values"); empty on OK.
    QString failed;
    // One line each: "mask written 16, read 24", or what the ledger says of the address.
    QStringList lines;
};

// The board read as `board`, whose MAC address the ledger knows as `history`: OK when the
// address was given to this one board and every value read equals the value its last write sent.
TCheckVerdict JudgeBoard(const QString& mac, const TBoardHistory& history,
                         const TBoardReadback& board);
