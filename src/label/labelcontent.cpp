#include "label/labelcontent.h"

#include <algorithm>

#include "board/macaddress.h"

TLabelContent MakeLabelContent(int macLow, const QString& ownIp, const QString& station,
                               const QDate& date) {
    return TLabelContent{MacTextOfLow(macLow), ownIp, station, date};
}

QString CheckLabelContent(const TLabelContent& c) {
    if (!MacLowOfText(c.mac) || c.mac != c.mac.toUpper())
        return QStringLiteral("ラベルの MACアドレス '%1' は 02-5A-C3-XX-XX-XX の形ではありません")
            .arg(c.mac);
    if (!c.date.isValid())
        return QStringLiteral("ラベルの日付がありません");
    return {};
}

QStringList LabelLines(const TLabelContent& c) {
    return {c.mac, QStringLiteral("IP ") + c.ownIp, c.station.left(kMaxStationChars),
            c.date.toString(Qt::ISODate)};
}

TLabelLayout LayOutLabel(int widthMm, int heightMm) {
    const double margin = 1.5;
    const double w = widthMm - 2 * margin;
    const double h = heightMm - 2 * margin;
    const double gap = h * 0.05;
    TLabelLayout l;
    l.lines[0] = {margin, margin, w, h * 0.25};
    const double top = margin + l.lines[0].h + gap;
    const double rest = heightMm - margin - top;
    const double side = std::min(rest, w / 2);
    l.qr = {margin, top, side, side};
    const double textX = margin + side + gap;
    for (int i = 1; i < kLabelLineCount; ++i)
        l.lines[i] = {textX, top + (i - 1) * rest / 3, margin + w - textX, rest / 3};
    return l;
}
