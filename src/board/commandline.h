// The board's command language: the lines the tool sends, how values are encoded, the order of
// a full configuration, the outcome log lines, and the parsers of query answers.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "board/settingtable.h"
#include "board/valuetext.h"

inline constexpr const char* kWakeLine = "\r\n";
inline constexpr const char* kBannerOk = "------------- 設定　OK! -----------------";
inline constexpr const char* kBannerNg = "///////////// 設定　NG! /////////////////";
// The end of a check of a board against the ledger.
inline constexpr const char* kCheckBannerOk = "------------- 検査　OK! -----------------";
inline constexpr const char* kCheckBannerNg = "///////////// 検査　NG! /////////////////";
inline constexpr const char* kTestOk = "コマンドＯＫ！！";
inline constexpr const char* kTestNg = "コマンドＮＧ！！";
// Logged before the speed line when the record's speed index names no entry of the list.
inline constexpr const char* kSpeedOutsideListLine =
    "通信スピードが一覧にないため、9600bpsを送信します";

// "02-5A-C3-" and the three low MAC bytes in hexadecimal joined by "-".
QByteArray MacText(const TBoardParams& p);

// The line for one setting's keyword, with or without its "=" ("madr=", "l_ip", ...), or
// action word ("save", "exit", "qelmoT4"), terminator included. Throws std::invalid_argument
// for an unknown keyword.
QByteArray BuildCommandLine(const char* keyword, const TBoardParams& p);

// The outcome line of a setting, action or mode line: its label ("マスク長" for "mask=" and the
// query "mask"), U+3000 and "OK!!" or "NG!!".
QString OutcomeLine(const char* keyword, bool ok);
