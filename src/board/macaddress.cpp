#include "board/macaddress.h"

#include "board/recordline.h"
#include "core/settings.h"

std::optional<int> MacLowOf(const TBoardParams& p) {
    for (const int b : {p.MacAddr_1, p.MacAddr_2, p.MacAddr_3}) {
        if (b < 0 || b > 255)
            return std::nullopt;
    }
    return (p.MacAddr_1 << 16) | (p.MacAddr_2 << 8) | p.MacAddr_3;
}

void SetMacLow(TBoardParams* p, int low) {
    p->MacAddr_1 = (low >> 16) & 0xFF;
    p->MacAddr_2 = (low >> 8) & 0xFF;
    p->MacAddr_3 = low & 0xFF;
}

QString MacTextOfLow(int low) {
    return QStringLiteral("02-5A-C3-%1-%2-%3")
        .arg((low >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((low >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(low & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

std::optional<int> MacLowOfText(const QString& text) {
    const QString t = text.toUpper();
    if (!IsMacText(t) || !t.startsWith(QLatin1String("02-5A-C3-")))
        return std::nullopt;
    int low = 0;
    for (const int at : {9, 12, 15}) {
        bool ok = false;
        const int byte = t.mid(at, 2).toInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        low = (low << 8) | byte;
    }
    return low;
}

bool MacLowAhead(int a, int b) {
    const int d = (a - b + kMacLowCount) % kMacLowCount;
    return d > 0 && d < kMacLowCount / 2;
}

std::optional<TMacAddress> TMacAddress::OfRecord(const TBoardParams& p) {
    const std::optional<int> low = MacLowOf(p);
    return low ? std::optional<TMacAddress>(TMacAddress(*low)) : std::nullopt;
}

QString TMacAddress::Text() const {
    return MacTextOfLow(low_);
}
