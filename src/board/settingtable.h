// The board's settings, one row each: the keyword of its setting line and of its query, the
// label of its outcome log lines, the record members it fills with the range of the dialog
// field that holds them, and the form in which its value goes into a line and comes back in a
// reply. The command language, the read-back, the procedures, the dialogs and the settings
// check all read it, so a setting is added by adding its row.
#pragma once

#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "core/settings.h"

// How a setting's value is written into its line and read from its reply.
enum class TSettingForm {
    // "02-5A-C3-" and the members in hexadecimal joined by "-"; the reply holds six
    // hexadecimal groups, of which the last three are the members.
    MacAddress,
    // The four members in decimal joined by "."; the reply holds four decimal groups.
    IpAddress,
    // The member in decimal; the reply is one decimal integer.
    Decimal,
    // As Decimal; a value read back counts as on for anything but 0.
    Switch,
    // The list index as the board's speed code: 17 for 2, 16 for 1, 15 for any other index;
    // the reply is the code.
    SpeedList,
};

struct TBoardSetting {
    const char* keyword;  // "mask": the query, and with "=" the setting line's start
    const char* label;    // "マスク長": the label of its outcome lines
    TSettingForm form;
    // The range of each member as its dialog field holds it.
    int min;
    int max;
    // The members in the order the line writes them; unused places are null.
    std::array<int TBoardParams::*, 4> members;
    // The board's own address: the telnet target, which a telnet check-and-set stores into the
    // record as soon as it is read.
    bool ownAddress;

    int MemberCount() const;
};

inline constexpr int kMaxInt = 2147483647;

// clang-format off
inline constexpr TBoardSetting kBoardSettings[] = {
    // keyword, label, form, range of each member,
    //     members, own address
    {"madr", "MACアドレス", TSettingForm::MacAddress, 0, 255,
        {&TBoardParams::MacAddr_1, &TBoardParams::MacAddr_2, &TBoardParams::MacAddr_3}, false},
    {"l_ip", "IPアドレス", TSettingForm::IpAddress, 0, 255,
        {&TBoardParams::TCPIP1_1, &TBoardParams::TCPIP1_2, &TBoardParams::TCPIP1_3,
         &TBoardParams::TCPIP1_4}, true},
    {"l_pt", "Port値", TSettingForm::Decimal, 0, kMaxInt,
        {&TBoardParams::TCPPort1}, true},
    {"f_ip", "IPアドレス(接続先)", TSettingForm::IpAddress, 0, 255,
        {&TBoardParams::TCPIP2_1, &TBoardParams::TCPIP2_2, &TBoardParams::TCPIP2_3,
         &TBoardParams::TCPIP2_4}, false},
    {"f_pt", "Port値(接続先)", TSettingForm::Decimal, 0, kMaxInt,
        {&TBoardParams::TCPPort2}, false},
    {"mask", "マスク長", TSettingForm::Decimal, 0, 32,
        {&TBoardParams::TCPmask}, false},
    {"conn", "自動接続", TSettingForm::Switch, 0, 1,
        {&TBoardParams::fAutoConnect}, false},
    {"bps", "通信スピード(RS232C)", TSettingForm::SpeedList, 0, 2,
        {&TBoardParams::SpeedIndex}, false},
    {"timv", "送信タイミング", TSettingForm::Decimal, -kMaxInt, kMaxInt,
        {&TBoardParams::TxTiming}, false},
    {"keep", "Keep", TSettingForm::Decimal, 0, 1,
        {&TBoardParams::fKeepAlive}, false},
    {"timr", "timr", TSettingForm::Decimal, -kMaxInt, kMaxInt,
        {&TBoardParams::ChkTiming}, false},
};
// clang-format on

inline constexpr int kBoardSettingCount = static_cast<int>(std::size(kBoardSettings));

// The query keywords in the order the board is asked: every setting.
inline constexpr auto kReadbackKeys = [] {
    std::array<const char*, kBoardSettingCount> keys{};
    for (int i = 0; i < kBoardSettingCount; ++i)
        keys[static_cast<size_t>(i)] = kBoardSettings[i].keyword;
    return keys;
}();

// The setting lines a full configuration sends after the MAC address line, in order: every
// setting but the MAC address.
inline constexpr auto kSettingOrder = [] {
    std::array<const char*, kBoardSettingCount - 1> keys{};
    size_t n = 0;
    for (const TBoardSetting& s : kBoardSettings)
        if (s.form != TSettingForm::MacAddress && n < keys.size())
            keys[n++] = s.keyword;
    return keys;
}();

// The row of a keyword, with or without its "=" ("mask", "mask="); null for any other word.
const TBoardSetting* FindSetting(const char* keyword);
// The row that fills `member`; null for a member that is no board setting (ComPort, switches).
const TBoardSetting* SettingOfMember(int TBoardParams::*member);

// The value part of a setting's line for the record ("10.16.77.170", "17").
QString SettingValueText(const TBoardSetting& s, const TBoardParams& p);

// The numbers of a reply: six MAC groups, four IP numbers, or one number.
using TReplyValues = std::vector<int>;
// Parses a query's reply line as its setting's form; a number that is not a decimal integer
// throws EConvertError.
TReplyValues ParseReply(const TBoardSetting& s, const QString& reply);
// The reply's numbers as the board writes them ("02-5A-C3-00-01-C9", "10.16.77.170", "16").
QString ReplyText(const TBoardSetting& s, const TReplyValues& values);
// The values of the setting's members that a reply gives, in member order: the last three MAC
// groups, the list index of a speed code, the numbers as they are otherwise.
std::vector<int> MemberValuesOfReply(const TBoardSetting& s, const TReplyValues& values);

// What keeps a reply line from being the board's value: for a reading that reports the value
// (netboard-cli read, a verification) a reply counts only in its whole form, since the parsers
// above read a missing group as zeros and a bad digit as 0.
enum class TReplyFault {
    None,
    // Not six two-digit hexadecimal groups joined by "-", nor the "NULL" answer "0".
    NotMacAddress,
    // Not four decimal groups of 0 to 255 joined by ".".
    NotIpAddress,
    // Not a decimal number within the setting's range; for the speed, not a code of the list;
    // for a switch, not a number from 0 up (any value but 0 is on).
    NotNumber,
};
TReplyFault CheckReply(const TBoardSetting& s, const QString& reply);
// "l_ip: answer '127449.9' is not an address"; empty for a reply in its whole form.
QString ReplyFaultText(const TBoardSetting& s, const QString& reply);

// The speed list's entry for a "bps" reply: 2 for 17, 1 for 16, 0 for anything else.
int SpeedIndexForBps(int bps);
// The speed code a list index sends: 17 for 2, 16 for 1, 15 for any other index.
int BpsForSpeedIndex(int index);
// True when the speed index names an entry of the list; any other index sends 9600 bit/s.
bool SpeedIndexInList(int index);

// What a choice field of the settings dialog makes of a value of `member`: the speed list
// selects the entry the index names and nothing (kNoChoice) for any other index; the keep-alive
// buttons select nothing below 0 and ON above 1. Any other member's value is returned as it is.
// The window's dialog shows a record through it, and netboard-cli reads a settings file through
// it (WithChoicesRead), so that one file sends the same lines to a board from either: a speed
// box the window left empty is stored as -1 and sent as 9600 bit/s, the log saying so.
inline constexpr int kNoChoice = -1;
int ChoiceValue(int TBoardParams::*member, int value);
// The record with each choice member as ChoiceValue reads it.
TBoardParams WithChoicesRead(TBoardParams p);

// A member of the record outside the range its dialog field holds.
class TIniFile;

struct TSettingRangeError {
    const char* key;  // the INI key
    int value;
    int min;
    int max;

    // "MacAddr_3=300 is outside 0..255"
    QString Text() const;
};

// Checks every setting's members against their ranges, in table order, by the rules the
// dialogs apply when they are filled: the first member outside its range, or nothing. A choice
// member's kNoChoice (nothing selected) is in range: the window stores it itself.
std::optional<TSettingRangeError> CheckSettings(const TBoardParams& p);
// The first entry of those members in `ini` that is there but holds no number ("MacAddr_3=abc"
// reads as its default); empty when there is none.
QString NonNumberSetting(const TIniFile& ini);
