#include "board/valuetext.h"

#include "core/exceptions.h"

QString DecText(int value) {
    return QString::number(value);
}

QString HexText(int value) {
    return QString::number(static_cast<uint32_t>(value), 16)
        .toUpper()
        .rightJustified(2, QLatin1Char('0'));
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
