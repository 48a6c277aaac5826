#include "board/settingtable.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <iterator>

#include "board/valuetext.h"
#include "core/exceptions.h"
#include "core/inifile.h"

int TBoardSetting::MemberCount() const {
    return static_cast<int>(std::find(members.begin(), members.end(), nullptr) - members.begin());
}

const TBoardSetting* FindSetting(const char* keyword) {
    const size_t n = std::strcspn(keyword, "=");
    for (const TBoardSetting& s : kBoardSettings)
        if (std::strlen(s.keyword) == n && std::strncmp(s.keyword, keyword, n) == 0)
            return &s;
    return nullptr;
}

const TBoardSetting* SettingOfMember(int TBoardParams::*member) {
    for (const TBoardSetting& s : kBoardSettings)
        for (int TBoardParams::*m : s.members)
            if (m && m == member)
                return &s;
    return nullptr;
}

namespace {

// The INI key of a record member ("MacAddr_3").
const char* MemberKey(int TBoardParams::*member) {
    for (const TSettingKey& k : kIntSettingKeys)
        if (k.member == member)
            return k.name;
    return "";
}

template <typename Format>
QString Joined(const std::vector<int>& values, Format format, QChar separator) {
    QStringList parts;
    for (int v : values)
        parts << format(v);
    return parts.join(separator);
}

std::vector<int> MemberValues(const TBoardSetting& s, const TBoardParams& p) {
    std::vector<int> values;
    for (int i = 0; i < s.MemberCount(); ++i)
        values.push_back(p.*s.members[static_cast<size_t>(i)]);
    return values;
}

}  // namespace

QString SettingValueText(const TBoardSetting& s, const TBoardParams& p) {
    // The members are written as the board writes the groups of its reply.
    const std::vector<int> v = MemberValues(s, p);
    switch (s.form) {
        case TSettingForm::MacAddress:
            return QStringLiteral("02-5A-C3-") + ReplyText(s, v);
        case TSettingForm::SpeedList:
            return DecText(BpsForSpeedIndex(v[0]));
        case TSettingForm::IpAddress:
        case TSettingForm::Decimal:
        case TSettingForm::Switch:
            break;
    }
    return ReplyText(s, v);
}

TReplyValues ParseReply(const TBoardSetting& s, const QString& reply) {
    switch (s.form) {
        case TSettingForm::MacAddress: {
            const std::array<int, 6> groups = SplitMacText(reply);
            return TReplyValues(groups.begin(), groups.end());
        }
        case TSettingForm::IpAddress: {
            const std::array<int, 4> groups = SplitIpText(reply);
            return TReplyValues(groups.begin(), groups.end());
        }
        case TSettingForm::Decimal:
        case TSettingForm::Switch:
        case TSettingForm::SpeedList:
            break;
    }
    return {StrToInt(reply)};
}

QString ReplyText(const TBoardSetting& s, const TReplyValues& values) {
    switch (s.form) {
        case TSettingForm::MacAddress:
            return Joined(values, HexText, QLatin1Char('-'));
        case TSettingForm::IpAddress:
            return Joined(values, DecText, QLatin1Char('.'));
        case TSettingForm::Decimal:
        case TSettingForm::Switch:
        case TSettingForm::SpeedList:
            break;
    }
    return values.empty() ? QString() : DecText(values[0]);
}

std::vector<int> MemberValuesOfReply(const TBoardSetting& s, const TReplyValues& values) {
    const size_t n = static_cast<size_t>(s.MemberCount());
    if (values.size() < n)
        return {};
    // The members are the last groups: the first three MAC groups are the fixed prefix.
    std::vector<int> out(values.end() - static_cast<std::ptrdiff_t>(n), values.end());
    if (s.form == TSettingForm::SpeedList)
        out[0] = SpeedIndexForBps(out[0]);
    return out;
}

int SpeedIndexForBps(int bps) {
    return bps == 17 ? 2 : bps == 16 ? 1 : 0;
}

int BpsForSpeedIndex(int index) {
    return index == 2 ? 17 : index == 1 ? 16 : 15;
}

namespace {

bool AllDigits(QStringView text, qsizetype minLength, qsizetype maxLength) {
    return text.size() >= minLength && text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

bool IsHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

bool IsMacAddressText(const QString& reply) {
    // "02-5A-C3-00-01-C9": 17 characters, a "-" after every second one.
    if (reply.size() != 17)
        return false;
    for (qsizetype i = 0; i < reply.size(); ++i) {
        if (i % 3 == 2 ? reply[i] != QLatin1Char('-') : !IsHexDigit(reply[i]))
            return false;
    }
    return true;
}

bool IsIpAddressText(const QString& reply) {
    const QStringList groups = reply.split(QLatin1Char('.'));
    return groups.size() == 4 && std::all_of(groups.begin(), groups.end(), [](const QString& g) {
               return AllDigits(g, 1, 3) && g.toInt() <= 255;
           });
}

// A decimal number (an optional "-" and at most ten digits) within min..max.
bool IsNumberText(const QString& reply, int min, int max) {
    const bool negative = reply.startsWith(QLatin1Char('-'));
    int value = 0;
    return AllDigits(QStringView(reply).mid(negative ? 1 : 0), 1, 10) &&
           TryStrToInt(reply, &value) && value >= min && value <= max;
}

}  // namespace

TReplyFault CheckReply(const TBoardSetting& s, const QString& reply) {
    bool whole = false;
    switch (s.form) {
        case TSettingForm::MacAddress:
            // "0" is the board's answer when it holds no address (the "NULL" reply).
            whole = IsMacAddressText(reply) || reply == QLatin1String("0");
            return whole ? TReplyFault::None : TReplyFault::NotMacAddress;
        case TSettingForm::IpAddress:
            return IsIpAddressText(reply) ? TReplyFault::None : TReplyFault::NotIpAddress;
        case TSettingForm::Decimal:
            whole = IsNumberText(reply, s.min, s.max);
            break;
        case TSettingForm::Switch:
            whole = IsNumberText(reply, 0, kMaxInt);
            break;
        case TSettingForm::SpeedList:
            // A code that its own entry of the list sends.
            whole = IsNumberText(reply, -kMaxInt, kMaxInt) &&
                    BpsForSpeedIndex(SpeedIndexForBps(reply.toInt())) == reply.toInt();
            break;
    }
    return whole ? TReplyFault::None : TReplyFault::NotNumber;
}

QString ReplyFaultText(const TBoardSetting& s, const QString& reply) {
    QString what;
    switch (CheckReply(s, reply)) {
        case TReplyFault::None:
            return {};
        case TReplyFault::NotMacAddress:
            what = QStringLiteral("a MAC address");
            break;
        case TReplyFault::NotIpAddress:
            what = QStringLiteral("an address");
            break;
        case TReplyFault::NotNumber:
            what = s.form == TSettingForm::SpeedList ? QStringLiteral("a speed code (15, 16 or 17)")
                   : s.form == TSettingForm::Switch
                       ? QStringLiteral("a number from 0 up")
                       : QStringLiteral("a number from %1 to %2").arg(s.min).arg(s.max);
            break;
    }
    return QStringLiteral("%1: answer '%2' is not %3").arg(QLatin1String(s.keyword), reply, what);
}

bool SpeedIndexInList(int index) {
    const TBoardSetting* s = SettingOfMember(&TBoardParams::SpeedIndex);
    return index >= s->min && index <= s->max;
}

namespace {

// The members the settings dialog holds in a choice field (the list, the buttons).
constexpr int TBoardParams::*kChoiceMembers[] = {&TBoardParams::SpeedIndex,
                                                 &TBoardParams::fKeepAlive};

bool IsChoice(int TBoardParams::*member) {
    return std::find(std::begin(kChoiceMembers), std::end(kChoiceMembers), member) !=
           std::end(kChoiceMembers);
}

}  // namespace

int ChoiceValue(int TBoardParams::*member, int value) {
    if (member == &TBoardParams::SpeedIndex)
        return SpeedIndexInList(value) ? value : kNoChoice;
    if (member == &TBoardParams::fKeepAlive)
        return value < 0 ? kNoChoice : std::min(value, 1);
    return value;
}

TBoardParams WithChoicesRead(TBoardParams p) {
    for (int TBoardParams::*m : kChoiceMembers)
        p.*m = ChoiceValue(m, p.*m);
    return p;
}

QString TSettingRangeError::Text() const {
    return QStringLiteral("%1=%2 is outside %3..%4")
        .arg(QLatin1String(key))
        .arg(value)
        .arg(min)
        .arg(max);
}

QString NonNumberSetting(const TIniFile& ini) {
    const QString section = QLatin1String(kOptionSection);
    for (const TBoardSetting& s : kBoardSettings) {
        for (int i = 0; i < s.MemberCount(); ++i) {
            const QString key = QLatin1String(MemberKey(s.members[static_cast<size_t>(i)]));
            if (ini.HoldsNonInteger(section, key))
                return QStringLiteral("%1=%2 is not a number")
                    .arg(key, ini.ReadString(section, key, {}));
        }
    }
    return {};
}

std::optional<TSettingRangeError> CheckSettings(const TBoardParams& p) {
    for (const TBoardSetting& s : kBoardSettings) {
        for (int i = 0; i < s.MemberCount(); ++i) {
            int TBoardParams::*m = s.members[static_cast<size_t>(i)];
            if ((p.*m < s.min || p.*m > s.max) && !(p.*m == kNoChoice && IsChoice(m)))
                return TSettingRangeError{MemberKey(m), p.*m, s.min, s.max};
        }
    }
    return std::nullopt;
}
