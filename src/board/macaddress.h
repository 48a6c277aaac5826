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
// One address as a value: the form the MAC counter steps in. Next() is the counter's only step,
// the one every part of the program counts with: FF-FF-FF wraps to 00-00-00.
class TMacAddress {
  public:
    explicit TMacAddress(int low) : low_(((low % kMacLowCount) + kMacLowCount) % kMacLowCount) {}
    // The record's address; none when a byte lies outside 0..255.
    static std::optional<TMacAddress> OfRecord(const TBoardParams& p);
    int Low() const { return low_; }
    TMacAddress Next() const { return TMacAddress(low_ + 1); }
    QString Text() const;

  private:
    int low_;
};
// True when `a` lies ahead of `b` in counting order, by less than half the address space; the
// counter never moves from `b` back to an `a` that is not.
bool MacLowAhead(int a, int b);
