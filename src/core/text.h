// Text helpers every layer shares: the Shift_JIS codec of the INI file, the log and the texts of
// the board and the reader; the hexadecimal dump of the log's byte lines; the dotted IPv4
// address.
//
// Pure functions. Thread rules: none.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// Shift_JIS both ways. Where the platform has no Shift_JIS codec the bytes are taken as
// Latin-1, so that text read and written again comes back byte for byte.
QString DecodeShiftJis(const QByteArray& bytes);
QByteArray EncodeShiftJis(const QString& text);

// Each byte as two uppercase hexadecimal digits and a blank: "73 61 0D ".
QString HexDump(const QByteArray& bytes);
QString HexDump(const uint8_t* bytes, int count);

// Four dot-separated decimal numbers of one to three digits, each 0 to 255 ("10.16.77.170"), as
// one number in host byte order (the first number in the highest byte); nothing for any other
// text.
std::optional<uint32_t> ParseIPv4(const QString& text);
