// A board's settings as read back, as text: the key=value lines of the read command and the
// comparison of the verification after a write.
#pragma once

#include <QString>
#include <QStringList>

#include "board/recordline.h"
#include "board/settingtable.h"

struct TBoardParams;
struct TBoardReadback;

// The value read for `key` as the board writes it ("02-5A-C3-00-01-C9", "10.16.77.170", "16"),
// or a null string when it was not read.
QString ReadbackText(const char* key, const TBoardReadback& board);
// "key=value" for every value read, in query order.
QStringList ReadbackLines(const TBoardReadback& board);
// The values a write sends: every setting, with `withMac` also the MAC address.
TSentValues SentValues(const TBoardParams& p, bool withMac);
// A setting whose value read is not the value written.
struct TValueDifference {
    QString key;   // "mask"
    QString text;  // "mask written 16, read 24"
};
// Every setting `written` holds a value of whose value read differs (or was not read), in query
// order, as ReadbackDifferences compares them; NotTakenLines first.
QList<TValueDifference> WrittenDifferences(const TSentValues& written, const TBoardReadback& board);
// "mask written 16, read 24" for every setting whose value read differs from the value the
// write sent (or was not read); with `withMac` also the last three MAC bytes. "conn" compares
// as on (not 0) or off. The NotTakenLines come first, whatever the setting: the board answered
// something that is no value.
QStringList ReadbackDifferences(const TBoardParams& written, const TBoardReadback& board,
                                bool withMac);
// ReplyFaultText of every reply not taken as its value, in query order.
QStringList NotTakenLines(const TBoardReadback& board);
// The log line of a check-and-set for a reply that is not its value's whole form, which the
// dialog shows as its parsers read it: the operator looks at that field before confirming.
QString ReplyWarningLine(const TBoardSetting& s, const QString& reply);
