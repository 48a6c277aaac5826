#include "ledger/ledgersql.h"

#include <QVariant>
#include <iterator>

namespace ledgersql {

namespace {

// In the order of TAddressState.
const char* const kStateNames[] = {"free", "reserved", "given", "released", "burned"};

}  // namespace

QLatin1String StateName(TAddressState state) {
    return QLatin1String(kStateNames[static_cast<int>(state)]);
}

TAddressState StateOf(const QString& name) {
    for (int s = static_cast<int>(TAddressState::Reserved); s < int(std::size(kStateNames)); ++s) {
        if (name == QLatin1String(kStateNames[s]))
            return static_cast<TAddressState>(s);
    }
    return TAddressState::Burned;
}

qint64 Number(QSqlQuery q, qint64 none) {
    return q.next() && !q.value(0).isNull() ? q.value(0).toLongLong() : none;
}

QVariantList SentColumnValues(const TSentValues& sent) {
    static_assert(std::size(kSentKeys) == kSentColumnCount);
    QVariantList values;
    for (const char* key : kSentKeys)
        values << sent.value(QLatin1String(key));
    return values;
}

QVariantList RowValues(const TRecordLine& row, const QString& station, const QString& timeText,
                       const QString& origin) {
    return QVariantList{timeText.isEmpty() ? RecordTimeText(row.time) : timeText,
                        row.time.toSecsSinceEpoch(),
                        row.station.isEmpty() ? station : row.station,
                        row.command,
                        row.link,
                        row.mac,
                        row.ownIp,
                        QLatin1String(row.ok ? "OK" : "NG"),
                        row.failed,
                        origin.isEmpty() ? 0 : 1,
                        origin.isEmpty() ? QVariant() : QVariant(origin)} +
           SentColumnValues(row.sent) + QVariantList{row.planRow};
}

}  // namespace ledgersql
