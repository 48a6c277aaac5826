#include "board/commandline.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/exceptions.h"
#include "core/settings.h"

QString DecText(int value) {
    return QString::number(value);
}

QString HexText(int value) {
    return QString::number(static_cast<uint32_t>(value), 16)
        .toUpper()
        .rightJustified(2, QLatin1Char('0'));
}

QByteArray MacText(const TBoardParams& p) {
    return SettingValueText(*SettingOfMember(&TBoardParams::MacAddr_1), p).toLatin1();
}

namespace {

// The lines that are no setting, with the labels of their outcome lines ("exit" has none).
struct ActionWord {
    const char* word;
    const char* label;
};
const ActionWord kActions[] = {{"save", "SAVE"}, {"exit", nullptr}, {"qelmoT4", "qelmoT4"}};

const ActionWord* FindAction(const char* word) {
    for (const ActionWord& a : kActions)
        if (std::strcmp(a.word, word) == 0)
            return &a;
    return nullptr;
}

[[noreturn]] void Unknown(const char* keyword) {
    throw std::invalid_argument(std::string("unknown board keyword: ") + keyword);
}

}  // namespace

QByteArray BuildCommandLine(const char* keyword, const TBoardParams& p) {
    QByteArray line;
    if (const TBoardSetting* s = FindSetting(keyword))
        line = QByteArray(s->keyword) + '=' + SettingValueText(*s, p).toLatin1();
    else if (FindAction(keyword))
        line = keyword;
    else
        Unknown(keyword);
    return line + "\r\n";
}

QString OutcomeLine(const char* keyword, bool ok) {
    // "mask=" and the query "mask" share their label.
    const TBoardSetting* s = FindSetting(keyword);
    const ActionWord* a = s ? nullptr : FindAction(keyword);
    if (!s && (!a || !a->label))
        Unknown(keyword);
    return QString::fromUtf8(s ? s->label : a->label) + QChar(0x3000) +
           (ok ? QStringLiteral("OK!!") : QStringLiteral("NG!!"));
}

void IncrementMacAddress(TBoardParams* p) {
    // Widen before adding so that no value read from a hand-edited file can overflow.
    auto step = [](int* byte) {
        const long long next = static_cast<long long>(*byte) + 1;
        if (next > 255) {
            *byte = 0;
            return true;
        }
        *byte = static_cast<int>(next);
        return false;
    };
    if (step(&p->MacAddr_3) && step(&p->MacAddr_2))
        step(&p->MacAddr_1);
}

int HexGroupValue(const QString& text) {
    uint32_t value = 0;
    uint32_t weight = 1;
    for (int i = static_cast<int>(text.size()) - 1; i >= 0; --i) {
        const ushort c = text[i].unicode();
        uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        value += digit * weight;
        weight *= 16u;
    }
    return static_cast<int>(value);
}

namespace {

// Cuts up to N groups off the end of the text at its last "." or "-", converting each as it is
// taken; a separator that is the first character ends the cutting. When all N were taken, the
// rest of the text is converted as the first group. Fewer than N groups give all zeros.
template <size_t N, typename Convert>
std::array<int, N + 1> SplitGroups(const QString& text, Convert convert) {
    QString rest = text;
    std::array<int, N + 1> out{};
    size_t taken = 0;
    for (; taken < N; ++taken) {
        const int sep = static_cast<int>(
            std::max(rest.lastIndexOf(QLatin1Char('.')), rest.lastIndexOf(QLatin1Char('-'))));
        if (sep <= 0)
            break;
        out[N - taken] = convert(rest.mid(sep + 1));
        rest.truncate(sep);
    }
    if (taken < N)
        return std::array<int, N + 1>{};
    out[0] = convert(rest);
    return out;
}

}  // namespace

std::array<int, 6> SplitMacText(const QString& text) {
    return SplitGroups<5>(text, HexGroupValue);
}

std::array<int, 4> SplitIpText(const QString& text) {
    return SplitGroups<3>(text, [](const QString& g) { return StrToInt(g); });
}
