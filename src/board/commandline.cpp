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
    return ("02-5A-C3-" + HexText(p.MacAddr_1) + "-" + HexText(p.MacAddr_2) + "-" +
            HexText(p.MacAddr_3))
        .toLatin1();
}

namespace {

QString Ip(int a, int b, int c, int d) {
    return DecText(a) + "." + DecText(b) + "." + DecText(c) + "." + DecText(d);
}

struct KeywordLabel {
    const char* keyword;
    const char* label;
};

const KeywordLabel kLabels[] = {
    {"madr", "MACアドレス"},    {"l_ip", "IPアドレス"},
    {"l_pt", "Port値"},         {"f_ip", "IPアドレス(接続先)"},
    {"f_pt", "Port値(接続先)"}, {"mask", "マスク長"},
    {"conn", "自動接続"},       {"bps", "通信スピード(RS232C)"},
    {"timv", "送信タイミング"}, {"keep", "Keep"},
    {"timr", "timr"},           {"save", "SAVE"},
    {"qelmoT4", "qelmoT4"},
};

}  // namespace

QByteArray BuildCommandLine(const char* keyword, const TBoardParams& p) {
    const QString k = QLatin1String(keyword);
    QString line;
    if (k == "madr=")
        line = k + QString::fromLatin1(MacText(p));
    else if (k == "l_ip=")
        line = k + Ip(p.TCPIP1_1, p.TCPIP1_2, p.TCPIP1_3, p.TCPIP1_4);
    else if (k == "l_pt=")
        line = k + DecText(p.TCPPort1);
    else if (k == "f_ip=")
        line = k + Ip(p.TCPIP2_1, p.TCPIP2_2, p.TCPIP2_3, p.TCPIP2_4);
    else if (k == "f_pt=")
        line = k + DecText(p.TCPPort2);
    else if (k == "mask=")
        line = k + DecText(p.TCPmask);
    else if (k == "conn=")
        line = k + DecText(p.fAutoConnect);
    else if (k == "bps=")
        line = p.SpeedIndex == 2 ? "bps=17" : p.SpeedIndex == 1 ? "bps=16" : "bps=15";
    else if (k == "timv=")
        line = k + DecText(p.TxTiming);
    else if (k == "keep=")
        line = k + DecText(p.fKeepAlive);
    else if (k == "timr=")
        line = k + DecText(p.ChkTiming);
    else if (k == "save" || k == "exit" || k == "qelmoT4")
        line = k;
    else
        throw std::invalid_argument(std::string("unknown board keyword: ") + keyword);
    return line.toLatin1() + "\r\n";
}

QString CommandLabel(const char* keyword) {
    // "mask=" and the query "mask" share their label.
    const size_t n = std::strcspn(keyword, "=");
    for (const KeywordLabel& kl : kLabels)
        if (std::strlen(kl.keyword) == n && std::strncmp(kl.keyword, keyword, n) == 0)
            return QString::fromUtf8(kl.label);
    throw std::invalid_argument(std::string("unknown board keyword: ") + keyword);
}

QString OutcomeLine(const char* keyword, bool ok) {
    return CommandLabel(keyword) + QChar(0x3000) +
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
