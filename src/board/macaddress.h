// The three low bytes of a board's MAC address (MacAddr_1..3 of the record) as one 24-bit
// number, the form in which the ledger counts, compares and stores addresses. The first three
// bytes are always 02-5A-C3.
#pragma once

#include <QString>
#include <optional>

struct TBoardParams;

inline constexpr int kMacLowCount = 1 << 24;

// The record's address as a number; none when a byte lies outside 0..255 (a hand-edited file).
std::optional<int> MacLowOf(const TBoardParams& p);
void SetMacLow(TBoardParams* p, int low);
// "02-5A-C3-00-01-C9" for 0x0001C9.
QString MacTextOfLow(int low);
// The number of "02-5A-C3-XX-XX-XX" (either letter case); none for any other text.
std::optional<int> MacLowOfText(const QString& text);
// The address after `low`: FF-FF-FF wraps to 00-00-00.
inline int NextMacLow(int low) {
    return (low + 1) % kMacLowCount;
}
// True when `a` lies ahead of `b` in counting order, by less than half the address space; the
// counter never moves from `b` back to an `a` that is not.
bool MacLowAhead(int a, int b);
