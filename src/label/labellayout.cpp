// The parts of labelcontent.h that the label's drawing module shares: they use Qt Core alone.
#include "label/labelcontent.h"

#include <algorithm>

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
