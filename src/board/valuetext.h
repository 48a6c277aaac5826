// How the board's values are written as text and read back from its answers: decimal and
// hexadecimal text, and the parsers of the query answers' groups.
#pragma once

#include <QString>
#include <array>

// Shortest decimal form with a leading "-" for a negative value.
QString DecText(int value);
// Uppercase hexadecimal, at least two digits; a negative value gives the eight digits of its
// 32-bit two's complement.
QString HexText(int value);

// Value of one hexadecimal group: digits from the last to the first, "0"-"9", "A"-"F" and
// "a"-"f" at their value and any other character as 0, in wrapping 32-bit arithmetic.
int HexGroupValue(const QString& text);
// Six hexadecimal groups separated by "." or "-", left to right; all zeros when fewer than
// five separators are found.
std::array<int, 6> SplitMacText(const QString& text);
// Four decimal groups separated by "." or "-", left to right; all zeros when fewer than three
// separators are found. A group that is not a decimal integer throws EConvertError.
std::array<int, 4> SplitIpText(const QString& text);
