// The board's command language: the lines the tool sends, how values are encoded, the order of
// a full configuration, the outcome log lines, and the parsers of query answers.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "board/settingtable.h"

inline constexpr const char* kWakeLine = "\r\n";
inline constexpr const char* kBannerOk = "------------- 設定　OK! -----------------";
inline constexpr const char* kBannerNg = "///////////// 設定　NG! /////////////////";
inline constexpr const char* kTestOk = "コマンドＯＫ！！";
inline constexpr const char* kTestNg = "コマンドＮＧ！！";
// Logged before the speed line when the record's speed index names no entry of the list.
inline constexpr const char* kSpeedOutsideListLine =
    "通信スピードが一覧にないため、9600bpsを送信します";

// Shortest decimal form with a leading "-" for a negative value.
QString DecText(int value);
// Uppercase hexadecimal, at least two digits; a negative value gives the eight digits of its
// 32-bit two's complement.
QString HexText(int value);

// "02-5A-C3-" and the three low MAC bytes in hexadecimal joined by "-".
QByteArray MacText(const TBoardParams& p);

// The line for one setting's keyword, with or without its "=" ("madr=", "l_ip", ...), or
// action word ("save", "exit", "qelmoT4"), terminator included. Throws std::invalid_argument
// for an unknown keyword.
QByteArray BuildCommandLine(const char* keyword, const TBoardParams& p);

// The outcome line of a setting, action or mode line: its label ("マスク長" for "mask=" and the
// query "mask"), U+3000 and "OK!!" or "NG!!".
QString OutcomeLine(const char* keyword, bool ok);

// Counts the three low MAC bytes on by one as a 24-bit number; FF-FF-FF wraps to 00-00-00.
void IncrementMacAddress(TBoardParams* p);

// Value of one hexadecimal group: digits from the last to the first, "0"-"9", "A"-"F" and
// "a"-"f" at their value and any other character as 0, in wrapping 32-bit arithmetic.
int HexGroupValue(const QString& text);
// Six hexadecimal groups separated by "." or "-", left to right; all zeros when fewer than
// five separators are found.
std::array<int, 6> SplitMacText(const QString& text);
// Four decimal groups separated by "." or "-", left to right; all zeros when fewer than three
// separators are found. A group that is not a decimal integer throws EConvertError.
std::array<int, 4> SplitIpText(const QString& text);
