#include "label/labelcontent.h"

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
